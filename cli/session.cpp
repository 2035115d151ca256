#include "cli/session.h"

#include <cstdlib>
#include <iostream>

#include "sample/default_machine.h"
#include "sim/machine_dir.h"
#ifdef _WIN32
#include "win32/backend.h"
#endif

namespace varnel::cli {

std::unique_ptr<Session> Session::Open(const GlobalOptions& options, std::string* error, bool simulated) {
    auto session = std::make_unique<Session>();
#ifdef _WIN32
    // On Windows the card is reached through the access library, unless the
    // simulated machine is asked for.
    const char* machine = std::getenv("VARNEL_MACHINE");
    simulated = simulated || options.machineGiven || machine;
#else
    simulated = true;
#endif
    if (!(simulated ? session->OpenSimulatedMachine(options, error) : session->OpenAccessLibrary(options, error)))
        return nullptr;
    NdisLibrary& library = session->m_machine ? *session->m_machine : *session->m_library;
    Registry& registry = session->m_machine ? *session->m_machine : *session->m_registry;
    session->m_dialog = std::make_unique<CVarnelDlg>(library, registry, session->m_host);
    return session;
}

bool Session::OpenSimulatedMachine(const GlobalOptions& options, std::string* error) {
    const auto resolved = sim::ResolveMachineDirectory(options.Machine(), error);
    if (!resolved) return false;
    const std::filesystem::path& directory = *resolved;
    std::error_code ec;
    const bool existed = std::filesystem::exists(directory / "machine.json", ec);
    if (!sample::EnsureDefaultMachine(directory, error)) return false;
    if (!existed) std::cerr << "varnel-cli: created the default machine in " << directory.string() << "\n";
    try {
        m_machine = std::make_unique<sim::SimMachine>(directory);
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
    std::string trace = options.trace;
    if (const char* env = std::getenv("VARNEL_TRACE"); trace.empty() && env) trace = env;
    if (!m_machine->OpenTrace(trace, error)) {
        if (error) *error = (options.trace.empty() ? "VARNEL_TRACE: " : "--trace: ") + *error;
        return false;
    }
    return true;
}

bool Session::OpenAccessLibrary([[maybe_unused]] const GlobalOptions& options, std::string* error) {
#ifdef _WIN32
    if (!options.trace.empty()) {
        if (error) *error = "--trace: only the simulated machine (--machine DIR) traces the driver requests";
        return false;
    }
    std::string problem;
    m_library = win32::LoadAccessLibrary(&problem);
    // The program goes on without it, as on a machine whose driver does not
    // load: the start-up check says so, and no adapter is found.
    if (!problem.empty()) std::cerr << "varnel-cli: " << problem << "\n";
    m_registry = win32::OpenRegistry();
    return true;
#else
    if (error) *error = "the access library exists only on Windows";
    return false;
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
