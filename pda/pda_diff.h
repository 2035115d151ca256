#pragma once
// What differs between two PDAs, record by record, and the names of the
// records the program knows.

#include <cstdint>
#include <string>
#include <vector>

#include "pda/pda.h"

namespace varnel {

// "MAC address", "serial number"... for the codes the program knows; ""
// for any other.
std::string PdrName(uint16_t code);

struct PdaChange {
    enum class Kind { Added, Removed, Changed };
    Kind kind = Kind::Changed;
    uint16_t code = 0;
    // The data words (without length and code word) on each side; empty on
    // the side that lacks the record.
    std::vector<uint16_t> before;
    std::vector<uint16_t> after;
    // Changed records: the positions of the data words that differ (a word
    // only one side has counts as differing).
    std::vector<size_t> differing;
};

// The records `after` adds to, removes from and changes in `before`, by code.
std::vector<PdaChange> DiffPda(const CPda& before, const CPda& after);

const char* PdaChangeKindName(PdaChange::Kind kind);  // "added", "removed", "changed"

// One line a record, then the data on each side:
//   changed  0x0003 serial number  words 2, 3
//       was  5320 394e ...
//       now  5320 394e ...
// "No differences.\n" when there are none.
std::string FormatPdaDiff(const std::vector<PdaChange>& changes);

// What tells one card from another: its MAC address ("00-60-1D-12-34-56")
// and serial number ("SN 99A01234"), as its PDA holds them; "" for a record
// the PDA lacks.
struct PdaIdentity {
    std::string mac;
    std::string serial;
};
PdaIdentity IdentityOf(const CPda& pda);

// The parts of the identity that `after` changes, in words:
//   "MAC address 00-60-1D-12-34-56 → 00-60-1D-12-34-57, serial number SN 99A01234 → SN 99A01235"
// (a part the PDA lacks shows as "none"); "" when neither changes.
std::string FormatIdentityChange(const PdaIdentity& before, const PdaIdentity& after);

// Words as 4-digit lower-case hex, blank-separated.
std::string PdaWordsText(const uint16_t* words, size_t count);

}  // namespace varnel
