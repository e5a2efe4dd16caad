// The built library and its driver as an installer runs them: exactly the
// installer's four exports, an installation and a removal step by step, the
// question with and without a terminal, down to the real program of another
// user closed with its options saved, and a whole per-user installation.
#include "fake_copy.h"
#include "setup/running_copies.h"
#include "setup/setup_store.h"
#include "temp_folder.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using testing_files::Exists;
using testing_files::ReadAll;
using namespace testing_setup;

namespace {

const QByteArray kQuestion = "Keshlor is still running: it will be closed before continuing.";

struct DriverRun {
    int code = -1;
    QByteArray output;
};

class Package : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.valid());
        // XDG_RUNTIME_DIR and TMPDIR of this test's own, for the driver too.
        runtime_ = std::make_unique<ScopedRuntime>(folder_.root());
        ASSERT_TRUE(runtime_->valid());
        for (const char* sub : {"lib/keshlor", "bin", "applications"})
            ASSERT_TRUE(QDir().mkpath(folder_.path(QString::fromLatin1(sub))));
        store_ = folder_.path(QStringLiteral("TQ/Keshlor.conf"));
        instance_ = UniqueInstance();
        temp_ = folder_.Write(QStringLiteral("lib/keshlor/keshlor"), "new build");
        app_ = folder_.path(QStringLiteral("bin/keshlor"));
        link_ = folder_.path(QStringLiteral("applications/org.keshlor.Keshlor.desktop"));
    }

    QString InstallDir() const { return folder_.path(QStringLiteral("bin")); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KESHLOR_SETUP_STORE"), store_);
        environment.insert(QStringLiteral("KESHLOR_INSTANCE"), QString::fromLatin1(instance_));
        environment.remove(QStringLiteral("DEBIAN_FRONTEND"));
        return environment;
    }

    // As a script run with no terminal: stdin from /dev/null, output to a pipe.
    DriverRun Driver(const QStringList& arguments,
                     const QProcessEnvironment& environment = {}) const {
        QProcess driver;
        driver.setProcessEnvironment(environment.isEmpty() ? Environment() : environment);
        driver.setStandardInputFile(QProcess::nullDevice());
        driver.setProcessChannelMode(QProcess::MergedChannels);
        driver.start(QStringLiteral(KESHLOR_SETUP_DRIVER), arguments);
        if (!driver.waitForFinished(30000) || driver.exitStatus() != QProcess::NormalExit)
            return {};
        return {driver.exitCode(), driver.readAll()};
    }

    // As a script run in a terminal where the user types `typed` once the
    // question's prompt shows.
    DriverRun DriverOnTerminal(const QStringList& arguments, const QProcessEnvironment& environment,
                               const QByteArray& typed) const {
        std::vector<std::string> strings{KESHLOR_SETUP_DRIVER};
        for (const QString& argument : arguments)
            strings.push_back(argument.toStdString());
        std::vector<std::string> variables;
        for (const QString& variable : environment.toStringList())
            variables.push_back(variable.toStdString());
        std::vector<char*> argv, envp;
        for (std::string& s : strings)
            argv.push_back(s.data());
        for (std::string& s : variables)
            envp.push_back(s.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        int terminal = -1;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (child < 0)
            return {};
        if (child == 0) {
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        DriverRun run;
        qsizetype answered = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000) {
            pollfd watch{terminal, POLLIN, 0};
            if (poll(&watch, 1, 100) > 0) {
                char buffer[256];
                const ssize_t n = read(terminal, buffer, sizeof(buffer));
                if (n <= 0 && errno != EINTR)
                    break; // the driver has gone and its terminal with it
                if (n > 0)
                    run.output.append(buffer, n);
            }
            // The first question gets `typed`; any further one, No.
            if (run.output.count("(n)? ") > answered) {
                const QByteArray answer = answered++ == 0 ? typed : QByteArray("n\n");
                (void)!write(terminal, answer.constData(), static_cast<size_t>(answer.size()));
            }
        }
        int status = 0;
        if (clock.elapsed() >= 60000)
            kill(child, SIGKILL);
        waitpid(child, &status, 0);
        close(terminal);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    testing_files::TempFolder folder_;
    std::unique_ptr<ScopedRuntime> runtime_;
    QString store_;
    QByteArray instance_;
    QString temp_, app_, link_;
};

TEST(PackageLibrary, ExportsExactlyTheInstallersFourFunctions) {
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                    QStringLiteral(KESHLOR_SETUP_LIBRARY)});
    if (!nm.waitForStarted())
        GTEST_SKIP() << "nm is not installed";
    ASSERT_TRUE(nm.waitForFinished(30000));
    ASSERT_EQ(nm.exitCode(), 0);
    QStringList names;
    for (const QByteArray& line : nm.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 3)
            names << QString::fromLatin1(fields[2]);
    }
    names.sort();
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("Install_Exit"), QStringLiteral("Install_Init"),
                           QStringLiteral("Uninstall_Exit"), QStringLiteral("Uninstall_Init")}));
}

