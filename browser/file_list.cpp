#include "browser/file_list.h"

#include "browser/browser_state.h"
#include "browser/folder_watch.h"
#include "browser/row_paths.h"
#include "browser/selectors.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "engine/container_name.h"
#include "engine/error_report.h"
#include "gui/gui_ports.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path_limits.h"
#include "platform/ports.h"

#include <QDate>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QHeaderView>
#include <QLocale>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

enum Column { NameColumn = 0, DateColumn = 1, SizeColumn = 2 };

constexpr qint64 kNanosPerDay = 86400LL * 1000000000LL;
constexpr qint64 kJulianDayOfEpoch = 2440588;

struct PendingRow {
    QString text;
    QString key; // the text case-folded, for the order
    ItemMark mark = ItemMark::NoMark;
    uint32_t location = 0;
    uint64_t size = 0;
    int64_t lastWrite = 0;
};

// One refill's rows before they go into the list, and the date texts made
// so far (the files of a folder share few days).
struct Listing {
    QStringList folders; // searched, in order
    std::vector<PendingRow> rows;
    std::vector<plat::FolderEntry> entries;
    QHash<qint64, QString> dates;
};

// Date centred, Size to the right, for every row without a setting per row.
class ColumnAlignment : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == DateColumn)
            option->displayAlignment = Qt::AlignCenter;
        else if (index.column() == SizeColumn)
            option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    }
};

QTreeWidgetItem* Row(int row) {
    QTreeWidget* list = Browser().list;
    return list ? list->topLevelItem(row) : nullptr;
}

ItemMark MarkOfState(int stateValue) {
    const int mark = stateValue >> 12;
    if (mark < 0 || mark > kMarkCount || stateValue != ItemStateValue(static_cast<ItemMark>(mark)))
        return ItemMark::NoMark;
    return static_cast<ItemMark>(mark);
}

// The calendar day of a time since the epoch, counted from the epoch's day.
qint64 DayOf(int64_t nanos) {
    return nanos >= 0 ? nanos / kNanosPerDay : -((-(nanos + 1)) / kNanosPerDay) - 1;
}

// What the mark shows, in words, for screen readers and the tooltip; the
// tooltip also carries the whole name, which a narrow column cuts short.
void DescribeRow(QTreeWidgetItem* item, ItemMark mark) {
    const QString kind = MarkDescription(mark);
    item->setData(NameColumn, Qt::AccessibleDescriptionRole, kind);
    const QString name = item->text(NameColumn);
    item->setToolTip(NameColumn, kind.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, kind));
}

void PutState(QTreeWidgetItem* item, int stateValue) {
    const ItemMark mark = MarkOfState(stateValue);
    item->setData(NameColumn, kItemStateRole, stateValue);
    item->setIcon(NameColumn, RowIcon(item->text(NameColumn), mark));
    DescribeRow(item, mark);
}

void RedrawRow(QTreeWidget* list, QTreeWidgetItem* item) {
    // Commands mark a row Busy and then work without returning to the event
    // loop, so the row is painted now rather than later.
    list->viewport()->repaint(list->visualItemRect(item));
}

int ItemState(int row) {
    const QTreeWidgetItem* item = Row(row);
    return item ? item->data(NameColumn, kItemStateRole).toInt() : 0;
}

// The text with every digit as '0': texts of one form are as wide as each
// other where the font's digits are, and never wider than the form measured
// with the widest digit.
QString TextForm(QString text) {
    for (QChar& c : text) {
        if (c >= u'0' && c <= u'9')
            c = u'0';
    }
    return text;
}

void NoteForms(const QString& date, const QString& size) {
    BrowserState& state = Browser();
    if (!date.isEmpty())
        state.dateForms.insert(TextForm(date));
    state.sizeForms.insert(TextForm(size));
}

