// ksr driven in-process with a scripted console, and once as a program. Known
// answers come from tests/data/vectors (made by an independent implementation).
#include "cli/ksr_main.h"
#include "known_vectors.h"
#include "platform/files.h"
#include "platform/ports.h"
#include "temp_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QThread>

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <utility>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_files;

namespace {

// A terminal that replies from a queue; with the queue empty there is none.
struct ScriptedConsole {
    QString out;
    QString err;
    std::deque<QByteArray> replies;
    std::vector<std::pair<QString, bool>> prompts; // prompt, echo

    KsrConsole Console() {
        return {[this](const QString& t) { out += t; }, [this](const QString& t) { err += t; },
                [this](const QString& prompt, bool echo, QByteArray* line) {
                    prompts.emplace_back(prompt, echo);
                    if (replies.empty())
                        return TerminalRead::NoTerminal;
                    *line = replies.front();
                    replies.pop_front();
                    return TerminalRead::Line;
                }};
    }
};

QByteArray VectorContainer(const QString& name) {
    return ReadAll(VectorsFolder() + "/containers/" + name);
}

QByteArray HelloText() {
    return ReadAll(VectorsFolder() + "/plain/hello.txt");
}

class KsrCli : public ::testing::Test {
  protected:
    void SetUp() override {
        // The settings store of each test is its own.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path("config"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path("config"));
    }

    int Run(QStringList args) {
        io.out.clear();
        io.err.clear();
        io.prompts.clear();
        return RunKsr(args, io.Console());
    }
    // Runs with the password given in a private file, as scripts do.
    int RunWith(const QByteArray& passwordFile, QStringList args) {
        const QString pw = folder.Write("pw", passwordFile);
        QFile::setPermissions(pw, QFile::ReadOwner | QFile::WriteOwner);
        return Run(QStringList{"--password-file", pw} + args);
    }
    void Store(const QString& name, const QVariant& value) {
        QSettings settings("TQ", "Keshlor");
        settings.setValue(name, value);
    }
    bool Hidden(const QString& path) {
        return (plat::GetFileAttributes(path) & plat::kAttrHidden) != 0;
    }

