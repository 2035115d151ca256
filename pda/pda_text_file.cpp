#include "pda/pda_text_file.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "log/flash_log.h"
#include "pda/pda.h"
#include "platform/input_file.h"

namespace varnel {

namespace {

constexpr int kEnd = -1;

std::string RefusalText(const std::string& reason) {
    return "the file " + reason;
}

// The reader works one character at a time; the source is a file or text.
template <typename NextChar>
uint16_t ParsePdaWords(uint16_t* words, NextChar next, std::string* reason) {
    const auto fail = [&](std::string text) -> uint16_t {
        LogMessage("%s", text.c_str());
        if (reason) {
            while (!text.empty() && text.back() == '\n') text.pop_back();
            *reason = std::move(text);
        }
        return 0;
    };

    int digits = 0;                 // digits of the current word; 0 between words
    size_t j = 0;                   // index of the current word
    size_t nextRecordStart = 0;     // index of the next length word
    bool prefixSeen = false;
    bool inComment = false;
    int line = 1;
    bool atEnd = false;
    size_t recordStart = 0;         // index of the current record's length word
    size_t endRecordEnd = SIZE_MAX; // index just past the end record, once read

    // Every word is taken or the file is refused: nothing after the end
    // record, nothing past the 512-word buffer is dropped in silence.
    while (!atEnd) {
        int c = next();
        if (c == kEnd) {
            atEnd = true;
            c = '\n';  // the last word is always ended
        }
        c = std::tolower(static_cast<unsigned char>(c));
        const bool separator = std::isspace(c) || c == ',';
        const bool hexDigit = std::isxdigit(c) != 0;
        const bool commentMark = c == ';' || c == '#';
        const bool other = !separator && !hexDigit && c != 'x';
        const uint16_t value = hexDigit ? static_cast<uint16_t>(c <= '9' ? c - '0' : c - 'a' + 10) : 0;

        if (other) {
            inComment = true;
            if (digits > 0 && !commentMark)
                return fail(FormatText("ERROR on line %d: unrecognized character in word.\n", line));
        }
        if (c == '\n') inComment = false;

        if (inComment && digits == 0) {
            // ignored
        } else if ((separator || commentMark) && digits > 0) {
            if ((digits > 4 && !prefixSeen) || digits > 6)
                return fail(FormatText("Error on line %d: word too long.\n", line));
            if (j == nextRecordStart) {
                // A record has at least its code word; the PDA would stop
                // reading at a length of 0 and drop what follows.
                if (words[j] == 0) return fail(FormatText("Error on line %d: a record of length 0.\n", line));
                recordStart = j;
                nextRecordStart += size_t{words[j]} + 1;
            } else if (j == recordStart + 1 && words[recordStart] == 2 && words[j] == kPdrEnd) {
                endRecordEnd = nextRecordStart;
            }
            ++j;
            digits = 0;
            prefixSeen = false;
        } else if (c == 'x') {
            // An "x" is a prefix only after a zero value; a word may not
            // begin with it.
            if (digits == 0 || words[j] != 0)
                return fail(FormatText("Error on line %d: Unknown number format!\n", line));
            prefixSeen = true;
        } else if (hexDigit && digits > 0) {
            words[j] = static_cast<uint16_t>(words[j] * 16 + value);
            ++digits;
        } else if (hexDigit) {
            if (j >= endRecordEnd)
                return fail(FormatText("Error on line %d: words follow the end record.\n", line));
            if (j >= PdaMaxWords)
                return fail(FormatText("Error on line %d: more than %u words.\n", line, unsigned{PdaMaxWords}));
            words[j] = value;
            digits = 1;
        }
        if (c == '\n') ++line;
    }
    if (nextRecordStart == j) return static_cast<uint16_t>(j);
    return fail("PDA format invalid. Check your file.\n");
}

}  // namespace

uint16_t ReadPdaTextFile(uint16_t* words, const char* path, std::string* reason) {
    const auto fail = [&](std::string text) -> uint16_t {
        LogMessage("%s\n", text.c_str());
        if (reason) *reason = std::move(text);
        return 0;
    };
    CInputFile file;
    if (!file.Open(path, kPdaTextFileMaxBytes)) {
        // A folder opens as a stream on some systems; it is no file to read,
        // and is refused as a missing file is.
        if (file.Refusal() == InputRefusal::Missing || file.Refusal() == InputRefusal::Folder)
            return fail("file not found!");
        return fail(RefusalText(file.Reason()));
    }
    std::vector<char> buffer(size_t{1} << 16);
    size_t position = 0, filled = 0;
    bool readFailed = false;
    const auto refill = [&] {
        if (position < filled) return true;
        const std::ptrdiff_t n = file.Read(buffer.data(), buffer.size());
        readFailed = n < 0;
        if (n <= 0) return false;
        position = 0;
        filled = static_cast<size_t>(n);
        return true;
    };
    // Text mode: a CR before a line feed is part of the line end.
    const uint16_t count = ParsePdaWords(
        words,
        [&]() {
            if (!refill()) return kEnd;
            int c = static_cast<unsigned char>(buffer[position++]);
            if (c == '\r' && refill() && buffer[position] == '\n') {
                ++position;
                c = '\n';
            }
            return c;
        },
        reason);
    if (readFailed) return fail(RefusalText(file.Reason()));
    return count;
}

uint16_t ReadPdaText(uint16_t* words, std::string_view text, std::string* reason) {
    size_t position = 0;
    return ParsePdaWords(
        words, [&]() { return position < text.size() ? static_cast<unsigned char>(text[position++]) : kEnd; },
        reason);
}

std::string FormatPdaText(const CPda& pda, std::string_view comment) {
    std::string out;
    size_t start = 0;
    while (start < comment.size()) {
        size_t end = comment.find('\n', start);
        if (end == std::string_view::npos) end = comment.size();
        out += "; ";
        out += comment.substr(start, end - start);
        out += "\n";
        start = end + 1;
    }
    const auto line = [&out](const std::vector<uint16_t>& words) {
        for (size_t k = 0; k < words.size(); ++k) out += FormatText(k ? " %04x" : "%04x", unsigned{words[k]});
        out += "\n";
    };
    for (const auto& [code, words] : pda.GetRecords()) line(words);
    line({0x0002, kPdrEnd, pda.ComputeCrc()});
    return out;
}

}  // namespace varnel

namespace varnel {

bool MergePdaTextFile(CPda& pda, const std::string& path, std::string* reason) {
    uint16_t words[PdaMaxWords];
    std::string why;
    const uint16_t count = ReadPdaTextFile(words, path.c_str(), &why);
    if (count == 0) {
        if (reason) *reason = why.empty() ? "the file holds no PDA words" : why;
        return false;
    }
    if (pda.LoadFromWords(words, count) <= 0) {
        if (reason) *reason = "the file holds no PDA record";
        return false;
    }
    return true;
}

}  // namespace varnel
