// Stop requests on POSIX systems: SIGINT, SIGTERM and SIGHUP.

#include "platform/stop_request.h"

#include <unistd.h>

#include <csignal>
#include <cstring>

namespace varnel {

namespace {

// Written by the main code and by the handler, read by both.
volatile std::sig_atomic_t g_mode = static_cast<int>(StopMode::Default);
volatile std::sig_atomic_t g_requested = static_cast<int>(StopKind::None);

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

StopKind KindOf(int signal) {
    switch (signal) {
    case SIGINT: return StopKind::Interrupt;
    case SIGTERM: return StopKind::Terminate;
    case SIGHUP: return StopKind::HangUp;
    default: return StopKind::None;
    }
}

// Only what is safe in a signal handler: write(2) and strlen.
void Say(const char* text) {
    const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
    static_cast<void>(written);
}

// The signal's default action: the process ends by it once the handler
// returns (the signal stays blocked until then).
void EndByDefault(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

void OnSignal(int signal) {
    const StopKind kind = KindOf(signal);
    switch (static_cast<StopMode>(g_mode)) {
    case StopMode::Default: EndByDefault(signal); return;
    case StopMode::Cancel:
        Say("\nStopped by ");
        Say(StopName(kind));
        Say(" before anything was written to the card: nothing was written.\n");
        _exit(3);
    case StopMode::Defer:
        if (g_requested != static_cast<int>(StopKind::None)) {
            Say("\nA second stop request (");
            Say(StopName(kind));
            Say("): ending at once. The card may be half-written: run the same update or restore again.\n");
            EndByDefault(signal);
            return;
        }
        g_requested = static_cast<int>(kind);
        Say("\nStop requested by ");
        Say(StopName(kind));
        Say(": the update stops once the piece being written is on the card. A second one ends at once, "
            "leaving the card half-written.\n");
        return;
    }
}

}  // namespace

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    // A request interrupts no system call: the program looks at it between
    // pieces.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kSignals) {
        // A signal the program was started to ignore (nohup, a background
        // job's SIGINT) stays ignored.
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

StopMode CurrentStopMode() { return static_cast<StopMode>(g_mode); }
void SetStopMode(StopMode mode) { g_mode = static_cast<int>(mode); }

bool StopRequested() { return g_requested != static_cast<int>(StopKind::None); }
StopKind RequestedStop() { return static_cast<StopKind>(g_requested); }
void RequestStop(StopKind kind) { g_requested = static_cast<int>(kind); }
void ClearStopRequest() { g_requested = static_cast<int>(StopKind::None); }

const char* StopName(StopKind kind) {
    switch (kind) {
    case StopKind::Interrupt: return "Ctrl-C (SIGINT)";
    case StopKind::Terminate: return "SIGTERM";
    case StopKind::HangUp: return "a hang-up (SIGHUP)";
    case StopKind::None: break;
    }
    return "a stop request";
}

}  // namespace varnel
