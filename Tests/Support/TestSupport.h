// Small helpers shared by the test programs: folders, files, programs run to the end, the
// configuration table and the home folders of a test.
#pragma once

#include "NSBundle_p.h"
#include "PropertyList_p.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QtGlobal>
#include <algorithm>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport {

// The build folder (where screenshots and other test products go).
inline QString binaryDir() { return qEnvironmentVariable("ZV_BINARY_DIR", QDir::currentPath()); }

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A program run to its end: exit code (-1 when it crashed or did not finish in time) and output.
struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs PROGRAM with ARGS, INPUT on its standard input, in ENV (the test's own environment when
// empty), and waits up to TIMEOUTMS; a program still running then is killed.
inline Run runProgram(const QString &program, const QStringList &args, const QByteArray &input = {},
                      const QProcessEnvironment &env = {}, int timeoutMs = 60000)
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(program, args);
    Run run;
    if (!p.waitForStarted(10000))
        return run;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
    } else if (p.exitStatus() == QProcess::NormalExit) {
        run.exitCode = p.exitCode();
    }
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

// The build's zvtool, run like runProgram.
inline QString zvtoolPath() { return binaryDir() + QStringLiteral("/bin/zvtool"); }
inline Run zvtool(const QStringList &args, const QByteArray &input = {}, const QProcessEnvironment &env = {})
{
    return runProgram(zvtoolPath(), args, input, env);
}

// Makes VALUES this test program's configuration table: written as FOLDER/Localizable.plist,
// and FOLDER made the bundle's resource folder. False when the table cannot be written.
inline bool useTable(const QString &folder, const QVariantMap &values)
{
    if (!PropertyList::writeFile(values, folder + QStringLiteral("/Localizable.plist"), PropertyList::Format::XML,
                                 false))
        return false;
    NSBundle::mainBundle().setResourcePath(folder);
    return true;
}

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR into ROOT (home, config,
// data, runtime; made here, the runtime folder private as the desktop's is), for this program
// and whatever it starts afterwards.
inline bool redirectHome(const QString &root)
{
    const struct { const char *variable, *name; } folders[] = {
        {"HOME", "home"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"}, {"XDG_RUNTIME_DIR", "runtime"}};
    for (const auto &f : folders) {
        const QString path = root + QLatin1Char('/') + QLatin1String(f.name);
        if (!QDir().mkpath(path))
            return false;
        qputenv(f.variable, QFile::encodeName(path));
    }
    return QFile::setPermissions(root + QStringLiteral("/runtime"),
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Runs WORK in a forked child, as USER (user and group id) when not 0, with RLIMIT_NOFILE set
// to its highest open descriptor plus 1 plus SPAREFDS when SPAREFDS >= 0: what WORK returns,
// or "failed" when the child does not end well.
inline QByteArray inChild(const std::function<QByteArray()> &work, int spareFds = -1, uid_t user = 0)
{
    int pipeFds[2] = {-1, -1};
    const pid_t pid = ::pipe(pipeFds) == 0 ? ::fork() : -1;
    if (pid == 0) {
        int highest = 0;
        for (const QString &fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System))
            highest = std::max(highest, fd.toInt());
        const rlimit limits{rlim_t(highest + 1 + spareFds), rlim_t(highest + 1 + spareFds)};
        if ((user && (::setgid(user) != 0 || ::setuid(user) != 0)) || (spareFds >= 0 && ::setrlimit(RLIMIT_NOFILE, &limits) != 0))
            ::_exit(3);
        const QByteArray answer = work();
        ::_exit(::write(pipeFds[1], answer.constData(), size_t(answer.size())) == answer.size() ? 0 : 3);
    }
    QByteArray answer;
    char buffer[4096];
    ::close(pipeFds[1]);
    for (ssize_t n; pid > 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? answer : "failed";
}

} // namespace TestSupport
