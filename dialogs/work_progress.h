#pragma once
// What the user sees of a long encryption or decryption besides the wait
// cursor: a progress bar over the list row under work, or a small window of
// its own when no row is on screen. The engine reports once per chunk; the bar
// is repainted on the spot and nothing the user does is taken in meanwhile.
#include <QString>

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

// Listens to the engine's progress reports for as long as it lives. `row` of
// `list` is the row under work (no list: a run for a named file); `what` names
// the work for the window ("Encrypting notes.txt").
class WorkProgress {
  public:
    WorkProgress(QWidget* owner, QTreeWidget* list, int row, const QString& what);
    ~WorkProgress();
    WorkProgress(const WorkProgress&) = delete;
    WorkProgress& operator=(const WorkProgress&) = delete;

  private:
    struct Display;
    std::unique_ptr<Display> display_;
};
