#pragma once
// The one loop that writes a whole buffer to a descriptor: a file, a pipe, a
// terminal or a socket.
#include <QByteArray>

#include <cstddef>
#include <functional>

namespace plat {

struct WriteOptions {
    // Through send(2) without SIGPIPE: for a socket whose reader may be gone,
    // in a process that does not ignore the signal.
    bool socket = false;
    // A signal that came with a stop request (interrupts.h) ends the write
    // with EINTR instead of resuming it.
    bool stopOnInterrupt = false;
    // For a non-blocking descriptor: waits until it takes more, false when it
    // gave up. Without it the write ends with EAGAIN.
    std::function<bool()> waitForRoom;
};

// Writes [data, data + size) to `fd`, going on after a short write and after
// a signal. False, with errno saying why, when the descriptor stops taking
// bytes: an error, or a write that takes none (ENOSPC). The per-thread last
// error is left to callers that report it. `written`, when given, counts
// what went out.
bool WriteAll(int fd, const void* data, size_t size, const WriteOptions& options = {},
              size_t* written = nullptr);

inline bool WriteAll(int fd, const QByteArray& bytes, const WriteOptions& options = {}) {
    return WriteAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()), options);
}

} // namespace plat
