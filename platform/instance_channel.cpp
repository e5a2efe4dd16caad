#include "platform/instance_channel.h"

#include "platform/file_names.h"
#include "platform/interrupts.h"
#include "platform/write_all.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char kChannelPrefix[] = "KESHLOR-";
constexpr int kMaxPeers = 16;
// A peer that connects and says nothing is dropped after this long.
constexpr int kIdlePeerMs = 5000;

bool PeerUser(int fd, uid_t* uid) {
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    *uid = credentials.uid;
    return true;
}

// The folder keeps other users from connecting; this is the second guard.
// The same user is listened to, and the administrator too, whose package
// installation closes every user's copy before replacing the program.
bool PeerMayAsk(int fd) {
    uid_t uid = 0;
    return PeerUser(fd, &uid) && (uid == geteuid() || uid == 0);
}

// Only the copy's own user is trusted to answer for it.
bool PeerIsUser(int fd, uid_t owner) {
    uid_t uid = 0;
    return PeerUser(fd, &uid) && uid == owner;
}

// The address of a socket file; false when the path does not fit.
bool MakeAddress(const QString& path, sockaddr_un* address, socklen_t* length) {
    const QByteArray encoded = QFile::encodeName(path);
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    if (encoded.isEmpty() || static_cast<size_t>(encoded.size()) >= sizeof(address->sun_path))
        return false;
    std::memcpy(address->sun_path, encoded.constData(), static_cast<size_t>(encoded.size()));
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + encoded.size() + 1);
    return true;
}

