// ZVAuthorizationAgent: the authentication agent that the uninstaller starts when no agent of
// the session answers the polkit authority (a bare X session, a terminal, a container).
//
//   ZVAuthorizationAgent --process PID [--terminal]
//
// Registers for the process PID (which must belong to the same user), then writes "ready" and
// a newline on its standard output. Asks in a window when there is a display and --terminal is
// not given, otherwise on the controlling terminal. Runs until its standard input ends (the
// uninstaller keeps it open while it may need the agent). Exit status: 0 after the end of its
// input, 1 when the authority refuses the registration, 2 on bad arguments or when there is
// neither a display nor a terminal to ask on (one line on standard error says so).

#include "AgentListener.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

int main(int argc, char *argv[])
{
    pid_t pid = 0;
    bool terminal = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--process") == 0 && i + 1 < argc)
            pid = pid_t(std::atol(argv[++i]));
        else if (std::strcmp(argv[i], "--terminal") == 0)
            terminal = true;
        else
            pid = 0, i = argc;
    }
    if (pid <= 0) {
        std::fputs("usage: ZVAuthorizationAgent --process PID [--terminal]\n", stderr);
        return 2;
    }
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    if (!display)
        terminal = true;
    if (terminal) {
        const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (tty < 0) {
            std::fputs("ZVAuthorizationAgent: an administrator's password is needed, but there is "
                       "neither a display nor a terminal to ask for it on\n", stderr);
            return 2;
        }
        close(tty);
    }

    std::unique_ptr<QCoreApplication> app(terminal ? new QCoreApplication(argc, argv)
                                                   : new QApplication(argc, argv));
    QCoreApplication::setQuitLockEnabled(false);
    QString error;
    if (!AgentListener::registerForProcess(pid,
            terminal ? AgentListener::Prompt::Terminal : AgentListener::Prompt::Window, &error)) {
        std::fprintf(stderr, "ZVAuthorizationAgent: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return app->exec();
}
