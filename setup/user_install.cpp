#include "setup/user_install.h"

#include "setup/setup_hooks.h"
#include "setup/setup_store.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace setup {

namespace {

const char kLauncherName[] = "org.keshlor.Keshlor.desktop";
const char kDriverName[] = "keshlor-setup";
const char kLibraryName[] = "libKeshlorSetup.so";
// The program's icon and the container type's, in every size of the theme.
const char* const kIconNames[] = {"keshlor", "application-x-keshlor"};

struct Copy {
    QString from;
    QString to;
    bool executable;
};

void Say(const QString& text) {
    std::fprintf(stderr, "keshlor-setup: %s\n", qPrintable(text));
}

bool IsIconFile(const QFileInfo& file) {
    for (const char* name : kIconNames) {
        if (file.completeBaseName() == QLatin1String(name))
            return true;
    }
    return false;
}

// The icons under hicolor/<size>/<context>/ of `iconsDir`, relative to it.
QStringList ThemeIcons(const QString& iconsDir) {
    QStringList icons;
    QDirIterator files(iconsDir + QStringLiteral("/hicolor"), QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        if (IsIconFile(file))
            icons << QDir(iconsDir).relativeFilePath(file.filePath());
    }
    icons.sort();
    return icons;
}

QString MimeFile(const QString& dataDir) {
    return dataDir + QStringLiteral("/mime/packages/keshlor.xml");
}

// What the installer copies besides the program itself.
std::vector<Copy> Companions(const UserLayout& layout) {
    const QString sourceData = layout.source + QStringLiteral("/share");
    std::vector<Copy> copies = {
        {layout.setupDir + u'/' + QLatin1String(kDriverName),
         layout.libDir + u'/' + QLatin1String(kDriverName), true},
        {layout.setupDir + u'/' + QLatin1String(kLibraryName),
         layout.libDir + u'/' + QLatin1String(kLibraryName), false},
        {layout.source + QStringLiteral("/bin/ksr"), layout.binDir + QStringLiteral("/ksr"), true},
        {MimeFile(sourceData), MimeFile(layout.dataDir), false},
    };
    const QString icons = QStringLiteral("/icons/");
    for (const QString& icon : ThemeIcons(sourceData + icons))
        copies.push_back({sourceData + icons + icon, layout.dataDir + icons + icon, false});
    return copies;
}

// The companions as installed, whatever tree they came from.
QStringList InstalledCompanions(const UserLayout& layout) {
    QStringList files = {layout.libDir + u'/' + QLatin1String(kDriverName),
                         layout.libDir + u'/' + QLatin1String(kLibraryName),
                         layout.binDir + QStringLiteral("/ksr"), MimeFile(layout.dataDir)};
    const QString icons = layout.dataDir + QStringLiteral("/icons/");
    for (const QString& icon : ThemeIcons(icons))
        files << icons + icon;
    return files;
}

// Replaces `to` in one step, so a running copy of it keeps its file.
bool CopyFile(const QString& from, const QString& to, bool executable) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly) || !QDir().mkpath(QFileInfo(to).absolutePath()))
        return false;
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly) || out.write(in.readAll()) != in.size() || !out.commit())
        return false;
    QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (executable)
        mode |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    return QFile::setPermissions(to, mode);
}

