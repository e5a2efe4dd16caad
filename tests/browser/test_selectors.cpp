// The storage and folder selectors: which cards and subfolders are offered,
// the storages' base folders (never the home folder itself), and the
// remembered storage and folder.
#include "browser_fixture.h"

#include "app/main_window.h"
#include "browser/selectors.h"
#include "browser/view_contents.h"
#include "gui/options.h"
#include "platform/files.h"

#include <QDir>

using namespace browser_testing;

class SelectorsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        ResetHome();
        ResetOptions(options_);
    }
    void cleanupTestCase() { ResetHome(); }

    void cardIsLeftOutExactlyWhenTheDocumentsFolderLiesOnIt() {
        const plat::StorageCard storage = MakeCard(QStringLiteral("Storage"));
        SetCards({MakeCard(QStringLiteral("Storage Card")), storage});
        const QStringList withoutStorage{"All Storage", "Main Memory", "Storage Card"};
        for (const QString& documents :
             {storage.root + QStringLiteral("/My Documents"), storage.root}) {
            SetDocumentsFolder(documents);
            BrowserView view;
            QCOMPARE(view.Entries(view.storages()), withoutStorage);
        }
        SetDocumentsFolder(DocumentsFolder());
        BrowserView view;
        QCOMPARE(view.Entries(view.storages()),
                 (QStringList{"All Storage", "Main Memory", "Storage", "Storage Card"}));
    }

    void subfolderOnTwoStoragesIsOfferedOnceAndProtectedOnesNotAtAll() {
        const plat::StorageCard card = MakeCard(QStringLiteral("SD"));
        SetCards({card});
        for (const char* folder : {"Notes", "notes", "Locked", "System", "Hidden"})
            QDir().mkpath(DocumentsFolder() + QLatin1Char('/') + QLatin1String(folder));
        QDir().mkpath(card.root + QStringLiteral("/Documents/Notes"));
        QDir().mkpath(card.root + QStringLiteral("/Documents/Music"));
        MakeOwnerReadOnly(DocumentsFolder() + QStringLiteral("/Locked"));
        SetDosAttributes(DocumentsFolder() + QStringLiteral("/System"), plat::kAttrSystem);
        SetDosAttributes(DocumentsFolder() + QStringLiteral("/Hidden"), plat::kAttrHidden);
        WriteFile(DocumentsFolder() + QStringLiteral("/Notes.txt"));

        BrowserView view;
        // Names differing in case are two folders on this system.
        QCOMPARE(view.Entries(view.folders()),
                 (QStringList{"All Folders", "Documents", "Hidden", "Music", "Notes", "notes"}));
        view.Choose(view.storages(), 2);
        QCOMPARE(view.Entries(view.folders()),
                 (QStringList{"All Folders", "Documents", "Music", "Notes"}));
    }

    void rememberedCardAndFolderComeBackOnlyWhereTheyExist() {
        SetCards({MakeCard(QStringLiteral("SD"))});
        QDir().mkpath(QDir::homePath() + QStringLiteral("/cards/SD/Documents/Travel"));
        QDir().mkpath(DocumentsFolder() + QStringLiteral("/Letters"));
        {
            BrowserView view;
            view.Choose(view.storages(), 2);
            view.Choose(view.folders(), 2);
            SaveOptions(CurrentStorageName(), CurrentFolderName());
        }
        {
            BrowserView view;
            QCOMPARE(view.storages()->currentText(), QStringLiteral("SD"));
            QCOMPARE(view.folders()->currentText(), QStringLiteral("Travel"));
        }
        // The card is gone: All Storage, and the folder only where one of its
        // name exists.
        SetCards({});
        {
            BrowserView view;
            QCOMPARE(view.storages()->currentIndex(), 0);
            QCOMPARE(view.folders()->currentIndex(), 1);
        }
        WriteStoreValue(QLatin1String(kRecentFolderValue), QStringLiteral("Letters"));
        {
            BrowserView view;
            QCOMPARE(view.folders()->currentText(), QStringLiteral("Letters"));
        }
        options_.Set(RememberFolder, false);
        BrowserView view;
        QCOMPARE(view.folders()->currentIndex(), 1);
    }

    void homeIsNeverTheBaseFolder() {
        const QString home = QDir::homePath();
        const QString link = home + QStringLiteral("/home-link");
        WriteFile(home + QStringLiteral("/notes.txt"));
        QVERIFY(QFile::link(home, link));
        const plat::StorageCard card = MakeCard(QStringLiteral("SD"));
        SetCards({card});
        for (const QString& documents : {home, link}) {
            QVERIFY(QDir(DocumentsFolder()).removeRecursively());
            SetDocumentsFolder(documents);
            BrowserView view;
            QVERIFY(QFileInfo(DocumentsFolder()).isDir());
            QCOMPARE(StorageBaseFolder(kBasePosition), DocumentsFolder());
            QCOMPARE(StorageBaseFolder(kFirstNamedPosition),
                     card.root + QStringLiteral("/Documents"));
            QCOMPARE(view.Entries(view.folders()), (QStringList{"All Folders", "Documents"}));
        }
        // Where it cannot be made, nothing is listed rather than home.
        QVERIFY(QDir(DocumentsFolder()).removeRecursively());
        WriteFile(DocumentsFolder());
        QVERIFY(BrowserView().RowTexts().isEmpty());
        QFile::remove(DocumentsFolder());
        QFile::remove(link);
        QFile::remove(home + QStringLiteral("/notes.txt"));
    }

  private:
    testing_ports::OptionValues options_;
};

KESHLOR_GUI_TEST_MAIN(SelectorsTest)
#include "test_selectors.moc"
