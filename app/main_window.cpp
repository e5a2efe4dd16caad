#include "app/main_window.h"

#include "app/about_box.h"
#include "app/artwork.h"
#include "app/command_ids.h"
#include "app/help_window.h"
#include "app/menu_bar.h"
#include "app/safety_line.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "commands/file_commands.h"
#include "commands/password_dialogs.h"
#include "gui/gui_ports.h"
#include "gui/options.h"
#include "platform/instance_channel.h"
#include "platform/ports.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeySequence>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeWidget>

QPointer<MainWindow> g_mainWindow;

namespace {

// Below this the screen is a handheld's and the window takes all of it.
constexpr QSize kHandheldScreen(640, 480);
// The smallest a window on a larger screen starts: a handheld's portrait screen.
constexpr QSize kDesktopWindow(480, 640);
// How often files handed over by another copy look for a moment when no
// dialog or command is open.
constexpr int kHandOverPollMs = 100;

// The window's size and place on a desktop, kept with the options.
constexpr char kGeometryValue[] = "Geometry";

bool IsDispatched(int commandId) {
    switch (commandId) {
    case CmdAbout:
    case CmdRefresh:
    case FastCompression:
    case RememberFolder:
    case ShowRootFolder:
    case CmdExit:
    case ShowDate:
    case ShowSize:
    case HideEncrypted:
    case HighEncryption:
    case WipePlainFiles:
    case CmdEncryptAll:
    case CmdEncryptAllHidden:
    case CmdEncryptAllVisible:
    case CmdDecryptAll:
    case CmdDecryptAllHidden:
    case CmdDecryptAllVisible:
    case CmdBrowseForFile:
        return true;
    default:
        return false;
    }
}

QSettings OpenStore() {
    return QSettings(QString::fromLatin1(kSettingsOrganization),
                     QString::fromLatin1(kSettingsApplication));
}

bool RestoreWindowGeometry(QWidget* window) {
    const QVariant stored = OpenStore().value(QLatin1String(kGeometryValue));
    return stored.typeId() == QMetaType::QByteArray &&
           window->restoreGeometry(stored.toByteArray());
}

void DismissOpenDialogs() {
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window->isVisible() && window->isModal())
            window->close();
    }
}

} // namespace

MainWindow::MainWindow() {
    // The name by which the window is known to the platform, with its title.
    setObjectName(QStringLiteral("KESHLOR"));
    setWindowTitle(QStringLiteral("Keshlor"));
    setWindowIcon(AppIcon());

    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this,
            [this] { ShowHelp(this, QString::fromLatin1(kHelpMainContents)); });
}

MainWindow::~MainWindow() = default;

bool MainWindow::Create(const QStringList& commandLine, const CommandLineHandler& handler) {
    creating_ = true;
    commandBar_ = CreateAppMenuBar(this, [this](QAction* action) { OnCommandAction(action); });
    // Before the command-line files, so that they are handled with the stored options.
    LoadOptions();
    InstallSafetyLine(this);
    bool handled = false;
    for (const QString& path : commandLine) {
        // A close request or stop signal during one file ends the run there.
        if (!handler || closePending_)
            break;
        handled = handler(this, path) || handled;
    }
    if (handled) {
        creating_ = false;
        return false;
    }
    view_ = new ViewArea(this);
    setCentralWidget(view_);
    g_view = view_;
    InitView(view_);
    view_->fileList()->setFocus();
    // Said once, before any change the user would lose.
    const QString problem = OptionsStoreProblem();
    if (!problem.isEmpty())
        plat::MessageBox(HandleOf(this), problem, QString::fromLatin1(kOptionsNotSavedCaption),
                         plat::kMbOk | plat::kMbIconExclamation);
    creating_ = false;
    return true;
}

bool MainWindow::DispatchCommand(int commandId) {
    if (!IsDispatched(commandId))
        return false;
    emit commandReceived(commandId);
    QTreeWidget* list = view_ ? view_->fileList() : nullptr;
    switch (commandId) {
    case CmdAbout:
        RunAboutBox();
        break;
    case CmdRefresh:
        FillStorageSelector(0);
        FillFolderSelector(1);
        RefreshFileList();
        break;
    case ShowRootFolder:
        ToggleOption(ShowRootFolder);
        FillFolderSelector(1);
        RefreshFileList();
        break;
    case ShowDate:
    case ShowSize:
        ToggleOption(static_cast<uint16_t>(commandId));
        FitColumns();
        break;
    case FastCompression:
    case RememberFolder:
    case HideEncrypted:
    case HighEncryption:
    case WipePlainFiles:
        ToggleOption(static_cast<uint16_t>(commandId));
        break;
    case CmdExit:
        // Posted, as a close request is: the command finishes first.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        break;
    case CmdEncryptAll:
        BatchEncrypt(this, list, BatchScope::All);
        break;
    case CmdEncryptAllHidden:
        BatchEncrypt(this, list, BatchScope::HiddenOnly);
        break;
    case CmdEncryptAllVisible:
        BatchEncrypt(this, list, BatchScope::VisibleOnly);
        break;
    case CmdDecryptAll:
        BatchDecrypt(this, list, BatchScope::All);
        break;
    case CmdDecryptAllHidden:
        BatchDecrypt(this, list, BatchScope::HiddenOnly);
        break;
    case CmdDecryptAllVisible:
        BatchDecrypt(this, list, BatchScope::VisibleOnly);
        break;
    case CmdBrowseForFile:
        BrowseForFile();
        break;
    }
    return true;
}

