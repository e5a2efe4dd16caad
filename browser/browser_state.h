#pragma once
// The browser's state for one run: handles of the view's controls, the
// documents folder, the folders the list's rows were found in, and the
// flag that swallows the tap ending a tap-and-hold. Set up when the view is
// created, cleared when it goes (ReleaseBrowser).
#include <QComboBox>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

class FolderWatch;

struct BrowserState {
    // A plain widget: it is no ViewArea any more when its deletion is announced.
    QPointer<QWidget> view;
    QPointer<QComboBox> storageSelector;
    QPointer<QComboBox> folderSelector;
    QPointer<QTreeWidget> list;

    // The user's documents folder (empty when the system names none) and
    // where the same folder lies below a card's root.
    QString documentsPath;
    QString documentsOnCard;

    // By the positions the rows' locations hold, as they were when the list
    // was filled: each storage's base folder and each folder selector text.
    // A refill of a selector can shift its positions; the rows keep leading
    // to the folders they were found in.
    QStringList listedBaseFolders;
    QStringList listedFolderTexts;
    // The folders whose files the list shows, as searched.
    QStringList listedFolders;

    // Watches those folders; it lives with the view.
    QPointer<FolderWatch> watch;
    // The file the next refill selects: one that a file operation has just
    // given a new name. Forgotten by that refill.
    QString followedFile;

    // The forms of the Date and Size texts of the rows (digits as '0'), from
    // which the columns' widths are taken.
    QSet<QString> dateForms;
    QSet<QString> sizeForms;

    bool suppressNextTap = false;
};

BrowserState& Browser();

// Forgets every handle and what was listed; the view is gone or going.
void ReleaseBrowser();
