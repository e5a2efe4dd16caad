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
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <array>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <initializer_list>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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

// An access ACL in the form the kernel keeps it (version 2, entries of tag,
// permissions and id), sorted by tag as it must be.
QByteArray AccessList(std::initializer_list<std::array<uint32_t, 3>> entries) {
    QByteArray bytes;
    const auto put = [&](uint32_t value, int size) {
        for (int at = 0; at < size; ++at)
            bytes.append(char((value >> (8 * at)) & 0xFF));
    };
    put(2, 4);
    for (const auto& [tag, permissions, id] : entries) {
        put(tag, 2);
        put(permissions, 2);
        put(id, 4);
    }
    return bytes;
}
constexpr uint32_t kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20;
constexpr uint32_t kNoId = 0xFFFFFFFF;
const char kAccessListName[] = "system.posix_acl_access";

QByteArray Attribute(const QString& path, const char* name) {
    QByteArray value(4096, '\0');
    const ssize_t size = ::getxattr(Native(path).constData(), name, value.data(), value.size());
    return size < 0 ? QByteArray() : value.left(size);
}

// Whether this file system gives leases here, as the process would be given them.
bool LeasesHere(const QString& folder) {
    const QString probe = folder + "/.lease-probe";
    const int fd = ::open(Native(probe).constData(), O_RDONLY | O_CREAT, 0600);
    const bool leased = fd >= 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    if (fd >= 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        ::close(fd);
    }
    ::unlink(Native(probe).constData());
    return leased;
}