    TempFolder folder;
    ScriptedConsole io;
};

TEST_F(KsrCli, TerminalPasswordIsAskedTwiceToEncryptAndOnceToDecrypt) {
    const QString plain = folder.Write("a.txt", "attack at dawn");
    io.replies = {"s3cret", "s3cret"};
    ASSERT_EQ(Run({"--no-wipe", plain}), kKsrDone) << io.err.toStdString();
    EXPECT_EQ(io.prompts.size(), 2u);
    for (const auto& prompt : io.prompts)
        EXPECT_FALSE(prompt.second) << "password echoed";
    EXPECT_FALSE(Exists(plain));

    io.replies = {"s3cret"};
    ASSERT_EQ(Run({plain + ".ksr"}), kKsrDone) << io.err.toStdString();
    EXPECT_EQ(io.prompts.size(), 1u);
    EXPECT_EQ(ReadAll(plain), "attack at dawn");
    EXPECT_FALSE(Exists(plain + ".ksr"));
    EXPECT_TRUE(io.err.isEmpty());

    // A confirmed empty password is a password.
    io.replies = {"", ""};
    EXPECT_EQ(Run({"encrypt", plain}), kKsrDone);
    EXPECT_EQ(RunWith("", {"decrypt", plain + ".ksr"}), kKsrDone);
}

TEST_F(KsrCli, MismatchedConfirmationOrNoPasswordTouchesNothing) {
    const QString plain = folder.Write("a.txt", "data");
    io.replies = {"one", "two"};
    EXPECT_EQ(Run({plain}), kKsrUsage);
    EXPECT_TRUE(io.err.contains("Password and confirmation strings do not match."));
    io.replies.clear();
    EXPECT_EQ(Run({plain}), kKsrUsage);
    EXPECT_TRUE(io.err.contains("--password-file"));
    EXPECT_EQ(RunWith("\xff\xfe", {plain}), kKsrUsage) << "not UTF-8";
    EXPECT_EQ(Run({"--password-file", folder.path("absent"), plain}), kKsrUsage);
    EXPECT_EQ(ReadAll(plain), "data");
    EXPECT_FALSE(Exists(plain + ".ksr"));
}

TEST_F(KsrCli, FlagsRecreateEveryKnownContainer) {
    for (const KnownVector& v : LoadKnownVectors()) {
        SCOPED_TRACE(v.container.toStdString());
        const QString plain = folder.Write("plain", ReadAll(v.plain));
        ASSERT_EQ(RunWith(v.password.toUtf8() + "\n",
                          {v.high ? "--high" : "--low", v.level == 1 ? "--fast" : "--best",
                           "--no-hide", "--no-wipe", plain}),
                  kKsrDone)
            << io.err.toStdString();
        EXPECT_EQ(ReadAll(plain + ".ksr"), ReadAll(v.container));
        EXPECT_FALSE(Hidden(plain + ".ksr"));
        QFile::remove(plain + ".ksr");
    }
}

TEST_F(KsrCli, PasswordFileLosesExactlyOneFinalNewline) {
    const QString plain = folder.path("hello.txt");
    const QStringList flags{"--high", "--best", "--no-hide", "--no-wipe", plain};
    for (const QByteArray content : {"password", "password\n", "password\r\n"}) {
        folder.Write("hello.txt", HelloText());
        ASSERT_EQ(RunWith(content, flags), kKsrDone);
        EXPECT_EQ(ReadAll(plain + ".ksr"), VectorContainer("hello.txt__high__L9__0.ksr"));
        QFile::remove(plain + ".ksr");
    }
    // The second newline is part of the password.
    folder.Write("hello.txt", HelloText());
    ASSERT_EQ(RunWith("password\n\n", flags), kKsrDone);
    EXPECT_EQ(RunWith("password", {"--high", plain + ".ksr"}), kKsrBadData);
    EXPECT_EQ(RunWith("password\n\n", {"--high", plain + ".ksr"}), kKsrDone);
}

TEST_F(KsrCli, PasswordFileOthersMayReadIsWarnedAboutAndStillUsed) {
    const QString pw = folder.Write("pw.txt", "pw\n");
    const QString warning =
        "ksr: warning: " + pw +
        " can be read by other users; keep password files private (chmod 600).\n";
    for (const auto& [mode, warned] : std::initializer_list<std::pair<mode_t, bool>>{
             {0644, true}, {0604, true}, {0640, true}, {0600, false}}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(chmod(QFile::encodeName(pw).constData(), mode), 0);
        const QString plain = folder.Write("a.txt", "data");
        EXPECT_EQ(Run({"--password-file", pw, "--no-wipe", plain}), kKsrDone);
        EXPECT_EQ(io.err, warned ? warning : QString());
        EXPECT_EQ(RunWith("pw", {plain + ".ksr"}), kKsrDone) << "the password was the file's";
    }
}

TEST_F(KsrCli, PasswordFdIsReadToItsEnd) {
    const QString plain = folder.Write("hello.txt", HelloText());
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "password\n", 9), 9);
    close(ends[1]);
    EXPECT_EQ(Run({"--password-fd=" + QString::number(ends[0]), "--low", "--best", "--no-hide",
                   "--no-wipe", plain}),
              kKsrDone);
    close(ends[0]);
    EXPECT_EQ(ReadAll(plain + ".ksr"), VectorContainer("hello.txt__low__L9__1.ksr"));
}

