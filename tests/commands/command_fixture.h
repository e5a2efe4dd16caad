#pragma once
// Shared pieces of the command tests: a driver that answers the password
// dialogs one after the other as real widgets, files and containers in the
// documents folder, and the file list's rows by name and kind.
#include "app/main_window.h"
#include "browser/list_marks.h"
#include "browser/view_area.h"
#include "browser_fixture.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace command_testing {

// Acts on each password dialog as it opens: the first step on the first
// dialog, the next step on the next one. A dialog beyond the script is
// cancelled and counted; one left open too long is closed, so a wrong test
// fails instead of hanging.
class DialogScript : public QObject {
  public:
    using Step = std::function<void(QWidget* dialog)>;
    explicit DialogScript(std::vector<Step> steps, int timeoutMs = 5000);
    // Every step ran, and nothing else opened or stayed open.
    bool finished() const { return acted_ == steps_.size() && extra_ == 0 && !timedOut_; }
    size_t acted() const { return acted_; }
    int extra() const { return extra_; }

  private:
    void Tick();

    std::vector<Step> steps_;
    size_t acted_ = 0;
    int extra_ = 0;
    bool timedOut_ = false;
    int timeoutMs_;
    QPointer<QWidget> last_;
    QTimer timer_;
    QElapsedTimer clock_;
};

QLineEdit* Field(QWidget* dialog, const char* name);
QPushButton* Button(QWidget* dialog, const char* name);
void Click(QWidget* dialog, const char* name);
// Types the password, and the confirmation too where the dialog has one.
void TypePassword(QWidget* dialog, const QString& password);
// Steps that type a password and accept ("&Encrypt" or "&Decrypt"), or cancel.
DialogScript::Step Accept(const QString& password);
DialogScript::Step Cancel();

QString Documents(const QString& name);
QByteArray ReadAll(const QString& path);
bool Exists(const QString& path);
// Temporary files of runs left in the documents folder.
QStringList Leftovers();
// The browser tests' options, but new containers are not hidden and plain
// files are not wiped (no test here looks at the wiping).
void UseCommandOptions(testing_ports::OptionValues& options);
// A fresh start for each command test: a new home, the command options, new
// scripted message boxes and no password from an earlier test.
void StartCommandTest(testing_ports::OptionValues& options,
                      std::unique_ptr<testing_ports::ScriptedMessageBoxes>* boxes);
// Writes `name` in the documents folder and encrypts it into `name`.ksr with
// the engine at the given strength; the plain file is gone afterwards. The
// options are as UseCommandOptions leaves them when it returns.
QString MakeContainer(testing_ports::OptionValues& options, const QString& name,
                      const QByteArray& content, const QString& password, bool high = true,
                      bool hidden = false);

// The row of the list named `text` that is (or is not) a container; -1 if none.
int RowOf(QTreeWidget* list, const QString& text, bool encrypted);
ItemMark MarkOf(QTreeWidget* list, int row);

} // namespace command_testing
