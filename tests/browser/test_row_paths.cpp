// Row paths: Main Memory and card rows with and without "Use storage root",
// the system's limits in bytes, the container extension and its path error.
#include "browser_fixture.h"

#include "app/main_window.h"
#include "browser/row_paths.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "engine/error_report.h"
#include "gui/options.h"

#include <QFocusEvent>

using namespace browser_testing;

class RowPathsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        ResetHome();
        ResetOptions(options_);
    }
    void cleanupTestCase() { ResetHome(); }

    void mainMemoryAndCardRowsWithStorageRootOffAndOn() {
        const plat::StorageCard card = MakeCard(QStringLiteral("SD Card"));
        SetCards({card});
        const QString main = WriteFile(DocumentsFolder() + QStringLiteral("/main.txt"));
        const QString docs = WriteFile(card.root + QStringLiteral("/Documents/docs.txt"));
        const QString root = WriteFile(card.root + QStringLiteral("/root.txt"));
        BrowserView view;
        QCOMPARE(view.RowTexts(), (QStringList{"docs.txt", "main.txt"}));
        QCOMPARE((QStringList{view.PathOf(0), view.PathOf(1)}), (QStringList{docs, main}));

        // As the "Use storage root" command does it.
        options_.Set(ShowRootFolder, true);
        FillFolderSelector(1);
        RefreshFileList();
        QCOMPARE(view.RowTexts(), (QStringList{"main.txt", "root.txt"}));
        QCOMPARE((QStringList{view.PathOf(0), view.PathOf(1)}), (QStringList{main, root}));
    }

    // Counted in bytes, as Linux counts them: a plain name of 126 two-byte
    // letters (252 bytes) leaves no room for ".ksr", and the refusal names it.
    void containerExtensionFitsWhileTheNameHasAtMost251Bytes() {
        testing_ports::ScriptedMessageBoxes boxes;
        const QString folder = QStringLiteral("/home/user/");
        QString path = folder + QString(251, QLatin1Char('p'));
        QVERIFY(AppendContainerExtension(nullptr, &path));
        QCOMPARE(path, folder + QString(251, QLatin1Char('p')) + QStringLiteral(".ksr"));
        QVERIFY(boxes.shown().empty());

        const QString wide = folder + QString(126, QChar(0xE9));
        QString longer = wide;
        QVERIFY(!AppendContainerExtension(nullptr, &longer));
        QCOMPARE(longer, wide);
        QCOMPARE(boxes.captions(), (std::vector<QString>{QStringLiteral("Keshlor Path Error")}));
        QVERIFY(boxes.shown()[0].text.startsWith(ErrorMessage(40, 0) + QLatin1Char('\n')));
        QVERIFY(boxes.shown()[0].text.contains(wide));
    }

    // Deeper than the original platform's 259 units, a row still has its path.
    void aRowOfA300CharacterPathHasItsPath() {
        const QString folder =
            DocumentsFolder() + QLatin1Char('/') + QString(200, QLatin1Char('f'));
        const QString deep =
            WriteFile(folder + QLatin1Char('/') + QString(299 - folder.size(), QLatin1Char('n')));
        QCOMPARE(deep.size(), 300);
        BrowserView view;
        BrowserView::Choose(view.folders(), 2);
        testing_ports::ScriptedMessageBoxes boxes;
        QCOMPARE(view.PathOf(0), deep);
        QString container = deep;
        QVERIFY(AppendContainerExtension(view.view(), &container));
        QVERIFY(boxes.shown().empty());
    }

    // A card inserted or removed while the list stands shifts the selector's
    // positions; the rows still lead to the files they show.
    void rowsKeepTheirPathsWhenARefillShiftsPositions() {
        const plat::StorageCard beta = MakeCard(QStringLiteral("Beta"));
        const plat::StorageCard alpha = MakeCard(QStringLiteral("Alpha"));
        SetCards({beta});
        const QString plan = WriteFile(beta.root + QStringLiteral("/Documents/Trip/plan.txt"));
        BrowserView view;
        view.Choose(view.storages(), 2);
        view.Choose(view.folders(), 2);
        QCOMPARE(view.PathOf(0), plan);

        QFocusEvent focus(QEvent::FocusIn);
        SetCards({alpha, beta});
        QApplication::sendEvent(view.storages(), &focus);
        QApplication::sendEvent(view.folders(), &focus);
        QCOMPARE(view.storages()->currentIndex(), 3);
        QCOMPARE(view.storages()->currentText(), QStringLiteral("Beta"));
        QCOMPARE(view.PathOf(0), plan);

        // The chosen card is gone: All Storage is chosen, the list stays.
        SetCards({alpha});
        QApplication::sendEvent(view.storages(), &focus);
        QCOMPARE(view.storages()->currentIndex(), 0);
        QCOMPARE(view.RowTexts(), QStringList{QStringLiteral("plan.txt")});
        QCOMPARE(view.PathOf(0), plan);
    }

  private:
    testing_ports::OptionValues options_;
};

KESHLOR_GUI_TEST_MAIN(RowPathsTest)
#include "test_row_paths.moc"
