// The installer hooks' work: closing running copies with the user's
// consent, the executable and its launcher put in place and taken back,
// the recorded paths, and the terminal question of a package installation.
#include "fake_copy.h"
#include "platform/instance_channel.h"
#include "port_doubles.h"
#include "setup/installer_console.h"
#include "setup/keshlor_setup.h"
#include "setup/launcher.h"
#include "setup/running_copies.h"
#include "setup/setup_hooks.h"
#include "setup/setup_store.h"
#include "temp_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using testing_files::Exists;
using testing_files::ReadAll;
using testing_ports::ScriptedMessageBoxes;
using namespace testing_setup;

namespace {

constexpr int kWaitMs = 400;

class SetupHooks : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.valid());
        // Runtime folders of this test's own; other users' copies go under its TMPDIR.
        runtime_ = std::make_unique<ScopedRuntime>(folder_.root());
        ASSERT_TRUE(runtime_->valid());
        for (const char* sub : {"lib/keshlor", "bin", "applications", "TQ"})
            ASSERT_TRUE(QDir().mkpath(folder_.path(QString::fromLatin1(sub))));
        context_.storePath = folder_.path(QStringLiteral("TQ/Keshlor.conf"));
        context_.instance = UniqueInstance();
        context_.closeWaitMs = kWaitMs;
        paths_.temp = folder_.path(QStringLiteral("lib/keshlor/keshlor"));
        paths_.app = folder_.path(QStringLiteral("bin/keshlor"));
        paths_.appLink = folder_.path(QStringLiteral("applications/org.keshlor.Keshlor.desktop"));
        Put(paths_.temp, "new build");
        Put(paths_.app, "old build");
        Put(paths_.appLink, "old launcher");
    }

    QString OwnChannel() const { return OwnSocket(context_.instance); }
    // The channel of `uid`'s copy in its fallback folder under this test's TMPDIR.
    QString FallbackChannel(uid_t uid) const {
        return InstanceSocketPath(FallbackFolderOf(uid), ChannelName(uid, context_.instance));
    }
    QString InstallDir() const { return folder_.path(QStringLiteral("bin")); }
    void RecordPaths() { ASSERT_TRUE(setup::WriteInstallPaths(context_.storePath, paths_)); }
    static void Put(const QString& path, const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content), content.size());
    }
    // The three files exactly as SetUp left them.
    void ExpectUntouched() const {
        EXPECT_EQ(ReadAll(paths_.temp), "new build");
        EXPECT_EQ(ReadAll(paths_.app), "old build");
        EXPECT_EQ(ReadAll(paths_.appLink), "old launcher");
    }

    testing_files::TempFolder folder_;
    std::unique_ptr<ScopedRuntime> runtime_;
    setup::SetupContext context_;
    setup::InstallPaths paths_;
    ScriptedMessageBoxes boxes_;
};

// --- closing the running program ---

TEST_F(SetupHooks, FirstInstallationLooksForNoRunningCopy) {
    RecordPaths();
    FakeCopy copy(OwnChannel(), Behaviour::Closes);
    ASSERT_TRUE(copy.valid());
    EXPECT_EQ(setup::InstallInit(nullptr, false, InstallDir(), context_),
              codeINSTALL_INIT_CONTINUE);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(copy.closeRequests(), 0);
    EXPECT_TRUE(copy.listening());
    ExpectUntouched();
}

TEST_F(SetupHooks, ReinstallationAsksAndOkClosesTheCopy) {
    RecordPaths();
    FakeCopy copy(OwnChannel(), Behaviour::Closes);
    ASSERT_TRUE(copy.valid());
    boxes_.Answer(plat::kIdOk);
    EXPECT_EQ(setup::InstallInit(nullptr, true, InstallDir(), context_), codeINSTALL_INIT_CONTINUE);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text,
              QStringLiteral("Keshlor is still running: it will be closed before continuing."));
    EXPECT_EQ(boxes_.shown()[0].caption, QStringLiteral("Close Keshlor"));
    EXPECT_EQ(boxes_.shown()[0].style, plat::kMbOkCancel | plat::kMbIconHand);
    EXPECT_EQ(copy.closeRequests(), 1);
    EXPECT_FALSE(copy.listening());
    // The paths are recorded, so nothing is deleted before the new files come.
    ExpectUntouched();
}

