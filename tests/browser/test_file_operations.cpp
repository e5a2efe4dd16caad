// The context menu of a row and its file operations: what the menu offers,
// where copies and moves go, the rules for an existing destination, that
// no operation loses a file it was not asked to remove, and hiding where the
// storage cannot keep the mark.
#include "browser_fixture.h"

#include "app/main_window.h"
#include "browser/file_list.h"
#include "browser/view_contents.h"
#include "engine/error_report.h"
#include "gui/file_dialogs.h"
#include "gui/popup_menu_port.h"
#include "platform/files.h"
#include "platform/last_error.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QStyleHints>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace browser_testing;

namespace {

QString InDocuments(const QString& name) {
    return DocumentsFolder() + QLatin1Char('/') + name;
}

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Exists(const QString& path) {
    return QFileInfo::exists(path);
}

// A descriptor open on a file, without a lock: it shows what happened to
// the file's data once its name is gone. (A second name would stop the wipe.)
int Witness(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        qFatal("cannot open %s", qPrintable(path));
    return fd;
}

QByteArray Witnessed(int fd) {
    QByteArray data(1 << 20, '\0');
    const ssize_t n = ::pread(fd, data.data(), data.size(), 0);
    ::close(fd);
    data.truncate(n < 0 ? 0 : n);
    return data;
}

const QString kPlainRefusal = QStringLiteral(
    "Plain file exists, and attributes prevent its deletion. Please choose a different name.");
const QString kContainerRefusal = QStringLiteral(
    "Keshlor file exists, but attributes prevent its deletion. Please choose a different name.");
const QString kContainerQuestion =
    QStringLiteral("Keshlor file exists - do you want to overwrite it?");
const QString kPlainQuestion = QStringLiteral("Plain file exists - do you want to overwrite it?");

constexpr uint32_t kRefusalStyle = plat::kMbOk | plat::kMbIconHand;
constexpr uint32_t kOverwriteStyle = plat::kMbYesNo | plat::kMbIconQuestion | plat::kMbDefButton2;
constexpr uint32_t kDeleteStyle = plat::kMbYesNo | plat::kMbIconQuestion;

} // namespace

class FileOperationsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        ResetHome();
        ResetOptions(options_);
        options_.Set(WipePlainFiles, false);
        WriteFile(InDocuments("notes.txt"), "plain notes");
        WriteFile(InDocuments("report.doc.ksr"), "ciphertext");
        view_ = std::make_unique<BrowserView>();
        QVERIFY(view_->Show());
        list_ = view_->list();
        // Shows up only when the list is filled again.
        WriteFile(InDocuments("zz-late.txt"));

        messages_ = std::make_unique<testing_ports::ScriptedMessageBoxes>();
        menus_.clear();
        choice_.clear();
        requests_.clear();
        answers_.clear();
        SetPopupMenuPort([this](QWidget*, const QList<PopupItem>& items, const QPoint&) {
            menus_ << items;
            for (const PopupItem& item : items) {
                if (item.command != 0 && item.text == choice_)
                    return item.command;
            }
            return 0;
        });
        SetFileDialogPort([this](QWidget*, const FileDialogRequest& request, QString* chosen) {
            requests_ << request;
            if (answers_.isEmpty() || answers_.first().isEmpty()) {
                if (!answers_.isEmpty())
                    answers_.removeFirst();
                return false;
            }
            *chosen = answers_.takeFirst();
            return true;
        });
    }
    void cleanup() {
        plat::faults::Clear();
        SetPopupMenuPort({});
        SetFileDialogPort({});
        messages_.reset();
        view_.reset();
    }
    void cleanupTestCase() { ResetHome(); }

    void theMenuOffersTheRowsCommandsInOrder() {
        SetDosAttributes(InDocuments("report.doc.ksr"), plat::kAttrHidden);
        RefreshFileList();
        WriteFile(InDocuments("zz-later.txt"));
        Choose(RowOf("notes.txt", false), QString());
        Choose(RowOf("report.doc", true), QString());
        QCOMPARE(menus_.size(), 2);
        QCOMPARE(Texts(menus_.at(0)),
                 (QStringList{"Encrypt / Open", "", "Move / Rename", "Copy", "Delete", "Hide"}));
        QCOMPARE(Texts(menus_.at(1)),
                 (QStringList{"Decrypt / Open", "", "Move / Rename", "Copy", "Delete", "Reveal"}));
        QVERIFY(menus_.at(0).at(1).command == 0);
        // Dismissed menus change nothing.
        QVERIFY(messages_->shown().empty());
        QVERIFY(!Listed("zz-later.txt"));
    }

    void holdingOrRightClickingEmptySpaceOpensNoMenu() {
        const QPoint below(10, list_->viewport()->height() - 5);
        QVERIFY(!list_->itemAt(below));
        QTest::mousePress(list_->viewport(), Qt::LeftButton, {}, below);
        QTest::qWait(QGuiApplication::styleHints()->mousePressAndHoldInterval() + 200);
        QTest::mouseRelease(list_->viewport(), Qt::LeftButton, {}, below);
        QContextMenuEvent click(QContextMenuEvent::Mouse, below,
                                list_->viewport()->mapToGlobal(below));
        QApplication::sendEvent(list_->viewport(), &click);
        QVERIFY(menus_.isEmpty());
    }

    void copyingAContainerRowWritesTheContainerOfTheChosenName() {
        answers_ << InDocuments("letter.doc");
        Choose(RowOf("report.doc", true), "Copy");
        QCOMPARE(Content(InDocuments("letter.doc.ksr")), QByteArray("ciphertext"));
        QCOMPARE(Content(InDocuments("report.doc.ksr")), QByteArray("ciphertext"));
        QVERIFY(!Exists(InDocuments("letter.doc")));

        QCOMPARE(requests_.size(), 1);
        const FileDialogRequest& request = requests_.first();
        QVERIFY(request.kind == FileDialogRequest::Kind::Save);
        QCOMPARE(request.title, QStringLiteral("Copy"));
        QCOMPARE(request.initialPath, InDocuments("report.doc"));
        const QString docType =
            QMimeDatabase().mimeTypeForFile("x.doc", QMimeDatabase::MatchExtension).comment();
        QVERIFY(!docType.isEmpty());
        QCOMPARE(request.filters.size(), 1);
        QCOMPARE(request.filters.first().pattern, QStringLiteral("*.doc"));
        QCOMPARE(request.filters.first().description, docType + " (encrypted)");
        QVERIFY(messages_->shown().empty());
        QVERIFY(Listed("letter.doc"));

        // A plain row's type carries no label.
        answers_ << QString();
        Choose(RowOf("notes.txt", false), "Copy");
        QCOMPARE(requests_.size(), 2);
        QCOMPARE(requests_.last().filters.size(), 1);
        QCOMPARE(requests_.last().filters.first().pattern, QStringLiteral("*.txt"));
        QVERIFY(!requests_.last().filters.first().description.contains("encrypted"));
    }

    void aDotInTheFolderNameIsNoExtension() {
        WriteFile(InDocuments("old.files/readme"));
        view_.reset();
        view_ = std::make_unique<BrowserView>();
        list_ = view_->list();
        const int folder = view_->folders()->findText("old.files");
        QVERIFY(folder > 0);
        BrowserView::Choose(view_->folders(), folder);
        answers_ << QString();
        Choose(RowOf("readme", false), "Move / Rename");
        QCOMPARE(requests_.size(), 1);
        QCOMPARE(requests_.first().title, QStringLiteral("Move / Rename"));
        QCOMPARE(requests_.first().initialPath, InDocuments("old.files/readme"));
        QCOMPARE(requests_.first().filters.size(), 1);
        QCOMPARE(requests_.first().filters.first().pattern, QStringLiteral("*."));
    }

    void movingAPlainFileWipesItsSourceOnlyWithTheOption_data() {
        QTest::addColumn<bool>("wipe");
        QTest::newRow("wipe on") << true;
        QTest::newRow("wipe off") << false;
    }
    void movingAPlainFileWipesItsSourceOnlyWithTheOption() {
        QFETCH(bool, wipe);
        options_.Set(WipePlainFiles, wipe);
        const QByteArray data(6000, 'a');
        WriteFile(InDocuments("notes.txt"), data);
        const int witness = Witness(InDocuments("notes.txt"));
        answers_ << InDocuments("renamed.txt");
        Choose(RowOf("notes.txt", false), "Move / Rename");

        QCOMPARE(Content(InDocuments("renamed.txt")), data);
        QVERIFY(!Exists(InDocuments("notes.txt")));
        const QByteArray left = Witnessed(witness);
        QCOMPARE(left.size(), data.size());
        QCOMPARE(left == data, !wipe);
        QVERIFY(messages_->shown().empty());
        QCOMPARE(view_->RowTexts(), (QStringList{"renamed.txt", "report.doc", "zz-late.txt"}));
    }

    // A move removes its source only while the source's name still holds the
    // file that was copied: a newer one put there meanwhile stays, said so.
    void aMoveKeepsAFileThatTookTheSourcesNameMeanwhile_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("container");
        QTest::newRow("plain file") << QStringLiteral("notes.txt") << false;
        QTest::newRow("container") << QStringLiteral("report.doc") << true;
    }
    void aMoveKeepsAFileThatTookTheSourcesNameMeanwhile() {
        QFETCH(QString, row);
        QFETCH(bool, container);
        options_.Set(WipePlainFiles, true);
        const QString source = InDocuments(row + (container ? ".ksr" : ""));
        const QByteArray copied = Content(source);
        const QString target = InDocuments(QStringLiteral("moved") + (container ? ".ksr" : ""));
        // The copy's own rename into place: the moment after it was read.
        plat::faults::AfterRename([&](const QString&, const QString& to) {
            if (to != target)
                return;
            WriteFile(InDocuments("newer"), "newer data");
            QCOMPARE(::rename(QFile::encodeName(InDocuments("newer")).constData(),
                              QFile::encodeName(source).constData()),
                     0);
        });
        answers_ << InDocuments("moved");
        Choose(RowOf(row, container), "Move / Rename");
        QCOMPARE(Content(target), copied);
        QCOMPARE(Content(source), QByteArray("newer data"));
        QCOMPARE(messages_->captions(), std::vector<QString>{"Can't delete!"});
        QVERIFY(
            messages_->shown()[0].text.contains(source + "\u201d was replaced by another file"));
    }

    // The next Delete after F2 must ask about the file just renamed: the
    // selection stays on the file worked on, under its new name, or on the
    // row that took its place once it is gone.
    void theSelectionStaysOnTheFileWorkedOn() {
        list_->setFocus();
        list_->setCurrentItem(list_->topLevelItem(RowOf("notes.txt", false)));
        answers_ << InDocuments("tidy.txt");
        QTest::keyClick(list_, Qt::Key_F2);
        QCOMPARE(view_->RowTexts(), (QStringList{"report.doc", "tidy.txt", "zz-late.txt"}));
        QCOMPARE(Selected(), QStringLiteral("tidy.txt"));

        answers_ << InDocuments("a-copy.txt");
        Choose(RowOf("tidy.txt", false), "Copy");
        QCOMPARE(Selected(), QStringLiteral("tidy.txt"));
        Choose(RowOf("tidy.txt", false), "Hide");
        QCOMPARE(Selected(), QStringLiteral("tidy.txt"));

        messages_->Answer(plat::kIdYes);
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(messages_->shown().back().text, InDocuments("tidy.txt"));
        QVERIFY(!Exists(InDocuments("tidy.txt")));
        QCOMPARE(Selected(), QStringLiteral("zz-late.txt"));

        WriteFile(InDocuments("b.txt"));
        RefreshFileList();
        QCOMPARE(Selected(), QStringLiteral("zz-late.txt"));
    }

    void failedCopiesAndMovesReportAndKeepTheSource() {
        options_.Set(WipePlainFiles, true);
        plat::faults::FailWritesAfter(0, ENOSPC);
        answers_ << InDocuments("moved.txt");
        Choose(RowOf("notes.txt", false), "Move / Rename");
        QCOMPARE(Content(InDocuments("notes.txt")), QByteArray("plain notes"));
        QVERIFY(!Exists(InDocuments("moved.txt")));
        QCOMPARE(messages_->captions(), (std::vector<QString>{"Move Failed"}));
        QCOMPARE(messages_->shown().back().text, ErrorMessage(33, plat::kErrorDiskFull));
        QVERIFY(Listed("zz-late.txt"));

        WriteFile(InDocuments("zz-later.txt"));
        answers_ << InDocuments("copied.txt");
        Choose(RowOf("notes.txt", false), "Copy");
        QVERIFY(!Exists(InDocuments("copied.txt")));
        QCOMPARE(messages_->shown().size(), size_t(2));
        QCOMPARE(messages_->shown().back().caption, QStringLiteral("Copy Failed"));
        QCOMPARE(messages_->shown().back().text, ErrorMessage(35, plat::kErrorDiskFull));
        QVERIFY(Listed("zz-later.txt"));
    }

    void protectedFilesAndFoldersAtTheNameAreRefusedAndTheDialogOpensAgain() {
        WriteFile(InDocuments("locked.txt"), "locked");
        MakeOwnerReadOnly(InDocuments("locked.txt"));
        QVERIFY(QDir().mkpath(InDocuments("sub")));
        WriteFile(InDocuments("guarded.ksr"), "guarded");
        SetDosAttributes(InDocuments("guarded.ksr"), plat::kAttrSystem);
        QVERIFY(QDir().mkpath(InDocuments("box.ksr")));
        answers_ << InDocuments("locked.txt") << InDocuments("sub") << InDocuments("guarded")
                 << InDocuments("box") << QString();
        Choose(RowOf("notes.txt", false), "Copy");

        QCOMPARE(requests_.size(), 5);
        for (const FileDialogRequest& request : requests_)
            QCOMPARE(request.initialPath, InDocuments("notes.txt"));
        const auto& shown = messages_->shown();
        QCOMPARE(shown.size(), size_t(4));
        QCOMPARE(shown[0].text, kPlainRefusal);
        QCOMPARE(shown[2].text, kContainerRefusal);
        QVERIFY(shown[1].text.contains("folder") && shown[3].text.contains("folder"));
        for (const auto& message : shown) {
            QCOMPARE(message.caption, QStringLiteral("Copy"));
            QCOMPARE(message.style, kRefusalStyle);
        }
        QCOMPARE(Content(InDocuments("locked.txt")), QByteArray("locked"));
        QCOMPARE(Content(InDocuments("guarded.ksr")), QByteArray("guarded"));
        QVERIFY(QFileInfo(InDocuments("sub")).isDir() && QFileInfo(InDocuments("box.ksr")).isDir());
        QVERIFY(!Listed("zz-late.txt"));
    }

    void aContainerAtTheNameIsDeletedOnlyAfterYes() {
        WriteFile(InDocuments("letter.txt.ksr"), "old container");
        answers_ << InDocuments("letter.txt") << InDocuments("letter.txt");
        messages_->Answer(plat::kIdNo);
        messages_->Answer(plat::kIdYes);
        Choose(RowOf("notes.txt", false), "Copy");

        QCOMPARE(requests_.size(), 2);
        QCOMPARE(requests_.last().initialPath, InDocuments("notes.txt"));
        QCOMPARE(messages_->shown().size(), size_t(2));
        for (const auto& message : messages_->shown()) {
            QCOMPARE(message.text, kContainerQuestion);
            QCOMPARE(message.caption, QStringLiteral("Copy"));
            QCOMPARE(message.style, kOverwriteStyle);
        }
        QVERIFY(!Exists(InDocuments("letter.txt.ksr")));
        QCOMPARE(Content(InDocuments("letter.txt")), QByteArray("plain notes"));
        QVERIFY(Listed("letter.txt"));
    }

    // The save dialog asks nothing about an existing name, so the copy does.
    void aPlainFileAtTheNameIsReplacedOnlyAfterYesAndIsWipedFirst() {
        options_.Set(WipePlainFiles, true);
        const QByteArray old(5000, 'o');
        WriteFile(InDocuments("old.txt"), old);
        const int witness = Witness(InDocuments("old.txt"));
        answers_ << InDocuments("old.txt") << InDocuments("old.txt");
        messages_->Answer(plat::kIdNo);
        messages_->Answer(plat::kIdYes);
        Choose(RowOf("report.doc", true), "Move / Rename");

        QCOMPARE(requests_.size(), 2);
        QCOMPARE(messages_->shown().size(), size_t(2));
        QCOMPARE(messages_->shown().front().text, kPlainQuestion);
        QCOMPARE(messages_->shown().front().style, kOverwriteStyle);
        // The name now holds the container only.
        QVERIFY(!Exists(InDocuments("old.txt")));
        QVERIFY(Witnessed(witness) != old);
        QCOMPARE(Content(InDocuments("old.txt.ksr")), QByteArray("ciphertext"));
        QVERIFY(!Exists(InDocuments("report.doc.ksr")));
    }

    // A move takes its source away only when it is the file that was copied,
    // unchanged since the copy began: a writer appending meanwhile keeps both.
    void aSourceThatChangedDuringTheMoveIsKeptBesideTheCopy() {
        options_.Set(WipePlainFiles, true);
        const QString source = InDocuments("notes.txt");
        // The copy's own rename into place: the moment after it was read.
        plat::faults::AfterRename([&](const QString&, const QString& to) {
            if (to != InDocuments("log2.txt"))
                return;
            QFile log(source);
            QVERIFY(log.open(QIODevice::Append));
            log.write("\nline 2");
        });
        answers_ << InDocuments("log2.txt");
        Choose(RowOf("notes.txt", false), "Move / Rename");
        QCOMPARE(Content(InDocuments("log2.txt")), QByteArray("plain notes"));
        QCOMPARE(Content(source), QByteArray("plain notes\nline 2"));
        QCOMPARE(messages_->captions(), std::vector<QString>{"Can't delete!"});
        QCOMPARE(messages_->shown()[0].text,
                 "\u201c" + source +
                     "\u201d changed while it was being moved; both copies were "
                     "kept.");
        QVERIFY(Listed("log2.txt") && Listed("notes.txt"));
    }

    // The names the user agreed to replace go only once the copy is done: a
    // copy or move that fails leaves every existing file as it was.
    void aFailedCopyOrMoveLeavesTheExistingTargetWhole() {
        options_.Set(WipePlainFiles, true);
        WriteFile(InDocuments("b.txt"), "existing b");
        WriteFile(InDocuments("b.txt.ksr"), "existing container of b");
        // Another program holds the source, so it cannot be read.
        const int holder =
            ::open(QFile::encodeName(InDocuments("notes.txt")).constData(), O_RDONLY);
        QCOMPARE(::flock(holder, LOCK_EX), 0);
        for (const char* command : {"Copy", "Move / Rename"}) {
            answers_ << InDocuments("b.txt");
            messages_->Answer(plat::kIdYes); // the plain file of the name
            messages_->Answer(plat::kIdYes); // its container
            Choose(RowOf("notes.txt", false), command);
        }
        ::close(holder);
        QCOMPARE(messages_->captions().back(), QStringLiteral("Move Failed"));
        QCOMPARE(messages_->shown().back().text, ErrorMessage(33, plat::kErrorSharingViolation));
        QCOMPARE(Content(InDocuments("b.txt")), QByteArray("existing b"));
        QCOMPARE(Content(InDocuments("b.txt.ksr")), QByteArray("existing container of b"));
        QCOMPARE(view_->RowTexts().count("b.txt"), 2); // the plain file and the container

        // A destination too small for the copy, where the name is taken.
        const QString small = QDir::homePath() + "/small";
        QVERIFY(QDir().mkpath(small));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=300k") != 0)
            QSKIP("cannot mount a small tmpfs here");
        const auto unmount = qScopeGuard([&] { ::umount(QFile::encodeName(small).constData()); });
        WriteFile(small + "/b.txt", "existing b");
        WriteFile(InDocuments("notes.txt"), QByteArray(575'000, 'n'));
        answers_ << small + "/b.txt";
        messages_->Answer(plat::kIdYes);
        Choose(RowOf("notes.txt", false), "Move / Rename");
        QCOMPARE(messages_->shown().back().text, ErrorMessage(33, plat::kErrorDiskFull));
        QCOMPARE(Content(small + "/b.txt"), QByteArray("existing b"));
        QCOMPARE(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{"b.txt"});
        QCOMPARE(Content(InDocuments("notes.txt")), QByteArray(575'000, 'n'));
    }

    // A target is the source when it is the same file (another name of it, a
    // folder reached through a link), never for names that differ in case
    // only on storage that keeps case: those are two files.
    void aTargetIsTheSourceOnlyWhenItIsTheSameFile() {
        options_.Set(WipePlainFiles, true);
        answers_ << InDocuments("NOTES.TXT");
        Choose(RowOf("notes.txt", false), "Move / Rename");
        QVERIFY(messages_->shown().empty());
        QCOMPARE(Content(InDocuments("NOTES.TXT")), QByteArray("plain notes"));
        QVERIFY(!Exists(InDocuments("notes.txt")));

        QVERIFY(QFile::link(DocumentsFolder(), QDir::homePath() + "/alias"));
        const QString alias = QDir::homePath() + "/alias/";
        QCOMPARE(::link(QFile::encodeName(InDocuments("NOTES.TXT")).constData(),
                        QFile::encodeName(InDocuments("second name")).constData()),
                 0);
        // Whatever would be asked, the answer would be to go ahead.
        for (int i = 0; i < 5; ++i)
            messages_->Answer(plat::kIdYes);
        answers_ << alias + "NOTES.TXT" << InDocuments("second name");
        Choose(RowOf("NOTES.TXT", false), "Move / Rename");
        Choose(RowOf("NOTES.TXT", false), "Copy");
        answers_ << InDocuments("report.doc.ksr") << alias + "report.doc";
        for (int i = 0; i < 2; ++i)
            Choose(RowOf("report.doc", true), "Move / Rename");
        QFile::remove(QDir::homePath() + "/alias");

        QCOMPARE(messages_->captions(),
                 (std::vector<QString>{"Move / Rename", "Copy", "Move / Rename", "Move / Rename"}));
        QCOMPARE(messages_->shown()[1].text,
                 "\u201c" + InDocuments("second name") + "\u201d is the same file as \u201c" +
                     InDocuments("NOTES.TXT") + "\u201d, so there is nothing to do.");
        QCOMPARE(Content(InDocuments("NOTES.TXT")), QByteArray("plain notes"));
        QCOMPARE(Content(InDocuments("second name")), QByteArray("plain notes"));
        QCOMPARE(Content(InDocuments("report.doc.ksr")), QByteArray("ciphertext"));
        QCOMPARE(QDir(DocumentsFolder()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"NOTES.TXT", "report.doc.ksr", "second name", "zz-late.txt"}));
    }

    void deleteAsksWithTheFullPathAndNoKeepsEverything() {
        messages_->Answer(plat::kIdNo);
        Choose(RowOf("notes.txt", false), "Delete");
        QCOMPARE(messages_->shown().size(), size_t(1));
        QCOMPARE(messages_->shown().front().text, InDocuments("notes.txt"));
        QCOMPARE(messages_->shown().front().caption, QStringLiteral("OK to delete file?"));
        QCOMPARE(messages_->shown().front().style, kDeleteStyle);
        QVERIFY(Exists(InDocuments("notes.txt")));
        QVERIFY(!Listed("zz-late.txt"));

        messages_->Answer(plat::kIdYes);
        Choose(RowOf("report.doc", true), "Delete");
        QCOMPARE(messages_->shown().size(), size_t(2));
        QCOMPARE(messages_->shown().back().text, InDocuments("report.doc"));
        QVERIFY(!Exists(InDocuments("report.doc.ksr")));
        QCOMPARE(view_->RowTexts(), (QStringList{"notes.txt", "zz-late.txt"}));
    }

    void hideAndRevealChangeTheFileAndTheMarkWithoutARefill() {
        const int plain = RowOf("notes.txt", false);
        const int container = RowOf("report.doc", true);
        Choose(plain, "Hide");
        Choose(container, "Hide");
        QVERIFY(plat::GetFileAttributes(InDocuments("notes.txt")) & plat::kAttrHidden);
        QVERIFY(plat::GetFileAttributes(InDocuments("report.doc.ksr")) & plat::kAttrHidden);
        QCOMPARE(MarkOf(plain), ItemMark::HiddenPlain);
        QCOMPARE(MarkOf(container), ItemMark::HiddenEncrypted);
        QVERIFY(!Listed("zz-late.txt"));

        Choose(plain, "Reveal");
        QVERIFY(!(plat::GetFileAttributes(InDocuments("notes.txt")) & plat::kAttrHidden));
        QCOMPARE(MarkOf(plain), ItemMark::NoMark);

        // A file that is gone keeps its row and mark, and nothing is said.
        QFile::remove(InDocuments("report.doc.ksr"));
        Choose(container, "Reveal");
        QCOMPARE(MarkOf(container), ItemMark::HiddenEncrypted);
        QVERIFY(messages_->shown().empty());
        QVERIFY(!Listed("zz-late.txt"));
    }

    void hidingOnStorageWithoutExtendedAttributesSaysSo() {
        // ramfs keeps no user extended attributes, like a FAT card.
        const QByteArray documents = QFile::encodeName(DocumentsFolder());
        if (::mount("ramfs", documents.constData(), "ramfs", 0, nullptr) != 0)
            QSKIP("cannot mount a ramfs here");
        const auto unmount = qScopeGuard([&documents] { ::umount(documents.constData()); });
        WriteFile(InDocuments("card notes.txt"));
        RefreshFileList();
        const int row = RowOf("card notes.txt", false);
        Choose(row, "Hide");
        QCOMPARE(messages_->captions(), std::vector<QString>{"Can't hide!"});
        QCOMPARE(messages_->shown()[0].text,
                 QStringLiteral("This storage keeps no extended attributes, where Keshlor records "
                                "the hidden mark, so \u201ccard notes.txt\u201d stays visible."));
        QCOMPARE(messages_->shown()[0].style, plat::kMbOk | plat::kMbIconExclamation);
        QCOMPARE(MarkOf(row), ItemMark::NoMark);
    }

  private:
    int RowOf(const QString& name, bool container) const {
        for (int row = 0; row < list_->topLevelItemCount(); ++row) {
            if (list_->topLevelItem(row)->text(0) == name && IsItemEncrypted(row) == container)
                return row;
        }
        qFatal("no row %s", qPrintable(name));
    }
    bool Listed(const QString& name) const { return view_->RowTexts().contains(name); }
    QString Selected() const {
        const QList<QTreeWidgetItem*> selected = list_->selectedItems();
        return selected.size() == 1 ? selected.first()->text(0) : QString();
    }
    ItemMark MarkOf(int row) const {
        return static_cast<ItemMark>(list_->topLevelItem(row)->data(0, kItemStateRole).toInt() >>
                                     12);
    }
    static QStringList Texts(const QList<PopupItem>& items) {
        QStringList texts;
        for (const PopupItem& item : items)
            texts << item.text;
        return texts;
    }
    // Right-clicks the row and picks `command` from its menu (none: dismiss).
    void Choose(int row, const QString& command) {
        choice_ = command;
        const QPoint centre = list_->visualItemRect(list_->topLevelItem(row)).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, centre,
                                list_->viewport()->mapToGlobal(centre));
        QApplication::sendEvent(list_->viewport(), &click);
    }

    testing_ports::OptionValues options_;
    std::unique_ptr<BrowserView> view_;
    QTreeWidget* list_ = nullptr;
    std::unique_ptr<testing_ports::ScriptedMessageBoxes> messages_;
    QList<QList<PopupItem>> menus_;
    QString choice_;
    QList<FileDialogRequest> requests_;
    QStringList answers_;
};

KESHLOR_GUI_TEST_MAIN(FileOperationsTest)
#include "test_file_operations.moc"
