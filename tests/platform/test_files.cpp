// File stand-ins: exclusive opens, read-only refusal even for root, DOS
// attributes in user.DOSATTRIB, the three times, and Win32 error codes.
#include "platform/files.h"
#include "platform/last_error.h"
#include "temp_folder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace plat;
using testing_files::ReadAll;
using testing_files::TempFolder;

namespace {

class PlatformFiles : public ::testing::Test {
  protected:
    TempFolder folder;
};

TEST_F(PlatformFiles, ErrnoMapsToTheWin32CodesUsersSee) {
    EXPECT_EQ(Win32FromErrno(ENOENT), 2u);
    EXPECT_EQ(Win32FromErrno(ENOTDIR), 3u);
    EXPECT_EQ(Win32FromErrno(EACCES), 5u);
    EXPECT_EQ(Win32FromErrno(EPERM), 5u);
    EXPECT_EQ(Win32FromErrno(EBADF), 6u);
    EXPECT_EQ(Win32FromErrno(ENOMEM), 8u);
    EXPECT_EQ(Win32FromErrno(EWOULDBLOCK), 32u);
    EXPECT_EQ(Win32FromErrno(EEXIST), 80u);
    EXPECT_EQ(Win32FromErrno(EINVAL), 87u);
    EXPECT_EQ(Win32FromErrno(ENOSPC), 112u);
    EXPECT_EQ(Win32FromErrno(ENAMETOOLONG), 206u);
    EXPECT_EQ(Win32FromErrno(EIO), 1117u);
    EXPECT_EQ(Win32FromErrno(EXDEV), 31u);
}

TEST_F(PlatformFiles, MissingFilesReportNotFound) {
    EXPECT_EQ(GetFileAttributes(folder.path("absent")), kInvalidAttributes);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_FALSE(
        CreateFile(folder.path("absent/x"), Access::Read, Disposition::OpenExisting).valid());
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_FALSE(DeleteFile(folder.path("absent")));
    EXPECT_EQ(GetLastError(), 2u);
}

TEST_F(PlatformFiles, AnOpenFileIsHeldExclusively) {
    const QString path = folder.Write("held", "data");
    UniqueFd first = CreateFile(path, Access::Read, Disposition::OpenExisting);
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(CreateFile(path, Access::Read, Disposition::OpenExisting).valid());
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_FALSE(CreateFile(path, Access::Write, Disposition::TruncateExisting).valid());
    EXPECT_EQ(ReadAll(path), QByteArray("data")) << "a refused truncation must not truncate";
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    ASSERT_TRUE(first.close());
    UniqueFd again = CreateFile(path, Access::Read, Disposition::OpenExisting);
    EXPECT_TRUE(again.valid());
    again.reset();
}

TEST_F(PlatformFiles, ReadOnlyFilesRefuseWritingAndDeletionEvenForRoot) {
    const QString byMode = folder.Write("mode", "keep");
    ASSERT_EQ(::chmod(QFile::encodeName(byMode).constData(), 0444), 0);
    const QString byBit = folder.Write("bit", "keep");
    ASSERT_TRUE(SetFileAttributes(byBit, kAttrReadOnly | kAttrArchive));

    for (const QString& path : {byMode, byBit}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(GetFileAttributes(path) & kAttrReadOnly);
        EXPECT_FALSE(CreateFile(path, Access::Write, Disposition::OpenExisting).valid());
        EXPECT_EQ(GetLastError(), kErrorAccessDenied);
        EXPECT_FALSE(CreateFile(path, Access::Write, Disposition::TruncateExisting).valid());
        EXPECT_FALSE(DeleteFile(path));
        EXPECT_EQ(GetLastError(), kErrorAccessDenied);
        EXPECT_EQ(ReadAll(path), QByteArray("keep"));
        // Reading stays possible.
        UniqueFd reader = CreateFile(path, Access::Read, Disposition::OpenExisting);
        EXPECT_TRUE(reader.valid());
        reader.reset();
    }
    // Clearing the bit makes the file writable again, also when the mode was the reason.
    ASSERT_TRUE(SetFileAttributes(byMode, kAttrArchive));
    EXPECT_FALSE(GetFileAttributes(byMode) & kAttrReadOnly);
    EXPECT_TRUE(DeleteFile(byMode));
}

TEST_F(PlatformFiles, FoldersAreNeitherWrittenNorDeletedAsFiles) {
    ASSERT_TRUE(QDir(folder.root()).mkdir("sub"));
    const QString sub = folder.path("sub");
    EXPECT_TRUE(GetFileAttributes(sub) & kAttrDirectory);
    EXPECT_FALSE(CreateFile(sub, Access::Write, Disposition::TruncateExisting).valid());
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    EXPECT_FALSE(DeleteFile(sub));
    EXPECT_TRUE(QDir(sub).exists());
}

TEST_F(PlatformFiles, AttributesLiveInDosAttrib) {
    const QString path = folder.Write("plain", "x");
    EXPECT_EQ(GetFileAttributes(path), kAttrNormal) << "no bits stored yet";
    ASSERT_TRUE(SetFileAttributes(path, kAttrHidden | kAttrArchive));
    EXPECT_EQ(GetFileAttributes(path), kAttrHidden | kAttrArchive);
    char text[16] = {};
    const ssize_t n =
        ::getxattr(QFile::encodeName(path).constData(), "user.DOSATTRIB", text, sizeof text - 1);
    ASSERT_GT(n, 0);
    EXPECT_STREQ(text, "0x22");

    UniqueFd created = CreateFile(folder.path("new"), Access::Write, Disposition::CreateNew, 0x22);
    ASSERT_TRUE(created.valid());
    created.reset();
    EXPECT_EQ(GetFileAttributes(folder.path("new")), 0x22u);
    // Overwriting replaces the bits with the ones asked for.
    UniqueFd truncated =
        CreateFile(folder.path("new"), Access::Write, Disposition::TruncateExisting, 0x20);
    ASSERT_TRUE(truncated.valid());
    truncated.reset();
    EXPECT_EQ(GetFileAttributes(folder.path("new")), 0x20u);
}

TEST_F(PlatformFiles, CreateNewRefusesAnExistingName) {
    const QString path = folder.Write("taken", "old");
    EXPECT_FALSE(CreateFile(path, Access::Write, Disposition::CreateNew).valid());
    EXPECT_EQ(GetLastError(), kErrorFileExists);
    EXPECT_EQ(ReadAll(path), QByteArray("old"));
}

TEST_F(PlatformFiles, ThreeTimesAreSetAndReadBack) {
    const QString path = folder.Write("timed", "abc");
    UniqueFd file = CreateFile(path, Access::Write, Disposition::OpenExisting);
    ASSERT_TRUE(file.valid());
    const FileTimes wanted{1'000'000'000'123'000'000LL, 1'100'000'000'000'000'000LL,
                           1'200'000'000'456'000'000LL};
    ASSERT_TRUE(SetFileTime(file.get(), wanted));
    FileTimes got;
    ASSERT_TRUE(GetFileTime(file.get(), &got));
    file.reset();
    EXPECT_EQ(got.creation, wanted.creation);
    EXPECT_EQ(got.lastAccess, wanted.lastAccess);
    EXPECT_EQ(got.lastWrite, wanted.lastWrite);

    // Reading through the stand-in leaves the last-access time alone.
    UniqueFd reader = CreateFile(path, Access::Read, Disposition::OpenExisting);
    char buffer[8];
    uint32_t count = 0;
    ASSERT_TRUE(ReadFile(reader.get(), buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 3u);
    reader.reset();

    FindData data;
    ASSERT_TRUE(GetFindData(path, &data));
    EXPECT_EQ(data.name, QString("timed"));
    EXPECT_EQ(data.size, 3u);
    EXPECT_EQ(data.times.creation, wanted.creation);
    EXPECT_EQ(data.times.lastAccess, wanted.lastAccess);
    EXPECT_EQ(data.times.lastWrite, wanted.lastWrite);
}

TEST_F(PlatformFiles, FindDataCarriesSizesBeyond32Bits) {
    const QString path = folder.Write("sparse", "");
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 5'000'000'000LL), 0);
    FindData data;
    ASSERT_TRUE(GetFindData(path, &data));
    EXPECT_EQ(data.size, 5'000'000'000ULL);
}

TEST_F(PlatformFiles, InjectedWriteFaultsGiveShortWritesAndFailedFlushes) {
    UniqueFd file = CreateFile(folder.path("out"), Access::Write, Disposition::CreateNew);
    ASSERT_TRUE(file.valid());
    faults::FailWritesAfter(10, ENOSPC);
    char data[64] = {};
    uint32_t written = 0;
    EXPECT_TRUE(WriteFile(file.get(), data, sizeof data, &written));
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(GetLastError(), kErrorDiskFull);
    EXPECT_TRUE(WriteFile(file.get(), data, sizeof data, &written));
    EXPECT_EQ(written, 0u);
    faults::FailFlushes(true, EIO);
    EXPECT_FALSE(FlushFile(file.get()));
    EXPECT_EQ(GetLastError(), kErrorIoDevice);
    faults::Clear();
    EXPECT_TRUE(WriteFile(file.get(), data, sizeof data, &written));
    EXPECT_EQ(written, 64u);
    EXPECT_TRUE(FlushFile(file.get()));
    file.reset();
    EXPECT_EQ(ReadAll(folder.path("out")).size(), 74);
}

TEST_F(PlatformFiles, RandomBytesDiffer) {
    unsigned char a[32] = {}, b[32] = {};
    ASSERT_TRUE(GenerateRandom(a, sizeof a));
    ASSERT_TRUE(GenerateRandom(b, sizeof b));
    EXPECT_NE(QByteArray(reinterpret_cast<char*>(a), 32),
              QByteArray(reinterpret_cast<char*>(b), 32));
}

} // namespace
