// Decrypting a container: rejected data told apart from failures, and a
// container that is deleted only after its plain file is safely back.
#include "engine/compression_stream.h"
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine/key_context.h"
#include "engine_fixture.h"
#include "platform/last_error.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <zlib.h>

using namespace testing_files;

namespace {

const QString kPlainPrompt = "Plain file already exists. Do you want to overwrite it?";

class DecryptPipeline : public EngineTest {
  protected:
    QString plain;
    QString container;
    QByteArray original;
    QByteArray encrypted;
    void SetUp() override {
        EngineTest::SetUp();
        original = TextBytes(30000) + NoiseBytes(10000);
        plain = folder.Write("data.bin", original);
        container = folder.path("data.bin.ksr");
        ASSERT_EQ(EncryptFileToContainer(nullptr, plain, container, "right"), EncryptResult::Ok);
        encrypted = ReadAll(container);
    }
    DecryptResult Decrypt(const QString& password = "right") {
        return DecryptContainerToFile(nullptr, container, plain, password);
    }
    void ExpectContainerKeptAndNoPlainFile() {
        EXPECT_EQ(ReadAll(container), encrypted);
        EXPECT_FALSE(Exists(plain));
    }
};

TEST_F(DecryptPipeline, SuccessRestoresThePlainFileAndDeletesTheContainer) {
    const int cursorsBefore = cursor.shown();
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_EQ(ReadAll(plain), original);
    EXPECT_FALSE(Exists(container));
    EXPECT_EQ(cursor.shown(), cursorsBefore + 1);
    EXPECT_EQ(cursor.restored(), cursor.shown());
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(DecryptPipeline, WrongPasswordOrStrengthIsRejectedDataWithNothingRecorded) {
    EXPECT_EQ(Decrypt("Right"), DecryptResult::BadData);
    EXPECT_EQ(CurrentPendingError().code, 0);
    ExpectContainerKeptAndNoPlainFile();

    options.Set(HighEncryption, false);
    const DecryptResult otherStrength = Decrypt();
    EXPECT_TRUE(otherStrength == DecryptResult::BadData || otherStrength == DecryptResult::Failed);
    ExpectContainerKeptAndNoPlainFile();
    EXPECT_EQ(cursor.shown(), cursor.restored());
}

TEST_F(DecryptPipeline, TamperedContainersAreRejectedAndKept) {
    for (const qsizetype offset : {qsizetype(0), encrypted.size() / 2, encrypted.size() - 1}) {
        SCOPED_TRACE(offset);
        QByteArray tampered = encrypted;
        tampered[offset] = static_cast<char>(tampered[offset] ^ 0x40);
        folder.Write("data.bin.ksr", tampered);
        EXPECT_EQ(Decrypt(), DecryptResult::BadData);
        EXPECT_EQ(ReadAll(container), tampered);
        EXPECT_FALSE(Exists(plain));
    }
}

TEST_F(DecryptPipeline, TruncatedContainersAreRejectedNeverAccepted) {
    // Inside a block, at a block boundary, and at a piece boundary.
    for (const qsizetype length : {encrypted.size() - 3, encrypted.size() - 8, qsizetype(4096),
                                   qsizetype(8192), qsizetype(0)}) {
        SCOPED_TRACE(length);
        folder.Write("data.bin.ksr", encrypted.left(length));
        EXPECT_EQ(Decrypt(), DecryptResult::BadData);
        EXPECT_EQ(ReadAll(container), encrypted.left(length));
        EXPECT_FALSE(Exists(plain));
        EXPECT_EQ(CurrentPendingError().code, 0);
    }
}

TEST_F(DecryptPipeline, StreamCutAtAPieceBoundaryWithValidPaddingIsNotAccepted) {
    // The first 8192 bytes of a longer zlib stream, encrypted as if they were all of it:
    // the padding checks out, but the stream never ends.
    QByteArray z(compressBound(original.size()), '\0');
    uLongf zLength = z.size();
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(z.data()), &zLength,
                        reinterpret_cast<const Bytef*>(original.constData()), original.size(), 1),
              Z_OK);
    ASSERT_GT(zLength, 8192u + 8);
    KeyContext context;
    ASSERT_EQ(OpenKeyContext(&context, "right", true), 0);
    QByteArray bytes = z.left(8192);
    bytes.resize(8192 + 8);
    uint32_t length = 8192;
    ASSERT_TRUE(CryptEncrypt(context.key, nullptr, true, 0,
                             reinterpret_cast<uint8_t*>(bytes.data()), &length, bytes.size()));
    CloseKeyContext(&context);
    bytes.truncate(length);
    const QString cut = folder.Write("cut.ksr", bytes);
    EXPECT_EQ(DecryptContainerToFile(nullptr, cut, folder.path("cut"), "right"),
              DecryptResult::BadData);
    EXPECT_EQ(ReadAll(cut), bytes);
    EXPECT_FALSE(Exists(folder.path("cut")));
}

TEST_F(DecryptPipeline, ExistingPlainFileAnsweredNoChangesNothing) {
    folder.Write("data.bin", "someone else's file");
    boxes.Answer(plat::kIdNo);
    EXPECT_EQ(Decrypt(), DecryptResult::Declined);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, kPlainPrompt);
    EXPECT_EQ(boxes.shown()[0].caption, QString("OK to overwrite?"));
    EXPECT_EQ(ReadAll(plain), QByteArray("someone else's file"));
    EXPECT_EQ(ReadAll(container), encrypted);
}

