// Row paths: Main Memory and card rows with and without "Use storage root",
// the 259-unit limit, the container extension, and the two path errors.
#include "browser_fixture.h"

#include "app/main_window.h"
#include "browser/browser_operations.h"
#include "browser/row_paths.h"
#include "browser/view_area.h"
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

    void containerExtensionFitsOnlyUpTo255Units() {
        testing_ports::ScriptedMessageBoxes boxes;
        QString path(255, QLatin1Char('p'));
        QVERIFY(AppendContainerExtension(nullptr, &path));
        QCOMPARE(path, QString(255, QLatin1Char('p')) + QStringLiteral(".ksr"));
        QVERIFY(boxes.shown().empty());

        QString longer(256, QLatin1Char('p'));
        QVERIFY(!AppendContainerExtension(nullptr, &longer));
        QCOMPARE(longer, QString(256, QLatin1Char('p')));
        QCOMPARE(boxes.captions(), (std::vector<QString>{QStringLiteral("Keshlor Path Error")}));
        QCOMPARE(boxes.shown()[0].text, ErrorMessage(40, 0));
    }

    // Cut short to fit, the name would lead to another file.
    void aNameThatWouldOverflowThePathFailsInsteadOfBeingCut() {
        const int room = 259 - DocumentsFolder().size() - 1;
        WriteFile(DocumentsFolder() + QLatin1Char('/') + QString(room, QLatin1Char('a')));
        WriteFile(DocumentsFolder() + QLatin1Char('/') + QString(room + 1, QLatin1Char('b')));
        BrowserView view;
        testing_ports::ScriptedMessageBoxes boxes;
        QCOMPARE(view.PathOf(0).size(), 259);
        QString untouched = QStringLiteral("untouched");
        QVERIFY(!BuildItemPath(view.view(), 1, &untouched));
        QCOMPARE(untouched, QStringLiteral("untouched"));
        QCOMPARE(boxes.captions(), (std::vector<QString>{QStringLiteral("Path Error")}));
        QCOMPARE(boxes.shown()[0].text, ErrorMessage(39, 0));
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
