#include "browser/row_paths.h"

#include "browser/browser_state.h"
#include "browser/selectors.h"
#include "engine/container_name.h"
#include "engine/error_report.h"
#include "gui/gui_ports.h"
#include "platform/file_names.h"
#include "platform/last_error.h"
#include "platform/path_limits.h"

namespace {

bool FailPath(QWidget* owner) {
    RecordError(kPathNotBuilt);
    ReportError(HandleOf(owner), QStringLiteral("Path Error"));
    return false;
}

// A row that leads to no folder: no file to name, and no detail left over
// from an earlier failure either.
bool FailLocation(QWidget* owner) {
    plat::SetLastError(plat::GetLastError());
    return FailPath(owner);
}

} // namespace

QString RowPlainPath(const QTreeWidgetItem* item) {
    const BrowserState& state = Browser();
    const uint32_t location = item->data(0, kItemLocationRole).toUInt();
    const int storage = static_cast<int>(location & 0xFFFF);
    const int folder = static_cast<int>(location >> 16);
    if (storage < kBasePosition || folder < kBasePosition ||
        storage >= state.listedBaseFolders.size())
        return {};
    QString built = state.listedBaseFolders.at(storage);
    if (folder >= kFirstNamedPosition) {
        const QString text = state.listedFolderTexts.value(folder);
        if (text.isEmpty())
            return {};
        built = plat::JoinPath(built, text);
    }
    const QString name = item->text(0);
    if (name.isEmpty())
        return {};
    return plat::JoinPath(built, name);
}

bool BuildItemPath(QWidget* owner, int row, QString* path) {
    const BrowserState& state = Browser();
    const QTreeWidgetItem* item = state.list ? state.list->topLevelItem(row) : nullptr;
    const QString built = item ? RowPlainPath(item) : QString();
    if (built.isEmpty())
        return FailLocation(owner);
    // Whole or not at all: cut short it would name another file.
    if (!plat::PathFits(built)) {
        plat::RefuseLongPath(built, false);
        return FailPath(owner);
    }
    *path = built;
    return true;
}

bool AppendContainerExtension(QWidget* owner, QString* path) {
    if (!plat::ContainerPathFits(*path)) {
        plat::RefuseLongPath(*path, true);
        RecordError(kNoRoomForExtension);
        ReportError(HandleOf(owner), QStringLiteral("Keshlor Path Error"));
        return false;
    }
    *path += QString::fromUtf16(kContainerExtension);
    return true;
}
