// What the card lock is on every system: one file per card, named by a
// digest of the card's name.

#include "platform/card_lock.h"

namespace varnel {

std::filesystem::path CardLock::LockFile(const std::filesystem::path& directory, const std::string& card) {
    // A name any file system takes: FNV-1a of the card's name.
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : card) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char digits[17];
    for (int i = 15; i >= 0; --i, hash >>= 4) digits[i] = "0123456789abcdef"[hash & 15];
    digits[16] = 0;
    return directory / ("card-" + std::string(digits) + ".lock");
}

}  // namespace varnel
