#pragma once
// The update log: a process-wide diagnostic log of the image and
// production-data code. It is off unless switched on (varnel-cli --log);
// while off, every LogMessage returns without effect.

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace varnel {

class CFlashLog {
public:
    explicit CFlashLog(std::string fileName = "flash.log");
    ~CFlashLog();
    CFlashLog(const CFlashLog&) = delete;
    CFlashLog& operator=(const CFlashLog&) = delete;

    // Switches logging on. Nothing switches it off again.
    void Enable() { m_enabled = true; }
    bool Enabled() const { return m_enabled; }

    // True when a message would go anywhere (the file or an observer).
    bool Wanted() const { return (m_enabled && !m_failed) || m_observer; }

    // Appends exactly this text: no prefix, time stamp or line end.
    void Write(std::string_view text);

    // Tests watch the log through an observer; it sees every message,
    // whether the file is on or not.
    void SetObserver(std::function<void(std::string_view)> observer) { m_observer = std::move(observer); }

private:
    bool m_enabled = false;
    bool m_failed = false;  // the open failed once; never tried again
    std::FILE* m_file = nullptr;
    std::string m_fileName;
    std::string m_openMode = "a";
    std::function<void(std::string_view)> m_observer;
};

// The process's log.
CFlashLog& FlashLog();

// printf-style; writes exactly the formatted text to the process's log.
void LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats like printf into a string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace varnel
