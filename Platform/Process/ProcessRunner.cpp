#include "ProcessRunner_p.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace ProcessRunner {

namespace {

constexpr size_t kChunkSize = 512;

// Waits for PID, retrying when a signal interrupts the wait: the raw status, -1 on failure.
int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

// Starts "/bin/sh -c COMMAND" with ACTIONS and ENVIRONMENT (null: the caller's); the shell's
// id, or -1 when it could not be started.
pid_t spawnShell(const QByteArray &command, const posix_spawn_file_actions_t *actions, char *const *environment)
{
    const char *argv[] = {"sh", "-c", command.constData(), nullptr};
    pid_t shell = -1;
    if (::posix_spawn(&shell, "/bin/sh", actions, nullptr, const_cast<char **>(argv),
                      environment ? environment : environ) != 0)
        return -1;
    return shell;
}

} // namespace

int runShell(const QByteArray &command)
{
    return std::system(command.constData());
}

int runShellQuietly(const QByteArray &command)
{
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const pid_t shell = spawnShell(command, &actions, nullptr);
    ::posix_spawn_file_actions_destroy(&actions);
    if (shell < 0)
        return -1;
    const int status = waitFor(shell);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<QByteArray> readShellOutput(const QByteArray &command, const QByteArrayList &environment)
{
    QByteArrayList variables = environment;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray variable(*entry);
        const qsizetype equals = variable.indexOf('=');
        const QByteArray prefix = variable.left(equals + 1);
        const bool replaced = equals > 0 && std::any_of(environment.cbegin(), environment.cend(),
                                                        [&](const QByteArray &v) { return v.startsWith(prefix); });
        if (!replaced)
            variables.append(variable);
    }
    std::vector<char *> pointers;
    for (QByteArray &variable : variables)
        pointers.push_back(variable.data());
    pointers.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    const pid_t shell = spawnShell(command, &actions, pointers.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    FILE *stream = shell >= 0 ? ::fdopen(ends[0], "r") : nullptr;
    if (!stream) {
        ::close(ends[0]);
        if (shell >= 0)
            waitFor(shell);
        return std::nullopt;
    }
    const QByteArray output = readChunks(stream);
    std::fclose(stream);
    waitFor(shell);
    return output;
}

QByteArray readChunks(FILE *stream)
{
    QByteArray output;
    char chunk[kChunkSize];
    for (;;) {
        const size_t count = std::fread(chunk, 1, kChunkSize, stream);
        output.append(chunk, qsizetype(count));
        if (count < kChunkSize)
            break;
    }
    return output;
}

int sendKill(qint32 id)
{
    Q_ASSERT(id > 0);
    return ::kill(pid_t(id), SIGKILL);
}

quint32 userID()
{
    return ::getuid();
}

bool isSuperUser()
{
    return ::geteuid() == 0;
}

bool isInGroup(quint32 group)
{
    if (::getegid() == gid_t(group))
        return true;
    std::vector<gid_t> groups(size_t(qMax(0, ::getgroups(0, nullptr))));
    groups.resize(size_t(qMax(0, ::getgroups(int(groups.size()), groups.data()))));
    return std::find(groups.begin(), groups.end(), gid_t(group)) != groups.end();
}

void sleepSeconds(unsigned seconds)
{
    ::sleep(seconds);
}

} // namespace ProcessRunner
