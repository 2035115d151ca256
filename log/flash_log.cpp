#include "log/flash_log.h"

#include <cstdarg>
#include <vector>

namespace varnel {

namespace {

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<size_t>(n));
}

}  // namespace

CFlashLog::CFlashLog(std::string fileName) : m_fileName(std::move(fileName)) {}

CFlashLog::~CFlashLog() {
    if (m_file) std::fclose(m_file);
}

void CFlashLog::Write(std::string_view text) {
    if (m_observer) m_observer(text);
    if (!m_enabled || m_failed) return;
    if (!m_file) m_file = std::fopen(m_fileName.c_str(), m_openMode.c_str());
    if (!m_file) {
        m_failed = true;  // this message is lost, and so is every later one
        return;
    }
    std::fwrite(text.data(), 1, text.size(), m_file);
    std::fflush(m_file);
}

CFlashLog& FlashLog() {
    static CFlashLog log;
    return log;
}

void LogMessage(const char* format, ...) {
    CFlashLog& log = FlashLog();
    if (!log.Wanted()) return;
    va_list args;
    va_start(args, format);
    const std::string text = FormatV(format, args);
    va_end(args);
    log.Write(text);
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}

}  // namespace varnel
