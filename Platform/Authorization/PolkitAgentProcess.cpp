#include "PolkitAgentProcess_p.h"

#include "AuthorizationProcess_p.h"

#include <QByteArray>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

pid_t g_agent = -1;
int g_input = -1;

bool readReady(int fd)
{
    QByteArray text;
    for (int waited = 0; waited < 20000 && !text.contains('\n');) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, 100);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0) {
            waited += 100;
            continue;
        }
        char buffer[64];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        text.append(buffer, n);
    }
    return text.startsWith("ready\n");
}

} // namespace

const char *PolkitAgentProcess::path()
{
    static const QByteArray found =
        AuthorizationProcess::productProgram("ZV_AUTHORIZATION_AGENT", "ZVAuthorizationAgent");
    return found.constData();
}

bool PolkitAgentProcess::ensureRunning()
{
    if (g_agent > 0) {
        if (waitpid(g_agent, nullptr, WNOHANG) == 0)
            return true;
        stop();
    }
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return false;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return false;
    }
    const QByteArray pid = QByteArray::number(getpid());
    const bool terminal = qgetenv("ZV_AUTHORIZATION_PROMPT") == "terminal";
    const char *argv[] = {path(), "--process", pid.constData(),
        terminal ? "--terminal" : nullptr, nullptr};
    // On the terminal its error output is this process's (the one line saying why it cannot
    // ask); a window's agent says nothing there, nor does polkit's password checker.
    const int quiet = terminal ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);
    g_agent = AuthorizationProcess::spawn(argv, environ, input[0], output[1], quiet);
    if (quiet >= 0)
        close(quiet);
    close(input[0]);
    close(output[1]);
    g_input = input[1];
    const bool ready = g_agent > 0 && readReady(output[0]);
    close(output[0]);
    if (!ready)
        stop();
    return ready;
}

void PolkitAgentProcess::stop()
{
    if (g_input >= 0)
        close(g_input);
    g_input = -1;
    if (g_agent > 0)
        AuthorizationProcess::reapLater(g_agent);
    g_agent = -1;
}
