// Disposing of plain files: the wipe pass, its Retry question, and the
// messages when the file cannot be deleted.
#include "engine/wipe.h"
#include "engine_fixture.h"
#include "platform/last_error.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_files;

namespace {

const QString kWipeFailed =
    "Wipe failed!\nClose any other applications which may be accessing this file.";

class Wipe : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        options.Set(WipePlainFiles, true);
    }
};

// Holds a file the way another program with an exclusive open would.
class Holder {
  public:
    explicit Holder(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY)) {
        ::flock(fd_, LOCK_EX);
    }
    ~Holder() { Release(); }
    void Release() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

TEST_F(Wipe, EveryByteIsOverwrittenAndTheLengthKept) {
    const char kPattern = '\x5A';
    for (const qsizetype size :
         {qsizetype(0), qsizetype(1), qsizetype(4096), qsizetype(4097), qsizetype(3 * 4096 + 5)}) {
        SCOPED_TRACE(size);
        const QByteArray original(size, kPattern);
        const QString path = folder.Write("victim", original);
        ASSERT_TRUE(WipeFileData(path));
        QByteArray after = ReadAll(path);
        EXPECT_EQ(after.size(), size);
        // Random bytes: no run of 16 original bytes survives in any whole piece.
        for (qsizetype piece = 0; piece + 4096 <= size; piece += 4096)
            EXPECT_FALSE(after.mid(piece, 4096).contains(QByteArray(16, kPattern))) << piece;
        // A short last piece may match the pattern by chance; a few passes cannot all miss it.
        const qsizetype tail = size % 4096;
        bool tailChanged = tail == 0;
        for (int pass = 0; pass < 4 && !tailChanged; ++pass) {
            folder.Write("victim", original);
            ASSERT_TRUE(WipeFileData(path));
            tailChanged = ReadAll(path).right(tail) != original.right(tail);
        }
        EXPECT_TRUE(tailChanged);
    }
}

TEST_F(Wipe, DisposeWipesThenDeletes) {
    const QString path = folder.Write("plain", QByteArray(4097, 'p'));
    DisposePlainFile(nullptr, path);
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(boxes.shown().empty());
    const QString empty = folder.Write("empty", QByteArray());
    DisposePlainFile(nullptr, empty);
    EXPECT_FALSE(Exists(empty));
}

TEST_F(Wipe, HeldFileAsksToRetryAndRetrySucceedsOnceReleased) {
    const QString path = folder.Write("held", QByteArray(5000, 'h'));
    Holder holder(path);
    int asked = 0;
    plat::SetMessageBoxPort(
        [&](plat::WindowHandle, const QString& text, const QString& caption, uint32_t style) {
            ++asked;
            EXPECT_EQ(text, kWipeFailed);
            EXPECT_EQ(caption, QString("Can't wipe!"));
            EXPECT_EQ(style, 0x25u);
            holder.Release();
            return plat::kIdRetry;
        });
    DisposePlainFile(nullptr, path);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(Exists(path));
}

TEST_F(Wipe, HeldFileRetryThenCancelLeavesItUnwipedWithTheDeleteMessage) {
    const QByteArray content(5000, 'h');
    const QString path = folder.Write("held", content);
    Holder holder(path);
    boxes.Answer(plat::kIdRetry);
    boxes.Answer(plat::kIdCancel);
    DisposePlainFile(nullptr, path);
    ASSERT_EQ(boxes.captions(),
              (std::vector<QString>{"Can't wipe!", "Can't wipe!", "Delete Error"}));
    // Not the "data wiped" message: the data is all still there.
    EXPECT_EQ(boxes.shown()[2].text,
              QString("File couldn't be deleted (code 38-32): check if it's still open in another "
                      "application, or is write protected."));
    EXPECT_EQ(ReadAll(path), content);
}

TEST_F(Wipe, ReadOnlyFileWithWipingOnAndOff) {
    const QString path = folder.Write("ro", "keep me");
    ASSERT_TRUE(plat::SetFileAttributes(path, plat::kAttrReadOnly | plat::kAttrArchive));
    boxes.Answer(plat::kIdCancel);
    DisposePlainFile(nullptr, path);
    ASSERT_EQ(boxes.captions(), (std::vector<QString>{"Can't wipe!", "Delete Error"}));
    EXPECT_TRUE(boxes.shown()[1].text.startsWith("File couldn't be deleted (code 38-5)"));
    EXPECT_EQ(ReadAll(path), QByteArray("keep me"));

    boxes.Forget();
    options.Set(WipePlainFiles, false);
    DisposePlainFile(nullptr, path);
    EXPECT_EQ(boxes.captions(), std::vector<QString>{"Delete Error"});
    EXPECT_TRUE(Exists(path));
}

