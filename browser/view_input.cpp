#include "browser/view_input.h"

#include "browser/browser_state.h"
#include "browser/context_menu.h"
#include "browser/file_list.h"
#include "browser/list_activation.h"
#include "browser/selectors.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleHints>

ViewInput::ViewInput(ViewArea* view)
    : QObject(view), view_(view), storages_(view->storageSelector()),
      folders_(view->folderSelector()), list_(view->fileList()), viewport_(list_->viewport()) {
    setObjectName(QStringLiteral("viewInput"));
    for (QObject* watched :
         std::initializer_list<QObject*>{view_, storages_, folders_, list_, viewport_})
        watched->installEventFilter(this);

    connect(storages_, &QComboBox::activated, this, &ViewInput::OnStorageChosen);
    connect(folders_, &QComboBox::activated, this, &ViewInput::OnFolderChosen);
    // A click selects and a double-click acts, as on the desktop, unless the
    // desktop asks for single-click activation; a finger's tap always acts,
    // as it did on the handheld. Both come after the list has selected.
    connect(list_, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (swallowClick_) {
            swallowClick_ = false;
            return;
        }
        if (touch_ || ActivatesOnSingleClick())
            OnTap(index.row());
    });
    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!touch_ && !ActivatesOnSingleClick())
            OnTap(index.row());
    });

    hold_.setSingleShot(true);
    hold_.setInterval(QGuiApplication::styleHints()->mousePressAndHoldInterval());
    connect(&hold_, &QTimer::timeout, this, &ViewInput::OnHeld);
}

bool ViewInput::ActivatesOnSingleClick() const {
    return list_->style()->styleHint(QStyle::SH_ItemView_ActivateItemOnSingleClick, nullptr,
                                     list_) != 0;
}

void ViewInput::OnStorageChosen() {
    FillFolderSelector(kBasePosition);
    RefreshFileList();
}

void ViewInput::OnFolderChosen() {
    RefreshFileList();
}

void ViewInput::OnTap(int row) {
    // A double-click acts on its second press: the release that would end
    // the hold goes to the dialog that opens.
    hold_.stop();
    if (row < 0)
        return;
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item)
        return;
    list_->setCurrentItem(item);
    emit rowActivated(row);
    ActivateListItem(view_, list_, row);
}

void ViewInput::OnHeld() {
    QTreeWidgetItem* item = list_->itemAt(pressPos_);
    if (!item)
        return;
    OpenContextMenu(list_->indexOfTopLevelItem(item), list_->viewport()->mapToGlobal(pressPos_));
}

void ViewInput::OpenContextMenu(int row, const QPoint& globalPos) {
    if (row < 0)
        return;
    list_->setCurrentItem(list_->topLevelItem(row));
    emit contextMenuOpened(row);
    ShowContextMenu(view_, list_, row, globalPos);
    Browser().suppressNextTap = true;
}

bool ViewInput::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Paint:
        if (watched == view_)
            PaintBackground();
        return false;
    case QEvent::FocusIn:
        OnFocusIn(watched, static_cast<QFocusEvent*>(event));
        return false;
    case QEvent::KeyPress:
        if (watched == list_)
            OnListKey(static_cast<QKeyEvent*>(event));
        // The list still sees the key, for its own activation signal.
        return false;
    case QEvent::ContextMenu:
        if (watched != list_ && watched != viewport_)
            return false;
        OnContextMenuRequest(watched, static_cast<QContextMenuEvent*>(event));
        return true;
    case QEvent::Resize:
        // The list's room changes with its scroll bars too, not only with the view.
        if (watched == viewport_)
            FitColumns();
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (watched == viewport_)
            OnPress(static_cast<QMouseEvent*>(event));
        return false;
    case QEvent::MouseMove:
        if (watched == viewport_)
            OnMove(static_cast<QMouseEvent*>(event));
        return false;
    case QEvent::MouseButtonRelease:
        if (watched == viewport_)
            OnRelease(static_cast<QMouseEvent*>(event));
        return false;
    default:
        return false;
    }
}

