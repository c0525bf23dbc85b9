// ZVUtility: local sizes and exclusions.
#include "ZVUtility.h"

#include "FileSystem_p.h"
#include "Files.h"
#include "NSWorkspace.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <functional>
#include <vector>

namespace {

const QString kUserSpecifiedExclusion = QStringLiteral("User specified Exclusion");
const QString kDefaultExclusion = QStringLiteral("Default Exclusion");
const QString kEnableExcludeHiddenFilesKey = QStringLiteral("enableExcludeHiddenFilesKey");

bool isVolumePath(const QString &path)
{
    return path == QLatin1String("/") || ZVUtility::listMountedVolumesPaths().contains(path);
}

// Capacity minus free space of the file system holding PATH; none when it cannot be asked.
ZVUtility::SizeNumber volumeUsedSpace(const QString &path) { return FileSystem::volumeUsedSpace(path); }

// The size of PATH following links, 0 when it has no attributes.
quint64 followedFileSize(const QString &path) { return FileSystem::itemSize(path).value_or(0); }

// Resolves PATH (following links) into REF; false when it cannot.
bool pathRef(const QString &path, FSRef *ref)
{
    const CFIndex size = CFStringGetMaximumSizeOfFileSystemRepresentation(path);
    std::vector<char> bytes(size_t(size), 0);
    return CFStringGetFileSystemRepresentation(path, bytes.data(), size)
        && FSPathMakeRef(reinterpret_cast<const UInt8 *>(bytes.data()), ref, nullptr) == noErr;
}

// The directory enumerator's total: the size of every entry below FOLDER, folders and links
// as themselves (links not followed), walked by the File Manager's tree walk with at most
// WORKERS workers (0: one per CPU). KEEP, when given, is called for every entry from the
// workers, concurrently, with the entry's path below FOLDER: false leaves the entry out,
// neither counted nor entered. 0 when FOLDER cannot be walked.
quint64 enumeratedSize(const QString &folder, int workers,
                       const std::function<bool(const QString &relative)> &keep = {})
{
    FSRef ref;
    if (!pathRef(folder, &ref))
        return 0;
    FSWalkOptions options;
    options.maxWorkers = workers;
    options.countFolders = true;
    if (keep) {
        options.paths = true;
        options.filter = [&keep](const FSWalkEntry &entry) {
            QByteArray relative(entry.folder, qsizetype(entry.folderLength));
            relative += entry.name;
            return keep(QFile::decodeName(relative));
        };
    }
    FSWalkTotals totals;
    FSWalkTree(&ref, options, &totals);
    return totals.bytes;
}

ZVUtility::SizeNumber exclusionTotal(const QString &user, const QVariantMap &settings, const QString &key)
{
    quint64 total = 0;
    if (user.isEmpty() || settings.isEmpty())
        return total;
    const QVariantMap exclusions = settings.value(user).toMap().value(key).toMap();
    for (auto it = exclusions.cbegin(); it != exclusions.cend(); ++it) {
        if (!it.value().toBool())
            continue;
        const QString &path = it.key();
        if (ZVUtility::isDirectory(path))
            total += enumeratedSize(path, 0);
        else
            total += followedFileSize(path);
    }
    return total;
}

} // namespace

ZVUtility::SizeNumber ZVUtility::getFolderSize(const QString &path)
{
    if (isVolumePath(path))
        return volumeUsedSpace(path);
    FSRef ref;
    if (!pathRef(path, &ref))
        return std::nullopt;
    return fastFolderSizeAtFSRef(ref);
}

// The walk lists folders in parallel (Files.h: FSWalkTree); its total is that of the catalog
// iteration in batches of 256: every item that is no folder adds its data and resource fork
// sizes, a folder adds what is below it, and a folder whose listing fails part way loses
// the items of its unfinished batch.
quint64 ZVUtility::fastFolderSizeAtFSRef(const FSRef &folder)
{
    FSWalkOptions options;
    options.batch = 256;
    FSWalkTotals totals;
    FSWalkTree(&folder, options, &totals);
    return totals.bytes;
}

ZVUtility::SizeNumber ZVUtility::calculateSizeOfFile(const QString &path)
{
    SizeNumber total = 0;
    if (isDirectory(path)) {
        if (isVolumePath(path)) {
            total = volumeUsedSpace(path);
        } else {
            // One worker: the pause after each entry paces the walk as a whole.
            total = enumeratedSize(path, 1, [](const QString &) {
                QThread::usleep(10000);
                return true;
            });
        }
    } else {
        total = followedFileSize(path);
    }
    return formatedFileSize(total);
}

