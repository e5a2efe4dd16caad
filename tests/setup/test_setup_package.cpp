// The built library and its driver as an installer runs them: exactly the
// installer's four exports, an installation and a removal step by step, the
// question with and without a terminal, down to the real program of another
// user closed with its options saved, and a whole per-user installation
// that touches only its own files.
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

    QProcess help;
    help.start(QStringLiteral(KESHLOR_SETUP_DRIVER), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(30000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("keshlor-setup install-user"));
    EXPECT_TRUE(help.readAllStandardError().isEmpty());
}

// An installed tree as `cmake --install` lays it out, whose program stands
// in for Keshlor: it holds the channel named on its command line.
class PerUser : public Package {
  protected:
    void SetUp() override {
        Package::SetUp();
        prefix_ = folder_.path(QStringLiteral("prefix"));
        home_ = folder_.path(QStringLiteral("home"));
        local_ = home_ + QStringLiteral("/.local");
        program_ = ReadAll(QStringLiteral(KESHLOR_FAKE_PROGRAM));
        ASSERT_FALSE(program_.isEmpty());
        for (const QString& file : kShared + QStringList{QStringLiteral("icons/hicolor/48x48/apps/"
                                                                        "another-program.png")})
            Put(prefix_ + QStringLiteral("/share/") + file, ContentOf(file));
        Put(prefix_ + QStringLiteral("/bin/keshlor"), program_);
        Put(prefix_ + QStringLiteral("/bin/ksr"), "ksr build");
        ASSERT_TRUE(QDir().mkpath(home_));
        user_ = Environment();
        user_.insert(QStringLiteral("HOME"), home_);
        user_.remove(QStringLiteral("XDG_CONFIG_HOME"));
        user_.remove(QStringLiteral("XDG_DATA_HOME"));
    }

    static void Put(const QString& path, const QByteArray& content) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content), content.size());
    }

    // Each file's name, but a MIME type the desktop's tool can read.
    static QByteArray ContentOf(const QString& file) {
        if (!file.startsWith(QLatin1String("mime/")))
            return file.toUtf8();
        return "<?xml version=\"1.0\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "<mime-type type=\"application/x-keshlor\"><glob pattern=\"*.ksr\"/></mime-type>\n"
               "</mime-info>\n";
    }

    QStringList Install(const QStringList& more = {}) const {
        return QStringList{QStringLiteral("install-user"), QStringLiteral("--from"), prefix_} +
               more;
    }

    // Every entry under `folder`, links not followed, with its kind.
    static QStringList Listing(const QString& folder) {
        QStringList entries;
        QDirIterator all(folder,
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
        while (all.hasNext()) {
            const QFileInfo entry(all.next());
            const char* kind = entry.isSymLink() ? "link " : entry.isDir() ? "folder " : "file ";
            entries << QLatin1String(kind) + entry.filePath().mid(folder.size() + 1);
        }
        entries.sort();
        return entries;
    }

    // What share/ holds besides the icon of another program.
    const QStringList kShared = {
        QStringLiteral("icons/hicolor/48x48/apps/keshlor.png"),
        QStringLiteral("icons/hicolor/scalable/mimetypes/application-x-keshlor.svg"),
        QStringLiteral("mime/packages/keshlor.xml"),
        QStringLiteral("man/man1/keshlor.1.gz"),
        QStringLiteral("man/man1/ksr.1.gz"),
        QStringLiteral("bash-completion/completions/ksr"),
        QStringLiteral("fish/vendor_completions.d/ksr.fish")};
    QString prefix_, home_, local_;
    QByteArray program_;
    QProcessEnvironment user_;
};

