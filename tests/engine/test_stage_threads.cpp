// Runs on two threads must be indistinguishable from runs on one: the same
// bytes, the same results and codes, the same files left behind, the same
// progress, and every port called from the caller's thread.
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine/key_context.h"
#include "engine/stage_pipe.h"
#include "engine_fixture.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <new>
#include <thread>
#include <vector>
#include <zlib.h>

using namespace testing_files;
using engine_faults::Stages;

namespace {

constexpr Stages kBothPaths[] = {Stages::Pipelined, Stages::SingleThread};

// Everything a run leaves for its caller to see.
struct Outcome {
    int result = -1;
    int32_t code = kNoError;
    uint32_t lastError = 0;
    QByteArray plain;
    QByteArray container;
    std::vector<uint64_t> progress;
    bool operator==(const Outcome&) const = default;
};

// A whole cipher text (high strength, password "pw") around the first 9000
// bytes of the zlib stream of `data`.
QByteArray CutShortContainer(const QByteArray& data) {
    uLongf length = compressBound(data.size());
    QByteArray bytes(length, '\0');
    compress2(reinterpret_cast<Bytef*>(bytes.data()), &length,
              reinterpret_cast<const Bytef*>(data.constData()), data.size(), 1);
    bytes.resize(9000 + 8);
    KeyContext key;
    EXPECT_EQ(OpenKeyContext(&key, "pw", true), 0);
    uint32_t count = 9000;
    EXPECT_TRUE(CryptEncrypt(key.key, nullptr, true, 0, reinterpret_cast<uint8_t*>(bytes.data()),
                             &count, bytes.size()));
    CloseKeyContext(&key);
    bytes.resize(count);
    return bytes;
}

class StageThreads : public EngineTest {
  protected:
    void TearDown() override {
        plat::SetProgressPort({});
        plat::ClearCancel();
        EngineTest::TearDown();
    }

    // Runs `run` on fresh copies of the files with the stages placed as `stages` says.
    template <typename Run>
    Outcome RunWith(Stages stages, const QByteArray& plainBytes, const QByteArray& containerBytes,
                    Run run) {
        engine_faults::ForceStages(stages);
        QFile::remove(plainPath);
        QFile::remove(containerPath);
        if (!plainBytes.isNull())
            folder.Write("file", plainBytes);
        if (!containerBytes.isNull())
            folder.Write("file.ksr", containerBytes);
        Outcome outcome;
        const auto caller = std::this_thread::get_id();
        plat::SetProgressPort([&](uint64_t done, uint64_t) {
            EXPECT_EQ(std::this_thread::get_id(), caller) << "progress from a stage thread";
            outcome.progress.push_back(done);
            if (cancelAfter > 0 && outcome.progress.size() == cancelAfter)
                plat::RequestCancel();
            if (throwAfter > 0 && outcome.progress.size() == throwAfter)
                throw std::bad_alloc();
        });
        outcome.result = run();
        plat::ClearCancel();
        const PendingError pending = CurrentPendingError();
        outcome.code = pending.code;
        outcome.lastError = pending.lastError;
        ReportError(nullptr, QString());
        if (Exists(plainPath))
            outcome.plain = ReadAll(plainPath);
        if (Exists(containerPath))
            outcome.container = ReadAll(containerPath);
        return outcome;
    }

    Outcome Encrypt(Stages stages, const QByteArray& data) {
        return RunWith(stages, data, QByteArray(), [&] {
            return static_cast<int>(
                EncryptFileToContainer(nullptr, plainPath, containerPath, "pw"));
        });
    }
    Outcome Decrypt(Stages stages, const QByteArray& container, const QString& password = "pw") {
        return RunWith(stages, QByteArray(), container, [&] {
            return static_cast<int>(
                DecryptContainerToFile(nullptr, containerPath, plainPath, password));
        });
    }
    // Encrypts on both paths, expects the same outcome, and returns it.
    Outcome EncryptBothWays(const QByteArray& data) {
        const Outcome pipelined = Encrypt(Stages::Pipelined, data);
        EXPECT_EQ(pipelined, Encrypt(Stages::SingleThread, data));
        return pipelined;
    }
    Outcome DecryptBothWays(const QByteArray& container, const QString& password = "pw") {
        const Outcome pipelined = Decrypt(Stages::Pipelined, container, password);
        EXPECT_EQ(pipelined, Decrypt(Stages::SingleThread, container, password));
        return pipelined;
    }