QString CachedDateText(Listing& listing, int64_t lastWrite) {
    const qint64 day = DayOf(lastWrite);
    auto it = listing.dates.find(day);
    if (it == listing.dates.end()) {
        it = listing.dates.insert(day, DateText(lastWrite));
        if (!it.value().isEmpty())
            Browser().dateForms.insert(TextForm(it.value()));
    }
    return it.value();
}

void ListFolder(Listing& listing, const QString& baseFolder, int storagePosition,
                const QString& folderText, int folderPosition) {
    const QString folder =
        folderText.isEmpty() ? baseFolder : plat::JoinPath(baseFolder, folderText);
    // The system reaches no file of a folder this long.
    if (!plat::PathFits(folder))
        return;
    listing.folders << folder;
    listing.entries.clear();
    if (!plat::SearchFolder(folder, &listing.entries))
        return;
    const uint32_t location = ItemLocation(storagePosition, folderPosition);
    for (plat::FolderEntry& entry : listing.entries) {
        // Folders and protected files are never rows.
        if (entry.attributes & (plat::kProtectiveAttributes | plat::kAttrDirectory))
            continue;
        const bool hidden = (entry.attributes & plat::kAttrHidden) != 0;
        PendingRow row;
        if (IsContainerName(entry.name)) {
            row.text = ContainerDisplayName(entry.name);
            row.mark = hidden ? ItemMark::HiddenEncrypted : ItemMark::Encrypted;
        } else {
            row.text = std::move(entry.name);
            row.mark = hidden ? ItemMark::HiddenPlain : ItemMark::NoMark;
        }
        row.key = row.text.toCaseFolded();
        row.location = location;
        row.size = entry.size;
        row.lastWrite = entry.lastWrite;
        listing.rows.push_back(std::move(row));
    }
}

void ListStorage(Listing& listing, const QString& baseFolder, int storagePosition) {
    const QComboBox* folders = Browser().folderSelector;
    const int selected = folders ? folders->currentIndex() : -1;
    if (selected < 0)
        return;
    if (selected == kAllPosition || selected == kBasePosition)
        ListFolder(listing, baseFolder, storagePosition, QString(), kBasePosition);
    if (selected == kAllPosition) {
        for (int position = kFirstNamedPosition; position < folders->count(); ++position)
            ListFolder(listing, baseFolder, storagePosition, folders->itemText(position), position);
    } else if (selected >= kFirstNamedPosition) {
        ListFolder(listing, baseFolder, storagePosition, folders->itemText(selected), selected);
    }
}

// Remembers the base folder of every storage and the text of every folder
// by position, as the rows about to be listed will refer to them.
void NoteListedFolders() {
    BrowserState& state = Browser();
    state.listedBaseFolders.clear();
    state.listedFolderTexts.clear();
    if (state.storageSelector) {
        for (int position = 0; position < state.storageSelector->count(); ++position) {
            state.listedBaseFolders
                << (position == kAllPosition ? QString() : StorageBaseFolder(position));
        }
    }
    if (state.folderSelector) {
        for (int position = 0; position < state.folderSelector->count(); ++position) {
            state.listedFolderTexts
                << (position < kFirstNamedPosition ? QString()
                                                   : state.folderSelector->itemText(position));
        }
    }
}

void ShowRows(QTreeWidget* list, Listing& listing) {
    std::vector<PendingRow>& rows = listing.rows;
    // Equal names keep the order in which they were found.
    std::stable_sort(rows.begin(), rows.end(), [](const PendingRow& a, const PendingRow& b) {
        const int byKey = a.key.compare(b.key);
        return byKey != 0 ? byKey < 0 : a.text < b.text;
    });
    QSet<QString>& sizeForms = Browser().sizeForms;
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (PendingRow& row : rows) {
        auto* item = new QTreeWidgetItem;
        QString size = SizeText(row.size);
        sizeForms.insert(TextForm(size));
        item->setText(SizeColumn, std::move(size));
        item->setText(DateColumn, CachedDateText(listing, row.lastWrite));
        item->setData(NameColumn, kItemLocationRole, row.location);
        item->setData(NameColumn, kItemStateRole, ItemStateValue(row.mark));
        item->setIcon(NameColumn, RowIcon(row.text, row.mark));
        item->setText(NameColumn, std::move(row.text));
        DescribeRow(item, row.mark);
        items.append(item);
    }
    list->addTopLevelItems(items);
}