// Random bytes never stand under a user's file name: the file leaves its name
// before it is overwritten and gets it back only while untouched.
TEST_F(Wipe, AWipedFileThatCannotBeDeletedStaysUnderATemporaryNameTheMessageGives) {
    const QString path = folder.Write("late", QByteArray(100, 'x'));
    plat::faults::FailDeletes(true, EWOULDBLOCK);
    EXPECT_EQ(DisposePlainFile(nullptr, path), DisposeOutcome::KeptAside);
    EXPECT_FALSE(Exists(path));
    const QStringList aside = QDir(folder.root()).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(aside[0].startsWith(".keshlor-plain-"));
    const QByteArray after = ReadAll(folder.path(aside[0]));
    EXPECT_EQ(after.size(), 100);
    EXPECT_NE(after, QByteArray(100, 'x'));
    ASSERT_EQ(boxes.captions(), std::vector<QString>{"Wipe Delete Error"});
    EXPECT_EQ(boxes.shown()[0].text,
              QString("File data wiped but file not deleted (code 32): close any applications "
                      "which may be accessing it and delete it manually.\nIt now has the name "
                      "\u201c%1\u201d in the same folder, and Keshlor removes it the next time it "
                      "writes there.")
                  .arg(aside[0]));

    // A wipe that wrote nothing, abandoned, then a failed deletion: the name comes back.
    boxes.Forget();
    const QString untouched = folder.Write("untouched", QByteArray(100, 'u'));
    plat::faults::FailWritesAfter(0, ENOSPC);
    EXPECT_EQ(DisposePlainFile(nullptr, untouched), DisposeOutcome::Kept);
    EXPECT_EQ(ReadAll(untouched), QByteArray(100, 'u'));
    ASSERT_EQ(boxes.captions(), (std::vector<QString>{"Can't wipe!", "Delete Error"}));
    EXPECT_TRUE(boxes.shown()[1].text.startsWith("File couldn't be deleted (code 38-32)"));
}

TEST_F(Wipe, WipeThatNeverReachesTheDiskFails) {
    const QString path = folder.Write("unflushed", QByteArray(100, 'x'));
    plat::faults::FailFlushes(true, EIO);
    EXPECT_FALSE(WipeFileData(path));
}

TEST_F(Wipe, DeviceThatStopsTakingBytesEndsThePassAsFailed) {
    const QString path = folder.Write("stuck", QByteArray(10000, 'x'));
    plat::faults::FailWritesAfter(0, ENOSPC);
    EXPECT_FALSE(WipeFileData(path));
    plat::faults::FailWritesAfter(5000, ENOSPC);
    EXPECT_FALSE(WipeFileData(path));
}

// Another name of the file would lose its data too: the wipe refuses a file
// with a second name, and the Retry question says why.
TEST_F(Wipe, AFileWithAnotherNameIsNotOverwritten) {
    const QString path = folder.Write("shared", QByteArray(100, 's'));
    ASSERT_EQ(::link(QFile::encodeName(path).constData(),
                     QFile::encodeName(folder.path("other name")).constData()),
              0);
    EXPECT_FALSE(WipeFileData(path));
    EXPECT_EQ(plat::GetLastError(), plat::kErrorTooManyLinks);
    EXPECT_EQ(ReadAll(folder.path("other name")), QByteArray(100, 's'));
    boxes.Answer(plat::kIdCancel);
    EXPECT_EQ(DisposePlainFile(nullptr, path), DisposeOutcome::RemovedUnwiped);
    ASSERT_EQ(boxes.captions(), std::vector<QString>{"Can't wipe!"});
    EXPECT_TRUE(boxes.shown()[0].text.contains("has other names (hard links)"));
    EXPECT_EQ(ReadAll(folder.path("other name")), QByteArray(100, 's'));
}

// Holes hold no data: overwriting them would only fill the disk. A sparse
// file's data is overwritten in place and its use of the disk stays as it was.
TEST_F(Wipe, ASparseFileHasOnlyItsDataOverwritten) {
    const QString path = folder.path("sparse");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.seek(50'000'000));
        ASSERT_EQ(file.write("sixteen bytes!!!"), 16);
        ASSERT_TRUE(file.resize(100'000'000));
    }
    struct stat before;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    if (before.st_blocks * 512 > 1'000'000)
        GTEST_SKIP() << "this file system keeps no holes";
    ASSERT_TRUE(WipeFileData(path));
    struct stat after;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_EQ(after.st_size, 100'000'000);
    EXPECT_LE(after.st_blocks, before.st_blocks);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly) && file.seek(50'000'000));
    EXPECT_NE(file.read(16), QByteArray("sixteen bytes!!!"));
}

} // namespace
