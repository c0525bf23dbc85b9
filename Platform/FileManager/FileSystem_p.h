// Single questions about paths, on Linux: what is there, who may read it, how full its
// volume is, what a folder holds. The shared classes ask these here and make no file system
// calls of their own; whole trees are walked by the File Manager (Files.h: FSWalkTree).
// Paths are QStrings in the file system's encoding (QFile::encodeName); an empty path names
// nothing.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

namespace FileSystem {

enum class ItemKind { None, Folder, Other };
enum class Links { Follow, DoNotFollow };

// What is at PATH: None when nothing can be found there (missing, a dangling link when
// following, or a folder above it cannot be searched).
ItemKind itemKind(const QString &path, Links links = Links::Follow);

// The size in bytes of what PATH names, following links; none when nothing is there.
std::optional<quint64> itemSize(const QString &path);

// Whether the calling process may read (and, with WRITE, also write) PATH, as access(2) judges
// with the real user and group ids.
bool isAccessible(const QString &path, bool write = false);

// The whole content of the file at PATH when PATH itself is no symbolic link (a link there is
// not followed: none), opened without waiting (a FIFO planted there gives no wait); none
// when it cannot be opened or read.
std::optional<QByteArray> readWithoutFollowing(const QString &path);

// Tells the kernel that the open file DESCRIPTOR has been read once and its pages need not
// stay in the cache (a hint; nothing happens when it is not taken).
void dropFromCache(int descriptor);

// Removes PATH itself when it is no folder (a link is removed, not what it names): whether it
// was removed.
bool removeNonFolder(const QString &path);

// Capacity minus free space of the file system holding PATH; none when it cannot be asked.
std::optional<quint64> volumeUsedSpace(const QString &path);

// The names directly inside PATH, in the order the file system gives ("." and ".." left
// out); empty when PATH cannot be listed.
QStringList folderContents(const QString &path);

// Whether PATH (followed) is the block device that holds the root folder "/".
bool isRootBlockDevice(const QString &path);

// Whether NAME matches the shell wildcard PATTERN (fnmatch without flags but case-folding):
// false when either holds a NUL, which the matcher would take for the end of the text.
bool matchesWildcard(const QString &name, const QString &pattern);

} // namespace FileSystem
