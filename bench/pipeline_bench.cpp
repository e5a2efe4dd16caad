// Encrypt and decrypt throughput of the pipelines beside the bound of their
// parts measured in the same run on the same bytes, and the peak memory of ksr
// on a large and a small file. Prints ratios; asserts nothing about time. The
// exit status says only whether every run succeeded and round-tripped.
#include "bench_data.h"
#include "bound_parts.h"
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine/engine_faults.h"
#include "ksr_rows.h"
#include "peak_memory.h"
#include "peer_bench.h"
#include "platform/ports.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

using namespace bench;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kTargetRatio = 0.90;
constexpr double kOverlapTarget = 0.85;
// Whole-file buffering anywhere would show as growth of the file's size.
constexpr long kFlatMemoryKiB = 2048;
// What ksr holds back of a decryption to standard output (cli/standard_streams.h).
constexpr long kHoldBackKiB = 16 * 1024;
const QString kPassword = QStringLiteral("bench password");

struct Settings {
    bool quick = false;
    bool peersOnly = false;
    bool rowsOnly = false;
    QString folder; // work folder's parent; the current folder by default
    QString ksr;
    QString launcher; // keshlor_run_measured
};

struct Options {
    bool high = true;
    bool fast = false;
};
Options g_options;
int g_unexpectedBoxes = 0;

void InstallPorts() {
    plat::SetOptionPort([](uint16_t id) -> int {
        switch (id) {
        case HighEncryption:
            return g_options.high;
        case FastCompression:
            return g_options.fast;
        default:
            return 0; // not hidden, not wiped: wiping would time the wipe, not the pipeline
        }
    });
    plat::SetMessageBoxPort(
        [](plat::WindowHandle, const QString& text, const QString& caption, uint32_t style) {
            ++g_unexpectedBoxes;
            std::fprintf(stderr, "unexpected message \"%s\": %s\n", qPrintable(caption),
                         qPrintable(text));
            return plat::SafeAnswer(style);
        });
}

// The best of several measurements: noise only ever adds time.
struct Best {
    double wall = std::numeric_limits<double>::infinity();
    double cpu = std::numeric_limits<double>::infinity();
    bool failed = false;
    void Add(std::optional<Sample> s) {
        if (!s) {
            failed = true;
            return;
        }
        wall = std::min(wall, s->wall);
        cpu = std::min(cpu, s->cpu);
    }
    double ms() const { return wall * 1000.0; }
};

struct Row {
    const char* data = "";
    int level = 9;
    bool high = true;
    const char* op = "";
    size_t plainSize = 0;
    size_t outputSize = 0; // what the run writes: container or plain file
    Best pipeline, oneThread, zlib, rc2, write;
    bool ok() const {
        return !pipeline.failed && !oneThread.failed && !zlib.failed && !rc2.failed &&
               !write.failed;
    }
    double boundWall() const { return zlib.wall + rc2.wall + write.wall; }
    double boundCpu() const { return zlib.cpu + rc2.cpu + write.cpu; }
    double ratio() const { return boundWall() / pipeline.wall; }
    // The slowest stage alone, which no overlap of the two stages can beat:
    // encrypt reads and deflates beside RC2 and the write; decrypt reads and
    // decrypts beside inflate and the write.
    double overlapWall() const {
        return std::strcmp(op, "encrypt") == 0 ? std::max(zlib.wall, rc2.wall + write.wall)
                                               : std::max(rc2.wall, zlib.wall + write.wall);
    }
    double overlapRatio() const { return overlapWall() / pipeline.wall; }
};

std::optional<Sample> TimeEncrypt(const QString& plainPath, const QString& containerPath,
                                  const Bytes& plain) {
    Remove(containerPath);
    if (!WriteDurably(plainPath, plain))
        return std::nullopt;
    const Stopwatch watch;
    const EncryptResult result =
        EncryptFileToContainer(nullptr, plainPath, containerPath, kPassword);
    const Sample sample = watch.Elapsed();
    if (result != EncryptResult::Ok || Exists(plainPath)) {
        std::fprintf(stderr, "encrypt run failed (result %d)\n", static_cast<int>(result));
        return std::nullopt;
    }
    return sample;
}

