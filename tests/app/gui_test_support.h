#pragma once
// Shared pieces of the GUI tests: a private home for each test program, the
// settings store, the main window, and a driver for modal dialogs and popups.
// WaitUntil comes with them (event_wait.h).
#include "event_wait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVariant>

#include <functional>

class MainWindow;

// The pictures in docs/: a private home under `home` and a running-copy name
// of their own, set before the QApplication exists; then, once it does, the
// look of a desktop with an icon theme.
void UsePictureHome(const QTemporaryDir& home, const char* instance);
void UseDesktopIconTheme();

// HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR (0700), XDG_DATA_HOME and a
// Documents folder in a fresh temporary folder, and a running-copy channel of
// this program's own. Must be made before the QApplication.
class GuiTestEnvironment {
  public:
    GuiTestEnvironment();
    QString root() const { return dir_.path(); }

  private:
    QTemporaryDir dir_;
};

#define KESHLOR_GUI_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char** argv) {                                                              \
        GuiTestEnvironment environment;                                                            \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

// The settings store as the program sees it.
QString StoreFileName();
void RemoveStore();
void WriteStoreValue(const QString& name, const QVariant& value);
QVariant StoredValue(const QString& name);
bool StoreHas(const QString& name);

// A main window created without a command line; destroyed (not closed, so
// nothing is saved) when the holder goes, unless it is already gone.
class ScopedMainWindow {
  public:
    ScopedMainWindow();
    ~ScopedMainWindow();
    MainWindow* get() const { return window_; }
    MainWindow* operator->() const { return window_; }
    bool alive() const { return !window_.isNull(); }
    // Shows the window and waits until it is the active one.
    bool ShowActive();

  private:
    QPointer<MainWindow> window_;
};

// A double-click as the window system delivers one: press, release, the
// second press as a double-click, release.
void DoubleClick(QWidget* widget, const QPoint& pos);

// Acts on the first modal dialog or popup menu that opens, from a timer that
// also runs inside that dialog's own event loop. Whatever is still open when
// the time is up gets closed, so a wrong test fails instead of hanging.
class ModalDriver : public QObject {
  public:
    explicit ModalDriver(std::function<void(QWidget*)> act, int timeoutMs = 3000);
    ~ModalDriver() override;
    bool acted() const { return acted_; }
    bool timedOut() const { return timedOut_; }

  private:
    void Tick();

    std::function<void(QWidget*)> act_;
    int timeoutMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool acted_ = false;
    bool timedOut_ = false;
};

// Bytes that do not compress, so that a run of them moves many pieces.
QByteArray RandomBytes(int size);

// Acts once in the middle of an engine run. The first time the run's progress
// bar is painted short of the end, `act` is queued to the event loop that
// the GUI thread keeps during the run; the run cannot have its next progress
// shown before `act` is done, so it acts while the data still moves. Progress
// shows from the first piece on while this lives.
class RunMidway : public QObject {
  public:
    explicit RunMidway(std::function<void()> act);
    ~RunMidway() override;
    bool acted() const { return acted_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void()> act_;
    bool queued_ = false;
    bool acted_ = false;
};
