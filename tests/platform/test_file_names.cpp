// Names whose bytes are not UTF-8: the text of "a\xff" reads like the file
// "a\uFFFD", so a path made of that text must not be taken as either.
#include "platform/file_names.h"
#include "temp_folder.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(FileNames, NamesThatReadLikeOthersAreUnfaithful) {
    testing_files::TempFolder folder;
    const QByteArray root = QFile::encodeName(folder.root()) + '/';
    const auto make = [&root](const char* name) {
        ::close(::open((root + name).constData(), O_CREAT | O_WRONLY, 0600));
    };
    const QString readsAlike = folder.path(QStringLiteral(u"a\uFFFD"));

    // Alone, the replacement character's own bytes are what the text says.
    make("a\xEF\xBF\xBD");
    EXPECT_TRUE(plat::IsFaithfulPath(readsAlike));
    make("a\xff");
    EXPECT_FALSE(plat::IsFaithfulPath(readsAlike));
    ::unlink((root + "a\xEF\xBF\xBD").constData());
    // Only the odd one left: the text would name a file that is not there.
    EXPECT_FALSE(plat::IsFaithfulPath(readsAlike));
    EXPECT_TRUE(plat::IsFaithfulPath(folder.path(QStringLiteral("a"))));

    // Folders on the way count too; a folder that is not there hides nothing.
    ASSERT_EQ(::mkdir((root + "d\xff").constData(), 0700), 0);
    make("d\xff/x");
    EXPECT_FALSE(plat::IsFaithfulPath(folder.path(QStringLiteral(u"d\uFFFD/x"))));
    EXPECT_TRUE(plat::IsFaithfulPath(folder.path(QStringLiteral(u"missing/a\uFFFD"))));
    // Text that has no bytes of its own.
    EXPECT_FALSE(plat::IsFaithfulPath(folder.path(QString(QChar(0xD800)))));

    EXPECT_FALSE(plat::IsFaithfulArgument("a\xff"));
    EXPECT_TRUE(plat::IsFaithfulArgument("a\xEF\xBF\xBD"));
    EXPECT_TRUE(plat::IsFaithfulArgument("plain name"));

    // The folder's own clean-up cannot name these.
    ::unlink((root + "a\xff").constData());
    ::unlink((root + "d\xff/x").constData());
    ::rmdir((root + "d\xff").constData());
}

} // namespace
