#include "SudoCredential_p.h"

#include "AuthorizationProcess_p.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// MSG_NOSIGNAL: a sudo that has already gone must not kill this process with SIGPIPE.
void sendAll(int fd, const char *bytes, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = send(fd, bytes, size_t(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        size -= n;
    }
}

} // namespace

bool SudoCredential::isAvailable() { return access(sudoPath(), X_OK) == 0; }

bool SudoCredential::validateWithoutPassword()
{
    const char *const argv[] = {sudoPath(), "-n", "-v", nullptr};
    return AuthorizationProcess::run(argv) == 0;
}

void SudoCredential::invalidate()
{
    const char *const argv[] = {sudoPath(), "-k", nullptr};
    AuthorizationProcess::run(argv);
}

SudoCredential::SudoCredential(QByteArray &password)
{
    int input[2] = {-1, -1};
    int errors[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) == 0
        && pipe2(errors, O_CLOEXEC) == 0) {
        const char *const argv[] = {sudoPath(), "-S", "-v", nullptr};
        m_pid = AuthorizationProcess::spawn(argv, AuthorizationProcess::plainEnvironment(),
            input[0], errors[1], errors[1]);
    }
    if (input[0] >= 0)
        close(input[0]);
    if (errors[1] >= 0)
        close(errors[1]);
    m_errorFd = errors[0];
    if (m_errorFd >= 0)
        fcntl(m_errorFd, F_SETFL, O_NONBLOCK);
    if (m_pid > 0) {
        // One line fits the socket's buffer: this never blocks. sudo reads one attempt; at
        // the end of its input it gives up instead of asking again.
        sendAll(input[1], password.constData(), password.size());
        sendAll(input[1], "\n", 1);
    }
    if (input[1] >= 0)
        close(input[1]);
    // explicit_bzero: the compiler may not drop it as a dead store.
    if (!password.isEmpty())
        explicit_bzero(password.data(), size_t(password.size()));
    password.clear();
    m_result = m_pid > 0 ? Result::Running : Result::Failed;
}

SudoCredential::~SudoCredential()
{
    if (m_result == Result::Running && m_pid > 0) {
        kill(m_pid, SIGTERM);
        AuthorizationProcess::reapLater(m_pid);
    }
    if (m_errorFd >= 0)
        close(m_errorFd);
}

SudoCredential::Result SudoCredential::poll()
{
    if (m_result != Result::Running)
        return m_result;
    char buffer[512];
    ssize_t n;
    while ((n = read(m_errorFd, buffer, sizeof buffer)) > 0)
        if (m_errorText.size() < 16384)
            m_errorText.append(buffer, n);
    int status = 0;
    const pid_t got = waitpid(m_pid, &status, WNOHANG);
    if (got == 0)
        return Result::Running;
    while ((n = read(m_errorFd, buffer, sizeof buffer)) > 0)
        if (m_errorText.size() < 16384)
            m_errorText.append(buffer, n);
    if (got == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        m_result = Result::Accepted;
    else if (got != m_pid)
        m_result = Result::Failed;
    // sudo's own words (in the C locale): a user the rules do not name at all.
    else if (m_errorText.contains("may not run sudo") || m_errorText.contains("not in the sudoers")
        || m_errorText.contains("is not allowed to"))
        m_result = Result::NotPermitted;
    else
        m_result = Result::WrongPassword;
    return m_result;
}
