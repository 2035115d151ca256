#include "ui/win32/ansi_text.h"

#include <windows.h>

namespace varnel::win32ui {

std::wstring Widen(const std::string& text, unsigned codePage) {
    if (text.empty()) return {};
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const std::wstring& text, unsigned codePage) {
    if (text.empty()) return {};
    const int length =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string narrow(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
    return narrow;
}

std::string Display(const std::string& text) {
    bool ascii = true;
    for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii || ::GetACP() == CP_UTF8) return text;
    const std::wstring wide = Widen(text, CP_UTF8);
    return wide.empty() ? text : Narrow(wide, CP_ACP);
}

std::optional<std::string> ProgramPath(const std::string& path) {
    if (path.find_first_of("?*") != std::string::npos) return std::nullopt;
    return path;
}

}  // namespace varnel::win32ui