TEST_F(Package, TheDriverRunsAnInstallationAndARemovalStepByStep) {
    EXPECT_EQ(Driver({QStringLiteral("install-init"), InstallDir()}).code, 0);
    // The installer's part: the files are there, now the paths.
    ASSERT_EQ(Driver({QStringLiteral("record-paths"), temp_, app_, link_}).code, 0);
    EXPECT_EQ(Driver({QStringLiteral("install-exit"), InstallDir()}).code, 0);
    EXPECT_EQ(ReadAll(app_), "new build");
    EXPECT_FALSE(Exists(temp_));
    EXPECT_TRUE(ReadAll(link_).split('\n').contains("Exec=\"" + QFile::encodeName(app_) + "\" %F"));

    // Re-installation with no copy running: no question, nothing deleted.
    const DriverRun again = Driver(
        {QStringLiteral("install-init"), QStringLiteral("--previously-installed"), InstallDir()});
    EXPECT_EQ(again.code, 0);
    EXPECT_FALSE(again.output.contains(kQuestion));
    EXPECT_EQ(ReadAll(app_), "new build");

    EXPECT_EQ(Driver({QStringLiteral("uninstall-init"), InstallDir()}).code, 0);
    EXPECT_FALSE(Exists(link_));
    EXPECT_FALSE(Exists(app_));
    EXPECT_EQ(ReadAll(temp_), "new build");
    EXPECT_EQ(Driver({QStringLiteral("forget-paths")}).code, 0);
    EXPECT_FALSE(Exists(store_));
    EXPECT_EQ(Driver({QStringLiteral("uninstall-exit")}).code, 0);

    EXPECT_EQ(Driver({QStringLiteral("install-init"), QStringLiteral("--now"), InstallDir()}).code,
              2);
    EXPECT_EQ(Driver({QStringLiteral("install-exit")}).code, 2);
}

