// Helpers of the Sizes tests: trees in temp folders, measured with find; work in a child.
#pragma once

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QScopedPointer>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SizesTrees {

inline QByteArray fs(const QString &path) { return QFile::encodeName(path); }

inline qint64 lstatSize(const QString &path)
{
    struct stat st;
    return ::lstat(fs(path).constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

// Makes in ROOT the blank-separated items of LAYOUT: "a/b=N" a file of N bytes, "a/b/" a
// folder, "a->T" a symbolic link to T, "a=>b" a hard link to ROOT/b. False on a failure.
inline bool makeTree(const QString &root, const QString &layout)
{
    for (const QString &item : layout.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qsizetype at = item.indexOf(QLatin1String("->")), hard = item.indexOf(QLatin1String("=>")), file = item.indexOf(u'=');
        const QString path = root + u'/' + item.left(at > 0 ? at : file > 0 ? file : item.size());
        if (!(at < 0 && hard < 0 && file > 0) && !QDir().mkpath(at > 0 || file > 0 ? QFileInfo(path).path() : path))
            return false;
        if (at > 0 ? ::symlink(fs(item.mid(at + 2)).constData(), fs(path).constData()) != 0
                : hard > 0 ? ::link(fs(root + u'/' + item.mid(hard + 2)).constData(), fs(path).constData()) != 0
                : file > 0 && !TestSupport::writeFile(path, QByteArray(item.mid(file + 1).toInt(), 'x')))
            return false;
    }
    return true;
}

// The byte total of `find DIR -mindepth 1 [-name PRUNE -prune -o] -not -type d -printf '%s\n'`:
// every non-folder entry (every entry with FOLDERS), links as themselves, hard links once
// per name, nothing at or below an entry named PRUNE. -1 when find fails.
inline qint64 findSum(const QString &dir, bool folders = false, const QString &prune = QString())
{
    QStringList args{dir, "-mindepth", "1"};
    if (!prune.isEmpty())
        args << "-name" << prune << "-prune" << "-o";
    if (!folders)
        args << "-not" << "-type" << "d";
    const TestSupport::Run find = TestSupport::runProgram("find", args << "-printf" << "%s\\n");
    qint64 sum = 0;
    for (const QByteArray &line : find.out.split('\n'))
        sum += line.toLongLong();
    return find.exitCode == 0 ? sum : -1;
}

// A chain DEPTH folders deep below ROOT (each named NAME), made with openat so that paths
// beyond PATH_MAX are no obstacle; at every level % SIDEEVERY == 0 a side folder holding one
// file of level % 7 + 1 bytes. The byte total of the files, or -1 on failure.
inline qint64 makeDeepChain(const QString &root, int depth, int sideEvery, const char *name)
{
    int fd = ::open(fs(root).constData(), O_RDONLY | O_DIRECTORY);
    qint64 total = 0;
    for (int level = 0; fd >= 0 && level < depth; ++level) {
        if (level % sideEvery == 0) {
            const QByteArray bytes(level % 7 + 1, 'd');
            const int side = ::mkdirat(fd, "side", 0755) == 0 ? ::openat(fd, "side", O_RDONLY | O_DIRECTORY) : -1;
            const int file = side >= 0 ? ::openat(side, "f", O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
            total += file >= 0 && ::write(file, bytes.constData(), size_t(bytes.size())) == bytes.size() ? bytes.size() : -(qint64(1) << 40);
            ::close(file);
            ::close(side);
        }
        const int next = ::mkdirat(fd, name, 0755) == 0 ? ::openat(fd, name, O_RDONLY | O_DIRECTORY) : -1;
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    return fd >= 0 && total >= 0 ? total : -1;
}

// Removes a tree of any depth (rm walks relative to open folders; QDir uses whole paths).
inline bool removeTree(const QString &path) { return TestSupport::runProgram("rm", {"-rf", "--", path}).exitCode == 0; }

// A fresh temp folder for each test function (ROOT, its canonical path), removed after it.
class TreeFixture : public QObject {
    Q_OBJECT
protected:
    QScopedPointer<QTemporaryDir> dir;
    QString root;
protected slots:
    void init() { dir.reset(new QTemporaryDir), root = QFileInfo(dir->path()).canonicalFilePath(); }
    void cleanup() { removeTree(root); }
};

} // namespace SizesTrees
