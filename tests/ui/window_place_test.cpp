// Where the main window opens: the stored place while the user can reach
// the window there, else the middle of the primary screen.

#include <gtest/gtest.h>

#include <fstream>

#include "tests/test_support.h"
#include "ui/window_place.h"

namespace varnel {
namespace {

TEST(WindowPlace, TheStoredPlaceIsUsedOnlyWhereItsTitleBarCanBeReached) {
    // Two screens side by side, the primary one a task bar short at its bottom.
    const ScreenArea screens[] = {{0, 0, 1024, 728}, {1024, 0, 2944, 1080}};
    constexpr int kWidth = 400, kHeight = 300;
    const WindowPlace centre{312, 214};
    const struct {
        const char* name;
        std::optional<WindowPlace> stored;
        WindowPlace opens;
    } cases[] = {
        {"first start", std::nullopt, centre},
        {"on the primary screen", WindowPlace{40, 30}, {40, 30}},
        {"on the second screen", WindowPlace{1500, 600}, {1500, 600}},
        {"across both screens", WindowPlace{900, 100}, {900, 100}},
        {"partly off the left edge, its title bar in reach", WindowPlace{-200, 10}, {-200, 10}},
        {"a screen that is gone", WindowPlace{3200, 100}, centre},
        {"title bar above every screen", WindowPlace{40, -20}, centre},
        {"title bar under the work area", WindowPlace{40, 728}, centre},
        {"only a sliver on the screen", WindowPlace{-380, 10}, centre},
        {"far off", WindowPlace{-100000, -100000}, centre},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ChooseWindowPlace(c.stored, kWidth, kHeight, screens), c.opens);
    }
    // No screen known: the window system places it.
    EXPECT_EQ(ChooseWindowPlace(WindowPlace{40, 30}, kWidth, kHeight, {}), std::nullopt);
}

TEST(WindowPlace, OnlyAWholePlaceIsRead) {
    EXPECT_EQ(ParseWindowPlace("40 30\n"), (WindowPlace{40, 30}));
    EXPECT_EQ(ParseWindowPlace("-8 -8\r\n"), (WindowPlace{-8, -8}));
    EXPECT_EQ(ParseWindowPlace(FormatWindowPlace({1500, 600})), (WindowPlace{1500, 600}));
    for (const char* damaged : {"", "40", "40 ", "40 x\n", "40 30 20\n", "40,30\n", " 40 30\n", "40 30\nmore",
                                "99999999999 30\n", "40 30\n\n"})
        EXPECT_EQ(ParseWindowPlace(damaged), std::nullopt) << '"' << damaged << '"';
}

TEST(WindowPlace, KeptInAFileItsFolderMadeWhenMissing) {
    test::TempDir dir;
    const std::string file = (dir.Path() / "state" / "window-place").string();
    EXPECT_EQ(LoadWindowPlace(file), std::nullopt);
    ASSERT_TRUE(SaveWindowPlace(file, {120, 80}).Ok());
    EXPECT_EQ(LoadWindowPlace(file), (WindowPlace{120, 80}));
    // A file that is no place, or a huge one, is not used.
    std::ofstream(file, std::ios::trunc) << "twelve\n";
    EXPECT_EQ(LoadWindowPlace(file), std::nullopt);
    std::ofstream(file, std::ios::trunc) << std::string(100000, '1') << " 1\n";
    EXPECT_EQ(LoadWindowPlace(file), std::nullopt);
    // A folder in the file's place: the write fails and says so.
    const std::string folder = (dir.Path() / "folder").string();
    std::filesystem::create_directories(folder);
    EXPECT_FALSE(SaveWindowPlace(folder, {1, 2}).Ok());
}

}  // namespace
}  // namespace varnel
