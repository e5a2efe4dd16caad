// What no run may do to a user's files on Linux: replace a target before the
// new one is proven, act on anything but a regular file, widen permissions,
// report a file that changed meanwhile as encrypted, or leave partial files
// behind when it is stopped or crashes.
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"
#include "engine/wipe.h"
#include "engine_fixture.h"
#include "platform/interrupts.h"
#include "platform/last_error.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace testing_files;

namespace {

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

uint32_t ModeOf(const QString& path) {
    struct stat st;
    return ::lstat(Native(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class FileSafety : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        data = TextBytes(200'000) + NoiseBytes(100'000); // many pieces
        plain = folder.Write("doc", data);
        container = folder.path("doc.ksr");
    }
    void TearDown() override {
        plat::SetProgressPort({});
        plat::ClearInterrupt();
        EngineTest::TearDown();
    }
    QStringList Entries() const {
        return QDir(folder.root())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name);
    }
    QStringList Temporaries() const { return Entries().filter(QRegularExpression("^\\.keshlor-")); }
    EncryptResult Encrypt() { return EncryptFileToContainer(nullptr, plain, container, "pw"); }
    DecryptResult Decrypt() { return DecryptContainerToFile(nullptr, container, plain, "pw"); }

    QByteArray data;
    QString plain;
    QString container;
};

TEST_F(FileSafety, AnExistingTargetIsReplacedOnlyByAProvenResult) {
    folder.Write("doc.ksr", "earlier container");
    const auto failedRunKeepsBoth = [&](int code) {
        boxes.Answer(plat::kIdYes);
        EXPECT_EQ(Encrypt(), EncryptResult::Failed);
        EXPECT_EQ(CurrentPendingError().code, code);
        EXPECT_EQ(ReadAll(container), QByteArray("earlier container"));
        EXPECT_EQ(ReadAll(plain), data);
        EXPECT_TRUE(Temporaries().isEmpty()) << Temporaries().join(' ').toStdString();
        plat::faults::Clear();
    };
    plat::faults::FailWritesAfter(50'000, ENOSPC);
    failedRunKeepsBoth(10);
    plat::faults::FailFlushes(true, EIO);
    failedRunKeepsBoth(10);
    // Even when the new name is already in place, a folder that cannot be flushed undoes it.
    plat::faults::FailFolderFlushes(true, EIO);
    failedRunKeepsBoth(10);

    // While the run writes, the old container is still whole under its name.
    QByteArray seenMidRun;
    plat::SetProgressPort([&](uint64_t, uint64_t) {
        if (seenMidRun.isEmpty())
            seenMidRun = ReadAll(container);
    });
    boxes.Answer(plat::kIdYes);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(seenMidRun, QByteArray("earlier container"));
    EXPECT_EQ(Entries(), QStringList{"doc.ksr"});
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_EQ(ReadAll(plain), data);
}

// A new name survives a power cut only once its folder is synced; each run
// syncs the folder where its target appears, and fails when it cannot.
TEST_F(FileSafety, EachRunSyncsTheFolderItsTargetAppearsIn) {
    ASSERT_TRUE(QDir(folder.root()).mkpath("sealed") && QDir(folder.root()).mkpath("opened"));
    const QString sealed = folder.path("sealed/doc.ksr");
    const QString opened = folder.path("opened/doc");
    QStringList synced;
    plat::faults::RecordFolderFlushes(&synced);
    ASSERT_EQ(EncryptFileToContainer(nullptr, plain, sealed, "pw"), EncryptResult::Ok);
    EXPECT_TRUE(synced.contains(folder.path("sealed"))) << synced.join(' ').toStdString();
    const QByteArray sealedBytes = ReadAll(sealed);

    plat::faults::FailFolderFlushes(true, EIO);
    EXPECT_EQ(DecryptContainerToFile(nullptr, sealed, opened, "pw"), DecryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 28);
    EXPECT_EQ(ReadAll(sealed), sealedBytes);
    EXPECT_TRUE(
        QDir(folder.path("opened"))
            .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));

    plat::faults::FailFolderFlushes(false, 0);
    synced.clear();
    ASSERT_EQ(DecryptContainerToFile(nullptr, sealed, opened, "pw"), DecryptResult::Ok);
    EXPECT_TRUE(synced.contains(folder.path("opened"))) << synced.join(' ').toStdString();
    EXPECT_EQ(ReadAll(opened), data);
}

TEST_F(FileSafety, OnlyRegularFilesAreReadWrittenOrRemoved) {
    options.Set(WipePlainFiles, true);
    // A link to the plain file is neither followed nor removed.
    ASSERT_TRUE(QFile::link(plain, folder.path("link")));
    EXPECT_EQ(EncryptFileToContainer(nullptr, folder.path("link"), folder.path("link.ksr"), "pw"),
              EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 21);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorStoppedOnSymlink);
    EXPECT_TRUE(CurrentPendingError().detail.contains(folder.path("link")));

