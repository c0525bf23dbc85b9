#include "LaunchServices_p.h"

#include "Files.h"
#include "NSBundle_p.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <unistd.h>

#ifndef ZVCOMMON_INSTALL_BINDIR
#define ZVCOMMON_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace {

QString programForCreator(OSType creator)
{
    switch (creator) {
    case FOUR_CHAR_CODE("sevs"):
        return QStringLiteral("SystemEvents");
    default:
        return QString();
    }
}

OSType creatorOfProgram(const QString &fileName)
{
    return fileName == QLatin1String("SystemEvents") ? FOUR_CHAR_CODE("sevs") : kLSUnknownCreator;
}

// Asks the session bus to start the program that its service file names for CREATOR's bus
// name; the serial number of the started process, or {0, 0} when the bus has no such
// service or could not start it.
ProcessSerialNumber startThroughBus(OSType creator)
{
    QDBusConnectionInterface *daemon = QDBusConnection::sessionBus().interface();
    const QString name = ProcessBusNameForSignature(creator);
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    if (creator == kLSUnknownCreator || !activatable.isValid() || !activatable.value().contains(name))
        return ProcessSerialNumber{0, 0};
    const QDBusReply<void> started = daemon->startService(name);
    const QDBusReply<uint> pid = daemon->servicePid(name);
    if (!started.isValid() || !pid.isValid())
        return ProcessSerialNumber{0, 0};
    return ProcessSerialNumber{0, pid.value()};
}

QStringList searchFolders()
{
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath();
    else
        folders << QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    folders << NSBundle::mainBundle().resourcePath() << QStringLiteral(ZVCOMMON_INSTALL_BINDIR);
    folders.removeDuplicates();
    return folders;
}

// The registered process running PROGRAM (a canonical path), or 0.
UInt32 runningInstanceOf(const QString &program)
{
    ProcessSerialNumber psn{0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) {
        if (QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(psn.lowLongOfPSN)))
                .canonicalFilePath() == program)
            return psn.lowLongOfPSN;
    }
    return 0;
}

bool isRegistered(qint64 pid)
{
    ProcessSerialNumber psn{0, UInt32(pid)};
    ProcessInfoRec info{};
    info.processInfoLength = sizeof(info);
    return GetProcessInformation(&psn, &info) == noErr;
}

bool isRunning(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 && QFileInfo::exists(QStringLiteral("/proc/%1/exe").arg(pid))
        && !QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)).isEmpty();
}

} // namespace

OSStatus LSFindApplicationForInfo(OSType inCreator, CFStringRef, CFStringRef inName,
                                  FSRef *outAppRef, CFURLRef *outAppURL)
{
    QString program = programForCreator(inCreator);
    if (program.isNull() && inCreator == kLSUnknownCreator && inName)
        program = CFBridgingToQVariant(inName).toString();
    if (program.isEmpty() || program.contains(QLatin1Char('/')))
        return kLSApplicationNotFoundErr;
    for (const QString &folder : searchFolders()) {
        const QFileInfo candidate(QDir(folder).filePath(program));
        if (!candidate.isFile() || !candidate.isExecutable())
            continue;
        const QByteArray path = QFile::encodeName(candidate.absoluteFilePath());
        FSRef ref;
        if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.constData()), &ref, nullptr) != noErr)
            continue;
        if (outAppRef)
            *outAppRef = ref;
        if (outAppURL)
            *outAppURL = CFURLCreateFromFSRef(nullptr, &ref);
        return noErr;
    }
    return kLSApplicationNotFoundErr;
}

OSStatus LSOpenApplication(const LSApplicationParameters *appParams, ProcessSerialNumber *outPSN)
{
    if (!appParams || appParams->version != 0 || !appParams->application || appParams->environment
        || appParams->argv || appParams->initialEvent)
        return paramErr;
    const QString program = QFile::decodeName(appParams->application->path);
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable())
        return kLSNoExecutableErr;
    const QString canonical = info.canonicalFilePath();
    if (!QDBusConnection::sessionBus().isConnected())
        return kLSUnknownErr; // nothing started could register

    if (!(appParams->flags & kLSLaunchNewInstance)) {
        if (const UInt32 pid = runningInstanceOf(canonical)) {
            if (outPSN)
                *outPSN = ProcessSerialNumber{0, pid};
            return noErr;
        }
    }

    const ProcessSerialNumber activated = startThroughBus(creatorOfProgram(info.fileName()));
    if (activated.lowLongOfPSN != 0) {
        if (outPSN)
            *outPSN = activated;
        return noErr;
    }

    QProcess process;
    process.setProgram(canonical);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setWorkingDirectory(QStringLiteral("/"));
    qint64 pid = 0;
    if (!process.startDetached(&pid) || pid <= 0)
        return kLSUnknownErr;

    // Wait for the registration. A program that ends at once may have found another instance
    // of itself already serving; that instance is then the result.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (isRegistered(pid)) {
            if (outPSN)
                *outPSN = ProcessSerialNumber{0, UInt32(pid)};
            return noErr;
        }
        if (!isRunning(pid)) {
            if (const UInt32 other = runningInstanceOf(canonical)) {
                if (outPSN)
                    *outPSN = ProcessSerialNumber{0, other};
                return noErr;
            }
            return kLSUnknownErr;
        }
        QThread::msleep(10);
    }
    return kLSUnknownErr;
}
