#include "platform/state_directory.h"

#include <cstdlib>

namespace varnel {

std::filesystem::path StateDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::filesystem::path(state) / "varnel";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "state" / "varnel";
}

}  // namespace varnel
