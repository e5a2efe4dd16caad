// The running copy's channel alone: one copy per user, "raise", "close" and
// "open" from other copies and the installer hooks, what it hangs up on,
// nobody else listened to, and nothing another user or a crash leaves behind
// keeping the program out.
#include "platform/instance_channel.h"

#include "event_wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray UniqueName(const char* what) {
    static int counter = 0;
    return InstanceChannelName() + '-' + what + '-' + QByteArray::number(++counter);
}

QString SocketOf(const QByteArray& name) {
    return InstanceSocketPath(InstanceRuntimeFolder(true), name);
}

QString LockOf(const QByteArray& name) {
    return InstanceRuntimeFolder(true) + QLatin1Char('/') + QFile::decodeName(name) +
           QLatin1String(kInstanceLockSuffix);
}

// Runs a blocking request on another thread while this one serves the channel.
class Requester {
  public:
    explicit Requester(std::function<InstanceReply()> ask)
        : thread_([this, ask] {
              reply_ = ask();
              done_ = true;
          }) {}
    Requester(QByteArray name, QByteArray request, int timeoutMs = 5000)
        : Requester([name, request, timeoutMs] {
              return SendInstanceRequest(name, request, timeoutMs);
          }) {}
    ~Requester() { thread_.join(); }
    bool done() const { return done_; }
    InstanceReply reply() const { return reply_; }

  private:
    std::atomic<bool> done_{false};
    InstanceReply reply_ = InstanceReply::NoAnswer;
    std::thread thread_;
};

socklen_t MakeAddress(const QByteArray& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, path.constData(),
                std::min(static_cast<size_t>(path.size()), sizeof(address->sun_path) - 1));
    return sizeof(*address);
}

// A connection to a socket file, or -1 with errno set.
int ConnectRaw(const QByteArray& path) {
    sockaddr_un address;
    const socklen_t length = MakeAddress(path, &address);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// A socket file bound at `path`, listening or not; its descriptor.
int BindRaw(const QByteArray& path, bool listening) {
    sockaddr_un address;
    const socklen_t length = MakeAddress(path, &address);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening && listen(fd, 4) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

// True once the other end has closed the connection.
bool PeerHungUp(int fd) {
    char buffer[16];
    const ssize_t n = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    return n == 0;
}

bool IsEmptyFolder(const QString& path) {
    return QDir(path)
        .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
        .isEmpty();
}

bool MakeFolder(const QString& path, mode_t mode) {
    const QByteArray encoded = QFile::encodeName(path);
    return mkdir(encoded.constData(), mode) == 0 && chmod(encoded.constData(), mode) == 0;
}

constexpr uid_t kNobody = 65534;

// Runs `work` as another user in a child process; its exit code comes back.
// Only system calls in `work`: the test program has threads.
int RunAsOtherUser(const std::function<int()>& work, const std::function<void()>& meanwhile) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0 || geteuid() != kNobody)
            _exit(90);
        _exit(work());
    }
    int status = 0;
    WaitUntil(
        [&] {
            meanwhile();
            return waitpid(child, &status, WNOHANG) == child;
        },
        10000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Kills and reaps a child process when the test ends, passed or not.
struct ChildGuard {
    pid_t child = -1;
    ~ChildGuard() {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
};

// Sets or unsets an environment variable until it goes.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::optional<QString>& value) : name_(name) {
        if (qEnvironmentVariableIsSet(name))
            saved_ = qgetenv(name);
        if (value)
            qputenv(name, QFile::encodeName(*value));
        else
            qunsetenv(name);
    }
    ~ScopedVariable() {
        if (saved_)
            qputenv(name_, *saved_);
        else
            qunsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<QByteArray> saved_;
};

// A temporary folder other users may pass through, with a TMPDIR in it
// that anyone may write (as /tmp), in use until it goes.
class SharedTemp {
  public:
    SharedTemp()
        : temp_(dir_.filePath(QStringLiteral("tmp"))),
          valid_(dir_.isValid() && chmod(QFile::encodeName(dir_.path()).constData(), 0711) == 0 &&
                 MakeFolder(temp_, 01777)),
          variable_("TMPDIR", temp_) {}
    bool valid() const { return valid_; }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString temp() const { return temp_; }
    QString fallback() const {
        return temp_ + QStringLiteral("/keshlor-") +
               QString::number(static_cast<qulonglong>(geteuid()));
    }

  private:
    QTemporaryDir dir_;
    QString temp_;
    bool valid_;
    ScopedVariable variable_;
};

// A runtime folder of our own (0700) under a folder other users may pass
// through, set as XDG_RUNTIME_DIR until it goes.
class SharedRuntime : public SharedTemp {
  public:
    SharedRuntime()
        : runtime_(path(QStringLiteral("run"))),
          made_(SharedTemp::valid() && MakeFolder(runtime_, 0700)),
          variable_("XDG_RUNTIME_DIR", runtime_) {}
    bool valid() const { return made_; }
    QString runtime() const { return runtime_; }

  private:
    QString runtime_;
    bool made_;
    ScopedVariable variable_;
};

} // namespace
class InstanceChannelTest : public QObject {
    Q_OBJECT

