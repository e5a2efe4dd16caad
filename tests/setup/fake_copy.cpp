#include "fake_copy.h"

#include "platform/instance_channel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_setup {

namespace {

socklen_t Address(const QByteArray& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    const size_t length = std::min(static_cast<size_t>(path.size()), sizeof(address->sun_path) - 1);
    std::memcpy(address->sun_path, path.constData(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + 1);
}

int Listen(const QByteArray& path, int backlog) {
    sockaddr_un address;
    const socklen_t length = Address(path, &address);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One request line, or nothing when the peer only looked and hung up.
QByteArray ReadRequest(int fd) {
    QByteArray received;
    while (!received.contains('\n') && received.size() < 64) {
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 2000) <= 0)
            break;
        char buffer[64];
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        received.append(buffer, n);
    }
    return received;
}

std::optional<QByteArray> Save(const char* name) {
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qgetenv(name);
}

void Restore(const char* name, const std::optional<QByteArray>& value) {
    if (value)
        qputenv(name, *value);
    else
        qunsetenv(name);
}

} // namespace

QByteArray ChannelName(uid_t uid, const QByteArray& instance) {
    return InstanceChannelName(uid, instance);
}

QByteArray UniqueInstance() {
    static int counter = 0;
    return "setup-test-" + QByteArray::number(getpid()) + '-' + QByteArray::number(++counter);
}

QString OwnSocket(const QByteArray& instance) {
    return InstanceSocketPath(InstanceRuntimeFolder(true), ChannelName(geteuid(), instance));
}

QString FallbackFolderOf(uid_t uid) {
    return QDir::tempPath() + QStringLiteral("/keshlor-") +
           QString::number(static_cast<qulonglong>(uid));
}

ScopedRuntime::ScopedRuntime(const QString& root)
    : runtime_(root + QStringLiteral("/run")), temp_(root + QStringLiteral("/tmp")),
      savedRuntime_(Save("XDG_RUNTIME_DIR")), savedTemp_(Save("TMPDIR")) {
    const QByteArray rootPath = QFile::encodeName(root);
    const QByteArray runtime = QFile::encodeName(runtime_);
    const QByteArray temp = QFile::encodeName(temp_);
    valid_ = chmod(rootPath.constData(), 0711) == 0 &&
             (mkdir(runtime.constData(), 0700) == 0 || errno == EEXIST) &&
             chmod(runtime.constData(), 0700) == 0 &&
             (mkdir(temp.constData(), 0777) == 0 || errno == EEXIST) &&
             chmod(temp.constData(), 01777) == 0;
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("TMPDIR", temp);
}

ScopedRuntime::~ScopedRuntime() {
    Restore("XDG_RUNTIME_DIR", savedRuntime_);
    Restore("TMPDIR", savedTemp_);
}

FakeCopy::FakeCopy(const QString& path, Behaviour behaviour) : path_(QFile::encodeName(path)) {
    const bool stalled = behaviour == Behaviour::TakesNoConnections;
    listenFd_ = Listen(path_, stalled ? 0 : 8);
    if (listenFd_ < 0)
        return;
    listening_ = true;
    if (stalled) {
        // With a backlog of 0 one waiting connection fills the queue.
        sockaddr_un address;
        const socklen_t length = Address(path_, &address);
        const int filler = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (connect(filler, reinterpret_cast<sockaddr*>(&address), length) == 0)
            heldFds_.push_back(filler);
        else
            close(filler);
        return;
    }
    if (pipe2(stopPipe_, O_CLOEXEC) != 0)
        return;
    thread_ = std::thread([this, behaviour] {
        for (;;) {
            pollfd watch[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
            if (poll(watch, 2, -1) < 0 && errno == EINTR)
                continue;
            if (watch[1].revents)
                return;
            const int peer = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                continue;
            if (ReadRequest(peer) != "close\n") {
                close(peer);
                continue;
            }
            ++closeRequests_;
            if (behaviour == Behaviour::IgnoresClose) {
                heldFds_.push_back(peer);
                continue;
            }
            // As the program does: the name goes first, then the answer.
            listening_ = false;
            close(listenFd_);
            unlink(path_.constData());
            listenFd_ = -2;
            send(peer, "closed\n", 7, MSG_NOSIGNAL);
            close(peer);
            return;
        }
    });
}

FakeCopy::~FakeCopy() {
    if (thread_.joinable()) {
        (void)!write(stopPipe_[1], "s", 1);
        thread_.join();
    }
    if (listenFd_ >= 0)
        unlink(path_.constData());
    for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0)
            close(fd);
    }
    for (int fd : heldFds_)
        close(fd);
}

bool LeaveDebris(const QString& path) {
    const int fd = Listen(QFile::encodeName(path), 1);
    if (fd < 0)
        return false;
    // The file stays behind when the socket goes, as after a crash.
    close(fd);
    return true;
}

OtherUsersCopy::OtherUsersCopy(const QString& folder, const QString& path) {
    int ready[2];
    if (pipe(ready) != 0)
        return;
    const QByteArray folderPath = QFile::encodeName(folder);
    const QByteArray socketPath = QFile::encodeName(path);
    sockaddr_un address;
    const socklen_t length = Address(socketPath, &address);
    child_ = fork();
    if (child_ == 0) {
        // Only system calls here: the test program may have threads.
        close(ready[0]);
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(90);
        if (mkdir(folderPath.constData(), 0700) != 0 && errno != EEXIST)
            _exit(92);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0)
            _exit(91);
        (void)!write(ready[1], "r", 1);
        for (;;) {
            const int peer = accept(fd, nullptr, nullptr);
            char buffer[16] = {};
            const ssize_t n = recv(peer, buffer, sizeof(buffer) - 1, 0);
            if (n == 6 && std::memcmp(buffer, "close\n", 6) == 0) {
                close(fd);
                unlink(socketPath.constData());
                send(peer, "closed\n", 7, MSG_NOSIGNAL);
                _exit(0);
            }
            close(peer);
        }
    }
    close(ready[1]);
    char byte = 0;
    ready_ = child_ > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
}

bool OtherUsersCopy::ClosedOnRequest(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!reaped_ && clock.elapsed() < timeoutMs) {
        if (waitpid(child_, &status_, WNOHANG) == child_)
            reaped_ = true;
        else
            usleep(10000);
    }
    return reaped_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

OtherUsersCopy::~OtherUsersCopy() {
    if (child_ > 0 && !reaped_) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    // The socket file of a killed child stays; its folder goes with the test's.
}

} // namespace testing_setup
