#include "commands/work_progress.h"

#include "commands/password_dialogs.h"
#include "gui/engine_thread.h"
#include "platform/interrupts.h"
#include "platform/ports.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

ProgressTiming g_timing;

// Steps of the bar: tenths of a percent.
constexpr int kSteps = 1000;
// The Date and Size cells must leave the bar this many text lines of width
// beside Cancel, else it takes the right half of the room before Cancel.
constexpr int kMinimumBarLines = 6;
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

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::Gesture:
    case QEvent::NativeGesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

bool IsEscape(const QEvent* event) {
    return (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
           static_cast<const QKeyEvent*>(event)->key() == Qt::Key_Escape;
}

} // namespace

void SetProgressTiming(ProgressTiming timing) {
    g_timing = timing;
}

struct WorkProgress::Display : QObject {
    QPointer<QWidget> owner;
    QPointer<QTreeWidget> list;
    int row = 0;
    QString what;
    QElapsedTimer clock;
    qint64 lastUpdate = 0;
    bool updating = false;
    // Cancel was asked for, or it is too late for it.
    bool cancelClosed = false;
    QPointer<QProgressBar> bar;
    QPointer<QToolButton> cancel;
    QPointer<QWidget> window; // the own window, when the bar is not on the row

    void Report(uint64_t done, uint64_t total) {
        // The data is complete: what is left (flush, rename, wipe) must finish.
        if (done >= total)
            CloseCancel();
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

    void Cancel() {
        if (cancelClosed)
            return;
        plat::RequestCancel();
        CloseCancel();
    }

    void CloseCancel() {
        cancelClosed = true;
        if (cancel)
            cancel->setEnabled(false);
    }

    QToolButton* MakeCancelButton(QWidget* parent) {
        cancel = new QToolButton(parent);
        cancel->setObjectName(QStringLiteral("cancelWork"));
        cancel->setText(QStringLiteral("Cancel"));
        cancel->setToolTip(QStringLiteral("Stop, and keep the file as it was (Esc)"));
        // The keys stay where they were; Escape reaches Cancel from anywhere.
        cancel->setFocusPolicy(Qt::NoFocus);
        cancel->setEnabled(!cancelClosed);
        connect(cancel, &QToolButton::clicked, this, [this] { Cancel(); });
        return cancel;
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
        MakeCancelButton(list->viewport());
        const int right = rowRect.right() - cancel->sizeHint().width();
        // Over the Date and Size cells, so the name stays readable.
        int left = list->header()->sectionViewportPosition(1);
        if (left < rowRect.left() || right - left < kMinimumBarLines * list->fontMetrics().height())
            left = rowRect.left() + (right - rowRect.left()) / 2;
        bar = MakeBar(list->viewport());
        bar->setGeometry(QRect(QPoint(left, rowRect.top()), QPoint(right, rowRect.bottom())));
        cancel->setGeometry(QRect(QPoint(right + 1, rowRect.top()), rowRect.bottomRight()));
        bar->show();
        cancel->show();
        return true;
    }

    void ShowInWindow() {
        QWidget* parent = owner && owner->window()->isVisible() ? owner->window() : nullptr;
        // Beside the program's window, which keeps the keys (Escape among
        // them); alone, it is a window of its own with the normal frame,
        // and takes them itself.
        const Qt::WindowFlags flags = parent ? Qt::Tool | Qt::FramelessWindowHint |
                                                   Qt::WindowStaysOnTopHint |
                                                   Qt::WindowDoesNotAcceptFocus
                                             : Qt::WindowFlags(Qt::Dialog);
        auto* frame = new QFrame(parent, flags);
        frame->setObjectName(QStringLiteral("workProgressWindow"));
        frame->setWindowTitle(parent ? QStringLiteral("Keshlor") : what);
        frame->setAttribute(Qt::WA_ShowWithoutActivating, parent != nullptr);
        if (parent) {
            frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
            frame->setLineWidth(2);
        }
        auto* layout = new QVBoxLayout(frame);
        auto* label = new QLabel(what, frame);
        label->setTextFormat(Qt::PlainText);
        label->setMaximumWidth(kWindowWidth);
        label->setText(label->fontMetrics().elidedText(what, Qt::ElideMiddle, kWindowWidth));
        layout->addWidget(label);
        auto* line = new QHBoxLayout;
        bar = MakeBar(frame);
        line->addWidget(bar, 1);
        line->addWidget(MakeCancelButton(frame));
        layout->addLayout(line);
        frame->setFixedWidth(kWindowWidth + layout->contentsMargins().left() +
                             layout->contentsMargins().right());
        frame->adjustSize();
        window = frame;
        bool positioned = false;
        frame->show();
        PositionAboveInputPanel(frame, &positioned);
        if (!parent)
            frame->activateWindow();
    }

    bool IsOwnWidget(const QWidget* widget) const {
        return widget == bar || widget == cancel ||
               (window && (widget == window || window->isAncestorOf(widget)));
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsUserInput(event->type()))
            return false;
        // A question of the run is modal: Qt keeps input from the window
        // then, and the answer must get through.
        if (QApplication::activeModalWidget())
            return false;
        // A window hands its input on to its widgets, which are looked at
        // then; a shortcut goes to its QShortcut or QAction instead.
        if (!watched->isWidgetType())
            return event->type() == QEvent::Shortcut;
        if (IsEscape(event)) {
            Cancel();
            // Taken as an override, so no shortcut of Escape acts on it either.
            event->accept();
            return true;
        }
        return !IsOwnWidget(static_cast<QWidget*>(watched));
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
    qApp->installEventFilter(display);
}

WorkProgress::~WorkProgress() {
    qApp->removeEventFilter(display_.get());
    plat::SetProgressPort({});
    delete display_->window.data();
    delete display_->bar.data();
    delete display_->cancel.data();
}

int WorkProgress::Run(const std::function<int()>& work, EscapedRun escaped) {
    return RunOffGuiThread(work, g_timing.intervalMs, escaped);
}
