// Paints a picture of the main window listing a folder of plain, hidden and
// encrypted files, for people to look at (docs/file-list.png):
//
//   keshlor_file_list_picture OUTPUT.png
//
// The folder is made in a temporary home; the containers are real ones,
// written by the engine.
#include "app/main_window.h"
#include "browser/view_area.h"
#include "engine/encrypt_pipeline.h"
#include "gui/gui_ports.h"
#include "gui/options.h"
#include "gui_test_support.h"
#include "platform/files.h"
#include "platform/storage_cards.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>

namespace {

bool Write(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool Encrypt(const QString& folder, const QString& name, const QByteArray& content) {
    const QString plain = folder + QLatin1Char('/') + name;
    return Write(plain, content) &&
           EncryptFileToContainer(nullptr, plain, plain + QStringLiteral(".ksr"),
                                  QStringLiteral("picture")) == EncryptResult::Ok;
}

// A large file without its data: the Size column shows the widest texts.
bool Sparse(const QString& path, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

bool Hide(const QString& path) {
    return plat::SetFileAttributes(path, plat::kAttrHidden | plat::kAttrArchive);
}

// Sets the files' times to one day, so the picture does not change with it.
void SetDay(const QString& path, const QDateTime& when) {
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(when, QFileDevice::FileModificationTime);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir home;
    UsePictureHome(home, "picture");
    QApplication app(argc, argv);
    UseDesktopIconTheme();

    const QString documents = home.filePath(QStringLiteral("Documents"));
    const QString card = home.filePath(QStringLiteral("media/SD Card"));
    QDir().mkpath(documents);
    QDir().mkpath(card + QStringLiteral("/Documents"));
    plat::SetStorageCardEnumerator([card] {
        return QList<plat::StorageCard>{{QStringLiteral("SD Card"), card}};
    });
    // Containers as "Hide encrypted files" off leaves them; one is hidden below.
    plat::SetOptionPort(
        [](uint16_t id) { return id == HideEncrypted || id == WipePlainFiles ? 0 : 1; });

    const QByteArray text = QByteArray("Keshlor keeps this file safe.\n").repeated(40);
    // The container first: encrypting disposes of its plain file.
    bool ok = Encrypt(documents, QStringLiteral("notes.txt"), text) &&
              Write(documents + QStringLiteral("/notes.txt"), "Shopping: bread, milk.\n") &&
              Write(documents + QStringLiteral("/holiday.jpg"), QByteArray(183402, 'j')) &&
              Write(documents + QStringLiteral("/budget 2024.ods"), QByteArray(23817, 'b')) &&
              Encrypt(documents, QStringLiteral("tax return.pdf"), QByteArray(96000, 't')) &&
              Encrypt(documents, QStringLiteral("letter.odt"), text) &&
              Hide(documents + QStringLiteral("/letter.odt.ksr")) &&
              Write(documents + QStringLiteral("/diary.txt"), text) &&
              Hide(documents + QStringLiteral("/diary.txt")) &&
              Write(documents + QStringLiteral("/song.mp3"), QByteArray(4404019, 'm')) &&
              Sparse(documents + QStringLiteral("/holiday film.mkv"), 300 * 1048576) &&
              Encrypt(card + QStringLiteral("/Documents"), QStringLiteral("accounts.csv"), text) &&
              Write(card + QStringLiteral("/Documents/map.png"), QByteArray(1536, 'p'));
    if (!ok) {
        std::fprintf(stderr, "could not make the folder\n");
        return 1;
    }
    const QDateTime day(QDate(2024, 5, 17), QTime(10, 30), Qt::UTC);
    for (const QString& folder : {documents, card + QStringLiteral("/Documents")}) {
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            SetDay(folder + QLatin1Char('/') + name, day);
    }

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    // The card's files are in its documents folder, not at its root.
    QSettings(QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication))
        .setValue(QStringLiteral("ShowRootFolder"), 0);
    InstallGuiPorts();
    MainWindow* window = CreateMainWindow({}, nullptr);
    window->resize(360, 400);
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return 1;
    QTest::qWait(100);
    QTreeWidget* list = window->view()->fileList();
    list->setCurrentItem(list->topLevelItem(3));
    QTest::qWait(50);
    if (!window->grab().save(output)) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    std::printf("%d rows; wrote %s\n", list->topLevelItemCount(), argv[1]);
    delete window;
    return 0;
}
