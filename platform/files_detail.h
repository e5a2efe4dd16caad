#pragma once
// What the file services in platform/ share among themselves; nothing outside
// platform/ includes this.
#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

namespace plat {
// Declared here so that this header stands below files.h, which defines it.
enum class FileKind;
} // namespace plat

namespace plat::detail {

QByteArray NativePath(const QString& path);
// Sets the last error from `err` and returns false.
bool Fail(int err);
QString FolderOf(const QString& path);
FileKind KindOfMode(mode_t mode);

// The extended attribute that keeps a file's DOS bits, as hexadecimal text.
inline constexpr char kDosAttribName[] = "user.DOSATTRIB";
// The bits in the attribute's text that getxattr read into `text` (`length`
// bytes, or -1), of a buffer it was allowed to fill but for one byte; 0 when
// none are stored.
uint32_t StoredBitsOf(char* text, ssize_t length);
// What a name that begins with "." adds to an entry's attributes.
enum class DotNames {
    AsStored, // nothing: a path named on its own has the bits stored for it
    System,   // the system bit, as a folder is listed, so that no list, folder
              // choice or batch reaches the desktop's hidden configuration
              // (~/.ssh, .bashrc) or Keshlor's own temporary files
};
// The DOS attributes of an entry named `name` (its last component): the
// stored bits, the folder bit, read-only without the owner's write bit, and
// Normal when none is set.
uint32_t DosAttributes(uint32_t stored, mode_t mode, const char* name, DotNames dotNames);
// No owner write bit, or the DOS read-only bit.
bool IsReadOnlyFile(int fd, const struct stat& st);
// Renames without replacing anything at `to`; errno says why not.
bool RenameNoReplace(const QByteArray& from, const QByteArray& to);
// A path in `folder` of `prefix` and ten random letters and digits.
QString RandomPathIn(const QString& folder, const char* prefix);
// Whether `fd` and the name `native` (not followed) are the same file.
bool SameFile(int fd, const QByteArray& native);
// The deletion fault of the test seams: true, with errno set, while it is on.
bool DeleteFaultOn();
// Tells the test seam that a file of Keshlor's moved from `from` to `to`.
void NoteRename(const QString& from, const QString& to);

// The prefix of the names under which a file waits, off its own name, until it
// is proven to be the one a run read. The leftover sweep never takes these:
// until proven, such a file may be the newest data a user has.
inline constexpr char kKeptPrefix[] = ".keshlor-kept-";

} // namespace plat::detail
