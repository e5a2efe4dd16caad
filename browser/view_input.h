#pragma once
// What input on the view's controls does: the selectors' refills on focus and
// selection change, and what a click, a double-click, a tap, Enter, Delete,
// F2, a tap-and-hold, a right click or the context-menu key do on the file
// list. InitView (view_contents.h) sets it up.
#include <QObject>
#include <QPoint>
#include <QTimer>

class QComboBox;
class QContextMenuEvent;
class QFocusEvent;
class QKeyEvent;
class QMouseEvent;
class QTreeWidget;
class QWidget;
class ViewArea;

class ViewInput : public QObject {
    Q_OBJECT
  public:
    explicit ViewInput(ViewArea* view);

  signals:
    // A row is handed to ActivateListItem (double-click, tap or Enter).
    void rowActivated(int row);
    // A row's context menu is opened through ShowContextMenu.
    void contextMenuOpened(int row);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The desktop's setting: a single click activates a row.
    bool ActivatesOnSingleClick() const;
    void OnStorageChosen();
    void OnFolderChosen();
    void OnTap(int row);
    void OnHeld();
    void OpenContextMenu(int row, const QPoint& globalPos);

    void PaintBackground();
    void OnFocusIn(QObject* watched, const QFocusEvent* focus);
    // Enter, Delete and F2 on the selected row.
    void OnListKey(const QKeyEvent* key);
    // A right click or the context-menu key on the list.
    void OnContextMenuRequest(QObject* watched, const QContextMenuEvent* request);
    // Press, move and release on the list's viewport time a tap-and-hold.
    void OnPress(const QMouseEvent* mouse);
    void OnMove(const QMouseEvent* mouse);
    void OnRelease(const QMouseEvent* mouse);

    // The view's controls live as long as this, its child, but die first when
    // the view is deleted; they are used only for events a dying widget does
    // not get.
    QWidget* view_;
    QComboBox* storages_;
    QComboBox* folders_;
    QTreeWidget* list_;
    QWidget* viewport_;
    QTimer hold_;
    QPoint pressPos_;
    bool swallowClick_ = false;
    // The last press came from a finger on a touch screen.
    bool touch_ = false;
};
