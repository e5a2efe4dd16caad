// ksr driven in-process with a scripted console, and once as a program. Known
// answers come from tests/data/vectors (made by an independent implementation).
#include "cli/ksr_main.h"
#include "known_vectors.h"
#include "platform/files.h"
#include "platform/ports.h"
#include "temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <set>
#include <utility>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
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
        KsrConsole console;
        console.writeOut = [this](const QString& t) { out += t; };
        console.writeError = [this](const QString& t) { err += t; };
        console.askTerminal = [this](const QString& prompt, bool echo, QByteArray* line) {
            prompts.emplace_back(prompt, echo);
            if (replies.empty())
                return TerminalRead::NoTerminal;
            *line = replies.front();
            replies.pop_front();
            return TerminalRead::Line;
        };
        return console;
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

// The program's password fields hold the same number of UTF-16 units.
TEST_F(KsrCli, PasswordsLongerThanTheProgramTakesAreRefusedBeforeAnyFile) {
    const QString plain = folder.Write("a.txt", "data");
    // 1023 units and one character outside the BMP: two units too many by one.
    const QByteArray tooLong = QByteArray(1023, 'x') + "\xF0\x9F\x98\x80";
    EXPECT_EQ(RunWith(tooLong, {plain}), kKsrUsage);
    EXPECT_TRUE(io.err.contains("longer than 1024")) << io.err.toStdString();
    io.replies = {tooLong, tooLong};
    EXPECT_EQ(Run({plain}), kKsrUsage);
    EXPECT_EQ(ReadAll(plain), "data");
    EXPECT_FALSE(Exists(plain + ".ksr"));

    const QByteArray longest = QByteArray(1022, 'x') + "\xF0\x9F\x98\x80";
    ASSERT_EQ(RunWith(longest, {"--no-wipe", plain}), kKsrDone) << io.err.toStdString();
    EXPECT_EQ(RunWith(longest, {plain + ".ksr"}), kKsrDone);
    EXPECT_EQ(ReadAll(plain), "data");
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
    EXPECT_TRUE(io.err.startsWith("ksr: " + container + ": Bad Password? Decryption failed"));
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
    EXPECT_TRUE(io.err.contains(": OK to overwrite? Keshlor file already exists."));
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

    // A folder at the target's name cannot be overwritten, whatever the answer.
    ASSERT_TRUE(QDir(folder.root()).mkdir("a.txt.ksr"));
    EXPECT_EQ(RunWith("pw", {"--yes", plain}), kKsrDeclined);
    EXPECT_TRUE(io.err.contains("Can't overwrite!"));
    EXPECT_TRUE(io.err.contains(container + "\u201d is a folder."));
    EXPECT_EQ(ReadAll(plain), "newer");
}

