// The Debian package as cpack builds it: the files it holds, what lintian,
// desktop-file-validate and appstreamcli say of it, its maintainer scripts
// run on an installation of the version whose scripts ran the installer
// hooks (in a root folder of the test's own, with a copy running and nobody
// to ask), ksr's options in its manual page and completions, and a per-user
// installation from the package's unpacked files.
#include "fake_copy.h"
#include "setup/setup_store.h"
#include "temp_folder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

using testing_files::Exists;
using testing_files::ReadAll;
using namespace testing_setup;

namespace {

// The options a usage text names ("-h", "--help").
QStringList OptionsIn(const QByteArray& usage) {
    QStringList options;
    const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[A-Za-z][\\w-]*)"));
    for (const QRegularExpressionMatch& match : option.globalMatch(QString::fromUtf8(usage)))
        options << match.captured(1);
    options.removeDuplicates();
    return options;
}

// Whether `text` has `word` as a word of its own.
bool Names(const QString& text, const QString& word) {
    return text.contains(QRegularExpression(QStringLiteral("(?<![\\w-])") +
                                            QRegularExpression::escape(word) +
                                            QStringLiteral("(?![\\w-])")));
}

struct Outcome {
    int code = -1;
    QByteArray output;
};

// With stdin from /dev/null and no terminal, as an unattended dpkg runs
// maintainer scripts.
Outcome Execute(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(240000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.readAll()};
    return {process.exitCode(), process.readAll()};
}

bool Installed(const char* program) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

// The lines of a checker's report that are errors or warnings.
QStringList Complaints(const QByteArray& output) {
    QStringList complaints;
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith("E: ") || line.startsWith("W: ") || line.contains(" E: ") ||
            line.contains(" W: "))
            complaints << QString::fromUtf8(line);
    }
    return complaints;
}

// Every file below `root`, as absolute paths of the installed system.
QStringList FilesUnder(const QString& root) {
    QStringList files;
    QDirIterator walk(root, QDir::Files | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        files << walk.next().mid(root.size());
    files.sort();
    return files;
}

class DebianPackage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Installed("dpkg-deb"))
            GTEST_SKIP() << "dpkg-deb is not installed";
        const QDir packages(QStringLiteral(KESHLOR_PACKAGE_DIR));
        const QStringList debs = packages.entryList({QStringLiteral("keshlor_*.deb")});
        ASSERT_EQ(debs.size(), 1) << "no single package in " KESHLOR_PACKAGE_DIR;
        deb_ = packages.filePath(debs.front());
        ASSERT_TRUE(folder_.valid());
        files_ = folder_.path(QStringLiteral("files"));
        control_ = folder_.path(QStringLiteral("control"));
        ASSERT_EQ(Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb_, files_}).code,
                  0);
        ASSERT_EQ(Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), deb_, control_}).code,
                  0);
    }

    // The package's files (not folders) as `dpkg -c` lists them.
    QStringList Contents() const {
        QStringList files;
        const Outcome listing = Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb_});
        for (const QByteArray& line : listing.output.split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 6 && !fields[0].startsWith('d'))
                files << QString::fromUtf8(fields.last()).mid(1);
        }
        files.sort();
        return files;
    }

    QString Unpacked(const char* path) const { return files_ + QLatin1String(path); }

    testing_files::TempFolder folder_;
    QString deb_, files_, control_;
};

TEST_F(DebianPackage, HoldsEveryFileUnderUsr) {
    const QStringList contents = Contents();
    for (const char* path : {
             "/usr/bin/keshlor",
             "/usr/bin/ksr",
             "/usr/libexec/keshlor/keshlor-setup",
             "/usr/libexec/keshlor/libKeshlorSetup.so",
             "/usr/share/applications/org.keshlor.Keshlor.desktop",
             "/usr/share/metainfo/org.keshlor.Keshlor.metainfo.xml",
             "/usr/share/mime/packages/keshlor.xml",
             "/usr/share/man/man1/keshlor.1.gz",
             "/usr/share/man/man1/ksr.1.gz",
             "/usr/share/bash-completion/completions/ksr",
             "/usr/share/zsh/vendor-completions/_ksr",
             "/usr/share/fish/vendor_completions.d/ksr.fish",
             "/usr/share/icons/hicolor/scalable/apps/keshlor.svg",
             "/usr/share/icons/hicolor/48x48/apps/keshlor.png",
             "/usr/share/icons/hicolor/128x128/apps/keshlor.png",
             "/usr/share/icons/hicolor/256x256/apps/keshlor.png",
             "/usr/share/icons/hicolor/scalable/mimetypes/application-x-keshlor.svg",
             "/usr/share/icons/hicolor/48x48/mimetypes/application-x-keshlor.png",
             "/usr/share/doc/keshlor/copyright",
             "/usr/share/doc/keshlor/changelog.Debian.gz",
         }) {
        EXPECT_TRUE(contents.contains(QLatin1String(path))) << path;
    }
    for (const QString& path : contents)
        EXPECT_TRUE(path.startsWith(QLatin1String("/usr/"))) << path.toStdString();

    // AppStream finds the program by its desktop entry's file name.
    EXPECT_TRUE(ReadAll(Unpacked("/usr/share/metainfo/org.keshlor.Keshlor.metainfo.xml"))
                    .contains("<launchable type=\"desktop-id\">org.keshlor.Keshlor.desktop<"));
}