TEST_F(KsrCli, StoredSettingsApplyWhereNoFlagIsGiven) {
    const QString hello = folder.path("hello.txt");
    Store("FastCompression", 0);
    Store("HideEncrypted", 0);
    Store("WipePlainFiles", 0);
    const QByteArray stored = ReadAll(folder.path("config/TQ/Keshlor.conf"));
    ASSERT_FALSE(stored.isEmpty());
    folder.Write("hello.txt", HelloText());
    ASSERT_EQ(RunWith("password", {hello}), kKsrDone);
    EXPECT_EQ(ReadAll(hello + ".ksr"), VectorContainer("hello.txt__high__L9__0.ksr"));
    EXPECT_EQ(ReadAll(folder.path("config/TQ/Keshlor.conf")), stored) << "ksr wrote settings";
    QFile::remove(hello + ".ksr");

    // A flag wins; 7 reads as on; a value that is no 32-bit number counts as missing.
    folder.Write("hello.txt", HelloText());
    Store("HighEncryption", 7);
    Store("FastCompression", "4294967296");
    ASSERT_EQ(RunWith("password", {hello}), kKsrDone);
    EXPECT_EQ(ReadAll(hello + ".ksr"), VectorContainer("hello.txt__high__L1__2.ksr"));
    QFile::remove(hello + ".ksr");
    folder.Write("hello.txt", HelloText());
    Store("HighEncryption", "0");
    ASSERT_EQ(RunWith("password", {"--best", hello}), kKsrDone);
    EXPECT_EQ(ReadAll(hello + ".ksr"), VectorContainer("hello.txt__low__L9__1.ksr"));
}

TEST_F(KsrCli, NewContainersAreHiddenUnlessTurnedOff) {
    const QString a = folder.Write("a", "x");
    ASSERT_EQ(RunWith("p", {a}), kKsrDone);
    EXPECT_TRUE(Hidden(a + ".ksr"));
    Store("HideEncrypted", "no"); // not a number: the default
    const QString b0 = folder.Write("b0", "x");
    ASSERT_EQ(RunWith("p", {b0}), kKsrDone);
    EXPECT_TRUE(Hidden(b0 + ".ksr"));
    Store("HideEncrypted", 0);
    const QString b = folder.Write("b", "x");
    ASSERT_EQ(RunWith("p", {b}), kKsrDone);
    EXPECT_FALSE(Hidden(b + ".ksr"));
    const QString c = folder.Write("c", "x");
    ASSERT_EQ(RunWith("p", {"--hide", c}), kKsrDone);
    EXPECT_TRUE(Hidden(c + ".ksr"));
}

TEST_F(KsrCli, WrongPasswordOrStrengthIsItsOwnStatusAndNamesTheOtherFlag) {
    const QString plain = folder.Write("a.txt", "secret text");
    const QString container = plain + ".ksr";
    ASSERT_EQ(RunWith("pw", {"--low", plain}), kKsrDone);
    const QByteArray sealed = ReadAll(container);

    EXPECT_EQ(RunWith("pw", {"--high", container}), kKsrBadData);
    EXPECT_TRUE(io.err.startsWith("ksr: " + container + ": Bad Password?: "));
    EXPECT_TRUE(io.err.contains("--low"));
    EXPECT_EQ(RunWith("other", {"--low", container}), kKsrBadData);
    EXPECT_TRUE(io.err.contains("--high"));
    EXPECT_EQ(ReadAll(container), sealed);
    EXPECT_FALSE(Exists(plain));

    EXPECT_EQ(RunWith("pw", {"--low", container}), kKsrDone);
    EXPECT_EQ(ReadAll(plain), "secret text");
}

TEST_F(KsrCli, ExistingTargetIsKeptUnlessTheAnswerIsYes) {
    const QString plain = folder.Write("a.txt", "new");
    const QString container = folder.Write("a.txt.ksr", "old container");

    EXPECT_EQ(RunWith("pw", {"--no", plain}), kKsrDeclined);
    EXPECT_TRUE(io.err.contains(": OK to overwrite?: Keshlor file already exists."));
    EXPECT_TRUE(io.err.contains("answered No (--no)"));
    EXPECT_EQ(RunWith("pw", {plain}), kKsrDeclined) << "no terminal: the safe answer";
    EXPECT_TRUE(io.err.contains("answered No (no terminal to ask)"));
    EXPECT_EQ(ReadAll(container), "old container");
    EXPECT_EQ(ReadAll(plain), "new");

    io.replies = {"yes"};
    EXPECT_EQ(RunWith("pw", {plain}), kKsrDone);
    EXPECT_EQ(io.prompts.size(), 1u);
    folder.Write("a.txt", "newer");
    EXPECT_EQ(RunWith("pw", {"--yes", plain}), kKsrDone);

    // Decrypting onto an existing plain file asks the same way.
    folder.Write("a.txt", "other plain");
    EXPECT_EQ(RunWith("pw", {"--no", container}), kKsrDeclined);
    EXPECT_EQ(ReadAll(plain), "other plain");
    EXPECT_EQ(RunWith("pw", {"--yes", container}), kKsrDone);
    EXPECT_EQ(ReadAll(plain), "newer");
}

