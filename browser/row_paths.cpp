#include "browser/row_paths.h"

#include "browser/browser_state.h"
#include "browser/file_list.h"
#include "browser/selectors.h"
#include "engine/container_name.h"
#include "engine/error_report.h"
#include "gui/gui_ports.h"
#include "platform/path_limits.h"

namespace {

bool FailPath(QWidget* owner) {
    RecordError(kPathNotBuilt);
    ReportError(HandleOf(owner), QStringLiteral("Path Error"));
    return false;
}

} // namespace

bool BuildItemPath(QWidget* owner, int row, QString* path) {
    const BrowserState& state = Browser();
    const QTreeWidgetItem* item = state.list ? state.list->topLevelItem(row) : nullptr;
    if (!item)
        return FailPath(owner);
    const uint32_t location = item->data(0, kItemLocationRole).toUInt();
    const int storage = static_cast<int>(location & 0xFFFF);
    const int folder = static_cast<int>(location >> 16);
    if (storage < kBasePosition || folder < kBasePosition ||
        storage >= state.listedBaseFolders.size())
        return FailPath(owner);

    QString built = state.listedBaseFolders.at(storage);
    if (built.size() > plat::kLongestPath)
        return FailPath(owner);
    const auto separate = [&built] {
        if (!built.endsWith(QLatin1Char('/')))
            built += QLatin1Char('/');
    };
    if (folder >= kFirstNamedPosition) {
        const QString text = state.listedFolderTexts.value(folder);
        if (text.isEmpty() || built.size() + 1 + text.size() > plat::kLongestPath)
            return FailPath(owner);
        separate();
        built += text;
    }
    if (built.size() + 1 > plat::kLongestPath)
        return FailPath(owner);
    separate();
    // A name that does not fit whole fails: cut short it would name another file.
    const QString name = item->text(0);
    if (name.isEmpty() || built.size() + name.size() > plat::kLongestPath)
        return FailPath(owner);
    built += name;
    *path = built;
    return true;
}

bool AppendContainerExtension(QWidget* owner, QString* path) {
    if (path->size() > kLongestPlainPath) {
        RecordError(kNoRoomForExtension);
        ReportError(HandleOf(owner), QStringLiteral("Keshlor Path Error"));
        return false;
    }
    *path += QString::fromUtf16(kContainerExtension);
    return true;
}
