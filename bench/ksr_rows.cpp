#include "ksr_rows.h"

#include "bench_data.h"
#include "peer_bench.h"
#include "whole_command.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include <unistd.h>

namespace bench {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
// What ksr holds back of a decryption to standard output (cli/standard_streams.h).
constexpr size_t kHoldBack = 16u << 20;

// Two whole commands to time in turn, each with its standard input and output
// (/dev/null where empty); `prepare` runs, untimed, before each of them.
struct Pair {
    QStringList a;
    QStringList b;
    QString aInput, aOutput, bInput, bOutput;
    std::function<void()> prepare = [] {};
};

struct Timed {
    std::vector<double> a, b, ratios;
    QString failed; // the command that did not exit with 0, and its status
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One untimed run of each first (caches, libraries, gpg's agent), then
// `pairs` of A and B in turn: a slow spell of the machine touches a pair
// alike, so their ratio holds where the times drift.
Timed TimePairs(const Pair& pair, int pairs) {
    Timed timed;
    for (int round = -1; round < pairs; ++round) {
        int exitCode = 0;
        pair.prepare();
        const std::optional<double> a = TimeCommand(pair.a, &exitCode, pair.aInput, pair.aOutput);
        if (!a) {
            timed.failed = QStringLiteral("%1 (exit %2)").arg(pair.a.join(' ')).arg(exitCode);
            return timed;
        }
        pair.prepare();
        const std::optional<double> b = TimeCommand(pair.b, &exitCode, pair.bInput, pair.bOutput);
        if (!b) {
            timed.failed = QStringLiteral("%1 (exit %2)").arg(pair.b.join(' ')).arg(exitCode);
            return timed;
        }
        if (round < 0)
            continue;
        timed.a.push_back(*a);
        timed.b.push_back(*b);
        timed.ratios.push_back(*a / *b);
    }
    return timed;
}

// Prints a row; false when a command failed. `target` is the most A/B may
// be (0: the row has none).
bool PrintRow(const QString& name, const Timed& timed, double target = 0) {
    if (!timed.failed.isEmpty()) {
        std::printf("%-58s FAILED: %s\n", qPrintable(name), qPrintable(timed.failed));
        return false;
    }
    const auto [least, most] = std::minmax_element(timed.ratios.begin(), timed.ratios.end());
    const double median = Median(timed.ratios);
    const QString goal = target > 0 ? QString::number(target, 'f', 2) : QString();
    std::printf("%-58s %8.3f %8.3f %7.2f (%.2f-%.2f) %6s%s\n", qPrintable(name), Median(timed.a),
                Median(timed.b), median, *least, *most, qPrintable(goal),
                target > 0 && median > target ? " *" : "");
    std::fflush(stdout);
    return true;
}

QString Find(const char* program) {
    return QStandardPaths::findExecutable(QString::fromLatin1(program));
}

bool WriteFiles(const QStringList& paths, size_t size, bool random) {
    uint64_t seed = 11;
    for (const QString& path : paths) {
        const Bytes data = random ? RandomBytes(size, seed++) : CompressibleText(size, seed++);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data.data()), data.size()) !=
                static_cast<qint64>(data.size()))
            return false;
    }
    // On the disk before the timed runs, so that its write-back does not compete with them.
    ::sync();
    return true;
}

void RemoveContainers(const QString& folder) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.ksr")}, QDir::Files))
        Remove(dir.filePath(name));
}

