#include "cli/worker_pool.h"

#include "cli/ksr_status.h"
#include "cli/password_input.h"
#include "cli/terminal_messages.h"
#include "engine/wipe.h"
#include "platform/interrupts.h"
#include "platform/secure_memory.h"
#include "platform/unique_fd.h"
#include "platform/write_all.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Where a worker finds its channel and its password.
constexpr int kChannelFd = 3;
constexpr int kPasswordFd = 4;
// Messages name one file and say why, and a job names one file; none comes near this.
constexpr size_t kLargestFrame = 64 * 1024;
// The password's length goes first, in this many bytes, least significant first.
constexpr qsizetype kLengthBytes = 4;

// A frame is one datagram: its kind, then its text.
constexpr char kFrameMessage = 'E';    // worker: text for standard error
constexpr char kFrameQuestion = 'A';   // worker: '1' or '0' for echo, then the prompt
constexpr char kFrameDone = 'D';       // worker: the file's status, one byte
constexpr char kFrameFile = 'F';       // run: the next file's job
constexpr char kFrameSweep = 'S';      // run: a worker died; look for its leftovers again
constexpr char kFrameLine = 'L';       // run: the line typed
constexpr char kFrameEnded = 'X';      // run: input ended, or the run is stopping
constexpr char kFrameNoTerminal = 'N'; // run: nobody to ask

