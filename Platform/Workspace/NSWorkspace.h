// The workspace's view of running applications, mounted media and packages on Linux.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

class NSWorkspace {
public:
    static NSWorkspace &sharedWorkspace();

    // The running applications of this system, each a QVariantMap holding at least
    // "NSApplicationName" (and "NSApplicationProcessIdentifier").
    QVariantList launchedApplications() const;

    // The mount-point paths of the mounted removable media, in the kernel's mount order.
    QStringList mountedRemovableMedia() const;

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