void MainWindow::OnCommandAction(QAction* action) {
    if (action->isCheckable()) {
        // Qt has already flipped the check mark; the dispatcher's
        // ToggleOption is what changes an option, so take Qt's flip back.
        const QSignalBlocker blocker(action);
        action->setChecked(!action->isChecked());
    }
    DispatchCommand(action->data().toInt());
}

void MainWindow::RunAboutBox() {
    about_ = CreateAboutBox(this);
    about_->exec();
    delete about_;
}

void MainWindow::BrowseForFile() {
    QString path;
    if (!ChooseFileToOpen(this, &path))
        return;
    OpenFileByName(this, path);
    // Whatever became of the file, the list shows the folder as it now is.
    RefreshFileList();
}

bool MainWindow::TakeHandedOverFiles(const QStringList& paths) {
    if (creating_ || !view_ || closed_ || closePending_)
        return false;
    handedOver_.append(paths);
    RaiseFromOutside();
    if (!handOverTimer_) {
        // Polled rather than posted once: a dialog open now may be followed
        // by another, and the timer also fires inside their loops.
        handOverTimer_ = new QTimer(this);
        handOverTimer_->setInterval(kHandOverPollMs);
        connect(handOverTimer_, &QTimer::timeout, this, &MainWindow::OpenNextHandedOverFile);
    }
    handOverTimer_->start();
    return true;
}

void MainWindow::OpenNextHandedOverFile() {
    if (closed_ || handedOver_.isEmpty()) {
        handedOver_.clear();
        handOverTimer_->stop();
        return;
    }
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget() ||
        IsCommandRunning())
        return;
    OpenFileByName(this, handedOver_.takeFirst());
    // Whatever became of the file, the list shows the folder as it now is.
    RefreshFileList();
}

void MainWindow::RaiseFromOutside() {
    if (isVisible()) {
        if (isMinimized())
            showNormal();
        raise();
        activateWindow();
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

void MainWindow::CloseFromOutside() {
    // The window is only hidden here and the program's loops unwind before it
    // is destroyed, so code below an open dialog can still finish with it.
    DismissOpenDialogs();
    if (creating_) {
        closePending_ = true;
        return;
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (closed_)
        return;
    // A run under way stops at its next piece as Cancel stops it; the
    // command below unwinds before the program ends.
    CancelCommand();
    SaveOptions(CurrentStorageName(), CurrentFolderName());
    // A window that was never shown has no place of its own to remember.
    if (isVisible() && OptionsStoreProblem().isEmpty())
        OpenStore().setValue(QLatin1String(kGeometryValue), saveGeometry());
    closed_ = true;
    emit closed();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    NotifyPasswordDialogResized();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow())
        return;
    if (about_)
        about_->activateWindow();
    else
        FocusPasswordDialog();
}

MainWindow* CreateMainWindow(const QStringList& commandLine,
                             const MainWindow::CommandLineHandler& handler,
                             InstanceChannel* channel, QSocketNotifier* interrupts) {
    auto* window = new MainWindow;
    if (channel) {
        QObject::connect(channel, &InstanceChannel::raiseRequested, window,
                         &MainWindow::RaiseFromOutside);
        QObject::connect(channel, &InstanceChannel::closeRequested, window,
                         &MainWindow::CloseFromOutside);
        QObject::connect(window, &QObject::destroyed, channel,
                         &InstanceChannel::AnswerCloseRequests);
        channel->SetOpenHandler([guarded = QPointer<MainWindow>(window)](const QStringList& paths) {
            return guarded && guarded->TakeHandedOverFiles(paths);
        });
    }
    if (interrupts) {
        // The signal stays noted, so the notifier would fire again and again.
        QObject::connect(interrupts, &QSocketNotifier::activated, window, [window, interrupts] {
            interrupts->setEnabled(false);
            window->CloseFromOutside();
        });
    }
    if (!window->Create(commandLine, handler)) {
        delete window;
        return nullptr;
    }
    g_mainWindow = window;
    if (window->closePending_)
        window->close();
    return window;
}

void FitMainWindow(MainWindow* window) {
    const QScreen* screen = window->screen() ? window->screen() : QApplication::primaryScreen();
    if (!screen)
        return;
    const QRect free = screen->availableGeometry();
    if (free.width() < kHandheldScreen.width() || free.height() < kHandheldScreen.height()) {
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
        return;
    }
    if (RestoreWindowGeometry(window))
        return;
    const QSize size = DefaultWindowSize(free.size());
    window->resize(size);
    window->move(free.center() - QPoint(size.width() / 2, size.height() / 2));
}

QSize DefaultWindowSize(const QSize& available) {
    const QSize share(available.width() * 2 / 5, available.height() * 7 / 10);
    return share.expandedTo(kDesktopWindow).boundedTo(available);
}
