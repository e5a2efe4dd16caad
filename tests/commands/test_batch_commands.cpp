// The batch commands of the File menu on a folder of plain files and
// containers, hidden and not: which rows each scope takes, how a declined
// overwrite, a retried password, a Cancel and a failure shape the rest of
// the pass; and the desktop's dot files, which no batch may reach.
#include "browser/file_list.h"
#include "command_fixture.h"
#include "commands/file_commands.h"
#include "engine/error_report.h"
#include "platform/files.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace browser_testing;
using namespace command_testing;

class BatchCommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { StartCommandTest(options_, &boxes_); }
    void cleanup() {
        view_.reset();
        boxes_.reset();
    }
    void cleanupTestCase() { ResetHome(); }

    void eachScopeTakesItsRowsOnly_data() {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<int>("scope");
        QTest::addColumn<QStringList>("changed");
        QTest::newRow("Encrypt all")
            << true << int(BatchScope::All) << QStringList{"hidden.txt", "plain.txt"};
        QTest::newRow("Encrypt all hidden")
            << true << int(BatchScope::HiddenOnly) << QStringList{"hidden.txt"};
        QTest::newRow("Encrypt all visible")
            << true << int(BatchScope::VisibleOnly) << QStringList{"plain.txt"};
        QTest::newRow("Decrypt all") << false << int(BatchScope::All)
                                     << QStringList{"container.txt", "hidden container.txt"};
        QTest::newRow("Decrypt all hidden")
            << false << int(BatchScope::HiddenOnly) << QStringList{"hidden container.txt"};
        QTest::newRow("Decrypt all visible")
            << false << int(BatchScope::VisibleOnly) << QStringList{"container.txt"};
    }
    void eachScopeTakesItsRowsOnly() {
        QFETCH(bool, encrypt);
        QFETCH(int, scope);
        QFETCH(QStringList, changed);
        const QString pw = QStringLiteral("pw");
        WriteFile(Documents(QStringLiteral("plain.txt")), "plain");
        SetDosAttributes(WriteFile(Documents(QStringLiteral("hidden.txt")), "hidden"),
                         plat::kAttrArchive | plat::kAttrHidden);
        MakeContainer(options_, QStringLiteral("container.txt"), "container", pw);
        MakeContainer(options_, QStringLiteral("hidden container.txt"), "hidden container", pw,
                      true, true);
        QTreeWidget* list = ShowView();
        const QStringList names = view_->RowTexts();
        QList<bool> wasEncrypted;
        for (int row = 0; row < names.size(); ++row)
            wasEncrypted << IsItemEncrypted(row);

        DialogScript script({Accept(pw)});
        if (encrypt)
            BatchEncrypt(view_->view(), list, BatchScope(scope));
        else
            BatchDecrypt(view_->view(), list, BatchScope(scope));
        QVERIFY(script.finished());
        QVERIFY(boxes_->shown().empty());
        QCOMPARE(view_->RowTexts(), names);
        for (int row = 0; row < names.size(); ++row) {
            const bool nowEncrypted = wasEncrypted[row] != changed.contains(names[row]);
            QCOMPARE(IsItemEncrypted(row), nowEncrypted);
            const QString plain = Documents(names[row]);
            QCOMPARE(Exists(plain + QStringLiteral(".ksr")), nowEncrypted);
            QCOMPARE(Exists(plain), !nowEncrypted);
        }
        // What was decrypted is what had been encrypted.
        for (const QString& name : changed) {
            if (!encrypt)
                QCOMPARE(ReadAll(Documents(name)), name.chopped(4).toUtf8());
        }
    }

    void declinedOverwrite_data() {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<bool>("folder");
        QTest::newRow("Encrypt all skips that file") << true << false;
        QTest::newRow("Decrypt all ends the batch") << false << false;
        QTest::newRow("Encrypt all skips a folder's name") << true << true;
        QTest::newRow("Decrypt all ends at a folder's name") << false << true;
    }
    void declinedOverwrite() {
        QFETCH(bool, encrypt);
        QFETCH(bool, folder);
        const QString pw = QStringLiteral("pw");
        // "a.txt" exists both ways, so either run meets an existing target: a
        // file answered No, or a folder that cannot be overwritten at all.
        const QString source =
            encrypt ? Documents(QStringLiteral("a.txt")) : Documents(QStringLiteral("a.txt.ksr"));
        const QString target =
            encrypt ? Documents(QStringLiteral("a.txt.ksr")) : Documents(QStringLiteral("a.txt"));
        if (encrypt) {
            if (!folder)
                MakeContainer(options_, QStringLiteral("a.txt"), "old a", pw);
            WriteFile(source, "new a");
        } else {
            MakeContainer(options_, QStringLiteral("a.txt"), "new a", pw);
            if (!folder)
                WriteFile(target, "old a");
        }
        if (folder)
            QVERIFY(QDir().mkdir(target));
        const QByteArray sourceBefore = ReadAll(source);
        const QByteArray targetBefore = folder ? QByteArray() : ReadAll(target);
        const QString b = encrypt ? WriteFile(Documents(QStringLiteral("b.txt")), "b")
                                  : MakeContainer(options_, QStringLiteral("b.txt"), "b", pw);
        QTreeWidget* list = ShowView();
        if (!folder)
            boxes_->Answer(plat::kIdNo);
        DialogScript script({Accept(pw)});
        if (encrypt)
            BatchEncrypt(view_->view(), list, BatchScope::All);
        else
            BatchDecrypt(view_->view(), list, BatchScope::All);
        QVERIFY(script.finished());
        if (folder) {
            QCOMPARE(boxes_->captions(), std::vector<QString>{QStringLiteral("Can't overwrite!")});
            QVERIFY(boxes_->shown()[0].text.endsWith(
                QStringLiteral("\u201c%1\u201d is a folder.").arg(target)));
            QVERIFY(QFileInfo(target).isDir());
        } else {
            QCOMPARE(boxes_->captions(), std::vector<QString>{QStringLiteral("OK to overwrite?")});
            QCOMPARE(ReadAll(target), targetBefore);
        }
        QCOMPARE(ReadAll(source), sourceBefore);
        // The next file: taken by "Encrypt all", left by "Decrypt all".
        QCOMPARE(Exists(b), !encrypt);
        QCOMPARE(IsItemEncrypted(RowOf(list, QStringLiteral("b.txt"), true)), true);
        QCOMPARE(RowOf(list, QStringLiteral("b.txt"), false), -1);
    }

    void passwordChangedAtARetryServesTheRestOfTheBatch() {
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            MakeContainer(options_, QLatin1String(name), name, QStringLiteral("new"));
        QTreeWidget* list = ShowView();
        boxes_->Answer(plat::kIdRetry);
        DialogScript script(
            {[](QWidget* dialog) {
                 QCOMPARE(dialog->windowTitle(), QStringLiteral("Decrypt all files"));
                 Accept(QStringLiteral("old"))(dialog);
             },
             [](QWidget* dialog) {
                 // The batch keeps its batch dialog, which names the refused file.
                 QCOMPARE(dialog->objectName(), QStringLiteral("PasswordDialog132"));
                 QCOMPARE(dialog->windowTitle(), QStringLiteral("Decrypt a.txt.ksr"));
                 QCOMPARE(Field(dialog, "password")->selectedText(), QStringLiteral("old"));
                 Accept(QStringLiteral("new"))(dialog);
             }});
        BatchDecrypt(view_->view(), list, BatchScope::All);
        QVERIFY(script.finished());
        QCOMPARE(boxes_->captions(),
                 std::vector<QString>{QStringLiteral("Bad Password? \u2014 a.txt.ksr")});
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            QCOMPARE(ReadAll(Documents(QLatin1String(name))), QByteArray(name));
        QCOMPARE(PasswordText(SharedPasswordRequest()), QStringLiteral("new"));
    }

    void failureEndsTheBatchUnderItsCaption() {
        const QString held = WriteFile(Documents(QStringLiteral("a.txt")), "a");
        const QString next = WriteFile(Documents(QStringLiteral("b.txt")), "b");
        QTreeWidget* list = ShowView();
        const int fd = ::open(QFile::encodeName(held), O_RDONLY);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        DialogScript script({[](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Encrypt all visible files"));
            Accept(QStringLiteral("pw"))(dialog);
        }});
        BatchEncrypt(view_->view(), list, BatchScope::VisibleOnly);
        ::close(fd);
        QVERIFY(script.finished());
        QCOMPARE(boxes_->captions(),
                 std::vector<QString>{QStringLiteral("Batch Encrypt Error \u2014 a.txt")});
        QCOMPARE(boxes_->shown()[0].text, ErrorMessage(21, 32));
        QVERIFY(Exists(held) && !Exists(held + QStringLiteral(".ksr")));
        QVERIFY(Exists(next) && !Exists(next + QStringLiteral(".ksr")));
        QCOMPARE(list->topLevelItemCount(), 2);
        QVERIFY(!IsItemEncrypted(0) && !IsItemEncrypted(1));
    }

    void cancelStopsTheBatchAtTheFileUnderWork() {
        const QString a = WriteFile(Documents(QStringLiteral("a.txt")), "a");
        const QByteArray content = RandomBytes(1 << 20);
        const QString b = WriteFile(Documents(QStringLiteral("b.bin")), content);
        const QString c = WriteFile(Documents(QStringLiteral("c.txt")), "c");
        QTreeWidget* list = ShowView();
        RunMidway midway([list] { QTest::keyClick(list, Qt::Key_Escape); });
        DialogScript script({Accept(QStringLiteral("pw"))});
        BatchEncrypt(view_->view(), list, BatchScope::All);
        QVERIFY(midway.acted());
        QVERIFY(script.finished());
        QVERIFY(boxes_->shown().empty());
        QVERIFY(!Exists(a) && Exists(a + QStringLiteral(".ksr")));
        QCOMPARE(ReadAll(b), content);
        QVERIFY(!Exists(b + QStringLiteral(".ksr")));
        QCOMPARE(MarkOf(list, RowOf(list, QStringLiteral("b.bin"), false)), ItemMark::NoMark);
        // Unlike a declined file, a cancelled one ends the batch.
        QVERIFY(Exists(c) && !Exists(c + QStringLiteral(".ksr")));
        QCOMPARE(Leftovers(), QStringList());
    }

    void cancelledBatchDialogRunsNothing() {
        const QString plain = WriteFile(Documents(QStringLiteral("a.txt")), "a");
        QTreeWidget* list = ShowView();
        DialogScript script({Cancel()});
        BatchEncrypt(view_->view(), list, BatchScope::All);
        QVERIFY(script.finished());
        QVERIFY(Exists(plain) && !Exists(plain + QStringLiteral(".ksr")));
        QVERIFY(boxes_->shown().empty());
    }

    void dotFilesAreNeitherListedNorOfferedNorTaken() {
        const QStringList dotFiles{".bashrc", ".keshlor-xyz", ".ssh/id_ed25519", "Letters/.config"};
        for (const QString& name : dotFiles)
            WriteFile(Documents(name), name.toUtf8());
        WriteFile(Documents(QStringLiteral("notes.txt")));
        WriteFile(Documents(QStringLiteral("Letters/letter.txt")));
        QTreeWidget* list = ShowView();
        QCOMPARE(view_->Entries(view_->folders()),
                 (QStringList{"All Folders", "Documents", "Letters"}));
        view_->Choose(view_->folders(), 0);
        QCOMPARE(view_->RowTexts(), (QStringList{"letter.txt", "notes.txt"}));

        DialogScript script({Accept(QStringLiteral("pw"))});
        BatchEncrypt(view_->view(), list, BatchScope::All);
        QVERIFY(script.finished());
        QVERIFY(IsItemEncrypted(0) && IsItemEncrypted(1));
        for (const QString& name : dotFiles) {
            QCOMPARE(ReadAll(Documents(name)), name.toUtf8());
            QVERIFY(!Exists(Documents(name) + QStringLiteral(".ksr")));
        }
    }

  private:
    QTreeWidget* ShowView() {
        view_ = std::make_unique<BrowserView>();
        if (!view_->Show())
            qFatal("the view was not shown");
        return view_->list();
    }

    testing_ports::OptionValues options_;
    std::unique_ptr<testing_ports::ScriptedMessageBoxes> boxes_;
    std::unique_ptr<BrowserView> view_;
};

KESHLOR_GUI_TEST_MAIN(BatchCommandsTest)
#include "test_batch_commands.moc"
