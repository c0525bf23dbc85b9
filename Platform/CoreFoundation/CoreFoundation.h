// Core Foundation on Linux: the few object types and functions the login-item layer calls,
// over Qt value types. Objects are reference counted; whoever creates one releases it with
// CFRelease. Strings hold a QString, URLs a QUrl, arrays a QVariantList and dictionaries a
// QVariantMap: values put into a collection are stored as their Qt value (the Mac's
// toll-free bridging, see CFBridgingToQVariant), so a collection does not keep the objects
// themselves.
#pragma once

#include "zvcommon_export.h"

#include "MacTypes.h"

#include <QVariant>

struct FSRef;

using CFIndex = long;
using CFTypeRef = const void *;
using CFAllocatorRef = const void *;
using CFStringEncoding = UInt32;

struct __CFString;
struct __CFURL;
struct __CFArray;
struct __CFDictionary;
struct __CFBoolean;
using CFStringRef = const __CFString *;
using CFURLRef = const __CFURL *;
using CFArrayRef = const __CFArray *;
using CFMutableArrayRef = __CFArray *;
using CFDictionaryRef = const __CFDictionary *;
using CFBooleanRef = const __CFBoolean *;

struct CFRange {
    CFIndex location;
    CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) { return CFRange{location, length}; }

// The callbacks arguments of the collection constructors. Only the standard ones exist:
// values are always stored as their Qt value, so the callbacks carry no behaviour here.
struct CFArrayCallBacks { CFIndex version; };
struct CFDictionaryKeyCallBacks { CFIndex version; };
struct CFDictionaryValueCallBacks { CFIndex version; };
extern ZVCOMMON_EXPORT const CFArrayCallBacks kCFTypeArrayCallBacks;
extern ZVCOMMON_EXPORT const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern ZVCOMMON_EXPORT const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

extern ZVCOMMON_EXPORT const CFAllocatorRef kCFAllocatorDefault; // NULL, as on the Mac
extern ZVCOMMON_EXPORT const CFBooleanRef kCFBooleanTrue;
extern ZVCOMMON_EXPORT const CFBooleanRef kCFBooleanFalse;

enum : CFStringEncoding {
    kCFStringEncodingUTF8 = 0x08000100,
    kCFStringEncodingUnicode = 0x0100, // UTF-16, host byte order unless an external representation
};

enum : OSStatus { coreFoundationUnknownErr = -4960 };

// Releases an object made by a Create or Copy function; the constant booleans are never
// freed. CF must not be NULL.
ZVCOMMON_EXPORT void CFRelease(CFTypeRef cf);

// A string from NUMBYTES bytes in ENCODING; NULL when the bytes are not valid in it (bad
// UTF-8, an odd byte count for UTF-16) or the encoding is unknown. As an external
// representation, UTF-16 may start with a byte-order mark that decides the byte order.
ZVCOMMON_EXPORT CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
// The length in UTF-16 code units.
ZVCOMMON_EXPORT CFIndex CFStringGetLength(CFStringRef theString);
// Converts the characters of RANGE into BUFFER (at most MAXBUFLEN bytes; BUFFER may be NULL to
// measure), stopping before the first character that does not fit or cannot be represented
// when LOSSBYTE is 0 (otherwise that byte stands in for it). Returns the number of characters
// converted and sets *USEDBUFLEN (when given) to the bytes written. No terminator is written.
ZVCOMMON_EXPORT CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                         CFIndex maxBufLen, CFIndex *usedBufLen);

// A file URL of the object REF names; the folder form (trailing slash) for a folder. NULL for
// a NULL reference.
ZVCOMMON_EXPORT CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef *fsRef);
// A file URL of the path bytes (UTF-8, not zero-terminated, BUFLEN long), in the folder form
// when ISDIRECTORY. A relative path is taken from the current folder. NULL for an empty path
// or bytes that are not UTF-8.
ZVCOMMON_EXPORT CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory);
// True and *FSREF set when URL is a file URL of an existing file or folder.
ZVCOMMON_EXPORT Boolean CFURLGetFSRef(CFURLRef url, FSRef *fsRef);
// A URL object holding URL (a Linux-side constructor for callers holding a QUrl); NULL when
// URL is not valid.
ZVCOMMON_EXPORT CFURLRef CFURLCreateWithQUrl(const QUrl &url);

ZVCOMMON_EXPORT CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                       const CFArrayCallBacks *callBacks);
// Appends VALUE (a string, URL, boolean, array or dictionary) as its Qt value.
ZVCOMMON_EXPORT void CFArrayAppendValue(CFMutableArrayRef theArray, const void *value);
// KEYS must be strings; NULL when a key is not a string or an argument is missing.
ZVCOMMON_EXPORT CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void **keys,
                                   const void **values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks);

// The toll-free bridge: the Qt value an object stands for (QString, QUrl, bool, QVariantList,
// QVariantMap); an invalid QVariant for NULL.
ZVCOMMON_EXPORT QVariant CFBridgingToQVariant(CFTypeRef cf);
