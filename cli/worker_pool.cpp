#include "cli/worker_pool.h"

#include "cli/ksr_main.h"
#include "cli/terminal_messages.h"
#include "platform/interrupts.h"

#include <cerrno>
#include <csignal>
#include <cstring>
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
// Messages name one file and say why; none comes near this.
constexpr size_t kLargestFrame = 64 * 1024;

// A frame is one datagram: its kind, then its text.
constexpr char kFrameMessage = 'E';    // worker: text for standard error
constexpr char kFrameQuestion = 'A';   // worker: '1' or '0' for echo, then the prompt
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

struct Slot {
    pid_t pid = -1;
    int channel = -1;
    bool started = false;
    bool finished = false;
    int status = kKsrDone;
    QString held; // messages not yet shown, because an earlier file is still going
    bool asking = false;
    bool echo = true;
    QString prompt;
};

void CloseQuietly(int fd) {
    if (fd >= 0)
        close(fd);
}

// Starts `program` for one file; false, with `problem` filled, when it cannot.
bool StartWorker(const QByteArray& program, const QList<QByteArray>& args,
                 const QByteArray& passwordLine, Slot* slot, QString* problem) {
    int channel[2];
    int password[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (pipe2(password, O_CLOEXEC) != 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        CloseQuietly(channel[0]);
        CloseQuietly(channel[1]);
        return false;
    }
    // A password is far smaller than a pipe holds, so this never waits for the worker.
    const bool written =
        write(password[1], passwordLine.constData(), passwordLine.size()) == passwordLine.size();
    close(password[1]);
    // Above the numbers the worker expects them at, so that putting one in
    // place cannot overwrite the other.
    const int childChannel = fcntl(channel[1], F_DUPFD_CLOEXEC, 10);
    const int childPassword = fcntl(password[0], F_DUPFD_CLOEXEC, 10);
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(channel[1]);
    close(password[0]);
    pid_t pid = -1;
    if (written && childChannel >= 0 && childPassword >= 0 && nothing >= 0) {
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
            dup2(childChannel, kChannelFd);
            dup2(childPassword, kPasswordFd);
            dup2(nothing, STDIN_FILENO);
            execv(program.constData(), argv.data());
            _exit(127);
        }
    }
    const int error = errno;
    CloseQuietly(childChannel);
    CloseQuietly(childPassword);
    CloseQuietly(nothing);
    if (pid <= 0) {
        *problem = QString::fromLocal8Bit(std::strerror(error));
        close(channel[0]);
        return false;
    }
    slot->pid = pid;
    slot->channel = channel[0];
    slot->started = true;
    return true;
}

// The worker's own status, or a failure with a message for a worker that did not end as ksr does.
int FinishWorker(Slot* slot, const QString& subject, const KsrConsole& console) {
    close(slot->channel);
    slot->channel = -1;
    slot->finished = true;
    int waited = 0;
    while (waitpid(slot->pid, &waited, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(waited)) {
        const int code = WEXITSTATUS(waited);
        if (code <= kKsrDeclined || code > 128)
            return code;
    }
    TerminalMessages messages;
    KsrConsole holder = console;
    holder.writeError = [slot](const QString& text) { slot->held += text; };
    messages.console = &holder;
    BeginSubject(&messages, subject);
    PrintMessage(messages, QString(),
                 WIFSIGNALED(waited)
                     ? QStringLiteral("its worker process ended by signal %1").arg(WTERMSIG(waited))
                     : QStringLiteral("its worker process could not run (status %1)")
                           .arg(WEXITSTATUS(waited)));
    return kKsrFailed;
}

void Receive(Slot* slot, const QString& subject, const KsrConsole& console) {
    QByteArray frame;
    const ssize_t size = ReceiveFrame(slot->channel, &frame);
    if (size < 0 && errno == EINTR)
        return;
    if (size <= 0) {
        slot->status = FinishWorker(slot, subject, console);
        return;
    }
    const QString text = QString::fromUtf8(frame.mid(frame.at(0) == kFrameQuestion ? 2 : 1));
    if (frame.at(0) == kFrameMessage) {
        slot->held += text;
    } else if (frame.at(0) == kFrameQuestion && frame.size() >= 2) {
        slot->asking = true;
        slot->echo = frame.at(1) == '1';
        slot->prompt = text;
    }
}

// Shows what the earliest files still to be shown have said, asks the
// question of the earliest one, and moves on past the files that ended.
void ShowInOrder(std::vector<Slot>* queue, size_t* head, const KsrConsole& console) {
    while (*head < queue->size()) {
        Slot& slot = (*queue)[*head];
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
            SendFrame(slot.channel, kind, read == TerminalRead::Line ? line : QByteArray());
        }
        if (!slot.finished)
            return;
        ++*head;
    }
}

} // namespace

int RunInWorkers(const QByteArray& program, const QList<WorkerFile>& files, int jobs,
                 const QByteArray& passwordLine, const KsrConsole& console) {
    std::vector<Slot> queue(files.size());
    size_t next = 0;
    size_t head = 0;
    int running = 0;
    bool stopsPassedOn = false;
    const auto startMore = [&] {
        while (running < jobs && next < queue.size() && !plat::InterruptRequested()) {
            Slot& slot = queue[next];
            QString problem;
            if (StartWorker(program, files[next].args, passwordLine, &slot, &problem)) {
                ++running;
            } else {
                slot.finished = true;
                slot.status = kKsrFailed;
                TerminalMessages messages;
                KsrConsole holder = console;
                holder.writeError = [&slot](const QString& text) { slot.held += text; };
                messages.console = &holder;
                BeginSubject(&messages, files[next].subject);
                PrintMessage(messages, QString(),
                             QStringLiteral("could not start a worker process: ") + problem);
            }
            ++next;
        }
    };

    startMore();
    ShowInOrder(&queue, &head, console);
    while (running > 0) {
        std::vector<pollfd> watched;
        std::vector<size_t> owners;
        for (size_t i = head; i < next; ++i) {
            if (queue[i].started && !queue[i].finished) {
                watched.push_back({queue[i].channel, POLLIN, 0});
                owners.push_back(i);
            }
        }
        // Once the stop has been passed on, the workers' ends are all that is awaited.
        if (!stopsPassedOn)
            watched.push_back({plat::InterruptNotifier(), POLLIN, 0});
        if (poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR)
            break;
        if (plat::InterruptRequested() && !stopsPassedOn) {
            for (size_t i : owners)
                kill(queue[i].pid, plat::InterruptSignal());
            stopsPassedOn = true;
        }
        for (size_t w = 0; w < owners.size(); ++w) {
            if (watched[w].revents == 0)
                continue;
            Slot& slot = queue[owners[w]];
            Receive(&slot, files[owners[w]].subject, console);
            if (slot.finished)
                --running;
        }
        startMore();
        ShowInOrder(&queue, &head, console);
    }

    if (plat::InterruptRequested())
        return plat::InterruptExitStatus(plat::InterruptSignal());
    for (const Slot& slot : queue) {
        if (slot.status != kKsrDone)
            return slot.status;
    }
    return kKsrDone;
}

KsrConsole WorkerConsole(int channel) {
    KsrConsole console;
    console.writeOut = [](const QString& text) {
        const QByteArray bytes = text.toUtf8();
        [[maybe_unused]] const ssize_t written =
            write(STDOUT_FILENO, bytes.constData(), bytes.size());
    };
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
