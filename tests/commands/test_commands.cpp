// The single commands: a tapped row, "Decrypt / Open" with an opener that
// works or fails, the "Bad Password?" retry, failures under their captions,
// progress and Cancel while the engine works off the GUI thread. The password
// dialogs are real widgets; message boxes go through the port.
#include "browser/file_list.h"
#include "browser/list_activation.h"
#include "command_fixture.h"
#include "commands/file_commands.h"
#include "commands/password_dialogs.h"
#include "commands/work_progress.h"
#include "engine/error_report.h"
#include "gui/gui_ports.h"
#include "platform/desktop_opener.h"
#include "platform/files.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QScopeGuard>
#include <QThread>
#include <QToolButton>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace browser_testing;
using namespace command_testing;

namespace {

// Holds a file the way another program would, so the engine cannot open it.
class HeldFile {
  public:
    explicit HeldFile(const QString& path) : fd_(::open(QFile::encodeName(path), O_RDONLY)) {
        if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0)
            qFatal("cannot hold %s", qPrintable(path));
    }
    ~HeldFile() { ::close(fd_); }

  private:
    int fd_;
};

// Every repaint of the progress bar while it is up: its value, where it sat,
// and a chance to act in the middle of the run.
class ProgressWatch : public QObject {
  public:
    explicit ProgressWatch(std::function<void(QProgressBar*)> atFirst)
        : atFirst_(std::move(atFirst)) {
        qApp->installEventFilter(this);
    }
    ~ProgressWatch() override { qApp->removeEventFilter(this); }
    QList<int> values;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint &&
            watched->objectName() == QLatin1String("workProgress")) {
            auto* bar = static_cast<QProgressBar*>(watched);
            values << bar->value();
            if (values.size() == 1)
                atFirst_(bar);
        }
        return false;
    }

  private:
    std::function<void(QProgressBar*)> atFirst_;
};

int64_t LastWrite(const QString& path) {
    plat::FileTimes times;
    return plat::GetFileTimesByPath(path, &times) ? times.lastWrite : 0;
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        StartCommandTest(options_, &boxes_);
        opened_.clear();
        SetOpenFileHandler([this](const QString& path, QString*) {
            opened_ << path;
            return true;
        });
    }
    void cleanup() {
        view_.reset();
        boxes_.reset();
        SetOpenFileHandler({});
        SetProgressTiming({});
    }
    void cleanupTestCase() { ResetHome(); }

    void tappingTurnsPlainAndContainerRowsIntoEachOther();
    void secondEncryptionOffersThePreviousPassword();
    void decryptOpenOpensTheFileAndWaitsToEncryptAgain_data();
    void decryptOpenOpensTheFileAndWaitsToEncryptAgain();
    void aFailingOpenerIsToldBeforeTheEncryptDialog_data();
    void aFailingOpenerIsToldBeforeTheEncryptDialog();
    void mismatchRetryKeepsBothEntriesThenCancelEndsTheCommand();
    void emptyPasswordWorksBothWays();
    void wrongStrengthNamesTheCurrentOptionAndRetryOffersTheLastPassword_data();
    void wrongStrengthNamesTheCurrentOptionAndRetryOffersTheLastPassword();
    void retryThatCannotShowTheLastPasswordEndsWithADialogError();
    void failuresAreReportedUnderTheCommandsCaption_data();
    void failuresAreReportedUnderTheCommandsCaption();
    void declinedOverwriteGivesTheRowItsMarkBack();
    void progressShowsWithoutASecondCommand_data();
    void progressShowsWithoutASecondCommand();
    void cancelStopsTheRunAndLeavesEverythingAsItWas_data();
    void cancelStopsTheRunAndLeavesEverythingAsItWas();
    void inputDuringARunIsDroppedNotReplayed();
    void aQuestionOfTheRunIsAnsweredOnTheGuiThread();

  private:
    // A view of the documents folder as it now is, shown so rows can be tapped.
    QTreeWidget* ShowView() {
        view_ = std::make_unique<BrowserView>();
        if (!view_->Show())
            qFatal("the view was not shown");
        return view_->list();
    }
    // What a tap was on the handheld: a double-click on the desktop.
    void Tap(int row) {
        QTreeWidget* list = view_->list();
        DoubleClick(list->viewport(), list->visualItemRect(list->topLevelItem(row)).center());
    }
    QString Cell(int row, int column) const {
        return view_->list()->topLevelItem(row)->text(column);
    }

    testing_ports::OptionValues options_;
    std::unique_ptr<testing_ports::ScriptedMessageBoxes> boxes_;
    std::unique_ptr<BrowserView> view_;
    QStringList opened_;
};

