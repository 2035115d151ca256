#pragma once
// How the dialog's last run ended, as its run report (what a script reads)
// gives it.

#include <string>

#include "ui/varnel_dlg.h"

namespace varnel::test {

inline RunOutcome Outcome(const CVarnelDlg& dialog) {
    const std::string& outcome = dialog.Report().outcome;
    if (outcome == "succeeded") return RunOutcome::Succeeded;
    if (outcome == "cancelled") return RunOutcome::Cancelled;
    if (outcome == "interrupted") return RunOutcome::Interrupted;
    if (outcome == "failed") return RunOutcome::Failed;
    return RunOutcome::None;
}

}  // namespace varnel::test
