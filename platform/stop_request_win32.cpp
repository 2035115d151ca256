// Stop requests on Windows: the console's Ctrl-C and Ctrl-Break, its
// closing, and the user's logoff and the system's shutdown. The handler
// runs on a thread of its own.

#include "platform/stop_request.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace varnel {

namespace {

std::atomic<int> g_mode{static_cast<int>(StopMode::Default)};
std::atomic<int> g_requested{static_cast<int>(StopKind::None)};

void Say(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

StopKind KindOf(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: return StopKind::Interrupt;
    case CTRL_CLOSE_EVENT: return StopKind::HangUp;
    default: return StopKind::Terminate;
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const StopKind kind = KindOf(event);
    switch (static_cast<StopMode>(g_mode.load())) {
    case StopMode::Default: return FALSE;  // the system's handler ends the process
    case StopMode::Cancel:
        Say("\r\nStopped by ");
        Say(StopName(kind));
        Say(" before anything was written to the card: nothing was written.\r\n");
        ExitProcess(3);
    case StopMode::Defer: break;
    }
    if (g_requested.load() != static_cast<int>(StopKind::None)) {
        Say("\r\nA second stop request (");
        Say(StopName(kind));
        Say("): ending at once. The card may be half-written: run the same update or restore again.\r\n");
        return FALSE;
    }
    g_requested = static_cast<int>(kind);
    Say("\r\nStop requested by ");
    Say(StopName(kind));
    Say(": the update stops once the piece being written is on the card. A second one ends at once, leaving the "
        "card half-written.\r\n");
    if (kind == StopKind::Interrupt) return TRUE;
    // The system ends the process once this returns (and after a few
    // seconds in any case): the run gets that time to stop after its piece
    // and record itself.
    for (int waited = 0; waited < 4500 && g_mode.load() == static_cast<int>(StopMode::Defer); waited += 50) Sleep(50);
    return TRUE;
}

}  // namespace

void InstallStopHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

StopMode CurrentStopMode() { return static_cast<StopMode>(g_mode.load()); }
void SetStopMode(StopMode mode) { g_mode = static_cast<int>(mode); }

bool StopRequested() { return g_requested.load() != static_cast<int>(StopKind::None); }
StopKind RequestedStop() { return static_cast<StopKind>(g_requested.load()); }
void RequestStop(StopKind kind) { g_requested = static_cast<int>(kind); }
void ClearStopRequest() { g_requested = static_cast<int>(StopKind::None); }

const char* StopName(StopKind kind) {
    switch (kind) {
    case StopKind::Interrupt: return "Ctrl-C";
    case StopKind::Terminate: return "the logoff or shutdown";
    case StopKind::HangUp: return "the console window's closing";
    case StopKind::None: break;
    }
    return "a stop request";
}

}  // namespace varnel
