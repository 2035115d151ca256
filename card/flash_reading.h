#pragma once
// Reading the card's flash whole or in part, through the Aux read with the
// NVRAM select bit: what the flash holds, also in the PDA area.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace varnel {

class CAdapter;
class ProgressBar;

// Flash addresses from `start` up to, not including, `end`.
struct FlashSpan {
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t Size() const { return end - start; }
};

// Where the card's flash ends: after the 64 KiB sector that holds its PDA
// (4 MiB on a type-1 card, 8 MiB on a type-2 card). 0 when the card type is
// not supported, so that its flash is not known.
uint32_t CardFlashEnd(const CAdapter& adapter);

// Everything below the PDA area (empty when the card type is not supported).
FlashSpan FlashBelowPda(const CAdapter& adapter);

// "START:END", each address "0x" and hex digits or decimal digits, END one
// past the last byte: a range of at least one byte that ends at or before
// `flashEnd`. A failure, with the reason, for anything else.
Result<FlashSpan> ParseFlashRange(std::string_view text, uint32_t flashEnd);

// Reads `range` into `out` in pieces as the programming writes them (at
// most 2042 bytes, never across a 64 KiB boundary). The progress bar, when
// given, counts the pieces. False when a read fails, `failedAt` then the
// address of its piece, and `out` holds what was read before it.
bool ReadCardFlash(CAdapter& adapter, const FlashSpan& range, std::vector<uint8_t>& out, ProgressBar* progress,
                   uint32_t* failedAt = nullptr);

}  // namespace varnel