    QStringList Entries() const {
        return QDir(folder.root())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QString plainPath = folder.path("file");
    QString containerPath = folder.path("file.ksr");
    size_t cancelAfter = 0;
    size_t throwAfter = 0; // the progress port throws std::bad_alloc at this report
};

TEST_F(StageThreads, SameContainersAndPlainFilesAtPieceEdges) {
    const QByteArray samples[] = {QByteArray(""), NoiseBytes(1), NoiseBytes(4095), NoiseBytes(4096),
                                  NoiseBytes(4097), NoiseBytes(8192), NoiseBytes(50000),
                                  TextBytes(300000),
                                  // long enough for the threads to share out the decryption
                                  NoiseBytes(3 << 20)};
    for (const bool high : {true, false}) {
        options.Configure(high, /*fast=*/!high, false, false);
        for (const QByteArray& data : samples) {
            SCOPED_TRACE(data.size());
            const Outcome encrypted = EncryptBothWays(data);
            ASSERT_EQ(encrypted.result, static_cast<int>(EncryptResult::Ok));
            const Outcome decrypted = DecryptBothWays(encrypted.container);
            EXPECT_EQ(decrypted.result, static_cast<int>(DecryptResult::Ok));
            EXPECT_EQ(decrypted.plain, data);
        }
    }
}

TEST_F(StageThreads, ThreadThatCannotStartLeavesTheRunOnOneThread) {
    const QByteArray data = NoiseBytes(20000);
    const Outcome single = Encrypt(Stages::SingleThread, data);
    engine_faults::FailStageThread(true);
    EXPECT_EQ(Encrypt(Stages::Pipelined, data), single);
    EXPECT_EQ(Decrypt(Stages::Pipelined, single.container).plain, data);
}

TEST_F(StageThreads, FailuresEndTheSameWayOnBothPaths) {
    const QByteArray data = NoiseBytes(30000);
    for (const int64_t budget : {0, 100, 4096, 5000, 12000}) {
        SCOPED_TRACE(budget);
        plat::faults::FailWritesAfter(budget, ENOSPC);
        const Outcome pipelined = Encrypt(Stages::Pipelined, data);
        plat::faults::FailWritesAfter(budget, ENOSPC);
        EXPECT_EQ(Encrypt(Stages::SingleThread, data), pipelined);
        EXPECT_EQ(pipelined.code, kContainerWriteFailed);
    }
    plat::faults::Clear();
    const QByteArray container = Encrypt(Stages::SingleThread, data).container;
    for (const int64_t budget : {0, 5000, 20000}) {
        SCOPED_TRACE(budget);
        plat::faults::FailWritesAfter(budget, ENOSPC);
        const Outcome pipelined = Decrypt(Stages::Pipelined, container);
        plat::faults::FailWritesAfter(budget, ENOSPC);
        EXPECT_EQ(Decrypt(Stages::SingleThread, container), pipelined);
        EXPECT_EQ(pipelined.code, kPlainWriteFailed);
        EXPECT_EQ(pipelined.container, container) << "the container stays";
    }
    plat::faults::Clear();

    // Reads fail on the stage thread; its last error must reach the report.
    for (const int64_t budget : {0, 3 * 4096}) {
        SCOPED_TRACE(budget);
        plat::faults::FailReadsAfter(budget, EIO);
        const Outcome encrypting = Encrypt(Stages::Pipelined, data);
        plat::faults::FailReadsAfter(budget, EIO);
        EXPECT_EQ(Encrypt(Stages::SingleThread, data), encrypting);
        EXPECT_EQ(encrypting.code, kPlainReadFailed);
        EXPECT_EQ(encrypting.lastError, plat::kErrorIoDevice);
        EXPECT_EQ(encrypting.plain, data);
        plat::faults::FailReadsAfter(budget, EIO);
        const Outcome decrypting = Decrypt(Stages::Pipelined, container);
        plat::faults::FailReadsAfter(budget, EIO);
        EXPECT_EQ(Decrypt(Stages::SingleThread, container), decrypting);
        EXPECT_EQ(decrypting.code, kContainerReadFailed);
        EXPECT_EQ(decrypting.lastError, plat::kErrorIoDevice);
        EXPECT_EQ(decrypting.container, container);
    }
    plat::faults::Clear();

    QByteArray damaged = container;
    damaged[10000] = static_cast<char>(damaged[10000] ^ 0x55);
    EXPECT_EQ(DecryptBothWays(damaged).result, static_cast<int>(DecryptResult::BadData));
    EXPECT_EQ(DecryptBothWays(container.left(8192)).result,
              static_cast<int>(DecryptResult::BadData));
    const Outcome cutShort = DecryptBothWays(CutShortContainer(data));
    EXPECT_EQ(cutShort.result, static_cast<int>(DecryptResult::BadData));
    // The last piece is reported before the missing end of the stream is noticed.
    EXPECT_EQ(cutShort.progress, (std::vector<uint64_t>{4096, 8192, 9008}));
    EXPECT_EQ(DecryptBothWays(container, "wrong").result, static_cast<int>(DecryptResult::BadData));
}

TEST_F(StageThreads, CancelStopsBothPathsAtTheSamePiece) {
    cancelAfter = 2;
    const QByteArray data = NoiseBytes(40000);
    const Outcome encrypted = EncryptBothWays(data);
    EXPECT_EQ(encrypted.result, static_cast<int>(EncryptResult::Cancelled));
    EXPECT_EQ(encrypted.progress.size(), 2u);
    EXPECT_TRUE(encrypted.container.isNull());
    EXPECT_EQ(encrypted.plain, data);

    cancelAfter = 0;
    const QByteArray container = Encrypt(Stages::SingleThread, data).container;
    cancelAfter = 3;
    const Outcome decrypted = DecryptBothWays(container);
    EXPECT_EQ(decrypted.result, static_cast<int>(DecryptResult::Cancelled));
    EXPECT_EQ(decrypted.container, container);
    EXPECT_TRUE(decrypted.plain.isNull());
}

// What escapes a run (an allocation failure), on the filling stage or on the
// caller's thread, ends it as a failure with its code instead of ending the
// process: the temporary file goes and the source stays, on both paths.
TEST_F(StageThreads, WhatEscapesARunEndsItAsAFailureWithItsCode) {
    const QByteArray data = NoiseBytes(30000);
    const QByteArray container = Encrypt(Stages::SingleThread, data).container;
    for (const bool onStage : {true, false}) {
        SCOPED_TRACE(onStage ? "filling stage" : "caller's thread");
        const auto escapeAtPiece = [&](int piece) {
            engine_faults::ThrowWhileFilling(onStage ? piece : 0);
            throwAfter = onStage ? 0 : piece;
        };
        escapeAtPiece(3);
        const Outcome encrypting = Encrypt(Stages::Pipelined, data);
        escapeAtPiece(3);
        EXPECT_EQ(Encrypt(Stages::SingleThread, data), encrypting);
        EXPECT_EQ(encrypting.result, static_cast<int>(EncryptResult::Failed));
        EXPECT_EQ(encrypting.code, kEncryptOutOfMemory);
        EXPECT_EQ(encrypting.lastError, plat::kErrorNotEnoughMemory);
        EXPECT_EQ(encrypting.plain, data);
        EXPECT_EQ(Entries(), QStringList{"file"});

        escapeAtPiece(3);
        const Outcome decrypting = Decrypt(Stages::Pipelined, container);
        escapeAtPiece(3);
        EXPECT_EQ(Decrypt(Stages::SingleThread, container), decrypting);
        EXPECT_EQ(decrypting.result, static_cast<int>(DecryptResult::Failed));
        EXPECT_EQ(decrypting.code, kDecryptOutOfMemory);
        EXPECT_EQ(decrypting.lastError, plat::kErrorNotEnoughMemory);
        EXPECT_EQ(decrypting.container, container);
        EXPECT_EQ(Entries(), QStringList{"file.ksr"});
    }
}

// A pipe whose pieces only count, up to 300.
struct CountingPipe {
    static constexpr uint32_t kPieces = 300;
    CountingPipe() {
        pipe.Start(sizeof buffer, buffer, kNoError, [this](StagePiece* piece) {
            piece->count = made++;
            return made < kPieces;
        });
    }
    size_t MostHeld() const { return pipe.Overlapped() ? StagePipe::kMostHeld : 0; }