// Waits for `events` on `fd` until `timeoutMs` after `clock` started; false
// when the time is up.
bool WaitFor(int fd, short events, const QElapsedTimer& clock, int timeoutMs) {
    for (;;) {
        const qint64 remaining = timeoutMs - clock.elapsed();
        if (remaining <= 0)
            return false;
        pollfd watch{fd, events, 0};
        const int ready = poll(&watch, 1, static_cast<int>(remaining));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

QByteArray ReplyTo(const QByteArray& request) {
    if (request == kRaiseRequest)
        return "raised";
    if (request == kCloseRequest)
        return "closed";
    return {};
}

constexpr char kTakenReply[] = "taken";
constexpr char kRefusedReply[] = "refused";

// Opens the lock file, which must be a plain file of this user's. Anything
// else in its place (left by the administrator, say) is replaced once.
plat::UniqueFd OpenLockFile(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Close-on-exec: a program we start (a file opened in its
        // application) must not inherit the lock and keep the name.
        plat::UniqueFd fd(
            open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        struct stat info {};
        if (fd.valid() && fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == geteuid())
            return fd;
        if (!fd.valid() && errno != EACCES && errno != ELOOP && errno != EISDIR)
            return plat::UniqueFd();
        fd.reset();
        if (unlink(encoded.constData()) != 0 && errno != ENOENT)
            return plat::UniqueFd();
    }
    return plat::UniqueFd();
}

} // namespace

QByteArray InstanceChannelName(uid_t uid, const QByteArray& instance) {
    QByteArray name = kChannelPrefix + QByteArray::number(static_cast<qulonglong>(uid));
    if (!instance.isEmpty()) {
        QByteArray suffix = instance;
        suffix.replace('/', '_');
        suffix.replace('\0', '_');
        name += '-' + suffix;
    }
    return name;
}

QByteArray InstanceChannelName() {
    return InstanceChannelName(geteuid(), qgetenv("KESHLOR_INSTANCE"));
}

bool IsPrivateFolder(const QString& path, uid_t owner, bool followLink) {
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info {};
    const int result =
        followLink ? stat(encoded.constData(), &info) : lstat(encoded.constData(), &info);
    return result == 0 && S_ISDIR(info.st_mode) && info.st_uid == owner &&
           (info.st_mode & 0777) == 0700;
}

QString FallbackRuntimeFolder() {
    QString temp = QDir::tempPath();
    if (temp.isEmpty())
        temp = QStringLiteral("/tmp");
    return plat::JoinPath(temp, QLatin1String(kFallbackFolderPrefix) +
                                    QString::number(static_cast<qulonglong>(geteuid())));
}

QString InstanceRuntimeFolder(bool create) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // The session's own folder; a link to one is as good.
    if (QDir::isAbsolutePath(runtime) && IsPrivateFolder(runtime, geteuid(), true))
        return QDir::cleanPath(runtime);
    const QString fallback = FallbackRuntimeFolder();
    if (create) {
        const QByteArray encoded = QFile::encodeName(fallback);
        // Made here, so ours: the mode is set whatever the umask.
        if (mkdir(encoded.constData(), 0700) == 0)
            chmod(encoded.constData(), 0700);
    }
    // Anyone may make it first under the temporary folder: then it is refused.
    return IsPrivateFolder(fallback, geteuid()) ? fallback : QString();
}

QString InstanceSocketPath(const QString& folder, const QByteArray& name) {
    return plat::JoinPath(folder, QFile::decodeName(name) + QLatin1String(kInstanceSocketSuffix));
}

InstanceChannel::InstanceChannel(QByteArray name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {}

InstanceChannel::~InstanceChannel() {
    AnswerCloseRequests();
}

ClaimResult InstanceChannel::Claim() {
    if (server_)
        return ClaimResult::Claimed;
    const QString folder = InstanceRuntimeFolder(true);
    if (folder.isEmpty())
        return ClaimResult::Unavailable;
    socketPath_ = InstanceSocketPath(folder, name_);
    sockaddr_un address;
    socklen_t length = 0;
    if (!MakeAddress(socketPath_, &address, &length))
        return ClaimResult::Unavailable;

    plat::UniqueFd lockFd = OpenLockFile(
        plat::JoinPath(folder, QFile::decodeName(name_) + QLatin1String(kInstanceLockSuffix)));
    if (!lockFd.valid())
        return ClaimResult::Unavailable;
    if (flock(lockFd.get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? ClaimResult::Taken : ClaimResult::Unavailable;
    // Ours now. A socket file still there is a dead copy's: replace it.
    QLocalServer::removeServer(socketPath_);
    auto* server = new QLocalServer(this);
    // The folder already keeps everyone else out; no temporary folder dance.
    server->setSocketOptions(QLocalServer::NoOptions);
    server->setMaxPendingConnections(kMaxPeers);
    if (!server->listen(socketPath_)) {
        delete server;
        return ClaimResult::Unavailable;
    }
    server_ = server;
    lockFd_ = std::move(lockFd);
    connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::AcceptPeers);
    return ClaimResult::Claimed;
}

void InstanceChannel::AcceptPeers() {
    while (server_ && server_->hasPendingConnections()) {
        QLocalSocket* socket = server_->nextPendingConnection();
        if (!socket)
            return;
        // Waiting close requests outlive the server.
        socket->setParent(this);
        if (!PeerMayAsk(static_cast<int>(socket->socketDescriptor())) ||
            static_cast<int>(peers_.size()) >= kMaxPeers) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        peers_.emplace(socket, Peer{});
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadPeer(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            // A close request stays granted even if its sender stops waiting.
            const auto it = peers_.find(socket);
            if (it != peers_.end() && !it->second.waitingForClose)
                DropPeer(socket);
        });
        QTimer::singleShot(kIdlePeerMs, socket, [this, socket] {
            const auto it = peers_.find(socket);
            if (it != peers_.end() && !it->second.waitingForClose)
                DropPeer(socket);
        });
        // Data may have come with the connection.
        if (socket->bytesAvailable() > 0)
            ReadPeer(socket);
    }
}

void InstanceChannel::ReadPeer(QLocalSocket* socket) {
    const auto it = peers_.find(socket);
    if (it == peers_.end())
        return;
    Peer& peer = it->second;
    const QByteArray data = socket->readAll();
    if (peer.waitingForClose || data.isEmpty())
        return; // talking after its one request: not listened to
    peer.received.append(data);
    const InstanceRequest request = ReadInstanceRequest(peer.received);
    const QPointer<QLocalSocket> guard(socket);
    switch (request.kind) {
    case InstanceRequest::Kind::Incomplete:
        return;
    case InstanceRequest::Kind::Raise:
        emit raiseRequested();
        if (guard)
            Answer(socket, ReplyTo(kRaiseRequest));
        return;
    case InstanceRequest::Kind::Close:
        // Answered by AnswerCloseRequests once the program has closed.
        peer.waitingForClose = true;
        emit closeRequested();
        return;
    case InstanceRequest::Kind::Open: {
        const bool taken = openHandler_ && openHandler_(request.paths);
        if (guard)
            Answer(socket, taken ? kTakenReply : kRefusedReply);
        return;
    }
    case InstanceRequest::Kind::Malformed:
        DropPeer(socket);
        return;
    }
}

void InstanceChannel::Answer(QLocalSocket* socket, const QByteArray& reply) {
    if (!peers_.count(socket))
        return;
    socket->write(reply + '\n');
    socket->flush();
    DropPeer(socket);
}

void InstanceChannel::DropPeer(QLocalSocket* socket) {
    const auto it = peers_.find(socket);
    if (it == peers_.end())
        return;
    peers_.erase(it);
    socket->disconnect(this);
    // What was flushed is with the kernel already; abort drops only the rest.
    socket->abort();
    // May be running inside this socket's own signal.
    socket->deleteLater();
}

void InstanceChannel::StopListening() {
    if (server_) {
        server_->disconnect(this);
        // Removes the socket file too.
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
    lockFd_.reset();
}

void InstanceChannel::AnswerCloseRequests() {
    // The name goes first, so that whoever waits for the close can start a
    // new copy as soon as the answer arrives.
    StopListening();
    while (!peers_.empty()) {
        QLocalSocket* socket = peers_.begin()->first;
        if (peers_.begin()->second.waitingForClose &&
            socket->state() == QLocalSocket::ConnectedState) {
            socket->write(ReplyTo(kCloseRequest) + '\n');
            socket->flush();
        }
        DropPeer(socket);
    }
}

InstanceReply SendInstanceRequest(const QByteArray& name, const QByteArray& request,
                                  int timeoutMs) {
    const QString folder = InstanceRuntimeFolder();
    if (folder.isEmpty())
        return InstanceReply::NotRunning;
    return SendInstanceRequestAt(InstanceSocketPath(folder, name), request, timeoutMs, geteuid());
}

namespace {

// Sends `message` and reads the one-line answer (without its line end) into
// `answer`. Done when a line came; NoAnswer also when the copy hung up first,
// which `hungUp` tells apart.
//
// Hand-written rather than a QLocalSocket: it runs on any thread, with or
// without an event loop (the installer's driver has none), and a copy whose
// queue is full gives EAGAIN at once instead of a retry loop.
InstanceReply Exchange(const QString& socketPath, const QByteArray& message, int timeoutMs,
                       uid_t owner, QByteArray* answer, bool* hungUp = nullptr) {
    QElapsedTimer clock;
    clock.start();
    sockaddr_un address;
    socklen_t length = 0;
    if (!MakeAddress(socketPath, &address, &length))
        return InstanceReply::NotRunning;
    // Non-blocking, so that a copy which stopped taking connections (its
    // queue full) gives NoAnswer instead of holding us in connect forever.
    const plat::UniqueFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socketFd.valid())
        return InstanceReply::NotRunning;
    const int fd = socketFd.get();

    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return errno == EAGAIN ? InstanceReply::NoAnswer : InstanceReply::NotRunning;
    if (!PeerIsUser(fd, owner))
        return InstanceReply::Foreign;
    // The socket is non-blocking: a long open request waits for room while the
    // running copy reads.
    plat::WriteOptions sending;
    sending.socket = true;
    sending.waitForRoom = [&] { return WaitFor(fd, POLLOUT, clock, timeoutMs); };
    if (!plat::WriteAll(fd, message, sending))
        return InstanceReply::NoAnswer;

    QByteArray received;
    for (;;) {
        if (!WaitFor(fd, POLLIN, clock, timeoutMs))
            return InstanceReply::NoAnswer;
        char buffer[64];
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            // A copy that closes with our bytes unread resets the connection.
            if (hungUp)
                *hungUp = (n == 0 || errno == ECONNRESET) && received.isEmpty();
            return InstanceReply::NoAnswer;
        }
        received.append(buffer, n);
        const qsizetype end = received.indexOf('\n');
        if (end >= 0) {
            if (end + 1 != received.size())
                return InstanceReply::NoAnswer;
            *answer = received.left(end);
            return InstanceReply::Done;
        }
        if (received.size() > kMaxRequestLength)
            return InstanceReply::NoAnswer;
    }
}

} // namespace

InstanceReply SendInstanceRequestAt(const QString& socketPath, const QByteArray& request,
                                    int timeoutMs, uid_t owner) {
    QByteArray answer;
    const InstanceReply reply = Exchange(socketPath, request + '\n', timeoutMs, owner, &answer);
    if (reply != InstanceReply::Done)
        return reply;
    return answer == ReplyTo(request) ? InstanceReply::Done : InstanceReply::NoAnswer;
}

InstanceReply SendOpenRequestAt(const QString& socketPath, const QStringList& paths, int timeoutMs,
                                uid_t owner) {
    const QByteArray message = OpenRequestMessage(paths);
    QByteArray answer;
    bool hungUp = false;
    const InstanceReply reply = Exchange(socketPath, message, timeoutMs, owner, &answer, &hungUp);
    if (reply == InstanceReply::NoAnswer && hungUp)
        return InstanceReply::Refused;
    if (reply != InstanceReply::Done)
        return reply;
    if (answer == kTakenReply)
        return InstanceReply::Done;
    return answer == kRefusedReply ? InstanceReply::Refused : InstanceReply::NoAnswer;
}

InstanceReply CloseRunningCopy(int timeoutMs) {
    return SendInstanceRequest(InstanceChannelName(), kCloseRequest, timeoutMs);
}

namespace {

// How long a second copy tries to reach the first one.
constexpr int kRaiseTimeoutMs = 3000;
constexpr int kRetryMs = 20;

// Hands `files` over in requests of at most kMaxOpenPaths; the taken ones
// leave the list.
InstanceReply HandOverFiles(const QString& socketPath, QStringList* files, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!files->isEmpty()) {
        const int remaining = timeoutMs - static_cast<int>(clock.elapsed());
        if (remaining <= 0)
            return InstanceReply::NoAnswer;
        const QStringList part = files->first(std::min<qsizetype>(files->size(), kMaxOpenPaths));
        const InstanceReply reply = SendOpenRequestAt(socketPath, part, remaining, geteuid());
        if (reply != InstanceReply::Done)
            return reply;
        files->remove(0, part.size());
    }
    return InstanceReply::Done;
}

} // namespace

