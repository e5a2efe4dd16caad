#include "gui/options.h"

#include "engine/key_context.h"
#include "platform/files.h"
#include "platform/last_error.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

#include <cerrno>
#include <limits>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

QPointer<QMenu> g_menuOptions;

namespace {

QAction* OptionAction(uint16_t commandId) {
    if (!g_menuOptions)
        return nullptr;
    const QList<QAction*> actions = g_menuOptions->actions();
    for (QAction* action : actions) {
        if (action->isCheckable() && action->data().toInt() == commandId)
            return action;
    }
    return nullptr;
}

void SetOptionCheck(uint16_t commandId, bool on) {
    if (QAction* action = OptionAction(commandId))
        action->setChecked(on);
}

// The major version of the running kernel, 0 when it cannot be read.
int OperatingSystemMajorVersion() {
    utsname name{};
    if (uname(&name) != 0)
        return 0;
    return QByteArray(name.release).split('.').value(0).toInt();
}

// Why the file or folder `path` cannot take the store's file; empty when
// it can. The store writes a new file beside the old one and renames it,
// so its folder must take new files too.
QString StoreFolderProblem(const QString& folder) {
    QString existing = folder;
    struct stat info {};
    while (stat(QFile::encodeName(existing).constData(), &info) != 0 && errno == ENOENT &&
           existing != QFileInfo(existing).path())
        existing = QFileInfo(existing).path();
    if (access(QFile::encodeName(existing).constData(), W_OK) != 0)
        return QStringLiteral("its folder cannot be written");
    // Root would make the file its own, in the folder of another user.
    if (geteuid() == 0 && info.st_uid != 0)
        return QStringLiteral("its folder belongs to another user");
    return {};
}

QString StoreFileProblem(const QString& file) {
    const QByteArray name = QFile::encodeName(file);
    struct stat info {};
    if (stat(name.constData(), &info) != 0) {
        if (errno != ENOENT)
            return QStringLiteral("it cannot be read");
        return StoreFolderProblem(QFileInfo(file).path());
    }
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a file");
    if (info.st_uid != geteuid())
        return QStringLiteral("it belongs to another user");
    const uint32_t attributes = plat::GetFileAttributes(file);
    if (attributes != plat::kInvalidAttributes && (attributes & plat::kAttrReadOnly))
        return QStringLiteral("it is read-only");
    if (access(name.constData(), W_OK) != 0)
        return QStringLiteral("it cannot be written");
    return StoreFolderProblem(QFileInfo(file).path());
}

} // namespace

int OptionStateInMenu(uint16_t commandId) {
    const QAction* action = OptionAction(commandId);
    if (!action)
        return DefaultOption(commandId);
    return action->isChecked() ? 1 : 0;
}

void InstallOptionPort() {
    plat::SetOptionPort(OptionStateInMenu);
}

int IsOptionEnabled(uint16_t commandId) {
    const QAction* action = OptionAction(commandId);
    return action && action->isEnabled() ? 1 : 0;
}

void ToggleOption(uint16_t commandId) {
    if (!IsOptionEnabled(commandId))
        return;
    SetOptionCheck(commandId, !IsOptionChecked(commandId));
}

int DefaultOption(uint16_t commandId) {
    if (commandId == ShowRootFolder)
        return DetectPlatform() <= 1 ? 0 : 1;
    return 1;
}

int ClassifyPlatform(int majorVersion, const PlatformTypeQuery& query) {
    if (majorVersion <= 2)
        return 0;
    if (majorVersion >= 5)
        return 6;
    const bool three = majorVersion == 3;
    if (!query.succeeded) {
        if (query.lastError == plat::kErrorAccessDenied)
            return three ? 3 : 5;
        return three ? 0 : 6;
    }
    if (three && query.type == QLatin1String("Palm PC2"))
        return 1;
    if (query.type == QLatin1String("PocketPC"))
        return three ? 2 : 4;
    if (query.type == QLatin1String("Smartphone"))
        return three ? 3 : 5;
    return three ? 0 : 6;
}

