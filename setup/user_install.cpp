#include "setup/user_install.h"

#include "platform/file_names.h"
#include "setup/home_files.h"
#include "setup/install_manifest.h"
#include "setup/launcher.h"
#include "setup/setup_hooks.h"
#include "setup/setup_store.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace setup {

namespace {

const char kLauncherName[] = "org.keshlor.Keshlor.desktop";
const char kDriverName[] = "keshlor-setup";
const char kLibraryName[] = "libKeshlorSetup.so";
const char kManifestName[] = "manifest.json";
// The program's icon and the container type's, in every size of the theme.
const char* const kIconNames[] = {"keshlor", "application-x-keshlor"};

// A file the installation holds when it is done, with its content.
struct Target {
    QString from; // empty: put in place by the hooks
    QString to;
    bool executable = false;
    QByteArray content;
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
std::vector<Target> Companions(const UserLayout& layout) {
    const QString share = layout.source + QStringLiteral("/share");
    std::vector<Target> copies;
    const auto add = [&copies](const QString& from, const QString& to, bool executable) {
        copies.push_back({from, to, executable, {}});
    };
    add(plat::JoinPath(layout.setupDir, QLatin1String(kDriverName)),
        plat::JoinPath(layout.libDir, QLatin1String(kDriverName)), true);
    add(plat::JoinPath(layout.setupDir, QLatin1String(kLibraryName)),
        plat::JoinPath(layout.libDir, QLatin1String(kLibraryName)), false);
    add(layout.source + QStringLiteral("/bin/ksr"), layout.binDir + QStringLiteral("/ksr"), true);
    add(MimeFile(share), MimeFile(layout.dataDir), false);
    add(share + QStringLiteral("/bash-completion/completions/ksr"),
        layout.dataDir + QStringLiteral("/bash-completion/completions/ksr"), false);
    add(share + QStringLiteral("/fish/vendor_completions.d/ksr.fish"),
        layout.configDir + QStringLiteral("/fish/completions/ksr.fish"), false);
    for (const char* page : {"/man1/keshlor.1.gz", "/man1/ksr.1.gz"})
        add(share + QStringLiteral("/man") + QLatin1String(page),
            layout.manDir + QLatin1String(page), false);
    const QString icons = QStringLiteral("/icons/");
    for (const QString& icon : ThemeIcons(share + icons))
        add(share + icons + icon, layout.dataDir + icons + icon, false);
    return copies;
}

bool IsBelow(const QString& path, const QString& folder) {
    if (folder == QLatin1String("/"))
        return path.size() > 1 && path.startsWith(folder);
    return path.startsWith(folder + u'/');
}

// Where the folder check of `path` starts: a folder the user named, or the
// home; empty for a path outside the installation's folders.
QString BaseOf(const UserLayout& layout, const QString& path) {
    if (IsBelow(path, layout.dataDir))
        return layout.dataBase;
    if (IsBelow(path, layout.configDir))
        return layout.configBase;
    if (IsBelow(path, layout.home))
        return layout.home;
    return {};
}

// The entry that keeps `path` from being reached without a link: empty
// when there is none.
QString Blocker(const UserLayout& layout, const QString& path) {
    const QString base = BaseOf(layout, path);
    return base.isEmpty() ? path : BlockedFolder(base, path);
}

// Root would make the files its own and leave the user unable to change
// or remove them.
bool MayWorkFor(const UserLayout& layout, const char* command) {
    struct stat info {};
    if (stat(QFile::encodeName(layout.home).constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        Say(QStringLiteral("the home folder %1 does not exist: nothing changed").arg(layout.home));
        return false;
    }
    if (geteuid() != 0)
        return true;
    for (const QString& base : {layout.home, layout.dataBase, layout.configBase}) {
        if (stat(QFile::encodeName(base).constData(), &info) == 0 && info.st_uid != 0) {
            Say(QStringLiteral("%1 belongs to another user: run keshlor-setup %2 as that user, "
                               "not as root; nothing changed")
                    .arg(base, QLatin1String(command)));
            return false;
        }
    }
    return true;
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

QString MimeFolder(const UserLayout& layout) {
    return layout.dataDir + QStringLiteral("/mime");
}

QString LaunchersFolder(const UserLayout& layout) {
    return layout.dataDir + QStringLiteral("/applications");
}

QString LauncherCache(const UserLayout& layout) {
    return LaunchersFolder(layout) + QStringLiteral("/mimeinfo.cache");
}

bool IsRealFolder(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

void RefreshMimeCache(const UserLayout& layout) {
    if (IsRealFolder(MimeFolder(layout) + QStringLiteral("/packages")))
        RunQuietly({"update-mime-database", QFile::encodeName(MimeFolder(layout))});
}

void RefreshLauncherCache(const UserLayout& layout) {
    if (IsRealFolder(LaunchersFolder(layout)))
        RunQuietly({"update-desktop-database", "-q", QFile::encodeName(LaunchersFolder(layout))});
}

// What the cache tools keep: everything in the MIME folder but the
// packages the tool reads, and the launchers' MIME cache.
QStringList CacheEntries(const UserLayout& layout) {
    QStringList entries;
    const QString mime = MimeFolder(layout);
    const QString packages = mime + QStringLiteral("/packages");
    if (IsRealFolder(mime) && Blocker(layout, mime + QStringLiteral("/x")).isEmpty()) {
        QDirIterator all(mime,
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
        while (all.hasNext()) {
            const QString entry = all.next();
            if (entry != packages && !IsBelow(entry, packages))
                entries << entry;
        }
    }
    if (KindOf(LauncherCache(layout)) != EntryKind::Missing)
        entries << LauncherCache(layout);
    entries.sort();
    return entries;
}

// Removes entries deepest first, a folder only once it is empty, other
// entries only with `filesToo`; never through a link.
void RemoveEntries(QStringList entries, bool filesToo) {
    std::sort(entries.begin(), entries.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& entry : entries) {
        const QByteArray name = QFile::encodeName(entry);
        struct stat info {};
        if (lstat(name.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            rmdir(name.constData());
        else if (filesToo)
            unlink(name.constData());
    }
}

// After the removal: caches that still describe other programs' files are
// made again; those that the installation brought and that now describe
// nothing go.
void ClearDesktopCaches(const UserLayout& layout, const InstallManifest& manifest) {
    bool othersCached = false;
    for (const QString& entry : CacheEntries(layout)) {
        if (IsBelow(entry, MimeFolder(layout)) && !manifest.caches.contains(entry))
            othersCached = true;
    }
    const QString packages = MimeFolder(layout) + QStringLiteral("/packages");
    const bool packagesLeft =
        IsRealFolder(packages) &&
        !QDir(packages).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
    QStringList ours;
    if (packagesLeft || othersCached) {
        RefreshMimeCache(layout);
    } else {
        for (const QString& entry : manifest.caches) {
            if (IsBelow(entry, MimeFolder(layout)))
                ours << entry;
        }
    }
    const bool launchersLeft = IsRealFolder(LaunchersFolder(layout)) &&
                               !QDir(LaunchersFolder(layout))
                                    .entryList({QStringLiteral("*.desktop")}, QDir::Files)
                                    .isEmpty();
    const bool othersLauncherCache = KindOf(LauncherCache(layout)) != EntryKind::Missing &&
                                     !manifest.caches.contains(LauncherCache(layout));
    if (launchersLeft || othersLauncherCache)
        RefreshLauncherCache(layout);
    else if (manifest.caches.contains(LauncherCache(layout)))
        ours << LauncherCache(layout);
    RemoveEntries(ours, true);
}

// The hooks read the paths from the file the installer names, and close
// only copies of the program file they replace or remove.
void PointHooksAt(const UserLayout& layout, const QString& program) {
    qputenv("KESHLOR_SETUP_STORE", QFile::encodeName(layout.store));
    qputenv("KESHLOR_SETUP_PROGRAM", QFile::encodeName(program));
}

bool OnPath(const QString& folder) {
    const QStringList path = qEnvironmentVariable("PATH").split(u':');
    return path.contains(folder) || path.contains(folder + u'/');
}

bool ReadSource(Target* target) {
    QFile in(target->from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    target->content = in.readAll();
    return in.error() == QFileDevice::NoError;
}

void PutAllBack(const QStringList& saved) {
    for (const QString& path : saved) {
        if (!PutBack(path))
            Say(QStringLiteral("%1 stays as %2").arg(path, SavedName(path)));
    }
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

QString UserLayout::manifest() const {
    return plat::JoinPath(libDir, QLatin1String(kManifestName));
}

UserLayout CurrentUserLayout(const QString& source, const QString& setupDir) {
    UserLayout layout;
    layout.home = QDir::cleanPath(QDir::homePath());
    const QString local = plat::JoinPath(layout.home, QStringLiteral(".local"));
    layout.source = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    layout.setupDir = QDir::cleanPath(setupDir);
    layout.binDir = local + QStringLiteral("/bin");
    layout.libDir = local + QStringLiteral("/lib/keshlor");
    layout.manDir = local + QStringLiteral("/share/man");
    layout.dataDir =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    layout.configDir =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    const auto named = [&layout](const char* variable, const QString& folder) {
        return QDir::isAbsolutePath(qEnvironmentVariable(variable)) ? folder : layout.home;
    };
    layout.dataBase = named("XDG_DATA_HOME", layout.dataDir);
    layout.configBase = named("XDG_CONFIG_HOME", layout.configDir);
    // Where QSettings keeps the program's own options.
    layout.store = layout.configDir + QStringLiteral("/TQ/Keshlor.conf");
    return layout;
}

int InstallForUser(const HookExports& hooks, const UserLayout& layout, bool force) {
    if (!MayWorkFor(layout, "install-user"))
        return kRefused;
    // Everything must be there before anything changes.
    const QString program = layout.source + QStringLiteral("/bin/keshlor");
    std::vector<Target> targets = {{program, layout.temp(), true, {}}};
    for (Target& companion : Companions(layout))
        targets.push_back(std::move(companion));
    for (Target& target : targets) {
        if (!QFileInfo(target.from).isFile() || !ReadSource(&target)) {
            Say(QStringLiteral("%1 is missing: nothing installed").arg(target.from));
            return kFilesError;
        }
    }
    // The hooks put the program and its launcher in place.
    targets.push_back({{}, layout.app(), true, targets.front().content});
    targets.push_back({{}, layout.appLink(), false, LauncherText(layout.app())});

    InstallManifest earlier;
    if (ReadManifest(layout.manifest(), &earlier) == ManifestRead::Damaged) {
        Say(QStringLiteral("%1 is no record of this installation: nothing installed")
                .arg(layout.manifest()));
        return kFilesError;
    }
    QStringList blocked, foreign;
    const QStringList paths = {layout.manifest(), layout.store};
    for (const QString& path : paths) {
        const QString blocker = Blocker(layout, path);
        if (!blocker.isEmpty() && !blocked.contains(blocker))
            blocked << blocker;
    }
    for (const Target& target : targets) {
        const QString blocker = Blocker(layout, target.to);
        if (!blocker.isEmpty()) {
            if (!blocked.contains(blocker))
                blocked << blocker;
        } else if (KindOf(target.to) != EntryKind::Missing && !earlier.Owns(target.to) &&
                   !foreign.contains(target.to)) {
            foreign << target.to;
        }
    }
    for (const QString& path : blocked)
        Say(QStringLiteral("%1 is a symbolic link or no folder: not followed").arg(path));
    if (!force) {
        for (const QString& path : foreign)
            Say(QStringLiteral("%1 is not a file this installation wrote: not replaced "
                               "(--force keeps it as %2)")
                    .arg(path, SavedName(path)));
    }
    if (!blocked.isEmpty() || (!force && !foreign.isEmpty())) {
        Say(QStringLiteral("nothing installed"));
        return kRefused;
    }

    PointHooksAt(layout, layout.app());
    InstallPaths recorded;
    const bool previously =
        ReadInstallPaths(layout.store, &recorded) || KindOf(layout.app()) != EntryKind::Missing;
    // Before the hooks, which may delete a program under the final name.
    QStringList saved;
    for (const QString& path : foreign) {
        if (!KeepAside(path)) {
            Say(QStringLiteral("cannot keep %1 as %2: nothing installed")
                    .arg(path, SavedName(path)));
            PutAllBack(saved);
            return kFilesError;
        }
        saved << path;
    }
    // There is no window to own the question.
    if (hooks.installInit(nullptr, 1, previously ? 1 : 0,
                          QFile::encodeName(layout.binDir).constData()) != 0) {
        PutAllBack(saved);
        Say(QStringLiteral("installation cancelled: Keshlor is still running."));
        return codeINSTALL_INIT_CANCEL;
    }

    InstallManifest manifest;
    for (const Target& target : targets)
        manifest.files.insert(target.to, ContentHash(target.content));
    manifest.saved = saved;
    manifest.Merge(earlier);
    // The folders first, so that the record names every one it made.
    QStringList folders = {QFileInfo(layout.manifest()).path(), QFileInfo(layout.store).path()};
    for (const Target& target : targets)
        folders << QFileInfo(target.to).path();
    bool made = true;
    for (const QString& folder : folders)
        made = MakeFolders(BaseOf(layout, folder + u'/'), folder, &manifest.folders) && made;
    if (!made || !WriteManifest(layout.manifest(), manifest)) {
        Say(QStringLiteral("cannot make the folders or write %1").arg(layout.manifest()));
        return kFilesError;
    }

    bool copied = true;
    for (const Target& target : targets) {
        // Written from memory: run from ~/.local itself, a source may be its own target.
        if (target.from.isEmpty())
            continue;
        if (!WriteReplacing(target.to, target.content, target.executable)) {
            Say(QStringLiteral("cannot copy %1 to %2").arg(target.from, target.to));
            copied = false;
        }
    }
    if (!copied)
        return kFilesError;
    if (!WriteInstallPaths(layout.store, {layout.temp(), layout.app(), layout.appLink()})) {
        Say(QStringLiteral("cannot record the paths in %1").arg(layout.store));
        return kStoreError;
    }
    hooks.installExit(nullptr, QFile::encodeName(layout.binDir).constData(), 0, 0, 0, 0, 0);

    const QStringList before = CacheEntries(layout);
    RefreshMimeCache(layout);
    RefreshLauncherCache(layout);
    for (const QString& entry : CacheEntries(layout)) {
        if (!before.contains(entry) && !manifest.caches.contains(entry))
            manifest.caches << entry;
    }
    if (!WriteManifest(layout.manifest(), manifest)) {
        Say(QStringLiteral("cannot write %1").arg(layout.manifest()));
        return kFilesError;
    }

    if (!manifest.Owns(layout.app()) || !manifest.Owns(layout.appLink())) {
        Say(QStringLiteral("the program or its launcher could not be put in place"));
        return kFilesError;
    }
    std::printf("Keshlor is installed as %s.\n", qPrintable(layout.app()));
    for (const QString& path : saved)
        std::printf("Your own %s is kept as %s.\n", qPrintable(path), qPrintable(SavedName(path)));
    if (!OnPath(layout.binDir))
        std::printf("Add %s to PATH to run keshlor and ksr by name.\n", qPrintable(layout.binDir));
    return 0;
}

int UninstallForUser(const HookExports& hooks, const UserLayout& layout) {
    if (!MayWorkFor(layout, "uninstall-user"))
        return kRefused;
    InstallManifest manifest;
    const QString blocker = Blocker(layout, layout.manifest());
    const ManifestRead read =
        blocker.isEmpty() ? ReadManifest(layout.manifest(), &manifest) : ManifestRead::Missing;
    if (!blocker.isEmpty())
        Say(QStringLiteral("%1 is a symbolic link or no folder: not followed").arg(blocker));
    if (read == ManifestRead::Missing) {
        Say(QStringLiteral("no record of a per-user installation in %1: nothing removed")
                .arg(layout.manifest()));
        return kRefused;
    }
    if (read == ManifestRead::Damaged) {
        Say(QStringLiteral("%1 is no record of this installation: nothing removed")
                .arg(layout.manifest()));
        return kFilesError;
    }

    InstallPaths recorded;
    const bool hasPaths = ReadInstallPaths(layout.store, &recorded);
    PointHooksAt(layout, hasPaths ? recorded.app : layout.app());
    // The hooks remove the launcher and move the program by the recorded
    // paths: only where each holds what this installation wrote, or nothing.
    const auto ours = [&](const QString& path) {
        return Blocker(layout, path).isEmpty() &&
               (KindOf(path) == EntryKind::Missing || manifest.Owns(path));
    };
    bool forgotten = false;
    if (hasPaths) {
        if (ours(recorded.temp) && ours(recorded.app) && ours(recorded.appLink)) {
            // They give the program back its installer name, in this folder.
            const QString folder = QFileInfo(recorded.temp).path();
            MakeFolders(BaseOf(layout, recorded.temp), folder, &manifest.folders);
        } else if (RemoveInstallPaths(layout.store)) {
            forgotten = true;
        } else {
            Say(QStringLiteral("cannot forget the paths in %1").arg(layout.store));
            return kStoreError;
        }
    }
    if (hooks.uninstallInit(nullptr, QFile::encodeName(layout.binDir).constData()) != 0) {
        if (forgotten)
            WriteInstallPaths(layout.store, recorded);
        Say(QStringLiteral("removal cancelled: Keshlor is still running."));
        return codeUNINSTALL_INIT_CANCEL;
    }

    bool removed = true;
    for (auto it = manifest.files.cbegin(); it != manifest.files.cend(); ++it) {
        const QString& path = it.key();
        if (BaseOf(layout, path).isEmpty()) {
            Say(QStringLiteral("%1 kept: it is outside the installation's folders").arg(path));
            continue;
        }
        const QString through = Blocker(layout, path);
        if (!through.isEmpty()) {
            Say(QStringLiteral("%1 kept: %2 is a symbolic link or no folder").arg(path, through));
            continue;
        }
        if (KindOf(path) == EntryKind::Missing)
            continue;
        if (FileHash(path) != it.value()) {
            Say(QStringLiteral("%1 kept: it changed after it was installed").arg(path));
            continue;
        }
        if (unlink(QFile::encodeName(path).constData()) != 0) {
            Say(QStringLiteral("cannot remove %1").arg(path));
            removed = false;
        }
    }
    // The user's own files that the installation took the names of.
    for (const QString& path : manifest.saved) {
        if (Blocker(layout, path).isEmpty() && KindOf(path) == EntryKind::Missing &&
            KindOf(SavedName(path)) != EntryKind::Missing)
            PutAllBack({path});
    }
    if (!forgotten && !RemoveInstallPaths(layout.store)) {
        Say(QStringLiteral("cannot forget the paths in %1").arg(layout.store));
        return kStoreError;
    }
    hooks.uninstallExit(nullptr);
    ClearDesktopCaches(layout, manifest);
    if (!removed) {
        // The record stays for another try.
        Say(QStringLiteral("some files could not be removed"));
        return kFilesError;
    }
    unlink(QFile::encodeName(layout.manifest()).constData());
    RemoveEntries(manifest.folders, false);
    return 0;
}

} // namespace setup