QString ZVUtility::calculateSizeOfFileForUserWithExcludedDictionary(const QString &path, const QString &user,
                                                                    const QVariantMap &excludedDictionary)
{
    SizeNumber total = 0;
    if (isVolumePath(path)) {
        total = volumeUsedSpace(path);
        if (total && path == QLatin1String("/")) {
            const quint64 excluded =
                totalSizeOfDefaultExclusionForUserWithExcludedDictionary(user, excludedDictionary).value_or(0)
                + totalSizeOfUserExclusionForUserWithExcludedDictionary(user, excludedDictionary).value_or(0);
            total = *total > excluded ? *total - excluded : 0;
        }
    } else if (isDirectory(path)) {
        const QVariantMap userDictionary = excludedDictionary.value(user).toMap();
        // Everything below an excluded folder is excluded as well.
        total = enumeratedSize(path, 0, [&](const QString &relative) {
            const QString full = path + QLatin1Char('/') + relative;
            return !shouldExcludeUserFileUserDictionary(full, userDictionary)
                && !shouldExcludeHiddenFileUserDictionary(full, excludedDictionary);
        });
    } else {
        total = followedFileSize(path);
    }
    return formatedFileSizeAsString(total);
}

ZVUtility::SizeNumber ZVUtility::totalSizeOfUserExclusionForUserWithExcludedDictionary(
    const QString &user, const QVariantMap &excludedDictionary)
{
    return exclusionTotal(user, excludedDictionary, kUserSpecifiedExclusion);
}

ZVUtility::SizeNumber ZVUtility::totalSizeOfDefaultExclusionForUserWithExcludedDictionary(
    const QString &user, const QVariantMap &excludedDictionary)
{
    return exclusionTotal(user, excludedDictionary, kDefaultExclusion);
}

ZVUtility::SizeNumber ZVUtility::calculateTotalSizeInArray(const QStringList &paths)
{
    quint64 total = 0;
    for (const QString &path : paths) {
        if (!isFileExists(path))
            continue;
        if (isDirectory(path))
            total += getFolderSize(path).value_or(0);
        else
            total += followedFileSize(path);
    }
    return total;
}

bool ZVUtility::shouldExcludeUserFileUserDictionary(const QString &path, const QVariantMap &userDictionary)
{
    const QVariantMap exclusions = userDictionary.value(kUserSpecifiedExclusion).toMap();
    for (auto it = exclusions.cbegin(); it != exclusions.cend(); ++it) {
        if (!it.key().isEmpty() && path.startsWith(it.key()) && it.value().toBool())
            return true;
    }
    return false;
}

bool ZVUtility::shouldExcludeHiddenFileUserDictionary(const QString &path, const QVariantMap &settings)
{
    const auto it = settings.constFind(kEnableExcludeHiddenFilesKey);
    if (it != settings.cend() && !it.value().toBool())
        return false;
    return isChildOfHiddenFolder(path);
}

bool ZVUtility::isChildOfHiddenFolder(const QString &path)
{
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &c : components) {
        if (c.startsWith(QLatin1Char('.')) && c != QLatin1String(".") && c != QLatin1String(".."))
            return true;
    }
    return false;
}

void ZVUtility::filterUndeletableFiles(QStringList &paths)
{
    static const char *const kMarks[] = {";", "=", "..", "./", "././"};
    paths.removeIf([](const QString &path) {
        for (const char *mark : kMarks) {
            if (path.contains(QLatin1String(mark)))
                return true;
        }
        return false;
    });
}

bool ZVUtility::hasReadPermissionForFile(const QString &path)
{
    // Each existing item along the path is judged, the last one (a file or a folder) included;
    // missing or unreachable ones are passed over.
    QString prefix;
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &component : components) {
        prefix += QLatin1Char('/') + component;
        if (FileSystem::itemKind(prefix) != FileSystem::ItemKind::None && !FileSystem::isAccessible(prefix))
            return false;
    }
    return true;
}

bool ZVUtility::isWritableFileAtPath(const QString &path)
{
    return FileSystem::isAccessible(path, true);
}

bool ZVUtility::isEmptyFolder(const QString &path)
{
    FSRef ref;
    FSIterator iterator = nullptr;
    if (path.isEmpty() || !pathRef(path, &ref) || FSOpenIterator(&ref, kFSIterateFlat, &iterator) != noErr)
        return true;
    ItemCount count = 0;
    FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr);
    FSCloseIterator(iterator);
    return count == 0;
}

void ZVUtility::removeFolder(const QString &path)
{
    if (path == QLatin1String(".") || path == QLatin1String("..") || !isFileExists(path))
        return;
    const FileSystem::ItemKind kind = FileSystem::itemKind(path, FileSystem::Links::DoNotFollow);
    if (kind == FileSystem::ItemKind::Folder)
        QDir(path).removeRecursively();
    else if (kind == FileSystem::ItemKind::Other)
        FileSystem::removeNonFolder(path);
}

bool ZVUtility::isFileExistsForAutoSync(const QString &path)
{
    if (path.isEmpty())
        return false; // nothing can be there
    const CFIndex size = CFStringGetMaximumSizeOfFileSystemRepresentation(path);
    std::vector<char> bytes(size_t(size), 0);
    if (!CFStringGetFileSystemRepresentation(path, bytes.data(), size))
        return false;
    FSRef ref;
    return FSPathMakeRef(reinterpret_cast<const UInt8 *>(bytes.data()), &ref, nullptr) != fnfErr;
}

QString ZVUtility::userPreferencePath()
{
    return QStringLiteral("%1/Library/Preferences/").arg(QDir::homePath());
}