bool IsKeptName(const QString& path) {
    return QFileInfo(path).fileName().startsWith(".keshlor-kept-");
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
    const QString held = folder.Write(".keshlor-container-running123", "in use");
    const int holder = ::open(Native(held).constData(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    // A user's own files that only look like Keshlor's names are theirs.
    const QStringList lookAlikes{".keshlor-container-ABCDEFGHIJ", ".keshlor-copy-abc",
                                 ".keshlor-kept-0123456789", ".keshlor-plain-crashed1234",
                                 ".keshlor-plain-notes"};
    for (const QString& name : lookAlikes)
        folder.Write(name, "a user's own file");

    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    QStringList kept = lookAlikes + QStringList{".keshlor-container-running123", "doc.ksr"};
    kept.sort();
    QStringList entries = Entries();
    entries.sort();
    EXPECT_EQ(entries, kept);
    for (const QString& name : lookAlikes)
        EXPECT_EQ(ReadAll(folder.path(name)), QByteArray("a user's own file"));
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

// A source goes only while its name still holds the file that was read: a
// newer container renamed over the one being decrypted is kept, and said so.
TEST_F(FileSafety, OnlyTheFileThatWasReadIsRemoved) {
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    const QString newer = folder.Write("newer.ksr", "newer container");
    plat::SetProgressPort([&](uint64_t, uint64_t) {
        if (Exists(newer)) {
            ASSERT_EQ(::rename(Native(newer).constData(), Native(container).constData()), 0);
        }
    });
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_EQ(ReadAll(plain), data);
    EXPECT_EQ(ReadAll(container), QByteArray("newer container"));
    EXPECT_FALSE(LastContainerRemoval().removed);
    EXPECT_TRUE(LastContainerRemoval().reported);
    ASSERT_EQ(boxes.captions(), std::vector<QString>{"Can't delete!"});
    EXPECT_TRUE(boxes.shown()[0].text.contains(container + "\u201d was replaced by another file"));
    EXPECT_EQ(Entries(), (QStringList{"doc", "doc.ksr"}));
}

// Whatever changes the plain file after the check that precedes the
// container's commit (a save by rename, an append, a change once it is off
// its name) keeps it, newest data and all, and leaves no container.
TEST_F(FileSafety, AChangeAfterTheCheckIsNeverWipedAway) {
    options.Set(WipePlainFiles, true);
    const auto expectKept = [&](const QByteArray& newest) {
        EXPECT_EQ(Encrypt(), EncryptResult::Failed);
        EXPECT_EQ(CurrentPendingError().code, 23);
        EXPECT_TRUE(CurrentPendingError().detail.contains("changed while it was being encrypted"));
        EXPECT_EQ(ReadAll(plain), newest);
        EXPECT_EQ(Entries(), QStringList{"doc"});
        ReportError(nullptr, QString());
        plat::faults::Clear();
        plain = folder.Write("doc", data);
    };
    const auto append = [](const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("LINE\n");
    };
    // The container's own rename into place is the moment just after the check.
    plat::faults::AfterRename([&](const QString&, const QString& to) {
        if (to != container)
            return;
        folder.Write("doc.new", "NEW\n");
        ASSERT_EQ(::rename(Native(folder.path("doc.new")).constData(), Native(plain).constData()),
                  0);
    });
    expectKept("NEW\n");
    plat::faults::AfterRename([&](const QString&, const QString& to) {
        if (to == container)
            append(plain);
    });
    expectKept(data + "LINE\n");
    plat::faults::AfterRename([&](const QString&, const QString& to) {
        if (IsKeptName(to))
            append(to);
    });
    expectKept(data + "LINE\n");

    // A write that keeps the length and the last-write time shows only in the change time.
    plat::SetProgressPort([&](uint64_t, uint64_t) {
        struct stat before;
        ASSERT_EQ(::stat(Native(plain).constData(), &before), 0);
        const int fd = ::open(Native(plain).constData(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "XY", 2, 0), 2);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
        plat::SetProgressPort({});
    });
    expectKept("XY" + data.mid(2));

    // Changed off its name while its name was taken again: it stays where the message says.
    plat::faults::AfterRename([&](const QString&, const QString& to) {
        if (!IsKeptName(to))
            return;
        append(to);
        folder.Write("doc", "yet another doc");
    });
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 23);
    EXPECT_EQ(ReadAll(plain), QByteArray("yet another doc"));
    const QStringList kept = Entries().filter(QRegularExpression("^\\.keshlor-kept-"));
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(CurrentPendingError().detail.contains("\u201c" + kept[0] + "\u201d"));
    EXPECT_EQ(ReadAll(folder.path(kept[0])), data + "LINE\n");
    EXPECT_EQ(Entries(), (QStringList{kept[0], "doc"}));
}

// Writes through a shared mapping show in no time stamp once its page is
// dirty; the lease refused to a file open for writing elsewhere does.
TEST_F(FileSafety, AWriterThroughASharedMappingFailsTheRun) {
    if (!LeasesHere(folder.root()))
        GTEST_SKIP() << "no file leases on this file system";
    const int fd = ::open(Native(plain).constData(), O_RDWR);
    ASSERT_GE(fd, 0);
    void* mapped = ::mmap(nullptr, data.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto unmap = qScopeGuard([&] { ::munmap(mapped, data.size()); });
    std::memcpy(mapped, "MAPPED", 6); // the writer was busy before the run began
    data.replace(0, 6, "MAPPED");
    plat::SetProgressPort([&](uint64_t, uint64_t) { std::memcpy(mapped, "LATEST", 6); });
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 23);
    EXPECT_EQ(ReadAll(plain), "LATEST" + data.mid(6));
    EXPECT_EQ(Entries(), QStringList{"doc"});
}

// A run that stops right after a file left its name (a crash, a power cut)
// leaves it under a name the next run's leftover sweep never takes.
TEST_F(FileSafety, NoStopAfterARenameLeavesTheNewestDataToTheSweep) {
    options.Set(WipePlainFiles, true);
    const auto stoppedAfterTakingASource = [&](const std::function<void()>& run) {
        const pid_t child = ::fork();
        if (child == 0) {
            plat::faults::AfterRename([](const QString&, const QString& to) {
                if (IsKeptName(to))
                    ::_exit(0);
            });
            run();
            ::_exit(1);
        }
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    };
    const auto sweptAndFound = [&](const QByteArray& newest) {
        ForgetLeftoverSearches();
        RemoveLeftovers(folder.root());
        for (const QString& name : Entries())
            if (ReadAll(folder.path(name)) == newest)
                return name;
        return QString();
    };
    ASSERT_TRUE(stoppedAfterTakingASource([&] { Encrypt(); }));
    const QString plainKept = sweptAndFound(data);
    EXPECT_TRUE(IsKeptName(plainKept)) << plainKept.toStdString();
    const QByteArray sealed = ReadAll(container);
    ASSERT_FALSE(sealed.isEmpty());

    ASSERT_TRUE(QFile::remove(folder.path(plainKept)));
    ASSERT_TRUE(stoppedAfterTakingASource([&] { Decrypt(); }));
    const QString containerKept = sweptAndFound(sealed);
    EXPECT_TRUE(IsKeptName(containerKept)) << containerKept.toStdString();
    EXPECT_EQ(ReadAll(plain), data);
}

// POSIX ACLs and a user's own attributes go where the data goes, and the
// permission bits stay those of the source (group bits mean the ACL's mask).
TEST_F(FileSafety, AccessListsAndUserAttributesTravelWithTheData) {
    // u:1234:--- on a file the owning group may read, and u:1235:r with g::- and o::-.
    for (const QByteArray& list : {AccessList({{kUserObj, 6, kNoId},
                                               {kUser, 0, 1234},
                                               {kGroupObj, 4, kNoId},
                                               {kMask, 4, kNoId},
                                               {kOther, 0, kNoId}}),
                                   AccessList({{kUserObj, 6, kNoId},
                                               {kUser, 4, 1235},
                                               {kGroupObj, 0, kNoId},
                                               {kMask, 4, kNoId},
                                               {kOther, 0, kNoId}})}) {
        if (::setxattr(Native(plain).constData(), kAccessListName, list.constData(), list.size(),
                       0) != 0)
            GTEST_SKIP() << "no ACLs on this file system";
        ASSERT_EQ(::setxattr(Native(plain).constData(), "user.origin", "scanner", 7, 0), 0);
        ASSERT_EQ(Encrypt(), EncryptResult::Ok);
        EXPECT_EQ(Attribute(container, kAccessListName), list);
        EXPECT_EQ(Attribute(container, "user.origin"), QByteArray("scanner"));
        EXPECT_EQ(ModeOf(container), 0640u);
        ASSERT_EQ(Decrypt(), DecryptResult::Ok);
        EXPECT_EQ(Attribute(plain, kAccessListName), list);
        EXPECT_EQ(Attribute(plain, "user.origin"), QByteArray("scanner"));
        EXPECT_EQ(ModeOf(plain), 0640u);
    }
    EXPECT_TRUE(boxes.shown().empty());

    // Storage that keeps no ACL gets the data, readable by its owner alone, and says so once.
    const QString card = folder.path("card");
    ASSERT_TRUE(QDir().mkpath(card));
    if (::mount("ramfs", Native(card).constData(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount a ramfs here";
    const auto unmount = qScopeGuard([&] { ::umount(Native(card).constData()); });
    for (const QString name : {"one", "two"}) {
        const QString source = folder.Write(name, data);
        ASSERT_EQ(::setxattr(Native(source).constData(), kAccessListName,
                             Attribute(plain, kAccessListName).constData(),
                             Attribute(plain, kAccessListName).size(), 0),
                  0);
        ASSERT_EQ(EncryptFileToContainer(nullptr, source, card + "/" + name + ".ksr", "pw"),
                  EncryptResult::Ok);
        EXPECT_EQ(ModeOf(card + "/" + name + ".ksr"), 0600u);
    }
    EXPECT_EQ(boxes.captions(), std::vector<QString>{"Can't keep permissions!"});
}

// A user who may not give a file its group keeps it out of reach of their
// own group's members instead (the run here is another user's).
TEST_F(FileSafety, AGroupThatCannotBeKeptIsNotReplacedByAMoreOpenOne) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run as another user";
    constexpr uid_t kUser = 65534;
    constexpr gid_t kUsersGroup = 65534;
    constexpr gid_t kOtherGroup = 4; // one the user is not in
    ASSERT_EQ(::chown(Native(folder.root()).constData(), kUser, kUsersGroup), 0);
    ASSERT_EQ(::chown(Native(plain).constData(), kUser, kOtherGroup), 0);
    ASSERT_EQ(::chmod(Native(plain).constData(), 0640), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kUsersGroup) != 0 || ::setuid(kUser) != 0)
            ::_exit(2);
        const bool ok = Encrypt() == EncryptResult::Ok && ModeOf(container) == 0600 &&
                        Decrypt() == DecryptResult::Ok;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    struct stat st;
    ASSERT_EQ(::stat(Native(plain).constData(), &st), 0);
    EXPECT_EQ(st.st_gid, kUsersGroup);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadAll(plain), data);
}

// With wiping on, the older plain file a decryption replaces is plain data
// that goes: another program holding it open reads no word of it afterwards,
// unless other names of it keep it, which are left alone.
TEST_F(FileSafety, APlainFileADecryptionReplacesIsWiped) {
    options.Set(WipePlainFiles, true);
    ASSERT_EQ(Encrypt(), EncryptResult::Ok);
    const QByteArray sealed = ReadAll(container);
    const QByteArray draft("OLD SECRET DRAFT");
    folder.Write("doc", draft);
    const int reader = ::open(Native(plain).constData(), O_RDONLY);
    ASSERT_GE(reader, 0);
    boxes.Answer(plat::kIdYes);
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_EQ(ReadAll(plain), data);
    QByteArray seen(draft.size(), '\0');
    EXPECT_EQ(::pread(reader, seen.data(), seen.size(), 0), draft.size());
    EXPECT_NE(seen, draft);
    ::close(reader);
    EXPECT_EQ(LastDisposeOutcome(), DisposeOutcome::Removed);
    EXPECT_EQ(Entries(), QStringList{"doc"});

    folder.Write("doc.ksr", sealed);
    folder.Write("doc", draft);
    ASSERT_EQ(::link(Native(plain).constData(), Native(folder.path("draft")).constData()), 0);
    boxes.Answer(plat::kIdYes);
    ASSERT_EQ(Decrypt(), DecryptResult::Ok);
    EXPECT_EQ(ReadAll(plain), data);
    EXPECT_EQ(ReadAll(folder.path("draft")), draft);
    EXPECT_EQ(Entries(), (QStringList{"doc", "draft"}));
}

// The new name is given without replacing anything: a file that appeared at
// the target's name during a run which found none there stays.
TEST_F(FileSafety, AFileThatAppearsAtTheTargetDuringTheRunIsKept) {
    plat::SetProgressPort([&](uint64_t, uint64_t) {
        if (!Exists(container))
            folder.Write("doc.ksr", "appeared meanwhile");
    });
    EXPECT_EQ(Encrypt(), EncryptResult::Failed);
    EXPECT_EQ(CurrentPendingError().code, 10);
    EXPECT_EQ(ReadAll(container), QByteArray("appeared meanwhile"));
    EXPECT_EQ(ReadAll(plain), data);
    EXPECT_TRUE(Temporaries().isEmpty()) << Temporaries().join(' ').toStdString();
}

} // namespace
