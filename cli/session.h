#pragma once
// What a card command works with: the simulated machine behind the
// platform seams, the terminal host, and the main dialog's logic.

#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_host.h"
#include "sim/sim_machine.h"
#include "ui/varnel_dlg.h"

namespace varnel::cli {

class Session {
public:
    // Opens the machine directory (creating the default machine on first
    // use); null with the reason on failure.
    static std::unique_ptr<Session> Open(const GlobalOptions& options, std::string* error);

    sim::SimMachine& Machine() { return *m_machine; }
    TerminalHost& Terminal() { return m_host; }
    CVarnelDlg& Dialog() { return *m_dialog; }

    // The dialog as the program starts it, with these command-line files,
    // and the adapter selected as --adapter says (else the first valid one,
    // which the dialog opens itself). False, with the reason on stderr,
    // when --adapter names no valid adapter.
    bool Start(const GlobalOptions& options, const std::vector<std::string>& files = {});
    // Start, and false with the reason on stderr when no adapter ended up
    // selected.
    bool SelectAdapter(const GlobalOptions& options);

private:
    std::unique_ptr<sim::SimMachine> m_machine;
    TerminalHost m_host;
    std::unique_ptr<CVarnelDlg> m_dialog;
};

}  // namespace varnel::cli
