// Encrypting a plain file into a container: the overwrite rules, options,
// metadata, and what every failure leaves behind.
#include "engine/container_name.h"
#include "engine/crypto_api.h"
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine_fixture.h"
#include "platform/last_error.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace testing_files;

namespace {

const QString kOverwritePrompt = "Keshlor file already exists. Do you want to overwrite it?";
const QString kCantOverwrite =
    "A file or directory already exists with the target file name. It cannot be overwritten. "
    "Rename one or other file or move it to a different folder.";

class EncryptPipeline : public EngineTest {
  protected:
    QString plain;
    QString container;
    void SetUp() override {
        EngineTest::SetUp();
        plain = folder.Write("notes.txt", TextBytes(20000));
        container = folder.path("notes.txt.ksr");
    }
    EncryptResult Encrypt(const QString& password = "pw") {
        return EncryptFileToContainer(nullptr, plain, container, password);
    }
};

TEST_F(EncryptPipeline, SuccessReplacesThePlainFileByItsContainer) {
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_FALSE(Exists(plain));
    EXPECT_EQ(ReadAll(container).size() % 8, 0);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(cursor.shown(), 1);
    EXPECT_EQ(cursor.restored(), 1);
    EXPECT_EQ(CurrentPendingError().code, 0);
}

TEST_F(EncryptPipeline, HideOptionDecidesTheContainersAttributes) {
    options.Set(HideEncrypted, true);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(plat::GetFileAttributes(container), plat::kAttrArchive | plat::kAttrHidden);

    options.Set(HideEncrypted, false);
    ASSERT_EQ(DecryptContainerToFile(nullptr, container, plain, "pw"), DecryptResult::Ok);
    EXPECT_EQ(plat::GetFileAttributes(plain), plat::kAttrArchive)
        << "decrypted files are not hidden";
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(plat::GetFileAttributes(container), plat::kAttrArchive);
}

TEST_F(EncryptPipeline, ContainersAreDeterministic) {
    const QByteArray original = ReadAll(plain);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    const QByteArray first = ReadAll(container);
    QFile::remove(container);
    folder.Write("notes.txt", original);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(ReadAll(container), first);
}

TEST_F(EncryptPipeline, ExistingContainerAnsweredNoChangesNothing) {
    folder.Write("notes.txt.ksr", "old container");
    boxes.Answer(plat::kIdNo);
    EXPECT_EQ(Encrypt(), EncryptResult::Declined);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, kOverwritePrompt);
    EXPECT_EQ(boxes.shown()[0].caption, QString("OK to overwrite?"));
    EXPECT_EQ(boxes.shown()[0].style, 0x124u);
    EXPECT_EQ(ReadAll(container), QByteArray("old container"));
    EXPECT_TRUE(Exists(plain));
    EXPECT_EQ(cursor.shown(), 0);
}

TEST_F(EncryptPipeline, ExistingHiddenContainerIsAskedAboutAndOverwritten) {
    folder.Write("notes.txt.ksr", "old container");
    ASSERT_TRUE(plat::SetFileAttributes(container, plat::kAttrHidden | plat::kAttrArchive));
    boxes.Answer(plat::kIdYes);
    EXPECT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(boxes.shown().size(), 1u);
    EXPECT_NE(ReadAll(container), QByteArray("old container"));
    EXPECT_FALSE(Exists(plain));
}

TEST_F(EncryptPipeline, AReadOnlyFileOrAFolderAtTheTargetCannotBeOverwritten) {
    folder.Write("notes.txt.ksr", "protected");
    ASSERT_TRUE(plat::SetFileAttributes(container, plat::kAttrReadOnly));
    EXPECT_EQ(Encrypt(), EncryptResult::Declined);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, kCantOverwrite);
    EXPECT_EQ(boxes.shown()[0].caption, QString("Can't overwrite!"));
    EXPECT_EQ(boxes.shown()[0].style, 0x10u);
    EXPECT_EQ(ReadAll(container), QByteArray("protected"));
    EXPECT_TRUE(Exists(plain));

    boxes.Forget();
    ASSERT_TRUE(plat::SetFileAttributes(container, plat::kAttrArchive));
    QFile::remove(container);
    ASSERT_TRUE(QDir(folder.root()).mkdir("notes.txt.ksr"));
    // Declined like a protected file, so a batch goes on; the message says it is a folder.
    EXPECT_EQ(Encrypt(), EncryptResult::Declined);
    ASSERT_EQ(boxes.captions(), std::vector<QString>{"Can't overwrite!"});
    EXPECT_EQ(boxes.shown()[0].text,
              kCantOverwrite + "\n\u201c" + container + "\u201d is a folder.");
    EXPECT_EQ(CurrentPendingError().code, 0);
    EXPECT_TRUE(Exists(plain));
}

