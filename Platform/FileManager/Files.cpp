#include "Files.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <list>
#include <mutex>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
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

// Opens the folder REF names: relative to its parent's open directory for a catalog
// reference (never following a link there), by path otherwise. The descriptor or -errno.
int openRefFolder(const FSRef &ref)
{
    if (!ref.parent)
        return openFolderPath(ref.path);
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    FSFolderHandle *parent = ref.parent.get();
    const int parentFd = pinOpenLocked(r, parent);
    if (parentFd < 0)
        return parentFd;
    int fd = openChild(parentFd, ref.name);
    if (fd == -EMFILE || fd == -ENFILE) {
        evictLocked(r, 0);
        fd = openChild(parentFd, ref.name);
    }
    --parent->pins;
    return fd;
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
    folder->parent = container->parent;
    if (container->parent)
        folder->name = container->name;
    else
        folder->path = container->path;
    const int fd = openRefFolder(*container);
    if (fd < 0)
        return statusForErrno(-fd);
    Registry &r = registry();
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
// Tree walk
// ======================================================================================

namespace {

// A folder of the walk: waiting on the stack, being listed, cached, or the ancestor of one.
// A folder is opened by the path from its base (the nearest anchor above it) or from a
// nearer ancestor a worker still has open; a folder becomes an anchor when that path would
// grow beyond kFSWalkAnchorLevels names or kAnchorBytes.
struct WalkNode {
    std::atomic<int> references{1};
    WalkNode *parent = nullptr; // holds a reference; null for the root
    WalkNode *base = nullptr;   // an ancestor, kept by the parent chain; null for the root
    int levelsFromBase = 0;
    int bytesFromBase = 0;
    bool anchor = true;
    std::string name;
};

constexpr int kAnchorBytes = 2048; // + one name: the longest path opened stays under PATH_MAX
constexpr int kWalkCache = kFSWalkDescriptorsPerWorker - 2;

// Opens the folder PATH (names joined by '/') below DIRFD, following no symbolic link on
// the way; one more descriptor is held meanwhile only where openat2 is missing. The
// descriptor or -errno.
int openWithoutLinks(int dirFd, const std::string &path)
{
    static std::atomic<bool> unavailable{false};
    if (!unavailable.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS;
        const long fd = ::syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
        if (fd >= 0)
            return int(fd);
        if (errno != ENOSYS && errno != EPERM)
            return -errno;
        unavailable = true; // an older kernel, or a sandbox that refuses the call
    }
    int fd = dirFd;
    for (size_t start = 0;;) {
        const size_t end = path.find('/', start);
        const int next = openChild(fd, path.substr(start, end == std::string::npos ? end : end - start));
        if (fd != dirFd)
            ::close(fd);
        if (next < 0 || end == std::string::npos)
            return next;
        fd = next;
        start = end + 1;
    }
}

// Drops one reference of NODE, and of its ancestors as they lose their last one (a loop: a
// chain can be 10,000 folders long).
void releaseNode(WalkNode *node)
{
    while (node && node->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        WalkNode *up = node->parent;
        delete node;
        node = up;
    }
}

WalkNode *makeChild(WalkNode *parent, const char *name, size_t length)
{
    auto *child = new (std::nothrow) WalkNode;
    if (!child)
        return nullptr;
    child->name.assign(name, length);
    parent->references.fetch_add(1, std::memory_order_relaxed);
    child->parent = parent;
    child->base = parent->anchor ? parent : parent->base;
    child->levelsFromBase = (parent->anchor ? 0 : parent->levelsFromBase) + 1;
    child->bytesFromBase = (parent->anchor ? 0 : parent->bytesFromBase + 1) + int(length);
    child->anchor = child->levelsFromBase >= kFSWalkAnchorLevels || child->bytesFromBase >= kAnchorBytes;
    return child;
}

int workerCount(int maxWorkers)
{
    long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        online = std::min<long>(online, CPU_COUNT(&set));
    int count = int(std::clamp<long>(online, 1, kFSWalkMaxWorkers));
    if (maxWorkers > 0)
        count = std::min(count, maxWorkers);
    return count;
}

class TreeWalk {
public:
    TreeWalk(const FSWalkOptions &options, int rootFd)
        : options(options), rootFd(rootFd), wanted(workerCount(options.maxWorkers))
    {
    }

    void run(WalkNode *root, FSWalkTotals &totals)
    {
        stack.push_back(root);
        work();
        for (std::thread &helper : helpers)
            helper.join();
        totals = sum;
        totals.workers = 1 + int(helpers.size());
        totals.peakDescriptors = peak.load();
    }

private:
    struct Cached {
        WalkNode *node = nullptr; // holds a reference
        int fd = -1;
        UInt64 used = 0;
    };

    struct Worker {
        std::unique_ptr<char[]> listing{new (std::nothrow) char[kDirentBufferSize]};
        Cached cache[kWalkCache];
        UInt64 clock = 0;
        std::vector<WalkNode *> children; // of the folder being listed
        std::vector<const WalkNode *> chain;
        std::string relative;             // a path being opened
        std::string folderPath;           // of PATHNODE, for the filter
        WalkNode *pathNode = nullptr;     // holds a reference
        FSWalkTotals totals;
    };

    const FSWalkOptions &options;
    const int rootFd;
    int wanted;
    std::atomic<int> descriptors{1};
    std::atomic<int> peak{1};

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<WalkNode *> stack; // folders waiting, each holding a reference
    std::vector<std::thread> helpers;
    int busy = 0;    // workers listing a folder
    int waiting = 0; // workers waiting for one
    bool done = false;
    FSWalkTotals sum;

    void opened()
    {
        const int now = descriptors.fetch_add(1, std::memory_order_relaxed) + 1;
        int seen = peak.load(std::memory_order_relaxed);
        while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
        }
    }

    void closeFd(int fd)
    {
        ::close(fd);
        descriptors.fetch_sub(1, std::memory_order_relaxed);
    }

    // A worker's life: the caller's thread, or a helper started by give().
    void work()
    {
        Worker w;
        while (WalkNode *folder = take()) {
            if (w.listing)
                list(w, folder);
            else
                skip(w, folder);
            give(w);
        }
        for (Cached &c : w.cache)
            uncache(c);
        releaseNode(w.pathNode);
        std::lock_guard<std::mutex> lock(mutex);
        sum.bytes += w.totals.bytes;
        sum.entries += w.totals.entries;
        sum.folders += w.totals.folders;
        sum.skippedFolders += w.totals.skippedFolders;
    }

    // The next folder to list, or null when every folder has been listed.
    WalkNode *take()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (!stack.empty()) {
                WalkNode *folder = stack.back();
                stack.pop_back();
                ++busy;
                return folder;
            }
            if (done || busy == 0) {
                done = true;
                wake.notify_all();
                return nullptr;
            }
            ++waiting;
            wake.wait(lock);
            --waiting;
        }
    }

    // Hands the sub-folders found to the stack, and starts another worker while folders
    // wait with nobody idle to take them (under the lock: no worker starts after the end).
    void give(Worker &w)
    {
        std::lock_guard<std::mutex> lock(mutex);
        try {
            stack.insert(stack.end(), w.children.begin(), w.children.end());
        } catch (...) {
            for (WalkNode *child : w.children) {
                releaseNode(child);
                ++w.totals.skippedFolders;
            }
        }
        w.children.clear();
        --busy;
        if (stack.size() > size_t(waiting) && int(helpers.size()) + 1 < wanted) {
            try {
                helpers.emplace_back(&TreeWalk::work, this);
            } catch (...) {
                wanted = int(helpers.size()) + 1;
            }
        }
        if (stack.empty() && busy == 0) {
            done = true;
            wake.notify_all();
        } else if (waiting > 0 && !stack.empty()) {
            wake.notify_all();
        }
    }

    void skip(Worker &w, WalkNode *folder)
    {
        ++w.totals.skippedFolders;
        releaseNode(folder);
    }

    void uncache(Cached &c)
    {
        if (!c.node)
            return;
        closeFd(c.fd);
        releaseNode(c.node);
        c = Cached();
    }

    // Keeps FD of NODE (taking over a reference of NODE) in place of the least recently used.
    void cache(Worker &w, WalkNode *node, int fd)
    {
        Cached *slot = &w.cache[0];
        for (Cached &c : w.cache) {
            if (!c.node) {
                slot = &c;
                break;
            }
            if (c.used < slot->used)
                slot = &c;
        }
        uncache(*slot);
        *slot = {node, fd, ++w.clock};
    }

    int openFd(Worker &w, const WalkNode *node)
    {
        if (!node->parent)
            return rootFd;
        for (Cached &c : w.cache) {
            if (c.node == node) {
                c.used = ++w.clock;
                return c.fd;
            }
        }
        return -1;
    }

    // Opens TO by its path from FROM (an ancestor whose descriptor is FROMFD), following no
    // link on the way. The descriptor or -errno.
    int openBelow(Worker &w, int fromFd, const WalkNode *from, const WalkNode *to)
    {
        w.chain.clear();
        for (const WalkNode *n = to; n != from; n = n->parent)
            w.chain.push_back(n);
        w.relative.clear();
        for (auto it = w.chain.rbegin(); it != w.chain.rend(); ++it) {
            if (!w.relative.empty())
                w.relative += '/';
            w.relative += (*it)->name;
        }
        const int fd = openWithoutLinks(fromFd, w.relative);
        if (fd >= 0)
            opened();
        return fd;
    }

    // Opens FOLDER from the nearest folder this worker has open: an ancestor up to its base,
    // or else its base opened the same way, anchor after anchor (each kept in the cache).
    int openFolder(Worker &w, WalkNode *folder)
    {
        std::vector<WalkNode *> anchors; // still to open, the deepest first
        WalkNode *target = folder;
        const WalkNode *from = nullptr;
        int fromFd = -1;
        for (;;) {
            for (const WalkNode *p = target->parent;; p = p->parent) {
                fromFd = openFd(w, p);
                if (fromFd >= 0) {
                    from = p;
                    break;
                }
                if (p == target->base)
                    break;
            }
            if (from)
                break;
            anchors.push_back(target);
            target = target->base;
        }
        for (;;) {
            const int fd = openBelow(w, fromFd, from, target);
            if (fd < 0 || target == folder)
                return fd;
            target->references.fetch_add(1, std::memory_order_relaxed);
            cache(w, target, fd);
            from = target;
            fromFd = fd;
            target = anchors.back();
            anchors.pop_back();
        }
    }

    // FOLDER's path below the root into w.folderPath.
    void findPath(Worker &w, WalkNode *folder)
    {
        if (folder == w.pathNode)
            return;
        if (folder->parent && folder->parent == w.pathNode) {
            w.folderPath += folder->name;
            w.folderPath += '/';
        } else {
            w.chain.clear();
            for (const WalkNode *n = folder; n->parent; n = n->parent)
                w.chain.push_back(n);
            w.folderPath.clear();
            for (auto it = w.chain.rbegin(); it != w.chain.rend(); ++it) {
                w.folderPath += (*it)->name;
                w.folderPath += '/';
            }
        }
        folder->references.fetch_add(1, std::memory_order_relaxed);
        releaseNode(w.pathNode);
        w.pathNode = folder;
    }

    // Lists FOLDER (taking over its reference): counts its entries, gathers its sub-folders.
    void list(Worker &w, WalkNode *folder)
    {
        int fd = rootFd;
        if (folder->parent) {
            try {
                fd = openFolder(w, folder);
                if (fd == -EMFILE || fd == -ENFILE) {
                    for (Cached &c : w.cache)
                        uncache(c);
                    fd = openFolder(w, folder);
                }
            } catch (...) {
                fd = -ENOMEM;
            }
            if (fd < 0)
                return skip(w, folder);
        }
        ++w.totals.folders;
        UInt64 bytes = 0, entries = 0;
        size_t keptChildren = 0;
        ItemCount inBatch = 0;
        const ItemCount batch = std::max<ItemCount>(options.batch, 1);
        bool failed = false;
        try {
            if (options.paths && options.filter)
                findPath(w, folder);
            for (;;) {
                const long got = ::syscall(SYS_getdents64, fd, w.listing.get(), kDirentBufferSize);
                if (got <= 0) {
                    failed = got < 0;
                    break;
                }
                for (long position = 0; position < got;) {
                    const auto *d = reinterpret_cast<const LinuxDirent64 *>(w.listing.get() + position);
                    position += d->d_reclen;
                    const char *name = d->d_name;
                    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                        continue;
                    FSWalkEntry entry;
                    entry.name = name;
                    entry.isFolder = d->d_type == DT_DIR;
                    entry.hasAttributes = true;
                    if (options.countFolders || !entry.isFolder) {
                        struct stat st;
                        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                            entry.isFolder = S_ISDIR(st.st_mode);
                            entry.size = entry.isFolder && !options.countFolders ? 0 : UInt64(st.st_size);
                        } else if (errno == ENOENT) {
                            continue; // removed since the listing
                        } else {
                            entry.isFolder = entry.hasAttributes = false;
                        }
                    }
                    bool kept = true;
                    if (options.filter) {
                        if (options.paths) {
                            entry.folder = w.folderPath.c_str();
                            entry.folderLength = w.folderPath.size();
                        }
                        kept = options.filter(entry);
                    }
                    if (kept) {
                        if (entry.isFolder) {
                            if (WalkNode *child = makeChild(folder, name, std::strlen(name)))
                                w.children.push_back(child);
                            else
                                ++w.totals.skippedFolders;
                        }
                        if (!entry.isFolder || options.countFolders) {
                            bytes += entry.size;
                            ++entries;
                        }
                    }
                    if (++inBatch == batch) {
                        w.totals.bytes += bytes;
                        w.totals.entries += entries;
                        bytes = entries = 0;
                        keptChildren = w.children.size();
                        inBatch = 0;
                    }
                }
            }
        } catch (...) {
            failed = true; // no memory, or the filter failed
        }
        if (failed) {
            ++w.totals.skippedFolders;
            while (w.children.size() > keptChildren) {
                releaseNode(w.children.back());
                w.children.pop_back();
            }
        } else {
            w.totals.bytes += bytes;
            w.totals.entries += entries;
        }
        if (folder->parent)
            cache(w, folder, fd);
        else
            releaseNode(folder);
    }
};

} // namespace

OSStatus FSWalkTree(const FSRef *root, const FSWalkOptions &options, FSWalkTotals *totals)
{
    if (!root || !totals)
        return paramErr;
    *totals = FSWalkTotals();
    if (!root->parent && root->path.isEmpty())
        return paramErr;
    const int fd = openRefFolder(*root);
    if (fd < 0)
        return statusForErrno(-fd);
    auto *top = new (std::nothrow) WalkNode;
    if (!top) {
        ::close(fd);
        return memFullErr;
    }
    TreeWalk(options, fd).run(top, *totals);
    ::close(fd);
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
