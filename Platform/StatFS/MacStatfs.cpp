#include "MacStatfs_p.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace {

// Kernel magic numbers (linux/magic.h and the file systems' own headers) of network file systems.
constexpr quint64 kNetworkMagics[] = {
    0x6969,      // NFS
    0x517B,      // SMB (smbfs)
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x01021997,  // 9p (v9fs)
    0x5346414F,  // AFS (kAFS)
    0x6B414653,  // AFS (kafs fs)
    0x73757245,  // Coda
    0x564C,      // NCP
    0x00C36400,  // Ceph
    0x0BD00BD0,  // Lustre
    0x47504653,  // GPFS
    0x013111A8,  // IBRIX
    0x19830326,  // FhGFS / BeeGFS
    0x7461636F,  // OCFS2 (cluster)
    0x01161970,  // GFS2 (cluster)
};
constexpr quint64 kFuseMagic = 0x65735546;

// FUSE file systems (mount type "fuse.<name>" or "fuse" with that source) that reach a network.
const QStringList &networkFuseNames()
{
    static const QStringList names{
        QStringLiteral("sshfs"), QStringLiteral("rclone"), QStringLiteral("s3fs"), QStringLiteral("gcsfuse"),
        QStringLiteral("glusterfs"), QStringLiteral("curlftpfs"), QStringLiteral("davfs"), QStringLiteral("davfs2"),
        QStringLiteral("ceph-fuse"), QStringLiteral("ceph"), QStringLiteral("smbnetfs"), QStringLiteral("goofys"),
        QStringLiteral("blobfuse"), QStringLiteral("blobfuse2"), QStringLiteral("juicefs"), QStringLiteral("nfs"),
        QStringLiteral("afpfs"), QStringLiteral("afp"), QStringLiteral("ftpfs"), QStringLiteral("webdav"),
        QStringLiteral("onedriver"), QStringLiteral("google-drive-ocamlfuse"), QStringLiteral("gvfsd-fuse"),
        QStringLiteral("lizardfs"), QStringLiteral("moosefs"), QStringLiteral("mfs"), QStringLiteral("seaweedfs"),
        QStringLiteral("beegfs"), QStringLiteral("xtreemfs"), QStringLiteral("cvmfs"), QStringLiteral("cvmfs2")};
    return names;
}

// The mount type of the mount whose device is DEV, from /proc/self/mountinfo
// (field 3 "major:minor", the type after the " - " separator).
QString mountTypeForDevice(dev_t dev)
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray wanted = QByteArray::number(major(dev)) + ':' + QByteArray::number(minor(dev));
    QString type;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3 || fields.at(2) != wanted)
            continue;
        const qsizetype dash = fields.indexOf("-");
        if (dash > 0 && dash + 1 < fields.size())
            type = QString::fromUtf8(fields.at(dash + 1)); // the last match is the mount on top
    }
    return type;
}

} // namespace

bool isLocalFileSystemType(quint64 magic, const QString &typeName)
{
    for (quint64 m : kNetworkMagics)
        if (m == magic)
            return false;
    const QString type = typeName.toLower();
    static const QStringList networkTypes{
        QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"), QStringLiteral("smb3"),
        QStringLiteral("smbfs"), QStringLiteral("9p"), QStringLiteral("afs"), QStringLiteral("coda"),
        QStringLiteral("ncpfs"), QStringLiteral("ceph"), QStringLiteral("lustre"), QStringLiteral("gpfs"),
        QStringLiteral("glusterfs"), QStringLiteral("ocfs2"), QStringLiteral("gfs2"), QStringLiteral("davfs")};
    if (networkTypes.contains(type))
        return false;
    if (magic == kFuseMagic || type.startsWith(QLatin1String("fuse."))) {
        const QString name = type.startsWith(QLatin1String("fuse.")) ? type.mid(5) : QString();
        return !networkFuseNames().contains(name);
    }
    return true;
}

int macStatfs(const char *path, MacStatfs *buf)
{
    Q_ASSERT(path && buf);
    struct statfs info {};
    if (::statfs(path, &info) != 0)
        return -1;
    QString type;
    struct stat st {};
    if (::stat(path, &st) == 0)
        type = mountTypeForDevice(st.st_dev);
    buf->f_fstypename = type;
    buf->f_flags = isLocalFileSystemType(quint64(info.f_type), type) ? MNT_LOCAL : 0;
    return 0;
}
