// Names whose bytes are not UTF-8: the text of "a\xff" reads like the file
// "a\uFFFD", so a path made of that text must not be taken as either.
#include "file_names.h"
#include "temp_folder.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const QString kReadsAlike = QStringLiteral(u"a\uFFFD");

class FileNames : public ::testing::Test {
  protected:
    // Names made here by their bytes, removed the same way: the temporary
    // folder's own clean-up cannot name them.
    void TearDown() override {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            if (::unlink(it->constData()) != 0)
                ::rmdir(it->constData());
        }
    }
    QByteArray Make(const QByteArray& relative, bool isFolder = false) {
        const QByteArray path = QFile::encodeName(folder.root()) + '/' + relative;
        const int made = isFolder ? ::mkdir(path.constData(), 0700)
                                  : ::close(::open(path.constData(), O_CREAT | O_WRONLY, 0600));
        EXPECT_EQ(made, 0) << path.constData();
        made_.push_back(path);
        return path;
    }
    QString Path(const QString& relative) const { return folder.root() + '/' + relative; }

    testing_files::TempFolder folder;

  private:
    std::vector<QByteArray> made_;
};

TEST_F(FileNames, NameThatReadsLikeAnotherIsUnfaithful) {
    const QByteArray valid = Make("a\xEF\xBF\xBD");
    // Alone, the file of the replacement character's own bytes is what its
    // text says.
    EXPECT_TRUE(plat::IsFaithfulPath(Path(kReadsAlike)));
    Make("a\xff");
    EXPECT_FALSE(plat::IsFaithfulPath(Path(kReadsAlike)));
    ::unlink(valid.constData());
    // Only the odd one is left: its text would name a file that is not there.
    EXPECT_FALSE(plat::IsFaithfulPath(Path(kReadsAlike)));
    EXPECT_TRUE(plat::IsFaithfulPath(Path(QStringLiteral("a"))));

    EXPECT_FALSE(plat::IsFaithfulArgument("a\xff"));
    EXPECT_TRUE(plat::IsFaithfulArgument("a\xEF\xBF\xBD"));
    EXPECT_TRUE(plat::IsFaithfulArgument("plain name"));
}

TEST_F(FileNames, FoldersOnTheWayAreCheckedToo) {
    Make("d\xff", true);
    Make("d\xff/x");
    EXPECT_FALSE(plat::IsFaithfulPath(Path(QStringLiteral(u"d\uFFFD/x"))));
    // Nothing of that text exists, so nothing can be mistaken for it.
    EXPECT_TRUE(plat::IsFaithfulPath(Path(QStringLiteral(u"missing/a\uFFFD"))));
    // Text that has no bytes of its own.
    EXPECT_FALSE(plat::IsFaithfulPath(Path(QString(QChar(0xD800)))));
}

} // namespace
