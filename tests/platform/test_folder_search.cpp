// The folder search behind the selectors and the list: it agrees with the
// files service on every entry, and leaves out what no path can reach.
#include "platform/files.h"
#include "platform/folder_search.h"
#include "temp_folder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>

namespace {

std::map<QString, plat::FolderEntry> Search(const QString& folder) {
    std::vector<plat::FolderEntry> entries;
    EXPECT_TRUE(plat::SearchFolder(folder, &entries));
    std::map<QString, plat::FolderEntry> byName;
    for (const plat::FolderEntry& entry : entries)
        byName[entry.name] = entry;
    return byName;
}

TEST(FolderSearch, EntriesAgreeWithTheFilesService) {
    testing_files::TempFolder folder;
    folder.Write(QStringLiteral("plain.txt"), QByteArray(1500, 'p'));
    ASSERT_TRUE(plat::SetFileAttributes(folder.Write(QStringLiteral("hidden.txt"), "h"),
                                        plat::kAttrHidden | plat::kAttrArchive));
    ASSERT_TRUE(plat::SetFileAttributes(folder.Write(QStringLiteral("system.txt"), "s"),
                                        plat::kAttrSystem));
    ASSERT_TRUE(QFile::setPermissions(folder.Write(QStringLiteral("locked.txt"), "l"),
                                      QFileDevice::ReadOwner));
    ASSERT_TRUE(QDir(folder.root()).mkdir(QStringLiteral("Sub")));

    const auto entries = Search(folder.root());
    ASSERT_EQ(entries.size(), 5u);
    for (const auto& [name, entry] : entries) {
        plat::FindData data;
        ASSERT_TRUE(plat::GetFindData(folder.path(name), &data)) << qPrintable(name);
        EXPECT_EQ(entry.attributes, data.attributes) << qPrintable(name);
        EXPECT_EQ(entry.size, data.size) << qPrintable(name);
        EXPECT_EQ(entry.lastWrite, data.times.lastWrite) << qPrintable(name);
    }
    EXPECT_TRUE(entries.at(QStringLiteral("hidden.txt")).attributes & plat::kAttrHidden);
    EXPECT_TRUE(entries.at(QStringLiteral("locked.txt")).attributes & plat::kAttrReadOnly);
}

TEST(FolderSearch, LeavesOutWhatNoPathCouldReachOrOpen) {
    testing_files::TempFolder folder;
    folder.Write(QStringLiteral("kept.txt"), "k");
    const QByteArray root = QFile::encodeName(folder.root());
    ASSERT_EQ(::mkfifo((root + "/pipe").constData(), 0600), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", (root + "/dangling").constData()), 0);
    // Links are never rows or folders, whatever they lead to.
    ASSERT_EQ(::symlink("kept.txt", (root + "/link.txt").constData()), 0);
    ASSERT_EQ(::symlink(".", (root + "/Linked folder").constData()), 0);
    // Not UTF-8: as text and back it would be other bytes.
    const QByteArray badName = root + "/bad\xff"
                                      "name";
    const int fd = ::open(badName.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);

    const auto entries = Search(folder.root());
    ::unlink(badName.constData()); // the folder's own clean-up cannot name it
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->first, QStringLiteral("kept.txt"));
}

} // namespace
