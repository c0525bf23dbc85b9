// The File Manager's file references on Linux. An FSRef names an existing file or folder.
#pragma once

#include "MacTypes.h"

#include <QByteArray>

enum : OSStatus {
    errFSNoMoreItems = -1417,
};

// A reference to an existing file system object, made by FSPathMakeRef (or handed out by a
// catalog iteration). It holds the object's absolute path in its file-system form.
struct FSRef {
    QByteArray path;
};

// Resolves PATH (zero-terminated file-system bytes, following symbolic links like the Mac)
// into REF: noErr, fnfErr (-43) when nothing exists there, paramErr for a null argument or
// an empty path, permErr/ioErr for other failures. A relative path is taken from the
// current folder.
OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory);

// Writes REF's absolute path, zero-terminated, into PATH of MAXPATHSIZE bytes: noErr, or
// paramErr for null arguments, -2110 (pathTooLongErr) when it does not fit.
OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize);

enum : OSStatus { pathTooLongErr = -2110 };
