// The eight options: defaults, loading from and saving to the settings store
// (and saying when it cannot keep them), the grayed "High encryption", and
// the platform classification behind the default of "Use storage root".
#include "gui_test_support.h"

#include "app/main_window.h"
#include "engine/crypto_api.h"
#include "gui/options.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "port_doubles.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>

#include <unistd.h>

namespace {

QAction* OptionItem(uint16_t id) {
    for (QAction* action : g_menuOptions->actions()) {
        if (action->data().toInt() == id)
            return action;
    }
    return nullptr;
}

void CloseAndWait(MainWindow* window) {
    window->close();
    QVERIFY(WaitUntil([window] { return window->hasClosed(); }));
}

} // namespace

class OptionsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { InstallOptionPort(); }
    void init() {
        RemoveStore();
        SetEnhancedProviderAvailable(true);
    }
    void cleanup() { SetEnhancedProviderAvailable(true); }

    void firstRunStoresEveryOptionOnButStorageRootByPlatform() {
        QVERIFY(!QFileInfo::exists(StoreFileName()));
        ScopedMainWindow window;
        for (const OptionValue& option : kOptionLoadOrder) {
            const int expected = option.id == ShowRootFolder ? (DetectPlatform() <= 1 ? 0 : 1) : 1;
            QCOMPARE(IsOptionChecked(option.id), expected);
        }
        QCOMPARE(IsOptionEnabled(HighEncryption), 1);
        CloseAndWait(window.get());

        QVERIFY(QFileInfo::exists(StoreFileName()));
        for (const OptionValue& option : kOptionLoadOrder) {
            const QString expected = option.id == ShowRootFolder && DetectPlatform() <= 1
                                         ? QStringLiteral("0")
                                         : QStringLiteral("1");
            QCOMPARE(StoredValue(QLatin1String(option.valueName)).toString(), expected);
        }
        QCOMPARE(StoredValue(QLatin1String(kRecentStorageValue)).toString(), QString());
        QCOMPARE(StoredValue(QLatin1String(kRecentFolderValue)).toString(), QString());
    }

    void highEncryptionWithoutEnhancedProviderIsOffAndGrayed() {
        testing_ports::ScriptedMessageBoxes boxes;
        SetEnhancedProviderAvailable(false);
        WriteStoreValue(QStringLiteral("HighEncryption"), 1);
        ScopedMainWindow window;
        QCOMPARE(IsOptionChecked(HighEncryption), 0);
        QCOMPARE(IsOptionEnabled(HighEncryption), 0);
        QVERIFY(!OptionItem(HighEncryption)->isEnabled());

        ToggleOption(HighEncryption);
        QCOMPARE(IsOptionChecked(HighEncryption), 0);
        window->DispatchCommand(HighEncryption);
        QCOMPARE(IsOptionChecked(HighEncryption), 0);
        QVERIFY(window.ShowActive());
        QTest::keyClick(window.get(), Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(IsOptionChecked(HighEncryption), 0);
        QVERIFY(boxes.shown().empty());

        // The other options are untouched by the missing provider.
        QCOMPARE(IsOptionEnabled(FastCompression), 1);
        CloseAndWait(window.get());
        QCOMPARE(StoredValue(QStringLiteral("HighEncryption")).toString(), QStringLiteral("0"));
    }

    void storedValuesCountOnlyAs32BitNumbers_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("checked");
        // "Show date" is on by default, so a value taken as missing reads on;
        // one misread as a number would read off.
        QTest::newRow("seven") << QVariant(QStringLiteral("7")) << 1;
        QTest::newRow("zero") << QVariant(QStringLiteral("0")) << 0;
        QTest::newRow("one") << QVariant(QStringLiteral("1")) << 1;
        QTest::newRow("largest 32-bit") << QVariant(QStringLiteral("4294967295")) << 1;
        QTest::newRow("2^32, too large") << QVariant(QStringLiteral("4294967296")) << 1;
        QTest::newRow("2^32 * 2, too large") << QVariant(QStringLiteral("8589934592")) << 1;
        QTest::newRow("text") << QVariant(QStringLiteral("off")) << 1;
        QTest::newRow("empty") << QVariant(QString()) << 1;
        QTest::newRow("list") << QVariant(QStringList{QStringLiteral("0"), QStringLiteral("0")})
                              << 1;
    }
    void storedValuesCountOnlyAs32BitNumbers() {
        QFETCH(QVariant, stored);
        QFETCH(int, checked);
        WriteStoreValue(QStringLiteral("ShowDate"), stored);
        ScopedMainWindow window;
        QCOMPARE(IsOptionChecked(ShowDate), checked);
        CloseAndWait(window.get());
        // Saved back as 0 or 1, whatever was there.
        QCOMPARE(StoredValue(QStringLiteral("ShowDate")).toString(), QString::number(checked));
    }

    void closingSavesTheCheckMarksAsTheyAreThen() {
        WriteStoreValue(QStringLiteral("FastCompression"), 0);
        WriteStoreValue(QStringLiteral("WipePlainFiles"), 0);
        WriteStoreValue(QStringLiteral("ShowSize"), 0);
        ScopedMainWindow window;
        QCOMPARE(IsOptionChecked(FastCompression), 0);
        QCOMPARE(IsOptionChecked(WipePlainFiles), 0);
        QCOMPARE(IsOptionChecked(ShowSize), 0);
        QCOMPARE(IsOptionChecked(HideEncrypted), 1);

        window->DispatchCommand(FastCompression);
        window->DispatchCommand(HideEncrypted);
        CloseAndWait(window.get());

        const QStringList expected = {
            QStringLiteral("ShowDate=1"),       QStringLiteral("FastCompression=1"),
            QStringLiteral("HideEncrypted=0"),  QStringLiteral("HighEncryption=1"),
            QStringLiteral("RememberFolder=1"), QStringLiteral("ShowSize=0"),
            QStringLiteral("WipePlainFiles=0")};
        for (const QString& pair : expected) {
            const QStringList parts = pair.split(QLatin1Char('='));
            QCOMPARE(StoredValue(parts[0]).toString(), parts[1]);
        }
    }

    void rememberFolderOffForgetsTheLastStorageAndFolder() {
        WriteStoreValue(QLatin1String(kRecentStorageValue), QStringLiteral("Storage Card"));
        WriteStoreValue(QLatin1String(kRecentFolderValue), QStringLiteral("Notes"));
        WriteStoreValue(QStringLiteral("RememberFolder"), 0);
        ScopedMainWindow window;
        QCOMPARE(IsOptionChecked(RememberFolder), 0);
        CloseAndWait(window.get());
        QVERIFY(StoreHas(QLatin1String(kRecentStorageValue)));
        QCOMPARE(StoredValue(QLatin1String(kRecentStorageValue)).toString(), QString());
        QCOMPARE(StoredValue(QLatin1String(kRecentFolderValue)).toString(), QString());
        QCOMPARE(StoredValue(QStringLiteral("RememberFolder")).toString(), QStringLiteral("0"));
    }

    void unreadableStoreLeavesTheMenuAsBuiltAndSavesNothing() {
        // A folder where the store's file should be: it can be neither read
        // nor written.
        QVERIFY(QDir().mkpath(StoreFileName()));
        SetEnhancedProviderAvailable(false);
        {
            ScopedMainWindow window;
            for (const OptionValue& option : kOptionLoadOrder)
                QCOMPARE(IsOptionChecked(option.id), 1);
            // The provider is not even asked: the item stays enabled.
            QCOMPARE(IsOptionEnabled(HighEncryption), 1);
            window->DispatchCommand(ShowDate);
            CloseAndWait(window.get());
        }
        QVERIFY(QFileInfo(StoreFileName()).isDir());
        QVERIFY(QDir().rmdir(StoreFileName()));
    }

    // Read-only by the program's own attribute, then another user's: said
    // once at start-up, naming the file, which is then left as it was.
    void aStoreThatCannotKeepTheOptionsIsReportedOnce() {
        WriteStoreValue(QStringLiteral("ShowDate"), 0);
        QFile store(StoreFileName());
        QVERIFY(store.open(QIODevice::ReadOnly));
        const QByteArray before = store.readAll();
        store.close();
        QVERIFY(plat::SetFileAttributes(StoreFileName(), plat::kAttrReadOnly));
        for (const bool foreign : {false, true}) {
            if (foreign) {
                if (geteuid() != 0)
                    break;
                QVERIFY(plat::SetFileAttributes(StoreFileName(), plat::kAttrNormal));
                QCOMPARE(chown(QFile::encodeName(StoreFileName()).constData(), 65534, 65534), 0);
            }
            testing_ports::ScriptedMessageBoxes boxes;
            ScopedMainWindow window;
            QVERIFY(window.ShowActive());
            window->DispatchCommand(ShowDate);
            CloseAndWait(window.get());
            QCOMPARE(boxes.shown().size(), size_t{1});
            QCOMPARE(boxes.shown()[0].caption, QStringLiteral("Can't save options!"));
            QVERIFY2(boxes.shown()[0].text.contains(StoreFileName()),
                     qPrintable(boxes.shown()[0].text));
            QVERIFY(store.open(QIODevice::ReadOnly));
            QCOMPARE(store.readAll(), before);
            store.close();
        }
    }

    void optionsAnswerTheirDefaultsOnceTheMenuIsGone() {
        WriteStoreValue(QStringLiteral("ShowDate"), 0);
        WriteStoreValue(QStringLiteral("ShowRootFolder"), DefaultOption(ShowRootFolder) ? 0 : 1);
        {
            ScopedMainWindow window;
            QCOMPARE(IsOptionChecked(ShowDate), 0);
            QCOMPARE(IsOptionChecked(ShowRootFolder), DefaultOption(ShowRootFolder) ? 0 : 1);
        }
        QVERIFY(g_menuOptions.isNull());
        QCOMPARE(IsOptionChecked(ShowDate), 1);
        QCOMPARE(IsOptionChecked(ShowRootFolder), DefaultOption(ShowRootFolder));
        QCOMPARE(IsOptionEnabled(ShowDate), 0);
        ToggleOption(ShowDate);
        QCOMPARE(IsOptionChecked(ShowDate), 1);
    }

    void platformClassification_data() {
        QTest::addColumn<int>("major");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<QString>("type");
        QTest::addColumn<uint>("lastError");
        QTest::addColumn<int>("code");
        const uint denied = plat::kErrorAccessDenied;
        const uint other = plat::kErrorNotSupported;
        QTest::newRow("2") << 2 << true << QStringLiteral("PocketPC") << 0u << 0;
        QTest::newRow("3 Palm PC2") << 3 << true << QStringLiteral("Palm PC2") << 0u << 1;
        QTest::newRow("3 PocketPC") << 3 << true << QStringLiteral("PocketPC") << 0u << 2;
        QTest::newRow("3 Smartphone") << 3 << true << QStringLiteral("Smartphone") << 0u << 3;
        QTest::newRow("3 other name") << 3 << true << QStringLiteral("Jupiter") << 0u << 0;
        QTest::newRow("3 denied") << 3 << false << QString() << denied << 3;
        QTest::newRow("3 failed") << 3 << false << QString() << other << 0;
        QTest::newRow("4 Palm PC2") << 4 << true << QStringLiteral("Palm PC2") << 0u << 6;
        QTest::newRow("4 PocketPC") << 4 << true << QStringLiteral("PocketPC") << 0u << 4;
        QTest::newRow("4 Smartphone") << 4 << true << QStringLiteral("Smartphone") << 0u << 5;
        QTest::newRow("4 other name") << 4 << true << QStringLiteral("Jupiter") << 0u << 6;
        QTest::newRow("4 denied") << 4 << false << QString() << denied << 5;
        QTest::newRow("4 failed") << 4 << false << QString() << other << 6;
        QTest::newRow("5") << 5 << true << QStringLiteral("PocketPC") << 0u << 6;
        QTest::newRow("names are exact") << 4 << true << QStringLiteral("pocketpc") << 0u << 6;
    }
    void platformClassification() {
        QFETCH(int, major);
        QFETCH(bool, succeeded);
        QFETCH(QString, type);
        QFETCH(uint, lastError);
        QFETCH(int, code);
        PlatformTypeQuery query;
        query.succeeded = succeeded;
        query.type = type;
        query.lastError = lastError;
        QCOMPARE(ClassifyPlatform(major, query), code);
    }
};

KESHLOR_GUI_TEST_MAIN(OptionsTest)
#include "test_options.moc"