// A per-user installation from an installed tree into a home of the test's
// own: the hooks' exchange, their question on the terminal (and Cancel with
// nobody to ask), the paths in the user's settings beside the program's
// options, and a removal that takes back every file it put there.
TEST_F(Package, APerUserInstallationRunsTheHooksAndItsRemovalLeavesNothing) {
    const QString prefix = folder_.path(QStringLiteral("prefix"));
    const QString home = folder_.path(QStringLiteral("home"));
    const QStringList icons = {QStringLiteral("icons/hicolor/48x48/apps/keshlor.png"),
                               QStringLiteral("icons/hicolor/scalable/mimetypes/"
                                              "application-x-keshlor.svg")};
    for (const QString& file : icons + QStringList{QStringLiteral("mime/packages/keshlor.xml"),
                                                   QStringLiteral("icons/hicolor/48x48/apps/"
                                                                  "another-program.png")}) {
        const QString path = QStringLiteral("prefix/share/") + file;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(folder_.path(path)).absolutePath()));
        ASSERT_FALSE(folder_.Write(path, file.toUtf8()).isEmpty());
    }
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/bin")));
    folder_.Write(QStringLiteral("prefix/bin/keshlor"), "new build");
    folder_.Write(QStringLiteral("prefix/bin/ksr"), "ksr build");
    ASSERT_TRUE(QDir().mkpath(home));

    QProcessEnvironment user = Environment();
    user.insert(QStringLiteral("HOME"), home);
    user.remove(QStringLiteral("XDG_CONFIG_HOME"));
    user.remove(QStringLiteral("XDG_DATA_HOME"));
    const QStringList install = {QStringLiteral("install-user"), QStringLiteral("--from"), prefix};
    const QString local = home + QStringLiteral("/.local");
    const QString app = local + QStringLiteral("/bin/keshlor");
    const QString launcher =
        local + QStringLiteral("/share/applications/org.keshlor.Keshlor.desktop");
    const QString settings = home + QStringLiteral("/.config/TQ/Keshlor.conf");

    // A first installation has nobody to close.
    const DriverRun first = Driver(install, user);
    ASSERT_EQ(first.code, 0) << first.output.toStdString();
    EXPECT_EQ(ReadAll(app), "new build");
    EXPECT_EQ(ReadAll(local + QStringLiteral("/bin/ksr")), "ksr build");
    EXPECT_FALSE(Exists(local + QStringLiteral("/lib/keshlor/keshlor")));
    EXPECT_TRUE(
        ReadAll(launcher).split('\n').contains("Exec=\"" + QFile::encodeName(app) + "\" %F"));
    for (const QString& icon : icons)
        EXPECT_TRUE(Exists(local + QStringLiteral("/share/") + icon)) << icon.toStdString();
    EXPECT_FALSE(
        Exists(local + QStringLiteral("/share/icons/hicolor/48x48/apps/another-program.png")));
    setup::InstallPaths recorded;
    ASSERT_TRUE(setup::ReadInstallPaths(settings, &recorded));
    EXPECT_EQ(recorded.app, app);
    EXPECT_EQ(recorded.appLink, launcher);
    EXPECT_FALSE(Exists(store_));
    QSettings(settings, QSettings::IniFormat).setValue(QStringLiteral("WipePlainFiles"), 0);

    {
        FakeCopy copy(OwnSocket(instance_), Behaviour::Closes);
        ASSERT_TRUE(copy.valid());
        folder_.Write(QStringLiteral("prefix/bin/keshlor"), "newer build");
        EXPECT_EQ(Driver(install, user).code, 1);
        EXPECT_EQ(Driver({QStringLiteral("uninstall-user")}, user).code, 1);
        // A terminal, but an installation that must not ask.
        QProcessEnvironment unattended = user;
        unattended.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
        const DriverRun refused = DriverOnTerminal(install, unattended, "y\n");
        EXPECT_EQ(refused.code, 1);
        EXPECT_FALSE(refused.output.contains(kQuestion));
        EXPECT_EQ(copy.closeRequests(), 0);
        EXPECT_EQ(ReadAll(app), "new build");
        EXPECT_TRUE(Exists(launcher));

        const DriverRun asked = DriverOnTerminal(install, user, "y\n");
        EXPECT_EQ(asked.code, 0) << asked.output.toStdString();
        EXPECT_TRUE(asked.output.contains(kQuestion));
        EXPECT_EQ(copy.closeRequests(), 1);
        EXPECT_EQ(ReadAll(app), "newer build");
    }

    // Removed by the driver the installation left behind.
    QProcess installed;
    installed.setProcessEnvironment(user);
    installed.setStandardInputFile(QProcess::nullDevice());
    installed.start(local + QStringLiteral("/lib/keshlor/keshlor-setup"),
                    {QStringLiteral("uninstall-user")});
    ASSERT_TRUE(installed.waitForFinished(30000));
    EXPECT_EQ(installed.exitCode(), 0) << installed.readAllStandardError().toStdString();
    QStringList left;
    QDirIterator files(home, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next().mid(home.size() + 1);
        // The desktop's own caches, which its tools keep.
        if (!file.startsWith(QLatin1String(".local/share/mime/")) &&
            !file.endsWith(QLatin1String("/mimeinfo.cache")))
            left << file;
    }
    EXPECT_EQ(left, QStringList{QStringLiteral(".config/TQ/Keshlor.conf")});
    EXPECT_FALSE(setup::ReadInstallPaths(settings, &recorded));
    EXPECT_TRUE(
        QSettings(settings, QSettings::IniFormat).contains(QStringLiteral("WipePlainFiles")));
}

TEST_F(Package, OnATerminalYesClosesTheRunningProgramWithItsOptionsSaved) {
#ifndef KESHLOR_PROGRAM
    GTEST_SKIP() << "built without the program (KESHLOR_WIDGETS=OFF)";
#else
    const bool asOtherUser = geteuid() == 0;
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString config = home.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config));
    if (asOtherUser) {
        for (const QString& path : {home.path(), config})
            ASSERT_EQ(chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
    }

    QProcess program;
    QProcessEnvironment environment = Environment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    // Another user's copy has no runtime folder the administrator's driver
    // knows of here: it takes its fallback under the shared TMPDIR, as one
    // in a session without XDG_RUNTIME_DIR does. Ours shares the driver's.
    if (asOtherUser)
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    if (asOtherUser) {
        program.setChildProcessModifier([] {
            if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
                _exit(90);
        });
    }
    program.start(QStringLiteral(KESHLOR_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    while (setup::FindRunningCopies(instance_).empty() && clock.elapsed() < 15000 &&
           program.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_EQ(setup::FindRunningCopies(instance_).size(), 1u) << program.readAll().toStdString();
    if (asOtherUser) {
        EXPECT_EQ(setup::FindRunningCopies(instance_).front().owner, kNobody);
    }

    const DriverRun run = DriverOnTerminal(
        {QStringLiteral("install-init"), QStringLiteral("--previously-installed"), InstallDir()},
        Environment(), "y\n");
    EXPECT_EQ(run.code, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Close Keshlor"));
    EXPECT_TRUE(run.output.contains(kQuestion));

    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    // Closed as its own Exit closes it: the options are saved.
    const QSettings saved(config + QStringLiteral("/TQ/Keshlor.conf"), QSettings::IniFormat);
    EXPECT_TRUE(saved.contains(QStringLiteral("WipePlainFiles")));
#endif
}

} // namespace
