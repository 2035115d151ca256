#include "platform/state_directory.h"

#include <cstdlib>

namespace varnel {

std::filesystem::path StateDirectory() {
#ifdef _WIN32
    // %LOCALAPPDATA%\Varnel: the user's own, not roaming.
    if (const char* local = std::getenv("LOCALAPPDATA"); local && *local) return std::filesystem::path(local) / "Varnel";
    const char* profile = std::getenv("USERPROFILE");
    return std::filesystem::path(profile && *profile ? profile : ".") / "AppData" / "Local" / "Varnel";
#else
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::filesystem::path(state) / "varnel";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "state" / "varnel";
#endif
}

}  // namespace varnel