int DetectPlatform() {
    // This platform names no device type: the query fails, and not for
    // want of access.
    PlatformTypeQuery query;
    query.lastError = plat::kErrorNotSupported;
    return ClassifyPlatform(OperatingSystemMajorVersion(), query);
}

bool ReadStoredDword(const QVariant& value, uint32_t* number) {
    if (!value.isValid())
        return false;
    // Text is how the store keeps numbers here; the Windows registry hands
    // back numbers. Either way only what fits 32 bits counts.
    const int type = value.typeId();
    if (type != QMetaType::QString && type != QMetaType::QByteArray && type != QMetaType::Int &&
        type != QMetaType::UInt && type != QMetaType::LongLong && type != QMetaType::ULongLong)
        return false;
    bool ok = false;
    const qlonglong stored = value.toLongLong(&ok);
    if (!ok || stored < std::numeric_limits<int32_t>::min() ||
        stored > static_cast<qlonglong>(std::numeric_limits<uint32_t>::max()))
        return false;
    *number = static_cast<uint32_t>(stored);
    return true;
}

void LoadOption(QSettings& store, const char* valueName, uint16_t commandId) {
    if (commandId == HighEncryption && !ProbeEnhancedProvider()) {
        // Off and grayed for the whole run; the stored value is not read.
        SetOptionCheck(commandId, false);
        if (QAction* action = OptionAction(commandId))
            action->setEnabled(false);
        return;
    }
    uint32_t stored = 0;
    const bool on = ReadStoredDword(store.value(QLatin1String(valueName)), &stored)
                        ? stored != 0
                        : DefaultOption(commandId) != 0;
    SetOptionCheck(commandId, on);
}

void LoadOptions() {
    QSettings store{QString::fromLatin1(kSettingsOrganization),
                    QString::fromLatin1(kSettingsApplication)};
    if (store.status() != QSettings::NoError)
        return;
    for (const OptionValue& option : kOptionLoadOrder)
        LoadOption(store, option.valueName, option.id);
}

QString OptionsStoreProblem() {
    const QString file = QSettings{QString::fromLatin1(kSettingsOrganization),
                                   QString::fromLatin1(kSettingsApplication)}
                             .fileName();
    const QString problem = StoreFileProblem(file);
    if (problem.isEmpty())
        return {};
    return QStringLiteral("Keshlor cannot save its options in \u201c%1\u201d: %2. Changes to the "
                          "options last until Keshlor ends.")
        .arg(file, problem);
}

void SaveOptions(const QString& storageName, const QString& folderName) {
    if (!OptionsStoreProblem().isEmpty())
        return;
    QSettings store{QString::fromLatin1(kSettingsOrganization),
                    QString::fromLatin1(kSettingsApplication)};
    if (store.status() != QSettings::NoError)
        return;
    const auto save = [&store](const char* name, uint16_t id) {
        store.setValue(QLatin1String(name), IsOptionChecked(id));
    };
    save("ShowDate", ShowDate);
    save("FastCompression", FastCompression);
    save("HideEncrypted", HideEncrypted);
    save("HighEncryption", HighEncryption);
    if (IsOptionChecked(RememberFolder)) {
        // Whole: a name the selectors offer is one the system allows.
        store.setValue(QLatin1String(kRecentStorageValue), storageName);
        store.setValue(QLatin1String(kRecentFolderValue), folderName);
    } else {
        // Turning the option on later then starts from the default choices.
        store.setValue(QLatin1String(kRecentStorageValue), QString::fromLatin1(""));
        store.setValue(QLatin1String(kRecentFolderValue), QString::fromLatin1(""));
    }
    save("RememberFolder", RememberFolder);
    save("ShowRootFolder", ShowRootFolder);
    save("ShowSize", ShowSize);
    save("WipePlainFiles", WipePlainFiles);
    store.sync();
}
