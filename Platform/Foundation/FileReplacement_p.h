// Writing a file by replacing the path itself, the one way every file of ours is written.
//
// The uninstaller writes as root into folders that others may be able to write (a world-
// writable scratch folder, an administrators' group folder). Whoever can write such a folder
// can put a symbolic link (or a file of theirs) where we are about to write. So a write never
// opens the path: it writes a new file beside it and renames that over the path, which
// replaces whatever stands there (a link is replaced, never followed; its target is left
// alone), and it sets permissions only through the descriptor of the file it created.
//
// The temporary file is "<folder>/.<name>.zvtmp-XXXXXX" (NAME the path's last component, cut
// to its first 241 bytes so the whole stays within a file name's 255 bytes; XXXXXX six random
// letters or digits). It is created with O_CREAT|O_EXCL|O_NOFOLLOW and mode 0600 (readable by
// nobody else while written, whatever the umask), locked (flock) while it is written, fsync'd,
// given its final mode with fchmod, then renamed over the path; the folder is fsync'd after.
// A writer killed on the way leaves at most such a 0600 file behind; the next write of the
// same path removes every one of them that belongs to the writing user and that no writer
// holds locked.
//
// Only the last component is protected: the folders on the way are followed as they are (the
// deployment's folders, which check-deployment judges).
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace FileReplacement {

// The infix of the temporary files' names.
inline constexpr char kTemporaryInfix[] = ".zvtmp-";

// Replaces PATH by a file holding BYTES with mode MODE (permission bits only, the umask does
// not apply). True when the new file took the path's place; false when it could not (no such
// folder, no right to write it, a folder at the path, a full disk), and then the path is left
// as it was and no temporary file stays. A path ending in "/" names no file: false.
bool replaceFile(const QString &path, const QByteArray &bytes, mode_t mode);

// The mode the process's umask gives a newly created file (0666 less the umask).
mode_t newFileMode();

// Sets MODE on PATH only when PATH itself is a regular file with a single name (neither a
// symbolic link nor a hard link to a file elsewhere); true when set.
bool setModeWithoutFollowing(const QString &path, mode_t mode);

} // namespace FileReplacement
