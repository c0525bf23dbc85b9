#include "Files.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory)
{
    if (!path || !ref || path[0] == 0)
        return paramErr;
    const char *p = reinterpret_cast<const char *>(path);
    struct stat st;
    if (::stat(p, &st) != 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            return fnfErr;
        case EACCES:
            return permErr;
        default:
            return ioErr;
        }
    }
    char resolved[PATH_MAX];
    if (::realpath(p, resolved)) {
        ref->path = QByteArray(resolved);
    } else {
        // realpath fails on paths longer than PATH_MAX; keep the absolute form unresolved.
        QByteArray abs(p);
        if (!abs.startsWith('/'))
            abs = QFile::encodeName(QDir::currentPath()) + '/' + abs;
        ref->path = abs;
    }
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    return noErr;
}

OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize)
{
    if (!ref || !path || maxPathSize == 0)
        return paramErr;
    if (UInt32(ref->path.size()) + 1 > maxPathSize)
        return pathTooLongErr;
    std::memcpy(path, ref->path.constData(), size_t(ref->path.size()));
    path[ref->path.size()] = 0;
    return noErr;
}
