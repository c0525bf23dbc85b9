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

// Starts the application APPPARAMS->application and returns once it has registered with the
// Process Manager; *OUTPSN (optional) receives its serial number. When that program already
// runs and kLSLaunchNewInstance is not given, the running process is the result and nothing
// is started. Otherwise, when the session bus has a service file for the program's bus name
// (the product installs share/dbus-1/services/org.zvuninstaller.AppleEvents.sevs.service),
// the bus starts the program its file names, in the bus's own environment; where it has none,
// the program is started here, detached (its own session, standard streams on /dev/null,
// working folder "/", the caller's environment), and waited for up to ten seconds. paramErr
// for a bad parameter block or unsupported parameters, kLSNoExecutableErr when the file is
// not an executable program, kLSUnknownErr when no session bus can be reached or the program
// does not start or does not register in time.
OSStatus LSOpenApplication(const LSApplicationParameters *appParams, ProcessSerialNumber *outPSN);
