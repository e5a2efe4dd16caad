#include "browser/view_area.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTextOption>
#include <QTreeWidget>

QPointer<ViewArea> g_view;

namespace {

constexpr int kMargin = 4;

// A selector whose choice loses its middle where it does not fit, so that a
// long folder name keeps its start and end; the tooltip has all of it.
class Selector : public QComboBox {
  public:
    explicit Selector(QWidget* parent) : QComboBox(parent) {
        view()->setTextElideMode(Qt::ElideMiddle);
        connect(this, &QComboBox::currentTextChanged, this, &QWidget::setToolTip);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, this);
        option.currentText =
            fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, field.width() - 2);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

QComboBox* MakeSelector(QWidget* parent, const char* objectName, const QString& accessibleName,
                        const QString& description) {
    auto* selector = new Selector(parent);
    selector->setObjectName(QLatin1String(objectName));
    selector->setAccessibleName(accessibleName);
    selector->setAccessibleDescription(description);
    selector->setEditable(false);
    selector->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    selector->setFocusPolicy(Qt::StrongFocus);
    return selector;
}

} // namespace

ViewArea::ViewArea(QWidget* parent)
    : QWidget(parent), storageSelector_(MakeSelector(this, "storageSelector", tr("Storage"),
                                                     tr("The storage whose files are listed"))),
      folderSelector_(MakeSelector(this, "folderSelector", tr("Folder"),
                                   tr("The folder whose files are listed"))),
      fileList_(new FileListView(this)) {
    setObjectName(QStringLiteral("view"));
    fileList_->setObjectName(QStringLiteral("fileList"));
    fileList_->setAccessibleName(tr("Files"));
    fileList_->setAccessibleDescription(
        tr("Activate a file to encrypt it, or a container to decrypt it"));
    // A report of rows kept in ascending name order, one selected at most,
    // with headers that do not sort.
    fileList_->setColumnCount(0);
    fileList_->setRootIsDecorated(false);
    fileList_->setItemsExpandable(false);
    fileList_->setUniformRowHeights(true);
    fileList_->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A long name keeps its start and its extension; the tooltip has all of it.
    fileList_->setTextElideMode(Qt::ElideMiddle);
    fileList_->setSortingEnabled(true);
    fileList_->sortByColumn(0, Qt::AscendingOrder);
    fileList_->header()->setSectionsClickable(false);
    fileList_->header()->setSortIndicatorShown(false);
    fileList_->header()->setSectionsMovable(false);
    fileList_->setFocusPolicy(Qt::StrongFocus);
    fileList_->verticalScrollBar()->setAccessibleName(tr("Scroll the files"));
    fileList_->horizontalScrollBar()->setAccessibleName(tr("Scroll the columns"));

    setTabOrder(storageSelector_, folderSelector_);
    setTabOrder(folderSelector_, fileList_);
}

void FileListView::setEmptyText(const QString& text) {
    if (text == emptyText_)
        return;
    emptyText_ = text;
    viewport()->update();
}

void FileListView::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    if (topLevelItemCount() > 0 || emptyText_.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int margin = 2 * fontMetrics().averageCharWidth();
    // A long path breaks where it must, words where they can.
    QTextOption layout(Qt::AlignHCenter | Qt::AlignTop);
    layout.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    painter.drawText(QRectF(viewport()->rect().adjusted(margin, margin, -margin, -margin)),
                     emptyText_, layout);
}

int ViewArea::margin() const {
    return kMargin;
}

void ViewArea::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutView(this);
}

void LayoutView(ViewArea* view) {
    if (!view)
        return;
    const int width = view->width();
    const int height = view->height();
    const int m = view->margin();
    const int selectorWidth = qMax(0, (width - 3 * m) / 2);
    const int selectorHeight = view->storageSelector()->sizeHint().height();
    view->storageSelector()->setGeometry(m, m, selectorWidth, selectorHeight);
    view->folderSelector()->setGeometry(width - m - selectorWidth, m, selectorWidth,
                                        selectorHeight);

    // The gap below the selectors equals the gap above them.
    const int listTop = m + m + selectorHeight;
    const int border = view->fileList()->frameWidth();
    view->fileList()->setGeometry(-border, listTop, width + 2 * border,
                                  qMax(0, height - listTop + border));
    emit view->laidOut();
}
