#include "browser/selectors.h"

#include "browser/browser_state.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "gui/options.h"
#include "platform/documents_path.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path_limits.h"
#include "platform/ports.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <vector>

namespace {

// Rows keep selector positions in 16 bits.
constexpr int kMostEntries = 0xFFFF;

const QString kAllStorage = QStringLiteral("All Storage");
const QString kMainMemory = QStringLiteral("Main Memory");
const QString kAllFolders = QStringLiteral("All Folders");

// The selectors' order: by letters whatever their case, then by case.
bool NameLess(const QString& a, const QString& b) {
    const int byLetters = QString::compare(a, b, Qt::CaseInsensitive);
    return byLetters != 0 ? byLetters < 0 : a < b;
}

// Position 2 or more of the entry named `text`, or -1. The same letters
// in the same case win: here "Notes" and "notes" are two folders.
int FindNamedEntry(const QComboBox* selector, const QString& text) {
    for (int position = kFirstNamedPosition; position < selector->count(); ++position) {
        if (selector->itemText(position) == text)
            return position;
    }
    for (int position = kFirstNamedPosition; position < selector->count(); ++position) {
        if (selector->itemText(position).compare(text, Qt::CaseInsensitive) == 0)
            return position;
    }
    return -1;
}

bool SelectAfterRefill(QComboBox* selector, int former, const QString& formerText,
                       int defaultPosition) {
    if (former < 0) {
        selector->setCurrentIndex(defaultPosition);
        return false;
    }
    if (former < kFirstNamedPosition) {
        selector->setCurrentIndex(former);
        return true;
    }
    const int found = FindNamedEntry(selector, formerText);
    selector->setCurrentIndex(found >= 0 ? found : defaultPosition);
    return found >= 0;
}

void SelectRemembered(QComboBox* selector, const char* valueName) {
    if (!IsOptionChecked(RememberFolder))
        return;
    QSettings store{QString::fromLatin1(kSettingsOrganization),
                    QString::fromLatin1(kSettingsApplication)};
    if (store.status() != QSettings::NoError)
        return;
    const QString text = store.value(QLatin1String(valueName)).toString();
    if (text.isEmpty())
        return;
    const int found = FindNamedEntry(selector, text);
    if (found >= kFirstNamedPosition)
        selector->setCurrentIndex(found);
}

bool LiesIn(const QString& path, const QString& root) {
    if (path.isEmpty() || root.isEmpty())
        return false;
    if (root == QLatin1String("/"))
        return true;
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

// Adds the names of the offered subfolders of `baseFolder` not named yet.
void AddSubfolders(const QString& baseFolder, QStringList* names, QSet<QString>* named) {
    if (!plat::PathFits(baseFolder))
        return;
    std::vector<plat::FolderEntry> entries;
    if (!plat::SearchFolder(baseFolder, &entries))
        return;
    for (plat::FolderEntry& entry : entries) {
        if (!(entry.attributes & plat::kAttrDirectory) ||
            (entry.attributes & plat::kProtectiveAttributes))
            continue;
        if (named->contains(entry.name))
            continue;
        named->insert(entry.name);
        names->append(std::move(entry.name));
    }
}

QString CurrentNamedText(const QComboBox* selector) {
    if (!selector || selector->currentIndex() < kFirstNamedPosition)
        return {};
    return selector->currentText();
}

} // namespace

void InitStorageSelector(ViewArea* view) {
    BrowserState& state = Browser();
    state.storageSelector = view->storageSelector();
    state.documentsPath = plat::QueryDocumentsPath();
    state.documentsOnCard = plat::DocumentsPathOnCard(state.documentsPath, QDir::homePath());
    state.storageSelector->hidePopup();
    FillStorageSelector(kAllPosition);
    SelectRemembered(state.storageSelector, kRecentStorageValue);
}

void InitFolderSelector(ViewArea* view) {
    BrowserState& state = Browser();
    state.folderSelector = view->folderSelector();
    state.folderSelector->hidePopup();
    FillFolderSelector(kBasePosition);
    SelectRemembered(state.folderSelector, kRecentFolderValue);
}

bool IsListedCard(const plat::StorageCard& card) {
    const QString root = QDir::cleanPath(card.root);
    if (card.name.isEmpty() || root.isEmpty())
        return false;
    const QString& documents = Browser().documentsPath;
    if (LiesIn(documents, root))
        return false;
    // The same folders reached through links count as well.
    const QString realDocuments = QFileInfo(documents).canonicalFilePath();
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    return !LiesIn(realDocuments, realRoot);
}

QString StorageBaseFolder(int storagePosition) {
    const BrowserState& state = Browser();
    if (storagePosition == kBasePosition)
        return state.documentsPath.isEmpty() ? QStringLiteral("/") : state.documentsPath;
    if (storagePosition < kFirstNamedPosition || !state.storageSelector ||
        storagePosition >= state.storageSelector->count())
        return {};
    const QString root = state.storageSelector->itemData(storagePosition).toString();
    if (IsOptionChecked(ShowRootFolder) || state.documentsOnCard.isEmpty())
        return root;
    return plat::JoinPath(root, state.documentsOnCard);
}

QString BaseFolderLabel() {
    const QString& onCard = Browser().documentsOnCard;
    return onCard.isEmpty() ? QStringLiteral("/") : onCard;
}

bool FillStorageSelector(int defaultPosition) {
    QComboBox* selector = Browser().storageSelector;
    if (!selector)
        return false;
    const int former = selector->currentIndex();
    const QString formerText =
        former >= kFirstNamedPosition ? selector->itemText(former) : QString();

    QList<plat::StorageCard> cards;
    for (const plat::StorageCard& card : plat::EnumerateStorageCards()) {
        // A root the system cannot reach is of no use.
        if (!IsListedCard(card) || !plat::PathFits(card.root))
            continue;
        const bool named = std::any_of(cards.begin(), cards.end(), [&card](const auto& listed) {
            return listed.name == card.name;
        });
        if (!named)
            cards.append(card);
    }
    std::stable_sort(cards.begin(), cards.end(),
                     [](const auto& a, const auto& b) { return NameLess(a.name, b.name); });
    if (cards.size() > kMostEntries - kFirstNamedPosition)
        cards.resize(kMostEntries - kFirstNamedPosition);

    selector->clear();
    selector->addItem(kAllStorage);
    selector->addItem(kMainMemory);
    for (const plat::StorageCard& card : cards)
        selector->addItem(card.name, QDir::cleanPath(card.root));
    return SelectAfterRefill(selector, former, formerText, defaultPosition);
}

bool FillFolderSelector(int defaultPosition) {
    const BrowserState& state = Browser();
    QComboBox* selector = state.folderSelector;
    if (!selector)
        return false;
    const int former = selector->currentIndex();
    const QString formerText =
        former >= kFirstNamedPosition ? selector->itemText(former) : QString();

    QStringList names;
    QSet<QString> named;
    const QComboBox* storages = state.storageSelector;
    const int storage = storages ? storages->currentIndex() : -1;
    if (storage == kAllPosition || storage == kBasePosition)
        AddSubfolders(StorageBaseFolder(kBasePosition), &names, &named);
    if (storage == kAllPosition) {
        for (int position = kFirstNamedPosition; position < storages->count(); ++position)
            AddSubfolders(StorageBaseFolder(position), &names, &named);
    } else if (storage >= kFirstNamedPosition) {
        AddSubfolders(StorageBaseFolder(storage), &names, &named);
    }
    std::sort(names.begin(), names.end(), NameLess);
    if (names.size() > kMostEntries - kFirstNamedPosition)
        names.resize(kMostEntries - kFirstNamedPosition);

    selector->clear();
    selector->addItem(kAllFolders);
    selector->addItem(BaseFolderLabel());
    selector->addItems(names);
    return SelectAfterRefill(selector, former, formerText, defaultPosition);
}

QString CurrentStorageName() {
    return CurrentNamedText(Browser().storageSelector);
}

QString CurrentFolderName() {
    return CurrentNamedText(Browser().folderSelector);
}

QString CurrentFolderPath() {
    const BrowserState& state = Browser();
    const QComboBox* storages = state.storageSelector;
    const QComboBox* folders = state.folderSelector;
    if (!storages || !folders || storages->currentIndex() < 0)
        return {};
    // All Storage starts at Main Memory, then tries the cards in their order.
    const int chosen = storages->currentIndex();
    const int first = chosen == kAllPosition ? kBasePosition : chosen;
    const int last = chosen == kAllPosition ? storages->count() - 1 : chosen;
    const QString subfolder = CurrentNamedText(folders);
    if (!subfolder.isEmpty()) {
        for (int position = first; position <= last; ++position) {
            const QString path = plat::JoinPath(StorageBaseFolder(position), subfolder);
            if (QFileInfo(path).isDir())
                return QDir::cleanPath(path);
        }
    }
    return StorageBaseFolder(first);
}
