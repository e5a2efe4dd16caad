#pragma once
// The one way a plain file is removed: overwritten with random bytes first when
// "Wipe after encryption" is on, then deleted.
#include "platform/files.h"
#include "platform/ports.h"
#include "platform/source_proof.h"

#include <QString>

// What a successful run does with its source (the plain file it encrypted or
// the container it decrypted): remove it, as the program always does, or
// keep it beside the result.
enum class SourceAfterRun { Remove, Keep };

// What became of a plain file that was to be removed.
enum class DisposeOutcome {
    Removed,        // gone; its data overwritten first when wiping is on
    RemovedUnwiped, // gone, but the wipe was abandoned: its data was not overwritten
    Kept,           // still under its name and unchanged (reported)
    KeptAside,      // overwritten at least in part, then not deleted: it stays under a
                    // temporary name in its folder (reported)
    Changed,        // not the file that was read, or changed since: left as it is
                    // (back under its name, or where TakenSource::aside says), for
                    // the caller to report
};

// Shows its own questions and messages, owned by `window`. With wiping on,
// the file leaves its name before the first byte is overwritten, so no crash
// can leave random bytes under a user's file name; it gets the name back
// only when none of its bytes was overwritten.
DisposeOutcome DisposePlainFile(plat::WindowHandle window, const QString& path);
// The same for the plain file a run read, through the descriptor it read it
// with: the file leaves its name and is removed only once proven to be that
// file (unchanged, when `source->unchanged`); with wiping on it is
// overwritten under a temporary name after that.
DisposeOutcome DisposeReadPlainFile(plat::WindowHandle window, plat::TakenSource* source);
// A plain file that a new one replaced under its name, held in `target`
// since: wiped first when wiping is on (unless other names keep its data),
// then removed.
void DisposeReplacedPlainFile(plat::WindowHandle window, plat::Replacement* target);
// What the last disposal of this thread came to.
DisposeOutcome LastDisposeOutcome();
void ForgetLastDisposeOutcome();
// A sentence for a message about a file that is not back under its name,
// saying where it lies instead.
QString KeptAsideDetail(const QString& aside);
// True when every byte of the file was overwritten and reached the disk. A
// file that other hard links also name is refused: their data would go too.
bool WipeFileData(const QString& path);

// The partial plain output of a failed run, still held under its temporary
// name: wiped when wiping is on (with the Retry question), then deleted.
void DisposePartialOutput(plat::WindowHandle window, plat::Replacement* output);

// Removes the temporary files that runs which crashed left in `folder`, the
// way each kind is removed (plain data wiped when wiping is on). Looks at a
// folder at most every few seconds; asks and shows nothing.
void RemoveLeftovers(const QString& folder);
// Forgets which folders were searched, so that the next search happens at once.
void ForgetLeftoverSearches();
