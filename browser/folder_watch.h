#pragma once
// The file list follows the disk: the folders it shows are watched, and a
// change made by any program calls for a refill (refillDue, on which the list
// refills itself keeping the selection and the scroll position) once the
// folders have been quiet for a moment. Never while a command, a file
// operation, a dialog or a menu is at work: then once it ends, if anything
// changed.
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// A refill waits for this long without a further change...
inline constexpr int kQuietMs = 300;
// ...and comes at most this often.
inline constexpr int kShortestRefreshGapMs = 1000;

class FolderWatch : public QObject {
    Q_OBJECT
  public:
    explicit FolderWatch(QObject* parent);
    // The folders the list now shows; the list was just filled from them.
    void Watch(const QStringList& folders);

  signals:
    void refillDue();

  private:
    void OnChange();
    void OnQuiet();

    QFileSystemWatcher watcher_;
    QTimer quiet_;
    QElapsedTimer sinceRefresh_;
    bool pending_ = false;
};

// Holds refills from the disk back for its lifetime: a command or a file
// operation is working on the list's files and updates the list itself.
class ListRefreshHold {
  public:
    ListRefreshHold();
    ~ListRefreshHold();
    ListRefreshHold(const ListRefreshHold&) = delete;
    ListRefreshHold& operator=(const ListRefreshHold&) = delete;
};
