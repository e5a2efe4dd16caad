#pragma once
// The program's one main window, titled "Keshlor": the command bar at its
// foot, the view above it. It dispatches every command, and its close path
// (Exit, Ctrl+Q, the window's close button, a close request from outside, a
// stop signal) is the one place where the options are saved; it cancels a
// run under way first.
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <functional>

class InstanceChannel;
class QAction;
class QSocketNotifier;
class QTimer;
class QToolBar;
class ViewArea;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // Takes one path of the command line; true when it handled it as a file
    // to encrypt or decrypt.
    using CommandLineHandler = std::function<bool(QWidget* owner, const QString& path)>;

    MainWindow();
    ~MainWindow() override;

    // In this order: the command bar, the options, then either the
    // command-line files, one after another, or the view. False when a
    // command-line file was handled; the window is then to be destroyed
    // without saving anything.
    bool Create(const QStringList& commandLine, const CommandLineHandler& handler);

    QToolBar* commandBar() const { return commandBar_; }
    ViewArea* view() const { return view_; }
    // The About box while it is open.
    QDialog* aboutBox() const { return about_; }

    // The command dispatcher; false for an ID it does not know.
    bool DispatchCommand(int commandId);
    // A command action was triggered (menu item, button or accelerator).
    void OnCommandAction(QAction* action);

    // Another copy of the program was started.
    void RaiseFromOutside();
    // A close request from outside: open dialogs are dismissed and the window
    // closes as Exit does.
    void CloseFromOutside();
    // The close path has run: the options are saved and the window is hidden.
    bool hasClosed() const { return closed_; }

    // Files another copy was started with: the window comes to the front and
    // opens each as a command-line file, in turn, whenever no dialog or
    // command is open, refilling the list after each. False when it takes
    // none: it is closing, or is only here for its own command line.
    bool TakeHandedOverFiles(const QStringList& paths);

  signals:
    // Every command the dispatcher knows, before it is carried out.
    void commandReceived(int commandId);
    // The close path has run; the program is to end.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    QMenu* createPopupMenu() override { return nullptr; }

  private:
    friend MainWindow* CreateMainWindow(const QStringList&, const CommandLineHandler&,
                                        InstanceChannel*, QSocketNotifier*);
    void RunAboutBox();
    void BrowseForFile();
    void OpenNextHandedOverFile();

    QToolBar* commandBar_ = nullptr;
    ViewArea* view_ = nullptr;
    QPointer<QDialog> about_;
    bool creating_ = false;
    bool closePending_ = false;
    bool closed_ = false;
    QStringList handedOver_;
    QTimer* handOverTimer_ = nullptr;
};

// The main window while it exists.
extern QPointer<MainWindow> g_mainWindow;

// Makes the main window and runs its creation. Null when a command-line file
// was handled (the window is then gone, nothing saved). Requests that arrive
// on `channel` reach the window from the start (files handed over are taken
// once it shows its view), and waiting close requests are answered when it
// is destroyed. `interrupts`, a notifier on plat::InterruptNotifier, is taken
// as one more close request once a stop signal has come (it is then disabled).
// A close request that came during the creation has closed the window
// already (hasClosed).
MainWindow* CreateMainWindow(const QStringList& commandLine,
                             const MainWindow::CommandLineHandler& handler,
                             InstanceChannel* channel = nullptr,
                             QSocketNotifier* interrupts = nullptr);

// Places a window that is about to be shown: the whole visible part of a
// small (handheld) screen; on a larger one where it was when last closed, or
// else DefaultWindowSize in the middle.
void FitMainWindow(MainWindow* window);
// On a screen with `available` room: 40% of its width and 70% of its height,
// but at least a handheld's portrait screen (480 by 640) and at most the room.
QSize DefaultWindowSize(const QSize& available);