TEST_F(DecryptPipeline, AnExistingPlainFileStaysWholeWhenTheRunFails) {
    folder.Write("data.bin", "older copy");
    boxes.Answer(plat::kIdYes);
    EXPECT_EQ(Decrypt("wrong"), DecryptResult::BadData);
    EXPECT_EQ(ReadAll(plain), QByteArray("older copy"));
    EXPECT_EQ(ReadAll(container), encrypted);

    boxes.Answer(plat::kIdYes);
    plat::faults::FailWritesAfter(10000, ENOSPC);
    EXPECT_EQ(Decrypt(), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 28);
    EXPECT_EQ(ReadAll(plain), QByteArray("older copy"));
    EXPECT_EQ(ReadAll(container), encrypted);
    EXPECT_EQ(QDir(folder.root()).entryList(QDir::Files | QDir::Hidden).size(), 2)
        << "no partial output is left beside them";
}

TEST_F(DecryptPipeline, ReadOnlyOrFolderPlainTargetCannotBeOverwritten) {
    folder.Write("data.bin", "protected");
    ASSERT_TRUE(plat::SetFileAttributes(plain, plat::kAttrReadOnly));
    EXPECT_EQ(Decrypt(), DecryptResult::Declined);
    EXPECT_EQ(boxes.captions(), std::vector<QString>{"Can't overwrite!"});
    EXPECT_EQ(ReadAll(plain), QByteArray("protected"));
    EXPECT_EQ(ReadAll(container), encrypted);

    boxes.Forget();
    ASSERT_TRUE(plat::SetFileAttributes(plain, plat::kAttrArchive));
    ASSERT_TRUE(QFile::remove(plain));
    ASSERT_TRUE(QDir(folder.root()).mkdir("data.bin"));
    EXPECT_EQ(Decrypt(), DecryptResult::Declined);
    EXPECT_EQ(boxes.captions(), std::vector<QString>{"Can't overwrite!"});
    EXPECT_TRUE(boxes.shown()[0].text.endsWith("\n\u201c" + plain + "\u201d is a folder."));
    EXPECT_EQ(CurrentPendingError().code, 0);
    EXPECT_EQ(ReadAll(container), encrypted);
}

TEST_F(DecryptPipeline, UnreadableContainerGivesCode18) {
    EXPECT_EQ(
        DecryptContainerToFile(nullptr, folder.path("absent.ksr"), folder.path("absent"), "x"),
        DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 18);
    EXPECT_EQ(CurrentPendingError().lastError, 2u);
    EXPECT_FALSE(Exists(folder.path("absent")));
}

TEST_F(DecryptPipeline, PlainTargetThatCannotBeCreatedGivesCode26) {
    EXPECT_EQ(DecryptContainerToFile(nullptr, container, folder.path("no/folder/x"), "right"),
              DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 26);
    EXPECT_EQ(ReadAll(container), encrypted);
}

TEST_F(DecryptPipeline, ShortWriteOfThePlainFileGivesCode28) {
    plat::faults::FailWritesAfter(10000, ENOSPC);
    EXPECT_EQ(Decrypt(), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 28);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorDiskFull);
    ExpectContainerKeptAndNoPlainFile();
}

TEST_F(DecryptPipeline, PlainFileIsFlushedBeforeTheContainerGoes) {
    plat::faults::FailFlushes(true, EIO);
    EXPECT_EQ(Decrypt(), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 28);
    ExpectContainerKeptAndNoPlainFile();
}

TEST_F(DecryptPipeline, FailedInflateStartLeavesNoEmptyPlainFile) {
    engine_faults::FailZlibInit(true);
    EXPECT_EQ(Decrypt(), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 27);
    ExpectContainerKeptAndNoPlainFile();
}

TEST_F(DecryptPipeline, AllocationFailuresGiveTheirOwnCodes) {
    engine_faults::FailAllocation(1);
    EXPECT_EQ(Decrypt(), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 17);
    engine_faults::FailAllocation(2);
    EXPECT_EQ(Decrypt(), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 25);
    ExpectContainerKeptAndNoPlainFile();
}

TEST_F(DecryptPipeline, PartialOutputIsWipedUnderItsTemporaryNameAndTheRunCodeSurvives) {
    // The write stops part way; the wipe of the partial output then makes no progress either.
    plat::faults::FailWritesAfter(10000, ENOSPC);
    options.Set(WipePlainFiles, true);
    boxes.Answer(plat::kIdRetry);
    boxes.Answer(plat::kIdCancel);
    EXPECT_EQ(Decrypt(), DecryptResult::Failed);
    EXPECT_EQ(boxes.captions(), (std::vector<QString>{"Can't wipe!", "Can't wipe!"}));
    EXPECT_EQ(CurrentPendingError().code, 28) << "the caller still reports what stopped the run";
    EXPECT_EQ(ReadAll(container), encrypted);
    EXPECT_EQ(QDir(folder.root()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"data.bin.ksr"});
}

TEST_F(DecryptPipeline, HiddenContainerGivesAPlainFileWithTheArchiveBitOnly) {
    ASSERT_TRUE(plat::SetFileAttributes(container, plat::kAttrHidden | plat::kAttrArchive));
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_EQ(plat::GetFileAttributes(plain), plat::kAttrArchive);
}

TEST_F(DecryptPipeline, UnknownStreamModeIsAProgramError) {
    CompressionStream* stream = nullptr;
    ASSERT_EQ(CreateDecompressionStream(nullptr, folder.path("mode"), &stream), 0);
    ASSERT_NE(stream, nullptr);
    stream->mode = 7;
    uint8_t buffer[8] = {};
    uint32_t count = 99;
    EXPECT_EQ(PumpCompressionStream(stream, buffer, sizeof buffer, &count), PumpResult::Failed);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(CurrentPendingError().code, 30);
    stream->mode = Decompress;
    CloseCompressionStream(stream);
}

} // namespace