TEST_F(DebianPackage, LintianReportsNoErrorsOrWarnings) {
    if (!Installed("lintian"))
        GTEST_SKIP() << "lintian is not installed";
    const Outcome lintian = Execute(QStringLiteral("lintian"), {deb_});
    EXPECT_EQ(Complaints(lintian.output).join(u'\n').toStdString(), "")
        << lintian.output.toStdString();
    EXPECT_EQ(lintian.code, 0) << lintian.output.toStdString();
}

TEST_F(DebianPackage, DesktopEntryAndAppStreamMetadataPassTheirValidators) {
    if (!Installed("desktop-file-validate") && !Installed("appstreamcli"))
        GTEST_SKIP() << "neither desktop-file-validate nor appstreamcli is installed";
    if (Installed("desktop-file-validate")) {
        const Outcome validate =
            Execute(QStringLiteral("desktop-file-validate"),
                    {Unpacked("/usr/share/applications/org.keshlor.Keshlor.desktop")});
        EXPECT_EQ(validate.code, 0);
        EXPECT_EQ(validate.output, QByteArray());
    }
    if (Installed("appstreamcli")) {
        const Outcome validate =
            Execute(QStringLiteral("appstreamcli"),
                    {QStringLiteral("validate"), QStringLiteral("--no-net"),
                     Unpacked("/usr/share/metainfo/org.keshlor.Keshlor.metainfo.xml")});
        EXPECT_EQ(validate.code, 0) << validate.output.toStdString();
        EXPECT_EQ(Complaints(validate.output).join(u'\n').toStdString(), "")
            << validate.output.toStdString();
    }
}

