#include "ZVAuthentication.h"

#include <QProcess>
#include <unistd.h>

ZVAuthentication *ZVAuthentication::sharedInstance()
{
    static ZVAuthentication *instance = new ZVAuthentication;
    return instance;
}

ZVAuthentication::ZVAuthentication() = default;

ZVAuthentication::~ZVAuthentication() { deauthenticate(); }

// Until the administrator dialog is in place, only a process running as root holds rights.
bool ZVAuthentication::isAuthenticated(const QStringList &entries)
{
    if (entries.isEmpty())
        return false;
    m_rightsHeld = geteuid() == 0;
    return m_rightsHeld;
}

bool ZVAuthentication::fetchPassword(const QStringList &entries)
{
    return !entries.isEmpty() && geteuid() == 0;
}

bool ZVAuthentication::authenticate(const QStringList &entries)
{
    if (isAuthenticated(entries))
        return true;
    fetchPassword(entries);
    return isAuthenticated(entries);
}

void ZVAuthentication::deauthenticate() { m_rightsHeld = false; }

bool ZVAuthentication::executeCommandWithArgs(const QString &tool, const QStringList &args)
{
    if (!authenticate({tool}))
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, args.mid(0, 19));
    if (!process.waitForStarted())
        return false;
    process.waitForFinished(-1);
    return true;
}

bool ZVAuthentication::unloadLaunchctlProcess(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

QList<qint32> ZVAuthentication::getAllProcessIDsWithName(const QString &name)
{
    Q_UNUSED(name);
    return {};
}

qint32 ZVAuthentication::getPID(const QString &name)
{
    Q_UNUSED(name);
    return 0;
}

bool ZVAuthentication::killProcess(const QString &name)
{
    Q_UNUSED(name);
    return true;
}

bool ZVAuthentication::killAllProcessWithName(const QString &name)
{
    Q_UNUSED(name);
    return false;
}

bool ZVAuthentication::isApplicationLaunched(const QString &name)
{
    Q_UNUSED(name);
    return false;
}
