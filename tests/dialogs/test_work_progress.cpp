// A run off the GUI thread with its progress on screen: what escapes the run
// ends it as a failure, not the process.
#include "dialogs/work_progress.h"
#include "engine/error_report.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"
#include "platform/ports.h"

#include <QTest>

#include <new>

class WorkProgressTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        plat::SetMessageBoxPort({});
        plat::ClearCancel();
        ReportError(nullptr, QString());
    }

    void whatEscapesARunEndsItAsAFailure();
};

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
