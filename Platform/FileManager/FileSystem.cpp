#include "FileSystem_p.h"

#include <QFile>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace FileSystem {

namespace {

bool statPath(const QString &path, struct stat *st, Links links = Links::Follow)
{
    if (path.isEmpty())
        return false;
    const QByteArray bytes = QFile::encodeName(path);
    return (links == Links::Follow ? ::stat(bytes.constData(), st) : ::lstat(bytes.constData(), st)) == 0;
}

} // namespace

ItemKind itemKind(const QString &path, Links links)
{
    struct stat st;
    if (!statPath(path, &st, links))
        return ItemKind::None;
    return S_ISDIR(st.st_mode) ? ItemKind::Folder : ItemKind::Other;
}

std::optional<quint64> itemSize(const QString &path)
{
    struct stat st;
    if (!statPath(path, &st))
        return std::nullopt;
    return quint64(st.st_size);
}

bool isAccessible(const QString &path, bool write)
{
    if (path.isEmpty())
        return false;
    const QByteArray bytes = QFile::encodeName(path);
    return ::access(bytes.constData(), write ? R_OK | W_OK : R_OK) == 0;
}

std::optional<QByteArray> readWithoutFollowing(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    QFile file;
    if (fd < 0)
        return std::nullopt;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

void dropFromCache(int descriptor)
{
    ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED);
}

bool removeNonFolder(const QString &path)
{
    struct stat st;
    return statPath(path, &st, Links::DoNotFollow) && !S_ISDIR(st.st_mode)
        && ::unlink(QFile::encodeName(path).constData()) == 0;
}

std::optional<quint64> volumeUsedSpace(const QString &path)
{
    struct statvfs fs;
    if (path.isEmpty() || ::statvfs(QFile::encodeName(path).constData(), &fs) != 0)
        return std::nullopt;
    const quint64 blocks = quint64(fs.f_blocks);
    const quint64 freeBlocks = quint64(fs.f_bfree);
    return blocks > freeBlocks ? (blocks - freeBlocks) * quint64(fs.f_frsize) : 0;
}

QStringList folderContents(const QString &path)
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

bool isRootBlockDevice(const QString &path)
{
    struct stat root, device;
    return ::stat("/", &root) == 0 && statPath(path, &device) && S_ISBLK(device.st_mode)
        && device.st_rdev == root.st_dev;
}

bool matchesWildcard(const QString &name, const QString &pattern)
{
    static_assert(FNM_CASEFOLD == 16, "the case-folding flag has the platform's value");
    const QByteArray n = name.toUtf8();
    const QByteArray p = pattern.toUtf8();
    // fnmatch sees C strings: a NUL inside either text would cut it short and match a part.
    if (n.contains('\0') || p.contains('\0'))
        return false;
    return ::fnmatch(p.constData(), n.constData(), FNM_CASEFOLD) == 0;
}

} // namespace FileSystem