  private slots:
    void onlyOneHolderAndNoStaleName() {
        const QByteArray name = UniqueName("claim");
        auto first = std::make_unique<InstanceChannel>(name);
        InstanceChannel second(name);
        QCOMPARE(first->Claim(), ClaimResult::Claimed);
        QCOMPARE(first->socketPath(), SocketOf(name));
        QVERIFY(QFileInfo(SocketOf(name)).exists());
        QCOMPARE(second.Claim(), ClaimResult::Taken);
        QCOMPARE(second.Claim(), ClaimResult::Taken);
        first.reset();
        // The socket goes with its holder; the lock file stays for everyone to lock.
        QVERIFY(!QFileInfo::exists(SocketOf(name)));
        QVERIFY(QFileInfo::exists(LockOf(name)));
        QCOMPARE(second.Claim(), ClaimResult::Claimed);
        QVERIFY(second.claimed());
    }

    void raiseIsAnsweredAtOnce() {
        const QByteArray name = UniqueName("raise");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QSignalSpy raised(&channel, &InstanceChannel::raiseRequested);
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        Requester requester(name, kRaiseRequest);
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
        QCOMPARE(raised.count(), 1);
        QCOMPARE(closing.count(), 0);
    }

    void closeIsAnsweredOnlyOnceClosed() {
        const QByteArray name = UniqueName("close");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        Requester requester(name, kCloseRequest);
        QVERIFY(WaitUntil([&] { return closing.count() == 1; }));
        QTest::qWait(100);
        QVERIFY(!requester.done());
        channel.AnswerCloseRequests();
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
        // The name is free for the next copy by then.
        InstanceChannel next(name);
        QCOMPARE(next.Claim(), ClaimResult::Claimed);
    }

    // A second copy's files, more than one request holds and with names
    // that no line or text encoding could carry, reach the holder in order;
    // when it refuses them, the second copy keeps them to handle itself.
    void handedOverFilesArriveInOrderOrStayWithTheirCopy() {
        const QByteArray name = UniqueName("open");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QStringList files;
        for (int i = 0; i < 2 * kMaxOpenPaths + 5; ++i)
            files.append(QStringLiteral("/tmp/file %1\nline \u00e9\u6587.txt").arg(i));
        QStringList received;
        bool taking = true;
        channel.SetOpenHandler([&](const QStringList& paths) {
            received += paths;
            return taking;
        });
        for (const bool take : {true, false}) {
            taking = take;
            received.clear();
            QStringList left = files;
            std::atomic<bool> deferred{false};
            Requester copy([&] {
                InstanceChannel second(name);
                deferred = DeferToRunningCopy(second, &left);
                return InstanceReply::Done;
            });
            QVERIFY(WaitUntil([&] { return copy.done(); }, 10000));
            QCOMPARE(deferred.load(), take);
            QCOMPARE(left, take ? QStringList() : files);
            QCOMPARE(received, take ? files : files.first(kMaxOpenPaths));
        }
    }

    void programsStartedMeanwhileDoNotKeepTheName() {
        const QByteArray name = UniqueName("inherit");
        auto channel = std::make_unique<InstanceChannel>(name);
        QCOMPARE(channel->Claim(), ClaimResult::Claimed);
        // A program started while we run (a file opened in its application)
        // outlives us.
        QProcess child;
        child.start(QStringLiteral("sleep"), {QStringLiteral("10")});
        QVERIFY(child.waitForStarted());
        channel.reset();
        InstanceChannel next(name);
        const ClaimResult claim = next.Claim();
        child.kill();
        child.waitForFinished();
        QCOMPARE(claim, ClaimResult::Claimed);
    }

