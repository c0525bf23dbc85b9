#include "Files.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

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
    ref->parent.reset();
    ref->name.clear();
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    return noErr;
}

// ======================================================================================
// Shared open folders
// ======================================================================================

// A folder that a catalog iteration opened. Its items' references share it, so that a
// sub-folder is opened relative to it. The descriptor may be closed to respect
// kFSMaxOpenFolders while no iterator reads the folder; it is opened again on demand, by
// name from the parent (or by path for a folder opened from a path).
class FSFolderHandle {
public:
    std::shared_ptr<FSFolderHandle> parent; // null for a folder opened by path
    std::string name;                       // the name inside PARENT
    QByteArray path;                        // the absolute path when PARENT is null
    int fd = -1;                            // guarded by the registry's mutex
    int pins = 0;                           // iterators and reopenings using FD now
    std::list<FSFolderHandle *>::iterator lruPosition;

    ~FSFolderHandle();
};

namespace {

struct Registry {
    std::mutex mutex;
    std::list<FSFolderHandle *> open; // most recently used first
    int count = 0;
};

Registry &registry()
{
    static Registry *r = new Registry; // never destroyed: handles may outlive static destruction
    return *r;
}

// Caller holds the mutex. Forgets H's descriptor.
void closeLocked(Registry &r, FSFolderHandle *h)
{
    if (h->fd < 0)
        return;
    ::close(h->fd);
    h->fd = -1;
    r.open.erase(h->lruPosition);
    --r.count;
}

// Caller holds the mutex. Closes unpinned folders, least recently used first, until at most
// LIMIT stay open.
void evictLocked(Registry &r, int limit)
{
    auto it = r.open.end();
    while (r.count > limit && it != r.open.begin()) {
        --it;
        FSFolderHandle *h = *it;
        if (h->pins > 0)
            continue;
        ::close(h->fd);
        h->fd = -1;
        --r.count;
        it = r.open.erase(it);
    }
}

// Caller holds the mutex. Records a freshly opened descriptor of H.
void registerLocked(Registry &r, FSFolderHandle *h, int fd)
{
    h->fd = fd;
    r.open.push_front(h);
    h->lruPosition = r.open.begin();
    ++r.count;
    evictLocked(r, kFSMaxOpenFolders);
}

void touchLocked(Registry &r, FSFolderHandle *h)
{
    if (h->fd >= 0 && h->lruPosition != r.open.begin())
        r.open.splice(r.open.begin(), r.open, h->lruPosition);
}

// Opens PATH as a folder, following symbolic links, also when it is longer than PATH_MAX
// (one component at a time then). Returns the descriptor or -errno.
int openFolderPath(const QByteArray &path)
{
    int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    if (errno != ENAMETOOLONG)
        return -errno;
    fd = ::open(path.startsWith('/') ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const QList<QByteArray> parts = path.split('/');
    for (const QByteArray &part : parts) {
        if (part.isEmpty())
            continue;
        const int next = ::openat(fd, part.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int saved = errno;
        ::close(fd);
        if (next < 0)
            return -saved;
        fd = next;
    }
    return fd;
}

int openChild(int parentFd, const std::string &name)
{
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

// Caller holds the mutex. Makes sure H (and, as needed, its ancestors) has an open
// descriptor and pins H. Returns the descriptor or -errno (H is then not pinned).
int pinOpenLocked(Registry &r, FSFolderHandle *h)
{
    if (h->fd >= 0) {
        ++h->pins;
        touchLocked(r, h);
        return h->fd;
    }
    // Walk up to the nearest open ancestor without recursion: chains can be very long.
    std::vector<FSFolderHandle *> chain;
    FSFolderHandle *top = h;
    while (top->fd < 0 && top->parent) {
        chain.push_back(top);
        top = top->parent.get();
    }
    int fd = top->fd;
    if (fd < 0) {
        fd = openFolderPath(top->path);
        if (fd < 0)
            return fd;
        ++top->pins;
        registerLocked(r, top, fd);
    } else {
        ++top->pins;
    }
    FSFolderHandle *pinned = top;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        FSFolderHandle *child = *it;
        int childFd = openChild(pinned->fd, child->name);
        if (childFd == -EMFILE || childFd == -ENFILE) {
            evictLocked(r, 0);
            childFd = openChild(pinned->fd, child->name);
        }
        --pinned->pins;
        if (childFd < 0)
            return childFd;
        ++child->pins;
        registerLocked(r, child, childFd);
        pinned = child;
    }
    Q_ASSERT(pinned == h);
    touchLocked(r, h);
    return h->fd;
}

void unpin(FSFolderHandle *h)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    --h->pins;
}

OSStatus statusForErrno(int error)
{
    switch (error) {
    case ENOENT:
        return fnfErr;
    case ENOTDIR:
    case ELOOP: // a catalog item that is (now) a symbolic link is not followed
        return errFSNotAFolder;
    case EACCES:
    case EPERM:
        return permErr;
    default:
        return ioErr;
    }
}

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr size_t kDirentBufferSize = 64 * 1024;

} // namespace

FSFolderHandle::~FSFolderHandle()
{
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        closeLocked(r, this);
    }
    // Release the ancestors one at a time: a recursive release of a chain 10,000 folders
    // deep would exhaust the stack.
    std::shared_ptr<FSFolderHandle> up = std::move(parent);
    while (up && up.use_count() == 1) {
        std::shared_ptr<FSFolderHandle> next = std::move(up->parent);
        up.reset();
        up = std::move(next);
    }
}