bool DeferToRunningCopy(InstanceChannel& channel, QStringList* files) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (plat::InterruptSignal() != 0)
            return true;
        switch (channel.Claim()) {
        case ClaimResult::Claimed:
            return false;
        case ClaimResult::Unavailable:
            // No channel at all: better to run alone than not at all.
            return false;
        case ClaimResult::Taken:
            break;
        }
        const int remaining = kRaiseTimeoutMs - static_cast<int>(clock.elapsed());
        if (remaining <= 0)
            return true;
        // Only this user's copies can hold the lock, so a holder that does
        // not answer is our own busy copy: it is deferred to all the same
        // (with files too: it reads the request once it is free again).
        const InstanceReply reply =
            files && !files->isEmpty()
                ? HandOverFiles(channel.socketPath(), files, remaining)
                : SendInstanceRequestAt(channel.socketPath(), kRaiseRequest, remaining, geteuid());
        switch (reply) {
        case InstanceReply::Done:
        case InstanceReply::NoAnswer:
            return true;
        case InstanceReply::Refused:
            // It is closing, or only there for its own command line: the
            // files are ours to handle.
            return false;
        case InstanceReply::Foreign:
            // Someone else (the administrator) listens in our folder; it
            // must not keep us out.
            return false;
        case InstanceReply::NotRunning:
            // The holder is still starting up, or has just ended: try again.
            QThread::msleep(kRetryMs);
            break;
        }
    }
}
