// Fuzzes the PDA word image reader: any bytes as words read from a card.
// A PDA written by ToWords must load back to the same records and pass its
// CRC check.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "pda/pda.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnel;
    std::vector<uint16_t> words(size / 2);
    if (!words.empty()) std::memcpy(words.data(), data, words.size() * 2);
    CPda pda;
    pda.LoadFromWords(words.data(), static_cast<uint16_t>(std::min<size_t>(words.size(), 0xFFFF)));

    const std::vector<uint16_t> image = pda.ToWords();
    if (image.empty()) return 0;
    CPda read;
    read.LoadFromWords(image.data(), static_cast<uint16_t>(image.size()));
    if (read.GetRecords() != pda.GetRecords() || read.InputCrc() != read.StoredCrc()) __builtin_trap();
    return 0;
}