TEST_F(KsrCli, EngineFailuresArePrintedUnderTheirCaption) {
    const QString missing = folder.path("missing.txt");
    EXPECT_EQ(RunWith("pw", {missing}), kKsrFailed);
    // The system's own words stand beside the code.
    EXPECT_TRUE(io.err.startsWith("ksr: " + missing +
                                  ": Encryption Error: Unable to open file for reading (code "
                                  "21-2: No such file or directory): check"))
        << io.err.toStdString();
    EXPECT_EQ(RunWith("pw", {missing + ".ksr"}), kKsrFailed);
    EXPECT_TRUE(io.err.contains(": Decryption Error: Unable to open file for reading (code "
                                "18-2: No such file or directory)"));
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
        {QString(252, 'x')}, // a name with no room for the extension
        {"-j", "0", plain},
        {"-vq", plain},
        {"encrypt", plain, "-"},
        {"--stdout", plain, plain},
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
    EXPECT_EQ(io.err.count("ro.txt: Can't wipe! Wipe failed! Close any other"), 4);
    EXPECT_EQ(io.err.count("ro2.txt: Can't wipe! Wipe failed! Close any other"), 4);
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
    EXPECT_TRUE(io.err.contains("hello.txt: Can't wipe! The wipe was abandoned, so the file "
                                "was deleted without its data being overwritten."))
        << io.err.toStdString();
    EXPECT_EQ(ReadAll(hello + ".ksr"), container);
    EXPECT_FALSE(Exists(hello));

    // A read-only container cannot be deleted after its decryption.
    ASSERT_TRUE(plat::SetFileAttributes(hello + ".ksr", plat::kAttrReadOnly));
    EXPECT_EQ(RunWith("password", {"--high", hello + ".ksr"}), kKsrFailed);
    EXPECT_TRUE(io.err.contains("hello.txt.ksr: Delete Error: the file was decrypted, but the "
                                "container could not be deleted: File couldn't be deleted (code "
                                "38-5: Permission denied)"))
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

// A password file only its owner reads, so that ksr does not warn about it.
QString PasswordFile(const TempFolder& folder, const QString& name, const QByteArray& content) {
    const QString path = folder.Write(name, content);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

struct ProgramRun {
    int status = -1;
    QByteArray out;
    QString err;
};

// The built program as a script runs it: no controlling terminal, and its
// settings (XDG_CONFIG_HOME) and temporary files (TMPDIR) in `folder`.
void PrepareProgram(const TempFolder& folder, QProcess* ksr) {
    QDir().mkpath(folder.path("tmp"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", folder.root());
    env.insert("XDG_CONFIG_HOME", folder.path("config"));
    env.insert("TMPDIR", folder.path("tmp"));
    ksr->setProcessEnvironment(env);
    ksr->setWorkingDirectory(folder.root());
    ksr->setChildProcessModifier([] { setsid(); });
}

ProgramRun RunProgram(const TempFolder& folder, const QStringList& args,
                      const QByteArray& input = QByteArray()) {
    QProcess ksr;
    PrepareProgram(folder, &ksr);
    ksr.start(KSR_PROGRAM, args);
    ksr.write(input);
    ksr.closeWriteChannel();
    ProgramRun run;
    if (!ksr.waitForFinished(60000))
        return run;
    run.out = ksr.readAllStandardOutput();
    run.err = QString::fromUtf8(ksr.readAllStandardError());
    run.status = ksr.exitStatus() == QProcess::NormalExit ? ksr.exitCode() : -1;
    return run;
}

void StoreSettings(const TempFolder& folder,
                   std::initializer_list<std::pair<const char*, int>> values) {
    QDir().mkpath(folder.path("config/TQ"));
    QSettings store(folder.path("config/TQ/Keshlor.conf"), QSettings::IniFormat);
    for (const auto& [name, value] : values)
        store.setValue(name, value);
}

TEST(KsrCliProgram, RunsWithoutATerminalFromAPasswordFile) {
    TempFolder folder;
    const QString hello = folder.Write("hello.txt", HelloText());
    const QString pw = folder.Write("pw", "password\n");
    StoreSettings(folder, {{"FastCompression", 0}, {"HideEncrypted", 0}});

    const auto run = [&](const QStringList& args, QString* err) {
        const ProgramRun done = RunProgram(folder, args);
        *err = done.err;
        return done.status;
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
    EXPECT_EQ(run({"--yes", hello + ".ksr"}, &err), kKsrUsage);
}

// Paths are counted in bytes as Linux counts them: one of 300 characters is
// taken whole, and a name with no room for ".ksr" is refused by its name.
TEST(KsrCliProgram, DeepPathsAreTakenAndANameWithoutRoomForTheExtensionIsNamed) {
    TempFolder folder;
    const QString pw = folder.Write("pw", "password\n");
    QString deep = folder.root();
    while (deep.size() < 250)
        deep += QLatin1Char('/') + QString(40, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString plain = deep + QLatin1Char('/') + QString(299 - deep.size(), QLatin1Char('n'));
    ASSERT_EQ(plain.size(), 300);
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("deep down") == 9);
    file.close();

    ProgramRun run = RunProgram(folder, {"--password-file", pw, "--no-wipe", plain});
    ASSERT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_FALSE(Exists(plain));
    run = RunProgram(folder, {"--password-file", pw, plain + ".ksr"});
    ASSERT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_EQ(ReadAll(plain), QByteArray("deep down"));

    const QString wide = folder.Write(QString(252, QLatin1Char('w')), "wide");
    run = RunProgram(folder, {"--password-file", pw, wide});
    EXPECT_EQ(run.status, kKsrUsage);
    EXPECT_TRUE(run.err.contains(wide + ": too long to take the .ksr extension"))
        << run.err.toStdString();
    EXPECT_EQ(ReadAll(wide), QByteArray("wide"));
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

// A pseudo-terminal whose other side a test reads; `name` is where a program opens it.
struct PseudoTerminal {
    int master = -1;
    QString name;
    PseudoTerminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            name = QString::fromLocal8Bit(ptsname(master));
    }
    ~PseudoTerminal() {
        if (master >= 0)
            ::close(master);
    }
    QByteArray Drain() const {
        QByteArray seen;
        char piece[4096];
        ssize_t count = 0;
        while ((count = ::read(master, piece, sizeof piece)) > 0)
            seen.append(piece, count);
        return seen;
    }
};

TEST(KsrCliProgram, VersionKeepVerboseQuietAndTheSavedSettingsNote) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw");
    for (const char* flag : {"--version", "-V"}) {
        const ProgramRun run = RunProgram(folder, {flag});
        EXPECT_EQ(run.status, kKsrDone);
        EXPECT_EQ(run.out, "ksr 2.13.0.1\n");
    }

    // The program was switched to 40-bit keys; wiping is saved at its default.
    StoreSettings(folder, {{"HighEncryption", 0}, {"WipePlainFiles", 1}});
    const QString plain = folder.Write("a.txt", "kept");
    ProgramRun run = RunProgram(folder, {"-k", "-v", "--password-file", pw, plain});
    ASSERT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_EQ(run.err, "ksr: using the program's saved settings: low encryption (40-bit)\n"
                       "ksr: " +
                           plain + ": encrypted to " + plain + ".ksr; the plain file was kept\n");
    EXPECT_EQ(ReadAll(plain), "kept");

    // A flag, or --quiet, leaves the note out; decryption keeps its container too.
    run = RunProgram(folder, {"--keep", "--low", "--yes", "--password-file", pw, plain + ".ksr"});
    EXPECT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("saved settings"));
    EXPECT_TRUE(Exists(plain + ".ksr"));
    run = RunProgram(folder, {"-q", "--password-file", pw, plain + ".ksr"});
    EXPECT_EQ(run.status, kKsrDeclined);
    EXPECT_FALSE(run.err.contains("saved settings")) << run.err.toStdString();
}

TEST(KsrCliProgram, FilterRoundTripsAndNeverLetsOutUncheckedPlainText) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "password");
    const QString other = PasswordFile(folder, "other", "not the password");
    const QDir staging(folder.path("tmp"));
    const QByteArray container = VectorContainer("hello.txt__high__L9__0.ksr");

    ProgramRun run = RunProgram(folder, {"encrypt", "--high", "--best", "--password-file", pw, "-"},
                                HelloText());
    ASSERT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_EQ(run.out, container);
    run = RunProgram(folder, {"decrypt", "--password-file", pw, "-"}, container);
    EXPECT_EQ(run.status, kKsrDone);
    EXPECT_EQ(run.out, HelloText());

    // A wrong password or a container cut short: no byte on standard output.
    run = RunProgram(folder, {"decrypt", "--password-file", other, "-"}, container);
    EXPECT_EQ(run.status, kKsrBadData);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.startsWith("ksr: standard input: Bad Password? ")) << run.err.toStdString();
    const QByteArray bigContainer =
        RunProgram(folder, {"encrypt", "--password-file", pw, "-"}, TextBytes(1 << 20)).out;
    run = RunProgram(folder, {"decrypt", "--password-file", pw, "-"},
                     bigContainer.left(bigContainer.size() / 2 / 8 * 8));
    EXPECT_EQ(run.status, kKsrBadData);
    EXPECT_TRUE(run.out.isEmpty());

    // --stdout on a named file keeps it.
    const QString named = folder.Write("hello.txt.ksr", container);
    run = RunProgram(folder, {"--stdout", "--password-file", pw, named});
    EXPECT_EQ(run.out, HelloText());
    EXPECT_EQ(ReadAll(named), container);

    // Standard input cannot carry both the data and the password.
    run = RunProgram(folder, {"decrypt", "--password-fd", "0", "-"}, "password");
    EXPECT_EQ(run.status, kKsrUsage);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(staging.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());

    // Past the hold-back budget the data flows: a container cut later gives
    // all that came before the cut, then the failure's status.
    const QByteArray longText = TextBytes(40 << 20);
    const QByteArray longContainer = RunProgram(folder, {"--password-file", pw, "-"}, longText).out;
    const QString cut =
        folder.Write("cut.ksr", longContainer.left(longContainer.size() * 3 / 4 / 8 * 8));
    run = RunProgram(folder, {"-dc", "--password-file", pw, cut});
    EXPECT_EQ(run.status, kKsrBadData);
    EXPECT_GT(run.out.size(), 16 << 20);
    EXPECT_TRUE(longText.startsWith(run.out));
    EXPECT_TRUE(run.err.endsWith(": the data written to standard output before this is "
                                 "incomplete\n"))
        << run.err.toStdString();

    // No container on a terminal.
    PseudoTerminal terminal;
    ASSERT_FALSE(terminal.name.isEmpty());
    QProcess toTerminal;
    PrepareProgram(folder, &toTerminal);
    toTerminal.setStandardOutputFile(terminal.name);
    toTerminal.start(KSR_PROGRAM, {"encrypt", "--password-file", pw, "-"});
    toTerminal.write(HelloText());
    toTerminal.closeWriteChannel();
    ASSERT_TRUE(toTerminal.waitForFinished(30000));
    EXPECT_EQ(toTerminal.exitCode(), kKsrUsage);
    EXPECT_TRUE(toTerminal.readAllStandardError().contains("standard output is a terminal"));
    EXPECT_TRUE(terminal.Drain().isEmpty());
}