    uint8_t buffer[8] = {};
    uint32_t made = 0; // the filling stage's
    StagePipe pipe;    // last, so that it stops first
};

// The pipe cannot deadlock while its caller holds at most its share of the
// pieces when it takes another: a caller at the limit runs the stream through
// on both paths, and debug builds stop one beyond it.
TEST_F(StageThreads, ACallerBeyondItsShareOfPiecesIsStopped) {
    for (const Stages stages : kBothPaths) {
        engine_faults::ForceStages(stages);
        CountingPipe counting;
        EXPECT_EQ(counting.pipe.Overlapped(), stages == Stages::Pipelined);
        std::vector<StagePiece*> held;
        uint32_t next = 0;
        while (StagePiece* piece = counting.pipe.Take()) {
            EXPECT_EQ(piece->count, next++);
            held.push_back(piece);
            if (held.size() <= counting.MostHeld())
                continue;
            for (StagePiece* taken : held)
                counting.pipe.Give(taken);
            held.clear();
        }
        EXPECT_EQ(next, CountingPipe::kPieces);
    }
#ifdef QT_NO_DEBUG
    GTEST_SKIP() << "the limit is checked in debug builds";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Stages stages : kBothPaths) {
        engine_faults::ForceStages(stages);
        EXPECT_DEATH(
            {
                CountingPipe counting;
                for (size_t i = 0; i <= counting.MostHeld() + 1; ++i)
                    counting.pipe.Take();
            },
            "more pieces than the pipe can spare");
    }
#endif
}

// The queue's pieces held compressed plain data and decrypted text: its memory
// is zeroed before it goes back to the heap.
TEST_F(StageThreads, TheQueueIsZeroedBeforeItsMemoryIsFreed) {
    size_t queues = 0;
    bool zeroed = true;
    engine_faults::WatchSecretRelease([&](const void* memory, size_t size) {
        if (size < 64 * 1024) // the queue is the engine's only memory of this size
            return;
        ++queues;
        const auto* bytes = static_cast<const uint8_t*>(memory);
        zeroed = zeroed && std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
    });
    const Outcome encrypted = Encrypt(Stages::Pipelined, TextBytes(300000));
    ASSERT_EQ(encrypted.result, static_cast<int>(EncryptResult::Ok));
    EXPECT_EQ(Decrypt(Stages::Pipelined, encrypted.container).result,
              static_cast<int>(DecryptResult::Ok));
    EXPECT_EQ(queues, 2u);
    EXPECT_TRUE(zeroed);
}

} // namespace
