#pragma once
// An engine run on a thread of its own, so that the GUI thread goes on
// painting and taking events while the data moves.
#include <cstdint>
#include <functional>

// What a run that something escaped as an exception (an allocation failure)
// gives back: `result`, with `code` recorded as its error.
struct EscapedRun {
    int result = 0;
    int32_t code = 0;
};

// Runs `work` on a new thread and returns what it returned once it has ended.
// Meanwhile the GUI thread keeps handling its events and serves the engine's
// ports there, the run waiting for each answer: message boxes, the wait
// cursor, and the progress at most once per `progressIntervalMs` (a report
// that reaches the total always gets through). The options answer with their
// values at the start, since only the GUI thread may read the menu. No port
// may be set until the run ends (plat::RunReadsPorts). Keeping the user's
// input away meanwhile is the caller's business. What escapes `work` ends the
// run as `escaped` says, not the process.
int RunOffGuiThread(const std::function<int()>& work, int progressIntervalMs, EscapedRun escaped);
