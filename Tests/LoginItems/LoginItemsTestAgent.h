// Helpers for the login-item tests: the user's folders in a temp folder, and the System
// Events agent found, stopped and resumed through the Process Manager.
#pragma once

#include "Processes_p.h"

#include <QDir>
#include <QElapsedTimer>
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

// Ends the agent when the test program ends, even after a failed check.
struct AgentGuard {
    ~AgentGuard() { stopAgent(); }
};

} // namespace LoginItemsTestAgent
