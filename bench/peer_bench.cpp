#include "peer_bench.h"

#include "bench_data.h"
#include "bound_parts.h"
#include "stopwatch.h"
#include "whole_command.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

namespace bench {

namespace {

constexpr double kTargetOfGpg = 0.75;

struct Peer {
    const char* name;
    QStringList command; // empty when the peer is not installed
    const char* missing; // what to install
    double best = std::numeric_limits<double>::infinity();
    int failedExit = 0; // the exit status of a failed run, when one failed
};

QString Find(const char* program) {
    return QStandardPaths::findExecutable(QString::fromLatin1(program));
}

} // namespace

bool RunPeers(const QString& ksr, const QString& folder, size_t size, int repeats) {
    const QDir dir(folder);
    const QString plainPath = dir.filePath(QStringLiteral("peer-plain.txt"));
    const QString outputPath = dir.filePath(QStringLiteral("peer-output"));
    const QString containerPath = plainPath + QStringLiteral(".ksr");
    const QString passwordPath = dir.filePath(QStringLiteral("peer-password"));
    const QString gnupgHome = dir.filePath(QStringLiteral("gnupg"));
    std::printf("\nWhole commands on %zu MiB of text at deflate level 1, wall time, best of %d "
                "(standard input and output /dev/null, page cache warm)\n",
                size >> 20, repeats);
    if (ksr.isEmpty() || !QFile::exists(ksr)) {
        std::printf("skipped: no ksr program (build the ksr target or pass --ksr PATH)\n");
        return true;
    }
    const Bytes text = CompressibleText(size, 1);
    const char password[] = "bench password";
    if (!WriteDurably(plainPath, text) ||
        !WriteDurably(passwordPath, reinterpret_cast<const uint8_t*>(password),
                      sizeof password - 1) ||
        !QFile::setPermissions(passwordPath, QFile::ReadOwner | QFile::WriteOwner) ||
        !QDir().mkpath(gnupgHome) ||
        !QFile::setPermissions(gnupgHome, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        std::fprintf(stderr, "cannot write the peers' work files in %s\n", qPrintable(folder));
        return false;
    }

    // Every option given, so that saved settings cannot change the work; the
    // plain file is kept, as the peers keep theirs.
    Peer peers[] = {
        {"ksr encrypt --fast (128-bit RC2)",
         {ksr, QStringLiteral("encrypt"), QStringLiteral("--fast"), QStringLiteral("--high"),
          QStringLiteral("--no-hide"), QStringLiteral("--no-wipe"), QStringLiteral("--keep"),
          QStringLiteral("--yes"), QStringLiteral("--quiet"), QStringLiteral("--password-file"),
          passwordPath, QStringLiteral("--"), plainPath},
         ""},
        {"gpg --symmetric --compress-algo zlib -z 1", {}, "gpg, gpg-agent"},
        {"gzip -1 | openssl enc -rc2-cbc", {}, "gzip, openssl"},
    };
    if (const QString gpg = Find("gpg"); !gpg.isEmpty())
        peers[1].command = GpgCommand(gpg, gnupgHome, passwordPath) +
                           QStringList{QStringLiteral("--symmetric"),
                                       QStringLiteral("--compress-algo"),
                                       QStringLiteral("zlib"),
                                       QStringLiteral("-z"),
                                       QStringLiteral("1"),
                                       QStringLiteral("--output"),
                                       outputPath,
                                       plainPath};
    // OpenSSL 3 keeps RC2 in its legacy provider.
    if (const QString bash = Find("bash");
        !bash.isEmpty() && !Find("gzip").isEmpty() && !Find("openssl").isEmpty())
        peers[2].command = {bash,
                            QStringLiteral("-c"),
                            QStringLiteral("set -o pipefail; gzip -1 -c -- \"$1\" | openssl enc "
                                           "-rc2-cbc -provider legacy -provider default -pass "
                                           "\"file:$2\" -out \"$3\""),
                            QStringLiteral("bash"),
                            plainPath,
                            passwordPath,
                            outputPath};

    // No pipeline that keeps the one deflate stream can beat deflate itself.
    double deflateAlone = std::numeric_limits<double>::infinity();
    // One untimed run each first: gpg starts its agent then, and the others
    // load their libraries.
    for (int round = -1; round < repeats; ++round) {
        for (Peer& peer : peers) {
            if (peer.command.isEmpty() || peer.failedExit != 0)
                continue;
            Remove(outputPath);
            Remove(containerPath);
            int exitCode = 0;
            const std::optional<double> wall = TimeCommand(peer.command, &exitCode);
            if (!wall)
                peer.failedExit = exitCode;
            else if (round >= 0)
                peer.best = std::min(peer.best, *wall);
        }
        if (const std::optional<Sample> deflated = TimeDeflate(text, 1); deflated && round >= 0)
            deflateAlone = std::min(deflateAlone, deflated->wall);
    }
    if (!peers[1].command.isEmpty()) {
        int ignored = 0;
        if (const QString gpgconf = Find("gpgconf"); !gpgconf.isEmpty())
            TimeCommand({gpgconf, QStringLiteral("--homedir"), gnupgHome, QStringLiteral("--kill"),
                         QStringLiteral("gpg-agent")},
                        &ignored);
    }
    Remove(outputPath);
    Remove(containerPath);
    Remove(plainPath);
    Remove(passwordPath);
    QDir(gnupgHome).removeRecursively();

    const Peer& ours = peers[0];
    std::printf("%-44s %9s %14s\n", "command", "wall ms", "ksr / command");
    for (const Peer& peer : peers) {
        if (peer.command.isEmpty())
            std::printf("%-44s not installed (%s: scripts/deps --bench)\n", peer.name,
                        peer.missing);
        else if (peer.failedExit != 0)
            std::printf("%-44s FAILED (exit %d)\n", peer.name, peer.failedExit);
        else
            std::printf("%-44s %9.1f %14.2f\n", peer.name, peer.best * 1000.0,
                        ours.failedExit == 0 ? ours.best / peer.best : 0.0);
    }
    const Peer& gpg = peers[1];
    std::printf("%-44s %9.1f %14s\n", "(floor: zlib level 1 alone, in this process)",
                deflateAlone * 1000.0, "");
    if (!gpg.command.isEmpty() && gpg.failedExit == 0)
        std::printf("floor / gpg %.2f; ksr / floor %.2f\n", deflateAlone / gpg.best,
                    ours.best / deflateAlone);
    std::printf("target: ksr at or below %.2f of gpg's wall time. ksr also flushes the container "
                "to the disk (fsync) before it names it; the peers do not flush.\n",
                kTargetOfGpg);
    std::fflush(stdout);
    return ours.failedExit == 0;
}

QStringList GpgCommand(const QString& gpg, const QString& home, const QString& passwordFile) {
    return {gpg,
            QStringLiteral("--batch"),
            QStringLiteral("--yes"),
            QStringLiteral("--quiet"),
            QStringLiteral("--homedir"),
            home,
            QStringLiteral("--pinentry-mode"),
            QStringLiteral("loopback"),
            QStringLiteral("--passphrase-file"),
            passwordFile};
}

} // namespace bench
