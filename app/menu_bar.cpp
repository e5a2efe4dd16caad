#include "app/menu_bar.h"

#include "app/artwork.h"
#include "app/commands.h"
#include "app/main_window.h"
#include "gui/options.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QSizePolicy>
#include <QToolBar>
#include <QToolButton>

namespace {

QKeySequence AcceleratorFor(uint16_t command) {
    for (const Accelerator& accelerator : kAccelerators) {
        if (accelerator.command == command)
            return QKeySequence(Qt::CTRL | accelerator.key);
    }
    return {};
}

QAction* MakeCommand(MainWindow* window, uint16_t command, const QString& text,
                     const QString& toolTip = {}) {
    auto* action = new QAction(text, window);
    action->setData(command);
    action->setShortcut(AcceleratorFor(command));
    action->setShortcutContext(Qt::WindowShortcut);
    if (!toolTip.isEmpty())
        action->setToolTip(toolTip);
    // Also on the window itself, so that accelerators of items in closed
    // drop-downs work wherever the focus is.
    window->addAction(action);
    QObject::connect(action, &QAction::triggered, window,
                     [window, action] { window->OnCommandAction(action); });
    return action;
}

QToolButton* MakeButton(QToolBar* bar, const char* objectName, const QString& accessibleName,
                        const QString& toolTip) {
    auto* button = new QToolButton(bar);
    button->setObjectName(QLatin1String(objectName));
    button->setAccessibleName(accessibleName);
    button->setAccessibleDescription(toolTip);
    button->setToolTip(toolTip);
    button->setFocusPolicy(Qt::TabFocus);
    button->setAutoRaise(true);
    return button;
}

QToolButton* MakeImageButton(QToolBar* bar, const char* objectName, QAction* action,
                             CommandImage image) {
    action->setIcon(CommandBarImage(image));
    QToolButton* button = MakeButton(bar, objectName, action->text(), action->toolTip());
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->addWidget(button);
    return button;
}

// The underlined letter of `text` with Alt opens the drop-down.
QToolButton* MakeMenuButton(QToolBar* bar, const char* objectName, uint16_t command,
                            const QString& text, const QString& toolTip, QMenu* menu) {
    QToolButton* button =
        MakeButton(bar, objectName, QString(text).remove(QLatin1Char('&')), toolTip);
    button->setProperty("command", command);
    button->setText(text);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addWidget(button);
    return button;
}

QMenu* MakeFileMenu(MainWindow* window) {
    auto* menu = new QMenu(MainWindow::tr("File"), window);
    menu->setObjectName(QStringLiteral("fileMenu"));
    menu->setAccessibleName(MainWindow::tr("File"));
    menu->addAction(MakeCommand(window, CmdBrowseForFile, MainWindow::tr("Browse for file")));
    menu->addSeparator();
    menu->addAction(MakeCommand(window, CmdEncryptAll, MainWindow::tr("Encrypt all")));
    menu->addAction(MakeCommand(window, CmdEncryptAllHidden, MainWindow::tr("Encrypt all hidden")));
    menu->addAction(
        MakeCommand(window, CmdEncryptAllVisible, MainWindow::tr("Encrypt all visible")));
    menu->addSeparator();
    menu->addAction(MakeCommand(window, CmdDecryptAll, MainWindow::tr("Decrypt all")));
    menu->addAction(MakeCommand(window, CmdDecryptAllHidden, MainWindow::tr("Decrypt all hidden")));
    menu->addAction(
        MakeCommand(window, CmdDecryptAllVisible, MainWindow::tr("Decrypt all visible")));
    return menu;
}

QMenu* MakeOptionsMenu(MainWindow* window) {
    auto* menu = new QMenu(MainWindow::tr("Options"), window);
    menu->setObjectName(QStringLiteral("optionsMenu"));
    menu->setAccessibleName(MainWindow::tr("Options"));
    const auto option = [window, menu](uint16_t id, const QString& text) {
        QAction* action = MakeCommand(window, id, text);
        action->setCheckable(true);
        action->setChecked(true);
        menu->addAction(action);
    };
    option(ShowSize, MainWindow::tr("Show size"));
    option(ShowDate, MainWindow::tr("Show date"));
    option(ShowRootFolder, MainWindow::tr("Use storage root"));
    option(RememberFolder, MainWindow::tr("Remember folder"));
    menu->addSeparator();
    option(HighEncryption, MainWindow::tr("High encryption"));
    option(FastCompression, MainWindow::tr("Fast compression"));
    option(HideEncrypted, MainWindow::tr("Hide encrypted files"));
    option(WipePlainFiles, MainWindow::tr("Wipe after encryption"));
    return menu;
}

} // namespace

QToolBar* CreateAppMenuBar(MainWindow* window) {
    auto* bar = new QToolBar(MainWindow::tr("Commands"), window);
    bar->setObjectName(QStringLiteral("commandBar"));
    bar->setAccessibleName(MainWindow::tr("Commands"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));

    QMenu* fileMenu = MakeFileMenu(window);
    QMenu* optionsMenu = MakeOptionsMenu(window);

    MakeImageButton(
        bar, "exitButton",
        MakeCommand(window, CmdExit, MainWindow::tr("Exit"), MainWindow::tr("Exit Keshlor")),
        CommandImage::Exit);
    MakeMenuButton(bar, "fileButton", CmdFileMenu, MainWindow::tr("&File"),
                   MainWindow::tr("File operations"), fileMenu);
    MakeMenuButton(bar, "optionsButton", CmdOptionsMenu, MainWindow::tr("&Options"),
                   MainWindow::tr("Keshlor Options"), optionsMenu);
    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    QAction* refresh = MakeCommand(window, CmdRefresh, MainWindow::tr("Refresh"),
                                   MainWindow::tr("Refresh file list"));
    // The desktop's own key for it, beside Ctrl+R.
    refresh->setShortcuts({refresh->shortcut(), QKeySequence(Qt::Key_F5)});
    MakeImageButton(bar, "refreshButton", refresh, CommandImage::Refresh);
    MakeImageButton(
        bar, "aboutButton",
        MakeCommand(window, CmdAbout, MainWindow::tr("About"), MainWindow::tr("About Keshlor")),
        CommandImage::About);

    // The bar's own button for what does not fit.
    if (auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(MainWindow::tr("More commands"));

    window->addToolBar(Qt::BottomToolBarArea, bar);
    g_menuOptions = optionsMenu;
    return bar;
}