void CommandsTest::tappingTurnsPlainAndContainerRowsIntoEachOther() {
    const QString plain = WriteFile(Documents(QStringLiteral("a.txt")), QByteArray(5000, 'a'));
    const QString container =
        MakeContainer(options_, QStringLiteral("b.txt"), "bee content", QStringLiteral("pw"));
    QTreeWidget* list = ShowView();
    const int a = RowOf(list, QStringLiteral("a.txt"), false);
    const int b = RowOf(list, QStringLiteral("b.txt"), true);
    QVERIFY(a >= 0 && b >= 0);
    // Changed after it was listed: the row must show what it became.
    QFile changed(plain);
    QVERIFY(changed.open(QIODevice::ReadWrite));
    QVERIFY(changed.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(12, 0)),
                                QFileDevice::FileModificationTime));
    changed.close();
    const QString listedDate = Cell(a, 1);

    DialogScript script({Accept(QStringLiteral("pw")), Accept(QStringLiteral("pw"))});
    Tap(a);
    QCOMPARE(Cell(a, 0), QStringLiteral("a.txt"));
    QCOMPARE(MarkOf(list, a), ItemMark::Encrypted);
    QVERIFY(!Exists(plain));
    const QString made = plain + QStringLiteral(".ksr");
    QCOMPARE(Cell(a, 2), SizeText(QFileInfo(made).size()));
    QVERIFY(Cell(a, 2) != SizeText(5000));
    QCOMPARE(Cell(a, 1), DateText(LastWrite(made)));
    QVERIFY(Cell(a, 1) != listedDate);

    Tap(b);
    QCOMPARE(Cell(b, 0), QStringLiteral("b.txt"));
    QCOMPARE(MarkOf(list, b), ItemMark::NoMark);
    QVERIFY(!Exists(container));
    QCOMPARE(ReadAll(Documents(QStringLiteral("b.txt"))), QByteArray("bee content"));
    QCOMPARE(Cell(b, 2), SizeText(11));
    QVERIFY(script.finished());
    QVERIFY(boxes_->shown().empty());
}

void CommandsTest::secondEncryptionOffersThePreviousPassword() {
    WriteFile(Documents(QStringLiteral("a.txt")), "first");
    WriteFile(Documents(QStringLiteral("b.txt")), "second");
    QTreeWidget* list = ShowView();
    {
        DialogScript first({Accept(QStringLiteral("pw one"))});
        Tap(RowOf(list, QStringLiteral("a.txt"), false));
        QVERIFY(first.finished());
    }

    DialogScript second({[](QWidget* dialog) {
        QLineEdit* password = Field(dialog, "password");
        QLineEdit* confirmation = Field(dialog, "confirmation");
        QCOMPARE(password->text(), QStringLiteral("pw one"));
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QVERIFY(confirmation->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), confirmation);
        QTest::keyClicks(confirmation, QStringLiteral("pw one"));
        QTest::keyClick(confirmation, Qt::Key_Return);
    }});
    Tap(RowOf(list, QStringLiteral("b.txt"), false));
    QVERIFY(second.finished());
    QCOMPARE(DecryptContainerToFile(nullptr, Documents(QStringLiteral("b.txt.ksr")),
                                    Documents(QStringLiteral("b.txt")), QStringLiteral("pw one")),
             DecryptResult::Ok);
}

void CommandsTest::decryptOpenOpensTheFileAndWaitsToEncryptAgain_data() {
    QTest::addColumn<bool>("encrypt");
    QTest::newRow("Encrypt puts the container back") << true;
    QTest::newRow("Cancel leaves the file decrypted") << false;
}