void ViewInput::PaintBackground() {
    // The view's own background shows around the selectors.
    QPainter painter(view_);
    painter.fillRect(view_->rect(), view_->palette().color(QPalette::Dark));
}

void ViewInput::OnFocusIn(QObject* watched, const QFocusEvent* focus) {
    if (watched == list_) {
        // The row with the focus frame is the one Enter and the menu key act
        // on, so it is selected, also before any arrow key was pressed.
        QTreeWidgetItem* current = list_->currentItem();
        if (!current)
            current = list_->topLevelItem(0);
        if (current && !current->isSelected())
            list_->setCurrentItem(current);
        return;
    }
    // A drop-down closing hands the focus back; that is no new visit.
    if (focus->reason() == Qt::PopupFocusReason)
        return;
    if (watched == storages_)
        FillStorageSelector(kAllPosition);
    else if (watched == folders_)
        FillFolderSelector(kBasePosition);
}

void ViewInput::OnListKey(const QKeyEvent* key) {
    if (key->isAutoRepeat())
        return;
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = list_->indexOfTopLevelItem(selected.first());
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit rowActivated(row);
        ActivateListItem(view_, list_, row);
        break;
    // The desktop's keys for two of the context menu's commands.
    case Qt::Key_Delete:
        if (plain)
            RunContextCommand(view_, list_, row, CmdDeleteItem);
        break;
    case Qt::Key_F2:
        if (plain)
            RunContextCommand(view_, list_, row, CmdMoveItem);
        break;
    default:
        break;
    }
}

void ViewInput::OnContextMenuRequest(QObject* watched, const QContextMenuEvent* request) {
    hold_.stop();
    if (request->reason() == QContextMenuEvent::Keyboard) {
        QTreeWidgetItem* item = list_->currentItem();
        if (item && item->isSelected()) {
            const QRect rect = list_->visualItemRect(item);
            OpenContextMenu(list_->indexOfTopLevelItem(item),
                            list_->viewport()->mapToGlobal(rect.center()));
        }
        return;
    }
    const QPoint pos =
        watched == list_ ? list_->viewport()->mapFrom(list_, request->pos()) : request->pos();
    if (QTreeWidgetItem* item = list_->itemAt(pos))
        OpenContextMenu(list_->indexOfTopLevelItem(item), request->globalPos());
}

void ViewInput::OnPress(const QMouseEvent* mouse) {
    if (mouse->button() != Qt::LeftButton)
        return;
    touch_ = mouse->device() && mouse->device()->type() == QInputDevice::DeviceType::TouchScreen;
    // A new press is a new tap: whatever a menu left pending is over.
    Browser().suppressNextTap = false;
    swallowClick_ = false;
    pressPos_ = mouse->position().toPoint();
    hold_.start();
}

void ViewInput::OnMove(const QMouseEvent* mouse) {
    // A finger that wanders off is no longer holding the row.
    if (hold_.isActive() && (mouse->position().toPoint() - pressPos_).manhattanLength() >
                                QApplication::startDragDistance())
        hold_.stop();
}

void ViewInput::OnRelease(const QMouseEvent* mouse) {
    if (mouse->button() != Qt::LeftButton)
        return;
    hold_.stop();
    // The release that ends a tap-and-hold is not a tap of its own.
    BrowserState& state = Browser();
    swallowClick_ = state.suppressNextTap;
    state.suppressNextTap = false;
}

void InitView(ViewArea* view) {
    if (!view)
        return;
    ReleaseBrowser();
    Browser().view = view;
    new ViewInput(view);
    QObject::connect(view, &QObject::destroyed, [](QObject* gone) {
        // A later view may have taken over already; only this one's state goes.
        if (static_cast<QObject*>(Browser().view.data()) == gone)
            ReleaseBrowser();
    });
    LayoutView(view);
    InitStorageSelector(view);
    InitFolderSelector(view);
    InitFileList(view);
    view->fileList()->setFocus();
}
