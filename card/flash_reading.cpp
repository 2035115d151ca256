#include "card/flash_reading.h"

#include <algorithm>
#include <cstdio>

#include "card/adapter.h"

namespace varnel {

namespace {

std::string Hex8(uint64_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

// An address: "0x" and 1 to 8 hex digits, or decimal digits, below 2^32.
bool ParseAddress(std::string_view text, uint64_t* value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 10) return false;
    uint64_t n = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    if (n > 0xFFFFFFFFull) return false;
    *value = n;
    return true;
}

}  // namespace

uint32_t CardFlashEnd(const CAdapter& adapter) {
    if (adapter.m_dwPdaAddress == 0) return 0;
    return (adapter.m_dwPdaAddress & ~(kPieceBoundary - 1)) + kPieceBoundary;
}

FlashSpan FlashBelowPda(const CAdapter& adapter) { return {0, adapter.m_dwPdaAddress}; }

Result<FlashSpan> ParseFlashRange(std::string_view text, uint32_t flashEnd) {
    const std::string shown(text);
    const size_t colon = text.find(':');
    uint64_t start = 0, end = 0;
    if (colon == std::string_view::npos || !ParseAddress(text.substr(0, colon), &start) ||
        !ParseAddress(text.substr(colon + 1), &end))
        return Failure{"\"" + shown +
                       "\" is not a range: expected START:END, two addresses in hex (0x20000) or decimal, "
                       "END one past the last byte"};
    if (start >= end) return Failure{"\"" + shown + "\" holds no byte: START must lie below END"};
    if (end > flashEnd)
        return Failure{"\"" + shown + "\" reaches past the card's flash, which ends at " + Hex8(flashEnd) +
                       " (END is one past the last byte)"};
    return FlashSpan{static_cast<uint32_t>(start), static_cast<uint32_t>(end)};
}

bool ReadCardFlash(CAdapter& adapter, const FlashSpan& range, std::vector<uint8_t>& out, ProgressBar* progress,
                   uint32_t* failedAt) {
    out.clear();
    out.reserve(range.Size());
    // The pieces are counted first, so that the bar runs from 0 to all of them.
    const auto pieceEnd = [&](uint32_t address) {
        const uint64_t boundary = (uint64_t{address} & ~uint64_t{kPieceBoundary - 1}) + kPieceBoundary;
        return static_cast<uint32_t>(std::min<uint64_t>({uint64_t{address} + kPieceMax, boundary, range.end}));
    };
    int pieces = 0;
    for (uint32_t a = range.start; a < range.end; a = pieceEnd(a)) ++pieces;
    if (progress) {
        progress->SetRange(0, pieces);
        progress->SetPosition(0);
    }
    AuxRecord record{};
    int done = 0;
    for (uint32_t a = range.start; a < range.end; a = pieceEnd(a)) {
        record.address = a | kNvramBit;
        record.count = static_cast<uint16_t>(pieceEnd(a) - a);
        if (!adapter.ReadAux(record)) {
            if (failedAt) *failedAt = a;
            return false;
        }
        out.insert(out.end(), record.data, record.data + record.count);
        if (progress) progress->SetPosition(++done);
    }
    return true;
}

}  // namespace varnel
