#include "setup/setup_store.h"

#include "platform/path_limits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace setup {

namespace {

const char* const kValueNames[] = {"Temp", "App", "AppLink"};

// A relative path would be taken from wherever the installer happens to
// run, so it counts as missing like a value of the wrong type.
bool ReadPath(const QSettings& store, const char* name, QString* path) {
    const QVariant value = store.value(QLatin1String(name));
    if (value.typeId() != QMetaType::QString)
        return false;
    *path = value.toString();
    return !path->isEmpty() && plat::PathFits(*path) && QDir::isAbsolutePath(*path);
}

} // namespace

QString SystemStorePath() {
    const QString overridden = qEnvironmentVariable("KESHLOR_SETUP_STORE");
    if (!overridden.isEmpty())
        return overridden;
    return QStringLiteral("/etc/xdg/TQ/Keshlor.conf");
}

bool ReadInstallPaths(const QString& storePath, InstallPaths* paths) {
    if (!QFileInfo(storePath).isFile())
        return false;
    const QSettings store(storePath, QSettings::IniFormat);
    if (store.status() != QSettings::NoError)
        return false;
    InstallPaths read;
    QString* const targets[] = {&read.temp, &read.app, &read.appLink};
    for (int i = 0; i < 3; ++i) {
        if (!ReadPath(store, kValueNames[i], targets[i]))
            return false;
    }
    *paths = read;
    return true;
}

bool WriteInstallPaths(const QString& storePath, const InstallPaths& paths) {
    QDir().mkpath(QFileInfo(storePath).absolutePath());
    QSettings store(storePath, QSettings::IniFormat);
    store.setValue(QLatin1String(kValueNames[0]), paths.temp);
    store.setValue(QLatin1String(kValueNames[1]), paths.app);
    store.setValue(QLatin1String(kValueNames[2]), paths.appLink);
    store.sync();
    return store.status() == QSettings::NoError;
}

bool RemoveInstallPaths(const QString& storePath) {
    if (!QFileInfo::exists(storePath))
        return true;
    bool empty = false;
    {
        QSettings store(storePath, QSettings::IniFormat);
        for (const char* name : kValueNames)
            store.remove(QLatin1String(name));
        store.sync();
        if (store.status() != QSettings::NoError)
            return false;
        empty = store.allKeys().isEmpty();
    }
    if (!empty)
        return true;
    if (!QFile::remove(storePath))
        return false;
    // Only when nothing else lives there.
    QDir().rmdir(QFileInfo(storePath).absolutePath());
    return true;
}

} // namespace setup
