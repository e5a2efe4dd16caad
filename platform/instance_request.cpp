#include "platform/instance_request.h"

#include <QFile>

#include <algorithm>

namespace {

using Kind = InstanceRequest::Kind;

bool IsDecimal(const QByteArray& text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The paths after an "open N" line, from `start` of what came: whole once
// all N are in, malformed as soon as one cannot be a path.
InstanceRequest ReadOpenPaths(const QByteArray& received, const QByteArray& count,
                              qsizetype start) {
    const int expected = count.size() <= 4 && IsDecimal(count) ? count.toInt() : 0;
    if (expected < 1 || expected > kMaxOpenPaths)
        return {Kind::Malformed, {}};
    QStringList paths;
    while (paths.size() < expected) {
        const qsizetype nul = received.indexOf('\0', start);
        if ((nul < 0 ? received.size() : nul) - start > kMaxOpenPathBytes)
            return {Kind::Malformed, {}};
        if (nul < 0)
            return {Kind::Incomplete, {}}; // the rest is still on its way
        const QByteArray path = received.mid(start, nul - start);
        // Relative paths would be taken against our working folder, not the sender's.
        if (!path.startsWith('/'))
            return {Kind::Malformed, {}};
        paths.append(QFile::decodeName(path));
        start = nul + 1;
    }
    if (start != received.size())
        return {Kind::Malformed, {}};
    return {Kind::Open, paths};
}

} // namespace

InstanceRequest ReadInstanceRequest(const QByteArray& received) {
    const qsizetype end = received.indexOf('\n');
    if (end < 0)
        return {received.size() > kMaxRequestLength ? Kind::Malformed : Kind::Incomplete, {}};
    const QByteArray request = received.left(end);
    const QByteArray openPrefix = QByteArray(kOpenRequest) + ' ';
    if (request == kRaiseRequest)
        return {Kind::Raise, {}};
    if (request == kCloseRequest)
        return {Kind::Close, {}};
    if (request.startsWith(openPrefix))
        return ReadOpenPaths(received, request.mid(openPrefix.size()), end + 1);
    return {Kind::Malformed, {}};
}

QByteArray OpenRequestMessage(const QStringList& paths) {
    QByteArray message = QByteArray(kOpenRequest) + ' ' + QByteArray::number(paths.size()) + '\n';
    for (const QString& path : paths)
        message += QFile::encodeName(path) + '\0';
    return message;
}
