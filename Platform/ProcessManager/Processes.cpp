#include "Processes_p.h"

#include "Files.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A process is alive while /proc lists it in a state other than zombie or dead.
bool isAlive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return false;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X' && state != 'x';
}

// The live registered processes, by process id, with their signatures.
QMap<pid_t, OSType> registeredProcesses()
{
    QMap<pid_t, OSType> found;
    const QString folder = ProcessRegistryFolder();
    if (folder.isNull())
        return found;
    const QStringList names = QDir(folder).entryList(QDir::System | QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const QStringList parts = name.split(QLatin1Char('.'));
        if (parts.size() != 2 || parts.at(1).size() != 8)
            continue;
        bool pidOk = false, sigOk = false;
        const pid_t pid = pid_t(parts.at(0).toInt(&pidOk));
        const OSType signature = OSType(parts.at(1).toUInt(&sigOk, 16));
        if (pidOk && sigOk && pid > 0 && isAlive(pid))
            found.insert(pid, signature);
    }
    return found;
}

} // namespace

QString ProcessRegistryFolder()
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !base.startsWith(QLatin1Char('/'))) {
        // A shared folder: only one of the user's own, not reachable through a link, will do.
        base = QStringLiteral("/tmp/zv-runtime-%1").arg(::getuid());
        const QByteArray encodedBase = QFile::encodeName(base);
        if (::mkdir(encodedBase.constData(), 0700) != 0 && errno != EEXIST)
            return QString();
        struct stat st;
        if (::lstat(encodedBase.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()
            || (st.st_mode & 0077) != 0)
            return QString();
    }
    const QString folder = base + QStringLiteral("/zv-processes");
    const QByteArray encoded = QFile::encodeName(folder);
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat st;
    if (::lstat(encoded.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return QString();
    return folder;
}

QString ProcessRegistrySocketPath(pid_t pid, OSType signature)
{
    const QString folder = ProcessRegistryFolder();
    if (folder.isNull())
        return QString();
    return folder + QStringLiteral("/%1.%2").arg(pid).arg(signature, 8, 16, QLatin1Char('0'));
}

QString ProcessRegistrySocketPathForPSN(const ProcessSerialNumber &PSN)
{
    if (PSN.highLongOfPSN != 0)
        return QString();
    const QMap<pid_t, OSType> processes = registeredProcesses();
    const auto it = processes.constFind(pid_t(PSN.lowLongOfPSN));
    return it == processes.constEnd() ? QString() : ProcessRegistrySocketPath(it.key(), it.value());
}

OSErr GetNextProcess(ProcessSerialNumber *PSN)
{
    if (!PSN)
        return paramErr;
    if (PSN->highLongOfPSN != 0)
        return procNotFound;
    const QMap<pid_t, OSType> processes = registeredProcesses();
    const auto it = PSN->lowLongOfPSN == kNoProcess ? processes.constBegin()
                                                     : processes.upperBound(pid_t(PSN->lowLongOfPSN));
    if (it == processes.constEnd()) {
        *PSN = ProcessSerialNumber{0, kNoProcess};
        return procNotFound;
    }
    *PSN = ProcessSerialNumber{0, UInt32(it.key())};
    return noErr;
}

OSErr GetProcessInformation(const ProcessSerialNumber *PSN, ProcessInfoRec *info)
{
    if (!PSN || !info || info->processInfoLength != sizeof(ProcessInfoRec))
        return paramErr;
    if (PSN->highLongOfPSN != 0)
        return procNotFound;
    const pid_t pid = pid_t(PSN->lowLongOfPSN);
    const QMap<pid_t, OSType> processes = registeredProcesses();
    if (!processes.contains(pid))
        return procNotFound;
    info->processNumber = *PSN;
    info->processType = FOUR_CHAR_CODE("APPL");
    info->processSignature = processes.value(pid);
    if (info->processName) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        QByteArray name = comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
        name.truncate(31);
        info->processName[0] = UInt8(name.size());
        std::memcpy(info->processName + 1, name.constData(), size_t(name.size()));
    }
    if (info->processAppRef) {
        const QByteArray exe = QStringLiteral("/proc/%1/exe").arg(pid).toUtf8();
        const OSStatus err = FSPathMakeRef(reinterpret_cast<const UInt8 *>(exe.constData()),
                                           info->processAppRef, nullptr);
        if (err != noErr)
            return OSErr(err);
    }
    return noErr;
}