TEST_F(KsrCli, EngineFailuresArePrintedUnderTheirCaption) {
    const QString missing = folder.path("missing.txt");
    EXPECT_EQ(RunWith("pw", {missing}), kKsrFailed);
    EXPECT_TRUE(io.err.startsWith(
        "ksr: " + missing + ": Encryption Error: Unable to open file for reading (code 21-2)"))
        << io.err.toStdString();
    EXPECT_EQ(RunWith("pw", {missing + ".ksr"}), kKsrFailed);
    EXPECT_TRUE(io.err.contains(": Decryption Error: Unable to open file for reading (code 18-2)"));
}

TEST_F(KsrCli, SeveralFilesGoOnAndTheFirstFailureGivesTheStatus) {
    const QString missing = folder.path("missing");
    const QString good = folder.Write("good", "g");
    const QString taken = folder.Write("taken", "t");
    folder.Write("taken.ksr", "existing");
    EXPECT_EQ(RunWith("pw", {"--no", missing, good, taken}), kKsrFailed);
    EXPECT_TRUE(Exists(good + ".ksr"));
    EXPECT_FALSE(Exists(good));
    EXPECT_EQ(RunWith("pw", {"--no", taken, missing}), kKsrDeclined);
}

TEST_F(KsrCli, ContainerNamesAreDecryptedAndOthersEncrypted) {
    const QString upper = folder.Write("B.TXT", "bee");
    ASSERT_EQ(RunWith("pw", {"--no-hide", upper}), kKsrDone);
    ASSERT_TRUE(QFile::rename(upper + ".ksr", folder.path("B.TXT.KSR")));
    const QString plain = folder.Write("a.txt", "ay");

    io.replies = {"pw", "pw"};
    ASSERT_EQ(Run({plain, folder.path("B.TXT.KSR")}), kKsrDone) << io.err.toStdString();
    EXPECT_EQ(io.prompts.size(), 2u) << "an encryption among the files asks to confirm";
    EXPECT_TRUE(Exists(plain + ".ksr"));
    EXPECT_EQ(ReadAll(upper), "bee");

    // An explicit command overrides the name.
    ASSERT_EQ(RunWith("pw", {"encrypt", plain + ".ksr"}), kKsrDone);
    EXPECT_TRUE(Exists(plain + ".ksr.ksr"));
    EXPECT_EQ(RunWith("pw", {"decrypt", upper}), kKsrUsage);
}

TEST_F(KsrCli, BadArgumentsAreUsageErrorsBeforeAnythingIsAsked) {
    const QString plain = folder.Write("a.txt", "kept");
    const QList<QStringList> cases = {
        {},
        {"--password-fd"},
        {"--bogus", plain},
        {"--password-fd", "three", plain},
        {"--password-fd", "0", "--password-file", plain, plain},
        {"decrypt", plain},
        {""},
        {QString(256, 'x')}, // no room for the extension within 259 characters
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        io.replies = {"pw", "pw"};
        EXPECT_EQ(Run(args), kKsrUsage);
        EXPECT_TRUE(io.err.contains("Try 'ksr --help'"));
        EXPECT_TRUE(io.prompts.empty());
    }
    EXPECT_EQ(ReadAll(plain), "kept");
}

