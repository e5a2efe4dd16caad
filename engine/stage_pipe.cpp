#include "engine/stage_pipe.h"

#include "engine/engine_faults.h"
#include "platform/interrupts.h"

#include <cstdlib>
#include <system_error>

bool StagePipe::Start(uint32_t pieceSize, std::function<bool(StagePiece*)> fill) {
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
        free_.push_back(&pieces_[i]);
    }
    fill_ = std::move(fill);
    try {
        thread_ = std::thread(&StagePipe::Run, this);
    } catch (const std::system_error&) {
        Stop();
        return false;
    }
    return true;
}

void StagePipe::Run() {
    plat::KeepInterruptsForOtherThreads();
    for (;;) {
        StagePiece* piece = nullptr;
        {
            std::unique_lock lock(mutex_);
            if (free_.empty() && !stop_) {
                stageWaiting_ = true;
                changed_.wait(lock, [this] { return stop_ || free_.size() >= kBatch; });
                stageWaiting_ = false;
            }
            if (stop_)
                break;
            piece = free_.front();
            free_.pop_front();
        }
        const bool more = fill_(piece);
        std::lock_guard lock(mutex_);
        filled_.push_back(piece);
        if (!more)
            ended_ = true;
        if (callerWaiting_ && (ended_ || filled_.size() >= kBatch))
            changed_.notify_all();
        if (!more)
            return;
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

StagePiece* StagePipe::Take() {
    std::unique_lock lock(mutex_);
    if (filled_.empty() && !ended_) {
        callerWaiting_ = true;
        changed_.wait(lock, [this] { return ended_ || filled_.size() >= kBatch; });
        callerWaiting_ = false;
    }
    if (filled_.empty())
        return nullptr;
    StagePiece* piece = filled_.front();
    filled_.pop_front();
    return piece;
}

void StagePipe::Give(StagePiece* piece) {
    uint8_t* const data = piece->data;
    *piece = StagePiece{};
    piece->data = data;
    std::lock_guard lock(mutex_);
    free_.push_back(piece);
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
    if (memory_) {
        // The pieces held compressed plain data.
        EngineFree(memory_, memorySize_);
        memory_ = nullptr;
    }
    for (StagePiece& piece : pieces_)
        piece = StagePiece{};
    free_.clear();
    filled_.clear();
}
