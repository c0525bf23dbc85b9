#include "ZVUtility.h"

#include <QFileInfo>
#include <cstdlib>

// ======================================================================================
// Console, version and file operations
// ======================================================================================

void ZVUtility::removeFile(const QString &path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return;
    const QByteArray command = QStringLiteral("rm -rf \"%1\"").arg(path).toUtf8();
    const int status = std::system(command.constData());
    Q_UNUSED(status);
}

bool ZVUtility::isStringContainsKeyString(const QString &string, const QString &key)
{
    if (string.isNull() || key.isNull() || key.isEmpty())
        return false;
    return string.contains(key, Qt::CaseSensitive);
}



// ======================================================================================
// Size texts
// ======================================================================================

QString ZVUtility::formatedFileSizeAsString(SizeNumber size)
{
    // Interim: whole bytes only, until the decimal size texts are in place.
    return QStringLiteral("%1 bytes").arg(size.value_or(0));
}

ZVUtility::SizeNumber ZVUtility::formatedFileSize(SizeNumber size) { return size; }



// ======================================================================================
// Server listings and the remote checklist
// ======================================================================================



// ======================================================================================
// Local sizes and exclusions
// ======================================================================================

#include "Files.h"
#include "NSWorkspace.h"

#include <QDir>
#include <QFile>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
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
ZVUtility::SizeNumber volumeUsedSpace(const QString &path)
{
    struct statvfs fs;
    if (path.isEmpty() || ::statvfs(QFile::encodeName(path).constData(), &fs) != 0)
        return std::nullopt;
    const quint64 blocks = quint64(fs.f_blocks);
    const quint64 freeBlocks = quint64(fs.f_bfree);
    return blocks > freeBlocks ? (blocks - freeBlocks) * quint64(fs.f_frsize) : 0;
}

// st_size of PATH following links, 0 when it has no attributes.
quint64 followedFileSize(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return quint64(st.st_size);
}

// The directory enumerator: calls VISIT(relative path, stat or null) for every entry below
// ROOT, folders before their contents, links not followed. VISIT returns whether a folder
// entry is to be entered. A folder that cannot be opened is reported but not entered.
template<class Visit>
void enumerateTree(const QString &root, Visit visit)
{
    struct Frame {
        DIR *dir;
        QString prefix;
    };
    std::vector<Frame> stack;
    const int rootFd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        return;
    if (DIR *d = ::fdopendir(rootFd))
        stack.push_back({d, QString()});
    else
        ::close(rootFd);
    while (!stack.empty()) {
        DIR *dir = stack.back().dir;
        const struct dirent *e = ::readdir(dir);
        if (!e) {
            ::closedir(dir);
            stack.pop_back();
            continue;
        }
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const QString relative = stack.back().prefix + QFile::decodeName(name);
        struct stat st;
        const bool hasAttributes = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        const bool enter = visit(relative, hasAttributes ? &st : nullptr);
        if (hasAttributes && S_ISDIR(st.st_mode) && enter) {
            const int fd = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                if (DIR *sub = ::fdopendir(fd))
                    stack.push_back({sub, relative + QLatin1Char('/')});
                else
                    ::close(fd);
            }
        }
    }
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
        if (ZVUtility::isDirectory(path)) {
            enumerateTree(path, [&total](const QString &, const struct stat *st) {
                if (st)
                    total += quint64(st->st_size);
                return true;
            });
        } else {
            total += followedFileSize(path);
        }
    }
    return total;
}

} // namespace

ZVUtility::SizeNumber ZVUtility::getFolderSize(const QString &path)
{
    if (isVolumePath(path))
        return volumeUsedSpace(path);
    const CFIndex size = CFStringGetMaximumSizeOfFileSystemRepresentation(path);
    std::vector<char> bytes(size_t(size), 0);
    if (!CFStringGetFileSystemRepresentation(path, bytes.data(), size))
        return std::nullopt;
    FSRef ref;
    if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(bytes.data()), &ref, nullptr) != noErr)
        return std::nullopt;
    return fastFolderSizeAtFSRef(ref);
}

