// Files that arrive from outside (a second start, a drop) while a run is on
// wait for its end: the run programs the list it began with.

#include <gtest/gtest.h>

#include "tests/support/dialog_fixture.h"
#include "tests/support/run_outcome.h"

namespace varnel {
namespace {

using test::DialogTest;

class HandOver : public DialogTest {
protected:
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        for (const FileEntry& e : Dialog().Files()) paths.push_back(e.path);
        return paths;
    }
};

TEST_F(HandOver, AFileOfferedDuringARunJoinsTheListWhenItEnds) {
    struct Case {
        const char* name;
        bool confirm;
        RunOutcome outcome;
    };
    for (const Case& c :
         {Case{"updated", true, RunOutcome::Succeeded}, Case{"cancelled", false, RunOutcome::Cancelled}}) {
        SCOPED_TRACE(c.name);
        FreshCard();
        const std::vector<std::string> listed = {Release("primary.hex"), Release("station.hex")};
        CVarnelDlg& dlg = Start(listed);
        host.confirmSummary = c.confirm;
        int added = 0;
        std::vector<std::string> duringSummary;
        host.onSummary = [&](const std::string&) {
            EXPECT_TRUE(dlg.Running());
            EXPECT_FALSE(dlg.OfferFile(Release("card.pda"), [&] { ++added; }));
            EXPECT_EQ(dlg.WaitingFiles(), 1u);
            duringSummary = Paths();
        };
        dlg.OnUpdate();
        EXPECT_EQ(test::Outcome(dlg), c.outcome);
        EXPECT_EQ(duringSummary, listed);
        // The run used the list it began with, and wrote only with it.
        ASSERT_EQ(dlg.Report().files.size(), 2u);
        EXPECT_EQ(dlg.Report().files[0].path, listed[0]);
        EXPECT_EQ(dlg.Report().files[1].path, listed[1]);
        EXPECT_EQ(dlg.Report().pdaWrite, false);
        EXPECT_EQ(Writes() > 0, c.confirm);
        // Then the offered file joins the list.
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(dlg.WaitingFiles(), 0u);
        EXPECT_EQ(added, 1);
        EXPECT_EQ(Paths(), (std::vector<std::string>{Release("card.pda"), listed[0], listed[1]}));
        // Outside a run a file joins at once.
        EXPECT_TRUE(dlg.OfferFile(Release("combined.hex"), [&] { ++added; }));
        EXPECT_EQ(added, 2);
    }
}

}  // namespace
}  // namespace varnel
