#pragma once
// Plain data on its way to standard output, and the staging folders that
// earlier versions of ksr left under $TMPDIR.
#include "engine/stream_pipeline.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// How much decrypted data waits in memory before any of it goes out.
inline constexpr size_t kHoldBackBudget = 16u << 20;

// Data for a descriptor, of which the first `budget` bytes are held back in
// memory (locked where the system allows) until the run has succeeded or
// passed the budget: a decryption that fails within it lets nothing out.
// Past the budget (at once with a budget of 0) data goes out in large
// writes. Held memory is zeroed when it is let go.
class HeldOutput {
  public:
    HeldOutput(int fd, size_t budget);
    ~HeldOutput();
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;

    // The port the run writes to; valid while this object lives.
    OutputPort Port();
    // After a run that succeeded: writes out what is still held or
    // gathered. False, with the last error set, when the descriptor did not
    // take it.
    bool Finish();
    // Whether any data has gone out.
    bool Released() const { return released_; }
    // Whether the reader of the descriptor went away (EPIPE).
    bool ReaderGone() const { return readerGone_; }

  private:
    struct Block {
        uint8_t* data = nullptr;
        size_t used = 0;
    };
    bool Take(const uint8_t* data, uint32_t size);
    // Never more than a block at a time, or a piece the run gave.
    bool WriteOut(const uint8_t* data, uint32_t size);
    bool ReleaseHeld();
    void ForgetHeld();

    OutputPort out_;
    size_t budget_;
    size_t held_ = 0;
    bool released_ = false;
    bool readerGone_ = false;
    std::vector<Block> blocks_;
};

// Removes the folders $TMPDIR/ksr-XXXXXX of this user in which earlier
// versions of ksr staged standard input and output, when they hold nothing
// else and no process has anything open in them: a killed run left them
// with plain data, which is wiped before the files go.
void RemoveStaleStagingFolders();
