// The File Manager's file references and catalog iteration on Linux.
//
// An FSRef names a file system object. FSPathMakeRef makes one from a path; a catalog
// iteration (FSOpenIterator + FSGetCatalogInfoBulk) hands out references to the items of a
// folder. Those item references do not hold a path: they hold the folder's open directory
// (shared among all items of the folder) and the item's own name, so that a folder found by
// the iteration is opened with openat(parent, name) and no path is ever looked up again from
// the root. This keeps the walk fast and lets it go deeper than PATH_MAX.
//
// Open folders are a limited resource: the layer keeps at most kFSMaxOpenFolders folders of
// item references open at once; when more are needed, the least recently used one that no
// iterator is reading is closed, and opened again by name from its own parent (or by its
// path) when one of its items is used later.
#pragma once

#include "zvcommon_export.h"

#include "MacTypes.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <string>

enum : OSStatus {
    errFSNoMoreItems = -1417,
    errFSBadItemCount = -1418,
    errFSBadIteratorFlags = -1422,
    errFSIteratorNotFound = -1423,
    errFSNotAFolder = -1407,
    pathTooLongErr = -2110,
};

class FSFolderHandle; // the layer's shared open folder; see Files.cpp

// A reference to a file system object.
// - Made by FSPathMakeRef: PATH holds the object's absolute path in its file-system form
//   (symbolic links resolved); PARENT is null.
// - Handed out by a catalog iteration: PATH is empty, PARENT is the iterated folder and NAME
//   the item's name inside it. The item itself is not followed if it is a symbolic link.
// Callers treat the fields as opaque and use FSRefMakePath to learn the path.
struct FSRef {
    QByteArray path;
    std::shared_ptr<FSFolderHandle> parent;
    std::string name;
};

// Resolves PATH (zero-terminated file-system bytes, following symbolic links like the Mac)
// into REF: noErr, fnfErr (-43) when nothing exists there, paramErr for a null argument or
// an empty path, permErr/ioErr for other failures. A relative path is taken from the
// current folder.
ZVCOMMON_EXPORT OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory);

// Writes REF's absolute path, zero-terminated, into PATH of MAXPATHSIZE bytes: noErr, or
// paramErr for null arguments or an empty reference, -2110 (pathTooLongErr) when it does
// not fit.
ZVCOMMON_EXPORT OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize);

// ---------------------------------------------------------------------------------------
// Catalog iteration
// ---------------------------------------------------------------------------------------

using FSIteratorFlags = UInt32;
enum : FSIteratorFlags {
    kFSIterateFlat = 0,    // the folder's direct children only (the one mode supported)
    kFSIterateSubtree = 1, // not supported (errFSBadIteratorFlags)
};

using FSCatalogInfoBitmap = UInt32;
enum : FSCatalogInfoBitmap {
    kFSCatInfoNone = 0,
    kFSCatInfoNodeFlags = 0x00000010,
    kFSCatInfoDataSizes = 0x00004000,
    kFSCatInfoRsrcSizes = 0x00008000,
};

enum : UInt16 {
    kFSNodeIsDirectoryMask = 0x0010,
};

// The catalog information this layer fills: only the fields asked for in the bitmap are
// written. A folder's fork sizes are 0 (as for a folder on the Mac), and so is every
// resource fork (Linux file systems have none).
struct FSCatalogInfo {
    UInt16 nodeFlags = 0;
    UInt64 dataLogicalSize = 0;
    UInt64 dataPhysicalSize = 0;
    UInt64 rsrcLogicalSize = 0;
    UInt64 rsrcPhysicalSize = 0;
};

struct HFSUniStr255 {
    UInt16 length = 0;
    UniChar unicode[255] = {};
};

struct FSSpec; // not supported: the specs argument of FSGetCatalogInfoBulk must be null
using FSSpecPtr = FSSpec *;

struct OpaqueFSIterator;
using FSIterator = OpaqueFSIterator *;

// Opens an iterator over the direct children of the folder CONTAINER: noErr; paramErr for
// null arguments; errFSBadIteratorFlags for anything but kFSIterateFlat; fnfErr when the
// folder is gone, errFSNotAFolder when it is no folder, permErr when it cannot be read,
// ioErr otherwise. A folder reached through a catalog reference is opened relative to its
// parent's open directory and is never followed if it became a symbolic link.
OSStatus FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags, FSIterator *iterator);

// Reads up to MAXIMUMOBJECTS (1..256 recommended; any positive count works) further items of
// the iteration, in the order the file system gives, skipping "." and "..". For each item it
// fills, where the array is given, CATALOGINFOS[i] (the WHICHINFO fields), REFS[i] and
// NAMES[i] (UTF-16 of the name; names longer than 255 units are cut). ACTUALOBJECTS receives
// the count. CONTAINERCHANGED, when given, is set to false (changes are not detected).
// Returns noErr with a full batch, errFSNoMoreItems with the last batch (possibly empty;
// every later call returns errFSNoMoreItems with 0 items), paramErr/errFSBadItemCount for
// bad arguments (SPECS must be null), or ioErr when the folder cannot be read further; the
// items of a failed batch are not reported (ACTUALOBJECTS is 0).
// At most one system call is made per item (fstatat relative to the folder, never for
// items the directory listing already names as folders) plus one getdents64 per 64 KiB of
// listing. An item removed between the listing and its fstatat is left out.
OSStatus FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount *actualObjects,
                              Boolean *containerChanged, FSCatalogInfoBitmap whichInfo,
                              FSCatalogInfo *catalogInfos, FSRef *refs, FSSpecPtr specs,
                              HFSUniStr255 *names);

