#pragma once
// The running copy's channel: a socket in Linux's abstract namespace, named
// after the program and the user. Binding the name is the single-instance
// test (two copies started at once cannot both win, and a crash leaves no
// stale file behind); other copies and the installer hooks connect to it to
// ask the running copy to come to the front ("raise") or to close ("close").
// QtCore only, so that programs without widgets can ask too.
#include <QByteArray>
#include <QObject>

#include <map>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;

// "KESHLOR-<uid>"; with KESHLOR_INSTANCE set, "KESHLOR-<uid>-<value>", which
// keeps separate copies apart (a second desktop session, tests).
QByteArray InstanceChannelName();

enum class ClaimResult {
    Claimed,     // this copy is the running one
    Taken,       // another copy holds the name
    Unavailable, // no channel could be made; run without one
};

enum class InstanceReply {
    Done,       // the running copy did what was asked
    NotRunning, // nobody holds the name
    NoAnswer,   // a copy holds the name but did not answer in time
    Foreign,    // the name is held by another user's process
};

inline constexpr char kRaiseRequest[] = "raise";
inline constexpr char kCloseRequest[] = "close";

class InstanceChannel : public QObject {
    Q_OBJECT
  public:
    explicit InstanceChannel(QByteArray name, QObject* parent = nullptr);
    // Answers waiting close requests: the program is going away.
    ~InstanceChannel() override;

    // Binds the name. Needs no event loop; requests are served once
    // StartServing has run under a QCoreApplication.
    ClaimResult Claim();
    void StartServing();
    bool claimed() const { return listenFd_ >= 0; }
    const QByteArray& name() const { return name_; }

    // Releases the name and tells every waiting "close" request that the
    // program has closed. Call when the main window is gone.
    void AnswerCloseRequests();

  signals:
    void raiseRequested();
    void closeRequested();

  private:
    struct Peer;
    void AcceptPeers();
    void ReadPeer(int id);
    void DropPeer(int id);
    void StopListening();

    QByteArray name_;
    int listenFd_ = -1;
    QSocketNotifier* listenNotifier_ = nullptr;
    int nextPeerId_ = 1;
    std::map<int, std::unique_ptr<Peer>> peers_;
};

// Connects to the running copy, sends `request` and waits up to `timeoutMs`
// for its answer. Blocking; never call it for this process's own channel on
// the thread that serves it.
InstanceReply SendInstanceRequest(const QByteArray& name, const QByteArray& request, int timeoutMs);
// The same for a copy of user `owner` (the administrator's installer asks
// every user's copy); Foreign when anyone else holds the name.
InstanceReply SendInstanceRequest(const QByteArray& name, const QByteArray& request, int timeoutMs,
                                  uid_t owner);

// Asks the running copy of this user to close as its Exit command does (the
// options are saved) and waits until it has closed.
InstanceReply CloseRunningCopy(int timeoutMs);
