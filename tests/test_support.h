#pragma once
// Helpers shared by the tests: temporary directories, files, the log.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/flash_log.h"
#include "platform/result.h"

namespace varnel::test {

// A fresh directory, removed with its contents at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnel-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string{};
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first card's flash from `start` to `end` as a simulated machine's
// sector files hold it (a missing sector is erased flash).
inline std::string SimulatedFlash(const std::string& machine, uint32_t start, uint32_t end) {
    std::string flash;
    for (uint32_t a = start; a < end;) {
        const uint32_t base = a & ~0xFFFFu;
        const uint32_t n = std::min(end, base + 0x10000) - a;
        char name[24];
        std::snprintf(name, sizeof name, "%08X.bin", base);
        const std::string sector = machine + "/cards/0001/flash/" + name;
        flash += std::filesystem::exists(sector) ? ReadFile(sector).substr(a - base, n) : std::string(n, '\xFF');
        a += n;
    }
    return flash;
}

// Collects what is written to the update log while it lives.
class LogCapture {
public:
    LogCapture() {
        FlashLog().SetObserver([this](std::string_view text) { m_text += text; });
    }
    ~LogCapture() { FlashLog().SetObserver(nullptr); }
    const std::string& Text() const { return m_text; }
    void Clear() { m_text.clear(); }

private:
    std::string m_text;
};

// One S-record line with the right count and checksum: type digit, address
// of addressBytes bytes, data bytes.
inline std::string SRecord(char type, uint32_t address, int addressBytes, const std::vector<uint8_t>& data) {
    static const char* hex = "0123456789ABCDEF";
    std::string line = {'S', type};
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(addressBytes + data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>(~sum));
    for (uint8_t b : bytes) {
        line += hex[b >> 4];
        line += hex[b & 0xF];
    }
    return line;
}

// Little-endian bytes of 16-bit words, and of 32-bit values.
inline std::vector<uint8_t> Words(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> bytes;
    for (uint16_t w : words) {
        bytes.push_back(static_cast<uint8_t>(w));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
    }
    return bytes;
}
inline std::vector<uint8_t> Longs(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> bytes;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return bytes;
}

// A result as an assertion: ASSERT_TRUE(test::Worked(...)) shows the
// reason when it failed.
template <class T>
::testing::AssertionResult Worked(const Result<T>& result) {
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.Reason();
}

}  // namespace varnel::test
