// The one object through which the uninstaller obtains administrator rights and runs tools
// with them, and finds and stops the product's processes by name.
#pragma once

#include "zvcommon_export.h"

// The authorization reference stays the platform layer's: only its opaque type is named here.
struct AuthorizationOpaqueRef;

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class ZVCOMMON_EXPORT ZVAuthentication {
public:
    // The shared object, created on first use and never released; the rights it holds are
    // destroyed (deauthenticate) when the application's event loop ends or the program exits.
    static ZVAuthentication *sharedInstance();

    ZVAuthentication();
    ~ZVAuthentication();
    ZVAuthentication(const ZVAuthentication &) = delete;
    ZVAuthentication &operator=(const ZVAuthentication &) = delete;

    // ---- Administrator rights and privileged execution ----------------------------------
    //
    // Every request asks for the right "system.privilege.admin" once per entry of ENTRIES (at
    // most the first 20); the entries only label the request. An entry is passed in its UTF-8
    // form in a 128-byte buffer: an entry longer than 127 bytes is cut to its first 127 bytes,
    // backed off to the start of a character so that no character is split. Cutting a label
    // cannot change which right is asked for, and the request is still made.
    // An empty ENTRIES asks for nothing and answers false.

    // True when the rights are granted without asking the user (creates the authorization
    // reference first when there is none, even for an empty ENTRIES).
    bool isAuthenticated(const QStringList &entries);
    // True when the rights were granted after the user was allowed to be asked (the
    // administrator dialog). Does not create the reference: false without one.
    bool fetchPassword(const QStringList &entries);
    // True when the rights are held at the end: without a dialog when they already are,
    // otherwise after asking once.
    bool authenticate(const QStringList &entries);
    // Frees the reference and destroys the rights it holds; the next request asks again.
    // Does nothing when there is no reference.
    void deauthenticate();
    // Runs TOOL as root with at most the first 19 of ARGS (none when ARGS is empty), after
    // authenticate({TOOL}), and reads its output to the end; true when it was started with
    // privileges and its output ended, whatever its exit status. Blocks until then.
    bool executeCommandWithArgs(const QString &tool, const QStringList &args);
    // Runs, through the shell, the fixed command line
    // "sudo /bin/launchctl unload  /Library/LaunchDaemons/com.quillmarsh.tavrindaemon.plist"
    // once authenticate({PATH}) holds the rights; PATH only labels the request. True when the
    // command was run (its outcome is not examined), false when the rights were refused.
    // When the rights are already held on entry the command is run as well, without a dialog,
    // as every other operation of this class proceeds when the rights are held: answering
    // false and running nothing there would contradict the result's meaning.
    // The command's own sudo is a child of the shell, not of this process, so it does not
    // share the rights held here: sudo's own rules for that shell decide whether it runs.
    bool unloadLaunchctlProcess(const QString &path);

    // ---- Processes -----------------------------------------------------------------------

    // The names go into shell command lines as they are: quoted for grep in the listings,
    // unquoted in killProcess's scratch listing, and grep reads them as patterns. They are
    // meant to be plain program names; a name with blanks is never stopped by killProcess.

    // The listings run in the C locale (ZVProcessListing::listingLocale), so that a command
    // line holding characters outside ASCII (a folder named "jürgen") still decodes; on a
    // system whose /proc hides other users' processes they run as root once the rights for
    // NAME are held (listingOutput).

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
    // The listing "ps -axww | grep NAME" is not redirected by the shell into the path (that
    // would follow a link planted there): its output is written with FileReplacement, and
    // read back without following a link. Two callers that share the path must not run at
    // once (the uninstall holds a FileLock for that).
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
    // The output of a listing COMMAND (about NAME): run with this process's rights, or, when
    // /proc hides other users' processes from them (ZVProcessListing::listingHidesOtherUsers)
    // and the rights for NAME are already held, run as root by the privileged runner (never
    // asking the user). None when it could not be started.
    std::optional<QByteArray> listingOutput(const QString &command, const QString &name);

    // NULL until the first isAuthenticated; owned here, freed only by deauthenticate.
    const AuthorizationOpaqueRef *authorizationRef = nullptr;
};