// Files finish out of order in their workers; their messages do not.
TEST(KsrCliProgram, JobsKeepMessagesInOrderAndTheFirstFailureGivesTheStatus) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pass\n\n"); // its own final newline stays
    const QByteArray bigData = NoiseBytes(24 * 1024 * 1024);
    const QString big = folder.Write("big", bigData);
    const QString missing = folder.path("missing");
    const QString small = folder.Write("small", "small");
    const QString taken = folder.Write("taken", "taken");
    folder.Write("taken.ksr", "in the way");

    ProgramRun run = RunProgram(folder, {"-j", "3", "-v", "--best", "--no-wipe", "--no-hide",
                                         "--password-file", pw, big, missing, small, taken});
    EXPECT_EQ(run.status, kKsrFailed);
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << run.err.toStdString();
    // The overwrite question comes before the password, so before any file's messages.
    EXPECT_TRUE(lines[0].startsWith("ksr: " + taken + ": OK to overwrite? "));
    EXPECT_EQ(lines[1], "ksr: " + taken + ": answered No (no terminal to ask)");
    EXPECT_EQ(lines[2],
              "ksr: " + big + ": encrypted to " + big + ".ksr; the plain file was deleted");
    EXPECT_TRUE(lines[3].startsWith("ksr: " + missing + ": Encryption Error: "));
    EXPECT_TRUE(lines[4].startsWith("ksr: " + small + ": encrypted to "));

    // The same password reached every worker.
    run = RunProgram(folder, {"--jobs=2", "--password-file", pw, big + ".ksr", small + ".ksr"});
    EXPECT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_EQ(ReadAll(big), bigData);
    EXPECT_EQ(ReadAll(small), "small");
    // The first file that did not succeed gives the status, here a declined one.
    run = RunProgram(folder, {"-j2", "--no", "--password-file", pw, taken, missing});
    EXPECT_EQ(run.status, kKsrDeclined);
}

