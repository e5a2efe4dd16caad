// The main window: its command bar and drop-downs, accelerators and the
// dispatcher, the safety line, the close paths (also during a run) and the
// remembered geometry, a second copy's file during a run, the command line,
// the About box, help, the view's layout and keyboard use, the message box it
// shows for the engine, and names for screen readers.
#include "gui_test_support.h"

#include "app/about_box.h"
#include "app/command_ids.h"
#include "app/help_window.h"
#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/safety_line.h"
#include "app/startup.h"
#include "browser/view_area.h"
#include "commands/file_commands.h"
#include "commands/password_dialogs.h"
#include "gui/gui_ports.h"
#include "gui/options.h"
#include "platform/documents_path.h"
#include "platform/instance_channel.h"
#include "platform/path_limits.h"
#include "platform/storage_cards.h"
#include "port_doubles.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace {

QToolButton* Button(MainWindow* window, const char* name) {
    return window->findChild<QToolButton*>(QLatin1String(name));
}

QMenu* Menu(MainWindow* window, const char* name) {
    return window->findChild<QMenu*>(QLatin1String(name));
}

// "text=id" per item, "-" per separator.
QStringList Items(const QMenu* menu) {
    QStringList items;
    for (const QAction* action : menu->actions()) {
        items << (action->isSeparator()
                      ? QStringLiteral("-")
                      : action->text() + QLatin1Char('=') + action->data().toString());
    }
    return items;
}

QAction* ActionFor(MainWindow* window, int command) {
    for (QAction* action : window->actions()) {
        if (action->data().toInt() == command)
            return action;
    }
    return nullptr;
}

bool IsOption(int command) {
    return std::any_of(kOptionLoadOrder.begin(), kOptionLoadOrder.end(),
                       [command](const OptionValue& option) { return option.id == command; });
}

int LastCommand(const QSignalSpy& spy) {
    return spy.isEmpty() ? 0 : spy.last().at(0).toInt();
}

// Closes the About box with its OK button.
void PressOk(QWidget* dialog) {
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    QVERIFY(buttons);
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

QString InHome(const QString& path) {
    return QDir::homePath() + QLatin1Char('/') + path;
}

// An empty file, with its folders.
void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

QStringList Entries(const QComboBox* selector) {
    QStringList entries;
    for (int position = 0; position < selector->count(); ++position)
        entries << selector->itemText(position);
    return entries;
}

QStringList Rows(const QTreeWidget* list) {
    QStringList rows;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        rows << list->topLevelItem(row)->text(0);
    return rows;
}

// Parts of the accessibility tree below `parent` that take the focus or act
// when used, but have no name a screen reader could say; "role at path" each.
void CollectUnnamed(QAccessibleInterface* parent, const QString& path, QStringList* unnamed) {
    using A = QAccessible;
    static const QList<A::Role> kInteractive{
        A::PushButton, A::CheckBox,       A::ComboBox,     A::EditableText,
        A::ButtonMenu, A::ButtonDropDown, A::MenuItem,     A::Link,
        A::Tree,       A::Cell,           A::ColumnHeader, A::ScrollBar,
        A::Dialog,     A::Window,         A::PopupMenu,    A::ToolBar};
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        if (!child || child->state().invisible)
            continue;
        const QString at = path + QLatin1Char('/') + QString::number(i);
        const bool acts = child->state().focusable || kInteractive.contains(child->role());
        if (acts && child->text(QAccessible::Name).trimmed().isEmpty()) {
            const QObject* object = child->object();
            *unnamed << QStringLiteral("role %1 at %2 (%3)")
                            .arg(int(child->role()))
                            .arg(at, object ? object->objectName() : QString());
        }
        CollectUnnamed(child, at, unnamed);
    }
}

QStringList UnnamedControls(QWidget* window) {
    QStringList unnamed;
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    if (!root)
        return {QStringLiteral("no interface for ") + window->objectName()};
    if (root->text(QAccessible::Name).isEmpty())
        unnamed << QStringLiteral("the window ") + window->objectName();
    CollectUnnamed(root, window->objectName(), &unnamed);
    return unnamed;
}

// The storage cards the system reports while this lives.
class InjectedCards {
  public:
    explicit InjectedCards(const QList<plat::StorageCard>& cards) {
        plat::SetStorageCardEnumerator([cards] { return cards; });
    }
    ~InjectedCards() { plat::SetStorageCardEnumerator({}); }
    InjectedCards(const InjectedCards&) = delete;
    InjectedCards& operator=(const InjectedCards&) = delete;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { InstallOptionPort(); }
    void init() { RemoveStore(); }
    void cleanup() {
        QDir(InHome(QStringLiteral("cards"))).removeRecursively();
        QDir(InHome(QStringLiteral("Documents"))).removeRecursively();
        QDir().mkpath(InHome(QStringLiteral("Documents")));
    }

    // --- identity, command bar, drop-downs ---

