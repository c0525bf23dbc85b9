// The Process Manager on Linux. The processes it knows are the applications of this
// platform that receive Apple Events: each registers itself, while it runs, as a local
// socket named "<pid>.<signature as 8 hex digits>" in the per-user folder
// ProcessRegistryFolder(). A process serial number is {0, pid}. An entry counts only while
// its process is alive (not a zombie), so a crashed application's leftover socket is ignored.
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
// {0, kNoProcess}. procNotFound after the last one, paramErr for NULL.
OSErr GetNextProcess(ProcessSerialNumber *PSN);
// Fills INFO for the registered process PSN: procNotFound when it is not (or no longer)
// running, paramErr when INFO's length is not sizeof(ProcessInfoRec).
OSErr GetProcessInformation(const ProcessSerialNumber *PSN, ProcessInfoRec *info);

// Linux: the per-user registration folder, made (mode 0700) when missing:
// "$XDG_RUNTIME_DIR/zv-processes" when XDG_RUNTIME_DIR is an absolute path, otherwise
// "/tmp/zv-runtime-<uid>/zv-processes". A null QString when it cannot be made or belongs to
// another user.
QString ProcessRegistryFolder();
// Linux: the socket path under which process PID with SIGNATURE registers.
QString ProcessRegistrySocketPath(pid_t pid, OSType signature);
// Linux: the socket path of the registered, running process PSN; null when there is none.
QString ProcessRegistrySocketPathForPSN(const ProcessSerialNumber &PSN);
