#pragma once
// Passwords as bytes from a terminal, a file or an open descriptor.
#include <QByteArray>
#include <QString>

#include <cstdint>

// Longer input is taken for a wrong file (a device, a document) and refused.
inline constexpr qsizetype kPasswordInputLimit = 64 * 1024;

// The password spelled by `bytes`, taken whole as UTF-8, in a buffer locked in
// memory. False, with `problem` filled, for bytes that are not UTF-8, hold a
// NUL, or spell more than kMaxPasswordUnits, which the program's password
// fields cannot hold.
bool DecodePassword(const QByteArray& bytes, QString* password, QString* problem);
// A script's password text: one final "\n" or "\r\n" is not part of it.
// Trimmed in place, so that no second copy of the password is made.
void DropFinalNewline(QByteArray* bytes);
// A file as the system knows it, whatever its names.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Everything the file or descriptor holds, in a buffer locked in memory;
// false, with `problem` filled, when it cannot be read. `readableByOthers`
// tells whether the file's group or other users may read it too; `read`,
// when given, which file was read.
bool ReadPasswordFile(const QString& path, QByteArray* bytes, QString* problem,
                      bool* readableByOthers, FileIdentity* read = nullptr);
bool ReadPasswordDescriptor(int fd, QByteArray* bytes, QString* problem);
