// The running copy's channel as the program uses it: one copy per user, a
// second copy's files, "close" from outside, and the stop signals. The
// channel alone is tested in tests/platform (test_instance_channel).
#include "gui_test_support.h"

#include "app/main_window.h"
#include "platform/instance_channel.h"

#include <QFile>
#include <QProcess>

#include <csignal>
#include <unistd.h>

class InstanceTest : public QObject {
    Q_OBJECT

  private slots:
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

    // Answered before any window system is looked for (the platform named
    // here does not exist, so Qt would give up); an unknown option is refused.
    void helpAndVersionAreAnsweredWithoutAWindow() {
        QProcessEnvironment environment =
            ProgramEnvironment("help-" + QByteArray::number(getpid()));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("none-such"));
        const QList<QPair<QString, QByteArray>> asked{
            {QStringLiteral("--help"), "Usage: keshlor "},
            {QStringLiteral("--version"), "TQ Keshlor 2.13.0.1\n"},
        };
        for (const auto& [argument, answer] : asked) {
            QProcess program;
            program.setProcessEnvironment(environment);
            program.start(QStringLiteral(KESHLOR_PROGRAM), {QStringLiteral("notes.txt"), argument});
            QVERIFY(program.waitForFinished(10000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
            QVERIFY2(program.readAllStandardOutput().startsWith(answer), qPrintable(argument));
        }
        QProcess program;
        program.setProcessEnvironment(ProgramEnvironment("option-" + QByteArray::number(getpid())));
        program.start(QStringLiteral(KESHLOR_PROGRAM), {QStringLiteral("--hepl")});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(program.readAllStandardError().contains("unknown option '--hepl'"));
    }

    void aStopSignalClosesTheProgramWithItsStatus_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
        QTest::newRow("SIGINT") << int(SIGINT) << 130;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
    }
    void aStopSignalClosesTheProgramWithItsStatus() {
        QFETCH(int, signal);
        QFETCH(int, status);
        const QByteArray instance =
            "signal-" + QByteArray::number(getpid()) + '-' + QByteArray::number(signal);
        QProcess program;
        program.setProcessEnvironment(ProgramEnvironment(instance));
        program.start(QStringLiteral(KESHLOR_PROGRAM), {});
        QVERIFY(program.waitForStarted());
        QVERIFY(WaitUntil(
            [&] {
                return SendInstanceRequest(ProgramChannel(instance), kRaiseRequest, 500) ==
                       InstanceReply::Done;
            },
            15000));
        RemoveStore();
        QCOMPARE(kill(static_cast<pid_t>(program.processId()), signal), 0);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        // Closed as a close request closes it: the options are saved, the name released.
        QVERIFY(StoreHas(QStringLiteral("WipePlainFiles")));
        QCOMPARE(SendInstanceRequest(ProgramChannel(instance), kRaiseRequest, 500),
                 InstanceReply::NotRunning);
    }

  private:
    static QProcessEnvironment ProgramEnvironment(const QByteArray& instance) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KESHLOR_INSTANCE"), QString::fromLatin1(instance));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment;
    }
    static QByteArray ProgramChannel(const QByteArray& instance) {
        return InstanceChannelName(geteuid(), instance);
    }
};

KESHLOR_GUI_TEST_MAIN(InstanceTest)
#include "test_instance.moc"