std::optional<Sample> TimeDecrypt(const QString& containerPath, const QString& plainPath,
                                  const Bytes& container, const Bytes& plain) {
    Remove(plainPath);
    if (!WriteDurably(containerPath, container))
        return std::nullopt;
    const Stopwatch watch;
    const DecryptResult result =
        DecryptContainerToFile(nullptr, containerPath, plainPath, kPassword);
    const Sample sample = watch.Elapsed();
    Bytes restored;
    if (result != DecryptResult::Ok || Exists(containerPath) || !ReadWhole(plainPath, &restored) ||
        restored != plain) {
        std::fprintf(stderr, "decrypt run failed or did not restore the plain file (result %d)\n",
                     static_cast<int>(result));
        return std::nullopt;
    }
    return sample;
}

// One data set at one level and strength: both pipelines and their bounds,
// interleaved so that a slow spell of the disk touches all of them alike.
std::pair<Row, Row> MeasureRows(const QTemporaryDir& work, const char* dataName, const Bytes& plain,
                                const Bytes& compressed, int level, bool high, int repeats) {
    g_options = {high, level == 1};
    const QString plainPath = work.filePath(QStringLiteral("plain.dat"));
    const QString containerPath = work.filePath(QStringLiteral("plain.dat.ksr"));
    const QString boundPath = work.filePath(QStringLiteral("bound-output"));

    Row enc;
    Row dec;
    for (Row* row : {&enc, &dec}) {
        row->data = dataName;
        row->level = level;
        row->high = high;
        row->plainSize = plain.size();
    }
    enc.op = "encrypt";
    dec.op = "decrypt";
    Bytes container;
    for (int i = 0; i < repeats; ++i) {
        enc.pipeline.Add(TimeEncrypt(plainPath, containerPath, plain));
        engine_faults::ForceStages(engine_faults::Stages::SingleThread);
        enc.oneThread.Add(TimeEncrypt(plainPath, containerPath, plain));
        engine_faults::ForceStages(engine_faults::Stages::Automatic);
        if (container.empty() && (!ReadWhole(containerPath, &container) ||
                                  container.size() != 8 * (compressed.size() / 8 + 1))) {
            std::fprintf(stderr, "container has the wrong length\n");
            enc.pipeline.failed = true;
            dec.pipeline.failed = true;
            break;
        }
        enc.zlib.Add(TimeDeflate(plain, level));
        enc.rc2.Add(TimeRc2Encrypt(compressed, high));
        enc.write.Add(TimeWriteAndFlush(boundPath, container));

        // Decrypt runs are short beside the disk's hiccups: sample them twice as often.
        for (int k = 0; k < 2; ++k) {
            dec.pipeline.Add(TimeDecrypt(containerPath, plainPath, container, plain));
            engine_faults::ForceStages(engine_faults::Stages::SingleThread);
            dec.oneThread.Add(TimeDecrypt(containerPath, plainPath, container, plain));
            engine_faults::ForceStages(engine_faults::Stages::Automatic);
            dec.rc2.Add(TimeRc2Decrypt(container, high));
            dec.zlib.Add(TimeInflate(compressed, plain.size()));
            dec.write.Add(TimeWriteAndFlush(boundPath, plain));
        }
    }
    enc.outputSize = container.size();
    dec.outputSize = plain.size();
    Remove(plainPath);
    Remove(containerPath);
    return {enc, dec};
}

void PrintHeader(const QTemporaryDir& work, size_t size, int repeats) {
    std::printf("Pipelines against the bound of their parts: %.0f MiB per row, best of %d runs "
                "(decrypt %d)\n",
                size / kMiB, repeats, 2 * repeats);
    std::printf("work folder %s\n", qPrintable(work.path()));
    const QString memoryFs = MemoryFileSystemName(work.path());
    if (!memoryFs.isEmpty())
        std::printf("note: the work folder is on %s, so write+fsync measures memory, not a disk\n",
                    qPrintable(memoryFs));
    std::printf(
        "bound = zlib alone + RC2 alone + write and fsync alone, on the same bytes; MiB/s counts\n"
        "plain bytes; ratio = pipeline MiB/s / bound MiB/s (target >= %.2f); cpu = the same ratio\n"
        "in CPU time, which other programs on the machine hardly disturb; 1-thr = the same run\n"
        "with its stages on one thread, x1 = pipe / 1-thr; overlap = the slowest stage alone,\n"
        "the limit of running the two stages side by side, xov = pipe / overlap (target >= %.2f;\n"
        "decrypt can pass 1, as both threads take part in RC2)\n\n",
        kTargetRatio, kOverlapTarget);
    std::printf("%-6s %5s %-4s %-7s %7s %10s %7s %5s %11s %6s  %5s %8s %5s %9s %9s %9s %9s\n",
                "data", "level", "str", "op", "out MiB", "pipe MiB/s", "1-thr", "x1", "bound MiB/s",
                "ratio", "cpu", "overlap", "xov", "pipe ms", "zlib ms", "rc2 ms", "write ms");
}

