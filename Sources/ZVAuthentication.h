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

    // The names go into shell command lines as they are: quoted for grep in the listings,
    // unquoted in killProcess's scratch listing, and grep reads them as patterns. They are
    // meant to be plain program names; a name with blanks is never stopped by killProcess.

    // The ids of the processes whose line of "/bin/ps -axwwopid,command,user" holds NAME,
    // in listing order, without the grep pipeline's own lines; empty when none (or when the
    // listing holds a byte outside ASCII). procps cuts that listing's command column at 27
    // characters, so a name standing further right is missed.
    QList<qint32> getAllProcessIDsWithName(const QString &name);
    // The id on the first line of "/bin/ps -axwwopid,command" holding NAME; 0 when there is
    // none or that line belongs to the grep pipeline.
    qint32 getPID(const QString &name);
    // Stops the running instances of NAME one per pass with a privileged "/bin/kill" "-9",
    // counting the instances in a scratch listing written to the configured
    // "UninstallProcessInstanceCommandOutputFilePath" (removed afterwards). False only when
    // the last pass's kill was refused or could not be started.
    bool killProcess(const QString &name);
    // Stops every listed instance of NAME (getAllProcessIDsWithName) with a privileged
    // "/bin/kill" "-9" each. True when the rights are held and every kill was run, also when
    // nothing runs under the name; false when the rights are refused (then nothing is
    // signalled) or a kill could not be run (the other ids are still tried).
    bool killAllProcessWithName(const QString &name);
    // True when a running application's "NSApplicationName" equals NAME exactly (see
    // NSWorkspace::launchedApplications for what counts as an application on Linux).
    bool isApplicationLaunched(const QString &name);

private:
    bool m_rightsHeld = false;
};