TEST_F(SetupHooks, CancelStopsInstallationAndRemovalAndLeavesTheCopyRunning) {
    RecordPaths();
    FakeCopy copy(OwnChannel(), Behaviour::Closes);
    ASSERT_TRUE(copy.valid());
    boxes_.Answer(plat::kIdCancel);
    EXPECT_EQ(setup::InstallInit(nullptr, true, InstallDir(), context_), codeINSTALL_INIT_CANCEL);
    boxes_.Answer(plat::kIdCancel);
    EXPECT_EQ(setup::UninstallInit(nullptr, context_), codeUNINSTALL_INIT_CANCEL);
    EXPECT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(copy.closeRequests(), 0);
    EXPECT_TRUE(copy.listening());
    ExpectUntouched();
}

TEST_F(SetupHooks, ACopyThatIgnoresCloseIsAskedAboutAgainAfterTheWait) {
    FakeCopy copy(OwnChannel(), Behaviour::IgnoresClose);
    ASSERT_TRUE(copy.valid());
    boxes_.Answer(plat::kIdOk);
    boxes_.Answer(plat::kIdOk);
    boxes_.Answer(plat::kIdCancel);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(setup::CloseRunningProgram(nullptr, context_));
    EXPECT_GE(clock.elapsed(), 2 * kWaitMs);
    EXPECT_EQ(boxes_.shown().size(), 3u);
    EXPECT_EQ(copy.closeRequests(), 2);
    EXPECT_EQ(boxes_.unexpected(), 0);
}

TEST_F(SetupHooks, ACopyThatTakesNoConnectionsCannotHoldTheInstallerUp) {
    FakeCopy copy(OwnChannel(), Behaviour::TakesNoConnections);
    ASSERT_TRUE(copy.valid());
    boxes_.Answer(plat::kIdOk);
    boxes_.Answer(plat::kIdCancel);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(setup::CloseRunningProgram(nullptr, context_));
    EXPECT_EQ(boxes_.shown().size(), 2u);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(SetupHooks, EveryUsersCopyIsClosedInTurn) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a copy as another user";
    // Theirs without XDG_RUNTIME_DIR, so in their folder under the temporary folder.
    OtherUsersCopy theirs(FallbackFolderOf(kNobody), FallbackChannel(kNobody));
    FakeCopy ours(OwnChannel(), Behaviour::Closes);
    ASSERT_TRUE(theirs.valid() && ours.valid());
    boxes_.Answer(plat::kIdOk);
    boxes_.Answer(plat::kIdOk);
    EXPECT_TRUE(setup::CloseRunningProgram(nullptr, context_));
    EXPECT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(ours.closeRequests(), 1);
    EXPECT_TRUE(theirs.ClosedOnRequest(3000));
}

TEST_F(SetupHooks, ANameInAFolderOfAnotherUserIsNoCopyAndIsNotAskedAbout) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hold a name as another user";
    // Anyone may make our fallback folder first under the temporary folder,
    // and put a channel named for us in it, or in a folder of their own:
    // that must not make every installation ask (and a non-interactive one
    // cancel).
    const QString ourFallback = FallbackFolderOf(geteuid());
    OtherUsersCopy squatter(
        ourFallback, InstanceSocketPath(ourFallback, ChannelName(geteuid(), context_.instance)));
    OtherUsersCopy impostor(
        FallbackFolderOf(kNobody),
        InstanceSocketPath(FallbackFolderOf(kNobody), ChannelName(geteuid(), context_.instance)));
    ASSERT_TRUE(squatter.valid() && impostor.valid());
    RecordPaths();
    EXPECT_EQ(setup::InstallInit(nullptr, true, InstallDir(), context_), codeINSTALL_INIT_CONTINUE);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_FALSE(squatter.ClosedOnRequest(200));
    EXPECT_FALSE(impostor.ClosedOnRequest(200));
}

