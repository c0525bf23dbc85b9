#include "Processes_p.h"

#include "Files.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QMap>
#include <cstring>

namespace {

const QString kBusNamePrefix = QStringLiteral("org.zvuninstaller.AppleEvents.");

struct Registered {
    OSType signature;
    QString connection; // the owner's unique name
};

bool signatureOfBusName(const QString &name, OSType *signature)
{
    const QByteArray rest = name.mid(kBusNamePrefix.size()).toLatin1();
    OSType candidate = 0;
    if (rest.size() == 4) {
        for (const char c : rest)
            candidate = (candidate << 8) | quint8(c);
    } else if (rest.size() == 9) {
        candidate = OSType(rest.mid(1).toUInt(nullptr, 16));
    }
    // Only the one spelling ProcessBusNameForSignature gives counts.
    *signature = candidate;
    return name.startsWith(kBusNamePrefix) && ProcessBusNameForSignature(candidate) == name;
}

// The live registered processes, by process id, from the names on the bus. A process that
// owns several such names counts under the first of them.
QMap<pid_t, Registered> registeredProcesses()
{
    QMap<pid_t, Registered> found;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface *daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (!daemon)
        return found;
    const QDBusReply<QStringList> names = daemon->registeredServiceNames();
    if (!names.isValid())
        return found;
    for (const QString &name : names.value()) {
        OSType signature = 0;
        if (!signatureOfBusName(name, &signature))
            continue;
        const QDBusReply<QString> owner = daemon->serviceOwner(name);
        const QDBusReply<uint> pid = daemon->servicePid(name);
        if (owner.isValid() && pid.isValid() && pid.value() > 0 && !found.contains(pid_t(pid.value())))
            found.insert(pid_t(pid.value()), Registered{signature, owner.value()});
    }
    return found;
}

} // namespace

QString ProcessBusNameForSignature(OSType signature)
{
    const char chars[4] = {char(signature >> 24), char(signature >> 16), char(signature >> 8), char(signature)};
    bool plain = !(chars[0] >= '0' && chars[0] <= '9');
    for (const char c : chars)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
    return kBusNamePrefix
        + (plain ? QString::fromLatin1(chars, 4)
                 : QStringLiteral("x%1").arg(signature, 8, 16, QLatin1Char('0')));
}

QString ProcessBusConnectionForPSN(const ProcessSerialNumber &PSN)
{
    if (PSN.highLongOfPSN != 0)
        return QString();
    const QMap<pid_t, Registered> processes = registeredProcesses();
    const auto it = processes.constFind(pid_t(PSN.lowLongOfPSN));
    return it == processes.constEnd() ? QString() : it->connection;
}

OSErr GetNextProcess(ProcessSerialNumber *PSN)
{
    if (!PSN)
        return paramErr;
    if (PSN->highLongOfPSN != 0)
        return procNotFound;
    const QMap<pid_t, Registered> processes = registeredProcesses();
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
    const QMap<pid_t, Registered> processes = registeredProcesses();
    if (!processes.contains(pid))
        return procNotFound;
    info->processNumber = *PSN;
    info->processType = FOUR_CHAR_CODE("APPL");
    info->processSignature = processes.value(pid).signature;
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
