#include "pda/pda_diff.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace varnel {

std::string PdrName(uint16_t code) {
    switch (code) {
    case kPdrPartNumber: return "part number";
    case kPdrRelease: return "release";
    case kPdrSerialNumber: return "serial number";
    case kPdrPlatform: return "platform";
    case kPdrMacAddress: return "MAC address";
    case kPdrDomain: return "domain";
    case kPdrSetPoint1: return "set point";
    case kPdrSetPoint2: return "integrator";
    case kPdrSetPointSource1: return "set-point table";
    case kPdrSetPointSource2: return "integrator table";
    default: return "";
    }
}

const char* PdaChangeKindName(PdaChange::Kind kind) {
    switch (kind) {
    case PdaChange::Kind::Added: return "added";
    case PdaChange::Kind::Removed: return "removed";
    case PdaChange::Kind::Changed: break;
    }
    return "changed";
}

std::vector<PdaChange> DiffPda(const CPda& before, const CPda& after) {
    const auto data = [](const std::vector<uint16_t>& record) {
        return std::vector<uint16_t>(record.begin() + std::min<size_t>(2, record.size()), record.end());
    };
    std::vector<PdaChange> changes;
    const CPda::Records& a = before.GetRecords();
    const CPda::Records& b = after.GetRecords();
    auto i = a.begin();
    auto j = b.begin();
    while (i != a.end() || j != b.end()) {
        PdaChange change;
        if (j == b.end() || (i != a.end() && i->first < j->first)) {
            change = {PdaChange::Kind::Removed, i->first, data(i->second), {}, {}};
            ++i;
        } else if (i == a.end() || j->first < i->first) {
            change = {PdaChange::Kind::Added, j->first, {}, data(j->second), {}};
            ++j;
        } else {
            const bool same = i->second == j->second;
            change = {PdaChange::Kind::Changed, i->first, data(i->second), data(j->second), {}};
            ++i;
            ++j;
            if (same) continue;
            const size_t n = std::max(change.before.size(), change.after.size());
            for (size_t k = 0; k < n; ++k)
                if (k >= change.before.size() || k >= change.after.size() || change.before[k] != change.after[k])
                    change.differing.push_back(k);
        }
        changes.push_back(std::move(change));
    }
    return changes;
}

PdaIdentity IdentityOf(const CPda& pda) {
    PdaIdentity identity;
    if (const uint16_t* mac = pda.FindRecord(kPdrMacAddress); mac && mac[0] == 4) {
        identity.mac = FormatMacAddress(mac + 2);
        for (char& c : identity.mac) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else if (mac) {
        // A MAC address record of another length is still an address the
        // card would take: its words tell it from any other.
        identity.mac = "record " + PdaWordsText(mac + 2, mac[0] > 0 ? mac[0] - 1u : 0u);
    }
    if (const uint16_t* serial = pda.FindRecord(kPdrSerialNumber); serial && serial[0] >= 3)
        identity.serial = UnpackPdrText(serial + 2, serial[0] - 1);
    return identity;
}

std::string FormatIdentityChange(const PdaIdentity& before, const PdaIdentity& after) {
    const auto side = [](const std::string& value) { return value.empty() ? std::string("none") : value; };
    std::string text;
    const auto part = [&](const char* name, const std::string& was, const std::string& now) {
        if (was == now) return;
        if (!text.empty()) text += ", ";
        text += std::string(name) + " " + side(was) + " \u2192 " + side(now);
    };
    part("MAC address", before.mac, after.mac);
    part("serial number", before.serial, after.serial);
    return text;
}

std::string PdaWordsText(const uint16_t* words, size_t count) {
    std::string text;
    char word[8];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(word, sizeof word, i ? " %04x" : "%04x", words[i]);
        text += word;
    }
    return text;
}

std::string FormatPdaDiff(const std::vector<PdaChange>& changes) {
    if (changes.empty()) return "No differences.\n";
    std::string text;
    char code[16];
    for (const PdaChange& change : changes) {
        std::snprintf(code, sizeof code, "0x%04x", change.code);
        std::string line = std::string(PdaChangeKindName(change.kind));
        line.resize(9, ' ');
        line += code;
        if (const std::string name = PdrName(change.code); !name.empty()) line += " " + name;
        if (!change.differing.empty()) {
            // Runs of neighbouring words as ranges: "words 1-14, 16".
            const std::vector<size_t>& d = change.differing;
            line += d.size() == 1 ? "  word " : "  words ";
            for (size_t k = 0; k < d.size();) {
                size_t run = k;
                while (run + 1 < d.size() && d[run + 1] == d[run] + 1) ++run;
                if (k) line += ", ";
                line += std::to_string(d[k] + 1);
                if (run > k) line += "-" + std::to_string(d[run] + 1);
                k = run + 1;
            }
        }
        text += line + "\n";
        if (change.kind != PdaChange::Kind::Added)
            text += "    was  " + PdaWordsText(change.before.data(), change.before.size()) + "\n";
        if (change.kind != PdaChange::Kind::Removed)
            text += "    now  " + PdaWordsText(change.after.data(), change.after.size()) + "\n";
    }
    return text;
}

}  // namespace varnel
