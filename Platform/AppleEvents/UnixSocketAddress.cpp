#include "UnixSocketAddress_p.h"

#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool fill(sockaddr_un *addr, socklen_t *length, const QByteArray &path)
{
    if (path.isEmpty() || path.contains('\0') || size_t(path.size()) >= sizeof(addr->sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    addr->sun_family = AF_UNIX;
    std::memcpy(addr->sun_path, path.constData(), size_t(path.size()));
    addr->sun_path[path.size()] = '\0';
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);
    return true;
}

} // namespace

UnixSocketAddress::UnixSocketAddress(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.isEmpty() || encoded.contains('\0')) {
        errno = EINVAL;
        return;
    }
    if (size_t(encoded.size()) < sizeof(addr.sun_path)) {
        fill(&addr, &length, encoded);
        return;
    }
    const qsizetype slash = encoded.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : encoded.left(slash);
    const QByteArray name = encoded.mid(slash + 1);
    if (name.isEmpty()) {
        errno = EINVAL;
        return;
    }
    folder = ::open(folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    if (!fill(&addr, &length, "/proc/self/fd/" + QByteArray::number(folder) + '/' + name)) {
        const int saved = errno;
        ::close(folder);
        folder = -1;
        errno = saved;
    }
}

UnixSocketAddress::~UnixSocketAddress()
{
    if (folder >= 0)
        ::close(folder);
}
