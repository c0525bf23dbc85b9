// The workspace's view of running applications, mounted media and packages on Linux.
#pragma once

#include "zvcommon_export.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

class ZVCOMMON_EXPORT NSWorkspace {
public:
    static NSWorkspace &sharedWorkspace();

    // The running applications of this system, each a QVariantMap holding at least
    // "NSApplicationName" (and "NSApplicationProcessIdentifier").
    // On Linux every user-space process counts as an application (kernel threads and zombies,
    // which have no command line, do not), in ascending process-id order. Its
    // "NSApplicationName" is the file name of its argv[0] (the last part after "/"), which is
    // the name the process was started under (exec -a NAME sets it), so a name with blanks
    // stays whole; "NSApplicationProcessIdentifier" is its id (qint32) and "NSApplicationPath"
    // its executable's path when this process may read it (omitted otherwise).
    QVariantList launchedApplications() const;

    // The mount-point paths of the mounted removable media, in the kernel's mount order: the
    // mounts (/proc/self/mountinfo) of every block device that the kernel marks removable
    // (/sys/block/<disk>/removable is 1) and of that device's partitions. A device mounted at
    // several places gives each of them. Empty when nothing can be read.
    // The start-up disk is never a removable medium, even when the kernel marks it removable
    // (a system started from a USB stick or a memory card): the disk whose whole device or
    // one of whose partitions is mounted at "/" is left out with all of its mounts, so that
    // paths on it are kept by MyExtensions::filterRemovableMediaFilePaths.
    QStringList mountedRemovableMedia() const;
    // For tests: read the kernel's view from SYSBLOCKPATH (laid out as /sys/block) and
    // MOUNTINFOPATH (as /proc/self/mountinfo) instead; null strings restore the real ones.
    static void setRemovableMediaSources(const QString &sysBlockPath, const QString &mountInfoPath);

    // Whether the folder at PATH is shown to the user as one item (a package). Linux has no
    // package bit, so the rule is the name: a folder (following links) whose name ends with
    // a bundle extension, compared without regard to case: .app, .bundle, .framework,
    // .plugin, .kext, .pkg, .mpkg, .prefPane, .qlgenerator, .mdimporter, .saver, .wdgt, .xpc,
    // .appex, .component, .rtfd, .sparsebundle, .photoslibrary, .xcodeproj, .download.
    // A name that is only the extension (".app") is no package; a file never is.
    bool isFilePackageAtPath(const QString &path) const;

private:
    NSWorkspace() = default;
};
