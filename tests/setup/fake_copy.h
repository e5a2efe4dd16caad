#pragma once
// Running copies of the program as the installer hooks meet them: a
// listener on a channel's socket file that answers "close" the way the
// program does, or not at all; and the runtime folders they live in.
#include <QByteArray>
#include <QString>

#include <atomic>
#include <optional>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testing_setup {

// "KESHLOR-<uid>-<instance>", the name a copy started with KESHLOR_INSTANCE holds.
QByteArray ChannelName(uid_t uid, const QByteArray& instance);
// A KESHLOR_INSTANCE no other test and no real copy uses.
QByteArray UniqueInstance();
// The socket file of this user's copy of `instance`, in this process's
// runtime folder (made when missing).
QString OwnSocket(const QByteArray& instance);
// "<temp>/keshlor-<uid>", the folder a copy of `uid` without
// XDG_RUNTIME_DIR uses; <temp> is this process's temporary folder.
QString FallbackFolderOf(uid_t uid);

inline constexpr uid_t kNobody = 65534;

// For one test: XDG_RUNTIME_DIR a private folder of this user's ("run"),
// TMPDIR a folder anyone may write as /tmp ("tmp"), both under `root`, which
// is opened for other users to pass through. Restores both on destruction.
class ScopedRuntime {
  public:
    explicit ScopedRuntime(const QString& root);
    ~ScopedRuntime();
    ScopedRuntime(const ScopedRuntime&) = delete;
    ScopedRuntime& operator=(const ScopedRuntime&) = delete;

    bool valid() const { return valid_; }
    QString runtime() const { return runtime_; }
    QString temp() const { return temp_; }

  private:
    QString runtime_, temp_;
    std::optional<QByteArray> savedRuntime_, savedTemp_;
    bool valid_ = false;
};

enum class Behaviour {
    Closes,             // releases the name, then answers "closed"
    IgnoresClose,       // reads the request and never answers
    TakesNoConnections, // listens, never accepts, its queue full
};

// Served on its own thread, as this user, on the socket file `path`.
class FakeCopy {
  public:
    FakeCopy(const QString& path, Behaviour behaviour);
    ~FakeCopy();
    FakeCopy(const FakeCopy&) = delete;
    FakeCopy& operator=(const FakeCopy&) = delete;

    bool valid() const { return listenFd_ >= 0; }
    bool listening() const { return listening_; }
    int closeRequests() const { return closeRequests_; }

  private:
    void Serve();

    QByteArray path_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::vector<int> heldFds_;
    std::atomic<bool> listening_{false};
    std::atomic<int> closeRequests_{0};
    std::thread thread_;
};

// A socket file left by a copy that crashed: bound, nobody listening.
bool LeaveDebris(const QString& path);

// A copy of another user (needs root): a child process that, as user
// nobody, makes `folder` (mode 0700) when it is missing, listens on the
// socket file `path` and closes on request. Its exit code says whether it
// was asked (0) or ended by us (killed).
class OtherUsersCopy {
  public:
    OtherUsersCopy(const QString& folder, const QString& path);
    ~OtherUsersCopy();
    OtherUsersCopy(const OtherUsersCopy&) = delete;
    OtherUsersCopy& operator=(const OtherUsersCopy&) = delete;

    bool valid() const { return ready_; }
    // True when it closed on request within `timeoutMs`.
    bool ClosedOnRequest(int timeoutMs);

  private:
    pid_t child_ = -1;
    bool ready_ = false;
    bool reaped_ = false;
    int status_ = 0;
};

} // namespace testing_setup
