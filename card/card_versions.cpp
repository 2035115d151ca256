// The firmware versions and the firmware text on the card.

#include "card/adapter.h"
#include "image/firmware_file.h"

namespace varnel {

CComponentVersion VersionFromRid(const RidRecord& record) {
    CComponentVersion version;
    version.present = 1;
    version.id = record.rid == kRidPrimaryIdentity ? CComponentVersion::kPrimaryId : CComponentVersion::kStationId;
    version.variant = record.Word(1);
    version.major = record.Word(2);
    version.minor = record.Word(3);
    return version;
}

bool CAdapter::GetFirmwareVersions(std::string& text, int index, CComponentVersion* primaryOut,
                                   CComponentVersion* stationOut) {
    text.clear();
    const bool wasOpen = IsOpen();
    if (!Open(index, false)) return false;
    RidRecord primary{};
    RidRecord station{};
    const bool ok = ReadRid(primary, kRidPrimaryIdentity) && ReadRid(station, kRidStationIdentity);
    if (ok) {
        text = "Primary: " + VersionFromRid(primary).Format() + "   Station: " + VersionFromRid(station).Format();
        if (primaryOut) *primaryOut = VersionFromRid(primary);
        if (stationOut) *stationOut = VersionFromRid(station);
    }
    if (!wasOpen) Close();
    return ok;
}

bool CAdapter::GetFirmwareText(std::string& text) {
    RidRecord record{};
    if (!ReadRid(record, kRidFirmwareText)) {
        text.clear();
        return false;
    }
    text.assign(26, ' ');
    for (size_t i = 0; i < 26; ++i)
        if (record.payload[i] >= 0x20 && record.payload[i] <= 0x7E) text[i] = static_cast<char>(record.payload[i]);
    return true;
}

}  // namespace varnel