TEST(KsrCliProgram, ProgressIsDrawnOnATerminalOnlyAndCleared) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw");
    const QString big = folder.Write("big", NoiseBytes(48 * 1024 * 1024));
    PseudoTerminal terminal;
    ASSERT_FALSE(terminal.name.isEmpty());
    QProcess ksr;
    PrepareProgram(folder, &ksr);
    ksr.setStandardErrorFile(terminal.name);
    ksr.start(KSR_PROGRAM, {"--best", "--keep", "--password-file", pw, big});
    QByteArray drawn;
    while (!ksr.waitForFinished(50))
        drawn += terminal.Drain();
    drawn += terminal.Drain();
    EXPECT_EQ(ksr.exitCode(), kKsrDone);
    EXPECT_TRUE(drawn.contains(" MiB of 48.0 MiB, ")) << drawn.toStdString();
    EXPECT_TRUE(drawn.endsWith("\r\x1b[K")) << "the line is cleared at the end";

    const ProgramRun piped = RunProgram(folder, {"--password-file", pw, "--yes", big + ".ksr"});
    EXPECT_EQ(piped.status, kKsrDone);
    EXPECT_EQ(piped.err.count('\r'), 0) << piped.err.toStdString();
}

// A filter holds nothing on the disk: stopped or killed mid-stream, it leaves
// nothing behind, and what earlier versions staged under $TMPDIR goes with
// the next run.
TEST(KsrCliProgram, AFilterStreamsAndLeavesNothingOnTheDisk) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw");
    const QDir staging(folder.path("tmp"));
    ASSERT_TRUE(QDir().mkpath(folder.path("tmp/ksr-Old123")));
    folder.Write("tmp/ksr-Old123/input", "plain text an earlier version staged");
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        QProcess ksr;
        PrepareProgram(folder, &ksr);
        ksr.start(KSR_PROGRAM, {"--password-file", pw, "-"});
        ksr.write(NoiseBytes(1 << 20));
        // The container comes out while standard input is still open.
        QByteArray out;
        while (out.isEmpty() && ksr.waitForReadyRead(30000))
            out += ksr.readAllStandardOutput();
        ASSERT_FALSE(out.isEmpty());
        ::kill(static_cast<pid_t>(ksr.processId()), signal);
        ASSERT_TRUE(ksr.waitForFinished(30000));
        if (signal == SIGTERM) {
            EXPECT_EQ(ksr.exitCode(), 143);
        }
        EXPECT_EQ(staging.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList());
        EXPECT_EQ(QDir(folder.root()).entryList(QDir::Files | QDir::Hidden), QStringList{"pw"});
    }
}

