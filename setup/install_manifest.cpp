#include "setup/install_manifest.h"

#include "platform/unique_fd.h"
#include "setup/home_files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace setup {

namespace {

// A record is small; anything larger is not one of ours.
constexpr qint64 kLargestManifest = 4 * 1024 * 1024;

QJsonArray ToArray(const QStringList& list) {
    return QJsonArray::fromStringList(list);
}

bool FromArray(const QJsonValue& value, QStringList* list) {
    if (!value.isArray())
        return false;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return false;
        list->append(item.toString());
    }
    return true;
}

void AddMissing(QStringList* list, const QStringList& more) {
    for (const QString& item : more) {
        if (!list->contains(item))
            list->append(item);
    }
}

} // namespace

bool InstallManifest::Owns(const QString& path) const {
    const auto found = files.constFind(path);
    return found != files.cend() && FileHash(path) == found.value();
}

void InstallManifest::Merge(const InstallManifest& other) {
    for (auto it = other.files.cbegin(); it != other.files.cend(); ++it) {
        if (!files.contains(it.key()))
            files.insert(it.key(), it.value());
    }
    AddMissing(&folders, other.folders);
    AddMissing(&caches, other.caches);
    AddMissing(&saved, other.saved);
}

ManifestRead ReadManifest(const QString& path, InstallManifest* manifest) {
    if (KindOf(path) == EntryKind::Missing)
        return ManifestRead::Missing;
    QFile file(path);
    if (KindOf(path) != EntryKind::File || !file.open(QIODevice::ReadOnly) ||
        file.size() > kLargestManifest)
        return ManifestRead::Damaged;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return ManifestRead::Damaged;
    const QJsonObject root = document.object();
    InstallManifest read;
    const QJsonValue files = root.value(QLatin1String("files"));
    if (!files.isObject())
        return ManifestRead::Damaged;
    const QJsonObject fileHashes = files.toObject();
    for (auto it = fileHashes.begin(); it != fileHashes.end(); ++it) {
        if (!it.value().isString())
            return ManifestRead::Damaged;
        read.files.insert(it.key(), it.value().toString().toLatin1());
    }
    if (!FromArray(root.value(QLatin1String("folders")), &read.folders) ||
        !FromArray(root.value(QLatin1String("caches")), &read.caches) ||
        !FromArray(root.value(QLatin1String("saved")), &read.saved))
        return ManifestRead::Damaged;
    *manifest = read;
    return ManifestRead::Read;
}

bool WriteManifest(const QString& path, const InstallManifest& manifest) {
    QJsonObject files;
    for (auto it = manifest.files.cbegin(); it != manifest.files.cend(); ++it)
        files.insert(it.key(), QString::fromLatin1(it.value()));
    QJsonObject root;
    root.insert(QLatin1String("files"), files);
    root.insert(QLatin1String("folders"), ToArray(manifest.folders));
    root.insert(QLatin1String("caches"), ToArray(manifest.caches));
    root.insert(QLatin1String("saved"), ToArray(manifest.saved));
    return WriteReplacing(path, QJsonDocument(root).toJson(), false);
}

QByteArray ContentHash(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}

QByteArray FileHash(const QString& path) {
    const plat::UniqueFd fd(
        open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd.get(), buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer, n));
    }
    return hash.result().toHex();
}

} // namespace setup
