// Helpers for the login-item tests: a private session bus, the user's folders in a temp
// folder, and the System Events agent found, stopped and resumed through the Process Manager.
#pragma once

#include "Processes_p.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

namespace LoginItemsTestAgent {

inline UInt32 agentPid()
{
    ProcessSerialNumber psn{0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) {
        ProcessInfoRec info{};
        info.processInfoLength = sizeof(info);
        if (GetProcessInformation(&psn, &info) == noErr && info.processSignature == FOUR_CHAR_CODE("sevs"))
            return psn.lowLongOfPSN;
    }
    return 0;
}

// Ends the agent (resuming it first, should a test have stopped it); true when it is gone.
inline bool stopAgent()
{
    const UInt32 pid = agentPid();
    if (pid == 0)
        return true;
    ::kill(pid_t(pid), SIGCONT);
    ::kill(pid_t(pid), SIGTERM);
    QElapsedTimer clock;
    clock.start();
    while (agentPid() == pid && clock.elapsed() < 10000)
        QThread::msleep(20);
    if (agentPid() == pid) {
        ::kill(pid_t(pid), SIGKILL);
        return false;
    }
    return true;
}

// Points XDG_CONFIG_HOME, XDG_RUNTIME_DIR and HOME into ROOT, so that nothing of the real
// user is touched and the agent a test starts serves only the test.
inline void useFoldersIn(const QString &root)
{
    for (const char *name : {"config", "runtime", "home"})
        QDir(root).mkpath(QLatin1String(name));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + QStringLiteral("/runtime")));
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
}

// A session bus of the test's own (dbus-daemon --session, or with a configuration open to
// every user), in a folder that every user may enter, with its service folder
// <folder>/share/dbus-1/services. The daemon gets the test's environment as it is when the
// bus starts (what the agents it starts see). Ended with the object.
class PrivateBus {
public:
    QString address;
    qint64 pid = 0;

    bool start(bool openToEveryone = false)
    {
        if (!m_folder.isValid() || !QFile::setPermissions(m_folder.path(), QFile::ReadOwner | QFile::WriteOwner
                | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther) || !QDir().mkpath(serviceFolder()))
            return false;
        QStringList args{QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1"), QStringLiteral("--fork"),
                         QStringLiteral("--address=unix:dir=") + m_folder.path()};
        if (openToEveryone) {
            const QString config = m_folder.path() + QStringLiteral("/open.conf");
            TestSupport::writeFile(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig><type>session</type>"
                "<listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth><servicedir>" + QFile::encodeName(serviceFolder()) + "</servicedir>"
                "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                "</policy></busconfig>\n");
            args << QStringLiteral("--config-file=") + config;
        } else {
            args << QStringLiteral("--session");
        }
        QProcess daemon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_DIRS"), m_folder.path() + QStringLiteral("/share"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.path() + QStringLiteral("/share"));
        daemon.setProcessEnvironment(env);
        daemon.start(QStringLiteral("dbus-daemon"), args);
        if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0)
            return false;
        const QList<QByteArray> lines = daemon.readAllStandardOutput().trimmed().split('\n');
        if (lines.size() != 2)
            return false;
        address = QString::fromUtf8(lines.at(0));
        pid = lines.at(1).toLongLong();
        return pid > 0;
    }
    // Makes this bus the test program's session bus; before anything has talked to a bus.
    void useAsSessionBus() const { qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8()); }

    // Puts the build's service file of System Events into the service folder, or takes it
    // out, and has the daemon read its folders again.
    bool setActivation(bool on) const
    {
        const QString name = QStringLiteral("/org.zvuninstaller.AppleEvents.sevs.service");
        QFile::remove(serviceFolder() + name);
        if (on && !QFile::copy(TestSupport::binaryDir() + QStringLiteral("/share/dbus-1/services") + name,
                               serviceFolder() + name))
            return false;
        const QDBusMessage reload = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
        return reload.type() == QDBusMessage::ReplyMessage;
    }

    ~PrivateBus()
    {
        if (pid > 0)
            ::kill(pid_t(pid), SIGTERM);
    }

private:
    QTemporaryDir m_folder;
    QString serviceFolder() const { return m_folder.path() + QStringLiteral("/share/dbus-1/services"); }
};

// Ends the agent when the test program ends, even after a failed check.
struct AgentGuard {
    ~AgentGuard() { stopAgent(); }
};

} // namespace LoginItemsTestAgent
