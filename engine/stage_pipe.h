#pragma once
// The two stages of a run: a filling stage makes pieces in stream order and
// the caller's thread takes them. Overlapped, the filling stage has a thread
// of its own and runs up to 256 KiB ahead, so memory stays flat for any file
// size; in turn, it fills the one piece on the caller's thread whenever the
// caller takes it. Either way the caller sees the same pieces in the same
// order, so one loop serves both. The filling stage only computes and does
// file I/O; it hands back what failed, and the caller's thread records it,
// asks, and reports progress.
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

enum class PieceOutcome : int { Data = 0, Stopped = 1, BadData = 2, Failed = 3 };

struct StagePiece {
    uint8_t* data = nullptr;
    uint32_t count = 0;
    bool final = false; // the stream's last piece
    uint64_t done = 0;  // progress once this piece is through
    uint32_t head = 0;  // decrypt: bytes the stage decrypted; the rest is the caller's
    uint8_t tailChain[8] = {};
    PieceOutcome outcome = PieceOutcome::Data;
    int32_t code = 0;              // to record for Failed
    bool carriesLastError = false; // the stage's own call set the last error
    uint32_t lastError = 0;
    QString detail;

    // On the filling stage: keeps its thread's last error for the caller's thread.
    void KeepLastError();
    // On the caller's thread: makes a kept last error its own.
    void RestoreLastError() const;
};

class StagePipe {
  public:
    StagePipe() = default;
    StagePipe(const StagePipe&) = delete;
    StagePipe& operator=(const StagePipe&) = delete;
    ~StagePipe() { Stop(); }

    // Starts the stages over pieces of `pieceSize` bytes. `fill` makes one
    // piece and says whether more follow. Overlapped when the run's stages
    // are (UsePipelinedStages) and the thread and its buffers can be had: it
    // runs on the stage thread only. Otherwise in turn: it runs on the
    // caller's thread within Take, into `inTurnBuffer` (pieceSize bytes, the
    // caller's). What escapes `fill` (an allocation failure) ends the stream
    // with a Failed piece of `escapeCode`, as a failure of its own would.
    void Start(uint32_t pieceSize, uint8_t* inTurnBuffer, int32_t escapeCode,
               std::function<bool(StagePiece*)> fill);
    // The next piece in stream order, waiting for it; null after the last.
    StagePiece* Take();
    // Returns a taken piece for the stage to fill again.
    void Give(StagePiece* piece);
    // Stops the stage at its next piece, waits for it, and zeroes the buffers.
    void Stop();
    // Whether the filling stage has a thread of its own.
    bool Overlapped() const { return overlapped_; }

    // The most pieces the caller may hold (taken, not given back) when it
    // calls Take: overlapped, half the pieces. A caller that held more could
    // wait for a batch of filled pieces while the stage waits for a batch of
    // free ones that the caller holds, for ever. In turn there is one piece,
    // which must be back before the next is made. Take stops debug builds
    // that break the limit.
    static constexpr size_t kDepth = 64;
    static constexpr size_t kMostHeld = kDepth / 2;

    // How many 64ths of a piece's work the caller's thread should take on,
    // for work either thread can do. It grows while the caller's thread waits
    // for pieces and shrinks while the stage waits for room, so that the two
    // threads end up about equally busy; in turn it stays 0.
    static constexpr uint32_t kShareSteps = 64;
    uint32_t CallerShare() const { return share_.load(std::memory_order_relaxed); }

  private:
    // A waiting side wakes only once this many pieces are there for it, so
    // that the threads hand over batches rather than take turns per piece;
    // with the caller within its limit, at least a batch goes round.
    // Measured: 64 pieces decrypt 10% faster than 16, and 128 no faster.
    static constexpr size_t kBatch = kDepth - kMostHeld;

    // Pieces passed between the threads: a few at a time, in stream order.
    class Ring {
      public:
        bool empty() const { return count_ == 0; }
        size_t size() const { return count_; }
        void push(StagePiece* piece) { slots_[(first_ + count_++) % kDepth] = piece; }
        StagePiece* pop() {
            StagePiece* piece = slots_[first_];
            first_ = (first_ + 1) % kDepth;
            --count_;
            return piece;
        }
        void MoveAllTo(Ring* other) {
            while (!empty())
                other->push(pop());
        }
        void clear() { first_ = count_ = 0; }

      private:
        std::array<StagePiece*, kDepth> slots_{};
        size_t first_ = 0;
        size_t count_ = 0;
    };

    bool StartThread(uint32_t pieceSize);
    void Run();
    // Fills one piece on whichever thread the stage runs on.
    bool Fill(StagePiece* piece);
    StagePiece* TakeOverlapped();
    StagePiece* TakeInTurn();
    // Hands the stage's filled pieces to the caller's thread, under the lock.
    void PublishFilled(bool ended);
    // Zeroes and frees the buffers and forgets every piece.
    void Release();

    StagePiece pieces_[kDepth];
    uint8_t* memory_ = nullptr;
    uint32_t memorySize_ = 0;
    std::function<bool(StagePiece*)> fill_;
    int32_t escapeCode_ = 0;
    bool overlapped_ = false;
    size_t held_ = 0; // the caller's: taken and not given back
    std::mutex mutex_;
    std::condition_variable changed_;
    Ring free_;                      // shared: room for the stage
    Ring filled_;                    // shared: pieces for the caller
    Ring stageFree_, stageFilled_;   // the stage thread's own
    Ring callerTaken_, callerGiven_; // the caller's thread's own
    std::atomic<uint32_t> share_{0};
    std::atomic<bool> stop_{false};
    bool ended_ = false;
    bool stageWaiting_ = false;
    bool callerWaiting_ = false;
    std::thread thread_;
};
