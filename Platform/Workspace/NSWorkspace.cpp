#include "NSWorkspace.h"

NSWorkspace &NSWorkspace::sharedWorkspace()
{
    static NSWorkspace workspace;
    return workspace;
}

// ======================================================================================
// Running applications
// ======================================================================================

QVariantList NSWorkspace::launchedApplications() const { return {}; }



// ======================================================================================
// Removable media
// ======================================================================================

QStringList NSWorkspace::mountedRemovableMedia() const { return {}; }



// ======================================================================================
// Packages
// ======================================================================================

bool NSWorkspace::isFilePackageAtPath(const QString &path) const
{
    Q_UNUSED(path);
    return false;
}
