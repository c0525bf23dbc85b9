// The system's version through Gestalt. Linux has no Mac OS version: unless the machine
// carries a Mac OS system version file, the version selectors answer as Gestalt answers a
// selector it does not know (gestaltUndefSelectorErr), and callers take their own fallback.
#pragma once

#include "MacTypes.h"

#include <QString>

enum : OSType {
    gestaltSystemVersion = FOUR_CHAR_CODE("sysv"),      // 0x1068 for 10.6.8
    gestaltSystemVersionMajor = FOUR_CHAR_CODE("sys1"), // 10
    gestaltSystemVersionMinor = FOUR_CHAR_CODE("sys2"), // 6
    gestaltSystemVersionBugFix = FOUR_CHAR_CODE("sys3"), // 8
};

enum : OSErr {
    gestaltUnknownErr = -5550,
    gestaltUndefSelectorErr = -5551,
};

// Where a Mac OS system keeps its version ("ProductVersion", such as "10.6.8").
inline constexpr char kGestaltSystemVersionFilePath[] =
    "/System/Library/CoreServices/SystemVersion.plist";

// Answers SELECTOR from kGestaltSystemVersionFilePath. On success stores the value in
// *RESPONSE and returns noErr; otherwise leaves *RESPONSE untouched and returns
// gestaltUndefSelectorErr (unknown selector, or no readable version). RESPONSE must not be
// null.
OSErr Gestalt(OSType selector, SInt32 *response);

// The same answer from the version file at PATH: "ProductVersion" must be one to three
// decimal numbers joined by points, missing parts counting as 0. 'sysv' packs major, minor
// and bug fix as binary-coded decimal digits, minor and bug fix above 9 counting as 9 (as the
// Mac does from 10.10 on).
OSErr GestaltFromSystemVersionFile(const QString &path, OSType selector, SInt32 *response);