struct OpaqueFSIterator {
    std::shared_ptr<FSFolderHandle> folder; // pinned while the iterator is open
    std::unique_ptr<char[]> buffer;
    long length = 0;
    long position = 0;
    bool atEnd = false;
};

OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize)
{
    if (!ref || !path || maxPathSize == 0)
        return paramErr;
    QByteArray full;
    if (ref->parent) {
        std::vector<const std::string *> names{&ref->name};
        const FSFolderHandle *h = ref->parent.get();
        for (; h->parent; h = h->parent.get())
            names.push_back(&h->name);
        full = h->path;
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            if (!full.endsWith('/'))
                full += '/';
            full += QByteArray::fromRawData((*it)->data(), qsizetype((*it)->size()));
        }
    } else {
        full = ref->path;
    }
    if (full.isEmpty())
        return paramErr;
    if (UInt32(full.size()) + 1 > maxPathSize)
        return pathTooLongErr;
    std::memcpy(path, full.constData(), size_t(full.size()));
    path[full.size()] = 0;
    return noErr;
}

// ======================================================================================
// Catalog iteration
// ======================================================================================

OSStatus FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags, FSIterator *iterator)
{
    if (!container || !iterator)
        return paramErr;
    *iterator = nullptr;
    if (iteratorFlags != kFSIterateFlat)
        return errFSBadIteratorFlags;
    if (!container->parent && container->path.isEmpty())
        return paramErr;

    auto folder = std::make_shared<FSFolderHandle>();
    Registry &r = registry();
    int fd;
    if (container->parent) {
        folder->parent = container->parent;
        folder->name = container->name;
        std::lock_guard<std::mutex> lock(r.mutex);
        FSFolderHandle *parent = container->parent.get();
        const int parentFd = pinOpenLocked(r, parent);
        if (parentFd < 0)
            return statusForErrno(-parentFd);
        fd = openChild(parentFd, container->name);
        if (fd == -EMFILE || fd == -ENFILE) {
            evictLocked(r, 0);
            fd = openChild(parentFd, container->name);
        }
        --parent->pins;
    } else {
        folder->path = container->path;
        fd = openFolderPath(container->path);
    }
    if (fd < 0)
        return statusForErrno(-fd);
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        folder->pins = 1;
        registerLocked(r, folder.get(), fd);
    }

    auto *it = new (std::nothrow) OpaqueFSIterator;
    if (!it) {
        unpin(folder.get());
        return memFullErr;
    }
    it->folder = std::move(folder);
    it->buffer.reset(new (std::nothrow) char[kDirentBufferSize]);
    if (!it->buffer) {
        FSCloseIterator(it);
        return memFullErr;
    }
    *iterator = it;
    return noErr;
}

