#pragma once
// .pda text files: PDA words as hexadecimal numbers.
//
// Words are separated by white space or commas; each is 1 to 4 hex digits,
// or 0x followed by digits (at most 6 digits in all). ";" or "#", or any
// character that cannot begin a word, starts a comment to the end of the
// line. The words must form whole PDRs: a length word L, then L words.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace varnel {

class CPda;

// The longest .pda file read: room for the 512 words with a comment on
// every line and more. A longer file, or one that is not a regular file (a
// device, a FIFO), is refused unread.
inline constexpr size_t kPdaTextFileMaxBytes = size_t{1} << 20;

// Reads the file into `words` (room for PdaMaxWords); returns the number of
// words, or 0 on any failure. The reason of a failure goes to the update log
// and, when `reason` is given, into it (without its line end).
uint16_t ReadPdaTextFile(uint16_t* words, const char* path, std::string* reason = nullptr);
// The same over text in memory.
uint16_t ReadPdaText(uint16_t* words, std::string_view text, std::string* reason = nullptr);

// Writes a PDA as .pda text that ReadPdaTextFile loads back to the same
// records: one record a line, the end record last. `comment` lines (without
// their "; ") come first.
std::string FormatPdaText(const CPda& pda, std::string_view comment = {});

}  // namespace varnel

namespace varnel {

// Reads a .pda file and applies its records on top of `pda` (later files
// override earlier ones record by record). A failure when the file gave no
// words or no record.
Result<> MergePdaTextFile(CPda& pda, const std::string& path);

}  // namespace varnel