// From an installed tree into a home of the test's own: the hooks'
// exchange, their question on the terminal only for the copy of the
// program they replace or remove, the paths in the user's settings beside
// the program's options, and a removal that leaves the home as it was.
TEST_F(PerUser, AnInstallationRunsTheHooksAndItsRemovalLeavesTheHomeAsItWas) {
    // The user's own files, among them an icon of the program's name.
    const QString ownIcon = local_ + QStringLiteral("/share/icons/hicolor/48x48/apps/keshlor.svg");
    Put(ownIcon, "drawn by the user");
    Put(local_ + QStringLiteral("/bin/tool"), "the user's tool");
    const QStringList before = Listing(home_);

    const QString app = local_ + QStringLiteral("/bin/keshlor");
    const QString launcher =
        local_ + QStringLiteral("/share/applications/org.keshlor.Keshlor.desktop");
    const QString settings = home_ + QStringLiteral("/.config/TQ/Keshlor.conf");
    // A first installation has nobody to close.
    const DriverRun first = Driver(Install(), user_);
    ASSERT_EQ(first.code, 0) << first.output.toStdString();
    EXPECT_EQ(ReadAll(app), program_);
    EXPECT_EQ(ReadAll(local_ + QStringLiteral("/bin/ksr")), "ksr build");
    EXPECT_FALSE(Exists(local_ + QStringLiteral("/lib/keshlor/keshlor")));
    EXPECT_TRUE(
        ReadAll(launcher).split('\n').contains("Exec=\"" + QFile::encodeName(app) + "\" %F"));
    for (const QString& file : kShared) {
        const QString installed = file.startsWith(QLatin1String("fish/"))
                                      ? home_ + QStringLiteral("/.config/fish/completions/ksr.fish")
                                      : local_ + QStringLiteral("/share/") + file;
        EXPECT_EQ(ReadAll(installed), ContentOf(file)) << installed.toStdString();
    }
    EXPECT_FALSE(
        Exists(local_ + QStringLiteral("/share/icons/hicolor/48x48/apps/another-program.png")));
    EXPECT_EQ(ReadAll(ownIcon), "drawn by the user");
    setup::InstallPaths recorded;
    ASSERT_TRUE(setup::ReadInstallPaths(settings, &recorded));
    EXPECT_EQ(recorded.app, app);
    EXPECT_EQ(recorded.appLink, launcher);
    EXPECT_FALSE(Exists(store_));
    QSettings(settings, QSettings::IniFormat).setValue(QStringLiteral("WipePlainFiles"), 0);

    {
        QProcess running;
        running.start(app, {OwnSocket(instance_)});
        ASSERT_TRUE(running.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        while (setup::FindRunningCopies(instance_).empty() && clock.elapsed() < 10000)
            QThread::msleep(20);
        Put(prefix_ + QStringLiteral("/bin/keshlor"), program_ + "newer");
        EXPECT_EQ(Driver(Install(), user_).code, 1);
        EXPECT_EQ(Driver({QStringLiteral("uninstall-user")}, user_).code, 1);
        // A terminal, but an installation that must not ask.
        QProcessEnvironment unattended = user_;
        unattended.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
        const DriverRun refused = DriverOnTerminal(Install(), unattended, "y\n");
        EXPECT_EQ(refused.code, 1);
        EXPECT_FALSE(refused.output.contains(kQuestion));
        EXPECT_EQ(running.state(), QProcess::Running);
        EXPECT_EQ(ReadAll(app), program_);
        EXPECT_TRUE(Exists(launcher));

        const DriverRun asked = DriverOnTerminal(Install(), user_, "y\n");
        EXPECT_EQ(asked.code, 0) << asked.output.toStdString();
        EXPECT_TRUE(asked.output.contains(kQuestion));
        EXPECT_TRUE(running.waitForFinished(10000));
        EXPECT_EQ(running.exitCode(), 0);
        EXPECT_EQ(ReadAll(app), program_ + "newer");
    }

    // Removed by the driver the installation left behind, with no terminal,
    // while a copy of another program file (the package's) runs.
    FakeCopy systemCopy(OwnSocket(instance_), Behaviour::Closes);
    ASSERT_TRUE(systemCopy.valid());
    QProcess installed;
    installed.setProcessEnvironment(user_);
    installed.setStandardInputFile(QProcess::nullDevice());
    installed.start(local_ + QStringLiteral("/lib/keshlor/keshlor-setup"),
                    {QStringLiteral("uninstall-user")});
    ASSERT_TRUE(installed.waitForFinished(30000));
    EXPECT_EQ(installed.exitCode(), 0) << installed.readAllStandardError().toStdString();
    EXPECT_EQ(systemCopy.closeRequests(), 0);
    const QStringList settingsEntries = {QStringLiteral("folder .config"),
                                         QStringLiteral("folder .config/TQ"),
                                         QStringLiteral("file .config/TQ/Keshlor.conf")};
    QStringList expected = before + settingsEntries;
    expected.sort();
    EXPECT_EQ(Listing(home_).join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    EXPECT_EQ(ReadAll(ownIcon), "drawn by the user");
    EXPECT_FALSE(setup::ReadInstallPaths(settings, &recorded));
    EXPECT_TRUE(
        QSettings(settings, QSettings::IniFormat).contains(QStringLiteral("WipePlainFiles")));
}

// Files of the user's own at the installation's names are neither replaced
// nor removed without a word, and no link is followed out of the home.
TEST_F(PerUser, OnlyItsOwnFilesAreReplacedOrRemoved) {
    const QString ksr = local_ + QStringLiteral("/bin/ksr");
    Put(ksr, "the user's ksr");
    const DriverRun nothing = Driver({QStringLiteral("uninstall-user")}, user_);
    EXPECT_EQ(nothing.code, 1);
    EXPECT_TRUE(nothing.output.contains("nothing removed")) << nothing.output.toStdString();
    EXPECT_EQ(ReadAll(ksr), "the user's ksr");

    const DriverRun refused = Driver(Install(), user_);
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.output.contains(QFile::encodeName(ksr))) << refused.output.toStdString();
    EXPECT_EQ(ReadAll(ksr), "the user's ksr");
    EXPECT_FALSE(Exists(local_ + QStringLiteral("/bin/keshlor")));

    const DriverRun forced = Driver(Install({QStringLiteral("--force")}), user_);
    ASSERT_EQ(forced.code, 0) << forced.output.toStdString();
    EXPECT_EQ(ReadAll(ksr), "ksr build");
    EXPECT_EQ(ReadAll(ksr + QStringLiteral(".keshlor-saved")), "the user's ksr");
    // A file the user changed after the installation is the user's.
    const QString page = local_ + QStringLiteral("/share/man/man1/ksr.1.gz");
    Put(page, "annotated");
    ASSERT_EQ(Driver({QStringLiteral("uninstall-user")}, user_).code, 0);
    EXPECT_EQ(ReadAll(page), "annotated");
    EXPECT_EQ(ReadAll(ksr), "the user's ksr");
    EXPECT_FALSE(Exists(ksr + QStringLiteral(".keshlor-saved")));
    EXPECT_FALSE(Exists(local_ + QStringLiteral("/bin/keshlor")));

    // ~/.local/bin leading into a folder that is not the user's to fill.
    const QString elsewhere = folder_.path(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QDir(local_ + QStringLiteral("/bin")).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere, local_ + QStringLiteral("/bin")));
    const DriverRun linked = Driver(Install({QStringLiteral("--force")}), user_);
    EXPECT_EQ(linked.code, 1);
    EXPECT_TRUE(linked.output.contains(QFile::encodeName(local_ + QStringLiteral("/bin"))))
        << linked.output.toStdString();
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_FALSE(Exists(local_ + QStringLiteral("/lib/keshlor/manifest.json")));
}

TEST_F(PerUser, RootDoesNotInstallIntoAnotherUsersHome) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    ASSERT_EQ(chown(QFile::encodeName(home_).constData(), kNobody, kNobody), 0);
    for (const QString& command :
         {QStringLiteral("install-user"), QStringLiteral("uninstall-user")}) {
        const DriverRun run = Driver(
            command == QLatin1String("install-user") ? Install() : QStringList{command}, user_);
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.output.contains("as that user")) << run.output.toStdString();
    }
    EXPECT_TRUE(QDir(home_).isEmpty());
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
