#include "FileReplacement_p.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileReplacement {

namespace {

constexpr qsizetype kNameMax = 255;
constexpr qsizetype kRandomLength = 6;
// "." + name + infix + random letters fit in a file name.
constexpr qsizetype kNameRoom = kNameMax - 1 - qsizetype(sizeof kTemporaryInfix - 1) - kRandomLength;
// A rename fails with ENOENT when another writer's clean-up took our temporary file in the
// instant between its creation and its lock: then we start again.
constexpr int kAttempts = 3;

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { if (m_fd >= 0) ::close(m_fd); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QByteArray temporaryPrefix(const QByteArray &name)
{
    return '.' + name.left(kNameRoom) + kTemporaryInfix;
}

bool isTemporaryName(const char *entry, const QByteArray &prefix)
{
    const QByteArray name(entry);
    return name.size() == prefix.size() + kRandomLength && name.startsWith(prefix);
}

// Removes the temporary files an earlier writer of NAME left in FOLDER: ours (owned by this
// user), regular, and not locked by a writer at work.
void removeLeftovers(int folder, const QByteArray &name)
{
    const QByteArray prefix = temporaryPrefix(name);
    const int listing = ::dup(folder);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    ::rewinddir(dir);
    while (const dirent *entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name, prefix))
            continue;
        const Descriptor fd(::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}

// One attempt; sets *retry when the temporary file vanished before it could take the place.
bool replaceOnce(int folder, const QByteArray &name, const QByteArray &bytes, mode_t mode, bool *retry)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray temporary;
    int created = -1;
    for (int tries = 0; created < 0 && tries < 100; ++tries) {
        temporary = temporaryPrefix(name);
        for (qsizetype i = 0; i < kRandomLength; ++i)
            temporary += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
        created = ::openat(folder, temporary.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (created < 0 && errno != EEXIST)
            return false;
    }
    const Descriptor fd(created);
    if (fd.get() < 0)
        return false;
    const bool written = ::flock(fd.get(), LOCK_EX) == 0 && writeAll(fd.get(), bytes)
        && ::fsync(fd.get()) == 0 && ::fchmod(fd.get(), mode & 07777) == 0;
    if (written && ::renameat(folder, temporary.constData(), folder, name.constData()) == 0) {
        ::fsync(folder);
        return true;
    }
    *retry = written && errno == ENOENT;
    ::unlinkat(folder, temporary.constData(), 0);
    return false;
}

} // namespace

bool replaceFile(const QString &path, const QByteArray &bytes, mode_t mode)
{
    const QByteArray encoded = QFile::encodeName(path);
    const qsizetype slash = encoded.lastIndexOf('/');
    const QByteArray name = encoded.mid(slash + 1);
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : encoded.left(slash);
    if (name.isEmpty() || name == "." || name == ".." || encoded.contains('\0'))
        return false;
    const Descriptor folder(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return false;
    removeLeftovers(folder.get(), name);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool retry = false;
        if (replaceOnce(folder.get(), name, bytes, mode, &retry))
            return true;
        if (!retry)
            return false;
    }
    return false;
}

mode_t newFileMode()
{
    // The kernel shows the umask in /proc/self/status; setting it to read it back would race
    // with the threads of the process that create files meanwhile.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            bool ok = false;
            const uint mask = line.startsWith("Umask:") ? line.mid(6).trimmed().toUInt(&ok, 8) : 0;
            if (ok)
                return 0666 & ~mode_t(mask);
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

bool setModeWithoutFollowing(const QString &path, mode_t mode)
{
    // O_PATH opens without reading (no right to read needed, no device woken); the mode is
    // then set on that very file through its descriptor's name in /proc.
    const Descriptor fd(::open(QFile::encodeName(path).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
        return false;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd.get());
    return ::chmod(self.constData(), mode & 07777) == 0;
}

} // namespace FileReplacement