TEST(KsrCliProgram, AReaderThatGoesAwayEndsTheRunQuietly) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw");
    const QString container = folder.Write(
        "c.ksr", RunProgram(folder, {"--password-file", pw, "-"}, TextBytes(4 << 20)).out);
    // ksr -d -c c.ksr | head -c 1000
    QProcess ksr;
    QProcess head;
    PrepareProgram(folder, &ksr);
    ksr.setStandardOutputProcess(&head);
    head.start("head", {"-c", "1000"});
    ksr.start(KSR_PROGRAM, {"-d", "-c", "--password-file", pw, container});
    ASSERT_TRUE(head.waitForFinished(30000));
    EXPECT_EQ(head.readAllStandardOutput(), TextBytes(1000));
    ASSERT_TRUE(ksr.waitForFinished(30000));
    EXPECT_EQ(ksr.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ksr.exitCode(), kKsrReaderGone);
    EXPECT_EQ(ksr.readAllStandardError(), QByteArray());
    EXPECT_EQ(QDir(folder.path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList());
}

TEST(KsrCliProgram, TestOpensEachContainerAndWritesNothing) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "password");
    const QString other = PasswordFile(folder, "other", "not the password");
    const QByteArray container = VectorContainer("hello.txt__high__L9__0.ksr");
    const QString good = folder.Write("good.ksr", container);
    const QString cut = folder.Write("cut.ksr", container.left(container.size() - 8));
    const QStringList before = QDir(folder.root()).entryList(QDir::Files | QDir::Hidden);

    ProgramRun run = RunProgram(folder, {"test", "--password-file", pw, good});
    EXPECT_EQ(run.status, kKsrDone) << run.err.toStdString();
    run = RunProgram(folder, {"-t", "--password-file", other, good});
    EXPECT_EQ(run.status, kKsrBadData);
    EXPECT_TRUE(run.err.startsWith("ksr: " + good + ": Bad Password? "));
    run = RunProgram(folder, {"test", "--password-file", pw, good, cut});
    EXPECT_EQ(run.status, kKsrBadData);
    EXPECT_TRUE(run.err.startsWith("ksr: " + cut + ": Bad Password? "));
    run = RunProgram(folder, {"-tv", "--password-file", pw, "-"}, container);
    EXPECT_EQ(run.status, kKsrDone);
    EXPECT_EQ(run.err, "ksr: standard input: OK: it opens with the password and decompresses to "
                       "its end\n");
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(QDir(folder.root()).entryList(QDir::Files | QDir::Hidden), before);
    EXPECT_EQ(ReadAll(good), container);
}