bool PrintRow(const Row& row) {
    if (!row.ok()) {
        std::printf("%-6s %5d %-4s %-7s  FAILED\n", row.data, row.level, row.high ? "high" : "low",
                    row.op);
        return false;
    }
    const double pipeRate = row.plainSize / kMiB / row.pipeline.wall;
    const double oneRate = row.plainSize / kMiB / row.oneThread.wall;
    const double boundRate = row.plainSize / kMiB / row.boundWall();
    const double overlapRate = row.plainSize / kMiB / row.overlapWall();
    std::printf("%-6s %5d %-4s %-7s %7.1f %10.1f %7.1f %5.2f %11.1f %6.2f%s %5.2f %8.1f %5.2f%s"
                "%9.1f %9.1f %9.1f %9.1f\n",
                row.data, row.level, row.high ? "high" : "low", row.op, row.outputSize / kMiB,
                pipeRate, oneRate, pipeRate / oneRate, boundRate, row.ratio(),
                row.ratio() < kTargetRatio ? "*" : " ", row.boundCpu() / row.pipeline.cpu,
                overlapRate, row.overlapRatio(), row.overlapRatio() < kOverlapTarget ? "!" : " ",
                row.pipeline.ms(), row.zlib.ms(), row.rc2.ms(), row.write.ms());
    std::fflush(stdout);
    return true;
}

// Runs every row; false when any run failed or did not round-trip.
bool RunThroughput(const Settings& settings, const QTemporaryDir& work) {
    const size_t size = settings.quick ? (2u << 20) : (64u << 20);
    const int repeats = settings.quick ? 1 : 5;
    PrintHeader(work, size, repeats);

    struct DataSet {
        const char* name;
        Bytes bytes;
    };
    const DataSet sets[] = {{"text", CompressibleText(size, 1)}, {"random", RandomBytes(size, 2)}};
    bool allOk = true;
    int belowTarget = 0;
    int belowOverlap = 0;
    for (const DataSet& set : sets) {
        for (const int level : {9, 1}) {
            Bytes compressed;
            if (!TimeDeflate(set.bytes, level, &compressed)) {
                std::fprintf(stderr, "zlib failed on the %s data\n", set.name);
                return false;
            }
            for (const bool high : {true, false}) {
                const auto [enc, dec] =
                    MeasureRows(work, set.name, set.bytes, compressed, level, high, repeats);
                for (const Row* row : {&enc, &dec}) {
                    allOk = PrintRow(*row) && allOk;
                    if (row->ok() && row->ratio() < kTargetRatio)
                        ++belowTarget;
                    if (row->ok() && row->overlapRatio() < kOverlapTarget)
                        ++belowOverlap;
                }
            }
        }
    }
    std::printf("\nrows below %.2f of the bound: %d (marked *); below %.2f of the slowest stage: "
                "%d (marked !)\n",
                kTargetRatio, belowTarget, kOverlapTarget, belowOverlap);
    return allOk;
}

// Peak memory of ksr's runs on one file, in KiB.
struct KsrPeaks {
    long encrypt = 0;
    long decrypt = 0;
    long encryptInput = 0;  // ksr encrypt - < file
    long decryptOutput = 0; // ksr -d -c file.ksr
};

