// The running copy's channel, alone and as the program uses it: one copy per
// user, "raise" and "close" from other copies and the installer hooks, and
// nobody else listened to.
#include "gui_test_support.h"

#include "instance_channel.h"
#include "main_window.h"
#include "startup.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>

#include <atomic>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray UniqueName(const char* what) {
    static int counter = 0;
    return InstanceChannelName() + '-' + what + '-' + QByteArray::number(++counter);
}

// Runs a blocking request on another thread while this one serves the channel.
class Requester {
  public:
    Requester(QByteArray name, QByteArray request, int timeoutMs = 5000)
        : thread_([this, name, request, timeoutMs] {
              reply_ = SendInstanceRequest(name, request, timeoutMs);
              done_ = true;
          }) {}
    ~Requester() { thread_.join(); }
    bool done() const { return done_; }
    InstanceReply reply() const { return reply_; }

  private:
    std::atomic<bool> done_{false};
    InstanceReply reply_ = InstanceReply::NoAnswer;
    std::thread thread_;
};

int ConnectRaw(const QByteArray& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const socklen_t length = offsetof(sockaddr_un, sun_path) + 1 + name.size();
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
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

constexpr uid_t kNobody = 65534;

// Runs `work` as another user in a child process; its exit code comes back.
int RunAsOtherUser(const std::function<int()>& work, const std::function<void()>& meanwhile) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
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

} // namespace

class InstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void onlyOneHolderAndNoStaleName() {
        const QByteArray name = UniqueName("claim");
        auto first = std::make_unique<InstanceChannel>(name);
        InstanceChannel second(name);
        QCOMPARE(first->Claim(), ClaimResult::Claimed);
        QCOMPARE(second.Claim(), ClaimResult::Taken);
        QCOMPARE(second.Claim(), ClaimResult::Taken);
        first.reset();
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
    }
    void unknownOrOverlongRequestsAreDropped() {
        QFETCH(QByteArray, request);
        const QByteArray name = UniqueName("junk");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QSignalSpy raised(&channel, &InstanceChannel::raiseRequested);
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        const int fd = ConnectRaw(name);
        QVERIFY(fd >= 0);
        QCOMPARE(send(fd, request.constData(), request.size(), MSG_NOSIGNAL),
                 ssize_t(request.size()));
        const bool hungUp = WaitUntil([fd] { return PeerHungUp(fd); });
        close(fd);
        QVERIFY(hungUp);
        QCOMPARE(raised.count() + closing.count(), 0);
        // Still serving.
        Requester requester(name, kRaiseRequest);
        QVERIFY(WaitUntil([&] { return requester.done(); }));
        QCOMPARE(requester.reply(), InstanceReply::Done);
    }

    void otherUsersAreNotListenedTo() {
        if (geteuid() != 0)
            QSKIP("needs root to act as a second user");
        const QByteArray name = UniqueName("foreign-client");
        InstanceChannel channel(name);
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        // Only system calls in the child: it was forked from a threaded program.
        const int code = RunAsOtherUser(
            [&name] {
                const int fd = ConnectRaw(name);
                if (fd < 0)
                    return 0;
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

    void anotherUsersHolderDoesNotKeepUsOut() {
        if (geteuid() != 0)
            QSKIP("needs root to act as a second user");
        const QByteArray name = UniqueName("foreign-holder");
        int ready[2];
        QVERIFY(pipe(ready) == 0);
        const pid_t child = fork();
        if (child == 0) {
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
                _exit(90);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path + 1, name.constData(), name.size());
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            const socklen_t length = offsetof(sockaddr_un, sun_path) + 1 + name.size();
            if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0)
                _exit(91);
            (void)!write(ready[1], "r", 1);
            // Answers anything with "raised", as a copy would.
            for (int i = 0; i < 3; ++i) {
                const int peer = accept(fd, nullptr, nullptr);
                (void)!send(peer, "raised\n", 7, MSG_NOSIGNAL);
                close(peer);
            }
            _exit(0);
        }
        char byte = 0;
        QCOMPARE(read(ready[0], &byte, 1), ssize_t(1));
        close(ready[0]);
        close(ready[1]);

        QCOMPARE(SendInstanceRequest(name, kRaiseRequest, 2000), InstanceReply::Foreign);
        InstanceChannel channel(name);
        QVERIFY(!DeferToRunningCopy(channel));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }

    // --- the program itself ---

    void twoCopiesStartedAtOnceLeaveOneRunning() {
        const QByteArray instance = "together-" + QByteArray::number(getpid());
        QProcess first, second;
        for (QProcess* copy : {&first, &second}) {
            copy->setProcessEnvironment(ProgramEnvironment(instance));
            copy->setProgram(QStringLiteral(KESHLOR_PROGRAM));
        }
        first.start();
        second.start();
        QVERIFY(first.waitForStarted() && second.waitForStarted());
        QVERIFY(WaitUntil(
            [&] {
                return first.state() == QProcess::NotRunning ||
                       second.state() == QProcess::NotRunning;
            },
            15000));
        QProcess& ended = first.state() == QProcess::NotRunning ? first : second;
        QProcess& running = &ended == &first ? second : first;
        QCOMPARE(ended.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ended.exitCode(), 0);
        QTest::qWait(300);
        QCOMPARE(running.state(), QProcess::Running);

        RemoveStore();
        QCOMPARE(SendInstanceRequest(ProgramChannel(instance), kCloseRequest, 10000),
                 InstanceReply::Done);
        QVERIFY(running.waitForFinished(10000));
        QCOMPARE(running.exitStatus(), QProcess::NormalExit);
        QCOMPARE(running.exitCode(), 0);
        // Closed from outside as Exit does: the options are saved.
        QVERIFY(StoreHas(QStringLiteral("WipePlainFiles")));
    }

    void secondCopyWithAFileRaisesTheFirstAndEnds() {
        const QByteArray instance = "second-" + QByteArray::number(getpid());
        QProcess first;
        first.setProcessEnvironment(ProgramEnvironment(instance));
        first.start(QStringLiteral(KESHLOR_PROGRAM), {});
        QVERIFY(first.waitForStarted());
        QVERIFY(WaitUntil(
            [&] {
                return SendInstanceRequest(ProgramChannel(instance), kRaiseRequest, 500) ==
                       InstanceReply::Done;
            },
            15000));

        QTemporaryDir folder;
        const QString plain = folder.filePath(QStringLiteral("notes.txt"));
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept as it is");
        file.close();

        QProcess second;
        second.setProcessEnvironment(ProgramEnvironment(instance));
        second.start(QStringLiteral(KESHLOR_PROGRAM), {plain});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(QFile::exists(plain));
        QVERIFY(!QFile::exists(plain + QStringLiteral(".ksr")));

        QCOMPARE(SendInstanceRequest(ProgramChannel(instance), kCloseRequest, 10000),
                 InstanceReply::Done);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitCode(), 0);
    }

  private:
    static QProcessEnvironment ProgramEnvironment(const QByteArray& instance) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KESHLOR_INSTANCE"), QString::fromLatin1(instance));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment;
    }
    static QByteArray ProgramChannel(const QByteArray& instance) {
        return "KESHLOR-" + QByteArray::number(static_cast<qulonglong>(geteuid())) + '-' + instance;
    }
};

KESHLOR_GUI_TEST_MAIN(InstanceTest)
#include "test_instance.moc"