OSStatus FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount *actualObjects,
                              Boolean *containerChanged, FSCatalogInfoBitmap whichInfo,
                              FSCatalogInfo *catalogInfos, FSRef *refs, FSSpecPtr specs,
                              HFSUniStr255 *names)
{
    if (actualObjects)
        *actualObjects = 0;
    if (containerChanged)
        *containerChanged = 0;
    if (!iterator)
        return errFSIteratorNotFound;
    if (!actualObjects || specs)
        return paramErr;
    if (maximumObjects == 0)
        return errFSBadItemCount;

    OpaqueFSIterator &it = *iterator;
    const int fd = it.folder->fd; // pinned: stays open while the iterator lives
    const bool wantsSizes = catalogInfos && (whichInfo & (kFSCatInfoDataSizes | kFSCatInfoRsrcSizes));
    const bool wantsFlags = catalogInfos && (whichInfo & kFSCatInfoNodeFlags);
    ItemCount n = 0;
    while (n < maximumObjects) {
        if (it.position >= it.length) {
            if (it.atEnd)
                break;
            const long got = ::syscall(SYS_getdents64, fd, it.buffer.get(), kDirentBufferSize);
            if (got < 0)
                return ioErr; // the batch read so far is not reported
            if (got == 0) {
                it.atEnd = true;
                break;
            }
            it.length = got;
            it.position = 0;
        }
        const auto *d = reinterpret_cast<const LinuxDirent64 *>(it.buffer.get() + it.position);
        it.position += d->d_reclen;
        const char *name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;

        bool isDirectory = d->d_type == DT_DIR;
        if (catalogInfos) {
            FSCatalogInfo &info = catalogInfos[n];
            const bool typeKnown = d->d_type != DT_UNKNOWN;
            if ((wantsSizes && !isDirectory) || (wantsFlags && !typeKnown)) {
                struct stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    if (errno == ENOENT)
                        continue; // removed since the listing: not an item any more
                    st = {};
                    st.st_mode = isDirectory ? S_IFDIR : 0;
                }
                isDirectory = S_ISDIR(st.st_mode);
                if (!isDirectory && (whichInfo & kFSCatInfoDataSizes)) {
                    info.dataLogicalSize = UInt64(st.st_size);
                    info.dataPhysicalSize = UInt64(st.st_blocks) * 512u;
                } else if (whichInfo & kFSCatInfoDataSizes) {
                    info.dataLogicalSize = info.dataPhysicalSize = 0;
                }
            } else if (whichInfo & kFSCatInfoDataSizes) {
                info.dataLogicalSize = info.dataPhysicalSize = 0;
            }
            if (whichInfo & kFSCatInfoRsrcSizes)
                info.rsrcLogicalSize = info.rsrcPhysicalSize = 0;
            if (wantsFlags)
                info.nodeFlags = isDirectory ? kFSNodeIsDirectoryMask : 0;
        }
        if (refs) {
            FSRef &ref = refs[n];
            if (!ref.path.isEmpty())
                ref.path.clear();
            if (ref.parent != it.folder)
                ref.parent = it.folder;
            ref.name.assign(name);
        }
        if (names) {
            const QString text = QFile::decodeName(QByteArray::fromRawData(name, qsizetype(std::strlen(name))));
            HFSUniStr255 &out = names[n];
            out.length = UInt16(std::min<qsizetype>(text.size(), 255));
            std::memcpy(out.unicode, text.utf16(), out.length * sizeof(UniChar));
        }
        ++n;
    }
    *actualObjects = n;
    return n < maximumObjects ? OSStatus(errFSNoMoreItems) : OSStatus(noErr);
}

OSStatus FSCloseIterator(FSIterator iterator)
{
    if (!iterator)
        return errFSIteratorNotFound;
    unpin(iterator->folder.get());
    delete iterator;
    return noErr;
}

// ======================================================================================
// File-system representation of a path
// ======================================================================================

CFIndex CFStringGetMaximumSizeOfFileSystemRepresentation(const QString &string)
{
    return CFIndex(string.size()) * 3 + 1;
}

bool CFStringGetFileSystemRepresentation(const QString &string, char *buffer, CFIndex maxBufLen)
{
    if (string.isNull() || !buffer || maxBufLen <= 0 || string.contains(QChar(0)))
        return false;
    const QByteArray bytes = QFile::encodeName(string);
    if (CFIndex(bytes.size()) + 1 > maxBufLen)
        return false;
    std::memcpy(buffer, bytes.constData(), size_t(bytes.size()));
    buffer[bytes.size()] = 0;
    return true;
}
