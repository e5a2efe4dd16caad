#include "platform/interrupts.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace plat {

namespace {

// Read by the thread of a run as well as set by the handler.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "the handler may only touch lock-free atomics");
std::atomic<bool> g_cancel{false};
// The pipe that wakes an event loop; written from the handler, so both ends
// are non-blocking and a full pipe just drops the byte.
int g_wake[2] = {-1, -1};

void NoteSignal(int signal) {
    const int saved = errno;
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
    if (g_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &byte, 1);
    }
    errno = saved;
}

bool MakeWakePipe() {
    if (g_wake[0] >= 0)
        return true;
    return ::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) == 0;
}

} // namespace

bool InstallInterruptHandlers() {
    if (!MakeWakePipe())
        return false;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a read from the terminal must end
    bool ok = true;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ok = sigaction(signal, &action, nullptr) == 0 && ok;
    return ok;
}

void KeepInterruptsForOtherThreads() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int InterruptSignal() {
    return g_signal;
}

int InterruptNotifier() {
    MakeWakePipe();
    return g_wake[0];
}

void RequestInterrupt(int signal) {
    NoteSignal(signal);
}

void ClearInterrupt() {
    g_signal.store(0);
    if (g_wake[0] >= 0) {
        char drain[64];
        while (::read(g_wake[0], drain, sizeof drain) > 0) {
        }
    }
}

bool CancelRequested() {
    return g_cancel.load();
}

void RequestCancel() {
    g_cancel.store(true);
}

void ClearCancel() {
    g_cancel.store(false);
}

} // namespace plat