TEST_F(SetupHooks, TheSocketOfACrashedCopyIsNotAskedAbout) {
    ASSERT_TRUE(LeaveDebris(OwnChannel()));
    RecordPaths();
    EXPECT_EQ(setup::InstallInit(nullptr, true, InstallDir(), context_), codeINSTALL_INIT_CONTINUE);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(SetupHooks, ACopyStartedWithoutTheSessionsRuntimeFolderIsClosedToo) {
    // The same user, its copy in the fallback folder (XDG_RUNTIME_DIR unset there).
    ASSERT_FALSE(InstanceRuntimeFolder(true).isEmpty());
    const QString fallback = FallbackFolderOf(geteuid());
    ASSERT_EQ(mkdir(QFile::encodeName(fallback).constData(), 0700), 0);
    FakeCopy copy(FallbackChannel(geteuid()), Behaviour::Closes);
    ASSERT_TRUE(copy.valid());
    boxes_.Answer(plat::kIdOk);
    EXPECT_TRUE(setup::CloseRunningProgram(nullptr, context_));
    EXPECT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(copy.closeRequests(), 1);
}

// --- the executable and its launcher ---

TEST_F(SetupHooks, ReinstallationWithoutRecordedPathsDeletesTheOldExecutable) {
    Put(folder_.path(QStringLiteral("bin/ksr")), "terminal program");
    EXPECT_EQ(setup::InstallInit(nullptr, true, InstallDir(), context_), codeINSTALL_INIT_CONTINUE);
    EXPECT_FALSE(Exists(paths_.app));
    EXPECT_EQ(ReadAll(folder_.path(QStringLiteral("bin/ksr"))), "terminal program");
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(SetupHooks, AnInstallationFolderThatIsNoAbsolutePathDeletesNothing) {
    // A relative folder would be taken from wherever the installer runs.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder_.root()));
    const int empty = setup::InstallInit(nullptr, true, QString(), context_);
    const int relative = setup::InstallInit(nullptr, true, QStringLiteral("bin"), context_);
    QDir::setCurrent(previous);
    EXPECT_EQ(empty, codeINSTALL_INIT_CONTINUE);
    EXPECT_EQ(relative, codeINSTALL_INIT_CONTINUE);
    EXPECT_EQ(ReadAll(paths_.app), "old build");
}

TEST_F(SetupHooks, InstallExitPutsTheExecutableInPlaceUnderAQuotedLauncher) {
    RecordPaths();
    ASSERT_FALSE(paths_.app.contains(u' '));
    chmod(QFile::encodeName(paths_.temp).constData(), 0755);
    // Users must read the launcher whatever the installer's umask.
    const mode_t previousMask = umask(077);
    const int result = setup::InstallExit(context_);
    umask(previousMask);
    EXPECT_EQ(result, codeINSTALL_EXIT_DONE);

    EXPECT_EQ(ReadAll(paths_.app), "new build");
    EXPECT_FALSE(Exists(paths_.temp));
    EXPECT_EQ(QFileInfo(paths_.app).permissions() & QFile::ExeOther, QFile::ExeOther);

    const QList<QByteArray> launcher = ReadAll(paths_.appLink).split('\n');
    EXPECT_EQ(launcher.value(0), "[Desktop Entry]");
    EXPECT_TRUE(launcher.contains("Exec=\"" + QFile::encodeName(paths_.app) + "\" %F"));
    EXPECT_TRUE(launcher.contains("Name=Keshlor"));
    EXPECT_TRUE(launcher.contains("MimeType=application/x-keshlor;"));
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(paths_.appLink).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(SetupHooks, InstallExitAgainKeepsTheOnlyExecutable) {
    RecordPaths();
    setup::InstallExit(context_);
    // A second configuration run with nothing new unpacked.
    EXPECT_EQ(setup::InstallExit(context_), codeINSTALL_EXIT_DONE);
    EXPECT_EQ(ReadAll(paths_.app), "new build");
    EXPECT_TRUE(Exists(paths_.appLink));
}

TEST_F(SetupHooks, RemovalLeavesNoLauncherAndGivesTheExecutableItsInstalledName) {
    RecordPaths();
    setup::InstallExit(context_);
    EXPECT_EQ(setup::UninstallInit(nullptr, context_), codeUNINSTALL_INIT_CONTINUE);
    EXPECT_FALSE(Exists(paths_.appLink));
    EXPECT_FALSE(Exists(paths_.app));
    EXPECT_EQ(ReadAll(paths_.temp), "new build");
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(SetupHooks, TheExecutableMovesBetweenFileSystems) {
    QTemporaryDir other(QStringLiteral("/dev/shm/keshlor-setup-XXXXXX"));
    struct stat here {
    }, there{};
    if (!other.isValid() || stat(QFile::encodeName(folder_.root()).constData(), &here) != 0 ||
        stat(QFile::encodeName(other.path()).constData(), &there) != 0 ||
        here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    paths_.temp = other.filePath(QStringLiteral("keshlor"));
    Put(paths_.temp, "new build");
    chmod(QFile::encodeName(paths_.temp).constData(), 0751);
    RecordPaths();
    setup::InstallExit(context_);
    EXPECT_EQ(ReadAll(paths_.app), "new build");
    EXPECT_FALSE(Exists(paths_.temp));
    struct stat moved {};
    ASSERT_EQ(stat(QFile::encodeName(paths_.app).constData(), &moved), 0);
    EXPECT_EQ(moved.st_mode & 07777, 0751u);
    // No half-copied file left beside it.
    EXPECT_EQ(QDir(InstallDir()).entryList(QDir::Files), QStringList{QStringLiteral("keshlor")});
}

// --- the recorded paths ---

struct StoreCase {
    const char* name;
    const char* content; // the store file as written, or nullptr for none
};

// Without it the case prints as raw pointer bytes, which change from run to run.
void PrintTo(const StoreCase& store, std::ostream* out) {
    *out << store.name;
}

class RecordedPaths : public SetupHooks, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(RecordedPaths, AreAbsentUnlessAllThreeAreUsableStrings) {
    if (GetParam().content) {
        QByteArray text(GetParam().content);
        text.replace("$LONG", "/" + QByteArray(259, 'x'));
        text.replace("$T", QFile::encodeName(paths_.temp));
        text.replace("$A", QFile::encodeName(paths_.app));
        text.replace("$L", QFile::encodeName(paths_.appLink));
        Put(context_.storePath, text);
    }
    setup::InstallPaths read;
    EXPECT_FALSE(setup::ReadInstallPaths(context_.storePath, &read));
    EXPECT_EQ(setup::InstallExit(context_), codeINSTALL_EXIT_DONE);
    EXPECT_EQ(setup::UninstallInit(nullptr, context_), codeUNINSTALL_INIT_CONTINUE);
    ExpectUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    Stores, RecordedPaths,
    ::testing::Values(StoreCase{"NoStore", nullptr},
                      StoreCase{"AppLinkMissing", "[General]\nTemp=$T\nApp=$A\n"},
                      StoreCase{"TempMissing", "[General]\nApp=$A\nAppLink=$L\n"},
                      StoreCase{"TempAList", "[General]\nTemp=$T, $T\nApp=$A\nAppLink=$L\n"},
                      StoreCase{"AppBytes", "[General]\nTemp=$T\nApp=@ByteArray($A)\nAppLink=$L\n"},
                      StoreCase{"AppLinkAVariant",
                                "[General]\nTemp=$T\nApp=$A\nAppLink=@Size(3 4)\n"},
                      StoreCase{"TempRelative", "[General]\nTemp=keshlor\nApp=$A\nAppLink=$L\n"},
                      StoreCase{"AppEmpty", "[General]\nTemp=$T\nApp=\nAppLink=$L\n"},
                      StoreCase{"AppLinkTooLong", "[General]\nTemp=$T\nApp=$A\nAppLink=$LONG\n"},
                      StoreCase{"InAnotherGroup", "[Keshlor]\nTemp=$T\nApp=$A\nAppLink=$L\n"}),
    [](const ::testing::TestParamInfo<StoreCase>& info) { return info.param.name; });

TEST_F(SetupHooks, RecordedPathsRoundTripAndGoAwayWithTheirFolder) {
    RecordPaths();
    setup::InstallPaths read;
    ASSERT_TRUE(setup::ReadInstallPaths(context_.storePath, &read));
    EXPECT_EQ(read.temp, paths_.temp);
    EXPECT_EQ(read.app, paths_.app);
    EXPECT_EQ(read.appLink, paths_.appLink);
    EXPECT_TRUE(setup::RemoveInstallPaths(context_.storePath));
    EXPECT_FALSE(Exists(context_.storePath));
    EXPECT_FALSE(Exists(folder_.path(QStringLiteral("TQ"))));
}

// --- the launcher's command ---

TEST(Launcher, TheCommandIsOneQuotedArgumentWhateverThePathHolds) {
    // Desktop entries unescape \\ first, then the quoting: a literal
    // backslash takes four, a quote, dollar or backtick one escaped backslash.
    const struct {
        QString path;
        QString quoted;
    } cases[] = {
        {QStringLiteral("/usr/bin/keshlor"), QStringLiteral("\"/usr/bin/keshlor\"")},
        {QStringLiteral("/opt/My Apps/keshlor"), QStringLiteral("\"/opt/My Apps/keshlor\"")},
        {QStringLiteral("/a\"b$c`d\\e"), QStringLiteral(R"("/a\\"b\\$c\\`d\\\\e")")},
        {QStringLiteral("/100%/keshlor"), QStringLiteral("\"/100%%/keshlor\"")},
        {QStringLiteral("/a\nb"), QStringLiteral("\"/a\\nb\"")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(setup::QuoteExecArgument(c.path), c.quoted) << c.path.toStdString();
}

// --- finding running copies ---

TEST(RunningCopies, TheChannelIsTheSocketFileNamedForTheFoldersOwner) {
    const auto parse = [](const char* fileName, uid_t owner, const setup::CopyFilter& filter) {
        setup::RunningCopy copy;
        if (!setup::ParseSocketFileName(fileName, owner, filter, &copy))
            return QByteArray("-");
        return copy.channel + '/' + QByteArray::number(copy.owner);
    };
    EXPECT_EQ(parse("KESHLOR-1000.socket", 1000, {}), "KESHLOR-1000/1000");
    EXPECT_EQ(parse("KESHLOR-0-test.socket", 0, {}), "KESHLOR-0-test/0");
    EXPECT_EQ(parse("KESHLOR-9-with space.socket", 9, {}), "KESHLOR-9-with space/9");
    // Named for someone other than the folder's owner.
    EXPECT_EQ(parse("KESHLOR-1000.socket", 1001, {}), "-");
    EXPECT_EQ(parse("KESHLOR-0-test.socket", 1000, {}), "-");
    // No channel of the program.
    for (const char* name :
         {"KESHLOR-1000.lock", "KESHLOR-1000", "KESHLORX-7.socket", "KESHLOR-abc.socket",
          "KESHLOR-8-.socket", "KESHLOR-8x.socket", "KESHLOR-.socket", "KESHLOR-99999999999.socket",
          "keshlor-5.socket", ".socket"})
        EXPECT_EQ(parse(name, 8, {}), "-") << name;
    // The filter.
    EXPECT_EQ(parse("KESHLOR-0-test.socket", 0, {"test", std::nullopt}), "KESHLOR-0-test/0");
    EXPECT_EQ(parse("KESHLOR-0.socket", 0, {"test", std::nullopt}), "-");
    EXPECT_EQ(parse("KESHLOR-0-test-2.socket", 0, {"test", std::nullopt}), "-");
    EXPECT_EQ(parse("KESHLOR-0-a_b.socket", 0, {"a/b", std::nullopt}), "KESHLOR-0-a_b/0");
    EXPECT_EQ(parse("KESHLOR-1000.socket", 1000, {{}, 1000}), "KESHLOR-1000/1000");
    EXPECT_EQ(parse("KESHLOR-1000.socket", 1000, {{}, 0}), "-");
}

TEST(RunningCopies, EveryUsersFolderCountsOnlyWhenItIsTheirsAndClosed) {
    testing_files::TempFolder folder;
    ASSERT_TRUE(folder.valid());
    const QString users = folder.path(QStringLiteral("user"));
    const QString temp = folder.path(QStringLiteral("tmp"));
    const uid_t self = geteuid();
    const QString selfName = QString::number(static_cast<qulonglong>(self));
    const auto make = [](const QString& path, mode_t mode) {
        const QByteArray encoded = QFile::encodeName(path);
        return mkdir(encoded.constData(), mode) == 0 && chmod(encoded.constData(), mode) == 0;
    };
    ASSERT_TRUE(make(users, 0755) && make(temp, 01777));
    ASSERT_TRUE(make(users + QLatin1Char('/') + selfName, 0700));
    ASSERT_TRUE(make(users + QStringLiteral("/4242"), 0700)); // ours, named for another
    ASSERT_TRUE(make(users + QStringLiteral("/abc"), 0700));
    ASSERT_TRUE(make(temp + QStringLiteral("/keshlor-") + selfName, 0700));
    ASSERT_TRUE(make(temp + QStringLiteral("/keshlor-x"), 0700));
    ASSERT_TRUE(make(temp + QStringLiteral("/other-") + selfName, 0700));
    ASSERT_TRUE(make(temp + QStringLiteral("/keshlor-4243"), 0700));
    // Ours and named for us, but open to others.
    const QString open = folder.path(QStringLiteral("open"));
    ASSERT_TRUE(make(open, 0700) && make(open + QLatin1Char('/') + selfName, 0770));
    // A link to a fit folder is no folder.
    const QString linked = folder.path(QStringLiteral("linked"));
    ASSERT_TRUE(make(linked, 0700));
    ASSERT_TRUE(
        QFile::link(users + QLatin1Char('/') + selfName, linked + QLatin1Char('/') + selfName));
    QStringList expected{temp + QStringLiteral("/keshlor-") + selfName,
                         users + QLatin1Char('/') + selfName};
    if (self == 0) {
        // Another user's: theirs when they own it.
        for (const QString& path :
             {users + QStringLiteral("/65534"), temp + QStringLiteral("/keshlor-65534")}) {
            ASSERT_TRUE(make(path, 0700));
            ASSERT_EQ(chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
            expected << path;
        }
        // Named for someone who does not own it.
        const QString taken = users + QStringLiteral("/4244");
        ASSERT_TRUE(make(taken, 0700));
        ASSERT_EQ(chown(QFile::encodeName(taken).constData(), kNobody, kNobody), 0);
    }
    expected.sort();
    QStringList found;
    for (const setup::RuntimeFolder& runtime :
         setup::UserRuntimeFolders({users, open, linked}, {temp})) {
        found << runtime.path;
        EXPECT_EQ(QString::number(runtime.owner),
                  runtime.path.section(QLatin1Char('/'), -1).remove(QStringLiteral("keshlor-")));
    }
    EXPECT_EQ(found, expected);
}

TEST(RunningCopies, OnlySocketsTheFoldersOwnerListensOnCount) {
    testing_files::TempFolder folder;
    ASSERT_TRUE(folder.valid());
    const uid_t self = geteuid();
    const QString runtime = folder.root();
    const auto socketOf = [&](const QByteArray& instance, uid_t uid = geteuid()) {
        return InstanceSocketPath(runtime, ChannelName(uid, instance));
    };
    FakeCopy live(socketOf("live"), Behaviour::Closes);
    FakeCopy stalled(socketOf("stalled"), Behaviour::TakesNoConnections);
    FakeCopy otherName(socketOf("other-name", self + 1), Behaviour::Closes);
    ASSERT_TRUE(live.valid() && stalled.valid() && otherName.valid());
    ASSERT_TRUE(LeaveDebris(socketOf("crashed")));
    folder.Write(QFileInfo(socketOf("plain-file")).fileName(), "not a socket");
    std::vector<QString> found;
    for (const setup::RunningCopy& copy : setup::FindRunningCopiesIn({{runtime, self}}, {})) {
        found.push_back(copy.socket);
        EXPECT_EQ(copy.owner, self);
        EXPECT_EQ(copy.socket, InstanceSocketPath(runtime, copy.channel));
    }
    EXPECT_EQ(found, (std::vector<QString>{socketOf("live"), socketOf("stalled")}));
    EXPECT_TRUE(setup::FindRunningCopiesIn({{runtime, self + 1}}, {}).empty());
    EXPECT_EQ(setup::FindRunningCopiesIn({{runtime, self}}, {"stalled", std::nullopt}).size(), 1u);
}

// --- the question on a terminal ---

// The answers to `questions` questions asked in turn of one typed input.
std::vector<int> AskInTurn(const QByteArray& typed, int questions, QByteArray* shown) {
    FILE* in = fmemopen(const_cast<char*>(typed.constData()), typed.size(), "r");
    if (!in)
        return {};
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    std::vector<int> answers;
    for (int i = 0; i < questions; ++i)
        answers.push_back(setup::AskOnTerminal(in, out, QStringLiteral("Keshlor is still running."),
                                               QStringLiteral("Close Keshlor"), plat::kMbOkCancel));
    fclose(in);
    fclose(out);
    *shown = QByteArray(buffer, static_cast<qsizetype>(size));
    free(buffer);
    return answers;
}

TEST(TerminalQuestion, OnlyAYesIsOkAndEachLineAnswersOneQuestion) {
    // An overlong line counts once; the end of the input answers Cancel.
    const QByteArray typed = "y\nYES\n ok\nn\n\nyy\n" + QByteArray(100, 'y') + "\ny\n";
    QByteArray shown;
    constexpr int ok = plat::kIdOk;
    constexpr int cancel = plat::kIdCancel;
    EXPECT_EQ(AskInTurn(typed, 9, &shown),
              (std::vector<int>{ok, ok, ok, cancel, cancel, cancel, cancel, ok, cancel}));
    EXPECT_TRUE(shown.startsWith("\nClose Keshlor\nKeshlor is still running.\n"));
}

} // namespace