// Ends the iteration and releases it: noErr, or errFSIteratorNotFound for a null iterator.
OSStatus FSCloseIterator(FSIterator iterator);

// The most folders of item references kept open at once (see the header comment).
constexpr int kFSMaxOpenFolders = 128;

// ---------------------------------------------------------------------------------------
// Tree walk
// ---------------------------------------------------------------------------------------
//
// FSWalkTree lists every folder below a root, in parallel, and sums the logical sizes of
// what it finds: the bulk catalog read behind the fast folder size, and the walk of the
// slow and exclusion-aware sizes. Workers share a stack of folders still to list; each
// lists a folder with getdents64, asks fstatat for the size and type of every entry the
// listing does not already name as a folder (statx asking only those measured the same),
// sums into its own counters, and pushes the sub-folders. The caller's thread is the first worker and the others are started only
// when there are folders waiting; all are joined before FSWalkTree returns.
//
// Symbolic links are entries of their own (never followed, also when a folder is replaced
// by a link during the walk); mount points are crossed; a hard link counts once per name.
// A folder that cannot be opened (unreadable, removed, no longer a folder) adds nothing
// below it; an entry removed between the listing and its fstatat is left out.
//
// Bounds, whatever the shape or size of the tree:
// - Descriptors: at most 1 + kFSWalkDescriptorsPerWorker x workers at any time: the root's,
//   and per worker 2 cached folders, the folder it opens or lists, and one on the way to it.
//   Nothing is held open per level of depth: a folder is opened by its path (at most
//   kFSWalkAnchorLevels names, under 2.3 KB, no link followed) from a folder the worker has
//   cached or from an "anchor" ancestor, itself opened the same way from its own anchor, so
//   a tree of any depth is walked with `ulimit -n 64`.
// - Memory: one node (about 40 bytes and the name) per folder waiting on the stack and per
//   ancestor of one, plus per worker a 64 KiB listing buffer and the sub-folders of the
//   folder it lists. It grows with the width of the stack (and the depth), never with the
//   number of files.

constexpr int kFSWalkMaxWorkers = 8;           // the most workers, whatever the CPUs
constexpr int kFSWalkDescriptorsPerWorker = 4;
constexpr int kFSWalkAnchorLevels = 32;

// One entry of a folder, as the walk's filter sees it.
struct FSWalkEntry {
    const char *folder = "";      // the containing folder's path below the root: "" or ending in '/'
                                  // (only with FSWalkOptions::paths; "" otherwise)
    size_t folderLength = 0;
    const char *name = "";
    bool isFolder = false;
    bool hasAttributes = false;   // false when its fstatat failed (then size 0; never entered)
    UInt64 size = 0;              // logical size; a folder's only with countFolders
};

struct FSWalkOptions {
    // The most workers; 0: as many as online CPUs. Never more than the online CPUs nor
    // kFSWalkMaxWorkers; 1 walks on the caller's thread alone.
    int maxWorkers = 0;
    // A folder's own size counts too (every folder is then asked for its attributes).
    bool countFolders = false;
    // Fill FSWalkEntry::folder for the filter.
    bool paths = false;
    // Entries are counted in batches of this many per folder: when the listing of a folder
    // fails, what it listed since the last full batch is not counted (the catalog
    // iteration's rule). 1 counts everything listed before a failure.
    ItemCount batch = 1;
    // Called for every entry (folders included) from the workers, concurrently: false leaves
    // the entry out, neither counted nor entered. None: every entry is kept.
    std::function<bool(const FSWalkEntry &)> filter;
};

struct FSWalkTotals {
    UInt64 bytes = 0;          // the sum of the sizes of the entries counted
    UInt64 entries = 0;        // entries counted (folders too with countFolders)
    UInt64 folders = 0;        // folders listed, the root included
    UInt64 skippedFolders = 0; // folders that could not be opened or listed to the end
    int workers = 0;           // workers that took part
    int peakDescriptors = 0;   // the most descriptors the walk held at once
};

// Walks the tree below the folder ROOT (a reference of either kind; a path reference
// follows links at the root only) and fills TOTALS: noErr; paramErr for null arguments;
// when the root cannot be opened, FSOpenIterator's status and zero totals.
OSStatus FSWalkTree(const FSRef *root, const FSWalkOptions &options, FSWalkTotals *totals);

// ---------------------------------------------------------------------------------------
// File-system representation of a path
// ---------------------------------------------------------------------------------------

using CFIndex = long;

// The size of buffer that always holds the file-system representation of STRING.
CFIndex CFStringGetMaximumSizeOfFileSystemRepresentation(const QString &string);

// Writes STRING's file-system representation (the bytes the kernel takes as a path: the
// locale's encoding, UTF-8 here), zero-terminated, into BUFFER of MAXBUFLEN bytes. False
// when STRING is null, holds a NUL character, or does not fit; the buffer is then untouched
// or holds an unterminated prefix that must not be used.
bool CFStringGetFileSystemRepresentation(const QString &string, char *buffer, CFIndex maxBufLen);