    void nobodyThereIsNotRunning() {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(SendInstanceRequest(UniqueName("none"), kRaiseRequest, 3000),
                 InstanceReply::NotRunning);
        QVERIFY(clock.elapsed() < 1000);
    }

    void unknownOrOverlongRequestsAreDropped_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("unknown word") << QByteArray("quit\n");
        QTest::newRow("request with more after it") << QByteArray("close now\n");
        QTest::newRow("no line end, too long") << QByteArray(200, 'x');
        QTest::newRow("binary") << QByteArray("\0\xff\n", 3);
        QTest::newRow("open, no path") << QByteArray("open 0\n");
        QTest::newRow("open, relative path") << QByteArray("open 1\nnotes.txt\0", 17);
        QTest::newRow("open, more paths than said") << QByteArray("open 1\n/a\0/b\0", 14);
    }
    void unknownOrOverlongRequestsAreDropped() {
        QFETCH(QByteArray, request);
        const QByteArray name = UniqueName("junk");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QSignalSpy raised(&channel, &InstanceChannel::raiseRequested);
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        int opened = 0;
        channel.SetOpenHandler([&opened](const QStringList&) { return ++opened > 0; });
        const int fd = ConnectRaw(QFile::encodeName(channel.socketPath()));
        QVERIFY(fd >= 0);
        QCOMPARE(send(fd, request.constData(), request.size(), MSG_NOSIGNAL),
                 ssize_t(request.size()));
        const bool hungUp = WaitUntil([fd] { return PeerHungUp(fd); });
        close(fd);
        QVERIFY(hungUp);
        QCOMPARE(raised.count() + closing.count() + opened, 0);
        // Still serving.
        Requester requester(name, kRaiseRequest);
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
    }

    // --- what a crash or another user leaves cannot keep us out ---

    void whatACrashLeavesIsReplaced_data() {
        QTest::addColumn<QString>("debris");
        QTest::newRow("socket nobody listens on") << QStringLiteral("socket");
        QTest::newRow("socket never listened on") << QStringLiteral("bound");
        QTest::newRow("plain file") << QStringLiteral("file");
    }
    void whatACrashLeavesIsReplaced() {
        QFETCH(QString, debris);
        const QByteArray name = UniqueName("debris");
        const QByteArray path = QFile::encodeName(SocketOf(name));
        if (debris == QLatin1String("file")) {
            QFile file(SocketOf(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            const int fd = BindRaw(path, debris == QLatin1String("socket"));
            QVERIFY(fd >= 0);
            close(fd); // the file stays, as after a crash
        }
        QVERIFY(QFileInfo::exists(SocketOf(name)));
        QCOMPARE(SendInstanceRequest(name, kRaiseRequest, 1000), InstanceReply::NotRunning);
        InstanceChannel channel(name);
        QVERIFY(!DeferToRunningCopy(channel));
        QVERIFY(channel.claimed());
        Requester requester(name, kRaiseRequest);
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
    }

    void aCrashedHoldersNameIsFreeAndABusyOneIsDeferredTo() {
        // A copy of ours, in a child: it holds the lock and listens, but
        // never answers (busy), then dies without cleaning up.
        const QByteArray name = UniqueName("crash");
        const QByteArray lock = QFile::encodeName(LockOf(name));
        const QByteArray path = QFile::encodeName(SocketOf(name));
        int ready[2];
        QVERIFY(pipe(ready) == 0);
        ChildGuard guard;
        const pid_t child = guard.child = fork();
        if (child == 0) {
            const int lockFd = open(lock.constData(), O_RDWR | O_CREAT, 0600);
            if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0 || BindRaw(path, true) < 0)
                _exit(91);
            (void)!write(ready[1], "r", 1);
            for (;;)
                pause();
        }
        char byte = 0;
        QCOMPARE(read(ready[0], &byte, 1), ssize_t(1));
        close(ready[0]);
        close(ready[1]);

        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Taken);
        QElapsedTimer clock;
        clock.start();
        const bool deferred = DeferToRunningCopy(channel);
        const qint64 waited = clock.elapsed();
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        guard.child = -1;
        QVERIFY(deferred);
        QVERIFY(waited < 5000);

        // Dead: the kernel has let go of its lock; its socket file is still there.
        QVERIFY(QFileInfo::exists(SocketOf(name)));
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        Requester requester(name, kRaiseRequest);
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
    }

    void anotherUserCannotTakeOrReachTheName() {
        if (geteuid() != 0)
            QSKIP("needs root to act as a second user");
        SharedRuntime shared;
        QVERIFY(shared.valid());
        const QString runtime = shared.runtime();
        const QString own = shared.path(QStringLiteral("theirs"));
        QVERIFY(MakeFolder(own, 0700));
        QCOMPARE(chown(QFile::encodeName(own).constData(), kNobody, kNobody), 0);

        const QByteArray name = UniqueName("foreign");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QCOMPARE(QFileInfo(channel.socketPath()).absolutePath(), runtime);
        QSignalSpy raised(&channel, &InstanceChannel::raiseRequested);
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        const QByteArray lock = QFile::encodeName(LockOf(name));
        const QByteArray socketPath = QFile::encodeName(channel.socketPath());
        const QByteArray squat = QFile::encodeName(SocketOf(UniqueName("squat")));
        const QByteArray control = QFile::encodeName(own + QStringLiteral("/control.socket"));
        const int code = RunAsOtherUser(
            [&] {
                // Where they may, they can: so the refusals below are the
                // folder's, not a broken test.
                if (BindRaw(control, true) < 0)
                    return 10;
                const int lockFd = open(lock.constData(), O_RDWR | O_CREAT, 0600);
                if (lockFd >= 0 || errno != EACCES)
                    return 11;
                if (BindRaw(squat, true) >= 0 || errno != EACCES)
                    return 12;
                if (ConnectRaw(socketPath) >= 0 || errno != EACCES)
                    return 13;
                if (unlink(socketPath.constData()) == 0 || errno != EACCES)
                    return 14;
                return 0;
            },
            [] {});
        QCOMPARE(code, 0);
        QCOMPARE(raised.count() + closing.count(), 0);
        Requester requester(name, kRaiseRequest);
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
    }

    void otherUsersAreNotListenedTo() {
        if (geteuid() != 0)
            QSKIP("needs root to act as a second user");
        // Behind the folder, the channel itself checks who asks: open the
        // way for this test, as a careless administrator might.
        SharedRuntime shared;
        QVERIFY(shared.valid());
        const QString runtime = shared.runtime();
        const QByteArray name = UniqueName("foreign-client");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QVERIFY(chmod(QFile::encodeName(runtime).constData(), 0711) == 0);
        QVERIFY(chmod(QFile::encodeName(channel.socketPath()).constData(), 0777) == 0);
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        const QByteArray path = QFile::encodeName(channel.socketPath());
        const int code = RunAsOtherUser(
            [&path] {
                const int fd = ConnectRaw(path);
                if (fd < 0)
                    return 3; // the way was not open: the test proves nothing
                send(fd, "close\n", 6, MSG_NOSIGNAL);
                for (int i = 0; i < 200; ++i) {
                    char buffer[16];
                    const ssize_t n = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
                    if (n == 0)
                        return 0; // hung up on, unanswered
                    if (n > 0)
                        return 1;
                    usleep(10000);
                }
                return 2;
            },
            [] {});
        QCOMPARE(code, 0);
        QCOMPARE(closing.count(), 0);
    }

    void anUnfitRuntimeFolderIsNotUsed_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("another user's") << QStringLiteral("foreign");
        QTest::newRow("open to the group") << QStringLiteral("0770");
        QTest::newRow("readable by all") << QStringLiteral("0755");
        QTest::newRow("relative") << QStringLiteral("relative");
    }
    void anUnfitRuntimeFolderIsNotUsed() {
        QFETCH(QString, kind);
        if (kind == QLatin1String("foreign") && geteuid() != 0)
            QSKIP("needs root to give a folder to another user");
        SharedTemp shared;
        QVERIFY(shared.valid());
        const QString unfit = shared.path(QStringLiteral("run"));
        QVERIFY(MakeFolder(unfit, kind == QLatin1String("0770")   ? 0770
                                  : kind == QLatin1String("0755") ? 0755
                                                                  : 0700));
        if (kind == QLatin1String("foreign"))
            QCOMPARE(chown(QFile::encodeName(unfit).constData(), kNobody, kNobody), 0);
        const ScopedVariable variable(
            "XDG_RUNTIME_DIR", kind == QLatin1String("relative") ? QStringLiteral("run") : unfit);

        // The fallback instead, made for us; the program starts either way.
        QCOMPARE(InstanceRuntimeFolder(true), shared.fallback());
        const QByteArray name = UniqueName("unfit");
        InstanceChannel channel(name);
        QVERIFY(!DeferToRunningCopy(channel));
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QCOMPARE(QFileInfo(channel.socketPath()).absolutePath(), shared.fallback());
        struct stat info {};
        QCOMPARE(lstat(QFile::encodeName(shared.fallback()).constData(), &info), 0);
        QCOMPARE(info.st_uid, geteuid());
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
        // Root may write anywhere: nothing of ours went into the unfit folder.
        QVERIFY(IsEmptyFolder(unfit));
        // The next copy finds us there.
        Requester requester(name, kRaiseRequest);
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
    }

    void aSquattedFallbackFolderDoesNotKeepUsOut_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("another user's, with a channel") << QStringLiteral("foreign");
        QTest::newRow("a link to a folder of ours") << QStringLiteral("link");
        QTest::newRow("ours, open to all") << QStringLiteral("open");
    }
    void aSquattedFallbackFolderDoesNotKeepUsOut() {
        QFETCH(QString, kind);
        if (kind == QLatin1String("foreign") && geteuid() != 0)
            QSKIP("needs root to act as a second user");
        SharedTemp shared;
        QVERIFY(shared.valid());
        const ScopedVariable variable("XDG_RUNTIME_DIR", std::nullopt);
        const QByteArray name = UniqueName("squatted");
        const QString fallback = shared.fallback();
        const QByteArray folder = QFile::encodeName(fallback);
        const QByteArray socketPath = QFile::encodeName(InstanceSocketPath(fallback, name));
        ChildGuard squatter;
        int connections[2] = {-1, -1};
        if (kind == QLatin1String("foreign")) {
            // Made first by another user, who listens there under our name
            // and answers everything as a copy would.
            int ready[2];
            QVERIFY(pipe(ready) == 0 && pipe2(connections, O_NONBLOCK) == 0);
            squatter.child = fork();
            if (squatter.child == 0) {
                if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
                    _exit(90);
                if (mkdir(folder.constData(), 0700) != 0)
                    _exit(91);
                const int fd = BindRaw(socketPath, true);
                if (fd < 0)
                    _exit(92);
                (void)!write(ready[1], "r", 1);
                for (;;) {
                    const int peer = accept(fd, nullptr, nullptr);
                    (void)!write(connections[1], "c", 1);
                    (void)!send(peer, "raised\n", 7, MSG_NOSIGNAL);
                    close(peer);
                }
            }
            char byte = 0;
            QCOMPARE(read(ready[0], &byte, 1), ssize_t(1));
            close(ready[0]);
            close(ready[1]);
            close(connections[1]);
        } else if (kind == QLatin1String("link")) {
            const QString elsewhere = shared.path(QStringLiteral("elsewhere"));
            QVERIFY(MakeFolder(elsewhere, 0700));
            QVERIFY(QFile::link(elsewhere, fallback));
        } else {
            QVERIFY(MakeFolder(fallback, 0777));
        }
        QVERIFY(InstanceRuntimeFolder(true).isEmpty());
        // Never asked: the squatter's answer must not send us away.
        QCOMPARE(SendInstanceRequest(name, kRaiseRequest, 2000), InstanceReply::NotRunning);
        InstanceChannel channel(name);
        QVERIFY(!DeferToRunningCopy(channel));
        QCOMPARE(channel.Claim(), ClaimResult::Unavailable);
        if (squatter.child > 0) {
            char byte = 0;
            QCOMPARE(read(connections[0], &byte, 1), ssize_t(-1));
            close(connections[0]);
        }
    }
};

// A home and a runtime folder (0700) of this program's own, and a channel
// name of its own, set before the application object exists.
int main(int argc, char** argv) {
    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    if (!home.isValid() || !QDir().mkpath(runtime) ||
        !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner))
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("KESHLOR_INSTANCE", "test-" + QByteArray::number(getpid()));
    QCoreApplication app(argc, argv);
    InstanceChannelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_instance_channel.moc"
