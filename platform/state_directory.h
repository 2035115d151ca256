#pragma once

#include <filesystem>

namespace varnel {

// Where Varnel keeps its state: $XDG_STATE_HOME/varnel, else
// ~/.local/state/varnel; on Windows the user's local application data
// (%LOCALAPPDATA%\Varnel from Windows 2000 on; see the definition).
std::filesystem::path StateDirectory();

}  // namespace varnel
