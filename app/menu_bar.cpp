#include "app/menu_bar.h"

#include "app/artwork.h"
#include "app/command_ids.h"
#include "gui/options.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QSizePolicy>
#include <QToolBar>
#include <QToolButton>

namespace {

using CommandHandler = std::function<void(QAction*)>;

// The texts are the main window's.
QString Tr(const char* text) {
    return QCoreApplication::translate("MainWindow", text);
}

QKeySequence AcceleratorFor(uint16_t command) {
    for (const Accelerator& accelerator : kAccelerators) {
        if (accelerator.command == command)
            return QKeySequence(Qt::CTRL | accelerator.key);
    }
    return {};
}

QAction* MakeCommand(QMainWindow* window, const CommandHandler& onCommand, uint16_t command,
                     const QString& text, const QString& toolTip = {}) {
    auto* action = new QAction(text, window);
    action->setData(command);
    action->setShortcut(AcceleratorFor(command));
    action->setShortcutContext(Qt::WindowShortcut);
    if (!toolTip.isEmpty())
        action->setToolTip(toolTip);
    // Also on the window itself, so that accelerators of items in closed
    // drop-downs work wherever the focus is.
    window->addAction(action);
    if (onCommand)
        QObject::connect(action, &QAction::triggered, window,
                         [onCommand, action] { onCommand(action); });
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

QMenu* MakeFileMenu(QMainWindow* window, const CommandHandler& onCommand) {
    auto* menu = new QMenu(Tr("File"), window);
    menu->setObjectName(QStringLiteral("fileMenu"));
    menu->setAccessibleName(Tr("File"));
    menu->addAction(MakeCommand(window, onCommand, CmdBrowseForFile, Tr("Browse for file")));
    menu->addSeparator();
    menu->addAction(MakeCommand(window, onCommand, CmdEncryptAll, Tr("Encrypt all")));
    menu->addAction(MakeCommand(window, onCommand, CmdEncryptAllHidden, Tr("Encrypt all hidden")));
    menu->addAction(
        MakeCommand(window, onCommand, CmdEncryptAllVisible, Tr("Encrypt all visible")));
    menu->addSeparator();
    menu->addAction(MakeCommand(window, onCommand, CmdDecryptAll, Tr("Decrypt all")));
    menu->addAction(MakeCommand(window, onCommand, CmdDecryptAllHidden, Tr("Decrypt all hidden")));
    menu->addAction(
        MakeCommand(window, onCommand, CmdDecryptAllVisible, Tr("Decrypt all visible")));
    return menu;
}

QMenu* MakeOptionsMenu(QMainWindow* window, const CommandHandler& onCommand) {
    auto* menu = new QMenu(Tr("Options"), window);
    menu->setObjectName(QStringLiteral("optionsMenu"));
    menu->setAccessibleName(Tr("Options"));
    const auto option = [window, &onCommand, menu](uint16_t id, const QString& text) {
        QAction* action = MakeCommand(window, onCommand, id, text);
        action->setCheckable(true);
        action->setChecked(true);
        menu->addAction(action);
    };
    option(ShowSize, Tr("Show size"));
    option(ShowDate, Tr("Show date"));
    option(ShowRootFolder, Tr("Use storage root"));
    option(RememberFolder, Tr("Remember folder"));
    menu->addSeparator();
    option(HighEncryption, Tr("High encryption"));
    option(FastCompression, Tr("Fast compression"));
    option(HideEncrypted, Tr("Hide encrypted files"));
    option(WipePlainFiles, Tr("Wipe after encryption"));
    return menu;
}

} // namespace

QToolBar* CreateAppMenuBar(QMainWindow* window, const CommandHandler& onCommand) {
    auto* bar = new QToolBar(Tr("Commands"), window);
    bar->setObjectName(QStringLiteral("commandBar"));
    bar->setAccessibleName(Tr("Commands"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));

    QMenu* fileMenu = MakeFileMenu(window, onCommand);
    QMenu* optionsMenu = MakeOptionsMenu(window, onCommand);

    MakeImageButton(bar, "exitButton",
                    MakeCommand(window, onCommand, CmdExit, Tr("Exit"), Tr("Exit Keshlor")),
                    CommandImage::Exit);
    MakeMenuButton(bar, "fileButton", CmdFileMenu, Tr("&File"), Tr("File operations"), fileMenu);
    MakeMenuButton(bar, "optionsButton", CmdOptionsMenu, Tr("&Options"), Tr("Keshlor Options"),
                   optionsMenu);
    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    QAction* refresh =
        MakeCommand(window, onCommand, CmdRefresh, Tr("Refresh"), Tr("Refresh file list"));
    // The desktop's own key for it, beside Ctrl+R.
    refresh->setShortcuts({refresh->shortcut(), QKeySequence(Qt::Key_F5)});
    MakeImageButton(bar, "refreshButton", refresh, CommandImage::Refresh);
    MakeImageButton(bar, "aboutButton",
                    MakeCommand(window, onCommand, CmdAbout, Tr("About"), Tr("About Keshlor")),
                    CommandImage::About);

    // The bar's own button for what does not fit.
    if (auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(Tr("More commands"));

    window->addToolBar(Qt::BottomToolBarArea, bar);
    g_menuOptions = optionsMenu;
    return bar;
}
