// Files named from outside the list: the command line, as start-up hands it
// on (in this process, to answer the dialogs, and as the real program), and
// "Browse for file" with its open-file dialog.
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "browser/file_list.h"
#include "browser/view_area.h"
#include "command_fixture.h"
#include "commands/file_commands.h"
#include "engine/error_report.h"
#include "gui/file_dialogs.h"
#include "platform/instance_channel.h"

#include <QDialog>
#include <QFileDialog>
#include <QListView>
#include <QProcess>

#include <unistd.h>

using namespace browser_testing;
using namespace command_testing;

namespace {

// A name in the documents folder, in folders of its own, whose whole path
// has `units` UTF-16 units: deeper than the original platform allowed.
QString DeepName(int units, const QString& ending) {
    const int folderUnits = DocumentsFolder().size() + 1;
    QString name;
    while (folderUnits + name.size() + 41 + ending.size() < units)
        name += QString(40, QLatin1Char('d')) + QLatin1Char('/');
    return name + QString(units - folderUnits - name.size() - ending.size(), QLatin1Char('n')) +
           ending;
}

QProcessEnvironment ProgramEnvironment(const QByteArray& instance) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KESHLOR_INSTANCE"), QString::fromLatin1(instance));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

// A step that notes which file the dialog is for, then accepts it.
DialogScript::Step NoteAndAccept(QStringList* asked) {
    return [asked](QWidget* dialog) {
        asked->append(SharedPasswordRequest().plainPath);
        Accept(QStringLiteral("pw"))(dialog);
    };
}

bool MainWindowShown() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (qobject_cast<MainWindow*>(window) && window->isVisible())
            return true;
    }
    return false;
}

} // namespace

class NamedFilesTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { StartCommandTest(options_, &boxes_); }
    void cleanup() {
        boxes_.reset();
        SetFileDialogPort({});
    }
    void cleanupTestCase() { ResetHome(); }

    void commandLineFileIsHandledWithoutTheMainWindow_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("made");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("container, any letter case") << "LETTER.TXT.KSR"
                                                    << "LETTER.TXT"
                                                    << "PasswordDialog114";
        QTest::newRow("plain file") << "notes.txt"
                                    << "notes.txt.ksr"
                                    << "PasswordDialog115";
        // A name that is only the extension is plain, as the list shows it;
        // its folder is no file to decrypt to.
        QTest::newRow("file named .ksr") << ".ksr"
                                         << ".ksr.ksr"
                                         << "PasswordDialog115";
        const QString deep = DeepName(300, QStringLiteral(".txt"));
        QTest::newRow("300 characters deep") << deep << deep + ".ksr"
                                             << "PasswordDialog115";
    }
    void commandLineFileIsHandledWithoutTheMainWindow() {
        QFETCH(QString, given);
        QFETCH(QString, made);
        QFETCH(QString, dialog);
        if (given.endsWith(QLatin1String(".KSR"))) {
            const QString container =
                MakeContainer(options_, made, "Dear reader", QStringLiteral("pw"));
            QVERIFY(QFile::rename(container, Documents(given)));
        } else {
            WriteFile(Documents(given), "Dear reader");
        }
        RemoveStore();
        bool windowShown = true;
        DialogScript script({[&](QWidget* shown) {
            windowShown = MainWindowShown();
            QCOMPARE(shown->objectName(), dialog);
            Accept(QStringLiteral("pw"))(shown);
        }});
        QPointer<MainWindow> window = CreateMainWindow({Documents(given)}, OpenFileByName);
        QVERIFY(!window);
        QVERIFY(script.finished());
        QVERIFY(!windowShown);
        QVERIFY(!Exists(Documents(given)));
        QVERIFY(Exists(Documents(made)));
        if (!made.endsWith(QLatin1String(".ksr")))
            QCOMPARE(ReadAll(Documents(made)), QByteArray("Dear reader"));
        QVERIFY(boxes_->shown().empty());
        QVERIFY(!QFile::exists(StoreFileName()));
    }

    // Counted in bytes, as Linux counts them. Past a limit the file is
    // refused by name rather than passed over, and the program ends.
    void namedPathsAreTakenUpToTheSystemsLimits_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption"); // empty: taken
        QTest::addColumn<int>("code");
        QTest::newRow("plain name of 251 bytes") << QString(247, 'n') + ".txt" << QString() << 0;
        QTest::newRow("plain name of 252 bytes in 128 letters")
            << QString(124, QChar(0xE9)) + ".txt"
            << "Keshlor Path Error" << 40;
        QTest::newRow("container name of 255 bytes")
            << QString(251, 'n') + ".ksr" << QString() << 0;
        QTest::newRow("path over 4095 bytes") << QStringLiteral("x/").repeated(2048) + "y.ksr"
                                              << "Path Error" << 39;
    }
    void namedPathsAreTakenUpToTheSystemsLimits() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(int, code);
        const QString path = Documents(name);
        if (caption.isEmpty())
            WriteFile(path, "x");
        DialogScript script({});
        QPointer<MainWindow> window = CreateMainWindow({path}, OpenFileByName);
        QVERIFY(!window);
        QCOMPARE(script.extra(), caption.isEmpty() ? 1 : 0);
        if (caption.isEmpty()) {
            QVERIFY(boxes_->shown().empty());
            return;
        }
        QCOMPARE(boxes_->shown().size(), size_t(1));
        QCOMPARE(boxes_->shown()[0].caption,
                 caption + QStringLiteral(" \u2014 ") + QFileInfo(path).fileName());
        QVERIFY(boxes_->shown()[0].text.startsWith(ErrorMessage(code, 0) + QLatin1Char('\n')));
        QVERIFY(boxes_->shown()[0].text.contains(path.right(100)));
    }

    // Nothing is asked about a file that cannot be taken; the message says
    // why, with the code the system gives (5 for a folder).
    void namedFilesAreRefusedBeforeThePassword_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("browsed");
        QTest::addColumn<uint>("lastError");
        QTest::addColumn<QString>("why");
        QTest::newRow("missing, on the command line")
            << "missing" << false << 2u << "does not exist";
        QTest::newRow("a folder, browsed") << "folder" << true << 5u << "is a folder";
        QTest::newRow("with another hard link, on the command line")
            << "linked" << false << 1142u << "other names (hard links)";
    }
    void namedFilesAreRefusedBeforeThePassword() {
        QFETCH(QString, kind);
        QFETCH(bool, browsed);
        QFETCH(uint, lastError);
        QFETCH(QString, why);
        const QString path = Documents(QStringLiteral("named.txt"));
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        if (kind == QLatin1String("linked")) {
            WriteFile(path, "linked");
            QVERIFY(
                ::link(QFile::encodeName(path).constData(),
                       QFile::encodeName(Documents(QStringLiteral("other name"))).constData()) ==
                0);
        }
        DialogScript script({});
        if (browsed) {
            ScopedMainWindow window;
            SetFileDialogPort([&](QWidget*, const FileDialogRequest&, QString* chosen) {
                *chosen = path;
                return true;
            });
            QVERIFY(window->DispatchCommand(CmdBrowseForFile));
        } else {
            QVERIFY(!CreateMainWindow({path}, OpenFileByName));
        }
        QCOMPARE(script.extra(), 0);
        QCOMPARE(boxes_->shown().size(), size_t(1));
        QCOMPARE(boxes_->shown()[0].caption, QStringLiteral("Encryption Error \u2014 named.txt"));
        const QString& text = boxes_->shown()[0].text;
        QVERIFY2(text.startsWith(ErrorMessage(21, lastError) + QLatin1Char('\n')),
                 qPrintable(text));
        QVERIFY(text.contains(path) && text.contains(why));
    }

    // What the dialog lists is checked on a real (non-native) dialog: "All
    // files" must list a name without a dot, and it opens where the list is.
    void browseOffersBothFiltersAndStartsNothingWhenCancelled() {
        WriteFile(Documents(QStringLiteral("Letters/README")), "read me");
        WriteFile(Documents(QStringLiteral("Letters/old.txt.ksr")), "container");
        ScopedMainWindow window;
        BrowserView::Choose(window->view()->folderSelector(),
                            window->view()->folderSelector()->findText(QStringLiteral("Letters")));
        FileDialogRequest asked;
        SetFileDialogPort([&](QWidget*, const FileDialogRequest& request, QString*) {
            asked = request;
            return false;
        });
        QString path = QStringLiteral("untouched");
        QVERIFY(!ChooseFileToOpen(window.get(), &path));
        QCOMPARE(path, QStringLiteral("untouched"));
        QCOMPARE(asked.kind, FileDialogRequest::Kind::Open);
        QCOMPARE(asked.title, QStringLiteral("Choose a file to encrypt or decrypt"));
        QCOMPARE(asked.initialPath, Documents(QStringLiteral("Letters")));
        QCOMPARE(asked.filters.size(), 2);
        QCOMPARE(asked.filters[0].description, QStringLiteral("All files"));
        QCOMPARE(asked.filters[1].description, QStringLiteral("Keshlor files"));

        const std::unique_ptr<QFileDialog> dialog(MakeFileDialog(nullptr, asked));
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        const auto* files = dialog->findChild<QListView*>(QStringLiteral("listView"));
        QVERIFY(files);
        const auto listed = [files] {
            QStringList names;
            const QModelIndex folder = files->rootIndex();
            for (int row = 0; row < files->model()->rowCount(folder); ++row)
                names << files->model()->index(row, 0, folder).data().toString();
            names.sort();
            return names;
        };
        QCOMPARE(dialog->directory().absolutePath(), Documents(QStringLiteral("Letters")));
        QTRY_COMPARE(listed(), (QStringList{"README", "old.txt.ksr"}));
        dialog->selectNameFilter(dialog->nameFilters().value(1));
        QTRY_COMPARE(listed(), QStringList{"old.txt.ksr"});
    }

    void browsedFileIsEncryptedAndTheListRefilled() {
        const QString plain = WriteFile(Documents(QStringLiteral("x.txt")), "ex");
        ScopedMainWindow window;
        QTreeWidget* list = window->view()->fileList();
        QCOMPARE(MarkOf(list, 0), ItemMark::NoMark);
        SetFileDialogPort([&](QWidget*, const FileDialogRequest&, QString* chosen) {
            *chosen = plain;
            return true;
        });
        DialogScript script({Accept(QStringLiteral("pw"))});
        QVERIFY(window->DispatchCommand(CmdBrowseForFile));
        QVERIFY(script.finished());
        QVERIFY(Exists(plain + QStringLiteral(".ksr")));
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("x.txt"));
        QCOMPARE(MarkOf(list, 0), ItemMark::Encrypted);
    }

    // The real program started while this window runs, with relative paths:
    // they are handed over, wait for the open dialog, then are encrypted here
    // in the order given, and the list shows the result.
    void aSecondCopysFilesAreOpenedHereInTurn() {
        WriteFile(Documents(QStringLiteral("b.txt")), "bee");
        WriteFile(Documents(QStringLiteral("a.txt")), "ay");
        const QString deep = DeepName(300, QStringLiteral(".txt"));
        WriteFile(Documents(deep), "deep");
        const QByteArray instance = "handover-" + QByteArray::number(getpid());
        InstanceChannel channel(InstanceChannelName(geteuid(), instance));
        QCOMPARE(channel.Claim(), ClaimResult::Claimed);
        QPointer<MainWindow> window = CreateMainWindow({}, OpenFileByName, &channel);
        QVERIFY(window);
        QDialog open;
        open.open();
        QStringList asked;
        DialogScript script(
            {[](QWidget*) {}, NoteAndAccept(&asked), NoteAndAccept(&asked), NoteAndAccept(&asked)},
            15000);

        QProcess copy;
        copy.setProcessEnvironment(ProgramEnvironment(instance));
        copy.setWorkingDirectory(DocumentsFolder());
        copy.start(QStringLiteral(KESHLOR_PROGRAM),
                   {QStringLiteral("b.txt"), QStringLiteral("a.txt"), deep});
        QVERIFY(WaitUntil([&] { return copy.state() == QProcess::NotRunning; }, 15000));
        QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
        QCOMPARE(copy.exitCode(), 0);
        // Taken by now; a while for them to be asked for, wrongly, meanwhile.
        QTest::qWait(500);
        QVERIFY(asked.isEmpty());
        open.close();
        QVERIFY(WaitUntil([&] { return asked.size() == 3 && !IsCommandRunning(); }, 15000));
        QVERIFY(script.finished());
        QCOMPARE(asked, (QStringList{Documents(QStringLiteral("b.txt")),
                                     Documents(QStringLiteral("a.txt")), Documents(deep)}));
        QVERIFY(Exists(Documents(deep) + QStringLiteral(".ksr")));
        QTreeWidget* list = window->view()->fileList();
        QVERIFY(RowOf(list, QStringLiteral("a.txt"), true) >= 0);
        QVERIFY(RowOf(list, QStringLiteral("b.txt"), true) >= 0);
        delete window.data();
    }

    // A copy that runs for its own command line will end: it refuses the
    // files of a later copy, which handles them itself, one after another,
    // and ends.
    void filesTheRunningCopyRefusesAreHandledHere() {
        const QString own = WriteFile(Documents(QStringLiteral("own.txt")), "own");
        const QStringList files{WriteFile(Documents(QStringLiteral("one.txt")), "1"),
                                WriteFile(Documents(QStringLiteral("two.txt")), "2")};
        const QByteArray instance = "refusing-" + QByteArray::number(getpid());
        const QByteArray name = InstanceChannelName(geteuid(), instance);
        QProcess first;
        first.setProcessEnvironment(ProgramEnvironment(instance));
        first.start(QStringLiteral(KESHLOR_PROGRAM), {own});
        QVERIFY(first.waitForStarted());
        QVERIFY(WaitUntil(
            [&] { return SendInstanceRequest(name, kRaiseRequest, 500) == InstanceReply::Done; },
            15000));

        InstanceChannel channel(name);
        QStringList left = files;
        QVERIFY(!DeferToRunningCopy(channel, &left));
        QVERIFY(!channel.claimed());
        QCOMPARE(left, files);
        QStringList asked;
        DialogScript script({NoteAndAccept(&asked), NoteAndAccept(&asked)});
        QPointer<MainWindow> window = CreateMainWindow(left, OpenFileByName, &channel);
        QVERIFY(!window);
        QVERIFY(script.finished());
        QCOMPARE(asked, files);
        QVERIFY(Exists(files[0] + QStringLiteral(".ksr")));
        QVERIFY(Exists(files[1] + QStringLiteral(".ksr")));

        QCOMPARE(SendInstanceRequest(name, kCloseRequest, 10000), InstanceReply::Done);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(ReadAll(own), QByteArray("own"));
    }

    // The real program, started with a file: it waits in the password dialog
    // with no main window, and a close request ends it with nothing saved;
    // started with an empty path, it runs as usual and saves its options
    // when closed.
    void programWithAFileEndsWithoutSaving() {
        const QString plain = WriteFile(Documents(QStringLiteral("notes.txt")), "kept");
        RemoveStore();
        const QByteArray instance = "named-" + QByteArray::number(getpid());
        const QByteArray channel =
            "KESHLOR-" + QByteArray::number(static_cast<qulonglong>(geteuid())) + '-' + instance;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KESHLOR_INSTANCE"), QString::fromLatin1(instance));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

        const auto runAndClose = [&](const QString& argument) {
            QProcess program;
            program.setProcessEnvironment(environment);
            program.start(QStringLiteral(KESHLOR_PROGRAM), {argument});
            if (!program.waitForStarted())
                return false;
            const bool answered = WaitUntil(
                [&] {
                    return SendInstanceRequest(channel, kRaiseRequest, 500) == InstanceReply::Done;
                },
                15000);
            const bool closed =
                SendInstanceRequest(channel, kCloseRequest, 10000) == InstanceReply::Done;
            return answered && closed && program.waitForFinished(10000) &&
                   program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0;
        };

        QVERIFY(runAndClose(plain));
        QCOMPARE(ReadAll(plain), QByteArray("kept"));
        QVERIFY(!Exists(plain + QStringLiteral(".ksr")));
        QVERIFY(!QFile::exists(StoreFileName()));

        QVERIFY(runAndClose(QString()));
        QVERIFY(StoreHas(QStringLiteral("WipePlainFiles")));
    }

  private:
    testing_ports::OptionValues options_;
    std::unique_ptr<testing_ports::ScriptedMessageBoxes> boxes_;
};

KESHLOR_GUI_TEST_MAIN(NamedFilesTest)
#include "test_named_files.moc"