TEST(KsrCliProgram, ShortFormsAndFirstArgumentsAsGzipUsersTypeThem) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw");
    folder.Write("-", "a file named -");
    folder.Write("test", "a file named test");
    // ./- and ./test name files; "-" alone is standard input, encrypted without a command.
    ProgramRun run = RunProgram(folder, {"--keep", "--password-file", pw, "./-", "./test"});
    ASSERT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_TRUE(Exists(folder.path("-.ksr")));
    const ProgramRun filtered = RunProgram(folder, {"--password-file", pw, "-"}, "from input");
    ASSERT_EQ(filtered.status, kKsrDone);
    run = RunProgram(folder, {"-dc", "--password-file", pw, "-"}, filtered.out);
    EXPECT_EQ(run.out, "from input");
    // -f answers yes; -d decrypts.
    run = RunProgram(folder, {"-kf", "--password-file", pw, "./test"});
    EXPECT_EQ(run.status, kKsrDone);
    EXPECT_TRUE(run.err.contains("test: answered Yes (--yes)"));
    run = RunProgram(folder, {"-d", "-f", "--password-file", pw, "test.ksr"});
    EXPECT_EQ(run.status, kKsrDone);
    EXPECT_EQ(ReadAll(folder.path("test")), "a file named test");
    EXPECT_FALSE(Exists(folder.path("test.ksr")));

    // Options it does not know are shown as they were typed.
    run = RunProgram(folder, {"--bogus=1", "./-"});
    EXPECT_EQ(run.status, kKsrUsage);
    EXPECT_TRUE(run.err.startsWith("ksr: unknown option '--bogus'\n"));
    run = RunProgram(folder, {"-kz", "./-"});
    EXPECT_TRUE(run.err.startsWith("ksr: unknown option '-z' (in '-kz')\n"));
    const QByteArray help = RunProgram(folder, {"--help"}).out;
    for (const char* form : {"  -d  ", "  -t  ", "-c, --stdout", "-f, --yes"})
        EXPECT_TRUE(help.contains(form)) << form;
}

// The file a password is read from is never encrypted, decrypted or replaced:
// a key that exists only inside the container it opens is lost.
TEST(KsrCliProgram, ThePasswordsFileIsNeverAMemberOfTheRun) {
    TempFolder folder;
    const QString key = PasswordFile(folder, "key", "k");
    const QString doc = folder.Write("doc", "d");
    ProgramRun run = RunProgram(folder, {"--password-file", key, key, doc});
    EXPECT_EQ(run.status, kKsrFailed);
    EXPECT_TRUE(run.err.startsWith("ksr: " + key +
                                   ": skipped: it holds the password of this run "
                                   "(--password-file)"))
        << run.err.toStdString();
    EXPECT_EQ(ReadAll(key), "k");
    EXPECT_TRUE(Exists(doc + ".ksr"));

    // The same file under another name and a descriptor, with workers; and a
    // file whose container would replace the key.
    ASSERT_EQ(::link(QFile::encodeName(key).constData(),
                     QFile::encodeName(folder.path("alias")).constData()),
              0);
    const QString sealed = folder.Write("sealed", "s");
    QFile::rename(key, sealed + ".ksr");
    const QString other = folder.Write("other", "o");
    QProcess ksr;
    PrepareProgram(folder, &ksr);
    const QByteArray opened = QFile::encodeName(sealed + ".ksr");
    ksr.setChildProcessModifier([opened] {
        setsid();
        dup2(::open(opened.constData(), O_RDONLY), 3);
    });
    ksr.start(KSR_PROGRAM, {"-j", "2", "--password-fd", "3", "alias", "sealed", "other"});
    ASSERT_TRUE(ksr.waitForFinished(30000));
    EXPECT_EQ(ksr.exitCode(), kKsrFailed);
    const QString err = QString::fromUtf8(ksr.readAllStandardError());
    EXPECT_TRUE(err.startsWith("ksr: alias: skipped: it holds the password of this run "
                               "(--password-fd 3)"))
        << err.toStdString();
    EXPECT_TRUE(err.contains("ksr: sealed: skipped: its result would replace sealed.ksr, which "
                             "holds the password of this run"));
    EXPECT_EQ(ReadAll(folder.path("alias")), "k");
    EXPECT_EQ(ReadAll(sealed), "s");
    EXPECT_TRUE(Exists(folder.path("other.ksr")));

    // Standard input cannot be both the data and its password.
    run = RunProgram(folder, {"--password-file", "/dev/stdin", "-"}, "data");
    EXPECT_EQ(run.status, kKsrUsage);
    EXPECT_TRUE(run.out.isEmpty());
}

// The worker processes `pid` started that are still there. Only those that
// run as workers count: a sanitizer's leak check at the end clones a helper
// process too, which shares its parent's command line.
QList<pid_t> WorkersOf(qint64 pid) {
    QList<pid_t> children;
    for (const QByteArray& item :
         ReadAll(QStringLiteral("/proc/%1/task/%1/children").arg(pid)).split(' ')) {
        const pid_t child = item.trimmed().toInt();
        if (child > 0 &&
            ReadAll(QStringLiteral("/proc/%1/cmdline").arg(child)).contains("--worker-channel"))
            children << child;
    }
    return children;
}

