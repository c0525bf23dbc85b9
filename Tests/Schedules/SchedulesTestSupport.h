// Helpers shared by the Schedules tests: the fixtures folder and the Python scripts in it
// that lay out schedule list files as the Mac does and read archives independently.
#pragma once

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace SchedulesTestSupport {

inline QString fixturesDir()
{
    const QString dir = qEnvironmentVariable("SCHEDULES_FIXTURES");
    return dir.isEmpty() ? QDir::current().filePath(QStringLiteral("fixtures")) : dir;
}

inline QString fixture(const QString &name) { return QDir(fixturesDir()).filePath(name); }

// Runs python3 SCRIPT ARGS; its standard output, or a null QByteArray when it failed.
inline QByteArray runPython(const QString &script, const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("python3"), QStringList{fixture(script)} + args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("python3 %s failed: %s", qPrintable(script), p.readAllStandardError().constData());
        return QByteArray();
    }
    QByteArray out = p.readAllStandardOutput();
    if (out.isNull())
        out = QByteArray("");
    return out;
}

// Writes the Mac-laid-out schedule list of make_apple_schedules.py (VARIANT) to PATH.
inline bool makeAppleSchedules(const QString &path, const QString &variant = QStringLiteral("good"))
{
    return !runPython(QStringLiteral("make_apple_schedules.py"), {path, variant}).isNull();
}

} // namespace SchedulesTestSupport
