#include "browser/folder_watch.h"

#include <QApplication>
#include <QFileInfo>

namespace {

int g_holds = 0;

bool RefreshHeld() {
    return g_holds > 0 || QApplication::activeModalWidget() || QApplication::activePopupWidget();
}

} // namespace

FolderWatch::FolderWatch(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("folderWatch"));
    quiet_.setSingleShot(true);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderWatch::OnChange);
    connect(&quiet_, &QTimer::timeout, this, &FolderWatch::OnQuiet);
}

void FolderWatch::Watch(const QStringList& folders) {
    pending_ = false;
    quiet_.stop();
    sinceRefresh_.start();
    const QStringList watched = watcher_.directories();
    QStringList gone;
    for (const QString& folder : watched) {
        if (!folders.contains(folder))
            gone << folder;
    }
    if (!gone.isEmpty())
        watcher_.removePaths(gone);
    // A folder that does not exist (yet) cannot be watched; Refresh finds it.
    QStringList added;
    for (const QString& folder : folders) {
        if (!watched.contains(folder) && !added.contains(folder) && QFileInfo(folder).isDir())
            added << folder;
    }
    if (!added.isEmpty())
        watcher_.addPaths(added);
}

void FolderWatch::OnChange() {
    pending_ = true;
    quiet_.start(kQuietMs);
}

void FolderWatch::OnQuiet() {
    if (!pending_)
        return;
    // Looked at again until the command or dialog has ended.
    if (RefreshHeld()) {
        quiet_.start(kQuietMs);
        return;
    }
    const qint64 since = sinceRefresh_.isValid() ? sinceRefresh_.elapsed() : kShortestRefreshGapMs;
    if (since < kShortestRefreshGapMs) {
        quiet_.start(static_cast<int>(kShortestRefreshGapMs - since));
        return;
    }
    emit refillDue();
}

ListRefreshHold::ListRefreshHold() {
    ++g_holds;
}

ListRefreshHold::~ListRefreshHold() {
    --g_holds;
}
