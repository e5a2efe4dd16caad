// Paints the pictures of the main window and the encrypt dialog for people to
// look at (docs/main-window.png, docs/encrypt-dialog.png):
//
//   keshlor_window_pictures DOCS_FOLDER
//
// The files are made in a temporary home. The pictures are taken from the
// screen, so that a menu or dialog over the window shows in them; under a
// window manager (QT_QPA_PLATFORM=xcb on Xvfb with openbox, as in docs/) with
// the windows' frames.
#include "app/main_window.h"
#include "browser/view_area.h"
#include "commands/password_dialogs.h"
#include "engine/encrypt_pipeline.h"
#include "gui/gui_ports.h"
#include "gui/options.h"
#include "gui_test_support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
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

// The screen where the window is, with whatever is open over it.
bool SaveScreenOf(QWidget* window, const QString& path) {
    QApplication::processEvents();
    const QRect area = window->frameGeometry();
    return window->screen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DOCS_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir docs(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir home;
    UsePictureHome(home, "window-pictures");
    QApplication app(argc, argv);
    UseDesktopIconTheme();

    const QString documents = home.filePath(QStringLiteral("Documents"));
    QDir().mkpath(documents);
    plat::SetOptionPort([](uint16_t id) { return id == HideEncrypted ? 0 : 1; });
    const QByteArray text = QByteArray("Keshlor keeps this file safe.\n").repeated(40);
    const bool made = Encrypt(documents, QStringLiteral("diary.txt"), text) &&
                      Write(documents + QStringLiteral("/bank letter.odt"), text) &&
                      Write(documents + QStringLiteral("/notes.txt"), "Shopping: bread.\n") &&
                      Encrypt(documents, QStringLiteral("passport scan.pdf"), text) &&
                      Write(documents + QStringLiteral("/README"), text);
    if (!made) {
        std::fprintf(stderr, "could not make the folder\n");
        return 1;
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    QSettings(QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication))
        .setValue(QStringLiteral("ShowDate"), 0);
    InstallGuiPorts();
    MainWindow* window = CreateMainWindow(QStringList(), nullptr);
    // In the middle of the screen, as the dialog is: the dialog comes up over
    // the window, and the drop-down, with no room below, opens upwards.
    const QRect screen = window->screen()->availableGeometry();
    window->setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(380, 560), screen));
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return 1;
    QTreeWidget* list = window->view()->fileList();
    list->setCurrentItem(list->topLevelItem(0));
    QTest::qWait(100);

    // The Options drop-down open above the line it decides.
    bool ok = true;
    auto* options = window->findChild<QToolButton*>(QStringLiteral("optionsButton"));
    QTimer::singleShot(200, [&] {
        ok = SaveScreenOf(window, docs.filePath(QStringLiteral("main-window.png")));
        if (QWidget* menu = QApplication::activePopupWidget())
            menu->close();
    });
    options->showMenu();

    // The encrypt dialog for the selected file, both fields typed.
    const QString letter = documents + QStringLiteral("/bank letter.odt");
    QTimer::singleShot(200, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) {
            ok = false;
            return;
        }
        for (QLineEdit* field : dialog->findChildren<QLineEdit*>())
            field->setText(QStringLiteral("correct horse"));
        QTimer::singleShot(100, [&, dialog] {
            ok = ok && SaveScreenOf(window, docs.filePath(QStringLiteral("encrypt-dialog.png")));
            dialog->close();
        });
    });
    PasswordRequest request;
    request.plainPath = letter;
    ShowPasswordDialog(window, SingleEncryptDialog, &request,
                       {QStringLiteral("Encrypt bank letter.odt"), letter});
    delete window;
    if (!ok) {
        std::fprintf(stderr, "could not take the pictures\n");
        return 1;
    }
    std::printf("wrote main-window.png and encrypt-dialog.png in %s\n", argv[1]);
    return 0;
}