// The width the column needs for its header and the forms of its texts,
// measured with the font's widest digit. Fractions of a pixel count: the
// list elides a text that is wider than its cell by any fraction.
int ContentWidth(QTreeWidget* list, int column, const QSet<QString>& forms) {
    const QFontMetricsF metrics(list->font());
    char16_t widest = u'0';
    qreal widestAdvance = 0;
    for (char16_t digit = u'0'; digit <= u'9'; ++digit) {
        const qreal advance = metrics.horizontalAdvance(QChar(digit));
        if (advance > widestAdvance) {
            widest = digit;
            widestAdvance = advance;
        }
    }
    qreal textWidth = 0;
    for (QString form : forms) {
        form.replace(QLatin1Char('0'), QChar(widest));
        textWidth = qMax(textWidth, metrics.horizontalAdvance(form));
    }
    // The item delegate's space on either side of a text.
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    return qMax(list->header()->sectionSizeHint(column),
                static_cast<int>(std::ceil(textWidth)) + 2 * margin);
}

// The row the user was on when a refill began, and where the list stood.
struct KeptSelection {
    QString file; // the row's file: its plain path, with ".ksr" for a container
    int row = -1;
    int scroll = 0;
    QStringList folders; // what the list showed
};

QString RowFile(const QTreeWidgetItem* item) {
    QString path = RowPlainPath(item);
    if (path.isEmpty())
        return path;
    const int state = item->data(NameColumn, kItemStateRole).toInt();
    if (state == ItemStateValue(ItemMark::Encrypted) ||
        state == ItemStateValue(ItemMark::HiddenEncrypted))
        path += QString::fromUtf16(kContainerExtension);
    return path;
}

QTreeWidgetItem* RowOfFile(QTreeWidget* list, const QString& file) {
    if (file.isEmpty())
        return nullptr;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        if (RowFile(item) == file)
            return item;
    }
    return nullptr;
}

// The same file in its other form: encrypted or decrypted meanwhile.
QString OtherForm(const QString& file) {
    if (file.isEmpty())
        return file;
    const QString extension = QString::fromUtf16(kContainerExtension);
    return file.endsWith(extension) ? file.chopped(kContainerExtensionLength) : file + extension;
}

KeptSelection NoteSelection(QTreeWidget* list) {
    KeptSelection kept;
    kept.folders = Browser().listedFolders;
    kept.scroll = list->verticalScrollBar()->value();
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (!selected.isEmpty()) {
        kept.file = RowFile(selected.first());
        kept.row = list->indexOfTopLevelItem(selected.first());
    }
    return kept;
}

// The selection stays on the file under its new name or its other form, or,
// when it is gone, on the row that took its place; never on a file of
// another folder than the list showed before.
void RestoreSelection(QTreeWidget* list, const KeptSelection& kept) {
    BrowserState& state = Browser();
    const QString followed = std::exchange(state.followedFile, QString());
    QTreeWidgetItem* item = RowOfFile(list, followed);
    if (!item)
        item = RowOfFile(list, kept.file);
    if (!item)
        item = RowOfFile(list, OtherForm(kept.file));
    const bool sameFolders = kept.folders == state.listedFolders;
    const int count = list->topLevelItemCount();
    if (!item && sameFolders && kept.row >= 0 && count > 0)
        item = list->topLevelItem(std::min(kept.row, count - 1));
    // The scroll bar knows the new rows only once they are laid out.
    list->doItemsLayout();
    QScrollBar* bar = list->verticalScrollBar();
    const int scroll = sameFolders ? kept.scroll : bar->value();
    if (item)
        list->setCurrentItem(item);
    bar->setValue(scroll);
    if (item)
        list->scrollToItem(item, QAbstractItemView::EnsureVisible);
}

