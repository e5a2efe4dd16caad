#pragma once
// What the user sees of an encryption or decryption, which runs off the GUI
// thread: besides the wait cursor, a progress bar with a Cancel button over
// the list row under work, or in a small window of its own when no row is on
// screen. The window keeps painting meanwhile, but the user's input reaches
// nothing else: it is dropped, not kept for after the run. Escape is Cancel.
#include "gui/engine_thread.h"

#include <QString>

#include <functional>
#include <memory>

class QTreeWidget;
class QWidget;

// The bar comes up only once a run has lasted `showAfterMs`, so short runs
// show nothing, and is redrawn at most every `intervalMs`.
struct ProgressTiming {
    int showAfterMs = 500;
    int intervalMs = 50;
};
void SetProgressTiming(ProgressTiming timing);

// Shows the progress of the run made through it for as long as it lives.
// `row` of `list` is the row under work (no list: a run for a named file);
// `what` names the work for the window ("Encrypting notes.txt").
class WorkProgress {
  public:
    WorkProgress(QWidget* owner, QTreeWidget* list, int row, const QString& what);
    ~WorkProgress();
    WorkProgress(const WorkProgress&) = delete;
    WorkProgress& operator=(const WorkProgress&) = delete;

    // Runs `work`, one engine run, off the GUI thread and gives its result
    // (`escaped` for what escapes it: see RunOffGuiThread). Cancel asks the
    // run to stop (plat::RequestCancel) until its progress reaches the total:
    // the data is complete then, and the run finishes.
    int Run(const std::function<int()>& work, EscapedRun escaped);

  private:
    struct Display;
    std::unique_ptr<Display> display_;
};
