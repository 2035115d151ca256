#include "cli/session.h"

#include <cstdlib>
#include <iostream>

#include "platform/file_system.h"
#include "sample/default_machine.h"
#include "sim/machine_dir.h"
#ifdef _WIN32
#include "backend_win32/backend.h"
#endif

namespace varnel::cli {

Result<std::unique_ptr<Session>> Session::Open(const GlobalOptions& options, bool simulated) {
    auto session = std::make_unique<Session>();
#ifdef _WIN32
    // On Windows the card is reached through the access library, unless the
    // simulated machine is asked for.
    const char* machine = std::getenv("VARNEL_MACHINE");
    simulated = simulated || options.machineGiven || machine;
#else
    simulated = true;
#endif
    if (Result<> opened = simulated ? session->OpenSimulatedMachine(options) : session->OpenAccessLibrary(options);
        !opened)
        return opened.Error();
    NdisLibrary& library = session->m_machine ? *session->m_machine : *session->m_library;
    Registry& registry = session->m_machine ? *session->m_machine : *session->m_registry;
    session->m_dialog = std::make_unique<CVarnelDlg>(library, registry, session->m_host);
    return session;
}

Result<> Session::OpenSimulatedMachine(const GlobalOptions& options) {
    const auto resolved = sim::ResolveMachineDirectory(options.Machine());
    if (!resolved) return resolved.Error();
    const std::filesystem::path& directory = *resolved;
    std::error_code ec;
    const bool existed = files::Exists((directory / "machine.json").string(), ec);
    if (Result<> made = sample::EnsureDefaultMachine(directory); !made) return made;
    if (!existed) std::cerr << "varnel-cli: created the default machine in " << directory.string() << "\n";
    auto machine = sim::SimMachine::Open(directory);
    if (!machine) return machine.Error();
    m_machine = std::move(*machine);
    std::string trace = options.trace;
    if (const char* env = std::getenv("VARNEL_TRACE"); trace.empty() && env) trace = env;
    return m_machine->OpenTrace(trace).Context(options.trace.empty() ? "VARNEL_TRACE" : "--trace");
}

Result<> Session::OpenAccessLibrary([[maybe_unused]] const GlobalOptions& options) {
#ifdef _WIN32
    if (!options.trace.empty())
        return Failure{"--trace: only the simulated machine (--machine DIR) traces the driver requests"};
    std::string problem;
    m_library = win32::LoadAccessLibrary(&problem);
    // The program goes on without it, as on a machine whose driver does not
    // load: the start-up check says so, and no adapter is found.
    if (!problem.empty()) std::cerr << "varnel-cli: " << problem << "\n";
    m_registry = win32::OpenRegistry();
    return {};
#else
    return Failure{"the access library exists only on Windows"};
#endif
}

bool Session::Start(const GlobalOptions& options, const std::vector<std::string>& files) {
    CVarnelDlg& dialog = Dialog();
    dialog.OnInitDialog(files, options.adapter < 0);
    if (options.adapter < 0) return true;
    const int position = dialog.FindAdapter(options.adapter);
    if (position < 0) {
        Complain("--adapter " + std::to_string(options.adapter), "no such valid adapter (see varnel-cli adapters)");
        return false;
    }
    dialog.SelectAdapter(position);
    return true;
}

bool Session::SelectAdapter(const GlobalOptions& options) {
    if (!Start(options)) return false;
    const CVarnelDlg& dialog = Dialog();
    if (!dialog.AdapterSelected()) {
        Complain("adapter", dialog.Status().empty() ? "no adapter could be selected" : dialog.Status());
        return false;
    }
    return true;
}

}  // namespace varnel::cli
