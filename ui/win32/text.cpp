#include "ui/win32/text.h"

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
    const int length = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string narrow(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring Display(const std::string& text) {
    if (text.empty()) return {};
    std::wstring wide = Widen(text, CP_UTF8);
    return wide.empty() ? Widen(text, CP_ACP) : wide;
}

std::optional<std::string> ProgramPath(const std::wstring& path) {
    if (path.empty()) return std::string();
    BOOL lost = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()),
                                             nullptr, 0, nullptr, &lost);
    if (length <= 0 || lost) return std::nullopt;
    std::string narrow(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()), narrow.data(), length,
                          nullptr, &lost);
    if (lost) return std::nullopt;
    return narrow;
}

}  // namespace varnel::win32ui
