// varnel.exe: the desktop program for Windows in native windows. One
// instance per user session; a second start hands its files to the first
// and ends.
//
//   varnel [--machine DIR] [FILE...]
// Without --machine (or VARNEL_MACHINE) the card is reached through the
// access library ZRW32N50.dll.

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/stop_request.h"
#include "sample/default_machine.h"
#include "sim/sim_machine.h"
#include "ui/desktop_options.h"
#include "ui/win32/application.h"
#include "ui/win32/single_instance.h"
#include "ui/win32/ansi_text.h"
#include "backend_win32/backend.h"
#include "platform/library_path_win32.h"

namespace {

using varnel::win32ui::Display;
using varnel::win32ui::Narrow;

void Say(const std::string& text, UINT icon) { ::MessageBoxA(nullptr, text.c_str(), "Varnel", MB_OK | icon); }

std::string Absolute(const std::string& path) {
    const DWORD size = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::string full(size, '\0');
    full.resize(::GetFullPathNameA(path.c_str(), size, full.data(), nullptr));
    return full;
}

// Printed to the console the program was started from, if any.
void Print(const std::string& text) {
    // AttachConsole: XP and later, looked up; before, only a console the
    // program was given (its standard output redirected) is written to.
    using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
    const auto attach = reinterpret_cast<AttachConsoleFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "AttachConsole")));
    if ((attach && attach(ATTACH_PARENT_PROCESS)) || ::GetStdHandle(STD_OUTPUT_HANDLE)) {
        DWORD written = 0;
        HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        if (out && out != INVALID_HANDLE_VALUE &&
            ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            return;
    }
    Say(Display(text), MB_ICONINFORMATION);
}

// The common controls the windows use: InitCommonControlsEx where comctl32
// has it (4.70, Internet Explorer 3, and later), InitCommonControls on the
// first comctl32 of 95 and NT 4.0.
void InitControls() {
    using InitExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE comctl = ::GetModuleHandleA("comctl32.dll");
    const auto initEx =
        comctl ? reinterpret_cast<InitExFn>(reinterpret_cast<void*>(::GetProcAddress(comctl, "InitCommonControlsEx")))
               : nullptr;
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    if (!initEx || !initEx(&controls)) ::InitCommonControls();
}

// What a start that only asks something answers (a bad option, --version,
// --help): its exit code; none when the program is to run.
std::optional<int> AnswerOnly(const varnel::DesktopOptions& options) {
    if (!options.error.empty()) {
        Say("varnel: " + options.error, MB_ICONSTOP);
        return 2;
    }
    if (options.version) {
        Print("varnel " VARNEL_VERSION "\n");
        return 0;
    }
    if (options.help) {
        Print(varnel::DesktopHelp("the card through ZRW32N50.dll;\n"
                                  "               VARNEL_MACHINE names a machine too"));
        return 0;
    }
    return std::nullopt;
}

int Run() {
    // No library of the current folder's or PATH's: before anything loads one.
    varnel::win32::RestrictDllSearch();
    // The arguments in the ANSI code page, as the C runtime splits them.
    std::vector<std::string> args(__argv, __argv + __argc);
    const varnel::DesktopOptions options = varnel::ParseDesktopOptions(args, {.slashHelp = true});
    if (const std::optional<int> answered = AnswerOnly(options)) return *answered;

    std::vector<std::string> absolute;
    for (const std::string& file : options.files) absolute.push_back(Absolute(file));
    varnel::win32ui::SingleInstance instance;
    std::string error;
    switch (instance.Start(absolute, &error)) {
    case varnel::win32ui::SingleInstance::Role::HandedOver: return 0;
    case varnel::win32ui::SingleInstance::Role::Failed: Say(error, MB_ICONSTOP); return 1;
    case varnel::win32ui::SingleInstance::Role::First: break;
    }
    // Registered for other programs that look for it; nothing sends it.
    ::RegisterWindowMessageA("MSG_VarnelFlashFile");

    InitControls();

    std::vector<std::string> files;
    for (const std::string& file : absolute) {
        const std::optional<std::string> path = varnel::win32ui::ProgramPath(file);
        if (path) files.push_back(*path);
        else
            Say("The name of " + file + " has characters this system's code page cannot hold: it was not added.",
                MB_ICONSTOP);
    }

    std::unique_ptr<varnel::sim::SimMachine> machine;
    std::unique_ptr<varnel::NdisLibrary> library;
    std::unique_ptr<varnel::Registry> registry;
    const char* machineVariable = std::getenv("VARNEL_MACHINE");
    if (options.machine || machineVariable) {
        std::optional<std::string> given;
        if (options.machine) {
            given = varnel::win32ui::ProgramPath(*options.machine);
            if (!given) {
                Say("--machine: the folder's name has characters this system's code page cannot hold", MB_ICONSTOP);
                return 1;
            }
        }
        auto opened = varnel::sample::OpenProgramMachine(given);
        if (!opened) {
            Say(Display(opened.Reason()), MB_ICONSTOP);
            return 1;
        }
        machine = std::move(*opened);
    } else {
        // Without the library the program still opens, as on a machine whose
        // driver does not load: the start-up check says so.
        std::string problem;
        library = varnel::win32::LoadAccessLibrary(&problem);
        registry = varnel::win32::OpenRegistry();
    }

    varnel::InstallStopHandlers();
    varnel::win32ui::Application program(machine ? static_cast<varnel::NdisLibrary&>(*machine) : *library,
                                         machine ? static_cast<varnel::Registry&>(*machine) : *registry);
    if (!program.Start(files)) {
        Say("The main window cannot be made (Windows error " + std::to_string(::GetLastError()) + ").", MB_ICONSTOP);
        return 1;
    }
    return program.Run();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        return Run();
    } catch (const std::exception& e) {
        Say("Internal error: " + Display(e.what()) + "\n\nVarnel ends.", MB_ICONSTOP);
    } catch (...) {
        Say("Internal error: an unknown exception\n\nVarnel ends.", MB_ICONSTOP);
    }
    return 1;
}
