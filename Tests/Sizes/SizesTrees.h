// Helpers of the Sizes tests: building trees in temp folders and measuring them with find.
#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// The byte total of `find DIR -mindepth 1 [-name PRUNE -prune -o] -not -type d -printf '%s\n'`:
// every non-folder entry (every entry with FOLDERS), links as themselves, hard links once
// per name, nothing at or below an entry named PRUNE. -1 when find fails.
inline qint64 findSum(const QString &dir, bool folders = false, const QString &prune = QString())
{
    QStringList args{dir, QStringLiteral("-mindepth"), QStringLiteral("1")};
    if (!prune.isEmpty())
        args << QStringLiteral("-name") << prune << QStringLiteral("-prune") << QStringLiteral("-o");
    if (!folders)
        args << QStringLiteral("-not") << QStringLiteral("-type") << QStringLiteral("d");
    args << QStringLiteral("-printf") << QStringLiteral("%s\\n");
    QProcess find;
    find.start(QStringLiteral("find"), args);
    if (!find.waitForFinished(120000) || find.exitCode() != 0)
        return -1;
    qint64 sum = 0;
    for (const QByteArray &line : find.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            sum += line.toLongLong();
    }
    return sum;
}

// Runs WORK in a forked child process, as the user nobody when NOBODY, and with
// RLIMIT_NOFILE set to the highest descriptor open in the child plus 1 plus SPAREFDS when
// SPAREFDS >= 0: the numbers WORK returns, or an empty list when the child fails.
inline QList<quint64> inChild(const std::function<QList<quint64>()> &work, int spareFds = -1, bool nobody = false)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (nobody && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        if (spareFds >= 0) {
            int highest = 0;
            for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System))
                highest = std::max(highest, name.toInt());
            const rlimit limit{rlim_t(highest + 1 + spareFds), rlim_t(highest + 1 + spareFds)};
            if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
                ::_exit(3);
        }
        const QList<quint64> numbers = work();
        const auto bytes = qsizetype(numbers.size() * sizeof(quint64));
        ::_exit(::write(pipeFds[1], numbers.constData(), size_t(bytes)) == bytes ? 0 : 3);
    }
    ::close(pipeFds[1]);
    QByteArray answer;
    char buffer[4096];
    for (ssize_t n; pid > 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    QList<quint64> numbers(answer.size() / qsizetype(sizeof(quint64)));
    std::memcpy(numbers.data(), answer.constData(), size_t(numbers.size()) * sizeof(quint64));
    return numbers;
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
