#pragma once
// The main dialog on a throwaway simulated machine with a scripted host,
// and a sample release in a temporary directory.

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/script_host.h"
#include "tests/support/sim_fixture.h"
#include "sample/sample_release.h"
#include "ui/varnel_dlg.h"

namespace varnel::test {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Result<> written = sample::WriteRelease(Release(""));
        ASSERT_TRUE(written.Ok()) << written.Reason();
    }

    // A file of the sample release.
    std::string Release(const std::string& name) const { return sim.dir.File("release/" + name); }

    CVarnelDlg& Dialog() {
        if (!dialog) {
            dialog = std::make_unique<CVarnelDlg>(sim.Machine(), sim.Machine(), host);
            dialog->SetBackupDirectory(sim.dir.Path() / "backups");
            dialog->SetHistoryPath(sim.dir.Path() / "history.jsonl");
            dialog->SetLockDirectory(sim.dir.Path() / "locks");
        }
        return *dialog;
    }
    // The dialog as the program starts it, with these files.
    CVarnelDlg& Start(const std::vector<std::string>& files = {}) {
        Dialog().OnInitDialog(files);
        sim.Trace();
        return *dialog;
    }
    // A new host, and no dialog, on a factory-fresh card: the start of one
    // case of a table.
    void FreshCard() {
        host = ScriptHost();
        dialog.reset();
        sim.machine.reset();
        sim.Init();
    }
    void Reconfigure(const std::function<void(sim::MachineConfig&)>& change) {
        dialog.reset();
        sim.Configure(change);
    }
    // "W" for each Aux write the trace holds.
    size_t Writes() {
        size_t n = 0;
        for (const auto& line : sim.Trace())
            if (line["oid"] == 0xFF01018C) ++n;
        return n;
    }

    SimFixture sim;
    ScriptHost host;
    std::unique_ptr<CVarnelDlg> dialog;
};

}  // namespace varnel::test