// Encrypts and decrypts a file of `size` bytes with ksr, to files and as a filter.
bool MeasureKsr(const Settings& settings, const QTemporaryDir& work, uint64_t size,
                const Bytes& pattern, KsrPeaks* peaks) {
    const QString plainPath = work.filePath(QStringLiteral("memory.dat"));
    const QString containerPath = plainPath + QStringLiteral(".ksr");
    const QString passwordPath = work.filePath(QStringLiteral("password.txt"));
    const QByteArray password = kPassword.toUtf8();
    if (!WriteDurably(passwordPath, reinterpret_cast<const uint8_t*>(password.constData()),
                      static_cast<size_t>(password.size())) ||
        !QFile::setPermissions(passwordPath, QFile::ReadOwner | QFile::WriteOwner))
        return false;

    QFile plain(plainPath);
    if (!plain.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (uint64_t written = 0; written < size;) {
        const auto piece = static_cast<qint64>(std::min<uint64_t>(pattern.size(), size - written));
        if (plain.write(reinterpret_cast<const char*>(pattern.data()), piece) != piece)
            return false;
        written += static_cast<uint64_t>(piece);
    }
    plain.close();

    // Low and fast keep the 1 GiB run short; zlib's state is the same size at
    // either level, and the cipher holds no more for one strength than the other.
    const QStringList common = {QStringLiteral("--password-file"),
                                passwordPath,
                                QStringLiteral("--low"),
                                QStringLiteral("--fast"),
                                QStringLiteral("--no-hide"),
                                QStringLiteral("--no-wipe"),
                                QStringLiteral("--yes")};
    const QString resultPath = work.filePath(QStringLiteral("measured.txt"));
    const ChildRun encrypt =
        RunMeasured(settings.launcher, resultPath, settings.ksr,
                    QStringList{QStringLiteral("encrypt"), plainPath} + common);
    const bool encrypted =
        encrypt.measured && encrypt.exitCode == 0 && Exists(containerPath) && !Exists(plainPath);
    // The filter's runs, with the container in place and the data going nowhere.
    const ChildRun decryptOutput =
        encrypted
            ? RunMeasured(settings.launcher, resultPath, settings.ksr,
                          QStringList{QStringLiteral("-d"), QStringLiteral("-c"), containerPath} +
                              common)
            : ChildRun{};
    const ChildRun encryptInput =
        encrypted
            ? RunMeasured(settings.launcher, resultPath, settings.ksr,
                          QStringList{QStringLiteral("encrypt"), QStringLiteral("-")} + common,
                          containerPath)
            : ChildRun{};
    const bool filtered = decryptOutput.measured && decryptOutput.exitCode == 0 &&
                          encryptInput.measured && encryptInput.exitCode == 0;
    const ChildRun decrypt =
        encrypted ? RunMeasured(settings.launcher, resultPath, settings.ksr,
                                QStringList{QStringLiteral("decrypt"), containerPath} + common)
                  : ChildRun{};
    const bool decrypted = decrypt.measured && decrypt.exitCode == 0 && !Exists(containerPath) &&
                           FileRepeats(plainPath, pattern, size);
    Remove(plainPath);
    Remove(containerPath);
    Remove(passwordPath);
    Remove(resultPath);
    if (!encrypted || !decrypted || !filtered) {
        std::fprintf(stderr, "ksr %s of %llu bytes failed (exit %d)\n",
                     !encrypted  ? "encrypt"
                     : !filtered ? "as a filter"
                                 : "decrypt",
                     static_cast<unsigned long long>(size),
                     !encrypted  ? encrypt.exitCode
                     : !filtered ? std::max(decryptOutput.exitCode, encryptInput.exitCode)
                                 : decrypt.exitCode);
        return false;
    }
    *peaks = {encrypt.peakKiB, decrypt.peakKiB, encryptInput.peakKiB, decryptOutput.peakKiB};
    return true;
}

QString SizeName(uint64_t size) {
    return size >= (1ull << 30) ? QStringLiteral("%1 GiB").arg(size >> 30)
                                : QStringLiteral("%1 MiB").arg(size >> 20);
}

bool RunMemory(const Settings& settings, const QTemporaryDir& work) {
    std::printf("\nPeak resident memory of ksr (--low --fast), from wait4's ru_maxrss\n");
    if (settings.ksr.isEmpty() || !QFile::exists(settings.ksr)) {
        std::printf("skipped: no ksr program (build the ksr target or pass --ksr PATH)\n");
        return true;
    }
    if (!QFile::exists(settings.launcher)) {
        std::fprintf(stderr, "no keshlor_run_measured beside the benchmark\n");
        return false;
    }
    const uint64_t large = settings.quick ? (16ull << 20) : (1ull << 30);
    const uint64_t small = 1ull << 20;
    const Bytes pattern = CompressibleText(1u << 20, 3);
    KsrPeaks largePeaks;
    KsrPeaks smallPeaks;
    if (!MeasureKsr(settings, work, large, pattern, &largePeaks) ||
        !MeasureKsr(settings, work, small, pattern, &smallPeaks))
        return false;
    std::printf("%-10s %12s %12s %14s %14s\n", "file", "encrypt KiB", "decrypt KiB",
                "enc - <in KiB", "dec -c KiB");
    const auto print = [](const char* name, const KsrPeaks& p) {
        std::printf("%-10s %12ld %12ld %14ld %14ld\n", name, p.encrypt, p.decrypt, p.encryptInput,
                    p.decryptOutput);
    };
    print(qPrintable(SizeName(large)), largePeaks);
    print(qPrintable(SizeName(small)), smallPeaks);
    const KsrPeaks growth = {largePeaks.encrypt - smallPeaks.encrypt,
                             largePeaks.decrypt - smallPeaks.decrypt,
                             largePeaks.encryptInput - smallPeaks.encryptInput,
                             largePeaks.decryptOutput - smallPeaks.decryptOutput};
    print("difference", growth);
    std::printf("a decryption to standard output holds back up to %ld KiB of plain data\n",
                kHoldBackKiB);
    if (growth.encrypt > kFlatMemoryKiB || growth.decrypt > kFlatMemoryKiB ||
        growth.encryptInput > kFlatMemoryKiB ||
        growth.decryptOutput > kFlatMemoryKiB + kHoldBackKiB) {
        std::printf("memory grows with the file's size: a pipeline holds more than its buffers\n");
        return false;
    }
    return true;
}

bool ParseArguments(int argc, char** argv, Settings* settings) {
#ifdef KESHLOR_KSR_PATH
    settings->ksr = QStringLiteral(KESHLOR_KSR_PATH);
#endif
    settings->launcher = QStringLiteral(KESHLOR_RUN_MEASURED_PATH);
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--quick") == 0) {
            settings->quick = true;
        } else if (std::strcmp(arg, "--peers") == 0) {
            settings->peersOnly = true;
        } else if (std::strcmp(arg, "--rows") == 0) {
            settings->rowsOnly = true;
        } else if (std::strcmp(arg, "--dir") == 0 && i + 1 < argc) {
            settings->folder = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(arg, "--ksr") == 0 && i + 1 < argc) {
            settings->ksr = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--quick] [--peers] [--rows] [--dir FOLDER] [--ksr PATH]\n"
                "  --quick       2 MiB rows, one run each (two for decrypt), 16 MiB for ksr\n"
                "  --peers       only ksr beside the other programs\n"
                "  --rows        only ksr at scale and as a filter, pair by pair\n"
                "  --dir FOLDER  where the work folder goes (default: the current "
                "folder; use a disk, not tmpfs)\n"
                "  --ksr PATH    the ksr program to measure\n",
                argv[0]);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseArguments(argc, argv, &settings))
        return 2;
    const QString parent = settings.folder.isEmpty() ? QDir::currentPath() : settings.folder;
    QTemporaryDir work(QDir(parent).filePath(QStringLiteral("keshlor-bench-XXXXXX")));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder in %s\n", qPrintable(parent));
        return 2;
    }
    std::printf("%u processors (hardware threads)\n", std::thread::hardware_concurrency());
    InstallPorts();
    const size_t peerSize = settings.quick ? (2u << 20) : (64u << 20);
    if (settings.peersOnly)
        return RunPeers(settings.ksr, work.path(), peerSize, 5) ? 0 : 1;
    if (settings.rowsOnly)
        return RunKsrRows(settings.ksr, work.path(), settings.quick) ? 0 : 1;
    bool ok = RunThroughput(settings, work);
    ok = RunPeers(settings.ksr, work.path(), peerSize, settings.quick ? 1 : 5) && ok;
    ok = RunKsrRows(settings.ksr, work.path(), settings.quick) && ok;
    ok = RunMemory(settings, work) && ok;
    if (g_unexpectedBoxes != 0)
        ok = false;
    return ok ? 0 : 1;
}
