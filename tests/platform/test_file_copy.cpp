// The file copy: data, attributes and last-write time carried over, the
// refusals of an existing target, and no harm done by a copy that fails or
// that names its own source.
#include "platform/files.h"
#include "platform/last_error.h"
#include "temp_folder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <gtest/gtest.h>

using namespace plat;
using testing_files::NoiseBytes;
using testing_files::ReadAll;
using testing_files::TempFolder;

namespace {

class FileCopy : public ::testing::Test {
  protected:
    void TearDown() override { faults::Clear(); }

    QStringList Entries() const {
        return QDir(folder.root())
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    TempFolder folder;
};

TEST_F(FileCopy, CarriesDataAttributesAndLastWriteTimeButNotTheCreationTime) {
    const QByteArray data = NoiseBytes(200'000); // several pieces and a short one
    const QString source = folder.Write("source", data);
    ASSERT_TRUE(SetFileAttributes(source, kAttrHidden | kAttrArchive));
    const FileTimes old{1'000'000'000'000'000'000LL, 1'100'000'000'000'000'000LL,
                        1'200'000'000'000'000'000LL};
    UniqueFd file = CreateFile(source, Access::Write, Disposition::OpenExisting);
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(SetFileTime(file.get(), old));
    file.reset();

    const int64_t before = QDateTime::currentMSecsSinceEpoch() * 1'000'000LL - 1'000'000'000LL;
    ASSERT_TRUE(CopyFile(source, folder.path("copy"), true));
    EXPECT_EQ(ReadAll(folder.path("copy")), data);
    EXPECT_EQ(GetFileAttributes(folder.path("copy")), kAttrHidden | kAttrArchive);
    FileTimes copied;
    ASSERT_TRUE(GetFileTimesByPath(folder.path("copy"), &copied));
    EXPECT_EQ(copied.lastWrite, old.lastWrite);
    EXPECT_GE(copied.creation, before) << "a copy is a new file";
    EXPECT_GE(copied.lastAccess, before);
    EXPECT_EQ(Entries(), (QStringList{"copy", "source"})) << "no work file is left behind";
}

TEST_F(FileCopy, AnExistingTargetIsReplacedOnlyWhereThePlatformWouldReplaceIt) {
    const QString source = folder.Write("source", "new");
    const QString target = folder.Write("target", "old");

    EXPECT_FALSE(CopyFile(source, target, true));
    EXPECT_EQ(GetLastError(), kErrorFileExists);
    EXPECT_EQ(ReadAll(target), QByteArray("old"));

    ASSERT_TRUE(SetFileAttributes(target, kAttrReadOnly));
    EXPECT_FALSE(CopyFile(source, target, false));
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    ASSERT_TRUE(SetFileAttributes(target, kAttrArchive));

    ASSERT_TRUE(QDir(folder.root()).mkdir("folder"));
    EXPECT_FALSE(CopyFile(source, folder.path("folder"), false));
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    EXPECT_TRUE(QDir(folder.path("folder")).exists());

    const int holder = ::open(QFile::encodeName(target).constData(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_FALSE(CopyFile(source, target, false));
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    ::close(holder);
    EXPECT_EQ(ReadAll(target), QByteArray("old"));

    ASSERT_TRUE(CopyFile(source, target, false));
    EXPECT_EQ(ReadAll(target), QByteArray("new"));
    EXPECT_EQ(ReadAll(source), QByteArray("new"));
}

TEST_F(FileCopy, AFileCopiedOntoItselfUnderAnyNameIsLeftWhole) {
    const QString source = folder.Write("self", "precious");
    ASSERT_EQ(::link(QFile::encodeName(source).constData(),
                     QFile::encodeName(folder.path("alias")).constData()),
              0);
    ASSERT_TRUE(QFile::link(folder.root(), folder.path("again")));

    for (const QString& target : {source, folder.path("alias"), folder.path("again/self")}) {
        SCOPED_TRACE(target.toStdString());
        EXPECT_FALSE(CopyFile(source, target, false));
        EXPECT_EQ(GetLastError(), kErrorSharingViolation);
        EXPECT_EQ(ReadAll(source), QByteArray("precious"));
    }
}

TEST_F(FileCopy, AFailedCopyLeavesTheEarlierTargetAndNoPartialFile) {
    const QString source = folder.Write("source", NoiseBytes(100'000));
    const QString target = folder.Write("target", "earlier");

    faults::FailWritesAfter(70'000, ENOSPC);
    EXPECT_FALSE(CopyFile(source, target, false));
    EXPECT_EQ(GetLastError(), kErrorDiskFull);
    EXPECT_EQ(ReadAll(target), QByteArray("earlier"));
    faults::FailWritesAfter(70'000, ENOSPC);
    EXPECT_FALSE(CopyFile(source, folder.path("fresh"), false));

    faults::Clear();
    faults::FailFlushes(true, EIO);
    EXPECT_FALSE(CopyFile(source, folder.path("fresh"), false));
    EXPECT_EQ(GetLastError(), kErrorIoDevice);
    EXPECT_EQ(Entries(), (QStringList{"source", "target"}));
}

} // namespace