    // A FIFO is refused at once instead of blocking the run.
    ASSERT_EQ(::mkfifo(Native(folder.path("fifo")).constData(), 0600), 0);
    EXPECT_EQ(EncryptFileToContainer(nullptr, folder.path("fifo"), folder.path("fifo.ksr"), "pw"),
              EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorBadFileType);

    // A file with another name would keep its data there once this one is removed.
    ASSERT_EQ(::link(Native(plain).constData(), Native(folder.path("other")).constData()), 0);
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 21);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorTooManyLinks);
    ASSERT_EQ(::unlink(Native(folder.path("other")).constData()), 0);

    // A link where the container goes is not written through, and nothing is asked.
    const QString elsewhere = folder.Write("elsewhere", "not yours");
    ASSERT_TRUE(QFile::link(elsewhere, container));
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 8);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorStoppedOnSymlink);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(ReadAll(elsewhere), QByteArray("not yours"));
    EXPECT_EQ(ReadAll(plain), data);
    EXPECT_EQ(Entries(), (QStringList{"doc", "doc.ksr", "elsewhere", "fifo", "link"}));
}

TEST_F(FileSafety, PermissionsTravelWithTheDataAndNothingPartialIsOpenToOthers) {
    ASSERT_EQ(::chmod(Native(plain).constData(), 0640), 0);
    std::vector<uint32_t> partialModes;
    plat::SetProgressPort([&](uint64_t, uint64_t) {
        for (const QString& name : Temporaries())
            partialModes.push_back(ModeOf(folder.path(name)));
    });
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(ModeOf(container), 0640u);
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_EQ(ModeOf(plain), 0640u);
    ASSERT_FALSE(partialModes.empty());
    for (const uint32_t mode : partialModes)
        EXPECT_EQ(mode, 0600u);

    // A file without the owner's write bit would give a container nothing can remove.
    ASSERT_EQ(::chmod(Native(plain).constData(), 0444), 0);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(ModeOf(container), 0644u);
}

TEST_F(FileSafety, APlainFileThatChangesDuringEncryptionIsKeptAndNoContainerMade) {
    bool appended = false;
    plat::SetProgressPort([&](uint64_t, uint64_t) {
        if (appended)
            return;
        appended = true;
        QFile file(plain);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("a late line\n");
    });
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 23);
    EXPECT_EQ(CurrentPendingError().lastError, plat::kErrorFileInvalid);
    EXPECT_TRUE(CurrentPendingError().detail.contains("changed while it was being encrypted"));
    EXPECT_EQ(ReadAll(plain), data + "a late line\n");
    EXPECT_EQ(Entries(), QStringList{"doc"});
}

