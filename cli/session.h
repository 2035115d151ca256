#pragma once
// What a card command works with: the simulated machine behind the
// platform seams, the terminal host, and the main dialog's logic.

#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_host.h"
#include "platform/result.h"
#include "sim/sim_machine.h"
#include "ui/varnel_dlg.h"

namespace varnel::cli {

class Session {
public:
    // Opens the card's machine: the simulated machine's directory (creating
    // the default machine on first use), or on Windows, unless --machine or
    // $VARNEL_MACHINE ask for the simulated machine (or `simulated` does),
    // the access library and the registry; or why it cannot be opened.
    static Result<std::unique_ptr<Session>> Open(const GlobalOptions& options, bool simulated = false);

    // The simulated machine; null on the access library.
    sim::SimMachine* Machine() { return m_machine.get(); }
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
    Result<> OpenSimulatedMachine(const GlobalOptions& options);
    Result<> OpenAccessLibrary(const GlobalOptions& options);

    std::unique_ptr<sim::SimMachine> m_machine;
    std::unique_ptr<NdisLibrary> m_library;  // the access library and the registry, when not simulated
    std::unique_ptr<Registry> m_registry;
    TerminalHost m_host;
    std::unique_ptr<CVarnelDlg> m_dialog;
};

}  // namespace varnel::cli
