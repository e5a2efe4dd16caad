// The view's handling of the list: clicks, double-clicks and taps, Enter,
// Delete and F2, the context menu with the tap it swallows, and a list that
// follows the disk and says why it is empty.
#include "browser_fixture.h"

#include "app/main_window.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "browser/view_input.h"
#include "gui/file_dialogs.h"
#include "gui/popup_menu_port.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QProcess>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleHints>
#include <QTimer>

using namespace browser_testing;

namespace {

// The desktop's setting for activating rows, as a desktop that prefers single
// clicks sets it in its style.
class ActivationStyle : public QProxyStyle {
  public:
    explicit ActivationStyle(bool singleClick)
        : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))), singleClick_(singleClick) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override {
        if (hint == SH_ItemView_ActivateItemOnSingleClick)
            return singleClick_ ? 1 : 0;
        return QProxyStyle::styleHint(hint, option, widget, answer);
    }

  private:
    bool singleClick_;
};

} // namespace

class ViewInputTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        ResetHome();
        ResetOptions(options_);
        WriteFile(DocumentsFolder() + QStringLiteral("/first.txt"));
        WriteFile(DocumentsFolder() + QStringLiteral("/second.txt.ksr"));
        view_ = std::make_unique<BrowserView>();
        QVERIFY(view_->Show());
        list_ = view_->list();
        activated_ = std::make_unique<QSignalSpy>(view_->handler(), &ViewInput::rowActivated);
        menus_ = std::make_unique<QSignalSpy>(view_->handler(), &ViewInput::contextMenuOpened);
        // Every menu is dismissed at once.
        SetPopupMenuPort([](QWidget*, const QList<PopupItem>&, const QPoint&) { return 0; });
        // A tap encrypts or decrypts the row: each password dialog is cancelled.
        connect(&cancelDialogs_, &QTimer::timeout, [] {
            if (QWidget* open = QApplication::activeModalWidget())
                open->close();
        });
        cancelDialogs_.start(10);
    }
    void cleanup() {
        cancelDialogs_.disconnect();
        cancelDialogs_.stop();
        SetPopupMenuPort({});
        activated_.reset();
        menus_.reset();
        view_.reset();
    }
    void cleanupTestCase() { ResetHome(); }

    void clicksActAsTheDesktopSaysAndATapAlways_data() {
        QTest::addColumn<bool>("singleClick");
        QTest::newRow("double-click desktop") << false;
        QTest::newRow("single-click desktop") << true;
    }
    void clicksActAsTheDesktopSaysAndATapAlways() {
        QFETCH(bool, singleClick);
        ActivationStyle style(singleClick);
        list_->setStyle(&style);
        const auto restore = qScopeGuard([this] { list_->setStyle(nullptr); });
        QWidget* viewport = list_->viewport();

        QTest::mouseClick(viewport, Qt::LeftButton, {}, Centre(1));
        QVERIFY(list_->topLevelItem(1)->isSelected());
        QCOMPARE(Activated(), singleClick ? QList<int>{1} : QList<int>{});
        activated_->clear();
        if (singleClick) {
            DoubleClick(viewport, Centre(0));
        } else {
            // The second press acts; its release goes to the dialog that
            // opens, and the hold it began must not open a menu meanwhile.
            QTest::mouseClick(viewport, Qt::LeftButton, {}, Centre(0));
            QTest::mouseDClick(viewport, Qt::LeftButton, {}, Centre(0));
            QTest::qWait(QGuiApplication::styleHints()->mousePressAndHoldInterval() + 200);
            QCOMPARE(menus_->count(), 0);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, Centre(0));
        }
        QVERIFY(list_->topLevelItem(0)->isSelected());
        QCOMPARE(Activated(), QList<int>{0});
        activated_->clear();

        // A finger's tap acts on either desktop; one on no row does nothing.
        static QPointingDevice* const screen = QTest::createTouchDevice();
        for (const QPoint& at : {Centre(1), Below()}) {
            QTest::touchEvent(viewport, screen).press(0, at, viewport);
            QTest::touchEvent(viewport, screen).release(0, at, viewport);
        }
        QCOMPARE(Activated(), QList<int>{1});
        QTest::mouseClick(viewport, Qt::LeftButton, {}, Below());
        QCOMPARE(Activated(), QList<int>{1});
    }

    void enterActivatesTheSelectedRow() {
        list_->setFocus();
        list_->clearSelection();
        QTest::keyClick(list_, Qt::Key_Return);
        QCOMPARE(activated_->count(), 0);
        list_->setCurrentItem(list_->topLevelItem(0));
        QTest::keyClick(list_, Qt::Key_Return);
        QTest::keyClick(list_, Qt::Key_Enter);
        QCOMPARE(Activated(), (QList<int>{0, 0}));
    }

    // The focus frame sits on the first row from the start; Enter acts on it
    // without an arrow key first.
    void enterAtStartActsOnTheFirstRow() {
        view_->view()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view_->view()));
        QCOMPARE(QApplication::focusWidget(), list_);
        QTest::keyClick(list_, Qt::Key_Return);
        QCOMPARE(Activated(), (QList<int>{0}));
    }

    // The context menu's "Delete" and "Move / Rename", on the selected row.
    void deleteAndF2ReachTheirCommands() {
        testing_ports::ScriptedMessageBoxes boxes;
        boxes.Answer(plat::kIdNo);
        QString dialogTitle;
        SetFileDialogPort([&](QWidget*, const FileDialogRequest& request, QString*) {
            dialogTitle = request.title;
            return false;
        });
        list_->setFocus();
        list_->setCurrentItem(list_->topLevelItem(1));
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(boxes.captions(), std::vector<QString>{QStringLiteral("OK to delete file?")});
        QCOMPARE(boxes.shown()[0].text, view_->PathOf(1));
        QTest::keyClick(list_, Qt::Key_F2);
        SetFileDialogPort({});
        QCOMPARE(dialogTitle, QStringLiteral("Move / Rename"));
        QCOMPARE(view_->RowTexts(), (QStringList{"first.txt", "second.txt"}));
        QCOMPARE(activated_->count(), 0);
    }

    void tapEndingATapAndHoldIsSwallowedAndTheNextOneActs() {
        QTest::mousePress(list_->viewport(), Qt::LeftButton, {}, Centre(0));
        QTest::qWait(QGuiApplication::styleHints()->mousePressAndHoldInterval() + 200);
        QCOMPARE(Menus(), (QList<int>{0}));
        QTest::mouseRelease(list_->viewport(), Qt::LeftButton, {}, Centre(0));
        QCOMPARE(activated_->count(), 0);
        DoubleClick(list_->viewport(), Centre(0));
        QCOMPARE(Activated(), (QList<int>{0}));
    }

    // With a mouse the menu comes from the right button (or the menu key),
    // and the next left click is a tap of its own.
    void rightClickAndMenuKeyOpenTheMenuWithoutEatingTheNextTap() {
        QContextMenuEvent click(QContextMenuEvent::Mouse, Centre(1),
                                list_->viewport()->mapToGlobal(Centre(1)));
        QApplication::sendEvent(list_->viewport(), &click);
        DoubleClick(list_->viewport(), Centre(1));
        QCOMPARE(Activated(), (QList<int>{1}));

        list_->setCurrentItem(list_->topLevelItem(0));
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(list_, &key);
        QContextMenuEvent nowhere(QContextMenuEvent::Mouse, Below(),
                                  list_->viewport()->mapToGlobal(Below()));
        QApplication::sendEvent(list_->viewport(), &nowhere);
        QCOMPARE(Menus(), (QList<int>{1, 0}));
    }

    // Another program's new file shows without Ctrl+R; the selection stays
    // on its file, whose row moves down.
    void aFileMadeElsewhereAppearsAndTheSelectionStays() {
        list_->setCurrentItem(list_->topLevelItem(1));
        QCOMPARE(QProcess::execute(QStringLiteral("touch"),
                                   {DocumentsFolder() + QStringLiteral("/another.txt")}),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(view_->RowTexts(),
                                  (QStringList{"another.txt", "first.txt", "second.txt"}), 5000);
        QCOMPARE(list_->selectedItems(), QList<QTreeWidgetItem*>{list_->topLevelItem(2)});
    }

    void anEmptyListSaysWhyInItsViewport() {
        QVERIFY(QFile::remove(DocumentsFolder() + QStringLiteral("/first.txt")));
        QVERIFY(QFile::remove(DocumentsFolder() + QStringLiteral("/second.txt.ksr")));
        RefreshFileList();
        auto* files = qobject_cast<FileListView*>(list_);
        QVERIFY(files);
        QCOMPARE(files->emptyText(), QStringLiteral("No files in this folder"));
        const QImage said = list_->viewport()->grab().toImage();
        files->setEmptyText(QString());
        QVERIFY(list_->viewport()->grab().toImage() != said);

        QVERIFY(QDir(DocumentsFolder()).removeRecursively());
        RefreshFileList();
        QCOMPARE(files->emptyText(),
                 QStringLiteral("The documents folder does not exist:\n") + DocumentsFolder());
    }

  private:
    QTimer cancelDialogs_;
    QPoint Centre(int row) const {
        return list_->visualItemRect(list_->topLevelItem(row)).center();
    }
    QPoint Below() const { return QPoint(10, list_->viewport()->height() - 5); }
    static QList<int> Rows(const QSignalSpy& spy) {
        QList<int> rows;
        for (const QList<QVariant>& call : spy)
            rows << call.at(0).toInt();
        return rows;
    }
    QList<int> Activated() const { return Rows(*activated_); }
    QList<int> Menus() const { return Rows(*menus_); }

    testing_ports::OptionValues options_;
    std::unique_ptr<BrowserView> view_;
    QTreeWidget* list_ = nullptr;
    std::unique_ptr<QSignalSpy> activated_;
    std::unique_ptr<QSignalSpy> menus_;
};

KESHLOR_GUI_TEST_MAIN(ViewInputTest)
#include "test_view_input.moc"
