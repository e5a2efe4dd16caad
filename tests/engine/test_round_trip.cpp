// Encrypt then decrypt at the sizes where chunking could go wrong: the
// plain file, the compressed stream and the container at 4096-byte edges.
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine_fixture.h"

#include <zlib.h>

using namespace testing_files;

namespace {

struct Setting {
    bool high;
    bool fast;
};
constexpr Setting kSettings[] = {{true, true}, {true, false}, {false, true}, {false, false}};

qsizetype ZlibLength(const QByteArray& data, int level) {
    uLongf length = compressBound(data.size());
    QByteArray out(length, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &length,
              reinterpret_cast<const Bytef*>(data.constData()), data.size(), level);
    return static_cast<qsizetype>(length);
}

// Noise whose zlib stream at `level` is exactly `target` bytes long.
QByteArray NoiseWithStreamLength(qsizetype target, int level) {
    for (quint32 seed = 1; seed < 50; ++seed) {
        for (qsizetype size = target - 64; size <= target; ++size) {
            const QByteArray data = NoiseBytes(size, seed);
            if (ZlibLength(data, level) == target)
                return data;
        }
    }
    return QByteArray();
}

class RoundTrip : public EngineTest {
  protected:
    // Encrypts `data` as a file, checks the container's length, decrypts it back.
    void Check(const QByteArray& data, const Setting& setting, qsizetype expectedContainer = -1) {
        SCOPED_TRACE(QString("size %1 high %2 fast %3")
                         .arg(data.size())
                         .arg(setting.high)
                         .arg(setting.fast)
                         .toStdString());
        options.Configure(setting.high, setting.fast, false, false);
        const QString plain = folder.Write("file", data);
        const QString container = folder.path("file.ksr");
        ASSERT_EQ(EncryptFileToContainer(nullptr, plain, container, "pass"), EncryptResult::Ok);
        const qsizetype length = ReadAll(container).size();
        const qsizetype z = ZlibLength(data, setting.fast ? 1 : 9);
        EXPECT_EQ(length, 8 * (z / 8 + 1));
        if (expectedContainer >= 0) {
            EXPECT_EQ(length, expectedContainer);
        }
        // The reader's compression setting does not matter.
        options.Set(FastCompression, !setting.fast);
        ASSERT_EQ(DecryptContainerToFile(nullptr, container, plain, "pass"), DecryptResult::Ok);
        EXPECT_EQ(ReadAll(plain), data);
        EXPECT_FALSE(Exists(container));
        QFile::remove(plain);
    }
};

TEST_F(RoundTrip, EmptyFileGivesASixteenByteContainer) {
    for (const Setting& s : kSettings)
        Check(QByteArray(), s, 16);
}

TEST_F(RoundTrip, PlainSizesAtReadBlockEdges) {
    for (const Setting& s : kSettings) {
        Check(TextBytes(4096), s);
        Check(TextBytes(3 * 4096), s);
        Check(NoiseBytes(4096 * 2), s);
        Check(NoiseBytes(4095), s);
        Check(NoiseBytes(4097), s);
    }
}

TEST_F(RoundTrip, StreamOfWholeChunksEndsInABlockOfPaddingAlone) {
    for (const int level : {1, 9}) {
        const QByteArray data = NoiseWithStreamLength(8192, level);
        ASSERT_FALSE(data.isEmpty());
        Check(data, {true, level == 1}, 8192 + 8);
        Check(data, {false, level == 1}, 8192 + 8);
    }
}

TEST_F(RoundTrip, ContainerOfWholePiecesHasItsLastPieceAsFinal) {
    for (const qsizetype z : {qsizetype(8192 - 8), qsizetype(8192 - 5), qsizetype(8192 - 1)}) {
        const QByteArray data = NoiseWithStreamLength(z, 9);
        ASSERT_FALSE(data.isEmpty()) << z;
        Check(data, {true, false}, 8192);
    }
}

TEST_F(RoundTrip, SeveralMebibytes) {
    const QByteArray data = TextBytes(3 * 1024 * 1024) + NoiseBytes(1024 * 1024 + 123);
    Check(data, {true, true});
    Check(data, {false, false});
}

TEST_F(RoundTrip, FileTimesSurviveEncryptionAndDecryption) {
    const QString plain = folder.Write("dated", TextBytes(10000));
    const plat::FileTimes times{946'684'800'000'000'000LL, 978'307'200'500'000'000LL,
                                1'009'843'200'250'000'000LL};
    plat::UniqueFd file =
        plat::CreateFile(plain, plat::Access::Write, plat::Disposition::OpenExisting);
    ASSERT_TRUE(plat::SetFileTime(file.get(), times));
    file.reset();

    const QString container = folder.path("dated.ksr");
    ASSERT_EQ(EncryptFileToContainer(nullptr, plain, container, "t"), EncryptResult::Ok);
    plat::FileTimes onContainer;
    ASSERT_TRUE(plat::GetFileTimesByPath(container, &onContainer));
    EXPECT_EQ(onContainer.creation, times.creation);
    EXPECT_EQ(onContainer.lastAccess, times.lastAccess);
    EXPECT_EQ(onContainer.lastWrite, times.lastWrite);

    ASSERT_EQ(DecryptContainerToFile(nullptr, container, plain, "t"), DecryptResult::Ok);
    plat::FileTimes restored;
    ASSERT_TRUE(plat::GetFileTimesByPath(plain, &restored));
    EXPECT_EQ(restored.creation, times.creation);
    EXPECT_EQ(restored.lastAccess, times.lastAccess);
    EXPECT_EQ(restored.lastWrite, times.lastWrite);
}

TEST_F(RoundTrip, EmptyPasswordIsAPassword) {
    const QString plain = folder.Write("e", "secret under nothing");
    ASSERT_EQ(EncryptFileToContainer(nullptr, plain, folder.path("e.ksr"), ""), EncryptResult::Ok);
    EXPECT_EQ(DecryptContainerToFile(nullptr, folder.path("e.ksr"), plain, " "),
              DecryptResult::BadData);
    ASSERT_EQ(DecryptContainerToFile(nullptr, folder.path("e.ksr"), plain, ""), DecryptResult::Ok);
    EXPECT_EQ(ReadAll(plain), QByteArray("secret under nothing"));
}

} // namespace
