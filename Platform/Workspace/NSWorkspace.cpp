#include "NSWorkspace.h"

NSWorkspace &NSWorkspace::sharedWorkspace()
{
    static NSWorkspace workspace;
    return workspace;
}

// ======================================================================================
// Running applications
// ======================================================================================

#include <QDir>
#include <QFile>
#include <algorithm>

QVariantList NSWorkspace::launchedApplications() const
{
    QList<qint32> ids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint32 id = entry.toInt(&ok);
        if (ok && id > 0)
            ids.append(id);
    }
    std::sort(ids.begin(), ids.end());

    QVariantList applications;
    for (const qint32 id : std::as_const(ids)) {
        const QString folder = QStringLiteral("/proc/%1").arg(id);
        QFile cmdline(folder + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue; // ended meanwhile
        const QByteArray argv0 = cmdline.readAll().split('\0').value(0);
        if (argv0.isEmpty())
            continue;
        const QString name = QString::fromUtf8(argv0.mid(argv0.lastIndexOf('/') + 1));
        if (name.isEmpty())
            continue;
        QVariantMap application{{QStringLiteral("NSApplicationName"), name},
                                {QStringLiteral("NSApplicationProcessIdentifier"), id}};
        const QString path = QFile::symLinkTarget(folder + QStringLiteral("/exe"));
        if (!path.isEmpty())
            application.insert(QStringLiteral("NSApplicationPath"), path);
        applications.append(application);
    }
    return applications;
}



// ======================================================================================
// Removable media
// ======================================================================================

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

QString removableSysBlockPath;
QString removableMountInfoPath;

QByteArray removableReadSmallFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096).trimmed() : QByteArray();
}

// mountinfo escapes blanks, tabs, newlines and backslashes in paths as \ooo (octal).
QString removableUnescapeMountPath(const QByteArray &field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && code < 256) {
                out.append(char(code));
                i += 3;
                continue;
            }
        }
        out.append(field.at(i));
    }
    return QString::fromUtf8(out);
}

} // namespace

void NSWorkspace::setRemovableMediaSources(const QString &sysBlockPath, const QString &mountInfoPath)
{
    removableSysBlockPath = sysBlockPath;
    removableMountInfoPath = mountInfoPath;
}

QStringList NSWorkspace::mountedRemovableMedia() const
{
    const QString sysBlock = removableSysBlockPath.isNull() ? QStringLiteral("/sys/block") : removableSysBlockPath;
    const QString mountInfo = removableMountInfoPath.isNull() ? QStringLiteral("/proc/self/mountinfo")
                                                              : removableMountInfoPath;
    QFile file(mountInfo);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Fields: id, parent id, major:minor, root, mount point, ...
    QList<std::pair<QByteArray, QString>> mounts;
    QByteArray startupDevice; // what "/" is mounted from; the last such mount is the one seen
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const QString point = removableUnescapeMountPath(fields.at(4));
        if (point == QLatin1String("/"))
            startupDevice = fields.at(2);
        mounts.append({fields.at(2), point});
    }

    // "major:minor" of every removable disk and of its partitions (subfolders with a
    // "partition" file), except the start-up disk: the one whose disk or partition holds "/".
    QSet<QByteArray> devices;
    const QDir blocks(sysBlock);
    for (const QString &disk : blocks.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QDir diskDir(blocks.filePath(disk));
        if (removableReadSmallFile(diskDir.filePath(QStringLiteral("removable"))) != "1")
            continue;
        QSet<QByteArray> numbers{removableReadSmallFile(diskDir.filePath(QStringLiteral("dev")))};
        for (const QString &part : diskDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
            const QDir partDir(diskDir.filePath(part));
            if (QFileInfo::exists(partDir.filePath(QStringLiteral("partition"))))
                numbers.insert(removableReadSmallFile(partDir.filePath(QStringLiteral("dev"))));
        }
        numbers.remove(QByteArray());
        if (!numbers.contains(startupDevice))
            devices.unite(numbers);
    }

    QStringList mountPoints;
    for (const auto &[device, point] : std::as_const(mounts)) {
        if (devices.contains(device) && !mountPoints.contains(point))
            mountPoints.append(point);
    }
    return mountPoints;
}



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
