#pragma once
// What a per-user installation put in place: each file with the hash of the
// content it wrote, the folders it made, the cache files the desktop's tools
// made for it, and the user's own files it kept aside. Only what this record
// names, unchanged, is ever replaced or removed.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace setup {

struct InstallManifest {
    QMap<QString, QByteArray> files; // path -> SHA-256 of the content written, in hex
    QStringList folders;             // made by the installation
    QStringList caches;              // made by the desktop's cache tools after it
    QStringList saved;               // user files kept as <path>.keshlor-saved

    // True when `path` holds exactly what the installation wrote there.
    bool Owns(const QString& path) const;
    // Adds what `other` records that this one does not.
    void Merge(const InstallManifest& other);
};

enum class ManifestRead { Read, Missing, Damaged };
ManifestRead ReadManifest(const QString& path, InstallManifest* manifest);
bool WriteManifest(const QString& path, const InstallManifest& manifest);

QByteArray ContentHash(const QByteArray& content);
// The hash of a regular file reached without following a link in its last
// component; empty for anything else or when it cannot be read.
QByteArray FileHash(const QString& path);

} // namespace setup