quint64 ZVUtility::fastFolderSizeAtFSRef(const FSRef &folder)
{
    constexpr ItemCount kBatchSize = 256;
    constexpr FSCatalogInfoBitmap kWhichInfo = kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes;
    std::vector<FSCatalogInfo> infos(kBatchSize);
    std::vector<FSRef> refs(kBatchSize);
    std::vector<FSRef> pending{folder};
    quint64 total = 0;
    while (!pending.empty()) {
        const FSRef current = std::move(pending.back());
        pending.pop_back();
        FSIterator iterator = nullptr;
        if (FSOpenIterator(&current, kFSIterateFlat, &iterator) != noErr)
            continue;
        for (;;) {
            ItemCount count = 0;
            const OSStatus status = FSGetCatalogInfoBulk(iterator, kBatchSize, &count, nullptr, kWhichInfo,
                                                         infos.data(), refs.data(), nullptr, nullptr);
            if (status != noErr && status != errFSNoMoreItems)
                break;
            for (ItemCount i = 0; i < count; ++i) {
                const FSCatalogInfo &info = infos[i];
                if (info.nodeFlags & kFSNodeIsDirectoryMask)
                    pending.push_back(std::move(refs[i]));
                else
                    total += info.dataLogicalSize + info.rsrcLogicalSize;
            }
            if (status == errFSNoMoreItems)
                break;
        }
        FSCloseIterator(iterator);
    }
    return total;
}

ZVUtility::SizeNumber ZVUtility::calculateSizeOfFile(const QString &path)
{
    SizeNumber total = 0;
    if (isDirectory(path)) {
        if (isVolumePath(path)) {
            total = volumeUsedSpace(path);
        } else {
            quint64 sum = 0;
            enumerateTree(path, [&sum](const QString &, const struct stat *st) {
                if (st)
                    sum += quint64(st->st_size);
                ::usleep(10000);
                return true;
            });
            total = sum;
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
        quint64 sum = 0;
        enumerateTree(path, [&](const QString &relative, const struct stat *st) {
            const QString full = path + QLatin1Char('/') + relative;
            if (shouldExcludeUserFileUserDictionary(full, userDictionary)
                || shouldExcludeHiddenFileUserDictionary(full, excludedDictionary))
                return false; // everything below an excluded folder is excluded as well
            if (st)
                sum += quint64(st->st_size);
            return true;
        });
        total = sum;
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
    QString prefix = QStringLiteral("/");
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &component : components) {
        prefix += component + QLatin1Char('/');
        const QByteArray bytes = QFile::encodeName(prefix);
        struct stat st;
        if (::stat(bytes.constData(), &st) == 0 && ::access(bytes.constData(), R_OK) != 0)
            return false;
    }
    return true;
}

bool ZVUtility::isWritableFileAtPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray bytes = QFile::encodeName(path);
    return ::access(bytes.constData(), W_OK) == 0 && ::access(bytes.constData(), R_OK) == 0;
}

bool ZVUtility::isEmptyFolder(const QString &path)
{
    if (path.isEmpty())
        return true;
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return true;
    bool empty = true;
    while (const struct dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

void ZVUtility::removeFolder(const QString &path)
{
    if (path == QLatin1String(".") || path == QLatin1String("..") || !isFileExists(path))
        return;
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st;
    if (::lstat(bytes.constData(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode))
        QDir(path).removeRecursively();
    else
        ::unlink(bytes.constData());
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



// ======================================================================================
// Volumes, Time Machine and snapshot folders
// ======================================================================================

#include <algorithm>

namespace {

const QString kTimeMachineFolderName = QStringLiteral("Backups.backupdb");

// The names directly inside PATH, in the order the file system gives ("." and ".." left out).
QStringList directoryContents(const QString &path)
{
    QStringList names;
    DIR *dir = path.isEmpty() ? nullptr : ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return names;
    while (const struct dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))))
            names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return names;
}

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
        const QStringList names = directoryContents(volume);
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
    struct stat root;
    if (::stat("/", &root) != 0)
        return QString();
    const QString labels = QStringLiteral("/dev/disk/by-label");
    const QStringList names = directoryContents(labels);
    for (const QString &name : names) {
        struct stat device;
        const QByteArray link = QFile::encodeName(labels + QLatin1Char('/') + name);
        if (::stat(link.constData(), &device) == 0 && S_ISBLK(device.st_mode) && device.st_rdev == root.st_dev)
            return decodeUdevLabel(QFile::encodeName(name));
    }
    return QString();
}

QStringList ZVUtility::listMountedVolumesPaths()
{
    const QString volumesFolder = QStringLiteral("/Volumes");
    QStringList volumes;
    const QStringList names = directoryContents(volumesFolder);
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
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ZVUtility::isFileExists(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool ZVUtility::isMacDirectory(const QString &path)
{
    if (!isFileExists(path))
        return false;
    if (!isDirectory(path))
        return true;
    return NSWorkspace::sharedWorkspace().isFilePackageAtPath(path);
}



// ======================================================================================
// Predicates
// ======================================================================================


