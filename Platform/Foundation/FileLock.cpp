#include "FileLock_p.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

FileLock::FileLock(const QString &path, int waitSeconds)
{
    const QByteArray encoded = QFile::encodeName(path);
    // An existing lock file is opened without O_CREAT: in a sticky folder the kernel refuses
    // O_CREAT on another user's file (protected_regular), though it may be read.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    bool nothingThere = false;
    for (int attempt = 0; attempt < 3 && m_fd < 0; ++attempt) {
        m_fd = ::open(encoded.constData(), flags);
        nothingThere = m_fd < 0 && errno == ENOENT;
        if (nothingThere)
            m_fd = ::open(encoded.constData(), flags | O_CREAT | O_EXCL, 0644);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_held = nothingThere;
        return;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
        ::fchmod(m_fd, 0644);
    const QDeadlineTimer deadline(qint64(qMax(0, waitSeconds)) * 1000);
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(qMin<qint64>(100, deadline.remainingTime())));
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
