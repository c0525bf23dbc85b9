#include "Authorization_p.h"

#include "AuthorizationDialog_p.h"
#include "AuthorizationProcess_p.h"
#include "PolkitAgentProcess_p.h"
#include "PolkitAuthority_p.h"
#include "SudoCredential_p.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char **environ;

struct AuthorizationOpaqueRef {
    bool holdsRight = false;
};

namespace {

constexpr AuthorizationFlags kCopyFlags = kAuthorizationFlagInteractionAllowed
    | kAuthorizationFlagExtendRights | kAuthorizationFlagPartialRights
    | kAuthorizationFlagPreAuthorize;

AuthorizationOpaqueRef *mutableRef(AuthorizationRef ref)
{
    return const_cast<AuthorizationOpaqueRef *>(ref);
}

bool validSet(const AuthorizationItemSet *set)
{
    if (!set || (set->count > 0 && !set->items))
        return false;
    for (UInt32 i = 0; i < set->count; ++i) {
        const AuthorizationItem &item = set->items[i];
        if (!item.name || (item.valueLength > 0 && !item.value))
            return false;
    }
    return true;
}

QString currentAccount()
{
    const passwd *entry = getpwuid(getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(getuid());
}

// How this process obtains the administrator's right now: root holds it; otherwise the polkit
// authority decides when one answers on the system bus, and sudo when none does.
enum class Route { Root, Polkit, Sudo, None };

Route currentRoute()
{
    if (geteuid() == 0)
        return Route::Root;
    if (PolkitAuthority::isAvailable())
        return Route::Polkit;
    return SudoCredential::isAvailable() ? Route::Sudo : Route::None;
}

const char kPkexecPath[] = "/usr/bin/pkexec";

// Asks polkit, through a desktop agent of the session or, when none answers, through the
// product's own agent registered for this process.
OSStatus copyRightThroughPolkit(AuthorizationOpaqueRef *ref, AuthorizationFlags flags)
{
    PolkitAuthority::Result result = PolkitAuthority::check(false);
    if (result.answer == PolkitAuthority::Answer::Granted
        && (ref->holdsRight || (flags & kAuthorizationFlagExtendRights)))
        return errAuthorizationSuccess;
    if (!(flags & kAuthorizationFlagExtendRights))
        return errAuthorizationDenied;
    if (!(flags & kAuthorizationFlagInteractionAllowed))
        return errAuthorizationInteractionNotAllowed;
    result = PolkitAuthority::check(true);
    if (result.answer == PolkitAuthority::Answer::Challenge) {
        if (!PolkitAgentProcess::ensureRunning())
            return errAuthorizationInteractionNotAllowed;
        result = PolkitAuthority::check(true);
    }
    switch (result.answer) {
    case PolkitAuthority::Answer::Granted:
        return errAuthorizationSuccess;
    case PolkitAuthority::Answer::Dismissed:
        return errAuthorizationCanceled;
    default:
        return errAuthorizationDenied;
    }
}

bool canInteract()
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

AuthorizationRights *copySet(const AuthorizationRights *rights)
{
    auto *copy = new AuthorizationRights{rights->count, nullptr};
    if (rights->count == 0)
        return copy;
    copy->items = new AuthorizationItem[rights->count];
    for (UInt32 i = 0; i < rights->count; ++i) {
        const AuthorizationItem &from = rights->items[i];
        AuthorizationItem &to = copy->items[i];
        to.name = strdup(from.name);
        to.valueLength = from.valueLength;
        to.value = nullptr;
        if (from.valueLength > 0) {
            to.value = std::malloc(from.valueLength);
            std::memcpy(to.value, from.value, from.valueLength);
        }
        to.flags = from.flags;
    }
    return copy;
}

// The stream handed out by AuthorizationExecuteWithPrivileges: a socket whose closing also
// reaps the tool.
struct ToolStream {
    int fd;
    pid_t pid;
};

ssize_t streamRead(void *cookie, char *buffer, size_t size)
{
    ssize_t n;
    do
        n = recv(static_cast<ToolStream *>(cookie)->fd, buffer, size, 0);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t streamWrite(void *cookie, const char *buffer, size_t size)
{
    ssize_t n;
    do
        n = send(static_cast<ToolStream *>(cookie)->fd, buffer, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
}

int streamClose(void *cookie)
{
    auto *stream = static_cast<ToolStream *>(cookie);
    close(stream->fd);
    AuthorizationProcess::reapLater(stream->pid);
    delete stream;
    return 0;
}

bool looksExecutable(const char *path)
{
    if (path[0] != '/')
        return false;
    struct stat info;
    if (stat(path, &info) != 0)
        // A folder this account cannot search may still hold the tool for root.
        return errno == EACCES && geteuid() != 0;
    return S_ISREG(info.st_mode) && (info.st_mode & 0111) != 0;
}

// Asks sudo, through the product's password dialog; on a system with neither polkit nor sudo
// the dialog's failure is shown instead (when the person may be asked).
OSStatus copyRightThroughSudo(AuthorizationOpaqueRef *ref, const AuthorizationRights *rights,
    AuthorizationFlags flags, Route route)
{
    bool granted = false;
    if (ref->holdsRight && route == Route::Sudo) {
        // sudo may have let the credential lapse (its timeout) or another reference may have
        // destroyed it: the reference holds the right only while sudo agrees.
        granted = SudoCredential::validateWithoutPassword();
        ref->holdsRight = granted;
    }
    if (granted)
        return errAuthorizationSuccess;
    if (!(flags & kAuthorizationFlagExtendRights))
        return errAuthorizationDenied;
    if (!(flags & kAuthorizationFlagInteractionAllowed))
        return errAuthorizationInteractionNotAllowed;
    if (!canInteract())
        return route == Route::None ? errAuthorizationInternal : errAuthorizationInteractionNotAllowed;
    if (route == Route::None) {
        QMessageBox box(QMessageBox::Critical, AuthorizationDialog::tr("Administrator Rights"),
            AuthorizationDialog::unavailableMessage(), QMessageBox::Ok,
            QApplication::activeWindow());
        box.setObjectName(QStringLiteral("authorizationUnavailable"));
        box.exec();
        return errAuthorizationInternal;
    }
    // A sudoers rule that needs no password grants without asking.
    if (!SudoCredential::validateWithoutPassword()) {
        QStringList labels;
        for (UInt32 i = 0; i < rights->count; ++i) {
            const AuthorizationItem &item = rights->items[i];
            if (item.valueLength > 0)
                labels << QString::fromLocal8Bit(
                    static_cast<const char *>(item.value), qsizetype(item.valueLength));
        }
        AuthorizationDialog dialog(currentAccount(), labels, QApplication::activeWindow());
        if (dialog.exec() != QDialog::Accepted)
            return errAuthorizationCanceled;
    }
    return errAuthorizationSuccess;
}

} // namespace

OSStatus AuthorizationCreate(const AuthorizationRights *rights,
    const AuthorizationEnvironment *environment, AuthorizationFlags flags,
    AuthorizationRef *authorization)
{
    if (!authorization)
        return errAuthorizationInvalidPointer;
    if (flags & ~kCopyFlags)
        return errAuthorizationInvalidFlags;
    if (rights && !validSet(rights))
        return errAuthorizationInvalidSet;
    *authorization = new AuthorizationOpaqueRef;
    if (rights && rights->count > 0)
        return AuthorizationCopyRights(*authorization, rights, environment, flags, nullptr);
    return errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    if (flags & ~kAuthorizationFlagDestroyRights)
        return errAuthorizationInvalidFlags;
    AuthorizationOpaqueRef *ref = mutableRef(authorization);
    if ((flags & kAuthorizationFlagDestroyRights) && ref->holdsRight) {
        const Route route = currentRoute();
        if (route == Route::Polkit) {
            PolkitAuthority::revokeKeptAuthorization();
            PolkitAgentProcess::stop();
        } else if (route == Route::Sudo) {
            SudoCredential::invalidate();
        }
    }
    delete ref;
    AuthorizationProcess::reapFinished();
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights *rights,
    const AuthorizationEnvironment *, AuthorizationFlags flags,
    AuthorizationRights **authorizedRights)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    if (!validSet(rights))
        return errAuthorizationInvalidSet;
    if (flags & ~kCopyFlags)
        return errAuthorizationInvalidFlags;
    AuthorizationOpaqueRef *ref = mutableRef(authorization);

    const Route route = rights->count == 0 ? Route::Root : currentRoute();
    if (route == Route::Polkit) {
        const OSStatus status = copyRightThroughPolkit(ref, flags);
        ref->holdsRight = status == errAuthorizationSuccess;
        if (status != errAuthorizationSuccess)
            return status;
    } else if (route != Route::Root) {
        const OSStatus status = copyRightThroughSudo(ref, rights, flags, route);
        if (status != errAuthorizationSuccess)
            return status;
    }
    if (rights->count > 0)
        ref->holdsRight = true;
    if (authorizedRights)
        *authorizedRights = copySet(rights);
    return errAuthorizationSuccess;
}

OSStatus AuthorizationFreeItemSet(AuthorizationItemSet *set)
{
    if (!set)
        return errAuthorizationInvalidSet;
    for (UInt32 i = 0; i < set->count && set->items; ++i) {
        std::free(const_cast<char *>(set->items[i].name));
        std::free(set->items[i].value);
    }
    delete[] set->items;
    delete set;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char *pathToTool,
    AuthorizationFlags options, char *const *arguments, FILE **communicationsPipe)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    if (!pathToTool)
        return errAuthorizationInvalidPointer;
    if (options != kAuthorizationFlagDefaults)
        return errAuthorizationInvalidFlags;
    AuthorizationProcess::reapFinished();

    AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights rights{1, &item};
    const OSStatus status = AuthorizationCopyRights(authorization, &rights,
        kAuthorizationEmptyEnvironment,
        kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights, nullptr);
    if (status != errAuthorizationSuccess)
        return status;
    if (!looksExecutable(pathToTool))
        return errAuthorizationToolExecuteFailure;

    size_t argumentCount = 0;
    for (char *const *a = arguments; a && *a; ++a)
        ++argumentCount;
    std::vector<const char *> argv;
    argv.reserve(argumentCount + 6);
    const Route route = currentRoute();
    // Only the path that the installed action file names is covered by the kept authorization.
    const QByteArray tool = AuthorizationProcess::productProgram("ZV_PRIVILEGED_TOOL", "ZVPrivilegedTool");
    if (route == Route::Polkit) {
        // pkexec checks the action for this process, its parent: the kept authorization
        // covers it without asking again.
        argv.push_back(kPkexecPath);
        argv.push_back("--disable-internal-agent");
        argv.push_back(tool.constData());
    } else if (route != Route::Root) {
        argv.push_back(SudoCredential::sudoPath());
        argv.push_back("-n");
        argv.push_back("--");
    }
    argv.push_back(pathToTool);
    for (char *const *a = arguments; a && *a; ++a)
        argv.push_back(*a);
    argv.push_back(nullptr);

    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return errAuthorizationInternal;
    // The tool's error output goes into the stream too: the caller reads or discards it, and
    // nothing of the tool's reaches the terminal the uninstaller was started from.
    // pkexec gives the tool an environment of its own and refuses a SHELL that /etc/shells
    // does not list (an account whose shell is nologin): it gets the layer's plain one.
    const pid_t pid = AuthorizationProcess::spawn(argv.data(),
        route == Route::Polkit ? AuthorizationProcess::plainEnvironment()
                               : const_cast<const char *const *>(environ),
        ends[1], ends[1], ends[1]);
    close(ends[1]);
    if (pid < 0) {
        close(ends[0]);
        return errAuthorizationToolExecuteFailure;
    }
    if (!communicationsPipe) {
        close(ends[0]);
        AuthorizationProcess::reapLater(pid);
        return errAuthorizationSuccess;
    }
    auto *stream = new ToolStream{ends[0], pid};
    const cookie_io_functions_t functions{streamRead, streamWrite, nullptr, streamClose};
    FILE *file = fopencookie(stream, "r+", functions);
    if (!file) {
        streamClose(stream);
        return errAuthorizationInternal;
    }
    *communicationsPipe = file;
    return errAuthorizationSuccess;
}
