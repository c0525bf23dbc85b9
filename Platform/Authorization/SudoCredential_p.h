// sudo's cached credential of this process: the way the Authorization layer holds the
// administrator's right when the process does not run as root.
//
// sudo keys its credential to the terminal when this process has a controlling terminal, and
// otherwise to this process and its session: every sudo below is started directly by this
// process, never through a shell, so that they all meet the same credential.
//
// An object is one running password check ("sudo -S -v"): the password goes to sudo's
// standard input through a pipe, never to its arguments or environment, and the caller's
// bytes are overwritten as soon as they are written.
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

class SudoCredential {
public:
    enum class Result { Running, Accepted, WrongPassword, NotPermitted, Failed };

    static const char *sudoPath() { return "/usr/bin/sudo"; }
    static bool isAvailable();
    // True when sudo runs commands as root for this process without asking now: a cached
    // credential still valid (and then renewed), or a rule that needs no password.
    static bool validateWithoutPassword();
    // Drops the cached credential, so that the next sudo needs the password again.
    static void invalidate();

    // Starts checking PASSWORD; its bytes are overwritten before the constructor returns.
    explicit SudoCredential(QByteArray &password);
    // Stops a check still running.
    ~SudoCredential();
    SudoCredential(const SudoCredential &) = delete;
    SudoCredential &operator=(const SudoCredential &) = delete;

    // Polls without blocking: Running until sudo has ended, then its verdict.
    Result poll();

private:
    pid_t m_pid = -1;
    int m_errorFd = -1;
    QByteArray m_errorText;
    Result m_result = Result::Failed;
};
