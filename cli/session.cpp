#include "cli/session.h"

#include <cstdlib>
#include <iostream>

#include "sample/default_machine.h"
#include "sim/machine_dir.h"

namespace varnel::cli {

std::unique_ptr<Session> Session::Open(const GlobalOptions& options, std::string* error) {
    const auto directory = sim::ResolveMachineDirectory(options.machine);
    std::error_code ec;
    const bool existed = std::filesystem::exists(directory / "machine.json", ec);
    if (!sample::EnsureDefaultMachine(directory, error)) return nullptr;
    if (!existed) std::cerr << "varnel-cli: created the default machine in " << directory.string() << "\n";
    auto session = std::make_unique<Session>();
    try {
        session->m_machine = std::make_unique<sim::SimMachine>(directory);
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return nullptr;
    }
    std::string trace = options.trace;
    if (const char* env = std::getenv("VARNEL_TRACE"); trace.empty() && env) trace = env;
    session->m_machine->SetTrace(trace);
    session->m_dialog = std::make_unique<CVarnelDlg>(*session->m_machine, *session->m_machine, session->m_host);
    return session;
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
    if (!dialog.m_bAdapterSelected) {
        Complain("adapter", dialog.m_strStatus.empty() ? "no adapter could be selected" : dialog.m_strStatus);
        return false;
    }
    return true;
}

}  // namespace varnel::cli
