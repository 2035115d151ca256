#include "platform/utc_stamp.h"

#include <ctime>

namespace varnel {

std::string UtcStamp(const char* format, std::chrono::system_clock::time_point when) {
    const std::time_t time = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    gmtime_r(&time, &tm);
    char text[40];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::string UtcTimeText(std::chrono::system_clock::time_point when) { return UtcStamp("%Y-%m-%dT%H:%M:%SZ", when); }

}  // namespace varnel
