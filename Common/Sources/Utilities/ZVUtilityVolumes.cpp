// ZVUtility: volumes, Time Machine and snapshot folders.
#include "ZVUtility.h"

#include "FileSystem_p.h"
#include "NSWorkspace.h"

#include <QFile>
#include <algorithm>

namespace {

const QString kTimeMachineFolderName = QStringLiteral("Backups.backupdb");

// udev writes unusual bytes of a label as "\xHH".
QString decodeUdevLabel(const QByteArray &name)
{
    QByteArray out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            bool ok = false;
            const int byte = name.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out += char(byte);
                i += 3;
                continue;
            }
        }
        out += name[i];
    }
    return QString::fromUtf8(out);
}

// Calls ONMATCH(path) for each Time Machine folder, in search order, until it returns true.
template<class OnMatch>
void searchTimeMachineFolders(OnMatch onMatch)
{
    const QStringList volumes = ZVUtility::listMountedVolumesPaths();
    for (const QString &volume : volumes) {
        const QStringList names = FileSystem::folderContents(volume);
        for (const QString &name : names) {
            const QString path = QStringLiteral("%1/%2").arg(volume, name);
            if (name == kTimeMachineFolderName && ZVUtility::isDirectory(path) && onMatch(path))
                return;
        }
    }
}

QString entryFilePath(const QVariant &entry)
{
    return entry.toMap().value(QStringLiteral("filePath")).toString();
}

bool isSnapshotEntry(const QVariant &entry)
{
    return entryFilePath(entry).startsWith(QLatin1String("BackUp_nightly"));
}

bool isMacEntry(const QVariant &entry)
{
    return entryFilePath(entry).endsWith(QLatin1String("_MAC"));
}

} // namespace

QString ZVUtility::startupVolumeDisplayName()
{
    QFile file(QStringLiteral("/etc/startup-volume-name"));
    if (file.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (!name.isEmpty())
            return name;
    }
    const QString labels = QStringLiteral("/dev/disk/by-label");
    const QStringList names = FileSystem::folderContents(labels);
    for (const QString &name : names) {
        if (FileSystem::isRootBlockDevice(labels + QLatin1Char('/') + name))
            return decodeUdevLabel(QFile::encodeName(name));
    }
    return QString();
}

QStringList ZVUtility::listMountedVolumesPaths()
{
    const QString volumesFolder = QStringLiteral("/Volumes");
    QStringList volumes;
    const QStringList names = FileSystem::folderContents(volumesFolder);
    if (names.isEmpty())
        return volumes;
    const QString startupName = startupVolumeDisplayName();
    for (const QString &name : names) {
        const QString path = QStringLiteral("%1/%2").arg(volumesFolder, name);
        if (!isDirectory(path))
            continue;
        volumes.append(!startupName.isNull() && name == startupName ? QStringLiteral("/") : path);
    }
    return volumes;
}

bool ZVUtility::isTimeMachineFolderPresent()
{
    bool found = false;
    searchTimeMachineFolders([&found](const QString &) { return found = true; });
    return found;
}

bool ZVUtility::isTimeMachineFolderPresentLocallyAndInBackupSet(const QStringList &backupSetPaths)
{
    bool found = false;
    searchTimeMachineFolders([&](const QString &folder) {
        for (const QString &path : backupSetPaths) {
            if (isStringContainsKeyString(path, kTimeMachineFolderName) || path == folder)
                return found = true;
        }
        return false;
    });
    return found;
}

QStringList ZVUtility::timeMachineFolders()
{
    QStringList folders;
    searchTimeMachineFolders([&folders](const QString &folder) {
        folders.append(folder);
        return false;
    });
    return folders;
}

QVariantList &ZVUtility::sortMacFoldersInSnapshots(QVariantList &files)
{
    std::stable_partition(files.begin(), files.end(), isMacEntry);
    return files;
}

void ZVUtility::moveSnapshotFoldersToTop(QVariantList &files)
{
    const auto snapshotsEnd = std::stable_partition(files.begin(), files.end(), isSnapshotEntry);
    std::stable_partition(snapshotsEnd, files.end(), isMacEntry);
}

QString ZVUtility::snapshotVersion(const QString &name)
{
    if (!name.contains(QLatin1String("BackUp_nightly.")))
        return QStringLiteral("");
    const QStringList pieces = name.split(QLatin1Char('_'));
    if (pieces.size() < 2)
        return QStringLiteral("");
    const QStringList parts = pieces.at(1).split(QLatin1Char('.'));
    if (parts.size() < 2)
        return QStringLiteral("");
    return parts.at(1);
}

bool ZVUtility::isSupportedImageFileWithExtensions(const QString &path, const QStringList &extensions)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QString last = trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString(QLatin1String("")) : last.mid(dot + 1).toLower();
    return extensions.contains(extension);
}

bool ZVUtility::isDirectory(const QString &path)
{
    return FileSystem::itemKind(path) == FileSystem::ItemKind::Folder;
}

bool ZVUtility::isFileExists(const QString &path)
{
    return FileSystem::itemKind(path) != FileSystem::ItemKind::None;
}

bool ZVUtility::isMacDirectory(const QString &path)
{
    if (!isFileExists(path))
        return false;
    if (!isDirectory(path))
        return true;
    return NSWorkspace::sharedWorkspace().isFilePackageAtPath(path);
}
