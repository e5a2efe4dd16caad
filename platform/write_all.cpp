#include "platform/write_all.h"

#include "platform/interrupts.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace plat {

bool WriteAll(int fd, const void* data, size_t size, const WriteOptions& options, size_t* written) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    bool whole = true;
    while (done < size) {
        const ssize_t n = options.socket ? ::send(fd, bytes + done, size - done, MSG_NOSIGNAL)
                                         : ::write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const int error = n == 0 ? ENOSPC : errno;
        if (error == EINTR && !(options.stopOnInterrupt && InterruptRequested()))
            continue;
        if (error == EAGAIN && options.waitForRoom && options.waitForRoom())
            continue;
        errno = error;
        whole = false;
        break;
    }
    if (written)
        *written = done;
    return whole;
}

} // namespace plat
