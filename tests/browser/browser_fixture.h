#pragma once
// Shared pieces of the file browser's tests: folders and storage cards in the
// test program's private home, and a view set up by the browser.
#include "gui_test_support.h"
#include "platform/storage_cards.h"
#include "port_doubles.h"

#include <QComboBox>
#include <QTreeWidget>

#include <memory>

class ViewArea;
class ViewInput;

namespace browser_testing {

// $HOME/Documents, the documents folder every test starts with.
QString DocumentsFolder();
// Empties the documents folder, removes the cards and the settings store,
// and makes $HOME/Documents the documents folder again.
void ResetHome();
// Makes the system report `path` as the documents folder.
void SetDocumentsFolder(const QString& path);
// A card named `name` with its root below $HOME/cards.
plat::StorageCard MakeCard(const QString& name);
// The cards the enumeration reports from now on.
void SetCards(const QList<plat::StorageCard>& cards);
// Every option on but "Use storage root": the tests' cards keep their files
// in their documents folder.
void ResetOptions(testing_ports::OptionValues& options);

// Writes a file, making its folders, and returns its path.
QString WriteFile(const QString& path, const QByteArray& content = QByteArray("x"));
void SetDosAttributes(const QString& path, uint32_t attributes);
void MakeOwnerReadOnly(const QString& path);

// A view as the main window has it, set up by the browser.
class BrowserView {
  public:
    BrowserView();
    ~BrowserView();
    ViewArea* view() const { return view_.get(); }
    QTreeWidget* list() const;
    QComboBox* storages() const;
    QComboBox* folders() const;
    ViewInput* handler() const;

    QStringList RowTexts() const;
    static QStringList Entries(const QComboBox* selector);
    // The row's path as BuildItemPath gives it; empty when it fails.
    QString PathOf(int row) const;
    // Chooses an entry as the user does.
    static void Choose(QComboBox* selector, int position);
    // Shows the view and waits until it can be clicked.
    bool Show();

  private:
    std::unique_ptr<ViewArea> view_;
};

} // namespace browser_testing
