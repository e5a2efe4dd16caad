#pragma once
// Two stages of a run on two threads: a stage thread fills pieces in stream
// order and the caller's thread takes them, a few dozen KiB deep, so memory stays
// flat for any file size. The stage thread only computes and does file I/O;
// it hands back what failed, and the caller's thread records it, asks, and
// reports progress.
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

enum class PieceOutcome : int { Data = 0, Stopped = 1, BadData = 2, Failed = 3 };

struct StagePiece {
    uint8_t* data = nullptr;
    uint32_t count = 0;
    bool final = false; // the stream's last piece
    uint64_t done = 0;  // progress once this piece is through
    PieceOutcome outcome = PieceOutcome::Data;
    int32_t code = 0;              // to record for Failed
    bool carriesLastError = false; // the stage's own call set the last error
    uint32_t lastError = 0;
    QString detail;
};

class StagePipe {
  public:
    StagePipe() = default;
    StagePipe(const StagePipe&) = delete;
    StagePipe& operator=(const StagePipe&) = delete;
    ~StagePipe() { Stop(); }

    // Starts the stage thread over pieces of `pieceSize` bytes. `fill` makes
    // one piece and says whether more follow; it runs on the stage thread only.
    // False, with nothing started, when the buffers or the thread cannot be had.
    bool Start(uint32_t pieceSize, std::function<bool(StagePiece*)> fill);
    // The next piece in stream order, waiting for it; null after the last.
    StagePiece* Take();
    // Returns a taken piece for the stage to fill again.
    void Give(StagePiece* piece);
    // Stops the stage at its next piece, waits for it, and zeroes the buffers.
    void Stop();

  private:
    void Run();

    // A waiting side wakes only once half the pieces are there for it, so
    // that the threads hand over batches rather than take turns per piece.
    static constexpr size_t kDepth = 16;
    static constexpr size_t kBatch = kDepth / 2;
    StagePiece pieces_[kDepth];
    uint8_t* memory_ = nullptr;
    uint32_t memorySize_ = 0;
    std::function<bool(StagePiece*)> fill_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<StagePiece*> free_;
    std::deque<StagePiece*> filled_;
    bool stop_ = false;
    bool ended_ = false;
    bool stageWaiting_ = false;
    bool callerWaiting_ = false;
    std::thread thread_;
};
