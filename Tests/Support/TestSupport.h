// Small helpers shared by the test programs.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QtGlobal>

namespace TestSupport {

// The build folder (where screenshots and other test products go) and the source folder.
inline QString binaryDir() { return qEnvironmentVariable("ZV_BINARY_DIR", QDir::currentPath()); }
inline QString sourceDir() { return qEnvironmentVariable("ZV_SOURCE_DIR"); }

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

} // namespace TestSupport
