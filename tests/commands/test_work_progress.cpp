// A run off the GUI thread with its progress on screen, at the intervals the
// program uses: the last report gets through, the Cancel it leaves is closed,
// and what escapes the run ends it as a failure, not the process.
#include "commands/work_progress.h"
#include "engine/error_report.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"
#include "platform/ports.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <new>

namespace {

// The progress window a run without a list row shows, once it is up.
QWidget* ProgressWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == QLatin1String("workProgressWindow"))
            return window;
    }
    return nullptr;
}

} // namespace

class WorkProgressTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        plat::SetMessageBoxPort({});
        plat::ClearCancel();
        ReportError(nullptr, QString());
    }

    void theLastReportClosesCancelAtTheRealIntervals();
    void whatEscapesARunEndsItAsAFailure();
};

void WorkProgressTest::theLastReportClosesCancelAtTheRealIntervals() {
    SetProgressTiming({});
    constexpr uint64_t kTotal = 1000;
    bool asked = false;
    bool cancelClosed = false;
    int shown = -1;
    // Asked by the run once its data is complete, while it still runs.
    plat::SetMessageBoxPort([&](plat::WindowHandle, const QString&, const QString&, uint32_t) {
        asked = true;
        QWidget* window = ProgressWindow();
        if (!window)
            return plat::kIdOk;
        auto* bar = window->findChild<QProgressBar*>(QStringLiteral("workProgress"));
        auto* cancel = window->findChild<QToolButton*>(QStringLiteral("cancelWork"));
        shown = bar ? bar->value() : -1;
        cancelClosed = cancel && !cancel->isEnabled();
        QTest::keyClick(window, Qt::Key_Escape);
        if (cancel)
            QTest::mouseClick(cancel, Qt::LeftButton);
        return plat::kIdOk;
    });
    // The run goes on until the bar is up, however long a busy machine takes
    // to show it, and a while after, in reports closer than its interval.
    std::atomic<bool> windowUp = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* window = ProgressWindow(); window && window->isVisible())
            windowUp = true;
    });
    watch.start(10);
    WorkProgress progress(nullptr, nullptr, 0, QStringLiteral("Encrypting big.bin"));
    const int result = progress.Run(
        [&] {
            QElapsedTimer clock;
            clock.start();
            for (uint64_t done = 0; (!windowUp || clock.elapsed() < 700) && clock.elapsed() < 30000;
                 done = std::min(done + 1, kTotal - 2)) {
                plat::ReportProgress(done, kTotal);
                QThread::msleep(2);
            }
            plat::ReportProgress(kTotal - 1, kTotal);
            plat::ReportProgress(kTotal, kTotal);
            plat::MessageBox(nullptr, QStringLiteral("done"), QString(), plat::kMbOk);
            return plat::CancelRequested() ? 1 : 0;
        },
        {2, kEncryptOutOfMemory});
    QVERIFY(asked);
    QCOMPARE(shown, 1000);
    QVERIFY(cancelClosed);
    QCOMPARE(result, 0);
    QVERIFY(!plat::CancelRequested());
}

void WorkProgressTest::whatEscapesARunEndsItAsAFailure() {
    bool portsHeld = false;
    WorkProgress progress(nullptr, nullptr, 0, QStringLiteral("Decrypting big.bin"));
    const int result = progress.Run(
        [&]() -> int {
            portsHeld = plat::PortsReadByRun();
            throw std::bad_alloc();
        },
        {3, kDecryptOutOfMemory});
    QCOMPARE(result, 3);
    QCOMPARE(CurrentPendingError().code, int32_t(kDecryptOutOfMemory));
    QCOMPARE(CurrentPendingError().lastError, plat::kErrorNotEnoughMemory);
    QVERIFY(portsHeld);
    QVERIFY(!plat::PortsReadByRun());
}

QTEST_MAIN(WorkProgressTest)
#include "test_work_progress.moc"