TEST_F(FileSafety, AStopRequestEndsTheRunAndKeepsEveryFileAsItWas) {
    options.Set(WipePlainFiles, true);
    folder.Write("doc.ksr", "earlier container");
    plat::SetProgressPort([](uint64_t, uint64_t) { plat::RequestInterrupt(SIGINT); });
    boxes.Answer(plat::kIdYes);
    EXPECT_EQ(Encrypt(), EncryptResult::Cancelled);
    EXPECT_EQ(ReadAll(plain), data);
    EXPECT_EQ(ReadAll(container), QByteArray("earlier container"));
    EXPECT_EQ(CurrentPendingError().code, 0);

    plat::ClearInterrupt();
    plat::SetProgressPort({});
    QFile::remove(container);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    const QByteArray encrypted = ReadAll(container);
    folder.Write("doc", "earlier plain");
    plat::SetProgressPort([](uint64_t, uint64_t) { plat::RequestInterrupt(SIGTERM); });
    boxes.Answer(plat::kIdYes);
    EXPECT_EQ(Decrypt(), DecryptResult::Cancelled);
    EXPECT_EQ(ReadAll(plain), QByteArray("earlier plain"));
    EXPECT_EQ(ReadAll(container), encrypted);
    EXPECT_EQ(Entries(), (QStringList{"doc", "doc.ksr"}));
}

// A run that crashed leaves its temporary file unlocked; the next run in the
// folder removes it as its kind is removed, and leaves alone one a run holds.
TEST_F(FileSafety, LeftoversOfACrashedRunGoTheWayTheirKindGoes) {
    options.Set(WipePlainFiles, true);
    const QByteArray partial(10'000, 'p');
    const QString debris = folder.Write(".keshlor-plain-crashed123", partial);
    const int witness = ::open(Native(debris).constData(), O_RDONLY);
    const QString held = folder.Write(".keshlor-container-running12", "in use");
    const int holder = ::open(Native(held).constData(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(Entries(), (QStringList{".keshlor-container-running12", "doc.ksr"}));
    QByteArray after(partial.size(), '\0');
    ASSERT_EQ(::pread(witness, after.data(), after.size(), 0), partial.size());
    EXPECT_NE(after, partial) << "plain data is wiped before it goes";
    ::close(witness);
    ::close(holder);
}

// Another run clearing leftovers in the folder may find a run's new temporary
// file in the moment before the run locks it; the run still succeeds.
TEST_F(FileSafety, ARunClearingLeftoversMeanwhileSpoilsNoNewTemporaryFile) {
    std::vector<plat::Leftover> taken;
    bool interrupted = false;
    // That run still holds the file when this one tries to lock it.
    plat::faults::BeforeTemporaryLock([&](const QString&) {
        if (!std::exchange(interrupted, true))
            taken = plat::ClaimLeftovers(folder.root());
    });
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    EXPECT_EQ(taken.size(), 1u);
    for (plat::Leftover& leftover : taken)
        plat::RemoveLeftover(&leftover);

    // That run removed the file before this one locked it.
    interrupted = false;
    plat::faults::BeforeTemporaryLock([&](const QString&) {
        if (std::exchange(interrupted, true))
            return;
        for (plat::Leftover& leftover : plat::ClaimLeftovers(folder.root()))
            plat::RemoveLeftover(&leftover);
    });
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_TRUE(interrupted);
    EXPECT_EQ(ReadAll(plain), data);
    EXPECT_EQ(Temporaries(), QStringList());
}

// Where no extended attribute can be kept, a container cannot be hidden: the
// user hears it once, and the container is kept.
TEST_F(FileSafety, HidingWhereNoAttributesAreKeptIsSaidOnceAndTheContainerKept) {
    const QString card = folder.path("card");
    ASSERT_TRUE(QDir().mkpath(card));
    // ramfs keeps no user extended attributes, as many FAT cards do not.
    if (::mount("ramfs", Native(card).constData(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount a ramfs here";
    const auto unmount = qScopeGuard([&] { ::umount(Native(card).constData()); });
    options.Set(HideEncrypted, true);
    for (const QString name : {"one", "two"}) {
        const QString path = card + "/" + name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("data") == 4);
        file.close();
        EXPECT_EQ(EncryptFileToContainer(nullptr, path, path + ".ksr", "pw"), EncryptResult::Ok);
        EXPECT_TRUE(Exists(path + ".ksr"));
    }
    ASSERT_EQ(boxes.captions(), std::vector<QString>{"Can't hide!"});
    EXPECT_TRUE(boxes.shown()[0].text.contains("card/one.ksr\u201d could not be hidden"));
}

} // namespace
