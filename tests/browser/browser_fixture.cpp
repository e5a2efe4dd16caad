#include "browser_fixture.h"

#include "app/main_window.h"
#include "browser/row_paths.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "browser/view_input.h"
#include "gui/options.h"
#include "platform/files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace browser_testing {

namespace {

QString UserDirsFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs");
}

// Read-only folders made by a test must not keep it from being removed.
void RemoveTree(const QString& path) {
    QDirIterator entries(path, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString folder = entries.next();
        QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::WriteOwner);
    }
    QDir(path).removeRecursively();
}

} // namespace

QString DocumentsFolder() {
    return QDir::homePath() + QStringLiteral("/Documents");
}

void ResetHome() {
    RemoveTree(DocumentsFolder());
    RemoveTree(QDir::homePath() + QStringLiteral("/cards"));
    QDir().mkpath(DocumentsFolder());
    QFile::remove(UserDirsFile());
    RemoveStore();
    SetCards({});
}

void SetDocumentsFolder(const QString& path) {
    QDir().mkpath(path);
    QFile file(UserDirsFile());
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write("XDG_DOCUMENTS_DIR=\"" + QFile::encodeName(path) + "\"\n");
}

plat::StorageCard MakeCard(const QString& name) {
    const QString root = QDir::homePath() + QStringLiteral("/cards/") + name;
    QDir().mkpath(root);
    return {name, root};
}

void SetCards(const QList<plat::StorageCard>& cards) {
    plat::SetStorageCardEnumerator([cards] { return cards; });
}

void ResetOptions(testing_ports::OptionValues& options) {
    for (const OptionValue& option : kOptionLoadOrder)
        options.Set(option.id, option.id != ShowRootFolder);
}

QString WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void SetDosAttributes(const QString& path, uint32_t attributes) {
    if (!plat::SetFileAttributes(path, attributes))
        qFatal("cannot set the attributes of %s", qPrintable(path));
}

void MakeOwnerReadOnly(const QString& path) {
    QFile::setPermissions(path, QFile::permissions(path) & ~QFileDevice::WriteOwner &
                                    ~QFileDevice::WriteUser);
}

BrowserView::BrowserView() : view_(std::make_unique<ViewArea>(nullptr)) {
    view_->resize(480, 640);
    g_view = view_.get();
    InitView(view_.get());
}

BrowserView::~BrowserView() = default;

QTreeWidget* BrowserView::list() const {
    return view_->fileList();
}

QComboBox* BrowserView::storages() const {
    return view_->storageSelector();
}

QComboBox* BrowserView::folders() const {
    return view_->folderSelector();
}

ViewInput* BrowserView::handler() const {
    return view_->findChild<ViewInput*>(QStringLiteral("viewInput"));
}

QStringList BrowserView::RowTexts() const {
    QStringList texts;
    for (int row = 0; row < list()->topLevelItemCount(); ++row)
        texts << list()->topLevelItem(row)->text(0);
    return texts;
}

QStringList BrowserView::Entries(const QComboBox* selector) {
    QStringList entries;
    for (int position = 0; position < selector->count(); ++position)
        entries << selector->itemText(position);
    return entries;
}

QString BrowserView::PathOf(int row) const {
    QString path;
    return BuildItemPath(view_.get(), row, &path) ? path : QString();
}

void BrowserView::Choose(QComboBox* selector, int position) {
    selector->setCurrentIndex(position);
    emit selector->activated(position);
}

bool BrowserView::Show() {
    view_->show();
    return QTest::qWaitForWindowExposed(view_.get());
}

} // namespace browser_testing