void CommandsTest::decryptOpenOpensTheFileAndWaitsToEncryptAgain() {
    QFETCH(bool, encrypt);
    const QString container =
        MakeContainer(options_, QStringLiteral("c.txt"), "see", QStringLiteral("pw"));
    const QString plain = Documents(QStringLiteral("c.txt"));
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("c.txt"), true);

    DialogScript script({[](QWidget* dialog) {
                             TypePassword(dialog, QStringLiteral("pw"));
                             Click(dialog, "open");
                         },
                         [&](QWidget* dialog) {
                             QCOMPARE(ReadAll(plain), QByteArray("see"));
                             QVERIFY(!Exists(container));
                             QCOMPARE(opened_, QStringList{plain});
                             QCOMPARE(MarkOf(list, row), ItemMark::NoMark);
                             QCOMPARE(Field(dialog, "password")->text(), QStringLiteral("pw"));
                             QCOMPARE(Field(dialog, "confirmation")->text(), QStringLiteral("pw"));
                             QCOMPARE(QApplication::focusWidget(), Button(dialog, "encrypt"));
                             if (encrypt)
                                 QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
                             else
                                 Click(dialog, "cancel");
                         }});
    list->setCurrentItem(list->topLevelItem(row));
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(script.finished());
    QCOMPARE(Exists(container), encrypt);
    QCOMPARE(Exists(plain), !encrypt);
    QCOMPARE(MarkOf(list, row), encrypt ? ItemMark::Encrypted : ItemMark::NoMark);
    QVERIFY(boxes_->shown().empty());
}

void CommandsTest::aFailingOpenerIsToldBeforeTheEncryptDialog_data() {
    QTest::addColumn<QStringList>("opener");
    QTest::addColumn<QString>("reason");
    QTest::newRow("exits 1") << QStringList{"/bin/sh", "-c",
                                            "echo \"no application for $1\" >&2; exit 1", "sh"}
                             << "/bin/sh ended with status 1: no application for ";
    QTest::newRow("cannot start") << QStringList{"/nonexistent/opener"}
                                  << "/nonexistent/opener could not be started";
}

void CommandsTest::aFailingOpenerIsToldBeforeTheEncryptDialog() {
    QFETCH(QStringList, opener);
    QFETCH(QString, reason);
    SetOpenFileHandler({});
    plat::SetDesktopOpener(opener);
    const auto restore = qScopeGuard([] { plat::SetDesktopOpener({}); });
    MakeContainer(options_, QStringLiteral("c.txt"), "see", QStringLiteral("pw"));
    const QString plain = Documents(QStringLiteral("c.txt"));
    QTreeWidget* list = ShowView();

    std::vector<testing_ports::ShownMessage> toldBefore;
    DialogScript script({[](QWidget* dialog) {
                             TypePassword(dialog, QStringLiteral("pw"));
                             Click(dialog, "open");
                         },
                         [&](QWidget* dialog) {
                             toldBefore = boxes_->shown();
                             Click(dialog, "cancel");
                         }},
                        15000);
    list->setCurrentItem(list->topLevelItem(RowOf(list, QStringLiteral("c.txt"), true)));
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(script.finished());
    QCOMPARE(toldBefore.size(), size_t(1));
    QCOMPARE(toldBefore[0].caption, QStringLiteral("Can't open!"));
    QVERIFY2(toldBefore[0].text.contains(plain) && toldBefore[0].text.contains(reason),
             qPrintable(toldBefore[0].text));
    QCOMPARE(ReadAll(plain), QByteArray("see"));
}