// `count` files of `size` bytes, encrypted with -j 2 (A) and -j 1 (B).
bool BatchRow(const QString& ksr, const QStringList& common, const QString& folder, int count,
              size_t size, double target, int pairs) {
    QDir().mkpath(folder);
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << QDir(folder).filePath(QStringLiteral("f%1").arg(i));
    if (!WriteFiles(files, size, false)) {
        std::fprintf(stderr, "cannot write the files in %s\n", qPrintable(folder));
        return false;
    }
    Pair pair;
    pair.a = QStringList{ksr, QStringLiteral("encrypt"), QStringLiteral("-j"), QStringLiteral("2"),
                         QStringLiteral("--keep")} +
             common + QStringList{QStringLiteral("--")} + files;
    pair.b = pair.a;
    pair.b[3] = QStringLiteral("1");
    pair.prepare = [folder] { RemoveContainers(folder); };
    const QString name =
        size >= (1u << 20) ? QStringLiteral("%1 x %2 MiB: -j 2 / -j 1").arg(count).arg(size >> 20)
                           : QStringLiteral("%1 x %2 KiB: -j 2 / -j 1").arg(count).arg(size >> 10);
    const bool ok = PrintRow(name, TimePairs(pair, pairs), target);
    QDir(folder).removeRecursively();
    return ok;
}

} // namespace

