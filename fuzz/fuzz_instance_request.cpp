// Any bytes as what a peer sends the running copy's channel. The channel
// reads what has come so far each time more arrives and acts on the first
// answer that is not Incomplete, so the bytes are read whole and as they
// would arrive in pieces of growing size. Whatever the reading, an open
// request hands over only absolute paths, at most kMaxOpenPaths, which the
// second copy's own request for them reproduces; nothing else is read as a
// request, and no peer is kept waiting on more bytes than one request holds.
#include "platform/instance_request.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using Kind = InstanceRequest::Kind;

// The most an unanswered peer can have sent: an "open N" line and N paths,
// each with its NUL.
constexpr qsizetype kLongestRequest =
    kMaxRequestLength + 1 + qsizetype(kMaxOpenPaths) * (kMaxOpenPathBytes + 1);

[[noreturn]] void Fail(const char* what, const QByteArray& received) {
    std::fprintf(stderr, "instance request (%lld bytes read): %s\n",
                 static_cast<long long>(received.size()), what);
    std::abort();
}

bool StartsWithLine(const QByteArray& received, const char* line) {
    return received.startsWith(QByteArray(line) + '\n');
}

void Check(const QByteArray& received, const InstanceRequest& request) {
    if (request.kind != Kind::Open && !request.paths.isEmpty())
        Fail("paths without an open request", received);
    switch (request.kind) {
    case Kind::Incomplete:
        if (received.size() > kLongestRequest)
            Fail("still waiting past the longest request", received);
        return;
    case Kind::Malformed:
        return;
    case Kind::Raise:
        if (!StartsWithLine(received, kRaiseRequest))
            Fail("raise without its line", received);
        return;
    case Kind::Close:
        if (!StartsWithLine(received, kCloseRequest))
            Fail("close without its line", received);
        return;
    case Kind::Open:
        break;
    }
    if (request.paths.isEmpty() || request.paths.size() > kMaxOpenPaths)
        Fail("an open request with no paths or too many", received);
    const QByteArray line = received.left(received.indexOf('\n'));
    const QByteArray prefix = QByteArray(kOpenRequest) + ' ';
    bool number = false;
    if (!line.startsWith(prefix) ||
        line.mid(prefix.size()).toInt(&number) != request.paths.size() || !number)
        Fail("an open request with other than the paths its line counts", received);
    bool fits = true;
    for (const QString& path : request.paths) {
        if (!path.startsWith(QLatin1Char('/')))
            Fail("a relative path handed over", received);
        // Bytes that are no text come back as a replacement character,
        // which takes more room than they did.
        fits = fits && QFile::encodeName(path).size() <= kMaxOpenPathBytes;
    }
    if (!fits)
        return;
    const InstanceRequest again = ReadInstanceRequest(OpenRequestMessage(request.paths));
    if (again.kind != Kind::Open || again.paths != request.paths)
        Fail("the second copy's own request for the paths reads otherwise", received);
}

// Feeds `sent` in pieces of `first` bytes, then twice as many each time,
// until the reading is no longer Incomplete.
void Feed(const QByteArray& sent, qsizetype first) {
    QByteArray received;
    qsizetype piece = first;
    for (qsizetype at = 0; at < sent.size(); piece *= 2) {
        const qsizetype size = std::min(piece, sent.size() - at);
        received.append(sent.constData() + at, size);
        at += size;
        const InstanceRequest request = ReadInstanceRequest(received);
        Check(received, request);
        if (request.kind != Kind::Incomplete)
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray sent(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Feed(sent, std::max<qsizetype>(sent.size(), 1));
    Feed(sent, 1);
    return 0;
}
