#include "update/compatibility.h"

#include <cstdio>

#include "card/adapter.h"
#include "image/firmware_file.h"
#include "pda/pda.h"
#include "platform/host.h"

namespace varnel {

namespace {

std::string HexText(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

}  // namespace

std::string DowngradeLine(const char* component, const CComponentVersion& card, const CComponentVersion& image) {
    if (image.Compare(card) >= 0) return {};
    return std::string("Warning! This is a downgrade for ") + component + " firmware." + " (" + card.Format() +
           " --> " + image.Format() + ")" + "\n";
}

bool ParseComponentVersion(const std::string& text, CComponentVersion& version) {
    unsigned major = 0, minor = 0, variant = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &variant, &end) != 3 || major > 0xFFFF ||
        minor > 0xFFFF || variant > 0xFFFF)
        return false;
    version = CComponentVersion{};
    version.present = 1;
    version.major = static_cast<uint16_t>(major);
    version.minor = static_cast<uint16_t>(minor);
    version.variant = static_cast<uint16_t>(variant);
    return true;
}

bool CheckImage(const CFirmwareFile& file, const CPda& pda, CAdapter& adapter, Host& host, std::string& summary,
                bool* cancelled) {
    if (cancelled) *cancelled = false;
    // 1. Platform.
    const uint16_t* platform = pda.FindRecord(kPdrPlatform);
    const bool cardHasPlatform = platform != nullptr && platform[0] >= 2;
    const bool imageHasPlatforms = file.m_platforms[0].present != 0;
    if (cardHasPlatform && imageHasPlatforms) {
        const uint16_t cardPlatform = platform[2];
        std::string text = " Current card is platform " + HexText(cardPlatform) + ".  Image built for: ";
        bool matched = false;
        for (const CPlatformRecord& p : file.m_platforms) {
            if (!p.present) break;
            text += HexText(p.id) + ", ";
            if (p.id == cardPlatform) {
                matched = true;
                break;
            }
        }
        if (!matched) {
            host.ShowMessage({"Error - This image will not work on the selected card." + text,
                              "Incompatible Platform - OEM Notice", MessageIcon::Error, MessageButtons::Ok, true});
            return false;
        }
    } else {
        if (cardHasPlatform) summary += "WARNING! - No platform information in file.\n ";
        else if (imageHasPlatforms) summary += "WARNING! - No platform ID on card!\n ";
        else summary += "WARNING! - No platform information on card or in file!\n";
        summary += "This image may not work on the selected card.\n";
    }

    // 2. Primary.
    std::string versions;
    RidRecord record{};
    if (file.m_primary.present) {
        versions = "Primary: " + file.m_primary.Format();
        if (adapter.ReadRid(record, kRidPrimaryIdentity)) {
            summary += DowngradeLine("Primary", VersionFromRid(record), file.m_primary);
        } else if (host.ShowMessage({"Unable to read RID. Continue anyway?", "RID read error", MessageIcon::Question,
                                     MessageButtons::OkCancel, true}) != MessageAnswer::Ok) {
            if (cancelled) *cancelled = true;
            return false;
        }
    }
    // 3. Station.
    if (file.m_station.present) {
        if (file.m_primary.present) versions += ", ";
        versions += "Station: " + file.m_station.Format();
        if (adapter.ReadRid(record, kRidStationIdentity))
            summary += DowngradeLine("Station", VersionFromRid(record), file.m_station);
    }
    // 4. The version line.
    summary += "Version information: " + (versions.empty() ? std::string("<unknown file contents>") : versions) + "\n";
    return true;
}

}  // namespace varnel
