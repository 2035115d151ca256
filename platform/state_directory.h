#pragma once

#include <filesystem>

namespace varnel {

// Where Varnel keeps its state: $XDG_STATE_HOME/varnel, else
// ~/.local/state/varnel; on Windows %LOCALAPPDATA%\Varnel.
std::filesystem::path StateDirectory();

}  // namespace varnel
