#include "instance_channel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kMaxPeers = 16;
constexpr int kMaxRequestLength = 32;
// A peer that connects and says nothing is dropped after this long.
constexpr int kIdlePeerMs = 5000;

socklen_t MakeAddress(const QByteArray& name, sockaddr_un* address) {
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    // A leading NUL puts the name in the abstract namespace: no file, so
    // nothing is left behind when the holder dies.
    const size_t length = std::min(static_cast<size_t>(name.size()), sizeof(address->sun_path) - 1);
    std::memcpy(address->sun_path + 1, name.constData(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

bool PeerUser(int fd, uid_t* uid) {
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    *uid = credentials.uid;
    return true;
}

// Abstract sockets carry no file permissions, so anyone on the machine may
// connect. The same user is listened to, and the administrator too, whose
// package installation closes every user's copy before replacing the program.
bool PeerMayAsk(int fd) {
    uid_t uid = 0;
    return PeerUser(fd, &uid) && (uid == geteuid() || uid == 0);
}

// Only the copy's own user is trusted to answer for it.
bool PeerIsUser(int fd, uid_t owner) {
    uid_t uid = 0;
    return PeerUser(fd, &uid) && uid == owner;
}

bool SendAll(int fd, const QByteArray& data) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.constData() + sent, static_cast<size_t>(data.size() - sent),
                               MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

QByteArray ReplyTo(const QByteArray& request) {
    if (request == kRaiseRequest)
        return "raised";
    if (request == kCloseRequest)
        return "closed";
    return {};
}

} // namespace

struct InstanceChannel::Peer {
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
    QByteArray received;
    bool waitingForClose = false;
};

QByteArray InstanceChannelName() {
    QByteArray name = "KESHLOR-" + QByteArray::number(static_cast<qulonglong>(geteuid()));
    const QByteArray instance = qgetenv("KESHLOR_INSTANCE");
    if (!instance.isEmpty())
        name += '-' + instance;
    return name;
}

InstanceChannel::InstanceChannel(QByteArray name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {}

InstanceChannel::~InstanceChannel() {
    AnswerCloseRequests();
}

ClaimResult InstanceChannel::Claim() {
    if (listenFd_ >= 0)
        return ClaimResult::Claimed;
    // Close-on-exec: a program we start (a file opened in its application)
    // must not inherit the name and keep it after we are gone.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return ClaimResult::Unavailable;
    sockaddr_un address;
    const socklen_t length = MakeAddress(name_, &address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        const int err = errno;
        close(fd);
        return err == EADDRINUSE ? ClaimResult::Taken : ClaimResult::Unavailable;
    }
    if (listen(fd, 8) != 0) {
        close(fd);
        return ClaimResult::Unavailable;
    }
    listenFd_ = fd;
    if (QCoreApplication::instance())
        StartServing();
    return ClaimResult::Claimed;
}

void InstanceChannel::StartServing() {
    if (listenFd_ < 0 || listenNotifier_)
        return;
    listenNotifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
    connect(listenNotifier_, &QSocketNotifier::activated, this, [this] { AcceptPeers(); });
}

void InstanceChannel::AcceptPeers() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (!PeerMayAsk(fd) || static_cast<int>(peers_.size()) >= kMaxPeers) {
            close(fd);
            continue;
        }
        const int id = nextPeerId_++;
        auto peer = std::make_unique<Peer>();
        peer->fd = fd;
        peer->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(peer->notifier, &QSocketNotifier::activated, this, [this, id] { ReadPeer(id); });
        peers_.emplace(id, std::move(peer));
        QTimer::singleShot(kIdlePeerMs, this, [this, id] {
            const auto it = peers_.find(id);
            if (it != peers_.end() && !it->second->waitingForClose)
                DropPeer(id);
        });
    }
}

void InstanceChannel::ReadPeer(int id) {
    const auto it = peers_.find(id);
    if (it == peers_.end())
        return;
    Peer& peer = *it->second;
    char buffer[64];
    const ssize_t n = recv(peer.fd, buffer, sizeof(buffer), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0 || peer.waitingForClose) {
        // Gone, failed, or talking after its one request. A close request
        // stays granted even if its sender stops waiting for the answer.
        if (!peer.waitingForClose)
            DropPeer(id);
        else
            peer.notifier->setEnabled(false);
        return;
    }
    peer.received.append(buffer, n);
    const qsizetype end = peer.received.indexOf('\n');
    if (end < 0) {
        if (peer.received.size() > kMaxRequestLength)
            DropPeer(id);
        return;
    }
    const QByteArray request = peer.received.left(end);
    if (request == kRaiseRequest) {
        emit raiseRequested();
        if (peers_.count(id)) {
            SendAll(peer.fd, ReplyTo(request) + '\n');
            DropPeer(id);
        }
    } else if (request == kCloseRequest) {
        // Answered by AnswerCloseRequests once the program has closed.
        peer.waitingForClose = true;
        emit closeRequested();
    } else {
        DropPeer(id);
    }
}

void InstanceChannel::DropPeer(int id) {
    const auto it = peers_.find(id);
    if (it == peers_.end())
        return;
    Peer& peer = *it->second;
    peer.notifier->setEnabled(false);
    // May be running inside this notifier's own signal.
    peer.notifier->deleteLater();
    close(peer.fd);
    peers_.erase(it);
}

void InstanceChannel::StopListening() {
    if (listenNotifier_) {
        listenNotifier_->setEnabled(false);
        listenNotifier_->deleteLater();
        listenNotifier_ = nullptr;
    }
    if (listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;
    }
}

void InstanceChannel::AnswerCloseRequests() {
    // The name goes first, so that whoever waits for the close can start a
    // new copy as soon as the answer arrives.
    StopListening();
    while (!peers_.empty()) {
        const auto it = peers_.begin();
        if (it->second->waitingForClose)
            SendAll(it->second->fd, ReplyTo(kCloseRequest) + '\n');
        DropPeer(it->first);
    }
}

InstanceReply SendInstanceRequest(const QByteArray& name, const QByteArray& request,
                                  int timeoutMs) {
    return SendInstanceRequest(name, request, timeoutMs, geteuid());
}

InstanceReply SendInstanceRequest(const QByteArray& name, const QByteArray& request, int timeoutMs,
                                  uid_t owner) {
    QElapsedTimer clock;
    clock.start();
    // Non-blocking, so that a copy which stopped taking connections (its
    // queue full) gives NoAnswer instead of holding us in connect forever.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return InstanceReply::NotRunning;
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{fd};

    sockaddr_un address;
    const socklen_t length = MakeAddress(name, &address);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return errno == EAGAIN ? InstanceReply::NoAnswer : InstanceReply::NotRunning;
    if (!PeerIsUser(fd, owner))
        return InstanceReply::Foreign;
    if (!SendAll(fd, request + '\n'))
        return InstanceReply::NoAnswer;

    const QByteArray expected = ReplyTo(request) + '\n';
    QByteArray received;
    for (;;) {
        const qint64 remaining = timeoutMs - clock.elapsed();
        if (remaining <= 0)
            return InstanceReply::NoAnswer;
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, static_cast<int>(remaining));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return InstanceReply::NoAnswer;
        char buffer[64];
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return InstanceReply::NoAnswer;
        received.append(buffer, n);
        if (received.contains('\n'))
            return received == expected ? InstanceReply::Done : InstanceReply::NoAnswer;
        if (received.size() > kMaxRequestLength)
            return InstanceReply::NoAnswer;
    }
}

InstanceReply CloseRunningCopy(int timeoutMs) {
    return SendInstanceRequest(InstanceChannelName(), kCloseRequest, timeoutMs);
}
