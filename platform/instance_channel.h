#pragma once
// The running copy's channel: a Unix socket file in a folder only its user
// may write, claimed under a lock file beside it. Holding the lock is the
// single-instance test; other copies and the installer hooks connect to the
// socket to ask the running copy to come to the front ("raise"), to take the
// files a new copy was started with ("open"), or to close ("close"), one
// request per connection (instance_request.h). QtCore and QtNetwork only, so
// that programs without widgets can ask too.
//
// The files, for the name N (InstanceChannelName):
//   <folder>/N.socket  the channel, a QLocalServer; only the user and the
//                      administrator are listened to (SO_PEERCRED)
//   <folder>/N.lock    flock()ed while a copy holds N; never removed, so that
//                      everyone locks the same file. The kernel lets go of
//                      the lock when the holder ends, even by a crash, and
//                      the next holder replaces the socket file left behind.
// <folder> (InstanceRuntimeFolder) is $XDG_RUNTIME_DIR when that is a folder
// of this user's with mode 0700; otherwise <temp>/keshlor-<uid> (<temp> is
// $TMPDIR or /tmp), made 0700 when missing and refused unless it is a real
// folder (no link) of this user's with mode 0700. Other users can neither
// create, lock nor reach anything in it, so only this user's own copies can
// hold the name. With no fit folder, or a socket path longer than a Unix
// socket address holds (107 bytes), the program runs without a channel.
#include "platform/instance_request.h"
#include "platform/unique_fd.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <sys/types.h>

class QLocalServer;
class QLocalSocket;

inline constexpr char kInstanceSocketSuffix[] = ".socket";
inline constexpr char kInstanceLockSuffix[] = ".lock";
// The fallback folder under the temporary folder: "keshlor-<uid>".
inline constexpr char kFallbackFolderPrefix[] = "keshlor-";

// "KESHLOR-<uid>"; with a non-empty `instance`, "KESHLOR-<uid>-<instance>",
// which keeps separate copies apart (a second desktop session, tests). A '/'
// in `instance` becomes '_' so that the name stays one file name.
QByteArray InstanceChannelName(uid_t uid, const QByteArray& instance);
// This user's name, with KESHLOR_INSTANCE as the instance.
QByteArray InstanceChannelName();

// True when `path` is a folder owned by `owner` with mode 0700. A symbolic
// link counts only with `followLink`.
bool IsPrivateFolder(const QString& path, uid_t owner, bool followLink = false);
// "<temp>/keshlor-<uid>" for this user, whether or not it exists.
QString FallbackRuntimeFolder();
// The folder of this user's channels (see above), or empty when there is no
// fit one. `create` makes the fallback folder when it is missing.
QString InstanceRuntimeFolder(bool create = false);
// "<folder>/<name>.socket".
QString InstanceSocketPath(const QString& folder, const QByteArray& name);

enum class ClaimResult {
    Claimed,     // this copy is the running one
    Taken,       // another copy of this user holds the name
    Unavailable, // no channel could be made; run without one
};

enum class InstanceReply {
    Done,       // the running copy did what was asked
    NotRunning, // nobody listens on the channel
    NoAnswer,   // a copy listens but did not answer in time
    Foreign,    // the channel is held by a process of another user
    Refused,    // an open request that the running copy will not take
};

class InstanceChannel : public QObject {
    Q_OBJECT
  public:
    explicit InstanceChannel(QByteArray name, QObject* parent = nullptr);
    // Answers waiting close requests: the program is going away.
    ~InstanceChannel() override;

    // Takes the lock and listens on the socket, in the runtime folder as it
    // is at this call. Requests are served by the thread's event loop, so a
    // QCoreApplication must exist.
    ClaimResult Claim();
    bool claimed() const { return server_ != nullptr; }
    const QByteArray& name() const { return name_; }
    // The channel's socket file once Claim has found the folder (also when
    // the name is taken: the running copy listens there); empty before.
    const QString& socketPath() const { return socketPath_; }

    // Releases the name and tells every waiting "close" request that the
    // program has closed. Call when the main window is gone.
    void AnswerCloseRequests();

    // Decides on open requests, in the order they come: true when the
    // paths were taken. Without a handler every open request is refused.
    using OpenHandler = std::function<bool(const QStringList& paths)>;
    void SetOpenHandler(OpenHandler handler) { openHandler_ = std::move(handler); }

  signals:
    void raiseRequested();
    void closeRequested();

  private:
    struct Peer {
        QByteArray received;
        bool waitingForClose = false;
    };
    void AcceptPeers();
    void ReadPeer(QLocalSocket* socket);
    void Answer(QLocalSocket* socket, const QByteArray& reply);
    void DropPeer(QLocalSocket* socket);
    void StopListening();

    QByteArray name_;
    QString socketPath_;
    QLocalServer* server_ = nullptr;
    plat::UniqueFd lockFd_;
    std::map<QLocalSocket*, Peer> peers_;
    OpenHandler openHandler_;
};

// Connects to the running copy of this user (the channel `name` in
// InstanceRuntimeFolder), sends `request` and waits up to `timeoutMs` for its
// answer. Blocking; never call it for this process's own channel on the
// thread that serves it.
InstanceReply SendInstanceRequest(const QByteArray& name, const QByteArray& request, int timeoutMs);
// The same for the socket file `socketPath` of a copy of user `owner` (the
// administrator's installer asks every user's copy); Foreign when anyone
// else listens on it.
InstanceReply SendInstanceRequestAt(const QString& socketPath, const QByteArray& request,
                                    int timeoutMs, uid_t owner);
// Hands at most kMaxOpenPaths absolute `paths` to the copy of user `owner` at
// `socketPath` in one open request. Done when it took them all; Refused when
// it said no or hung up on the request (a copy that knows no open request
// does), so none was taken.
InstanceReply SendOpenRequestAt(const QString& socketPath, const QStringList& paths, int timeoutMs,
                                uid_t owner);

// Asks the running copy of this user to close as its Exit command does (the
// options are saved) and waits until it has closed.
InstanceReply CloseRunningCopy(int timeoutMs);

// Claims the channel, or finds the running copy and asks it to come to the
// front; with `files`, hands them over instead, and those it took leave the
// list. True when this copy must end: another one runs (and took every file,
// or did not answer in time), or a stop signal (plat::InterruptSignal)
// came meanwhile. False when this copy is to run: it holds the name, or
// there is no channel to be had, or the running copy refused the files (it
// is ending, or runs for its own command line only): this copy then handles
// them itself without the name.
bool DeferToRunningCopy(InstanceChannel& channel, QStringList* files = nullptr);
