#pragma once
// The view that fills the main window: the storage selector (left) and the
// folder selector (right) side by side above the file list. This file makes
// the controls and keeps them laid out; the file browser fills them.
#include <QPointer>
#include <QTreeWidget>
#include <QWidget>

class QComboBox;

// The file list's widget: while it has no rows, its viewport says why.
class FileListView : public QTreeWidget {
    Q_OBJECT
  public:
    using QTreeWidget::QTreeWidget;
    const QString& emptyText() const { return emptyText_; }
    void setEmptyText(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString emptyText_;
};

class ViewArea : public QWidget {
    Q_OBJECT
  public:
    explicit ViewArea(QWidget* parent);

    QComboBox* storageSelector() const { return storageSelector_; }
    QComboBox* folderSelector() const { return folderSelector_; }
    QTreeWidget* fileList() const { return fileList_; }
    // Outer margin of the selectors, also the gap between them.
    int margin() const;

  signals:
    // LayoutView has placed the controls; the file list fits its
    // columns to them (FitColumns).
    void laidOut();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QComboBox* storageSelector_;
    QComboBox* folderSelector_;
    FileListView* fileList_;
};

// The view while it exists.
extern QPointer<ViewArea> g_view;

// Two selectors side by side, equally wide, with equal outer margins and the
// same gap between them; the list below them across the whole width (its side
// and bottom borders just outside the view) and down to the bottom. Runs on
// every size change, then says laidOut, so that the list's columns are fitted.
void LayoutView(ViewArea* view);