// The desktop's caches, where its tools are installed; they only speed
// the desktop up, so a failure is no failure of the installation.
void RunQuietly(const std::vector<QByteArray>& command) {
    std::vector<char*> argv;
    for (const QByteArray& word : command)
        argv.push_back(const_cast<char*>(word.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(child, nullptr, 0);
    posix_spawn_file_actions_destroy(&actions);
}

void RefreshDesktopCaches(const QString& dataDir) {
    const QString mime = dataDir + QStringLiteral("/mime");
    if (QFileInfo(mime + QStringLiteral("/packages")).isDir())
        RunQuietly({"update-mime-database", QFile::encodeName(mime)});
    const QString applications = dataDir + QStringLiteral("/applications");
    if (QFileInfo(applications).isDir())
        RunQuietly({"update-desktop-database", "-q", QFile::encodeName(applications)});
}

// The hooks read the paths from the file the installer names.
void PointHooksAtStore(const UserLayout& layout) {
    qputenv("KESHLOR_SETUP_STORE", QFile::encodeName(layout.store));
}

bool OnPath(const QString& folder) {
    const QStringList path = qEnvironmentVariable("PATH").split(u':');
    return path.contains(folder) || path.contains(folder + u'/');
}

} // namespace

QString UserLayout::temp() const {
    return libDir + QStringLiteral("/keshlor");
}

QString UserLayout::app() const {
    return binDir + QStringLiteral("/keshlor");
}

QString UserLayout::appLink() const {
    return dataDir + QStringLiteral("/applications/") + QLatin1String(kLauncherName);
}

UserLayout CurrentUserLayout(const QString& source, const QString& setupDir) {
    const QString local = QDir::homePath() + QStringLiteral("/.local");
    UserLayout layout;
    layout.source = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    layout.setupDir = QDir::cleanPath(setupDir);
    layout.binDir = local + QStringLiteral("/bin");
    layout.libDir = local + QStringLiteral("/lib/keshlor");
    layout.dataDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // Where QSettings keeps the program's own options.
    layout.store = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                   QStringLiteral("/TQ/Keshlor.conf");
    return layout;
}

int InstallForUser(const HookExports& hooks, const UserLayout& layout) {
    // Everything must be there before anything changes.
    const QString program = layout.source + QStringLiteral("/bin/keshlor");
    const std::vector<Copy> companions = Companions(layout);
    QStringList sources = {program};
    for (const Copy& copy : companions)
        sources << copy.from;
    for (const QString& source : sources) {
        if (!QFileInfo(source).isFile()) {
            Say(QStringLiteral("%1 is missing: nothing installed").arg(source));
            return kFilesError;
        }
    }
    PointHooksAtStore(layout);
    InstallPaths recorded;
    const bool previously =
        ReadInstallPaths(layout.store, &recorded) || QFileInfo::exists(layout.app());
    // There is no window to own the question.
    if (hooks.installInit(nullptr, 1, previously ? 1 : 0,
                          QFile::encodeName(layout.binDir).constData()) != 0) {
        Say(QStringLiteral("installation cancelled: Keshlor is still running."));
        return codeINSTALL_INIT_CANCEL;
    }

    bool copied = CopyFile(program, layout.temp(), true);
    for (const Copy& copy : companions) {
        // Run from ~/.local itself, what is there already stays.
        if (copy.from != copy.to && !CopyFile(copy.from, copy.to, copy.executable)) {
            Say(QStringLiteral("cannot copy %1 to %2").arg(copy.from, copy.to));
            copied = false;
        }
    }
    if (!copied)
        return kFilesError;
    if (!WriteInstallPaths(layout.store, {layout.temp(), layout.app(), layout.appLink()})) {
        Say(QStringLiteral("cannot record the paths in %1").arg(layout.store));
        return kStoreError;
    }
    QDir().mkpath(layout.binDir);
    QDir().mkpath(QFileInfo(layout.appLink()).absolutePath());
    hooks.installExit(nullptr, QFile::encodeName(layout.binDir).constData(), 0, 0, 0, 0, 0);
    RefreshDesktopCaches(layout.dataDir);

    if (!QFileInfo(layout.app()).isFile() || !QFileInfo(layout.appLink()).isFile()) {
        Say(QStringLiteral("the program or its launcher could not be put in place"));
        return kFilesError;
    }
    std::printf("Keshlor is installed as %s.\n", qPrintable(layout.app()));
    if (!OnPath(layout.binDir))
        std::printf("Add %s to PATH to run keshlor and ksr by name.\n", qPrintable(layout.binDir));
    return 0;
}

int UninstallForUser(const HookExports& hooks, const UserLayout& layout) {
    PointHooksAtStore(layout);
    InstallPaths recorded;
    const bool hasPaths = ReadInstallPaths(layout.store, &recorded);
    // The hooks give the program back its installer name, in this folder.
    if (hasPaths)
        QDir().mkpath(QFileInfo(recorded.temp).absolutePath());
    if (hooks.uninstallInit(nullptr, QFile::encodeName(layout.binDir).constData()) != 0) {
        Say(QStringLiteral("removal cancelled: Keshlor is still running."));
        return codeUNINSTALL_INIT_CANCEL;
    }

    QStringList files = InstalledCompanions(layout);
    if (hasPaths)
        files << recorded.temp;
    else
        // Without the paths the hooks left the program alone.
        files << layout.app() << layout.appLink();
    bool removed = true;
    for (const QString& file : files) {
        if (QFileInfo(file).isSymLink() || QFileInfo::exists(file))
            removed = QFile::remove(file) && removed;
    }
    if (!RemoveInstallPaths(layout.store)) {
        Say(QStringLiteral("cannot forget the paths in %1").arg(layout.store));
        return kStoreError;
    }
    hooks.uninstallExit(nullptr);
    QDir().rmdir(layout.libDir);
    if (hasPaths)
        QDir().rmdir(QFileInfo(recorded.temp).absolutePath());
    RefreshDesktopCaches(layout.dataDir);
    if (!removed) {
        Say(QStringLiteral("some files could not be removed"));
        return kFilesError;
    }
    return 0;
}

} // namespace setup
