// Starting and reaping the child processes of the Authorization layer (sudo and privileged
// tools) with plain fork and exec, so that the layer controls every byte a child is given:
// nothing secret is ever placed in a child's arguments or environment.
#pragma once

#include <QByteArray>
#include <sys/types.h>

class AuthorizationProcess {
public:
    // Starts ARGV[0] (an absolute path) with ARGV and ENVP. IN, OUT and ERR become the child's
    // standard input, output and error; -1 leaves this process's own. The child gets the
    // default signal dispositions and an empty signal mask. Returns the child's id, or -1 when
    // it could not be started (the reason in *ERRNUMBER when given).
    static pid_t spawn(const char *const argv[], const char *const envp[], int in, int out,
        int err, int *errNumber = nullptr);
    // Waits for PID to end; its exit status (0 to 255), or -1 when it did not exit normally.
    static int waitFor(pid_t pid);
    // Reaps PID now if it has ended, otherwise at a later reapFinished().
    static void reapLater(pid_t pid);
    // Reaps the children handed to reapLater() that have ended since.
    static void reapFinished();
    // Runs ARGV with the standard streams on /dev/null and a plain environment, and waits.
    static int run(const char *const argv[]);
    // The path of the product's program NAME: ENVIRONMENTVARIABLE when set, otherwise beside
    // the running program, otherwise the installed copy in libexec/ZVUninstaller.
    static QByteArray productProgram(const char *environmentVariable, const char *name);
    // The environment of the layer's own sudo calls: a fixed PATH and messages in English.
    static const char *const *plainEnvironment();
};
