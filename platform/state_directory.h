#pragma once

#include <filesystem>

namespace varnel {

// Where Varnel keeps its state: $XDG_STATE_HOME/varnel, else
// ~/.local/state/varnel.
std::filesystem::path StateDirectory();

}  // namespace varnel