bool SendFrame(int channel, char kind, const QByteArray& text) {
    const QByteArray frame = kind + text;
    for (;;) {
        const ssize_t sent = send(channel, frame.constData(), frame.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        return sent == frame.size();
    }
}

// The frame's size; 0 when the other end is gone, -1 on an error or a signal.
ssize_t ReceiveFrame(int channel, QByteArray* frame) {
    frame->resize(kLargestFrame);
    const ssize_t size = recv(channel, frame->data(), kLargestFrame, 0);
    frame->resize(size > 0 ? size : 0);
    return size;
}

// One file of the run, as the run sees it.
struct FileSlot {
    bool started = false;
    bool finished = false;
    int status = kKsrDone;
    int worker = -1;
    QString held; // messages not yet shown, because an earlier file is still going
    bool asking = false;
    bool echo = true;
    QString prompt;
};

struct Worker {
    pid_t pid = -1;
    plat::UniqueFd channel; // closed once the worker has ended
    int file = -1;          // the file it works on, or -1 while it waits for one
    int deathsSeen = 0;     // how many workers had died when it last looked for leftovers
};

// Starts `program`; false, with `problem` filled, when it cannot.
bool StartWorker(const QByteArray& program, const QList<QByteArray>& args,
                 const QByteArray& passwordFrame, Worker* worker, QString* problem) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    plat::UniqueFd channel(pair[0]);
    plat::UniqueFd workerChannel(pair[1]);
    if (pipe2(pair, O_CLOEXEC) != 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    plat::UniqueFd workerPassword(pair[0]);
    plat::UniqueFd password(pair[1]);
    // A password is far smaller than a pipe holds, so this never waits for the worker.
    const bool written = plat::WriteAll(password.get(), passwordFrame);
    password.reset();
    // Above the numbers the worker expects them at, so that putting one in
    // place cannot overwrite the other.
    const plat::UniqueFd childChannel(fcntl(workerChannel.get(), F_DUPFD_CLOEXEC, 10));
    const plat::UniqueFd childPassword(fcntl(workerPassword.get(), F_DUPFD_CLOEXEC, 10));
    const plat::UniqueFd nothing(open("/dev/null", O_RDONLY | O_CLOEXEC));
    workerChannel.reset();
    workerPassword.reset();
    pid_t pid = -1;
    if (written && childChannel.valid() && childPassword.valid() && nothing.valid()) {
        QList<QByteArray> all = {program, QByteArrayLiteral("--worker-channel"),
                                 QByteArray::number(kChannelFd), QByteArrayLiteral("--password-fd"),
                                 QByteArray::number(kPasswordFd)};
        all += args;
        std::vector<char*> argv;
        for (QByteArray& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            // Only what is safe between fork and exec.
            dup2(childChannel.get(), kChannelFd);
            dup2(childPassword.get(), kPasswordFd);
            dup2(nothing.get(), STDIN_FILENO);
            execv(program.constData(), argv.data());
            _exit(127);
        }
    }
    if (pid <= 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    worker->pid = pid;
    worker->channel = std::move(channel);
    worker->file = -1;
    return true;
}

// Adds a message about `subject` to what a file holds for its turn.
void HoldMessage(FileSlot* slot, const QString& subject, const KsrConsole& console,
                 const QString& text) {
    TerminalMessages messages;
    KsrConsole holder = console;
    holder.writeError = [slot](const QString& line) { slot->held += line; };
    messages.console = &holder;
    BeginSubject(&messages, subject);
    PrintMessage(messages, QString(), text);
}

// Waits for a worker whose channel closed. For the file it was working on:
// the worker's own status, or a failure with a message for a worker that
// did not end as ksr does.
void ReapWorker(Worker* worker, FileSlot* slot, const QString& subject, const KsrConsole& console) {
    worker->channel.reset();
    int waited = 0;
    while (waitpid(worker->pid, &waited, 0) < 0 && errno == EINTR) {
    }
    if (!slot)
        return;
    worker->file = -1;
    slot->finished = true;
    slot->asking = false;
    if (WIFEXITED(waited)) {
        const int code = WEXITSTATUS(waited);
        if (code > 128) {
            slot->status = code;
            return;
        }
    }
    slot->status = kKsrFailed;
    HoldMessage(slot, subject, console,
                WIFSIGNALED(waited)
                    ? QStringLiteral("its worker process ended by signal %1").arg(WTERMSIG(waited))
                    : QStringLiteral("its worker process could not run (status %1)")
                          .arg(WEXITSTATUS(waited)));
}

// Shows what the earliest files still to be shown have said, asks the
// question of the earliest one, and moves on past the files that ended.
void ShowInOrder(std::vector<FileSlot>* fileSlots, const std::vector<Worker>& workers, size_t* head,
                 const KsrConsole& console) {
    while (*head < fileSlots->size()) {
        FileSlot& slot = (*fileSlots)[*head];
        if (!slot.held.isEmpty()) {
            console.writeError(slot.held);
            slot.held.clear();
        }
        if (slot.asking) {
            slot.asking = false;
            QByteArray line;
            const TerminalRead read = plat::InterruptRequested()
                                          ? TerminalRead::EndOfInput
                                          : console.askTerminal(slot.prompt, slot.echo, &line);
            const char kind = read == TerminalRead::Line         ? kFrameLine
                              : read == TerminalRead::NoTerminal ? kFrameNoTerminal
                                                                 : kFrameEnded;
            SendFrame(workers[slot.worker].channel.get(), kind,
                      read == TerminalRead::Line ? line : QByteArray());
        }
        if (!slot.finished)
            return;
        ++*head;
    }
}

} // namespace

int RunInWorkers(const QByteArray& program, const QList<QByteArray>& workerArgs,
                 const QList<WorkerFile>& files, int jobs, const QByteArray& password,
                 const KsrConsole& console) {
    const size_t count = files.size();
    std::vector<FileSlot> fileSlots(count);
    // The file before each in its group, which must have ended first.
    std::vector<int> before(count, -1);
    std::vector<int> lastOfGroup;
    std::set<int> groups;
    for (size_t i = 0; i < count; ++i) {
        const int group = files[i].group;
        if (files[i].settled) {
            fileSlots[i].started = fileSlots[i].finished = true;
            fileSlots[i].status = *files[i].settled;
            fileSlots[i].held = files[i].settledText;
            continue;
        }
        if (group >= static_cast<int>(lastOfGroup.size()))
            lastOfGroup.resize(group + 1, -1);
        before[i] = lastOfGroup[group];
        lastOfGroup[group] = static_cast<int>(i);
        groups.insert(group);
    }
    // The worker a group's files go to, once its first has gone to one.
    std::vector<int> groupWorker(lastOfGroup.size(), -1);

    // The length first, so that the worker takes every byte as it is. Room for
    // all of it is made before the buffer is locked, so that it never moves.
    QByteArray room;
    room.reserve(kLengthBytes + password.size());
    plat::SecretBytes passwordFrame(std::move(room));
    for (qsizetype at = 0; at < kLengthBytes; ++at)
        passwordFrame.get().append(static_cast<char>((password.size() >> (8 * at)) & 0xFF));
    passwordFrame.get().append(password);

    std::vector<Worker> workers;
    int deaths = 0;
    size_t firstUnstarted = 0;
    size_t head = 0;
    bool stopsPassedOn = false;
    QString startProblem;

    const auto advanceUnstarted = [&] {
        while (firstUnstarted < count && fileSlots[firstUnstarted].started)
            ++firstUnstarted;
    };
    // The earliest file that worker `w` may take now.
    const auto nextFile = [&](int w) -> int {
        for (size_t i = firstUnstarted; i < count; ++i) {
            if (fileSlots[i].started)
                continue;
            const int owner = groupWorker[files[i].group];
            if ((owner == -1 || owner == w) && (before[i] < 0 || fileSlots[before[i]].finished))
                return static_cast<int>(i);
        }
        return -1;
    };
    const auto give = [&](int w) {
        const int i = nextFile(w);
        if (i < 0)
            return false;
        fileSlots[i].started = true;
        fileSlots[i].worker = w;
        workers[w].file = i;
        groupWorker[files[i].group] = w;
        advanceUnstarted();
        // What a worker that died left behind is found as a new process would
        // find it; otherwise a worker looks at a folder as one run does.
        if (workers[w].deathsSeen != deaths) {
            SendFrame(workers[w].channel.get(), kFrameSweep, QByteArray());
            workers[w].deathsSeen = deaths;
        }
        // A worker that is gone shows as the end of its channel.
        SendFrame(workers[w].channel.get(), kFrameFile, files[i].job);
        return true;
    };
    const auto startWorker = [&] {
        Worker worker;
        worker.deathsSeen = deaths;
        if (!StartWorker(program, workerArgs, passwordFrame.get(), &worker, &startProblem))
            return false;
        workers.push_back(std::move(worker));
        give(static_cast<int>(workers.size()) - 1);
        return true;
    };
    const auto liveWorkers = [&] {
        return std::count_if(workers.begin(), workers.end(),
                             [](const Worker& w) { return w.channel.valid(); });
    };
    // Idle workers take what they now may; those with nothing left to take end.
    const auto settleIdle = [&] {
        for (size_t w = 0; w < workers.size(); ++w) {
            Worker& worker = workers[w];
            if (!worker.channel.valid() || worker.file >= 0 || stopsPassedOn)
                continue;
            if (!give(static_cast<int>(w)) && firstUnstarted >= count)
                ReapWorker(&worker, nullptr, QString(), console);
        }
        // Files with no worker left to take them: start one, or fail them.
        while (!stopsPassedOn && firstUnstarted < count && liveWorkers() == 0 &&
               !plat::InterruptRequested()) {
            if (startWorker())
                continue;
            FileSlot& slot = fileSlots[firstUnstarted];
            slot.started = slot.finished = true;
            slot.status = kKsrFailed;
            HoldMessage(&slot, files[firstUnstarted].subject, console,
                        QStringLiteral("could not start a worker process: ") + startProblem);
            advanceUnstarted();
        }
    };

    advanceUnstarted();
    const int wanted = std::min<int>(jobs, static_cast<int>(groups.size()));
    for (int started = 0; started < wanted && !plat::InterruptRequested(); ++started) {
        if (!startWorker())
            break;
    }
    settleIdle();
    ShowInOrder(&fileSlots, workers, &head, console);
    // One buffer for every frame, rather than one allocated and freed for each.
    QByteArray frame;
    while (liveWorkers() > 0) {
        std::vector<pollfd> watched;
        std::vector<size_t> owners;
        for (size_t w = 0; w < workers.size(); ++w) {
            if (workers[w].channel.valid()) {
                watched.push_back({workers[w].channel.get(), POLLIN, 0});
                owners.push_back(w);
            }
        }
        // Once the stop has been passed on, the workers' ends are all that is awaited.
        if (!stopsPassedOn)
            watched.push_back({plat::InterruptNotifier(), POLLIN, 0});
        if (poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR)
            break;
        if (plat::InterruptRequested() && !stopsPassedOn) {
            for (const Worker& worker : workers) {
                if (worker.channel.valid())
                    kill(worker.pid, plat::InterruptSignal());
            }
            stopsPassedOn = true;
        }
        for (size_t at = 0; at < owners.size(); ++at) {
            if (watched[at].revents == 0)
                continue;
            const size_t w = owners[at];
            Worker& worker = workers[w];
            const ssize_t size = ReceiveFrame(worker.channel.get(), &frame);
            if (size < 0 && errno == EINTR)
                continue;
            const int file = worker.file;
            if (size <= 0) {
                // Its groups' files wait for the next worker, which starts afresh.
                for (int& owner : groupWorker) {
                    if (owner == static_cast<int>(w))
                        owner = -1;
                }
                ReapWorker(&worker, file >= 0 ? &fileSlots[file] : nullptr,
                           file >= 0 ? files[file].subject : QString(), console);
                ++deaths;
                if (!stopsPassedOn && firstUnstarted < count && !plat::InterruptRequested())
                    startWorker();
                continue;
            }
            if (file < 0)
                continue;
            FileSlot& slot = fileSlots[file];
            const char kind = frame.at(0);
            if (kind == kFrameMessage) {
                slot.held += QString::fromUtf8(frame.mid(1));
            } else if (kind == kFrameQuestion && frame.size() >= 2) {
                slot.asking = true;
                slot.echo = frame.at(1) == '1';
                slot.prompt = QString::fromUtf8(frame.mid(2));
            } else if (kind == kFrameDone && frame.size() == 2) {
                slot.status = static_cast<uchar>(frame.at(1));
                slot.finished = true;
                worker.file = -1;
            }
        }
        settleIdle();
        ShowInOrder(&fileSlots, workers, &head, console);
    }
    // Workers that are still there (after a failed poll) are not left behind.
    for (Worker& worker : workers) {
        if (worker.channel.valid())
            ReapWorker(&worker, nullptr, QString(), console);
    }

    if (plat::InterruptRequested())
        return plat::InterruptExitStatus(plat::InterruptSignal());
    for (const FileSlot& slot : fileSlots) {
        if (slot.status != kKsrDone)
            return slot.status;
    }
    return kKsrDone;
}

KsrConsole WorkerConsole(int channel) {
    KsrConsole console;
    console.writeOut = [](const QString& text) { plat::WriteAll(STDOUT_FILENO, text.toUtf8()); };
    console.writeError = [channel](const QString& text) {
        SendFrame(channel, kFrameMessage, text.toUtf8());
    };
    console.askTerminal = [channel](const QString& prompt, bool echo, QByteArray* line) {
        line->clear();
        if (!SendFrame(channel, kFrameQuestion, (echo ? "1" : "0") + prompt.toUtf8()))
            return TerminalRead::NoTerminal;
        QByteArray reply;
        ssize_t size = 0;
        // A stop request ends the wait unanswered: the safe answer is taken.
        while ((size = ReceiveFrame(channel, &reply)) < 0 && errno == EINTR &&
               !plat::InterruptRequested()) {
        }
        if (size <= 0)
            return TerminalRead::EndOfInput;
        if (reply.at(0) == kFrameNoTerminal)
            return TerminalRead::NoTerminal;
        if (reply.at(0) != kFrameLine)
            return TerminalRead::EndOfInput;
        *line = reply.mid(1);
        return TerminalRead::Line;
    };
    return console;
}

bool ReadWorkerPassword(int fd, QByteArray* bytes, QString* problem) {
    if (!ReadPasswordDescriptor(fd, bytes, problem))
        return false;
    qsizetype length = 0;
    for (qsizetype at = 0; at < kLengthBytes && at < bytes->size(); ++at)
        length |= static_cast<qsizetype>(static_cast<uchar>(bytes->at(at))) << (8 * at);
    if (bytes->size() < kLengthBytes || length != bytes->size() - kLengthBytes) {
        plat::ForgetSecret(bytes);
        *problem = QStringLiteral("the password did not arrive whole from the run");
        return false;
    }
    // In place, so that no second copy is made.
    bytes->remove(0, kLengthBytes);
    return true;
}

int ServeWorkerFiles(int channel, const std::function<int(const QByteArray& job)>& runFile) {
    QByteArray frame;
    for (;;) {
        if (plat::InterruptRequested())
            return plat::InterruptExitStatus(plat::InterruptSignal());
        const ssize_t size = ReceiveFrame(channel, &frame);
        if (size < 0 && errno == EINTR)
            continue;
        // The run closes the channel when it has no more files.
        if (size == 0)
            return kKsrDone;
        if (size < 0)
            return kKsrFailed;
        if (frame.at(0) == kFrameSweep)
            ForgetLeftoverSearches();
        if (frame.at(0) != kFrameFile)
            continue;
        const int status = runFile(frame.mid(1));
        if (!SendFrame(channel, kFrameDone, QByteArray(1, static_cast<char>(status))))
            return kKsrFailed;
    }
}