void CommandsTest::mismatchRetryKeepsBothEntriesThenCancelEndsTheCommand() {
    const QString plain = WriteFile(Documents(QStringLiteral("m.txt")), "em");
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("m.txt"), false);
    boxes_->Answer(plat::kIdRetry);
    DialogScript script({[this](QWidget* dialog) {
        QLineEdit* password = Field(dialog, "password");
        QTest::keyClicks(password, QStringLiteral("abc"));
        QTest::keyClicks(Field(dialog, "confirmation"), QStringLiteral("abd"));
        Click(dialog, "encrypt");
        QCOMPARE(boxes_->captions(), std::vector<QString>{QStringLiteral("Strings don't match!")});
        QCOMPARE(password->text(), QStringLiteral("abc"));
        QCOMPARE(Field(dialog, "confirmation")->text(), QStringLiteral("abd"));
        QCOMPARE(QApplication::focusWidget(), password);
        QCOMPARE(password->selectedText(), QStringLiteral("abc"));
        Click(dialog, "cancel");
    }});
    Tap(row);
    QVERIFY(script.finished());
    QCOMPARE(ReadAll(plain), QByteArray("em"));
    QVERIFY(!Exists(plain + QStringLiteral(".ksr")));
    QCOMPARE(MarkOf(list, row), ItemMark::NoMark);
    QCOMPARE(boxes_->shown().size(), size_t(1));
}

void CommandsTest::emptyPasswordWorksBothWays() {
    const QString plain = WriteFile(Documents(QStringLiteral("e.txt")), "empty password");
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("e.txt"), false);
    DialogScript script({[](QWidget* dialog) { Click(dialog, "encrypt"); },
                         [](QWidget* dialog) { Click(dialog, "decrypt"); }});
    Tap(row);
    QCOMPARE(MarkOf(list, row), ItemMark::Encrypted);
    QVERIFY(IsPasswordStored(SharedPasswordRequest()));
    QVERIFY(PasswordText(SharedPasswordRequest()).isEmpty());
    Tap(row);
    QVERIFY(script.finished());
    QCOMPARE(MarkOf(list, row), ItemMark::NoMark);
    QCOMPARE(ReadAll(plain), QByteArray("empty password"));
    QVERIFY(boxes_->shown().empty());
}

void CommandsTest::wrongStrengthNamesTheCurrentOptionAndRetryOffersTheLastPassword_data() {
    QTest::addColumn<bool>("madeHigh");
    QTest::addColumn<QString>("message");
    QTest::newRow("high container, option off")
        << true
        << "Decryption failed!\nWrong password, high encryption option not selected for a high "
           "encryption file, or file corrupted.";
    QTest::newRow("low container, option on")
        << false
        << "Decryption failed!\nWrong password, high encryption option selected for a low "
           "encryption file, or file corrupted.";
}

void CommandsTest::wrongStrengthNamesTheCurrentOptionAndRetryOffersTheLastPassword() {
    QFETCH(bool, madeHigh);
    QFETCH(QString, message);
    const QString container = MakeContainer(options_, QStringLiteral("s.txt"), "strength",
                                            QStringLiteral("pw"), madeHigh);
    const QString plain = Documents(QStringLiteral("s.txt"));
    options_.Set(HighEncryption, !madeHigh);
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("s.txt"), true);
    boxes_->Answer(plat::kIdRetry);

    DialogScript script(
        {Accept(QStringLiteral("pw")), [&](QWidget* dialog) {
             QCOMPARE(boxes_->shown().size(), size_t(1));
             QCOMPARE(boxes_->shown()[0].caption, QStringLiteral("Bad Password? \u2014 s.txt.ksr"));
             QCOMPARE(boxes_->shown()[0].text, message);
             QCOMPARE(boxes_->shown()[0].style, plat::kMbRetryCancel | plat::kMbIconQuestion);
             // Nothing is left of the refused run.
             QVERIFY(Exists(container));
             QVERIFY(!Exists(plain));
             QCOMPARE(MarkOf(list, row), ItemMark::Encrypted);
             QLineEdit* password = Field(dialog, "password");
             QCOMPARE(password->text(), QStringLiteral("pw"));
             QCOMPARE(password->selectedText(), QStringLiteral("pw"));
             QCOMPARE(QApplication::focusWidget(), password);
             options_.Set(HighEncryption, madeHigh);
             Click(dialog, "decrypt");
         }});
    Tap(row);
    QVERIFY(script.finished());
    QCOMPARE(ReadAll(plain), QByteArray("strength"));
    QCOMPARE(MarkOf(list, row), ItemMark::NoMark);
    QCOMPARE(boxes_->shown().size(), size_t(1));
}

