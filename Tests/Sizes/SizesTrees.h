// Helpers of the Sizes tests: building trees in temp folders and measuring them with find.
#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SizesTrees {

inline QByteArray fs(const QString &path) { return QFile::encodeName(path); }

inline bool makeFile(const QString &path, qint64 size)
{
    return TestSupport::writeFile(path, QByteArray(size, 'x'));
}

inline bool makeSymlink(const QString &target, const QString &link)
{
    return ::symlink(fs(target).constData(), fs(link).constData()) == 0;
}

inline bool makeHardLink(const QString &existing, const QString &link)
{
    return ::link(fs(existing).constData(), fs(link).constData()) == 0;
}

inline qint64 lstatSize(const QString &path)
{
    struct stat st;
    return ::lstat(fs(path).constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

// The byte total of `find DIR -not -type d -printf '%s\n'`: every non-folder entry, links as
// themselves, hard links once per name. -1 when find fails.
inline qint64 findSum(const QString &dir)
{
    QProcess find;
    find.start(QStringLiteral("find"), {dir, QStringLiteral("-not"), QStringLiteral("-type"), QStringLiteral("d"),
                                        QStringLiteral("-printf"), QStringLiteral("%s\\n")});
    if (!find.waitForFinished(120000) || find.exitCode() != 0)
        return -1;
    qint64 sum = 0;
    for (const QByteArray &line : find.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            sum += line.toLongLong();
    }
    return sum;
}

// A chain DEPTH folders deep below ROOT (each named NAME), made with openat so that paths
// beyond PATH_MAX are no obstacle. At every level a side folder holding one file of
// (level % 7 + 1) bytes when level % SIDEEVERY == 0. Returns the byte total of the files,
// or -1 on failure.
inline qint64 makeDeepChain(const QString &root, int depth, int sideEvery, const char *name = "level")
{
    int fd = ::open(fs(root).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return -1;
    qint64 total = 0;
    for (int level = 0; level < depth; ++level) {
        if (level % sideEvery == 0) {
            if (::mkdirat(fd, "side", 0755) != 0)
                break;
            const int side = ::openat(fd, "side", O_RDONLY | O_DIRECTORY);
            const int file = ::openat(side, "f", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const QByteArray bytes(level % 7 + 1, 'd');
            const bool ok = side >= 0 && file >= 0 && ::write(file, bytes.constData(), size_t(bytes.size())) == bytes.size();
            ::close(file);
            ::close(side);
            if (!ok)
                break;
            total += bytes.size();
        }
        if (::mkdirat(fd, name, 0755) != 0)
            break;
        const int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        if (fd < 0)
            return -1;
        if (level == depth - 1) {
            ::close(fd);
            return total;
        }
    }
    ::close(fd);
    return -1;
}

} // namespace SizesTrees

namespace SizesTrees {

// Removes a tree of any depth (rm walks relative to open folders; QDir uses whole paths).
inline bool removeTree(const QString &path)
{
    return QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"), path}) == 0;
}

} // namespace SizesTrees

namespace SizesTrees {

// Removes PATH with rm when the test leaves, also when it fails.
struct TreeGuard {
    QString path;
    ~TreeGuard() { removeTree(path); }
};

} // namespace SizesTrees
