#pragma once
// Requests to end the process from outside: SIGINT, SIGTERM, SIGHUP (Ctrl-C,
// a closed terminal, the session ending), and the signals that end it for its
// output: SIGPIPE (a closed output pipe) and SIGXFSZ (the file size limit); on
// Windows the console's Ctrl-C, Ctrl-Break and close events, and the session's
// end (log-off, shut-down), which reaches a process that uses user32 only as
// WM_ENDSESSION to its top-level windows.

namespace platform {

// Calls `handler` with the exit status to use (128 + the signal number; on
// Windows as the matching signal) on a thread of its own when such a request
// comes. The handler is expected to end the process; if it returns, the
// process ends with that status. Installed once per process; later calls only
// replace the handler. A signal that whoever started us ignores stays ignored.
void onInterrupt(void (*handler)(int exitStatus));

// For the program's own end: when a request has arrived (its handler under
// way or about to start), waits for the handler, which ends the process;
// returns at once otherwise. A request raised by the run's own last call
// (SIGXFSZ from a write past the file size limit, SIGPIPE) then ends the
// process as that request, never as the failure the call also returned.
void waitForArrivedInterrupt();

// Gives the requests back to their default behaviour.
void restoreInterruptDefaults();

}  // namespace platform
