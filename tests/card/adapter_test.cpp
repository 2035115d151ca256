// CAdapter against the simulated machine: discovery, opening, the start-up
// check, the card type and the single requests, seen through the trace.

#include "card/adapter.h"

#include <gtest/gtest.h>

#include "image/firmware_file.h"
#include "tests/support/forwarding_library.h"
#include "tests/support/script_host.h"
#include "tests/support/sim_fixture.h"

namespace varnel {
namespace {

using test::Oids;

// Records the names the adapter asks the library to open.
class OpenRecorder : public test::ForwardingLibrary {
public:
    using ForwardingLibrary::ForwardingLibrary;
    AdapterHandle OpenAdapterA(const char* name) override {
        opened.push_back(name);
        return ForwardingLibrary::OpenAdapterA(name);
    }
    std::vector<std::string> opened;
};

class AdapterTest : public ::testing::Test {
protected:
    CAdapter& Adapter() {
        if (!adapter) adapter = std::make_unique<CAdapter>(sim.Machine(), sim.Machine(), host);
        return *adapter;
    }
    void Reconfigure(const std::function<void(sim::MachineConfig&)>& change) {
        adapter.reset();
        sim.Configure(change);
    }

    test::SimFixture sim;
    test::ScriptHost host;
    std::unique_ptr<CAdapter> adapter;
};

TEST_F(AdapterTest, EnumeratesAndOpensByTheSystemsRules) {
    struct Case {
        sim::System system;
        std::vector<std::string> opened;  // names tried while opening adapter 1
    };
    const Case cases[] = {
        {sim::System::Windows2000, {"\\Device\\{8D2A4C61-1B7E-4F0B-9C3D-5E6F70819203}"}},
        {sim::System::WindowsNT4, {"\\Device\\{8D2A4C61-1B7E-4F0B-9C3D-5E6F70819203}"}},
        {sim::System::Windows95, {"0001"}},
    };
    for (const Case& c : cases) {
        Reconfigure([&](sim::MachineConfig& m) { m.system = c.system; });
        OpenRecorder recorder(sim.Machine());
        CAdapter a(recorder, sim.Machine(), host);
        std::vector<AdapterEntry> list;
        EXPECT_TRUE(a.EnumerateAdapters(list));
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[1].name, "802.11b Wireless LAN PC Card");
        EXPECT_EQ(list[1].index, 1);
        ASSERT_TRUE(a.Open(1, true));
        EXPECT_EQ(recorder.opened, c.opened);
        EXPECT_EQ(a.m_nCardType, 2);
        EXPECT_EQ(a.m_dwPdaAddress, 0x007F0000u);
        // The wired adapter's driver does not answer the private requests.
        a.Close();
        EXPECT_FALSE(a.Open(0, false));
        EXPECT_FALSE(a.IsOpen());
    }
}

TEST_F(AdapterTest, EnumerationStopsAtTheFirstUnreadableAdapter) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[0].registryInfo = false; });
    std::vector<AdapterEntry> list;
    Adapter().EnumerateAdapters(list);
    EXPECT_TRUE(list.empty());
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].registryInfo = false; });
    list.clear();
    Adapter().EnumerateAdapters(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "Wired Ethernet Adapter");
}

TEST_F(AdapterTest, OpenSendsEnableAuxFirstAndNothingWhenOpen) {
    ASSERT_TRUE(Adapter().Open(1, false));
    EXPECT_EQ(Oids(sim.Trace()), (std::vector<uint32_t>{kOidEnableAux}));
    EXPECT_TRUE(Adapter().Open(1, true));
    EXPECT_TRUE(sim.Trace().empty());
    Adapter().Close();
    RidRecord record{};
    EXPECT_FALSE(Adapter().ReadRid(record, kRidCardType));  // closed: no request
    EXPECT_TRUE(sim.Trace().empty());
}

TEST_F(AdapterTest, RefusesADeviceNameTooLongForTheOpenPath) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].deviceName = std::string(76, 'D'); });
    EXPECT_FALSE(Adapter().Open(1, false));
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].deviceName = std::string(75, 'D'); });
    EXPECT_TRUE(Adapter().Open(1, false));
}

TEST_F(AdapterTest, AFailedEventClosesTheAdapterWithAMessage) {
    Reconfigure([](sim::MachineConfig& m) { m.eventCreationFails = true; });
    EXPECT_FALSE(Adapter().Open(1, false));
    EXPECT_FALSE(Adapter().IsOpen());
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Error: Could not create Overlapped Event"}));
}

