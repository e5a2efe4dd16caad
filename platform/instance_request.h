#pragma once
// The requests of the running copy's channel (instance_channel.h), as bytes.
// One request per connection, a line ending in '\n', and one answer line:
//   raise\n          -> raised\n, at once
//   close\n          -> closed\n, once the program has closed
//   open N\n P1\0 ... PN\0
//                    N (1..kMaxOpenPaths) absolute paths, each as the file
//                    name's own bytes (QFile::encodeName) ended by a NUL,
//                    which no file name holds; -> taken\n once the running
//                    copy has queued them, refused\n when it will not (it is
//                    ending, or runs only for its own command line)
// Anything else is hung up on without an answer. QtCore only.
#include <QByteArray>
#include <QStringList>

inline constexpr char kRaiseRequest[] = "raise";
inline constexpr char kCloseRequest[] = "close";
inline constexpr char kOpenRequest[] = "open";
// Paths in one open request; a longer list goes in several.
inline constexpr int kMaxOpenPaths = 128;
// Bytes of one path in an open request (PATH_MAX less its NUL).
inline constexpr int kMaxOpenPathBytes = 4095;
// Bytes of a request line, or of an answer line, without its end.
inline constexpr int kMaxRequestLength = 32;

struct InstanceRequest {
    enum class Kind {
        Incomplete, // more may come that makes it a request
        Raise,
        Close,
        Open,
        Malformed, // nothing that comes after can make it one: hang up
    };
    Kind kind = Kind::Incomplete;
    // The paths of an open request, in their order.
    QStringList paths;
};

// What a peer has sent so far, from the first byte of its connection; the
// channel reads it again each time more has come, and acts on the first
// answer other than Incomplete. Bytes after a whole raise or close line do
// not count; after an open request's last NUL they make it Malformed.
InstanceRequest ReadInstanceRequest(const QByteArray& received);

// The bytes of an open request for `paths` (at most kMaxOpenPaths absolute
// paths).
QByteArray OpenRequestMessage(const QStringList& paths);