// dpkg's order for an upgrade from 2.13.0.1, whose scripts ran the hooks:
// new preinst, unpack, new postinst; then a removal and a purge. With a copy
// running and nobody to ask, each script goes on without a question and
// leaves the copy alone, and afterwards only the package's own files are left.
TEST_F(DebianPackage, AnUpgradeFromTheHooksVersionAsksNobodyAndLeavesNothingUnowned) {
    ASSERT_TRUE(QDir().mkpath(folder_.path(QStringLiteral("runtime"))));
    const ScopedRuntime session(folder_.path(QStringLiteral("runtime")));
    ASSERT_TRUE(session.valid());
    const QByteArray instance = UniqueInstance();
    FakeCopy copy(OwnSocket(instance), Behaviour::Closes);
    ASSERT_TRUE(copy.valid());

    // The old installation as its hooks left it: the program moved to /usr/bin,
    // its launcher beside the packaged files, the three paths in /etc/xdg.
    const QString root = folder_.path(QStringLiteral("root"));
    for (const char* folder :
         {"/usr/bin", "/usr/lib/keshlor", "/usr/share/applications", "/etc/xdg"})
        ASSERT_TRUE(QDir().mkpath(root + QLatin1String(folder)));
    const auto put = [&root](const char* path, const QByteArray& content) {
        QFile file(root + QLatin1String(path));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    ASSERT_TRUE(put("/usr/bin/keshlor", "old build"));
    ASSERT_TRUE(put("/usr/lib/keshlor/keshlor-setup", "old driver"));
    ASSERT_TRUE(put("/usr/lib/keshlor/libKeshlorSetup.so", "old hooks"));
    ASSERT_TRUE(put("/usr/share/applications/keshlor.desktop", "old launcher"));
    const QString store = root + QStringLiteral("/etc/xdg/TQ/Keshlor.conf");
    ASSERT_TRUE(setup::WriteInstallPaths(
        store, {QStringLiteral("/usr/lib/keshlor/keshlor"), QStringLiteral("/usr/bin/keshlor"),
                QStringLiteral("/usr/share/applications/keshlor.desktop")}));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DPKG_ROOT"), root);
    environment.insert(QStringLiteral("KESHLOR_INSTANCE"), QString::fromLatin1(instance));
    environment.remove(QStringLiteral("DEBIAN_FRONTEND"));
    QByteArray said;
    const auto script = [&](const char* name, const QStringList& arguments) {
        const QString path = control_ + u'/' + QLatin1String(name);
        if (!Exists(path))
            return 0;
        const Outcome run = Execute(path, arguments, environment);
        said += run.output;
        return run.code;
    };
    const QString oldVersion = QStringLiteral("2.13.0.1");

    ASSERT_EQ(script("preinst", {QStringLiteral("upgrade"), oldVersion}), 0) << said.toStdString();
    // Back under the name the old package owns, for dpkg to remove with its files.
    EXPECT_EQ(ReadAll(root + QStringLiteral("/usr/lib/keshlor/keshlor")), "old build");
    EXPECT_FALSE(Exists(root + QStringLiteral("/usr/bin/keshlor")));
    EXPECT_FALSE(Exists(root + QStringLiteral("/usr/share/applications/keshlor.desktop")));
    EXPECT_FALSE(Exists(root + QStringLiteral("/etc/xdg/TQ")));
    EXPECT_TRUE(Exists(root + QStringLiteral("/etc/xdg")));

    // dpkg unpacks the new files, then removes the old version's that it lacks.
    ASSERT_EQ(Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb_, root}).code, 0);
    const QStringList contents = Contents();
    for (const char* old : {"/usr/lib/keshlor/keshlor", "/usr/lib/keshlor/keshlor-setup",
                            "/usr/lib/keshlor/libKeshlorSetup.so"}) {
        EXPECT_FALSE(contents.contains(QLatin1String(old))) << old;
        QFile::remove(root + QLatin1String(old));
    }
    EXPECT_EQ(script("postinst", {QStringLiteral("configure"), oldVersion}), 0);
    EXPECT_EQ(FilesUnder(root), contents);

    // Installed over itself: its own program stays.
    const QString newVersion = QFileInfo(deb_).fileName().section(u'_', 1, 1);
    EXPECT_EQ(script("preinst", {QStringLiteral("upgrade"), newVersion}), 0);
    EXPECT_EQ(ReadAll(root + QStringLiteral("/usr/bin/keshlor")),
              ReadAll(Unpacked("/usr/bin/keshlor")));
    EXPECT_EQ(script("postinst", {QStringLiteral("configure"), newVersion}), 0);
    EXPECT_EQ(script("prerm", {QStringLiteral("remove")}), 0);
    EXPECT_EQ(script("postrm", {QStringLiteral("remove")}), 0);
    EXPECT_EQ(script("postrm", {QStringLiteral("purge")}), 0);
    EXPECT_EQ(FilesUnder(root), contents);

    EXPECT_FALSE(said.contains("Keshlor is still running")) << said.toStdString();
    EXPECT_EQ(copy.closeRequests(), 0);
    EXPECT_TRUE(copy.listening());
}

// Every option `ksr --help` names, in ksr's manual page and in each shell's
// completion.
TEST_F(DebianPackage, EveryOptionOfKsrIsInItsManualPageAndCompletions) {
    const Outcome help = Execute(QStringLiteral(KSR_PROGRAM), {QStringLiteral("--help")});
    ASSERT_EQ(help.code, 0);
    const QStringList options = OptionsIn(help.output);
    ASSERT_TRUE(options.contains(QStringLiteral("--password-file")));

    const Outcome manual = Execute(
        QStringLiteral("gzip"), {QStringLiteral("-dc"), Unpacked("/usr/share/man/man1/ksr.1.gz")});
    ASSERT_EQ(manual.code, 0);
    const QString manualText =
        QString::fromUtf8(manual.output).replace(QLatin1String("\\-"), QLatin1String("-"));
    const QString bash =
        QString::fromUtf8(ReadAll(Unpacked("/usr/share/bash-completion/completions/ksr")));
    const QString zsh =
        QString::fromUtf8(ReadAll(Unpacked("/usr/share/zsh/vendor-completions/_ksr")));
    const QString fish =
        QString::fromUtf8(ReadAll(Unpacked("/usr/share/fish/vendor_completions.d/ksr.fish")));
    for (const QString& name : options) {
        EXPECT_TRUE(Names(manualText, name)) << "ksr.1: " << name.toStdString();
        EXPECT_TRUE(Names(bash, name)) << "bash: " << name.toStdString();
        EXPECT_TRUE(Names(zsh, name)) << "zsh: " << name.toStdString();
        if (name == QLatin1String("--"))
            continue;
        // fish names long options with -l, short ones with -s.
        const QString fishName = name.startsWith(QLatin1String("--"))
                                     ? QStringLiteral("-l ") + name.mid(2)
                                     : QStringLiteral("-s ") + name.mid(1);
        EXPECT_TRUE(Names(fish, fishName)) << "fish: " << name.toStdString();
    }
}

