#include "platform/source_proof.h"

#include "platform/files_detail.h"
#include "platform/last_error.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

using detail::Fail;
using detail::NativePath;

bool SameIdentity(const FileState& a, const FileState& b) {
    return a.device == b.device && a.inode == b.inode;
}

// Whether the open file still has the length and last-write time it was read
// with; its change time moves with the renames themselves.
bool ContentAsRead(const TakenSource& source) {
    FileState now;
    return GetFileState(source.file, &now) && SameIdentity(now, source.opened) &&
           now.size == source.opened.size && now.lastWrite == source.opened.lastWrite;
}

void IgnoreLeaseBreak(int) {}

// A lease that another program breaks sends SIGIO, which would otherwise end
// the process; the break is seen by asking for the lease.
void HandleLeaseSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current = {};
        if (::sigaction(SIGIO, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            return;
        struct sigaction quiet = {};
        quiet.sa_handler = IgnoreLeaseBreak;
        quiet.sa_flags = SA_RESTART;
        sigemptyset(&quiet.sa_mask);
        ::sigaction(SIGIO, &quiet, nullptr);
    });
}

// A write lease when no other program has the file open at all; else a read
// lease, which still breaks when anyone opens it for writing. False when the
// file is open for writing elsewhere (a shared writable mapping included).
bool TakeLease(TakenSource* source) {
    HandleLeaseSignal();
    for (const int type : {F_WRLCK, F_RDLCK}) {
        if (::fcntl(source->file, F_SETLEASE, type) == 0) {
            source->lease = type;
            return true;
        }
        if (errno != EAGAIN) {
            // Not here (another file system, another owner): the comparison alone decides.
            source->lease = F_UNLCK;
            return true;
        }
    }
    source->lease = F_UNLCK;
    return false;
}

// Moves the file off its name to a kept name of its folder.
bool MoveToKeptName(TakenSource* source) {
    const QByteArray native = NativePath(source->path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate =
            detail::RandomPathIn(detail::FolderOf(source->path), detail::kKeptPrefix);
        if (detail::RenameNoReplace(native, NativePath(candidate))) {
            source->aside = candidate;
            detail::NoteRename(source->path, candidate);
            return true;
        }
        if (errno != EEXIST)
            return Fail(errno);
    }
    return Fail(EEXIST);
}

SourceProof Prove(TakenSource* source);

SourceProof Refuse(TakenSource* source, SourceProof outcome) {
    const LastErrorKeeper keep;
    PutBack(source);
    return outcome;
}

} // namespace

SourceProof TakeOffName(TakenSource* source) {
    source->proof = Prove(source);
    return source->proof;
}

namespace {

SourceProof Prove(TakenSource* source) {
    source->aside.clear();
    source->lease = F_UNLCK;
    FileState named;
    if (!GetNamedFileState(source->path, &named))
        return GetLastError() == kErrorFileNotFound ? SourceProof::Other : SourceProof::Failed;
    if (!SameIdentity(named, source->opened))
        return SourceProof::Other;
    if (source->unchanged && FileChanged(source->opened, named))
        return SourceProof::Changed;
    if (!MoveToKeptName(source))
        return SourceProof::Failed;
    // The name may have been given to another file since it was looked at.
    FileState moved;
    if (!GetNamedFileState(source->aside, &moved) || !SameIdentity(moved, source->opened))
        return Refuse(source, SourceProof::Other);
    if (!source->unchanged || source->file < 0)
        return SourceProof::Proven;
    if (!ContentAsRead(*source) || !TakeLease(source) || !ContentAsRead(*source))
        return Refuse(source, SourceProof::Changed);
    return SourceProof::Proven;
}

} // namespace

bool StillProven(const TakenSource& source) {
    FileState named;
    if (source.aside.isEmpty() || !GetNamedFileState(source.aside, &named) ||
        !SameIdentity(named, source.opened))
        return false;
    if (!source.unchanged || source.file < 0)
        return true;
    // A broken lease answers with the kind it is being broken down to.
    if (source.lease != F_UNLCK && ::fcntl(source.file, F_GETLEASE) != source.lease)
        return false;
    return ContentAsRead(source);
}

void EndLease(TakenSource* source) {
    if (source->lease != F_UNLCK && source->file >= 0)
        ::fcntl(source->file, F_SETLEASE, F_UNLCK);
    source->lease = F_UNLCK;
}

bool PutBack(TakenSource* source) {
    EndLease(source);
    if (source->aside.isEmpty())
        return true;
    if (!detail::RenameNoReplace(NativePath(source->aside), NativePath(source->path)))
        return Fail(errno);
    detail::NoteRename(source->aside, source->path);
    source->aside.clear();
    FlushFolderOf(source->path);
    return true;
}

bool DeleteTaken(TakenSource* source) {
    if (detail::DeleteFaultOn())
        return Fail(errno);
    // Not flushed: should the removal not survive a crash, the file is only
    // back, which loses nothing.
    if (::unlink(NativePath(source->aside).constData()) != 0)
        return Fail(errno);
    source->aside.clear();
    EndLease(source);
    return true;
}

} // namespace plat
