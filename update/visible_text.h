#pragma once
// Text read from a file (a backup's header, a link file, a .pda comment, a
// file name) as it is shown to the user: control characters made visible,
// so that no such text can begin a line of its own or steer the terminal.

#include <string>
#include <string_view>

namespace varnel {

// `text` with every control character (C0, DEL, and C1 written in UTF-8)
// and every byte that is not part of valid UTF-8 written as "\xNN" (a line
// break as "\n", a tab as "\t", a carriage return as "\r"). Everything else,
// backslashes included, is kept as it is.
std::string VisibleText(std::string_view text);

}  // namespace varnel
