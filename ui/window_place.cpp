#include "ui/window_place.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/input_file.h"
#include "platform/state_directory.h"

namespace varnel {

namespace {

// A place is a few bytes; anything larger is not one.
constexpr uint64_t kPlaceFileMaxBytes = 64;
// Beyond any desktop: a larger number is damage, not a place.
constexpr int kCoordinateLimit = 1 << 20;

bool ReadInt(std::string_view& text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return value > -kCoordinateLimit && value < kCoordinateLimit;
}

}  // namespace

std::optional<WindowPlace> ParseWindowPlace(std::string_view text) {
    WindowPlace place;
    if (!ReadInt(text, place.x) || text.empty() || text.front() != ' ') return std::nullopt;
    text.remove_prefix(1);
    if (!ReadInt(text, place.y)) return std::nullopt;
    if (text == "\r\n" || text == "\n" || text.empty()) return place;
    return std::nullopt;
}

std::string FormatWindowPlace(const WindowPlace& place) {
    return std::to_string(place.x) + " " + std::to_string(place.y) + "\n";
}

std::optional<WindowPlace> ChooseWindowPlace(const std::optional<WindowPlace>& stored, int width, int height,
                                             std::span<const ScreenArea> screens) {
    if (screens.empty()) return std::nullopt;
    if (stored) {
        const long long left = stored->x, right = static_cast<long long>(stored->x) + std::max(width, 1);
        const long long need = std::min<long long>(std::max(width, 1), std::max(width / 3, 100));
        for (const ScreenArea& s : screens) {
            const long long overlap = std::min<long long>(right, s.right) - std::max<long long>(left, s.left);
            if (stored->y >= s.top && stored->y < s.bottom && overlap >= need) return stored;
        }
    }
    const ScreenArea& first = screens.front();
    return WindowPlace{first.left + ((first.right - first.left) - width) / 2,
                       first.top + ((first.bottom - first.top) - height) / 2};
}

std::string DefaultWindowPlaceFile() { return files::Join(StateDirectory().string(), "window-place"); }

std::optional<WindowPlace> LoadWindowPlace(const std::string& file) {
    const Result<std::string> text = ReadRegularFile(file, kPlaceFileMaxBytes);
    if (!text) return std::nullopt;
    return ParseWindowPlace(*text);
}

Result<> SaveWindowPlace(const std::string& file, const WindowPlace& place) {
    std::error_code ec;
    const std::string folder = files::ParentOf(file);
    if (!folder.empty()) files::CreateDirectories(folder, ec);
    if (ec) return Failure{"cannot make the folder " + folder + ": " + ec.message()};
    return WriteFileAtomically(file, FormatWindowPlace(place), false);
}

}  // namespace varnel