TEST_F(EncryptPipeline, PlainFileHeldByAnotherDescriptorGivesCode21) {
    const int other = ::open(QFile::encodeName(plain).constData(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    ::close(other);
    EXPECT_EQ(CurrentPendingError().code, 21);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorSharingViolation);
    EXPECT_FALSE(Exists(container));
    EXPECT_TRUE(Exists(plain));
}

TEST_F(EncryptPipeline, MissingPlainFileGivesCode21AndNoContainer) {
    EXPECT_EQ(
        EncryptFileToContainer(nullptr, folder.path("absent"), folder.path("absent.ksr"), "pw"),
        EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 21);
    EXPECT_EQ(CurrentPendingError().lastError, 2u);
    EXPECT_FALSE(Exists(folder.path("absent.ksr")));
}

TEST_F(EncryptPipeline, ContainerThatCannotBeCreatedGivesCode8) {
    EXPECT_EQ(EncryptFileToContainer(nullptr, plain, folder.path("no/such/folder.ksr"), "pw"),
              EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 8);
    EXPECT_EQ(CurrentPendingError().lastError, 2u);
    EXPECT_TRUE(Exists(plain));
}

TEST_F(EncryptPipeline, MissingEnhancedProviderGivesCode1) {
    SetEnhancedProviderAvailable(false);
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    SetEnhancedProviderAvailable(true);
    EXPECT_EQ(CurrentPendingError().code, 1);
    EXPECT_EQ(CurrentPendingError().lastError, NTE_KEYSET_NOT_DEF);
    EXPECT_FALSE(Exists(container));
}

TEST_F(EncryptPipeline, ShortWriteCountsAsAFailedWrite) {
    plat::faults::FailWritesAfter(5000, ENOSPC); // the device takes part of the second chunk
    options.Set(FastCompression, false);
    plain = folder.Write("noise", NoiseBytes(50000));
    container = folder.path("noise.ksr");
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 10);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorDiskFull);
    EXPECT_FALSE(Exists(container)) << "the partial container is deleted";
    EXPECT_EQ(ReadAll(plain), NoiseBytes(50000));
    EXPECT_EQ(cursor.restored(), cursor.shown());
}

TEST_F(EncryptPipeline, ContainerIsFlushedBeforeThePlainFileGoes) {
    plat::faults::FailFlushes(true, EIO);
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 10);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorIoDevice);
    EXPECT_FALSE(Exists(container));
    EXPECT_EQ(ReadAll(plain), TextBytes(20000));
}

TEST_F(EncryptPipeline, StreamObjectThatCannotBeAllocatedGivesCode7) {
    engine_faults::FailAllocation(2); // the cipher buffer comes first, the stream second
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 7);
    EXPECT_TRUE(Exists(plain));
    EXPECT_FALSE(Exists(container));

    engine_faults::FailAllocation(1);
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 7);
}

TEST_F(EncryptPipeline, DeflateThatCannotStartGivesCode22) {
    engine_faults::FailZlibInit(true);
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 22);
    EXPECT_TRUE(Exists(plain));
    EXPECT_FALSE(Exists(container));
    // The plain file was released: it can be opened again at once.
    engine_faults::Clear();
    EXPECT_EQ(Encrypt(), EncryptResult::Ok);
}

TEST_F(EncryptPipeline, WipeOptionOffStillDeletesThePlainFile) {
    options.Set(WipePlainFiles, false);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_FALSE(Exists(plain));
    options.Set(WipePlainFiles, true);
    plain = folder.Write("second", "more plain data");
    container = folder.path("second.ksr");
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_FALSE(Exists(plain));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(EncryptPipeline, ReadOnlyPlainFileStillCountsAsEncrypted) {
    ASSERT_TRUE(plat::SetFileAttributes(plain, plat::kAttrReadOnly | plat::kAttrArchive));
    options.Set(WipePlainFiles, false);
    EXPECT_EQ(Encrypt(), EncryptResult::Ok);
    ASSERT_EQ(boxes.captions(), std::vector<QString>{"Delete Error"});
    EXPECT_TRUE(boxes.shown()[0].text.startsWith("File couldn't be deleted (code 38-5)"));
    EXPECT_TRUE(Exists(plain));
    EXPECT_TRUE(Exists(container));
}

// A real full file system: a 1 MiB tmpfs, where mounting is allowed.
class FullFileSystem : public EngineTest {
  protected:
    QString mountPoint;
    bool mounted = false;
    void SetUp() override {
        EngineTest::SetUp();
        mountPoint = folder.path("small");
        QDir().mkpath(mountPoint);
        mounted =
            ::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=1m") == 0;
        if (!mounted)
            GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    void TearDown() override {
        if (mounted)
            ::umount(QFile::encodeName(mountPoint).constData());
        EngineTest::TearDown();
    }
};

TEST_F(FullFileSystem, EncryptingOntoAFullDiskKeepsThePlainFile) {
    const QByteArray noise = NoiseBytes(2 * 1024 * 1024);
    const QString plain = folder.Write("big", noise);
    const QString container = mountPoint + "/big.ksr";
    EXPECT_EQ(EncryptFileToContainer(nullptr, plain, container, "pw"), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 10);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorDiskFull);
    EXPECT_FALSE(Exists(container));
    EXPECT_EQ(ReadAll(plain), noise);
}

TEST_F(FullFileSystem, DecryptingOntoAFullDiskKeepsTheContainer) {
    const QByteArray noise = NoiseBytes(2 * 1024 * 1024);
    const QString plain = folder.Write("big", noise);
    const QString container = folder.path("big.ksr");
    ASSERT_EQ(EncryptFileToContainer(nullptr, plain, container, "pw"), EncryptResult::Ok);
    const QByteArray encrypted = ReadAll(container);
    // An earlier version of the file outlives the failed run.
    const QString target = mountPoint + "/big";
    QFile earlier(target);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
    earlier.close();
    boxes.Answer(plat::kIdYes);
    EXPECT_EQ(DecryptContainerToFile(nullptr, container, target, "pw"), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 28);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorDiskFull);
    EXPECT_EQ(ReadAll(target), QByteArray("earlier"));
    EXPECT_EQ(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden), QStringList{"big"});
    EXPECT_EQ(ReadAll(container), encrypted);
}

} // namespace