TEST_F(AdapterTest, StartupCheckReadsTheLibrarysErrorCode) {
    struct Case {
        uint32_t code;
        bool ok;
        std::string message;
    };
    const Case cases[] = {
        {6, true, ""},
        {0x106, true, ""},
        {2, false, "Startup Error: Error loading system files: File Not Found."},
        {0x1F, false, "Unable to load necessary system files.: W32N error code: 1F"},
        {0x2A0, false, "Unable to load necessary system files.: W32N error code: 2A0"},
    };
    for (const Case& c : cases) {
        Reconfigure([&](sim::MachineConfig& m) { m.startupError = c.code; });
        host.messages.clear();
        EXPECT_EQ(Adapter().CheckNdisLibrary(), c.ok) << c.code;
        EXPECT_EQ(host.Lines(), c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    }
    Reconfigure([](sim::MachineConfig& m) { m.startupError = 5; });
    host.messages.clear();
    EXPECT_FALSE(Adapter().CheckNdisLibrary());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, "Startup Error");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(host.messages[0].text.starts_with(
        "The system reports that you have insufficient privileges to load the required driver. \r\n\r\n 1. You may"));
}

// A library that hands out `handle` where the simulated one refuses the
// open, and records what is closed.
class LenientLibrary : public test::ForwardingLibrary {
public:
    using ForwardingLibrary::ForwardingLibrary;
    AdapterHandle OpenAdapterA(const char* name) override {
        const AdapterHandle opened = ForwardingLibrary::OpenAdapterA(name);
        return opened == kInvalidAdapter ? handle : opened;
    }
    void CloseAdapter(AdapterHandle h) override {
        closed.push_back(h);
        ForwardingLibrary::CloseAdapter(h);
    }
    AdapterHandle handle = kInvalidAdapter;
    std::vector<AdapterHandle> closed;
};

TEST_F(AdapterTest, StartupCheckClosesAProbeHandleItWasGiven) {
    for (const uint32_t code : {6u, 2u}) {
        Reconfigure([&](sim::MachineConfig& m) { m.startupError = code; });
        for (const AdapterHandle handle : {kInvalidAdapter, AdapterHandle{77}}) {
            LenientLibrary library(sim.Machine());
            library.handle = handle;
            CAdapter a(library, sim.Machine(), host);
            EXPECT_EQ(a.CheckNdisLibrary(), code == 6) << code;  // the error code still decides
            EXPECT_EQ(library.closed,
                      handle == kInvalidAdapter ? std::vector<AdapterHandle>{} : std::vector<AdapterHandle>{handle})
                << code;
            EXPECT_FALSE(a.IsOpen());
        }
    }
}

TEST_F(AdapterTest, CardTypeFixesThePdaAddress) {
    struct Case {
        uint16_t type;
        bool ridReadable;
        uint16_t cardType;
        uint32_t pdaAddress;
        size_t messages;
    };
    const Case cases[] = {
        {1, true, 1, 0x003F0000, 0},
        {2, true, 2, 0x007F0000, 0},
        {3, true, 0xFFFF, 0, 0},
        {1, false, 2, 0x007F0000, 1},  // unreadable: warned, then taken as a 6405-based card
    };
    for (const Case& c : cases) {
        Reconfigure([&](sim::MachineConfig& m) {
            m.adapters[1].card->type = c.type;
            if (!c.ridReadable) m.adapters[1].card->faults.unreadableRids = {kRidCardType};
        });
        host.messages.clear();
        ASSERT_TRUE(Adapter().Open(1, true));
        EXPECT_EQ(Adapter().m_nCardType, c.cardType);
        EXPECT_EQ(Adapter().m_dwPdaAddress, c.pdaAddress);
        ASSERT_EQ(host.messages.size(), c.messages);
        if (c.messages) {
            EXPECT_EQ(host.Lines()[0], "DEBUG OPTION - unable to determine card type: getRid failure! Varnel will "
                                       "continue, assuming a 6405-based card.");
            EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
        }
    }
}

