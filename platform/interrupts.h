#pragma once
// A request from outside to stop (SIGINT, SIGTERM, SIGHUP). The handlers only
// note the signal; runs look at it between pieces of data, so that they can
// remove what they created and keep the source before the process ends.
namespace plat {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP. Blocking system calls
// are not restarted, so a wait on a terminal ends when a signal comes.
bool InstallInterruptHandlers();
// The signal that asked the process to stop, or 0.
int InterruptSignal();
inline bool InterruptRequested() {
    return InterruptSignal() != 0;
}
// The exit status a shell expects of a process stopped by `signal` (130 for SIGINT).
inline int InterruptExitStatus(int signal) {
    return 128 + signal;
}
// A descriptor that becomes readable once a signal has come, for event loops.
int InterruptNotifier();
// Notes `signal` as a handler would; for tests and for callers that stop a run themselves.
void RequestInterrupt(int signal);
void ClearInterrupt();

} // namespace plat
