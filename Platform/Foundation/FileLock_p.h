// An exclusive lock held on a lock file (flock), for work that two processes must not do at
// once, such as two uninstalls sharing one scratch listing.
#pragma once

#include <QString>

class FileLock {
public:
    // Takes the lock on the file at PATH, creating it when missing (mode 0644, so that every
    // user who may run the work can lock it; never through a link at PATH), waiting up to
    // WAITSECONDS for another holder to let it go. The lock file is left in place afterwards:
    // removing it would let a third process lock a new file while a second one holds the old.
    FileLock(const QString &path, int waitSeconds);
    // Lets the lock go.
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // False only when another holder kept the lock for the whole wait (or a file that cannot
    // be locked stands at PATH: a link, or a file of another user that we may not open).
    // True also when no lock file can be made at all (no such folder, a folder we may not
    // write): then nothing that shares the folder can be at risk either.
    bool isHeld() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};
