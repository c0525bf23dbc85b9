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

#include <QFileInfo>

namespace {

// The bundle extensions shown as one item (compared without regard to case).
const char *const kPackageExtensions[] = {
    "app", "bundle", "framework", "plugin", "kext", "pkg", "mpkg", "prefpane", "qlgenerator",
    "mdimporter", "saver", "wdgt", "xpc", "appex", "component", "rtfd", "sparsebundle",
    "photoslibrary", "xcodeproj", "download",
};

} // namespace

bool NSWorkspace::isFilePackageAtPath(const QString &path) const
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QString name = trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return false; // no extension, or a hidden name such as ".app"
    if (!QFileInfo(trimmed).isDir())
        return false;
    const QStringView extension = QStringView(name).mid(dot + 1);
    for (const char *known : kPackageExtensions) {
        if (extension.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
