#pragma once
// A source is removed only while its name still holds the file a run read:
// it leaves its name for a kept one, is compared there with what was read and,
// where asked, held under a lease, so that neither a newer file put in its
// place nor a change made after the run's own check is removed with it.
#include "platform/files.h"

#include <QString>

namespace plat {

enum class SourceProof {
    Proven,  // off its name at `aside`: the file that was read (and unchanged, when asked)
    Other,   // the name held another file, or none: nothing was taken
    Changed, // written to since it was read, or open for writing elsewhere
    Failed,  // it could not leave its name; the last error says why
};

struct TakenSource {
    TakenSource(const QString& path, int file, const FileState& opened, bool unchanged = false)
        : path(path), file(file), opened(opened), unchanged(unchanged) {}

    QString path;           // its own name
    int file = -1;          // the descriptor it was read through (not owned), or -1
    FileState opened;       // the file as it was read
    bool unchanged = false; // also prove that nothing wrote to it since it was read
    QString aside;          // where it lies while off its name; empty while under it
    int lease = 0;          // the lease held on `file` (F_UNLCK: none)
    SourceProof proof = SourceProof::Failed; // what the last TakeOffName found
};

// Takes the file at `source->path` off its name and proves it. On Other and
// Changed it is back under its name, unless the name was taken again
// meanwhile: then `aside` says where it lies, a name the leftover sweep never
// takes. A lease, where one can be had (the file system and owner allow it),
// makes any later opening of the file for writing count as a change.
SourceProof TakeOffName(TakenSource* source);
// Just before the first byte goes: still there, and unchanged when asked.
bool StillProven(const TakenSource& source);
// Ends the lease, as the process must before it opens the file again.
void EndLease(TakenSource* source);
// Gives the file its name back (ending the lease); false, with `aside` still
// set, when the name was taken again meanwhile.
bool PutBack(TakenSource* source);
// Deletes the proven file where it lies.
bool DeleteTaken(TakenSource* source);

} // namespace plat