void CommandsTest::retryThatCannotShowTheLastPasswordEndsWithADialogError() {
    const QString container =
        MakeContainer(options_, QStringLiteral("r.txt"), "retry", QStringLiteral("pw"));
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("r.txt"), true);
    // A password that fills the whole buffer is one unit longer than a field holds.
    PasswordRequest& request = SharedPasswordRequest();
    std::fill_n(request.password, kPasswordCapacity, u'x');
    boxes_->Answer(plat::kIdRetry);

    DialogScript script({});
    QVERIFY(!DecryptWithRetry(view_->view(), list, row, container,
                              Documents(QStringLiteral("r.txt")), SingleDecryptDialog));
    QVERIFY(script.finished());
    // Running on without a password would only have asked "Bad Password?" again.
    QCOMPARE(boxes_->captions(),
             (std::vector<QString>{QStringLiteral("Bad Password? \u2014 r.txt.ksr"),
                                   QStringLiteral("Decryption Error \u2014 r.txt.ksr")}));
    QCOMPARE(boxes_->shown()[1].text, ErrorMessage(31, 0));
    QVERIFY(!IsPasswordStored(request));
    QVERIFY(Exists(container));
    QCOMPARE(MarkOf(list, row), ItemMark::Encrypted);
}

void CommandsTest::failuresAreReportedUnderTheCommandsCaption_data() {
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("caption");
    QTest::newRow("plain file held") << false << 21 << "Encrypt f.txt"
                                     << "Encryption Error \u2014 f.txt";
    QTest::newRow("container held") << true << 18 << "Decrypt f.txt.ksr"
                                    << "Decryption Error \u2014 f.txt.ksr";
}

void CommandsTest::failuresAreReportedUnderTheCommandsCaption() {
    QFETCH(bool, encrypted);
    QFETCH(int, code);
    QFETCH(QString, title);
    QFETCH(QString, caption);
    const QString file =
        encrypted ? MakeContainer(options_, QStringLiteral("f.txt"), "eff", QStringLiteral("pw"))
                  : WriteFile(Documents(QStringLiteral("f.txt")), "eff");
    QTreeWidget* list = ShowView();
    const HeldFile held(file);
    // The dialog and the message both name the file.
    DialogScript script({[&](QWidget* dialog) {
        QCOMPARE(dialog->windowTitle(), title);
        Accept(QStringLiteral("pw"))(dialog);
    }});
    Tap(RowOf(list, QStringLiteral("f.txt"), encrypted));
    QVERIFY(script.finished());
    QCOMPARE(boxes_->shown().size(), size_t(1));
    QCOMPARE(boxes_->shown()[0].caption, caption);
    QCOMPARE(boxes_->shown()[0].text, ErrorMessage(code, 32));
    QCOMPARE(CurrentPendingError().code, 0);
    // The list was refilled from the folder, where nothing changed, and the
    // selection stayed on the file.
    QCOMPARE(view_->RowTexts(), QStringList{QStringLiteral("f.txt")});
    QCOMPARE(MarkOf(list, 0), encrypted ? ItemMark::Encrypted : ItemMark::NoMark);
    QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem*>{list->topLevelItem(0)});
    QVERIFY(Exists(file));
}

void CommandsTest::declinedOverwriteGivesTheRowItsMarkBack() {
    const QString container =
        MakeContainer(options_, QStringLiteral("d.txt"), "old", QStringLiteral("pw"));
    const QByteArray before = ReadAll(container);
    const QString plain = WriteFile(Documents(QStringLiteral("d.txt")), "new");
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("d.txt"), false);
    boxes_->Answer(plat::kIdNo);
    DialogScript script({Accept(QStringLiteral("pw"))});
    Tap(row);
    QVERIFY(script.finished());
    QCOMPARE(boxes_->captions(), std::vector<QString>{QStringLiteral("OK to overwrite?")});
    QCOMPARE(MarkOf(list, row), ItemMark::NoMark);
    QCOMPARE(ReadAll(plain), QByteArray("new"));
    QCOMPARE(ReadAll(container), before);
}