bool HasOpen(pid_t pid, const QString& path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QStringList all = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return std::any_of(all.begin(), all.end(), [&](const QString& fd) {
        return QFile::symLinkTarget(fds.filePath(fd)) == path;
    });
}

// Many files go through the few workers that -j allows; a worker killed in
// the middle of a file fails that file alone, and the rest goes on in a new one.
TEST(KsrCliProgram, FewWorkersTakeEveryFileAndOneKilledFailsOnlyItsFile) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw");
    const QByteArray bigData = NoiseBytes(48 << 20);
    const QString big = folder.Write("big", bigData);
    QStringList args = {"-j", "2", "--best", "--no-wipe", "--no-hide", "--no", "--password-file",
                        pw,   big};
    QStringList small;
    for (int i = 0; i < 150; ++i)
        small << folder.Write(QStringLiteral("s%1").arg(i), QByteArray(4096, 'a' + i % 26));
    const QString taken = folder.Write("taken", "t");
    folder.Write("taken.ksr", "in the way");
    args << small << taken;

    QProcess ksr;
    PrepareProgram(folder, &ksr);
    ksr.start(KSR_PROGRAM, args);
    ASSERT_TRUE(ksr.waitForStarted());
    std::set<pid_t> workers;
    bool killed = false;
    while (!ksr.waitForFinished(1)) {
        for (const pid_t child : WorkersOf(ksr.processId())) {
            workers.insert(child);
            if (!killed && HasOpen(child, big))
                killed = ::kill(child, SIGKILL) == 0;
        }
    }
    ASSERT_TRUE(killed);
    EXPECT_EQ(workers.size(), 3u) << "two, and one in place of the killed one";
    EXPECT_EQ(ksr.exitCode(), kKsrFailed) << "the first file that failed";
    const QStringList lines =
        QString::fromUtf8(ksr.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("ksr: " + taken + ": OK to overwrite? "));
    EXPECT_EQ(lines[2], "ksr: " + big + ": its worker process ended by signal 9");
    EXPECT_EQ(ReadAll(big), bigData);
    for (const QString& file : small)
        EXPECT_TRUE(Exists(file + ".ksr") && !Exists(file)) << file.toStdString();
    EXPECT_EQ(QDir(folder.root()).entryList({".keshlor-*"}, QDir::Files | QDir::Hidden),
              QStringList());
}

// Arguments that name the same files run one after another, as one process
// runs them, and each worker has the password byte for byte.
TEST(KsrCliProgram, JobsGiveTheOutcomeOfOneProcess) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw\r");
    const QString a = folder.Write("a", "OLD");
    ASSERT_EQ(RunProgram(folder, {"--password-file", pw, a}).status, kKsrDone);
    ASSERT_TRUE(QFile::link(folder.root(), folder.path("via")));
    const QByteArray newer = NoiseBytes(24 << 20);
    folder.Write("a", newer);
    // The newer plain file replaces the older container, which then gives it back.
    ProgramRun run =
        RunProgram(folder, {"-j", "2", "--yes", "--password-file", pw, "a", "via/a.ksr"});
    EXPECT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_EQ(ReadAll(a), newer);
    EXPECT_FALSE(Exists(a + ".ksr"));
    // A second name of the file finds it gone, as it would after the first.
    run = RunProgram(folder, {"-j", "2", "--password-file", pw, "a", "./a"});
    EXPECT_EQ(run.status, kKsrFailed);
    EXPECT_TRUE(run.err.startsWith("ksr: ./a: Encryption Error: Unable to open file for reading "
                                   "(code 21-2: "))
        << run.err.toStdString();
    // One process opens what the workers made, with the same password file.
    run = RunProgram(folder, {"--password-file", pw, "a.ksr"});
    EXPECT_EQ(run.status, kKsrDone) << run.err.toStdString();
    EXPECT_EQ(ReadAll(a), newer);
}

// Waits until the terminal has shown `expected` after `*from`, then moves
// `*from` past it. False after 10 seconds.
bool Await(const PseudoTerminal& terminal, QByteArray* seen, qsizetype* from,
           const QByteArray& expected) {
    for (int wait = 0; wait < 2000; ++wait) {
        *seen += terminal.Drain();
        const qsizetype at = seen->indexOf(expected, *from);
        if (at >= 0) {
            *from = at + expected.size();
            return true;
        }
        QThread::msleep(5);
    }
    return false;
}