TEST_F(KsrCli, YesGivesUpAFailingWipeAfterThreeRetries) {
    // A read-only plain file can be encrypted but neither wiped nor deleted.
    const QString plain = folder.Write("ro.txt", "cannot go");
    const QString second = folder.Write("ro2.txt", "cannot go either");
    ASSERT_TRUE(QFile::setPermissions(plain, QFile::ReadOwner));
    ASSERT_TRUE(QFile::setPermissions(second, QFile::ReadOwner));
    EXPECT_EQ(RunWith("pw", {"--yes", plain, second}), kKsrFailed)
        << "the plain file is still there";
    EXPECT_EQ(io.err.count("ro.txt: Can't wipe!: Wipe failed! Close any other"), 4);
    EXPECT_EQ(io.err.count("ro2.txt: Can't wipe!: Wipe failed! Close any other"), 4);
    EXPECT_TRUE(io.err.contains("answered Cancel (--yes, after 3 retries)"));
    EXPECT_TRUE(io.err.contains(": Delete Error: "));
    EXPECT_TRUE(Exists(plain + ".ksr"));
    QFile::remove(plain + ".ksr");

    EXPECT_EQ(RunWith("pw", {plain}), kKsrFailed);
    EXPECT_EQ(io.err.count("Can't wipe!"), 1) << "no terminal: Cancel at once";
    QFile::remove(plain + ".ksr");
    EXPECT_EQ(RunWith("pw", {"--no-wipe", "--yes", plain}), kKsrFailed);
    EXPECT_EQ(io.err.count("Can't wipe!"), 0);
    EXPECT_TRUE(io.err.contains(": Delete Error: "));

    // The run's terminal and options are gone with it.
    EXPECT_EQ(plat::MessageBox(nullptr, "q", "c", plat::kMbYesNo), plat::kIdNo);
    EXPECT_EQ(IsOptionChecked(WipePlainFiles), 1);
}

// A run that finished its data but not its promise is not a success to a script.
TEST_F(KsrCli, AKeptContainerOrAnAbandonedWipeIsAFailure) {
    const QString hello = folder.Write("hello.txt", HelloText());
    const QByteArray container = VectorContainer("hello.txt__high__L9__0.ksr");
    // The container is written whole; the wipe then finds the disk full and, with
    // nobody to ask, is abandoned: the file goes unwiped.
    plat::faults::FailWritesAfter(container.size(), ENOSPC);
    EXPECT_EQ(RunWith("password", {"--high", "--best", "--no-hide", "--wipe", hello}), kKsrFailed);
    plat::faults::Clear();
    EXPECT_TRUE(io.err.contains("hello.txt: Can't wipe!: the wipe was abandoned, so the file "
                                "was deleted without its data being overwritten."))
        << io.err.toStdString();
    EXPECT_EQ(ReadAll(hello + ".ksr"), container);
    EXPECT_FALSE(Exists(hello));

    // A read-only container cannot be deleted after its decryption.
    ASSERT_TRUE(plat::SetFileAttributes(hello + ".ksr", plat::kAttrReadOnly));
    EXPECT_EQ(RunWith("password", {"--high", hello + ".ksr"}), kKsrFailed);
    EXPECT_TRUE(io.err.contains("hello.txt.ksr: Delete Error: the file was decrypted, but the "
                                "container could not be deleted: File couldn't be deleted (code "
                                "38-5)"))
        << io.err.toStdString();
    EXPECT_EQ(ReadAll(hello), HelloText());
}

// Names are bytes: one that is not text is refused, never taken for its look-alike,
// and nothing in a name can steer the terminal.
TEST_F(KsrCli, NamesAreTakenAsTheirBytesAndShownEscaped) {
    const QByteArray root = QFile::encodeName(folder.root());
    const QString twin = folder.Write("a\uFFFD", "the valid name's data");
    const QByteArray odd = root + "/a\xff";
    {
        const int fd = ::open(odd.constData(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "odd", 3), 3);
        ::close(fd);
    }
    const QByteArray pw = QFile::encodeName(folder.Write("pw", "pw"));
    io.err.clear();
    EXPECT_EQ(RunKsr(QList<QByteArray>{"--password-file", pw, "--no-wipe", odd}, io.Console()),
              kKsrFailed);
    EXPECT_TRUE(io.err.contains("/a\\xff: Encryption Error: Unable to open file for reading "
                                "(code 21-1113)"))
        << io.err.toStdString();
    EXPECT_EQ(ReadAll(twin), QByteArray("the valid name's data"));
    EXPECT_FALSE(Exists(twin + ".ksr"));
    struct stat st;
    EXPECT_EQ(::stat(odd.constData(), &st), 0);
    ::unlink(odd.constData()); // the folder's own clean-up cannot name it

    EXPECT_EQ(RunWith("pw", {folder.path("x\x1b]0;owned\x07\r\u202Ey")}), kKsrFailed);
    EXPECT_FALSE(io.err.contains(QChar(0x1b)));
    EXPECT_FALSE(io.err.contains(QChar(0x202E)));
    EXPECT_TRUE(io.err.contains("x\\x1b]0;owned\\x07\\x0d\\u202ey: Encryption Error"))
        << io.err.toStdString();
}

