#include "AuthorizationProcess_p.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QVector>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QMutex pendingMutex;
QVector<pid_t> pendingChildren;

// Only async-signal-safe calls between fork and exec: this process runs other threads.
[[noreturn]] void execChild(const char *const argv[], const char *const envp[], int in, int out,
    int err, int errorPipe)
{
    const int wanted[3] = {in, out, err};
    for (int target = 0; target < 3; ++target) {
        const int fd = wanted[target];
        if (fd < 0)
            continue;
        if (fd == target)
            fcntl(fd, F_SETFD, 0);
        else if (dup2(fd, target) < 0)
            goto failed;
    }
    {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            sigaction(sig, &action, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
    }
    execve(argv[0], const_cast<char *const *>(argv), const_cast<char *const *>(envp));
failed:
    const int error = errno;
    [[maybe_unused]] ssize_t written = write(errorPipe, &error, sizeof error);
    _exit(127);
}

} // namespace

pid_t AuthorizationProcess::spawn(const char *const argv[], const char *const envp[], int in,
    int out, int err, int *errNumber)
{
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        if (errNumber)
            *errNumber = errno;
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0)
        execChild(argv, envp, in, out, err, errorPipe[1]);
    const int forkError = errno;
    close(errorPipe[1]);
    if (pid < 0) {
        close(errorPipe[0]);
        if (errNumber)
            *errNumber = forkError;
        return -1;
    }
    // The error pipe closes at a successful exec; a number on it means exec failed.
    int childError = 0;
    ssize_t got;
    do
        got = read(errorPipe[0], &childError, sizeof childError);
    while (got < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (got > 0) {
        waitFor(pid);
        if (errNumber)
            *errNumber = childError;
        return -1;
    }
    return pid;
}

int AuthorizationProcess::waitFor(pid_t pid)
{
    int status = 0;
    pid_t got;
    do
        got = waitpid(pid, &status, 0);
    while (got < 0 && errno == EINTR);
    if (got != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

void AuthorizationProcess::reapLater(pid_t pid)
{
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid)
        return;
    QMutexLocker lock(&pendingMutex);
    pendingChildren.append(pid);
}

void AuthorizationProcess::reapFinished()
{
    QMutexLocker lock(&pendingMutex);
    for (qsizetype i = pendingChildren.size() - 1; i >= 0; --i) {
        int status;
        const pid_t got = waitpid(pendingChildren.at(i), &status, WNOHANG);
        if (got == pendingChildren.at(i) || (got < 0 && errno == ECHILD))
            pendingChildren.removeAt(i);
    }
}

int AuthorizationProcess::run(const char *const argv[])
{
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0)
        return -1;
    const pid_t pid = spawn(argv, plainEnvironment(), devNull, devNull, devNull);
    close(devNull);
    return pid < 0 ? -1 : waitFor(pid);
}

const char *const *AuthorizationProcess::plainEnvironment()
{
    static const char *const environment[] = {"PATH=/usr/bin:/bin", "LC_ALL=C", nullptr};
    return environment;
}

QByteArray AuthorizationProcess::productProgram(const char *environmentVariable, const char *name)
{
    const QByteArray fromEnvironment = qgetenv(environmentVariable);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (QCoreApplication::instance()) {
        const QString beside =
            QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
        if (QFileInfo(beside).isExecutable())
            return QFile::encodeName(beside);
    }
    return QByteArray(ZVCOMMON_INSTALL_LIBEXECDIR "/ZVUninstaller/") + name;
}
