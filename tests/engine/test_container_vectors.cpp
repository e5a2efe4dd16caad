// Known answers from tests/data/vectors: containers made by an independent
// implementation, a sample of them checked against the platform's own
// CryptoAPI. Encrypting each plain file must give the same bytes, and every
// container must decrypt under either compression setting.
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "known_vectors.h"
#include "port_doubles.h"
#include "temp_folder.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

using namespace testing_files;
using testing_ports::OptionValues;
using testing_ports::ScriptedMessageBoxes;

namespace {

QString Sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

class ContainerVectors : public ::testing::Test {
  protected:
    TempFolder folder;
    OptionValues options;
    ScriptedMessageBoxes boxes;
};

TEST_F(ContainerVectors, ManifestIsReadable) {
    ASSERT_EQ(LoadKnownVectors().size(), 9u);
}

TEST_F(ContainerVectors, EncryptingEachPlainFileGivesTheKnownContainer) {
    for (const KnownVector& v : LoadKnownVectors()) {
        SCOPED_TRACE(v.container.toStdString());
        options.Configure(v.high, v.level == 1, false, false);
        const QString plain = folder.Write("plain", ReadAll(v.plain));
        const QString container = folder.path("plain.ksr");
        ASSERT_EQ(EncryptFileToContainer(nullptr, plain, container, v.password), EncryptResult::Ok);
        const QByteArray written = ReadAll(container);
        EXPECT_EQ(written, ReadAll(v.container));
        EXPECT_EQ(Sha256(written), v.containerSha256);
        EXPECT_FALSE(Exists(plain));
        QFile::remove(container);
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(ContainerVectors, EveryContainerDecryptsWithEitherCompressionSetting) {
    for (const KnownVector& v : LoadKnownVectors()) {
        for (const bool fast : {false, true}) {
            SCOPED_TRACE(v.container.toStdString() + (fast ? " fast" : " best"));
            options.Configure(v.high, fast, false, false);
            const QString container = folder.Write("copy.ksr", ReadAll(v.container));
            const QString plain = folder.path("copy");
            ASSERT_EQ(DecryptContainerToFile(nullptr, container, plain, v.password),
                      DecryptResult::Ok);
            EXPECT_EQ(Sha256(ReadAll(plain)), v.plainSha256);
            EXPECT_FALSE(Exists(container));
            QFile::remove(plain);
        }
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(ContainerVectors, TheOtherStrengthRejectsTheData) {
    for (const KnownVector& v : LoadKnownVectors()) {
        SCOPED_TRACE(v.container.toStdString());
        options.Configure(!v.high, true, false, false);
        const QString container = folder.Write("copy.ksr", ReadAll(v.container));
        const QString plain = folder.path("copy");
        const DecryptResult result = DecryptContainerToFile(nullptr, container, plain, v.password);
        // Garbage that happens to set zlib's dictionary flag fails differently.
        EXPECT_TRUE(result == DecryptResult::BadData || result == DecryptResult::Failed);
        EXPECT_EQ(ReadAll(container), ReadAll(v.container));
        EXPECT_FALSE(Exists(plain));
    }
}

} // namespace