// Typing a password before echo is off would be thrown away with the input.
void TypeHidden(const PseudoTerminal& terminal, const QByteArray& line) {
    struct termios settings;
    for (int wait = 0; wait < 2000; ++wait) {
        if (tcgetattr(terminal.master, &settings) == 0 && !(settings.c_lflag & ECHO))
            break;
        QThread::msleep(5);
    }
    ASSERT_EQ(::write(terminal.master, line.constData(), line.size()), line.size());
}

// ksr with `terminal` as its controlling terminal and standard error.
void StartOnTerminal(const TempFolder& folder, const PseudoTerminal& terminal,
                     const QStringList& args, QProcess* ksr) {
    PrepareProgram(folder, ksr);
    const QByteArray name = QFile::encodeName(terminal.name);
    ksr->setChildProcessModifier([name] {
        setsid();
        dup2(::open(name.constData(), O_RDWR), STDERR_FILENO);
    });
    ksr->start(KSR_PROGRAM, args);
}

TEST(KsrCliProgram, OverwriteQuestionsComeFirstInOrderAndCtrlCEndsThePromptsLine) {
    TempFolder folder;
    const QString pw = PasswordFile(folder, "pw", "pw");
    for (const char* name : {"a", "b"}) {
        folder.Write(name, "old");
        ASSERT_EQ(RunProgram(folder, {"--password-file", pw, name}).status, kKsrDone);
        folder.Write(name, "new");
    }
    folder.Write("c", "new");
    PseudoTerminal terminal;
    ASSERT_FALSE(terminal.name.isEmpty());
    QProcess ksr;
    StartOnTerminal(folder, terminal, {"-j", "2", "a", "b", "c"}, &ksr);
    QByteArray seen;
    qsizetype from = 0;
    ASSERT_TRUE(Await(terminal, &seen, &from, "ksr: a: OK to overwrite? ")) << seen.toStdString();
    ASSERT_TRUE(Await(terminal, &seen, &from, "[n]: "));
    ASSERT_EQ(::write(terminal.master, "y\n", 2), 2);
    ASSERT_TRUE(Await(terminal, &seen, &from, "ksr: b: OK to overwrite? ")) << seen.toStdString();
    ASSERT_TRUE(Await(terminal, &seen, &from, "[n]: "));
    ASSERT_EQ(::write(terminal.master, "n\n", 2), 2);
    ASSERT_TRUE(Await(terminal, &seen, &from, "Password: ")) << seen.toStdString();
    TypeHidden(terminal, "pw\n");
    ASSERT_TRUE(Await(terminal, &seen, &from, "Confirm password: "));
    TypeHidden(terminal, "pw\n");
    ASSERT_TRUE(ksr.waitForFinished(30000));
    seen += terminal.Drain();
    EXPECT_EQ(ksr.exitCode(), kKsrDeclined) << seen.toStdString();
    EXPECT_EQ(seen.count("OK to overwrite?"), 2) << "asked again: " << seen.toStdString();
    EXPECT_TRUE(RunProgram(folder, {"--password-file", pw, "-dc", "a.ksr"}).out == "new");
    EXPECT_EQ(ReadAll(folder.path("b")), "new");
    EXPECT_TRUE(Exists(folder.path("c.ksr")));

    // Ctrl+C at the password prompt leaves the terminal on a line of its own.
    QProcess stopped;
    StartOnTerminal(folder, terminal, {"b"}, &stopped);
    seen.clear();
    from = 0;
    ASSERT_TRUE(Await(terminal, &seen, &from, "Answer y(es) or n(o) [n]: "));
    ASSERT_EQ(::write(terminal.master, "y\n", 2), 2);
    ASSERT_TRUE(Await(terminal, &seen, &from, "Password: "));
    TypeHidden(terminal, "");
    ::kill(static_cast<pid_t>(stopped.processId()), SIGINT);
    ASSERT_TRUE(stopped.waitForFinished(30000));
    seen += terminal.Drain();
    EXPECT_EQ(stopped.exitCode(), 130);
    EXPECT_TRUE(seen.endsWith("Password: \r\n")) << seen.toStdString();
}

} // namespace
