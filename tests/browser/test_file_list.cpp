// The file list: which files become rows and with which marks, the Date and
// Size texts, the order, the columns, and the row updates commands rely on.
#include "browser_fixture.h"

#include "app/main_window.h"
#include "browser/file_list.h"
#include "browser/list_marks.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "gui/options.h"
#include "platform/files.h"

#include <QFile>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QStyle>

#include <algorithm>

#include <ctime>

using namespace browser_testing;

namespace {

QString InDocuments(const QString& name) {
    return DocumentsFolder() + QLatin1Char('/') + name;
}

ItemMark MarkOf(const QTreeWidget* list, int row) {
    return static_cast<ItemMark>(list->topLevelItem(row)->data(0, kItemStateRole).toInt() >> 12);
}

} // namespace

class FileListTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        ResetHome();
        ResetOptions(options_);
    }
    void cleanupTestCase() { ResetHome(); }

    void sizeTextsAtEveryBoundary_data() {
        QTest::addColumn<qulonglong>("size");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << 0ULL << "0b";
        QTest::newRow("1024") << 1024ULL << "1024b";
        QTest::newRow("1025") << 1025ULL << "1.00k";
        QTest::newRow("1536") << 1536ULL << "1.50k";
        QTest::newRow("1 MiB") << 1048576ULL << "1024.00k";
        QTest::newRow("1 MiB + 1") << 1048577ULL << "1.00M";
        QTest::newRow("1023.99k cut, not rounded") << 1048575ULL << "1023.99k";
        QTest::newRow("1 GiB") << 1073741824ULL << "1024.00M";
        QTest::newRow("1 GiB + 1") << 1073741825ULL << "1.00G";
        QTest::newRow("4 GiB") << 4294967296ULL << "Huge!";
    }
    void sizeTextsAtEveryBoundary() {
        QFETCH(qulonglong, size);
        QFETCH(QString, text);
        QCOMPARE(SizeText(size), text);
    }

    void filesBecomeRowsInNameOrderWithTheirMarks() {
        for (const char* name : {"notes.txt", "notes.txt.ksr", "a.ksr", "B.txt"})
            WriteFile(InDocuments(QLatin1String(name)));
        SetDosAttributes(WriteFile(InDocuments("hidden.txt")), plat::kAttrHidden);
        SetDosAttributes(WriteFile(InDocuments("secret.doc.ksr")), plat::kAttrHidden);
        // Never listed: protected files, folders, and dot-files, which are
        // system files here (even one that looks like a container).
        WriteFile(InDocuments(".ksr"));
        SetDosAttributes(WriteFile(InDocuments("system.txt")), plat::kAttrSystem);
        SetDosAttributes(WriteFile(InDocuments("flagged.txt")), plat::kAttrReadOnly);
        MakeOwnerReadOnly(WriteFile(InDocuments("readonly.txt")));
        WriteFile(InDocuments("Folder/inside.txt"));
        BrowserView view;
        QCOMPARE(view.RowTexts(),
                 (QStringList{"a", "B.txt", "hidden.txt", "notes.txt", "notes.txt", "secret.doc"}));
        const auto mark = [&view](int row) { return MarkOf(view.list(), row); };
        QCOMPARE((QList<ItemMark>{mark(0), mark(1), mark(2), mark(5)}),
                 (QList<ItemMark>{ItemMark::Encrypted, ItemMark::NoMark, ItemMark::HiddenPlain,
                                  ItemMark::HiddenEncrypted}));
        // The plain notes.txt and its container, in either order.
        QVERIFY(std::minmax(mark(3), mark(4)) ==
                std::minmax(ItemMark::NoMark, ItemMark::Encrypted));
        QVERIFY(IsItemEncrypted(5) && IsItemHidden(5) && IsItemHidden(2) && !IsItemEncrypted(2));
        QCOMPARE(view.PathOf(0), InDocuments("a"));
    }

    void allStorageAndAllFoldersListOneLevelOfEveryStorage() {
        const QString card = MakeCard(QStringLiteral("SD")).root;
        SetCards({MakeCard(QStringLiteral("SD"))});
        WriteFile(InDocuments("a.txt"));
        WriteFile(InDocuments("Sub/b.txt"));
        WriteFile(InDocuments("Sub/Deeper/c.txt"));
        WriteFile(card + QStringLiteral("/Documents/d.txt"));
        WriteFile(card + QStringLiteral("/Documents/Other/e.txt"));
        WriteFile(card + QStringLiteral("/Documents/Other/Deeper/f.txt"));
        WriteFile(card + QStringLiteral("/g.txt")); // outside the card's base folder
        BrowserView view;
        view.Choose(view.folders(), 0);
        QCOMPARE(view.RowTexts(), (QStringList{"a.txt", "b.txt", "d.txt", "e.txt"}));
        QCOMPARE(view.PathOf(1), InDocuments("Sub/b.txt"));
        QCOMPARE(view.PathOf(3), card + QStringLiteral("/Documents/Other/e.txt"));
    }

    void dateIsTheLastWriteDayWithoutMovingToLocalTime() {
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "UTC-14"); // local time runs 14 hours ahead
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        const QString path = WriteFile(InDocuments("late.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2024, 5, 17), QTime(23, 30), Qt::UTC),
                                 QFileDevice::FileModificationTime));
        file.close();
        BrowserView view;
        QCOMPARE(view.list()->topLevelItem(0)->text(1), QStringLiteral("17/05/2024"));
        qputenv("TZ", zone);
        tzset();
    }

    // Date and Size fit their texts whole, to the fraction of a pixel the
    // list elides by ("30\u20260M" for 300 MB).
    void dateAndSizeFitTheirTextsAndAHiddenColumnHasNoWidth() {
        WriteFile(InDocuments("report.txt"), QByteArray(2000, 'r'));
        QFile big(WriteFile(InDocuments("video.mkv")));
        QVERIFY(big.resize(300 * 1048576));
        BrowserView view;
        QVERIFY(view.Show());
        QTreeWidget* list = view.list();
        QHeaderView* header = list->header();
        const int width = list->viewport()->width();
        const QFontMetricsF exact(list->font());
        const int margins =
            2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
        QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("300.00M"));
        for (int row = 0; row < 2; ++row) {
            for (int column = 1; column < 3; ++column) {
                const QString text = list->topLevelItem(row)->text(column);
                QVERIFY2(exact.horizontalAdvance(text) + margins <= header->sectionSize(column),
                         qPrintable(text));
            }
        }
        QCOMPARE(header->sectionSize(0) + header->sectionSize(1) + header->sectionSize(2), width);
        const QFontMetrics metrics = list->fontMetrics();

        options_.Set(ShowDate, false);
        FitColumns();
        QCOMPARE(header->sectionSize(1), 0);
        QCOMPARE(header->sectionSize(0), width - header->sectionSize(2));

        const int minimum =
            list->iconSize().width() + metrics.horizontalAdvance(QStringLiteral("KESHLOR")) + 10;
        view.view()->resize(60, 200);
        QTest::qWait(20);
        QVERIFY(list->viewport()->width() < minimum);
        QCOMPARE(header->sectionSize(0), minimum);
        QVERIFY(header->sectionSize(2) > 0);
    }

    void markingARowKeepsEveryRowAtItsIndex() {
        WriteFile(InDocuments("notes.txt"));
        WriteFile(InDocuments("notes.txt.ksr"));
        BrowserView view;
        // Two rows of one name: a mark on either must not move it past the other.
        for (int row : {0, 1}) {
            const ItemMark other = MarkOf(view.list(), 1 - row);
            const int former = SetItemMark(row, ItemMark::Busy);
            QCOMPARE(MarkOf(view.list(), row), ItemMark::Busy);
            QCOMPARE(MarkOf(view.list(), 1 - row), other);
            QVERIFY(!IsItemEncrypted(row));
            RestoreItemMark(row, -1);
            QCOMPARE(MarkOf(view.list(), row), ItemMark::Busy);
            RestoreItemMark(row, former);
            QCOMPARE(former,
                     ItemStateValue(IsItemEncrypted(row) ? ItemMark::Encrypted : ItemMark::NoMark));
        }
        QCOMPARE(IsItemEncrypted(0) + IsItemEncrypted(1), 1);
        QCOMPARE(SetItemMark(2, ItemMark::Busy), -1);
    }

    void refreshedDetailsFollowTheFileAndSurviveItsLoss() {
        const QString path = WriteFile(InDocuments("grows.txt"), QByteArray(10, 'g'));
        BrowserView view;
        QCOMPARE(view.list()->topLevelItem(0)->text(2), QStringLiteral("10b"));
        WriteFile(path, QByteArray(1536, 'g'));
        RefreshItemDetails(path, 0);
        QCOMPARE(view.list()->topLevelItem(0)->text(2), QStringLiteral("1.50k"));
        const QString date = view.list()->topLevelItem(0)->text(1);
        QVERIFY(QFile::remove(path));
        RefreshItemDetails(path, 0);
        QCOMPARE(view.list()->topLevelItem(0)->text(2), QStringLiteral("1.50k"));
        QCOMPARE(view.list()->topLevelItem(0)->text(1), date);
    }

    void iconsAreLookedUpOncePerType() {
        for (int i = 0; i < 40; ++i)
            WriteFile(InDocuments(QStringLiteral("file%1.%2").arg(i).arg(i % 2 ? "txt" : "PDF")));
        WriteFile(InDocuments("extra.pdf.ksr"));
        BrowserView view;
        RefreshFileList();
        QCOMPARE(SystemIconLookups(), 2);
        QVERIFY(!view.list()->topLevelItem(40)->icon(0).isNull());
    }

  private:
    testing_ports::OptionValues options_;
};

KESHLOR_GUI_TEST_MAIN(FileListTest)
#include "test_file_list.moc"
