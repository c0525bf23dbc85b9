// Operations on the platform's ordered lists (QVariantList), grouped as MyExtensions: the
// schedule list file's reader and writer, and list filters and prefix searches.
#pragma once

#include "zvcommon_export.h"

#include "NSObject.h"

#include <QString>
#include <QVariantList>
#include <optional>

namespace MyExtensions ZVCOMMON_EXPORT {

// Stores LIST as a keyed archive (NSKeyedArchiver.h) under KEY at PATH, written beside it and
// moved into place (a reader sees the old file or the new one) with FileReplacement, which
// replaces a link at PATH instead of following it. The file is 0600 while written (the list
// holds passwords) and gets mode 0777, whatever the umask, before it takes PATH's place; a
// store killed on the way leaves only a 0600 ".Schedules.plist.zvtmp-XXXXXX" beside it, which
// the next store of that path removes. When the write fails, an existing regular file at PATH
// still gets 0777, never through a link (FileReplacement::setModeWithoutFollowing).
// True when the file was written; false when it could not be, or when the list holds a value
// that has no archived form (then nothing is written).
bool writeToArchivedFileWithKey(const QVariantList &list, const QString &path, const QString &key);

// The list stored under KEY in the keyed archive at PATH, its elements as the archive holds
// them (records as NSObjectPtr of their own class), read whole in one call.
// - none when the file cannot be read (missing, no permission, a folder, over 256 MB);
// - none as well when the file is no keyed archive, is damaged (truncated, a UID out of range,
//   a cycle, an unknown class), or holds under KEY a value that is not a list: callers treat
//   such a file as they treat a missing one, so the uninstall goes on and a day display shows
//   "None". A record holding a value of an unexpected kind is no damage: the record reads it
//   as its key's missing value (ScheduleItemSupport.h) and the list stays whole;
// - an empty list when the archive has no KEY (or holds nil under it).
std::optional<QVariantList> initWithContentsOfArchivedFileWithKey(const QString &path, const QString &key);

// Removes, from the last position to the first, every element that is a text of length 0 (an
// empty or absent QString); other elements keep their order. Elements of other kinds are
// kept. Returns the number removed.
qint32 filterEmptyEntries(QVariantList &list);

// Inserts SOURCE's elements at INDEX, INDEX + 1, ... in SOURCE's order. INDEX must lie in
// 0..list.size() (asserted; outside it, nothing is inserted). SOURCE may be LIST itself: its
// elements as they were before the insertion are inserted.
void insertObjectsFromArrayAtIndex(QVariantList &list, const QVariantList &source, qint32 index);

// None when LIST is empty; otherwise the texts of LIST that begin with PREFIX (literal,
// case-sensitive; the empty prefix matches nothing), in order, possibly none of them.
std::optional<QVariantList> objectsWithPrefix(const QVariantList &list, const QString &prefix);

// The first text of LIST that begins with PATH or, failing that, with its nearest ancestor
// that any text begins with: PATH's parents down to "/" (tried once) for an absolute path,
// down to the first two components for a relative one. A null QVariant when LIST is empty or
// nothing matches.
QVariant objectWithPrefix(const QVariantList &list, const QString &path);

// True when OBJECT is one of LIST's elements itself, not merely equal to one. Identity in
// Qt's value world:
// - an object (NSObjectPtr) is identical to the same object (pointer);
// - a text, byte array or list is identical to itself and to its copies, which share its
//   storage until changed (Qt's implicit sharing), but not to an equal value built on its
//   own; an empty or absent text, array or list has no storage and is identical to nothing;
// - a number or flag is identical to a number or flag of the same kind and value (values
//   with no storage of their own, as the Mac's small numbers), a null QVariant to nothing;
// - any other kind (dates, maps, ...) is identical to nothing.
bool containsObjectIdenticalTo(const QVariantList &list, const QVariant &object);

// Removes from a list of file paths (texts) those on removable media (every element that
// begins with the mount point of a mounted removable medium, NSWorkspace::mountedRemovableMedia,
// a textual test; the start-up disk is never one, so paths on it stay even when the kernel
// marks it removable) and those on file systems that are not local (MacStatfs.h). A path whose
// file system cannot be queried (it no longer exists, no permission) stays in the list: only
// what is known to be elsewhere is removed. Elements that are not texts stay.
void filterRemovableMediaFilePaths(QVariantList &list);

// The path without its last component, as the Mac's stringByDeletingLastPathComponent:
// "/a/b/" -> "/a", "/a" -> "/", "/" -> "/", "a" -> "".
QString stringByDeletingLastPathComponent(const QString &path);

} // namespace MyExtensions
