#include "pda/setpoint.h"

#include <array>
#include <cstdint>

#include "log/flash_log.h"
#include "pda/pda.h"

namespace varnel {

namespace {

constexpr uint16_t kSource1Length = 31;
constexpr uint16_t kSource2Length = 34;
constexpr uint16_t kDomainLength = 7;
constexpr uint16_t kSetPoint1Length = 15;
constexpr uint16_t kSetPoint2Length = 18;
constexpr int kTableEntries = 14;

}  // namespace

int ConfigureSetPointAndIntegrator(CPda& pda) {
    const uint16_t* source1 = pda.FindRecord(kPdrSetPointSource1);
    const uint16_t* source2 = pda.FindRecord(kPdrSetPointSource2);
    const uint16_t* domainRecord = pda.FindRecord(kPdrDomain);
    if (!source1 || !source2 || !domainRecord || source1[0] != kSource1Length || source2[0] != kSource2Length ||
        domainRecord[0] != kDomainLength) {
        LogMessage("Not all PDA entries found. Cannot configure Set point and integrator values.\n");
        return 0;
    }
    const uint16_t* a = source1 + 2;  // data words
    const uint16_t* b = source2 + 2;
    const unsigned domain = domainRecord[3] & 0xFF;

    int tableStart;
    switch (domain) {
    case 0x10:
    case 0x20:
    case 0x30:
    case 0x31:
    case 0x32: tableStart = 0; break;
    case 0x40:
    case 0x41: tableStart = 16; break;
    default: LogMessage("ERROR - PDA entries found, but domain %x not recognized!\n", domain); return -1;
    }
    LogMessage("PDA entries found: Using domain %x\n", domain);

    std::array<uint16_t, 2 + kTableEntries> r{kSetPoint1Length, kPdrSetPoint1};
    std::array<uint16_t, 2 + kTableEntries + 3> s{kSetPoint2Length, kPdrSetPoint2};
    for (int k = 0; k < kTableEntries; ++k) {
        r[2 + k] = a[tableStart + k];
        s[2 + k] = b[tableStart + k];
    }
    // Domains 0x30 and 0x32 take replacement entries 14 and 15.
    if (domain == 0x30) {
        r[2 + 0] = a[14];
        s[2 + 0] = b[14];
    }
    if (domain == 0x30 || domain == 0x32) {
        r[2 + 12] = a[15];
        s[2 + 12] = b[15];
    }
    for (int k = 0; k < 3; ++k) s[2 + kTableEntries + k] = b[30 + k];

    pda.SetRecord(r.data());
    pda.SetRecord(s.data());
    return 1;
}

const char* SetPointText(int result) {
    if (result > 0) return "Set Point and Integrator Values Calculated.";
    if (result == 0) return "No Set Point and Integrator Values.";
    return "Set Point and Integrator values could not be set";
}

}  // namespace varnel