// What the list says while it has no rows.
QString EmptyListText(const QComboBox* storages) {
    const BrowserState& state = Browser();
    const int storage = storages ? storages->currentIndex() : -1;
    const bool mainMemory = storage == kAllPosition || storage == kBasePosition;
    if (mainMemory && !state.documentsPath.isEmpty() && !QFileInfo(state.documentsPath).isDir())
        return QStringLiteral("The documents folder does not exist:\n%1").arg(state.documentsPath);
    return QStringLiteral("No files in this folder");
}

} // namespace

void InitFileList(ViewArea* view) {
    BrowserState& state = Browser();
    QTreeWidget* list = view->fileList();
    state.list = list;

    // Rows are put in order as they are listed. The list's own sorting would
    // move a row among rows of the same name whenever its mark changes,
    // shifting row indexes under a command that is working on one.
    list->setSortingEnabled(false);
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setItemDelegate(new ColumnAlignment(list));

    const int iconSize = list->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, list);
    if (!PrepareRowIcons(iconSize, list->devicePixelRatioF())) {
        RecordError(kRowIconsUnavailable);
        ReportError(HandleOf(view), QStringLiteral("Icon Problem"));
    }
    list->setIconSize(RowIconSize());

    list->setColumnCount(3);
    list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Date"), QStringLiteral("Size")});
    QTreeWidgetItem* header = list->headerItem();
    header->setTextAlignment(NameColumn, Qt::AlignLeft | Qt::AlignVCenter);
    header->setTextAlignment(DateColumn, Qt::AlignCenter);
    header->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    list->header()->setStretchLastSection(false);
    list->header()->setMinimumSectionSize(0);

    state.watch = new FolderWatch(view);
    QObject::connect(state.watch, &FolderWatch::refillDue, list, RefreshFileList);
    QObject::connect(view, &ViewArea::laidOut, list, FitColumns);
    RefreshFileList();
}

void RefreshFileList() {
    BrowserState& state = Browser();
    QTreeWidget* list = state.list;
    if (!list)
        return;
    const KeptSelection kept = NoteSelection(list);
    list->clear();
    state.dateForms.clear();
    state.sizeForms.clear();
    QHeaderView* header = list->header();
    for (int column : {SizeColumn, DateColumn, NameColumn})
        header->resizeSection(column, 0);

    const intptr_t cursor = plat::ShowWaitCursor();
    list->setUpdatesEnabled(false);

    NoteListedFolders();
    Listing listing;
    const QComboBox* storages = state.storageSelector;
    const int selected = storages ? storages->currentIndex() : -1;
    if (selected == kAllPosition || selected == kBasePosition)
        ListStorage(listing, state.listedBaseFolders.value(kBasePosition), kBasePosition);
    if (selected == kAllPosition) {
        for (int position = kFirstNamedPosition; position < storages->count(); ++position)
            ListStorage(listing, state.listedBaseFolders.value(position), position);
    } else if (selected >= kFirstNamedPosition) {
        ListStorage(listing, state.listedBaseFolders.value(selected), selected);
    }
    ShowRows(list, listing);
    state.listedFolders = listing.folders;
    if (auto* files = qobject_cast<FileListView*>(list))
        files->setEmptyText(EmptyListText(storages));
    RestoreSelection(list, kept);

    list->setUpdatesEnabled(true);
    plat::RestoreCursor(cursor);
    FitColumns();
    if (state.watch)
        state.watch->Watch(state.listedFolders);
}

void KeepSelectionOn(const QString& file) {
    Browser().followedFile = file;
}