void CommandsTest::progressShowsWithoutASecondCommand_data() {
    QTest::addColumn<bool>("fromList");
    QTest::newRow("on the row under work") << true;
    QTest::newRow("in its own window for a named file") << false;
}

void CommandsTest::progressShowsWithoutASecondCommand() {
    QFETCH(bool, fromList);
    SetProgressTiming({0, 0});
    const QByteArray content = RandomBytes(1 << 20);
    const QString big = WriteFile(Documents(QStringLiteral("big.bin")), content);
    const QString other = WriteFile(Documents(QStringLiteral("other.txt")), "other");
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("big.bin"), false);
    const int otherRow = RowOf(list, QStringLiteral("other.txt"), false);

    bool busyUnderTheBar = false;
    bool secondStarted = true;
    bool loopRan = false;
    ProgressWatch watch([&](QProgressBar* bar) {
        busyUnderTheBar = MarkOf(list, row) == ItemMark::Busy &&
                          list->visualItemRect(list->topLevelItem(row)).contains(bar->geometry());
        // Nothing may start while the data moves, whatever way it is asked for.
        ActivateListItem(view_->view(), list, otherRow);
        BatchEncrypt(view_->view(), list, BatchScope::All);
        secondStarted = OpenFileByName(view_->view(), other) || !IsCommandRunning();
        QTimer::singleShot(0, [&] { loopRan = true; });
    });
    DialogScript script({Accept(QStringLiteral("pw"))});
    if (fromList) {
        Tap(row);
    } else {
        QVERIFY(OpenFileByName(view_->view(), big));
    }
    const bool loopRanDuringTheRun = loopRan;
    QVERIFY(script.finished());
    QVERIFY(watch.values.size() > 10);
    QVERIFY(std::is_sorted(watch.values.begin(), watch.values.end()));
    QCOMPARE(watch.values.last(), 1000);
    QVERIFY(!secondStarted);
    QCOMPARE(ReadAll(other), QByteArray("other"));
    QVERIFY(Exists(big + QStringLiteral(".ksr")));
    if (fromList) {
        QVERIFY(busyUnderTheBar);
        // The window's event loop went on while the data moved.
        QVERIFY(loopRanDuringTheRun);
        QCOMPARE(MarkOf(list, row), ItemMark::Encrypted);
    } else {
        QCOMPARE(MarkOf(list, row), ItemMark::NoMark); // a named file touches no row
    }
    QVERIFY(!list->viewport()->findChild<QProgressBar*>());
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY(window->objectName() != QLatin1String("workProgressWindow"));
    QVERIFY(WaitUntil([&] { return loopRan; }));
    QCOMPARE(
        DecryptContainerToFile(nullptr, big + QStringLiteral(".ksr"), big, QStringLiteral("pw")),
        DecryptResult::Ok);
    QCOMPARE(ReadAll(big), content);
}

void CommandsTest::cancelStopsTheRunAndLeavesEverythingAsItWas_data() {
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<bool>("escape");
    QTest::newRow("encrypting, the Cancel button") << false << false;
    QTest::newRow("decrypting, Escape") << true << true;
}

