// icon-compare: whether two folders hold the same Windows icons as pictures.
//   icon-compare [--tolerance N] FOLDER_A FOLDER_B
// The same .ico files by name; in each the same images, sizes and layout, and
// every pixel's blue, green, red and alpha within N levels (default 2) of the
// other's. Drawn art differs by a level from one CPU to another (the
// rasteriser's antialiasing takes other instruction paths); a real change of
// the art moves pixels by far more, or changes a size. The transparency mask
// may differ only where both pixels are (nearly) transparent.
// Exit 0: the same; 1: a difference (the first one named); 2: bad usage or an
// unreadable file.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Difference {
    std::string what;
};

uint32_t Get16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t Get32(const Bytes& b, size_t at) { return Get16(b, at) | (Get16(b, at + 2) << 16); }

std::optional<Bytes> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// One image of an icon file: where its 32-bit pixels and its mask start.
struct Image {
    uint32_t size = 0;
    size_t pixels = 0;
    size_t mask = 0;
    size_t stride = 0;  // bytes per mask row
};

// The images of an icon file as varnel-win32-icons writes them (32-bit BGRA
// bitmaps with a 1-bit mask); an empty answer with the reason on a file of
// another shape.
std::optional<std::vector<Image>> Images(const Bytes& b, std::string& why) {
    if (b.size() < 6 || Get16(b, 0) != 0 || Get16(b, 2) != 1) {
        why = "not an icon file";
        return std::nullopt;
    }
    const uint32_t count = Get16(b, 4);
    if (b.size() < 6 + 16 * static_cast<size_t>(count)) {
        why = "its directory is cut short";
        return std::nullopt;
    }
    std::vector<Image> images;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = 6 + 16 * static_cast<size_t>(i);
        const uint32_t length = Get32(b, entry + 8);
        const uint32_t offset = Get32(b, entry + 12);
        if (offset > b.size() || length > b.size() - offset || length < 40 || Get32(b, offset) != 40 ||
            Get16(b, offset + 14) != 32) {
            why = "image " + std::to_string(i) + " is not a 32-bit bitmap within the file";
            return std::nullopt;
        }
        Image image;
        image.size = Get32(b, offset + 4);
        image.stride = ((image.size + 31) / 32) * 4;
        image.pixels = offset + 40;
        image.mask = image.pixels + 4 * static_cast<size_t>(image.size) * image.size;
        if (image.size == 0 || image.size > 256 ||
            40 + 4 * static_cast<size_t>(image.size) * image.size + image.stride * image.size != length) {
            why = "image " + std::to_string(i) + " has an unexpected length";
            return std::nullopt;
        }
        images.push_back(image);
    }
    return images;
}

// The first difference between two icon files, or none.
std::optional<Difference> Compare(const Bytes& a, const Bytes& b, int tolerance) {
    std::string why;
    const auto imagesA = Images(a, why);
    if (!imagesA) return Difference{"the first " + why};
    const auto imagesB = Images(b, why);
    if (!imagesB) return Difference{"the second " + why};
    if (imagesA->size() != imagesB->size())
        return Difference{std::to_string(imagesA->size()) + " images against " + std::to_string(imagesB->size())};
    // Everything but the pixels and the masks is the same byte for byte: the
    // directory and each bitmap's header.
    const size_t headerEnd = 6 + 16 * imagesA->size();
    if (!std::equal(a.begin(), a.begin() + static_cast<long>(headerEnd), b.begin()))
        return Difference{"the icon directories differ (sizes or layout)"};
    for (size_t i = 0; i < imagesA->size(); ++i) {
        const Image& ia = (*imagesA)[i];
        const Image& ib = (*imagesB)[i];
        if (!std::equal(a.begin() + static_cast<long>(ia.pixels) - 40, a.begin() + static_cast<long>(ia.pixels),
                        b.begin() + static_cast<long>(ib.pixels) - 40))
            return Difference{"image " + std::to_string(i) + ": the bitmap headers differ"};
        const uint32_t n = ia.size;
        for (uint32_t row = 0; row < n; ++row)
            for (uint32_t x = 0; x < n; ++x) {
                const size_t pa = ia.pixels + 4 * (static_cast<size_t>(row) * n + x);
                const size_t pb = ib.pixels + 4 * (static_cast<size_t>(row) * n + x);
                const std::string where = "image " + std::to_string(i) + " (" + std::to_string(n) + "x" +
                                          std::to_string(n) + "), pixel " + std::to_string(x) + "," +
                                          std::to_string(n - 1 - row);
                for (int c = 0; c < 4; ++c)
                    if (std::abs(a[pa + c] - b[pb + c]) > tolerance)
                        return Difference{where + ", channel " + "BGRA"[c] + ": " + std::to_string(a[pa + c]) +
                                          " against " + std::to_string(b[pb + c])};
                const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
                const bool maskA = a[ia.mask + row * ia.stride + x / 8] & bit;
                const bool maskB = b[ib.mask + row * ib.stride + x / 8] & bit;
                if (maskA != maskB && std::max(a[pa + 3], b[pb + 3]) > tolerance)
                    return Difference{where + ": transparent in one, not in the other"};
            }
    }
    return std::nullopt;
}

std::set<std::string> IconNames(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ".ico") names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    int tolerance = 2;
    int first = 1;
    if (argc == 5 && std::string(argv[1]) == "--tolerance") {
        tolerance = std::atoi(argv[2]);
        first = 3;
    }
    if (argc - first != 2) {
        std::fprintf(stderr, "usage: icon-compare [--tolerance N] FOLDER_A FOLDER_B\n");
        return 2;
    }
    const fs::path folderA = argv[first];
    const fs::path folderB = argv[first + 1];
    const std::set<std::string> names = IconNames(folderA);
    if (names.empty() || names != IconNames(folderB)) {
        std::fprintf(stderr, "icon-compare: %s and %s do not hold the same icon files\n", argv[first], argv[first + 1]);
        return 1;
    }
    int status = 0;
    for (const std::string& name : names) {
        const auto a = ReadFile(folderA / name);
        const auto b = ReadFile(folderB / name);
        if (!a || !b) {
            std::fprintf(stderr, "icon-compare: %s: cannot be read\n", name.c_str());
            return 2;
        }
        if (const auto difference = Compare(*a, *b, tolerance)) {
            std::fprintf(stderr, "icon-compare: %s: %s\n", name.c_str(), difference->what.c_str());
            status = 1;
        }
    }
    return status;
}