// The built program as a script runs it: no terminal, settings under XDG_CONFIG_HOME.
TEST(KsrCliProgram, RunsWithoutATerminalFromAPasswordFile) {
    TempFolder folder;
    const QString hello = folder.Write("hello.txt", HelloText());
    const QString pw = folder.Write("pw", "password\n");
    folder.Write("config/TQ/Keshlor.conf", "");
    QSettings store(folder.path("config/TQ/Keshlor.conf"), QSettings::IniFormat);
    store.setValue("FastCompression", 0);
    store.setValue("HideEncrypted", 0);
    store.sync();

    const auto run = [&](const QStringList& args, QString* err) {
        QProcess ksr;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", folder.root());
        env.insert("XDG_CONFIG_HOME", folder.path("config"));
        ksr.setProcessEnvironment(env);
        ksr.setChildProcessModifier([] { setsid(); }); // no controlling terminal
        ksr.start(KSR_PROGRAM, args);
        ksr.closeWriteChannel();
        if (!ksr.waitForFinished(30000))
            return -1;
        *err = QString::fromUtf8(ksr.readAllStandardError());
        return ksr.exitStatus() == QProcess::NormalExit ? ksr.exitCode() : -1;
    };
    QString err;
    ASSERT_EQ(run({"--password-file", pw, "--no-wipe", hello}, &err), kKsrDone)
        << err.toStdString();
    EXPECT_EQ(ReadAll(hello + ".ksr"), VectorContainer("hello.txt__high__L9__0.ksr"));
    EXPECT_EQ(run({"--password-file", pw, "--low", hello + ".ksr"}, &err), kKsrBadData);
    EXPECT_TRUE(err.contains("Bad Password?"));
    folder.Write("hello.txt", "in the way");
    EXPECT_EQ(run({"--password-file", pw, hello + ".ksr"}, &err), kKsrDeclined);
    EXPECT_TRUE(err.contains("answered No (no terminal to ask)"));
    EXPECT_EQ(run({hello + ".ksr"}, &err), kKsrUsage);
}

// Ctrl+C in the middle of a run: the plain file stays, no partial container,
// and the status a shell expects.
TEST(KsrCliProgram, AnInterruptMidRunKeepsThePlainFileAndLeavesNothingBehind) {
    TempFolder folder;
    const QByteArray data = NoiseBytes(48 * 1024 * 1024);
    const QString plain = folder.Write("big", data);
    const QString pw = folder.Write("pw", "pw");
    QProcess ksr;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", folder.path("config"));
    ksr.setProcessEnvironment(env);
    ksr.setChildProcessModifier([] { setsid(); });
    ksr.start(KSR_PROGRAM, {"--password-file", pw, "--best", "--no-wipe", plain});
    ASSERT_TRUE(ksr.waitForStarted());
    // Once the container's temporary file exists, data is moving.
    const QDir dir(folder.root());
    bool moving = false;
    for (int wait = 0; wait < 2000 && !moving && ksr.state() == QProcess::Running; ++wait) {
        moving = !dir.entryList({".keshlor-container-*"}, QDir::Files | QDir::Hidden).isEmpty();
        if (!moving)
            QThread::msleep(5);
    }
    ASSERT_TRUE(moving) << "the run ended before it could be interrupted";
    ::kill(static_cast<pid_t>(ksr.processId()), SIGINT);
    ASSERT_TRUE(ksr.waitForFinished(30000));
    EXPECT_EQ(ksr.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ksr.exitCode(), 130);
    EXPECT_EQ(dir.entryList(QDir::Files | QDir::Hidden), (QStringList{"big", "pw"}));
    EXPECT_EQ(ReadAll(plain), data);
}

} // namespace
