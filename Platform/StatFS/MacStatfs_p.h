// statfs as the Mac answers it: the file system that holds a path, with the MNT_LOCAL flag.
// Linux has no such flag, so it is derived from the file system's type: network file systems
// (NFS, CIFS/SMB, 9p, AFS, Coda, Ceph, Lustre, GlusterFS...) and FUSE file systems that reach
// a network (sshfs, rclone, s3fs, davfs...) are not local; everything else (disk file
// systems, tmpfs, overlay, proc, fuseblk, ntfs-3g...) is.
#pragma once

#include <QString>
#include <QtGlobal>

constexpr quint32 MNT_LOCAL = 0x00001000;

struct MacStatfs {
    quint32 f_flags = 0;       // MNT_LOCAL or 0
    QString f_fstypename;      // the kernel's type name ("ext4", "nfs4", "fuse.sshfs", ...)
};

// Fills BUF for the file system holding PATH (a UTF-8 path). 0 on success; -1 when the path
// cannot be queried (no such file, no permission), with errno set and BUF untouched.
int macStatfs(const char *path, MacStatfs *buf);

// Whether a file system of kernel magic number MAGIC (statfs f_type) and mount type TYPENAME
// (as /proc/self/mountinfo spells it; may be empty when unknown) is local.
bool isLocalFileSystemType(quint64 magic, const QString &typeName);