QString SizeText(uint64_t size) {
    if (size >> 32)
        return QStringLiteral("Huge!");
    const uint32_t l = static_cast<uint32_t>(size);
    uint32_t whole;
    uint32_t hundredths;
    char unit;
    if (l > 1073741824u) {
        whole = l >> 30;
        hundredths = ((l >> 20) * 100 - (l >> 30) * 102400) >> 10;
        unit = 'G';
    } else if (l > 1048576u) {
        whole = l >> 20;
        hundredths = ((l >> 10) * 100 - (l >> 20) * 102400) >> 10;
        unit = 'M';
    } else if (l > 1024u) {
        whole = l >> 10;
        hundredths = (l * 100 - (l >> 10) * 102400) >> 10;
        unit = 'k';
    } else {
        return QString::number(l) + QLatin1Char('b');
    }
    QString text = QString::number(whole);
    text += QLatin1Char('.');
    text += QLatin1Char(static_cast<char>('0' + hundredths / 10));
    text += QLatin1Char(static_cast<char>('0' + hundredths % 10));
    text += QLatin1Char(unit);
    return text;
}

QString DateText(int64_t lastWrite) {
    const QDate date = QDate::fromJulianDay(kJulianDayOfEpoch + DayOf(lastWrite));
    if (!date.isValid())
        return {};
    return QLocale().toString(date, QLocale::ShortFormat);
}

void SetItemDetails(int row, uint64_t size, int64_t lastWrite) {
    QTreeWidgetItem* item = Row(row);
    if (!item)
        return;
    const QString date = DateText(lastWrite);
    const QString sizeText = SizeText(size);
    if (!date.isEmpty())
        item->setText(DateColumn, date);
    item->setText(SizeColumn, sizeText);
    NoteForms(date, sizeText);
}

void RefreshItemDetails(const QString& path, int row) {
    plat::FindData data;
    if (plat::GetFindData(path, &data))
        SetItemDetails(row, data.size, data.times.lastWrite);
}

void FitColumns() {
    QTreeWidget* list = Browser().list;
    if (!list || list->columnCount() < 3)
        return;
    const bool updating = list->updatesEnabled();
    list->setUpdatesEnabled(false);
    QHeaderView* header = list->header();
    const int width = list->viewport()->width();
    header->resizeSection(NameColumn, width);
    const BrowserState& state = Browser();
    const int dateWidth =
        IsOptionChecked(ShowDate) ? ContentWidth(list, DateColumn, state.dateForms) : 0;
    header->resizeSection(DateColumn, dateWidth);
    const int sizeWidth =
        IsOptionChecked(ShowSize) ? ContentWidth(list, SizeColumn, state.sizeForms) : 0;
    header->resizeSection(SizeColumn, sizeWidth);
    header->resizeSection(NameColumn, qMax(width - dateWidth - sizeWidth, MinimumNameWidth()));
    list->setUpdatesEnabled(updating);
    list->viewport()->update();
}

int MinimumNameWidth() {
    const QTreeWidget* list = Browser().list;
    if (!list)
        return 0;
    return list->iconSize().width() +
           list->fontMetrics().horizontalAdvance(QStringLiteral("KESHLOR")) + 10;
}

int SetItemMark(int row, ItemMark mark) {
    QTreeWidget* list = Browser().list;
    QTreeWidgetItem* item = Row(row);
    if (!item)
        return -1;
    list->scrollToItem(item, QAbstractItemView::EnsureVisible);
    const int former = item->data(NameColumn, kItemStateRole).toInt();
    PutState(item, ItemStateValue(mark));
    RedrawRow(list, item);
    return former;
}

void RestoreItemMark(int row, int stateValue) {
    if (stateValue < 0)
        return;
    QTreeWidgetItem* item = Row(row);
    if (!item)
        return;
    PutState(item, stateValue);
    RedrawRow(Browser().list, item);
}

bool IsItemEncrypted(int row) {
    const int state = ItemState(row);
    return state == ItemStateValue(ItemMark::Encrypted) ||
           state == ItemStateValue(ItemMark::HiddenEncrypted);
}

bool IsItemHidden(int row) {
    const int state = ItemState(row);
    return state == ItemStateValue(ItemMark::HiddenPlain) ||
           state == ItemStateValue(ItemMark::HiddenEncrypted);
}
