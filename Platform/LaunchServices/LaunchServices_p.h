// Launch Services on Linux: finding an application program of this platform by its creator
// code and starting it. The applications it knows are the platform's own background
// programs, by creator: 'sevs' is "SystemEvents". A program is looked for, in this order,
// in the folder of the running program, in the main bundle's resource folder
// (NSBundle::resourcePath) and in the installation's program folder.
#pragma once

#include "CoreFoundation.h"
#include "Processes_p.h"

struct FSRef;
struct AEDesc;

using LSLaunchFlags = UInt32;
enum : LSLaunchFlags {
    kLSLaunchDefaults = 0x00000001,
    kLSLaunchNewInstance = 0x00080000,
};

enum : OSType { kLSUnknownCreator = 0 };

enum : OSStatus {
    kLSUnknownErr = -10810,
    kLSApplicationNotFoundErr = -10814,
    kLSNoExecutableErr = -10827,
};

struct LSApplicationParameters {
    CFIndex version;            // 0
    LSLaunchFlags flags;
    const FSRef *application;
    void *asyncLaunchRefCon;    // unused
    CFDictionaryRef environment; // NULL: the caller's environment (others are not supported)
    CFArrayRef argv;            // NULL: no arguments (others are not supported)
    AEDesc *initialEvent;       // NULL (others are not supported)
};

// Locates the application with creator INCREATOR (or, with kLSUnknownCreator, the program
// named INNAME; INBUNDLEID is not used on Linux): noErr and *OUTAPPREF / *OUTAPPURL (each
// optional; the URL is the caller's to release), or kLSApplicationNotFoundErr.
OSStatus LSFindApplicationForInfo(OSType inCreator, CFStringRef inBundleID, CFStringRef inName,
                                  FSRef *outAppRef, CFURLRef *outAppURL);

// Starts the application APPPARAMS->application, detached (its own session, standard streams
// on /dev/null, working folder "/", the caller's environment), and waits up to ten seconds
// until it has registered with the Process Manager; *OUTPSN (optional) receives its serial
// number. When that program already runs and kLSLaunchNewInstance is not given, the running
// process is the result and nothing is started. paramErr for a bad parameter block or
// unsupported parameters, kLSNoExecutableErr when the file is not an executable program,
// kLSUnknownErr when it does not start or does not register in time.
OSStatus LSOpenApplication(const LSApplicationParameters *appParams, ProcessSerialNumber *outPSN);
