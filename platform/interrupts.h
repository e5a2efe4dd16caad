#pragma once
// A request to stop the run at work: from outside (SIGINT, SIGTERM, SIGHUP),
// after which the process ends, or the user's Cancel of that run alone. The
// handlers only note the signal; runs look at the request between pieces of
// data, so that they can remove what they created and keep the source.
namespace plat {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP. Blocking system calls
// are not restarted, so a wait on a terminal ends when a signal comes.
bool InstallInterruptHandlers();
// The signal that asked the process to stop, or 0. A Cancel is no signal.
int InterruptSignal();
// The user cancelled the work under way; the process goes on.
bool CancelRequested();
// What a run looks at between pieces: a stop signal or a Cancel.
inline bool InterruptRequested() {
    return InterruptSignal() != 0 || CancelRequested();
}
// The exit status a shell expects of a process stopped by `signal` (130 for SIGINT).
inline int InterruptExitStatus(int signal) {
    return 128 + signal;
}
// Leaves SIGINT, SIGTERM and SIGHUP to the other threads, for a helper
// thread of a run: the thread that owns the run is the one whose waits they end.
void KeepInterruptsForOtherThreads();
// A descriptor that becomes readable once a signal has come, for event loops.
int InterruptNotifier();
// Notes `signal` as a handler would; for tests and for callers that stop a run themselves.
void RequestInterrupt(int signal);
void ClearInterrupt();
// Cancel, from any thread: wakes no event loop and leaves the exit status
// alone. It holds until cleared, so the work that follows is stopped too.
void RequestCancel();
void ClearCancel();

} // namespace plat