    void windowIsKnownByItsNameAndTitle() {
        ScopedMainWindow window;
        QCOMPARE(window->windowTitle(), QStringLiteral("Keshlor"));
        QCOMPARE(window->objectName(), QStringLiteral("KESHLOR"));
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(g_mainWindow.data(), window.get());
        QVERIFY(window->view());
        QCOMPARE(g_view.data(), window->view());
        for (const QWidget* control :
             window->view()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    }

    void commandBarHasFiveButtonsInOrderWithTheirTooltips() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QToolBar* bar = window->commandBar();
        QCOMPARE(window->toolBarArea(bar), Qt::BottomToolBarArea);
        QList<QToolButton*> buttons =
            bar->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly);
        buttons.erase(std::remove_if(buttons.begin(), buttons.end(),
                                     [](QToolButton* b) { return !b->isVisible(); }),
                      buttons.end());
        std::sort(buttons.begin(), buttons.end(),
                  [](QToolButton* a, QToolButton* b) { return a->x() < b->x(); });
        QStringList names, tips, accessible;
        for (QToolButton* button : buttons) {
            names << button->objectName();
            tips << button->toolTip();
            accessible << button->accessibleName();
            QVERIFY(button->isEnabled());
        }
        QCOMPARE(names, (QStringList{"exitButton", "fileButton", "optionsButton", "refreshButton",
                                     "aboutButton"}));
        QCOMPARE(tips, (QStringList{"Exit Keshlor", "File operations", "Keshlor Options",
                                    "Refresh file list", "About Keshlor"}));
        QCOMPARE(accessible, (QStringList{"Exit", "File", "Options", "Refresh", "About"}));

