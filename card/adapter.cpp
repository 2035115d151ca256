// Adapter discovery and opening, the start-up check of the access library,
// and the card type.

#include "card/adapter.h"

#include <cstdio>
#include <cstring>

namespace varnel {

namespace {

constexpr const char* kWindows95Key = "System\\CurrentControlSet\\Services\\Class\\Net";
constexpr const char* kWindowsNt4Key = "Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr const char* kWindows2000Key =
    "System\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

// Subkey names are read into a buffer of 16 characters.
constexpr size_t kSubkeyNameMax = 15;
// The NT open path "\Device\" + device name is built in 84 characters.
constexpr size_t kOpenPathMax = 83;

// The start-up probe opens this name, which no adapter has.
constexpr const char* kProbeName = "Check for VXD...";

std::optional<std::string> Subkey(Registry& registry, const std::string& key, uint32_t index) {
    auto name = registry.SubkeyName(RegistryHive::LocalMachine, key, index);
    if (name && name->size() > kSubkeyNameMax) return std::nullopt;  // does not fit the buffer
    return name;
}

// A NUL-terminated field of the registry information, never read past it.
std::string Field(const char (&field)[260]) { return std::string(field, strnlen(field, sizeof field)); }

}  // namespace

CAdapter::CAdapter(NdisLibrary& library, Registry& registry, Host& host)
    : m_library(library), m_registry(registry), m_host(host) {}

CAdapter::~CAdapter() {
    Close();
    ReleaseEvent();
}

MessageAnswer CAdapter::Show(const std::string& text, const std::string& caption, MessageIcon icon,
                             MessageButtons buttons) {
    return m_host.ShowMessage(Message{text, caption, icon, buttons, false});
}

std::string CAdapter::AdapterKey() {
    if (!m_library.IsWindowsNT()) return kWindows95Key;
    return m_library.OSGetPlatformVersion(2) >= 5 ? kWindows2000Key : kWindowsNt4Key;
}

bool CAdapter::EnumerateAdapters(std::vector<AdapterEntry>& list) {
    const std::string key = AdapterKey();
    if (!m_registry.KeyExists(RegistryHive::LocalMachine, key)) return true;
    for (uint32_t index = 0;; ++index) {
        const auto subkey = Subkey(m_registry, key, index);
        if (!subkey) break;
        AdapterRegistryInfo info{};
        if (m_library.GetAdapterRegistryInfo(info, subkey->c_str()) != 0) break;
        list.push_back({Field(info.displayName), static_cast<int>(list.size())});
    }
    return true;
}

std::string CAdapter::OpenName(int index) {
    const std::string key = AdapterKey();
    if (index < 0 || !m_registry.KeyExists(RegistryHive::LocalMachine, key)) return {};
    const auto subkey = Subkey(m_registry, key, static_cast<uint32_t>(index));
    if (!subkey) return {};
    AdapterRegistryInfo info{};
    const bool haveInfo = m_library.GetAdapterRegistryInfo(info, subkey->c_str()) == 0;
    if (!m_library.IsWindowsNT()) return *subkey;
    if (!haveInfo) return {};
    const std::string path = "\\Device\\" + Field(info.deviceName);
    // A device name too long for the open path is refused, never cut.
    return path.size() <= kOpenPathMax ? path : std::string{};
}

bool CAdapter::Open(int index, bool determineCardType) {
    if (IsOpen()) return true;
    if (const std::string name = OpenName(index); !name.empty()) m_hAdapter = m_library.OpenAdapterA(name.c_str());
    if (!IsOpen()) {
        m_library.GetLastError();
        return false;
    }
    ReleaseEvent();
    m_overlapped.event = m_library.CreateEvent();
    if (m_overlapped.event == 0) {
        m_library.CloseAdapter(m_hAdapter);
        m_hAdapter = kInvalidAdapter;
        Show("Could not create Overlapped Event", "Error", MessageIcon::None);
        return false;
    }
    if (!EnableAux()) {
        Close();
        return false;
    }
    if (determineCardType) DetermineCardType();
    return true;
}

void CAdapter::Close() {
    if (m_hAdapter == kInvalidAdapter) return;
    m_library.CloseAdapter(m_hAdapter);
    m_hAdapter = kInvalidAdapter;
    ReleaseEvent();
}

void CAdapter::ReleaseEvent() {
    if (m_overlapped.event != 0) m_library.CloseEvent(m_overlapped.event);
    m_overlapped.event = 0;
}

bool CAdapter::CheckNdisLibrary() {
    const AdapterHandle probe = m_library.OpenAdapterA(kProbeName);
    const uint32_t code = m_library.GetLastError();
    // No adapter has the probe's name; a handle that comes back all the same
    // is not kept open.
    if (probe != kInvalidAdapter) m_library.CloseAdapter(probe);
    if (code == 5) {
        Show("The system reports that you have insufficient privileges to load the required driver. \r\n\r\n"
             " 1. You may need to log on as an administrator.\r\n\r\n"
             " 2. Ensure the system files are not being accessed from a network drive. (search for \"ZRW32N50\" "
             "in the registry)",
             "Startup Error", MessageIcon::Error);
        return false;
    }
    if (code == 2) {
        Show("Error loading system files: File Not Found.", "Startup Error", MessageIcon::Error);
        return false;
    }
    if ((code & 0xFF) == 6) return true;  // invalid handle: the library and its driver work
    char text[48];
    std::snprintf(text, sizeof text, "W32N error code: %X", code);
    Show(text, "Unable to load necessary system files.", MessageIcon::Error);
    return false;
}

void CAdapter::DetermineCardType() {
    RidRecord record{};
    m_bCardTypeAssumed = false;
    if (ReadRid(record, kRidCardType)) {
        m_nCardType = record.Word(2);
    } else {
        m_bCardTypeAssumed = true;
        m_nCardType = 0;
        Show("getRid failure! Varnel will continue, assuming a 6405-based card.",
             "DEBUG OPTION - unable to determine card type", MessageIcon::Warning);
        m_nCardType = kCardType6405;
    }
    switch (m_nCardType) {
    case kCardType1: m_dwPdaAddress = kPdaAddressType1; break;
    case kCardType6405: m_dwPdaAddress = kPdaAddressType6405; break;
    default:
        m_dwPdaAddress = 0;
        m_nCardType = kCardTypeUnsupported;
        break;
    }
}

std::string DriverVersionText(int32_t version) {
    const auto v = static_cast<uint32_t>(version);
    char text[32];
    std::snprintf(text, sizeof text, "%x.%x.%d", (v >> 16) & 0xFFFF, (v >> 8) & 0xFF, int(v & 0xFF));
    return text;
}

}  // namespace varnel
