#include "engine/stage_pipe.h"

#include "engine/engine_faults.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"

#include <QtGlobal>

#include <cstdlib>
#include <system_error>

void StagePiece::KeepLastError() {
    carriesLastError = true;
    lastError = plat::GetLastError();
    detail = plat::LastErrorDetail();
}

void StagePiece::RestoreLastError() const {
    if (carriesLastError)
        plat::SetLastErrorWithDetail(lastError, detail);
}

void StagePipe::Start(uint32_t pieceSize, uint8_t* inTurnBuffer, int32_t escapeCode,
                      std::function<bool(StagePiece*)> fill) {
    fill_ = std::move(fill);
    escapeCode_ = escapeCode;
    overlapped_ = UsePipelinedStages() && StartThread(pieceSize);
    if (!overlapped_)
        pieces_[0].data = inTurnBuffer;
}

bool StagePipe::StartThread(uint32_t pieceSize) {
    if (!StageThreadAllowed())
        return false;
    // Outside the engine's allocation seam: without these buffers the run
    // simply stays on one thread.
    memorySize_ = kDepth * pieceSize;
    memory_ = static_cast<uint8_t*>(std::calloc(1, memorySize_));
    if (!memory_)
        return false;
    for (size_t i = 0; i < kDepth; ++i) {
        pieces_[i].data = memory_ + i * pieceSize;
        free_.push(&pieces_[i]);
    }
    try {
        thread_ = std::thread(&StagePipe::Run, this);
    } catch (const std::system_error&) {
        Release();
        return false;
    }
    return true;
}

bool StagePipe::Fill(StagePiece* piece) {
    try {
        StageFillFault();
        return fill_(piece);
    } catch (...) {
        // Only an allocation fails this way: nothing else a stage calls throws.
        plat::SetLastError(plat::kErrorNotEnoughMemory);
        piece->outcome = PieceOutcome::Failed;
        piece->code = escapeCode_;
        piece->KeepLastError();
        return false;
    }
}

void StagePipe::PublishFilled(bool ended) {
    stageFilled_.MoveAllTo(&filled_);
    ended_ = ended;
    if (callerWaiting_ && (ended_ || filled_.size() >= kBatch))
        changed_.notify_all();
}

void StagePipe::Run() {
    plat::KeepInterruptsForOtherThreads();
    for (;;) {
        if (stageFree_.empty()) {
            std::unique_lock lock(mutex_);
            PublishFilled(false);
            if (free_.empty() && !stop_) {
                if (share_ > 0)
                    share_.fetch_sub(1, std::memory_order_relaxed);
                stageWaiting_ = true;
                changed_.wait(lock, [this] { return stop_ || free_.size() >= kBatch; });
                stageWaiting_ = false;
            }
            if (stop_)
                break;
            free_.MoveAllTo(&stageFree_);
        } else if (stop_.load(std::memory_order_relaxed)) {
            break;
        }
        StagePiece* piece = stageFree_.pop();
        const bool more = Fill(piece);
        stageFilled_.push(piece);
        if (!more) {
            std::lock_guard lock(mutex_);
            PublishFilled(true);
            return;
        }
        if (stageFilled_.size() >= kBatch) {
            std::lock_guard lock(mutex_);
            PublishFilled(false);
        }
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

StagePiece* StagePipe::Take() {
    Q_ASSERT_X(held_ <= (overlapped_ ? kMostHeld : 0), "StagePipe::Take",
               "the caller holds more pieces than the pipe can spare");
    StagePiece* piece = overlapped_ ? TakeOverlapped() : TakeInTurn();
    if (piece)
        ++held_;
    return piece;
}

StagePiece* StagePipe::TakeInTurn() {
    if (ended_)
        return nullptr;
    StagePiece* piece = &pieces_[0];
    ended_ = !Fill(piece);
    return piece;
}

StagePiece* StagePipe::TakeOverlapped() {
    if (callerTaken_.empty()) {
        std::unique_lock lock(mutex_);
        callerGiven_.MoveAllTo(&free_);
        if (stageWaiting_ && free_.size() >= kBatch)
            changed_.notify_all();
        if (filled_.empty() && !ended_) {
            if (share_ < kShareSteps)
                share_.fetch_add(1, std::memory_order_relaxed);
            callerWaiting_ = true;
            changed_.wait(lock, [this] { return ended_ || filled_.size() >= kBatch; });
            callerWaiting_ = false;
        }
        filled_.MoveAllTo(&callerTaken_);
    }
    return callerTaken_.empty() ? nullptr : callerTaken_.pop();
}

void StagePipe::Give(StagePiece* piece) {
    --held_;
    uint8_t* const data = piece->data;
    *piece = StagePiece{};
    piece->data = data;
    if (!overlapped_)
        return;
    callerGiven_.push(piece);
    if (callerGiven_.size() < kBatch)
        return;
    std::lock_guard lock(mutex_);
    callerGiven_.MoveAllTo(&free_);
    if (stageWaiting_ && free_.size() >= kBatch)
        changed_.notify_all();
}

void StagePipe::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    Release();
}

void StagePipe::Release() {
    if (memory_) {
        // The pieces held compressed plain data.
        EngineFree(memory_, memorySize_);
        memory_ = nullptr;
    }
    for (StagePiece& piece : pieces_)
        piece = StagePiece{};
    for (Ring* ring : {&free_, &filled_, &stageFree_, &stageFilled_, &callerTaken_, &callerGiven_})
        ring->clear();
    held_ = 0;
}
