// The Process Manager on Linux. The processes it knows are the applications of this
// platform that receive Apple Events: while one runs it owns, on the user's D-Bus session
// bus, the bus name ProcessBusNameForSignature(its signature). A process serial number is
// {0, pid}, the process id the bus reports for the name's owner. The bus drops a name the
// moment its owner's connection ends (an exit, a crash, SIGKILL), so a process that is gone
// is never listed, whatever program later gets its process id.
#pragma once

#include "MacTypes.h"

#include <QString>
#include <sys/types.h>

struct FSRef;

struct ProcessSerialNumber {
    UInt32 highLongOfPSN;
    UInt32 lowLongOfPSN;
};

enum : UInt32 {
    kNoProcess = 0,
    kSystemProcess = 1,
    kCurrentProcess = 2,
};

enum : OSStatus { procNotFound = -600, connectionInvalid = -609 };

using Str31 = unsigned char[32];
using StringPtr = unsigned char *;

struct ProcessInfoRec {
    UInt32 processInfoLength; // sizeof(ProcessInfoRec), set by the caller
    StringPtr processName;    // NULL, or a Str31 that receives the name (Pascal string)
    ProcessSerialNumber processNumber;
    OSType processType;       // 'APPL'
    OSType processSignature;
    FSRef *processAppRef;     // NULL, or receives the reference of the program file
};

// Steps PSN to the next registered process, in increasing process id; start with
// {0, kNoProcess}. procNotFound after the last one (and when no session bus can be reached),
// paramErr for NULL.
OSErr GetNextProcess(ProcessSerialNumber *PSN);
// Fills INFO for the registered process PSN: procNotFound when it is not (or no longer)
// running, paramErr when INFO's length is not sizeof(ProcessInfoRec).
OSErr GetProcessInformation(const ProcessSerialNumber *PSN, ProcessInfoRec *info);

// Linux: the bus name of an application with SIGNATURE: "org.zvuninstaller.AppleEvents."
// followed by the signature's four characters when they are ASCII letters, digits or "_"
// and the first is not a digit ('sevs' gives "org.zvuninstaller.AppleEvents.sevs"),
// otherwise by "x" and the signature in 8 hex digits (a bus name allows no other characters).
QString ProcessBusNameForSignature(OSType signature);
// Linux: the unique bus name (":1.n") of the connection through which the registered process
// PSN receives Apple Events; null when there is none.
QString ProcessBusConnectionForPSN(const ProcessSerialNumber &PSN);