        for (const char* name : {"exitButton", "refreshButton", "aboutButton"}) {
            const QIcon icon = Button(window.get(), name)->icon();
            QVERIFY2(!icon.pixmap(16, 16).isNull(), name);
        }
        QCOMPARE(Button(window.get(), "fileButton")->menu(), Menu(window.get(), "fileMenu"));
        QCOMPARE(Button(window.get(), "optionsButton")->menu(), Menu(window.get(), "optionsMenu"));
    }

    void fileDropDownHoldsTheBatchCommands() {
        ScopedMainWindow window;
        QCOMPARE(Items(Menu(window.get(), "fileMenu")),
                 (QStringList{"Browse for file=40067", "-", "Encrypt all=40058",
                              "Encrypt all hidden=40059", "Encrypt all visible=40062", "-",
                              "Decrypt all=40060", "Decrypt all hidden=40061",
                              "Decrypt all visible=40063"}));
    }

    void optionsDropDownIsCheckedThroughoutBeforeLoading() {
        MainWindow bare;
        CreateAppMenuBar(&bare);
        QMenu* menu = Menu(&bare, "optionsMenu");
        QCOMPARE(g_menuOptions.data(), menu);
        QCOMPARE(Items(menu),
                 (QStringList{"Show size=40042", "Show date=40041", "Use storage root=40030",
                              "Remember folder=40029", "-", "High encryption=40047",
                              "Fast compression=40028", "Hide encrypted files=40046",
                              "Wipe after encryption=40048"}));
        for (const QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            QVERIFY(action->isCheckable());
            QVERIFY2(action->isChecked(), qPrintable(action->text()));
        }
    }

    // --- accelerators and the dispatcher ---

    void everyAcceleratorReachesTheCommandOfItsMenuItem() {
        testing_ports::ScriptedMessageBoxes boxes;
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QSignalSpy commands(window.get(), &MainWindow::commandReceived);
        // Focus in the list, then in a selector: accelerators work either way.
        QWidget* focusAt[] = {window->view()->fileList(), window->view()->storageSelector()};
        for (const Accelerator& accelerator : kAccelerators) {
            if (accelerator.command == CmdExit)
                continue; // closes the window; see the close paths
            for (QWidget* focus : focusAt) {
                // The About box of the previous round took the activation.
                QVERIFY(window.ShowActive());
                focus->setFocus();
                const int before = IsOptionChecked(accelerator.command);
                std::unique_ptr<ModalDriver> about;
                if (accelerator.command == CmdAbout)
                    about = std::make_unique<ModalDriver>(PressOk);
                QTest::keyClick(focus, accelerator.key, Qt::ControlModifier);
                QCOMPARE(LastCommand(commands), int(accelerator.command));
                if (about)
                    QVERIFY(WaitUntil([&] { return about->acted() && !window->aboutBox(); }));
                if (IsOption(accelerator.command)) // flipped exactly once
                    QCOMPARE(IsOptionChecked(accelerator.command), 1 - before);

                commands.clear();
                QAction* item = ActionFor(window.get(), accelerator.command);
                QVERIFY(item);
                QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | accelerator.key));
                if (accelerator.command == CmdAbout)
                    about = std::make_unique<ModalDriver>(PressOk);
                item->trigger();
                QCOMPARE(LastCommand(commands), int(accelerator.command));
                if (IsOption(accelerator.command))
                    QCOMPARE(IsOptionChecked(accelerator.command), before);
                commands.clear();
            }
        }
        QVERIFY(window->isVisible());
        QVERIFY(boxes.shown().empty());
    }

    void clickingAnOptionInTheOpenDropDownTogglesItOnce() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QSignalSpy commands(window.get(), &MainWindow::commandReceived);
        QMenu* options = Menu(window.get(), "optionsMenu");
        QAction* wipe = ActionFor(window.get(), WipePlainFiles);
        ModalDriver driver([options, wipe](QWidget* popup) {
            QCOMPARE(popup, options);
            QTest::mouseClick(options, Qt::LeftButton, {}, options->actionGeometry(wipe).center());
        });
        QTest::mouseClick(Button(window.get(), "optionsButton"), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return driver.acted() && !options->isVisible(); }));
        QVERIFY(!driver.timedOut());
        QCOMPARE(IsOptionChecked(WipePlainFiles), 0);
        QCOMPARE(LastCommand(commands), int(WipePlainFiles));
    }

    void altLetterOpensTheDropDowns() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        window->view()->fileList()->setFocus();
        QMenu* file = Menu(window.get(), "fileMenu");
        QWidget* seen = nullptr;
        ModalDriver driver([&seen](QWidget* popup) {
            seen = popup;
            popup->close();
        });
        QTest::keyClick(window->view()->fileList(), Qt::Key_F, Qt::AltModifier);
        QVERIFY(WaitUntil([&] { return driver.acted(); }));
        QCOMPARE(seen, file);
    }

    void acceleratorsDoNothingInsideAModalDialog() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QSignalSpy commands(window.get(), &MainWindow::commandReceived);
        ModalDriver driver([](QWidget* dialog) {
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QTest::keyClick(dialog, Qt::Key_D, Qt::ControlModifier);
            QTest::keyClick(dialog, Qt::Key_Q, Qt::ControlModifier);
            PressOk(dialog);
        });
        window->DispatchCommand(CmdAbout);
        QVERIFY(driver.acted());
        QVERIFY(!driver.timedOut());
        QCOMPARE(commands.count(), 1);
        QCOMPARE(IsOptionChecked(ShowDate), 1);
        QTest::qWait(50);
        QVERIFY(!window->hasClosed());
    }

    // The line under the bar shows at once what new containers get; an
    // accelerator that takes a protection away says so, which nothing else
    // on screen would.
    void safetyLineFollowsItsOptionsAndNoticesWhatTheirKeysWeaken() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        const QLabel* line = window->findChild<QLabel*>(QStringLiteral("safetyLine"));
        QStatusBar* bar = window->statusBar();
        QVERIFY(line && line->isVisible());
        QCOMPARE(line->text(), QStringLiteral("High encryption \u00b7 wipe on"));
        QTreeWidget* list = window->view()->fileList();
        list->setFocus();

        QTest::keyClick(list, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(line->text(), QStringLiteral("Low encryption (40-bit) \u00b7 wipe on"));
        QTRY_COMPARE(bar->currentMessage(), QStringLiteral("High encryption switched off"));
        QTest::keyClick(list, Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(line->text(), QStringLiteral("Low encryption (40-bit) \u00b7 wipe off"));
        QTRY_COMPARE(bar->currentMessage(), QStringLiteral("Wipe after encryption switched off"));
        QVERIFY(line->isVisible());

        // Switching back on weakens nothing; the menu shows its own change.
        bar->clearMessage();
        QTest::keyClick(list, Qt::Key_H, Qt::ControlModifier);
        ActionFor(window.get(), WipePlainFiles)->trigger();
        ActionFor(window.get(), WipePlainFiles)->trigger();
        QCOMPARE(line->text(), QStringLiteral("High encryption \u00b7 wipe off"));
        QCoreApplication::processEvents();
        QVERIFY(bar->currentMessage().isEmpty());
        QCOMPARE(SafetyLineText(), line->text());
    }

    // --- what the view commands show ---

    void refreshListsWhatCameMeanwhile() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        ViewArea* view = window->view();
        QTreeWidget* list = view->fileList();
        list->setFocus();
        Touch(InHome(QStringLiteral("Documents/late.txt")));
        QVERIFY(QDir().mkpath(InHome(QStringLiteral("Documents/late folder"))));
        const InjectedCards cards({{QStringLiteral("Late"), InHome(QStringLiteral("cards/Late"))}});
        QVERIFY(!Rows(list).contains(QStringLiteral("late.txt")));

        QTest::keyClick(list, Qt::Key_R, Qt::ControlModifier);
        QVERIFY(Entries(view->storageSelector()).contains(QStringLiteral("Late")));
        QVERIFY(Entries(view->folderSelector()).contains(QStringLiteral("late folder")));
        QVERIFY(Rows(list).contains(QStringLiteral("late.txt")));

        // F5, the desktop's key, does the same.
        Touch(InHome(QStringLiteral("Documents/later.txt")));
        QTest::keyClick(list, Qt::Key_F5);
        QVERIFY(Rows(list).contains(QStringLiteral("later.txt")));
    }

    void useStorageRootSwitchesACardBetweenItsRootAndItsDocuments() {
        const QString root = InHome(QStringLiteral("cards/Card"));
        Touch(root + QStringLiteral("/atRoot/a.txt"));
        Touch(root + QStringLiteral("/atRoot.txt"));
        Touch(root + QStringLiteral("/Documents/inDocuments/d.txt"));
        Touch(root + QStringLiteral("/Documents/inDocuments.txt"));
        const InjectedCards cards({{QStringLiteral("Card"), root}});
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        ViewArea* view = window->view();
        QTreeWidget* list = view->fileList();
        list->setFocus();
        bool atRoot = IsOptionChecked(ShowRootFolder) != 0;
        for (int round = 0; round < 3; ++round) {
            if (round > 0) {
                QTest::keyClick(list, Qt::Key_S, Qt::ControlModifier);
                atRoot = !atRoot;
                QCOMPARE(IsOptionChecked(ShowRootFolder), int(atRoot));
            }
            const QStringList folders = Entries(view->folderSelector());
            QCOMPARE(folders.contains(QStringLiteral("atRoot")), atRoot);
            QCOMPARE(folders.contains(QStringLiteral("inDocuments")), !atRoot);
            QCOMPARE(Rows(list).contains(QStringLiteral("atRoot.txt")), atRoot);
            QCOMPARE(Rows(list).contains(QStringLiteral("inDocuments.txt")), !atRoot);
        }
    }

    void showDateAndShowSizeShowAndHideTheirColumns() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QTreeWidget* list = window->view()->fileList();
        list->setFocus();
        const struct {
            Qt::Key key;
            uint16_t option;
            int column;
        } toggles[] = {{Qt::Key_D, ShowDate, 1}, {Qt::Key_Z, ShowSize, 2}};
        for (const auto& toggle : toggles) {
            for (int round = 0; round < 2; ++round) {
                QTest::keyClick(list, toggle.key, Qt::ControlModifier);
                const bool shown = IsOptionChecked(toggle.option) != 0;
                QCOMPARE(list->columnWidth(toggle.column) > 0, shown);
                // The name takes whatever room the other columns leave.
                QCOMPARE(list->columnWidth(0) + list->columnWidth(1) + list->columnWidth(2),
                         list->viewport()->width());
            }
        }
    }

    // --- About ---

    void aboutBoxShowsItsLineAndClosesOnOk() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QString title, text;
        bool iconShown = false;
        ModalDriver driver([&](QWidget* dialog) {
            title = dialog->windowTitle();
            text = dialog->findChild<QLabel*>(QStringLiteral("aboutText"))->text();
            const QLabel* icon = dialog->findChild<QLabel*>(QStringLiteral("aboutIcon"));
            iconShown = icon && !icon->pixmap().isNull() && icon->isVisible();
            QCOMPARE(window->aboutBox(), dialog);
            PressOk(dialog);
        });
        QTest::mouseClick(Button(window.get(), "aboutButton"), Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return driver.acted() && !window->aboutBox(); }));
        QVERIFY(!driver.timedOut());
        QCOMPARE(title, QStringLiteral("About Keshlor"));
        QCOMPARE(text, QStringLiteral("TQ Keshlor v2.13"));
        QVERIFY(iconShown);
    }

    // --- close paths and the command line ---

    void closePathsSaveTheOptions_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("exit button") << QStringLiteral("exit button");
        QTest::newRow("ctrl+q") << QStringLiteral("ctrl+q");
        QTest::newRow("window close button") << QStringLiteral("window close");
        QTest::newRow("request from outside") << QStringLiteral("outside");
    }
    void closePathsSaveTheOptions() {
        QFETCH(QString, path);
        InstanceChannel channel(InstanceChannelName() + "-close");
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QPointer<MainWindow> window = CreateMainWindow({}, nullptr, &channel);
        QVERIFY(window);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        window->DispatchCommand(ShowDate);
        QSignalSpy closed(window.data(), &MainWindow::closed);

        std::atomic<bool> answered{false};
        InstanceReply reply = InstanceReply::NoAnswer;
        std::thread requester;
        struct Joiner {
            std::thread& thread;
            ~Joiner() {
                if (thread.joinable())
                    thread.join();
            }
        } joiner{requester};
        if (path == QLatin1String("exit button")) {
            QTest::mouseClick(Button(window, "exitButton"), Qt::LeftButton);
        } else if (path == QLatin1String("ctrl+q")) {
            QTest::keyClick(window->view()->fileList(), Qt::Key_Q, Qt::ControlModifier);
        } else if (path == QLatin1String("window close")) {
            window->windowHandle()->close();
        } else {
            requester = std::thread([&] {
                reply = SendInstanceRequest(InstanceChannelName() + "-close", kCloseRequest, 5000);
                answered = true;
            });
        }
        QVERIFY(WaitUntil([&] { return window->hasClosed(); }));
        QCOMPARE(closed.count(), 1);
        QVERIFY(!window->isVisible());
        QCOMPARE(StoredValue(QStringLiteral("ShowDate")).toString(), QStringLiteral("0"));
        for (const OptionValue& option : kOptionLoadOrder)
            QVERIFY(StoreHas(QLatin1String(option.valueName)));

        // A close request is answered once the window is gone.
        QVERIFY(!answered);
        delete window.data();
        if (requester.joinable()) {
            QVERIFY(WaitUntil([&] { return answered.load(); }));
            requester.join();
            QCOMPARE(reply, InstanceReply::Done);
        }
    }

    void windowKeepsItsPlaceAndFirstTakesAShareOfTheScreen() {
        QCOMPARE(DefaultWindowSize(QSize(2560, 1400)), QSize(1024, 980));
        QCOMPARE(DefaultWindowSize(QSize(1024, 700)), QSize(480, 640));
        QCOMPARE(DefaultWindowSize(QSize(800, 600)), QSize(480, 600));
        const QRect placed(120, 40, 520, 500);
        {
            ScopedMainWindow window;
            FitMainWindow(window.get());
            QCOMPARE(window->size(),
                     DefaultWindowSize(window->screen()->availableGeometry().size()));
            window->show();
            window->setGeometry(placed);
            window->close();
            QVERIFY(window->hasClosed());
        }
        ScopedMainWindow window;
        FitMainWindow(window.get());
        window->show();
        QCOMPARE(window->geometry(), placed);
    }

    void destroyingTheWindowOtherwiseSavesNothing() {
        {
            ScopedMainWindow window;
            window->DispatchCommand(ShowSize);
        }
        QVERIFY(!StoreHas(QStringLiteral("ShowSize")));
    }

    void outsideCloseDismissesAnOpenDialogFirst() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        ModalDriver driver([&window](QWidget*) { window->CloseFromOutside(); });
        window->DispatchCommand(CmdAbout);
        QVERIFY(driver.acted());
        QVERIFY(!driver.timedOut());
        QVERIFY(!window->aboutBox());
        QVERIFY(window->hasClosed());
        QVERIFY(StoreHas(QStringLiteral("ShowDate")));
    }

    void aRunShutsOutAcceleratorsAndACloseCancelsIt() {
        const QByteArray content = RandomBytes(1 << 20);
        const QString documents = plat::QueryDocumentsPath();
        const QString big = documents + QStringLiteral("/big.bin");
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QTreeWidget* list = window->view()->fileList();
        const QList<QTreeWidgetItem*> rows =
            list->findItems(QStringLiteral("big.bin"), Qt::MatchExactly);
        QCOMPARE(rows.size(), 1);
        QSignalSpy closed(window.get(), &MainWindow::closed);

        bool active = false;
        bool helpShown = true;
        RunMidway midway([&] {
            // Shortcuts need an active window; offscreen gives none back when
            // the password dialog closes. No user input is let through here.
            window->activateWindow();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            active = QApplication::activeWindow() == window.get();
            QTest::keyClick(list, Qt::Key_F1);
            helpShown = HelpBrowser() && HelpBrowser()->window()->isVisible();
            window->CloseFromOutside();
        });
        ModalDriver driver([](QWidget* dialog) {
            for (const char* name : {"password", "confirmation"})
                QTest::keyClicks(dialog->findChild<QLineEdit*>(QLatin1String(name)), "pw");
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("encrypt")),
                              Qt::LeftButton);
        });
        list->setCurrentItem(rows[0]);
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(driver.acted());
        QVERIFY(midway.acted());
        QVERIFY(active);
        QVERIFY(!helpShown);
        QVERIFY(window->hasClosed());
        QCOMPARE(closed.count(), 1);
        QVERIFY(StoreHas(QStringLiteral("ShowDate")));
        // The run stopped as its Cancel stops it.
        QFile kept(big);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        QCOMPARE(QDir(documents).entryList({QStringLiteral("*.ksr"), QStringLiteral(".keshlor-*")},
                                           QDir::Files | QDir::Hidden),
                 QStringList());
        QFile::remove(big);
    }

    // A second copy's file that comes while a run is going waits in the queue
    // for the run's command to end, and is then opened in turn.
    void aFileHandedOverDuringARunWaitsForIt() {
        const QString documents = plat::QueryDocumentsPath();
        const QString big = documents + QStringLiteral("/big.bin");
        const QString handed = documents + QStringLiteral("/handed.txt");
        for (const auto& [path, content] :
             {std::pair{big, RandomBytes(1 << 20)}, std::pair{handed, QByteArray("handed")}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QTreeWidget* list = window->view()->fileList();
        const QList<QTreeWidgetItem*> rows =
            list->findItems(QStringLiteral("big.bin"), Qt::MatchExactly);
        QCOMPARE(rows.size(), 1);

        const auto encrypt = [](QWidget* dialog) {
            for (const char* name : {"password", "confirmation"}) {
                auto* field = dialog->findChild<QLineEdit*>(QLatin1String(name));
                if (!field)
                    return;
                field->clear();
                QTest::keyClicks(field, "pw");
            }
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("encrypt")),
                              Qt::LeftButton);
        };
        bool taken = false;
        bool running = false;
        std::unique_ptr<ModalDriver> next;
        RunMidway midway([&] {
            taken = window->TakeHandedOverFiles({handed});
            // The window looks for a moment to open it every 100 ms.
            QTest::qWait(500);
            running = IsCommandRunning();
            next = std::make_unique<ModalDriver>(encrypt, 10000);
        });
        ModalDriver driver(encrypt);
        list->setCurrentItem(rows[0]);
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(driver.acted());
        QVERIFY(midway.acted());
        QVERIFY(taken);
        QVERIFY(running);
        QVERIFY(QFile::exists(big + QStringLiteral(".ksr")));
        QVERIFY(WaitUntil([&] { return next->acted() && !IsCommandRunning(); }, 10000));
        QVERIFY(!next->timedOut());
        QVERIFY(QFile::exists(handed + QStringLiteral(".ksr")));
        for (const QString& path : {big, handed}) {
            QFile::remove(path);
            QFile::remove(path + QStringLiteral(".ksr"));
        }
    }

    void commandLineFileIsHandledWithStoredOptionsAndNothingSaved() {
        WriteStoreValue(QStringLiteral("ShowDate"), 0);
        QString given;
        QWidget* owner = nullptr;
        int showDateThen = -1;
        QPointer<MainWindow> created = CreateMainWindow(
            {QStringLiteral("/home/me/notes.txt")}, [&](QWidget* window, const QString& path) {
                given = path;
                owner = window;
                showDateThen = IsOptionChecked(ShowDate);
                // Changed during the run; must not reach the store.
                ToggleOption(FastCompression);
                return true;
            });
        QVERIFY(!created);
        QCOMPARE(given, QStringLiteral("/home/me/notes.txt"));
        QVERIFY(owner);
        QCOMPARE(showDateThen, 0);
        QVERIFY(!StoreHas(QStringLiteral("FastCompression")));
        QCOMPARE(StoredValue(QStringLiteral("ShowDate")).toString(), QStringLiteral("0"));
    }

    void declinedCommandLineStartsNormally() {
        QString given;
        QPointer<MainWindow> created =
            CreateMainWindow({QStringLiteral("x")}, [&](QWidget*, const QString& path) {
                given = path;
                return false;
            });
        QVERIFY(created);
        QCOMPARE(given, QStringLiteral("x"));
        QVERIFY(created->view());
        delete created.data();
    }

    void closeRequestedWhileTheCommandLineIsHandled() {
        QPointer<MainWindow> created =
            CreateMainWindow({QStringLiteral("notes.txt")}, [](QWidget* window, const QString&) {
                static_cast<MainWindow*>(window)->CloseFromOutside();
                return false;
            });
        QVERIFY(created);
        QVERIFY(created->hasClosed());
        QVERIFY(StoreHas(QStringLiteral("ShowDate")));
        delete created.data();
    }

    void commandLineArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("paths");
        const int run = int(CommandLine::Action::Run);
        const QString work = QStringLiteral("/home/me/Documents");
        const QString p300 = QLatin1Char('/') + QString(299, QLatin1Char('a'));
        QTest::newRow("none") << QStringList{"keshlor"} << run << QStringList{};
        QTest::newRow("each argument one path, in order")
            << QStringList{"keshlor", "/tmp/my notes.txt", "b.txt", "a.txt"} << run
            << QStringList{"/tmp/my notes.txt", work + "/b.txt", work + "/a.txt"};
        // "." parts go; ".." stays for the system to resolve, as after a link.
        QTest::newRow("relative, with . and ..")
            << QStringList{"keshlor", "./a//b/../c.ksr", ":res"} << run
            << QStringList{work + "/a/b/../c.ksr", work + "/:res"};
        // Refusing a path too long is the handler's, with a message: none
        // is passed over in silence but the empty one.
        QTest::newRow("long paths kept, empty passed over")
            << QStringList{"keshlor", p300, "", QString(5000, QLatin1Char('r'))} << run
            << QStringList{p300, work + QLatin1Char('/') + QString(5000, QLatin1Char('r'))};
        QTest::newRow("files named like options")
            << QStringList{"keshlor", "./--help", "-", "--", "--version", "-x"} << run
            << QStringList{work + "/--help", work + "/-", work + "/--version", work + "/-x"};
        QTest::newRow("help anywhere before --")
            << QStringList{"keshlor", "a.txt", "--bogus", "-h"} << int(CommandLine::Action::Help)
            << QStringList{work + "/a.txt"};
        QTest::newRow("version") << QStringList{"keshlor", "--version"}
                                 << int(CommandLine::Action::Version) << QStringList{};
        QTest::newRow("unknown option")
            << QStringList{"keshlor", "a.txt", "--hepl"} << int(CommandLine::Action::UnknownOption)
            << QStringList{work + "/a.txt"};
    }
    void commandLineArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QStringList, paths);
        const CommandLine line = ReadCommandLine(arguments, QStringLiteral("/home/me/Documents"));
        QCOMPARE(int(line.action), action);
        QCOMPARE(line.paths, paths);
        if (line.action == CommandLine::Action::UnknownOption)
            QCOMPARE(line.unknownOption, QStringLiteral("--hepl"));
    }

    // --- the view and keyboard use ---

    void viewKeepsItsLayoutOnEveryResize_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("handheld") << QSize(240, 320);
        QTest::newRow("odd width") << QSize(321, 400);
        QTest::newRow("wide") << QSize(1000, 300);
        QTest::newRow("tiny") << QSize(90, 120);
    }
    void viewKeepsItsLayoutOnEveryResize() {
        QFETCH(QSize, size);
        ScopedMainWindow window;
        window->show();
        window->resize(size);
        QTest::qWait(20);
        const ViewArea* view = window->view();
        const QRect storage = view->storageSelector()->geometry();
        const QRect folder = view->folderSelector()->geometry();
        const QRect list = view->fileList()->geometry();
        const int width = view->width();
        const int leftMargin = storage.left();
        const int rightMargin = width - (folder.right() + 1);
        const int gap = folder.left() - (storage.right() + 1);
        QCOMPARE(storage.width(), folder.width());
        QCOMPARE(rightMargin, leftMargin);
        QVERIFY2(gap >= leftMargin && gap <= leftMargin + 1, qPrintable(QString::number(gap)));
        QCOMPARE(storage.top(), folder.top());
        // The list spans the width, its side borders just outside the view...
        const int border = view->fileList()->frameWidth();
        QCOMPARE(list.left(), -border);
        QCOMPARE(list.right() + 1, width + border);
        // ...starts as far below the selectors as they are below the top...
        QCOMPARE(list.top() - (storage.bottom() + 1), storage.top());
        // ...and takes the rest of the height.
        QCOMPARE(list.bottom() + 1, view->height() + border);
        QVERIFY(view->height() > 0 && view->height() < size.height());
    }

    void tabMovesBetweenSelectorsListAndButtons() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        ViewArea* view = window->view();
        QCOMPARE(QApplication::focusWidget(), view->fileList());
        view->storageSelector()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), view->folderSelector());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), view->fileList());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Button(window.get(), "exitButton"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), view->fileList());
    }

    void enterOnTheListReachesTheList() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QTreeWidget* list = window->view()->fileList();
        list->setColumnCount(1);
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{"notes.txt"}));
        list->setCurrentItem(list->topLevelItem(0));
        list->setFocus();
        QSignalSpy activated(list, &QTreeWidget::itemActivated);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(activated.count(), 1);
        QTest::keyClick(list, Qt::Key_Enter);
        QCOMPARE(activated.count(), 2);
    }

    void everyControlHasAName() {
        QDir().mkpath(InHome(QStringLiteral("Documents/Letters")));
        // Enough rows for the list to scroll.
        for (int file = 0; file < 40; ++file)
            Touch(InHome(QStringLiteral("Documents/notes %1.txt").arg(file)));
        Touch(InHome(QStringLiteral("Documents/old.txt.ksr")));
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QVERIFY(window->view()->fileList()->verticalScrollBar()->isVisible());
        QStringList unnamed = UnnamedControls(window.get());
        // A container says what its mark shows; a plain file has nothing to add.
        QAccessibleInterface* files =
            QAccessible::queryAccessibleInterface(window->view()->fileList());
        QMap<QString, QString> described;
        for (int i = 0; i < files->childCount(); ++i)
            described[files->child(i)->text(QAccessible::Name)] =
                files->child(i)->text(QAccessible::Description);
        QCOMPARE(described.value(QStringLiteral("old.txt")), QStringLiteral("encrypted"));
        QCOMPARE(described.value(QStringLiteral("notes 0.txt")), QString());
        for (const char* menu : {"fileMenu", "optionsMenu"})
            unnamed << UnnamedControls(Menu(window.get(), menu));
        const auto walkThenEscape = [&unnamed](QWidget* dialog) {
            unnamed << UnnamedControls(dialog);
            QTest::keyClick(dialog, Qt::Key_Escape);
        };
        for (const int id :
             {SingleEncryptDialog, BatchEncryptDialog, SingleDecryptDialog, BatchDecryptDialog}) {
            PasswordRequest request;
            ModalDriver driver(walkThenEscape);
            QVERIFY(ShowPasswordDialog(window.get(), id, &request,
                                       {QStringLiteral("Encrypt notes.txt"), QString()}));
            QVERIFY(driver.acted());
        }
        {
            ModalDriver driver(walkThenEscape);
            ShowMessageBox(HandleOf(window.get()), QStringLiteral("Go on?"),
                           QStringLiteral("Question"), plat::kMbYesNo | plat::kMbIconQuestion);
            QVERIFY(driver.acted());
        }
        {
            ModalDriver driver([&unnamed](QWidget* dialog) {
                unnamed << UnnamedControls(dialog);
                PressOk(dialog);
            });
            window->DispatchCommand(CmdAbout);
            QVERIFY(driver.acted());
        }
        ShowHelp(window.get(), QString::fromLatin1(kHelpMainContents));
        QVERIFY(HelpBrowser());
        unnamed << UnnamedControls(HelpBrowser()->window());
        HelpBrowser()->window()->close();
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral("; "))));
    }

    // --- help ---

    void helpKeyOpensTheGuideAtItsContents() {
        ScopedMainWindow window;
        QVERIFY(window.ShowActive());
        QTest::keyClick(window->view()->fileList(), Qt::Key_F1);
        QTextBrowser* help = HelpBrowser();
        QVERIFY(help);
        QVERIFY(QTest::qWaitForWindowExposed(help->window()));
        QCOMPARE(help->source().fragment(), QString::fromLatin1(kHelpMainContents));
        QVERIFY(help->toPlainText().contains(QStringLiteral("container")));
        QVERIFY(help->verticalScrollBar()->value() < help->fontMetrics().height());
        help->window()->close();
    }

    void helpAnchorsExistAndAreScrolledTo_data() {
        QTest::addColumn<QString>("anchor");
        QTest::newRow("encrypting") << QString::fromLatin1(kHelpEncrypting);
        QTest::newRow("decrypting") << QString::fromLatin1(kHelpDecrypting);
    }
    void helpAnchorsExistAndAreScrolledTo() {
        QFETCH(QString, anchor);
        ScopedMainWindow window;
        window->show();
        ShowHelp(window.get(), anchor);
        QTextBrowser* help = HelpBrowser();
        QVERIFY(help);
        QVERIFY(QTest::qWaitForWindowExposed(help->window()));
        // An anchor that does not exist leaves the guide at its top.
        QVERIFY(WaitUntil([help] { return help->verticalScrollBar()->value() > 0; }));
        QCOMPARE(help->source().fragment(), anchor);
        help->window()->close();
    }

    // --- the engine's message box ---

    void messageBoxAnswersWithThePlatformIds_data() {
        QTest::addColumn<uint>("style");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("answer");
        using B = QMessageBox;
        QTest::newRow("ok") << uint(plat::kMbOk) << int(B::Ok) << plat::kIdOk;
        QTest::newRow("ok/cancel: cancel")
            << uint(plat::kMbOkCancel) << int(B::Cancel) << plat::kIdCancel;
        QTest::newRow("retry") << uint(plat::kMbRetryCancel) << int(B::Retry) << plat::kIdRetry;
        QTest::newRow("yes") << uint(plat::kMbYesNo | plat::kMbIconQuestion) << int(B::Yes)
                             << plat::kIdYes;
        QTest::newRow("no") << uint(plat::kMbYesNo) << int(B::No) << plat::kIdNo;
        QTest::newRow("escape on yes/no") << uint(plat::kMbYesNo) << -1 << plat::kIdNo;
    }
    void messageBoxAnswersWithThePlatformIds() {
        QFETCH(uint, style);
        QFETCH(int, button);
        QFETCH(int, answer);
        ScopedMainWindow window;
        window->show();
        QString caption, text;
        ModalDriver driver([&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box);
            caption = box->windowTitle();
            text = box->text();
            if (button < 0)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(QMessageBox::StandardButton(button))->click();
        });
        // Through the port, as the engine asks.
        InstallGuiPorts();
        QCOMPARE(plat::MessageBox(HandleOf(window.get()), QStringLiteral("Go on?"),
                                  QStringLiteral("Question"), style),
                 answer);
        QVERIFY(driver.acted());
        QCOMPARE(caption, QStringLiteral("Question"));
        QCOMPARE(text, QStringLiteral("Go on?"));
    }

    void secondButtonIsTheDefaultWhenAsked() {
        bool seen = false;
        bool noIsDefault = false;
        ModalDriver driver([&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            seen = box != nullptr;
            noIsDefault = box && box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(widget, Qt::Key_Return);
        });
        const int answer =
            ShowMessageBox(nullptr, QStringLiteral("Overwrite?"), QStringLiteral("File exists"),
                           plat::kMbYesNo | plat::kMbDefButton2);
        QVERIFY(seen);
        QVERIFY(noIsDefault);
        QCOMPARE(answer, plat::kIdNo);
    }
};

KESHLOR_GUI_TEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
