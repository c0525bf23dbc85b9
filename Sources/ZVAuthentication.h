// The one object through which the uninstaller obtains administrator rights and runs tools
// with them, and finds and stops the product's processes by name.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class ZVAuthentication {
public:
    // The shared object, created on first use and never released.
    static ZVAuthentication *sharedInstance();

    ZVAuthentication();
    ~ZVAuthentication();
    ZVAuthentication(const ZVAuthentication &) = delete;
    ZVAuthentication &operator=(const ZVAuthentication &) = delete;

    // ---- Administrator rights and privileged execution ----------------------------------

    // True when the rights for the entries are granted without asking the user.
    bool isAuthenticated(const QStringList &entries);
    // True when the rights were granted after the user was allowed to be asked.
    bool fetchPassword(const QStringList &entries);
    // True when the rights are held at the end (asking the user when needed).
    bool authenticate(const QStringList &entries);
    // Gives up the rights held; the next request asks again.
    void deauthenticate();
    // Runs TOOL as root with at most the first 19 of ARGS and waits until its output has
    // ended; true when it was started and read to the end, whatever its exit status.
    bool executeCommandWithArgs(const QString &tool, const QStringList &args);
    // Runs the fixed daemon unload command line; PATH only labels the rights request.
    bool unloadLaunchctlProcess(const QString &path);

    // ---- Processes -----------------------------------------------------------------------

    QList<qint32> getAllProcessIDsWithName(const QString &name);
    qint32 getPID(const QString &name);
    bool killProcess(const QString &name);
    bool killAllProcessWithName(const QString &name);
    bool isApplicationLaunched(const QString &name);

private:
    bool m_rightsHeld = false;
};