bool RunKsrRows(const QString& ksr, const QString& folder, bool quick) {
    const int pairs = quick ? 1 : 5;
    std::printf("\nksr at scale and as a filter: whole commands timed in turn (A, B, A, B ...), "
                "%d pairs after one untimed run of each; A/B per pair: median (min-max)\n",
                pairs);
    if (ksr.isEmpty() || !QFile::exists(ksr)) {
        std::printf("skipped: no ksr program (build the ksr target or pass --ksr PATH)\n");
        return true;
    }
    const QDir dir(folder);
    const QString password = dir.filePath(QStringLiteral("rows-password"));
    const char secret[] = "bench password";
    if (!WriteDurably(password, reinterpret_cast<const uint8_t*>(secret), sizeof secret - 1) ||
        !QFile::setPermissions(password, QFile::ReadOwner | QFile::WriteOwner)) {
        std::fprintf(stderr, "cannot write the password file in %s\n", qPrintable(folder));
        return false;
    }
    // Every option given, so that saved settings cannot change the work.
    const QStringList common = {QStringLiteral("--password-file"), password,
                                QStringLiteral("--high"),          QStringLiteral("--fast"),
                                QStringLiteral("--no-hide"),       QStringLiteral("--no-wipe"),
                                QStringLiteral("--quiet")};
    std::printf("%-58s %8s %8s %-20s %s\n", "row (A / B)", "A s", "B s", "   A/B", "target");

    bool ok = BatchRow(ksr, common, dir.filePath(QStringLiteral("small")), quick ? 50 : 1000, 4096,
                       1.0, pairs);
    ok = BatchRow(ksr, common, dir.filePath(QStringLiteral("large")), quick ? 2 : 6,
                  quick ? (2u << 20) : (24u << 20), 1 / 1.3, pairs) &&
         ok;

    // Decrypting beside gpg -d, on text and on data deflate cannot shrink.
    const QString gpg = Find("gpg");
    const QString gnupgHome = dir.filePath(QStringLiteral("rows-gnupg"));
    const QStringList gpgCommon = GpgCommand(gpg, gnupgHome, password);
    QDir().mkpath(gnupgHome);
    QFile::setPermissions(gnupgHome, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString decrypted = dir.filePath(QStringLiteral("rows-decrypted"));
    QDir().mkpath(decrypted);
    const QString output = dir.filePath(QStringLiteral("rows-output"));
    // On random bytes RC2, the format's cipher, is what takes the time, and
    // gpg's AES is faster: that row shows what the hold-back costs, with no target.
    struct Data {
        const char* name;
        size_t size;
        bool random;
    };
    const size_t size = quick ? (2u << 20) : (64u << 20);
    const Data sets[] = {{"text", size, false}, {"random", quick ? size : 4 * kHoldBack, true}};
    for (const Data& data : sets) {
        const QString plain = dir.filePath(QStringLiteral("rows-plain"));
        const QString container = QDir(decrypted).filePath(QStringLiteral("rows-plain.ksr"));
        const QString sealed = dir.filePath(QStringLiteral("rows-plain.gpg"));
        int exitCode = 0;
        if (!WriteFiles({plain}, data.size, data.random) ||
            !TimeCommand(QStringList{ksr, QStringLiteral("encrypt"), QStringLiteral("-")} + common,
                         &exitCode, plain, container)) {
            std::fprintf(stderr, "cannot make the %s container (exit %d)\n", data.name, exitCode);
            return false;
        }
        const QString label =
            QStringLiteral("%1 MiB %2%3")
                .arg(data.size >> 20)
                .arg(data.name)
                .arg(data.size == 4 * kHoldBack ? QStringLiteral(" (4 x hold-back)") : QString());
        if (gpg.isEmpty()) {
            std::printf("%-58s gpg not installed (scripts/deps --bench)\n", qPrintable(label));
        } else if (!TimeCommand(gpgCommon + QStringList{QStringLiteral("--symmetric"),
                                                        QStringLiteral("--compress-algo"),
                                                        QStringLiteral("zlib"),
                                                        QStringLiteral("-z"), QStringLiteral("1"),
                                                        QStringLiteral("-o"), sealed, plain},
                                &exitCode)) {
            std::printf("%-58s gpg FAILED (exit %d)\n", qPrintable(label), exitCode);
        } else {
            Pair toFile;
            toFile.a = QStringList{ksr, QStringLiteral("decrypt"), QStringLiteral("--keep")} +
                       common + QStringList{container};
            toFile.b =
                gpgCommon + QStringList{QStringLiteral("-d"), QStringLiteral("-o"), output, sealed};
            toFile.prepare = [&] {
                Remove(QDir(decrypted).filePath(QStringLiteral("rows-plain")));
                Remove(output);
            };
            ok = PrintRow(label + QStringLiteral(": decrypt to a file / gpg -d -o"),
                          TimePairs(toFile, pairs)) &&
                 ok;
            Pair toOutput;
            toOutput.a = QStringList{ksr, QStringLiteral("-d"), QStringLiteral("-c")} + common +
                         QStringList{container};
            toOutput.b = gpgCommon + QStringList{QStringLiteral("-d"), sealed};
            ok = PrintRow(label + QStringLiteral(": decrypt to stdout / gpg -d"),
                          TimePairs(toOutput, pairs), data.random ? 0 : 0.75) &&
                 ok;
        }
        if (!data.random) {
            const QString named = plain + QStringLiteral(".ksr");
            Pair input;
            input.a = QStringList{ksr, QStringLiteral("encrypt"), QStringLiteral("-")} + common;
            input.aInput = plain;
            input.aOutput = output;
            input.b = QStringList{ksr, QStringLiteral("encrypt"), QStringLiteral("--keep")} +
                      common + QStringList{plain};
            input.prepare = [&] {
                Remove(output);
                Remove(named);
            };
            ok = PrintRow(label + QStringLiteral(": encrypt - < file / encrypt file"),
                          TimePairs(input, pairs), 1.1) &&
                 ok;
            Remove(named);
        }
        Remove(plain);
        Remove(container);
        Remove(sealed);
        Remove(output);
    }
    if (!gpg.isEmpty()) {
        int ignored = 0;
        if (const QString gpgconf = Find("gpgconf"); !gpgconf.isEmpty())
            TimeCommand({gpgconf, QStringLiteral("--homedir"), gnupgHome, QStringLiteral("--kill"),
                         QStringLiteral("gpg-agent")},
                        &ignored);
    }
    QDir(gnupgHome).removeRecursively();
    QDir(decrypted).removeRecursively();
    Remove(password);
    std::printf("target: the most A/B may be; rows above it are marked *. -j rows encrypt and "
                "keep the files; ksr flushes what it writes to the disk (fsync) before it names "
                "it, gpg does not.\n");
    return ok;
}

} // namespace bench
