#include "dialogs/work_progress.h"

#include "dialogs/password_dialogs.h"
#include "platform/ports.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

ProgressTiming g_timing;

// Steps of the bar: tenths of a percent.
constexpr int kSteps = 1000;
// The Date and Size cells must leave the bar this many text lines of width,
// else it takes the right half of the row.
constexpr int kMinimumBarLines = 4;
constexpr int kWindowWidth = 260;

QProgressBar* MakeBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QStringLiteral("workProgress"));
    bar->setRange(0, kSteps);
    bar->setValue(0);
    bar->setFormat(QStringLiteral("%p%"));
    bar->setAlignment(Qt::AlignCenter);
    return bar;
}

} // namespace

void SetProgressTiming(ProgressTiming timing) {
    g_timing = timing;
}

struct WorkProgress::Display {
    QPointer<QWidget> owner;
    QPointer<QTreeWidget> list;
    int row = 0;
    QString what;
    QElapsedTimer clock;
    qint64 lastUpdate = 0;
    bool updating = false;
    QPointer<QProgressBar> bar;
    QPointer<QWidget> window; // the own window, when the bar is not on the row

    void Report(uint64_t done, uint64_t total) {
        if (updating || total == 0)
            return;
        const qint64 now = clock.elapsed();
        if (!bar) {
            if (now < g_timing.showAfterMs)
                return;
            if (!ShowOnRow())
                ShowInWindow();
        } else if (now - lastUpdate < g_timing.intervalMs && done < total) {
            return;
        }
        updating = true;
        lastUpdate = now;
        // A file that grew during the run is nearly done, not past the end.
        bar->setValue(static_cast<int>(std::min(done, total) * kSteps / total));
        if (window) {
            // A new window is drawn only once the window system has shown it:
            // let that through, and only events that are no user input.
            if (window->windowHandle() && !window->windowHandle()->isExposed())
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                                QEventLoop::ExcludeSocketNotifiers);
            if (window)
                window->repaint();
        } else {
            bar->repaint();
        }
        updating = false;
    }

    bool ShowOnRow() {
        if (!list || !list->isVisible())
            return false;
        QTreeWidgetItem* item = list->topLevelItem(row);
        if (!item)
            return false;
        const QRect rowRect = list->visualItemRect(item);
        if (!rowRect.isValid() || !list->viewport()->rect().intersects(rowRect))
            return false;
        // Over the Date and Size cells, so the name stays readable.
        int left = list->header()->sectionViewportPosition(1);
        if (left < rowRect.left() ||
            rowRect.right() - left < kMinimumBarLines * list->fontMetrics().height())
            left = rowRect.left() + rowRect.width() / 2;
        bar = MakeBar(list->viewport());
        bar->setGeometry(QRect(QPoint(left, rowRect.top()), rowRect.bottomRight()));
        bar->show();
        return true;
    }

    void ShowInWindow() {
        QWidget* parent = owner && owner->window()->isVisible() ? owner->window() : nullptr;
        auto* frame =
            new QFrame(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                   Qt::WindowDoesNotAcceptFocus);
        frame->setObjectName(QStringLiteral("workProgressWindow"));
        frame->setWindowTitle(QStringLiteral("Keshlor"));
        frame->setAttribute(Qt::WA_ShowWithoutActivating);
        frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
        frame->setLineWidth(2);
        auto* layout = new QVBoxLayout(frame);
        auto* label = new QLabel(what, frame);
        label->setTextFormat(Qt::PlainText);
        label->setMaximumWidth(kWindowWidth);
        label->setText(label->fontMetrics().elidedText(what, Qt::ElideMiddle, kWindowWidth));
        layout->addWidget(label);
        bar = MakeBar(frame);
        layout->addWidget(bar);
        frame->setFixedWidth(kWindowWidth + layout->contentsMargins().left() +
                             layout->contentsMargins().right());
        frame->adjustSize();
        window = frame;
        bool positioned = false;
        frame->show();
        PositionAboveInputPanel(frame, &positioned);
    }
};

WorkProgress::WorkProgress(QWidget* owner, QTreeWidget* list, int row, const QString& what)
    : display_(std::make_unique<Display>()) {
    display_->owner = owner;
    display_->list = list;
    display_->row = row;
    display_->what = what;
    display_->clock.start();
    Display* display = display_.get();
    plat::SetProgressPort(
        [display](uint64_t done, uint64_t total) { display->Report(done, total); });
}

WorkProgress::~WorkProgress() {
    plat::SetProgressPort({});
    delete display_->window.data();
    delete display_->bar.data();
}