// keshlor(1) says what `keshlor --help` says: several files, and each option.
TEST_F(DebianPackage, KeshlorsManualPageMatchesItsHelp) {
    const Outcome help = Execute(Unpacked("/usr/bin/keshlor"), {QStringLiteral("--help")});
    ASSERT_EQ(help.code, 0);
    ASSERT_TRUE(help.output.contains("[FILE]..."));
    const QStringList options = OptionsIn(help.output);
    ASSERT_TRUE(options.contains(QStringLiteral("--version")));

    const Outcome manual =
        Execute(QStringLiteral("gzip"),
                {QStringLiteral("-dc"), Unpacked("/usr/share/man/man1/keshlor.1.gz")});
    ASSERT_EQ(manual.code, 0);
    const QString manualText =
        QString::fromUtf8(manual.output).replace(QLatin1String("\\-"), QLatin1String("-"));
    EXPECT_TRUE(manualText.contains(QLatin1String(".RI [ FILE ]...")));
    for (const QString& name : options)
        EXPECT_TRUE(Names(manualText, name)) << "keshlor.1: " << name.toStdString();
}

// keshlor-setup, unpacked from the package, installs from the tree it sits in.
TEST_F(DebianPackage, InstallsForOneUserFromItsUnpackedFiles) {
    const QString home = folder_.path(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_TRUE(QDir().mkpath(folder_.path(QStringLiteral("runtime"))));
    const ScopedRuntime session(folder_.path(QStringLiteral("runtime")));
    ASSERT_TRUE(session.valid());
    QProcessEnvironment user = QProcessEnvironment::systemEnvironment();
    user.insert(QStringLiteral("HOME"), home);
    user.insert(QStringLiteral("KESHLOR_INSTANCE"), QString::fromLatin1(UniqueInstance()));
    user.remove(QStringLiteral("XDG_CONFIG_HOME"));
    user.remove(QStringLiteral("XDG_DATA_HOME"));

    const Outcome install = Execute(Unpacked("/usr/libexec/keshlor/keshlor-setup"),
                                    {QStringLiteral("install-user")}, user);
    ASSERT_EQ(install.code, 0) << install.output.toStdString();
    const QString local = home + QStringLiteral("/.local");
    EXPECT_EQ(ReadAll(local + QStringLiteral("/bin/keshlor")),
              ReadAll(Unpacked("/usr/bin/keshlor")));
    EXPECT_EQ(ReadAll(local + QStringLiteral("/bin/ksr")), ReadAll(Unpacked("/usr/bin/ksr")));
    for (const QString& icon : FilesUnder(Unpacked("/usr/share/icons")))
        EXPECT_TRUE(Exists(local + QStringLiteral("/share/icons") + icon)) << icon.toStdString();
    const QString launcher =
        local + QStringLiteral("/share/applications/org.keshlor.Keshlor.desktop");
    if (Installed("desktop-file-validate")) {
        const Outcome validate = Execute(QStringLiteral("desktop-file-validate"), {launcher});
        EXPECT_EQ(validate.output, QByteArray());
    }

    const Outcome remove = Execute(local + QStringLiteral("/lib/keshlor/keshlor-setup"),
                                   {QStringLiteral("uninstall-user")}, user);
    EXPECT_EQ(remove.code, 0) << remove.output.toStdString();
    EXPECT_EQ(FilesUnder(local + QStringLiteral("/bin")), QStringList());
    EXPECT_EQ(FilesUnder(local + QStringLiteral("/lib")), QStringList());
    EXPECT_EQ(FilesUnder(local + QStringLiteral("/share/icons")), QStringList());
    EXPECT_FALSE(Exists(launcher));
}

} // namespace
