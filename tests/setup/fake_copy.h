#pragma once
// Running copies of the program as the installer hooks meet them: a
// listener on the program's channel name that answers "close" the way the
// program does, or not at all.
#include <QByteArray>

#include <atomic>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testing_setup {

// "KESHLOR-<uid>-<instance>", the name a copy started with KESHLOR_INSTANCE holds.
QByteArray ChannelName(uid_t uid, const QByteArray& instance);
// A KESHLOR_INSTANCE no other test and no real copy uses.
QByteArray UniqueInstance();

inline constexpr uid_t kNobody = 65534;

enum class Behaviour {
    Closes,             // releases the name, then answers "closed"
    IgnoresClose,       // reads the request and never answers
    TakesNoConnections, // listens, never accepts, its queue full
};

// Served on its own thread, as this user.
class FakeCopy {
  public:
    FakeCopy(QByteArray name, Behaviour behaviour);
    ~FakeCopy();
    FakeCopy(const FakeCopy&) = delete;
    FakeCopy& operator=(const FakeCopy&) = delete;

    bool valid() const { return listenFd_ >= 0; }
    bool listening() const { return listening_; }
    int closeRequests() const { return closeRequests_; }

  private:
    void Serve();

    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::vector<int> heldFds_;
    std::atomic<bool> listening_{false};
    std::atomic<int> closeRequests_{0};
    std::thread thread_;
};

// A copy of another user (needs root): a child process that holds `name`
// as user nobody and closes on request. Its exit code says whether it was
// asked (0) or ended by us (killed).
class OtherUsersCopy {
  public:
    explicit OtherUsersCopy(const QByteArray& name);
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