void CommandsTest::cancelStopsTheRunAndLeavesEverythingAsItWas() {
    QFETCH(bool, encrypted);
    QFETCH(bool, escape);
    const QByteArray content = RandomBytes(1 << 20);
    const QString plain = Documents(QStringLiteral("big.bin"));
    const QString source = encrypted ? MakeContainer(options_, QStringLiteral("big.bin"), content,
                                                     QStringLiteral("pw"))
                                     : WriteFile(plain, content);
    const QString target = encrypted ? plain : plain + QStringLiteral(".ksr");
    const QByteArray before = ReadAll(source);
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("big.bin"), encrypted);
    const ItemMark mark = MarkOf(list, row);

    bool offered = false;
    bool tempWritten = false;
    RunMidway midway([&] {
        auto* cancel = list->viewport()->findChild<QToolButton*>(QStringLiteral("cancelWork"));
        offered = cancel && cancel->isVisible() && cancel->isEnabled();
        tempWritten = !Leftovers().isEmpty();
        if (escape)
            QTest::keyClick(list, Qt::Key_Escape);
        else if (cancel)
            QTest::mouseClick(cancel, Qt::LeftButton);
    });
    DialogScript script({Accept(QStringLiteral("pw")), Accept(QStringLiteral("pw"))});
    Tap(row);
    QCOMPARE(script.acted(), size_t(1));
    QVERIFY(midway.acted());
    QVERIFY(offered);
    QVERIFY(tempWritten);
    QVERIFY(boxes_->shown().empty());
    QCOMPARE(CurrentPendingError().code, 0);
    QCOMPARE(ReadAll(source), before);
    QVERIFY(!Exists(target));
    QCOMPARE(Leftovers(), QStringList());
    QCOMPARE(MarkOf(list, row), mark);
    QCOMPARE(view_->RowTexts(), QStringList{QStringLiteral("big.bin")});

    // The Cancel was for that command only.
    Tap(row);
    QVERIFY(script.finished());
    QVERIFY(!Exists(source));
    QCOMPARE(MarkOf(list, row), encrypted ? ItemMark::NoMark : ItemMark::Encrypted);
}

void CommandsTest::inputDuringARunIsDroppedNotReplayed() {
    WriteFile(Documents(QStringLiteral("big.bin")), RandomBytes(1 << 20));
    const QString other = WriteFile(Documents(QStringLiteral("other.txt")), "other");
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("big.bin"), false);
    const int otherRow = RowOf(list, QStringLiteral("other.txt"), false);

    RunMidway midway([&] {
        QWidget* viewport = list->viewport();
        const QPoint at = list->visualItemRect(list->topLevelItem(otherRow)).center();
        // A tap on another row and Enter, queued as a busy window system queues them...
        QCoreApplication::postEvent(
            viewport, new QMouseEvent(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at),
                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            viewport, new QMouseEvent(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at),
                                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            list, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        // ...and one handed over at once.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    });
    DialogScript script({Accept(QStringLiteral("pw"))});
    Tap(row);
    // Whatever input might still be waiting.
    QCoreApplication::sendPostedEvents();
    QVERIFY(midway.acted());
    QVERIFY(script.finished());
    QCOMPARE(MarkOf(list, row), ItemMark::Encrypted);
    QCOMPARE(MarkOf(list, otherRow), ItemMark::NoMark);
    QCOMPARE(ReadAll(other), QByteArray("other"));
}

void CommandsTest::aQuestionOfTheRunIsAnsweredOnTheGuiThread() {
    const QString container =
        MakeContainer(options_, QStringLiteral("q.txt"), "old", QStringLiteral("pw"));
    const QString plain = WriteFile(Documents(QStringLiteral("q.txt")), "new");
    QTreeWidget* list = ShowView();
    const int row = RowOf(list, QStringLiteral("q.txt"), false);
    bool onGuiThread = false;
    QString asked;
    plat::SetMessageBoxPort(
        [&](plat::WindowHandle owner, const QString& text, const QString& caption, uint32_t style) {
            onGuiThread = QThread::currentThread() == qApp->thread();
            asked = caption;
            // A real box: only the GUI thread can make one.
            return ShowMessageBox(owner, text, caption, style);
        });
    DialogScript script({Accept(QStringLiteral("pw")), [](QWidget* box) {
                             QTest::mouseClick(
                                 static_cast<QMessageBox*>(box)->button(QMessageBox::Yes),
                                 Qt::LeftButton);
                         }});
    Tap(row);
    QVERIFY(script.finished());
    QVERIFY(onGuiThread);
    QCOMPARE(asked, QStringLiteral("OK to overwrite?"));
    // The answer reached the run: the container was replaced.
    QVERIFY(!Exists(plain));
    QCOMPARE(MarkOf(list, row), ItemMark::Encrypted);
    QCOMPARE(DecryptContainerToFile(nullptr, container, plain, QStringLiteral("pw")),
             DecryptResult::Ok);
    QCOMPARE(ReadAll(plain), QByteArray("new"));
}

KESHLOR_GUI_TEST_MAIN(CommandsTest)
#include "test_commands.moc"