TEST_F(AdapterTest, AuxReadsAreCappedAndMaskedOnType1Cards) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->type = 1; });
    ASSERT_TRUE(Adapter().Open(1, true));
    sim.Trace();
    AuxRecord record{};
    record.address = 0x003F0000;
    record.count = 3000;
    ASSERT_TRUE(Adapter().ReadAux(record));
    EXPECT_EQ(record.address, 0x003F0000u);
    EXPECT_EQ(record.count, 2042);
    const auto trace = sim.Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0]["oid"], kOidEnableAux);
    EXPECT_EQ(trace[1]["oid"], kOidReadAux);
    EXPECT_EQ(trace[1]["address"], 0x00390000);
    EXPECT_EQ(trace[1]["count"], 2042);
    EXPECT_EQ(trace[1]["length"], 2048);

    // Writes go out unchanged; the card itself ignores the two bits.
    record.count = 4;
    ASSERT_TRUE(Adapter().BlockProtocols(true));
    ASSERT_TRUE(Adapter().WriteAux(record));
    EXPECT_EQ(sim.Trace().back()["address"], 0x003F0000);
}

TEST_F(AdapterTest, RequestRulesAndDriverAnswers) {
    ASSERT_TRUE(Adapter().Open(1, false));
    RidRecord record{};
    EXPECT_FALSE(Adapter().ReadRid(record, 0x1234));  // status 0, but no record came back
    EXPECT_TRUE(Adapter().ReadRid(record, kRidPrimaryIdentity));
    EXPECT_EQ(VersionFromRid(record).Format(), "1.3.6");
    uint8_t mac[6];
    ASSERT_TRUE(Adapter().ReadPermanentAddress(mac));
    EXPECT_EQ(mac[5], 0x56);
    EXPECT_EQ(Adapter().GetDriverVersion(), 0x00070104);
    EXPECT_TRUE(Adapter().CheckDriverSupport());
    EXPECT_TRUE(host.messages.empty());

    // An Aux read the driver completes without touching the data keeps the
    // marker bytes; a refused read fails.
    Reconfigure([](sim::MachineConfig& m) {
        m.adapters[1].card->faults.oidStatus = {{kOidReadAux, sim::kNdisNotAccepted, 1}};
        m.adapters[1].card->faults.noSupportCheck = true;
        m.adapters[1].driverVersion = -5;
    });
    ASSERT_TRUE(Adapter().Open(1, false));
    AuxRecord aux{};
    aux.address = 0;
    aux.count = 4;
    EXPECT_FALSE(Adapter().ReadAux(aux));
    EXPECT_EQ(aux.data[0], 0xDE);
    EXPECT_EQ(aux.data[1], 0xAD);
    EXPECT_EQ(Adapter().GetDriverVersion(), -5);
    EXPECT_FALSE(Adapter().CheckDriverSupport());
    EXPECT_FALSE(Adapter().CheckDriverSupport());
    const std::string incompatible =
        "Incompatible Driver Error: Your current WLAN driver does not support this version of VarnelFlash. You may "
        "need to upgrade the driver.";
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{incompatible, incompatible}));
}

TEST_F(AdapterTest, FirmwareVersionsAndText) {
    std::string text;
    EXPECT_TRUE(Adapter().GetFirmwareVersions(text, 1));
    EXPECT_EQ(text, "Primary: 1.3.6   Station: 1.5.0");
    EXPECT_FALSE(Adapter().IsOpen());  // closed on entry: closed again

    Reconfigure([](sim::MachineConfig& m) {
        m.adapters[1].card->faults.unreadableRids = {kRidStationIdentity};
        m.adapters[1].card->firmwareText = "STA\tfw \u00e9 2.0";  // two bytes, neither printable ASCII
    });
    ASSERT_TRUE(Adapter().Open(1, false));
    EXPECT_FALSE(Adapter().GetFirmwareVersions(text, 1));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(Adapter().IsOpen());  // open on entry: left open
    ASSERT_TRUE(Adapter().GetFirmwareText(text));
    EXPECT_EQ(text, "STA fw    2.0             ");
    EXPECT_EQ(text.size(), 26u);
}

TEST_F(AdapterTest, ACardThatDiesFailsEveryLaterRequest) {
    Reconfigure([](sim::MachineConfig& m) { m.adapters[1].card->faults.diesAfterRequests = 2; });
    ASSERT_TRUE(Adapter().Open(1, false));  // request 1
    RidRecord record{};
    EXPECT_TRUE(Adapter().ReadRid(record, kRidPrimaryIdentity));  // request 2
    EXPECT_FALSE(Adapter().ReadRid(record, kRidPrimaryIdentity));
    EXPECT_FALSE(Adapter().EnableAux());
    const auto trace = sim.Trace();
    EXPECT_EQ(trace.back()["status"], sim::kNdisAdapterRemoved);
}

}  // namespace
}  // namespace varnel
