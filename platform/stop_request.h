#pragma once
// Stop requests from outside the program: Ctrl-C, SIGTERM and SIGHUP (on
// Windows Ctrl-C, Ctrl-Break and the console's closing, logoff and
// shutdown). What one does depends on the mode the program is in:
//   Default  the system's default: the process ends at once;
//   Cancel   nothing was written yet: the process says so and ends with
//            exit code 3 (cancelled);
//   Defer    the card is being written: the request is only recorded, and
//            the run stops once the piece in flight is on the card (it asks
//            StopRequested between pieces). A second request ends the
//            process at once, after saying so.
// The programs install the handlers; the run switches the modes.

namespace varnel {

enum class StopMode { Default, Cancel, Defer };
enum class StopKind { None, Interrupt, Terminate, HangUp };

// Installs the handlers (once per program, before any run).
void InstallStopHandlers();

StopMode CurrentStopMode();
void SetStopMode(StopMode mode);

// A request recorded while deferring, and which kind it was.
bool StopRequested();
StopKind RequestedStop();
// How a request of this kind is named to the user: "Ctrl-C (SIGINT)".
const char* StopName(StopKind kind);

// What the handlers do for a request of `kind` (tests raise it in-process).
void RequestStop(StopKind kind);
void ClearStopRequest();

}  // namespace varnel
