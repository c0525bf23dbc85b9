// The current user's login items, listed, added and removed by Apple Events sent to System
// Events (the process with signature 'sevs'), which is started when it does not run. Every
// function blocks until System Events answers or five seconds pass (errAETimeout, -1712).
//
// Results are OSStatus values: noErr, the status of the first platform call that failed,
// fnfErr (-43) for a URL that does not lead to an existing file, coreFoundationUnknownErr
// (-4960) when an array, dictionary, URL or path text cannot be made, or the error number of
// System Events' reply.
#pragma once

#include "zvcommon_export.h"

#include "CoreFoundation.h"
#include "Files.h"

// Lists the login items into *ITEMSPTR (which must be NULL on entry): on noErr a new array,
// the caller's to release, of dictionaries {"URL": file URL, "Hidden": boolean} in System
// Events' order; otherwise NULL.
//
// An item whose path, as UTF-16, does not fit the 1023-byte buffer it is read into, or whose
// UTF-8 form (converted in place in that buffer) would not fit it, cannot be converted: the
// whole listing fails with coreFoundationUnknownErr rather than report a
// truncated path (which could name another file) or leave the item out (which would shift the
// positions that LIAERemove takes).
//
// A reply whose 'errn' is present but cannot be read as a 16-bit integer fails the call with
// the status of that read (errAECoercionFail, -1700): an error answer never passes for
// success. This holds for every function here.
ZVCOMMON_EXPORT OSStatus LIAECopyLoginItems(CFArrayRef *itemsPtr);

// Adds the file or folder ITEM as the last login item, launched hidden when HIDEIT. A path
// whose UTF-16 form is longer than 1023 bytes (what the listing can read back) is refused
// with coreFoundationUnknownErr and nothing is sent; a path of 1024 bytes or more in UTF-8
// gives FSRefMakePath's pathTooLongErr.
ZVCOMMON_EXPORT OSStatus LIAEAddRefAtEnd(const FSRef *item, Boolean hideIt);

// As LIAEAddRefAtEnd for the file URL ITEM; fnfErr (-43), with nothing sent, when it does not
// lead to an existing file or folder.
ZVCOMMON_EXPORT OSStatus LIAEAddURLAtEnd(CFURLRef item, Boolean hideIt);

// Removes the login item at ITEMINDEX (zero-based) of the listing.
ZVCOMMON_EXPORT OSStatus LIAERemove(CFIndex itemIndex);
