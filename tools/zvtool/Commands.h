// zvtool's subcommands. Each takes the arguments after its name and returns the exit
// status: 0 on success, 1 when the work failed, 2 on a usage error (after printing a
// one-line message to stderr through usageError).
#pragma once

#include <QStringList>
#include <QTextStream>

// Prints "zvtool: MESSAGE" on stderr and returns 2.
int usageError(const QString &message);
// Standard output, UTF-8, flushed at exit.
QTextStream &out();

// One declaration per subcommand, in the order of the table in main.cpp.
int cmdVersion(const QStringList &args);
// Sizes.cpp
int cmdFolderSize(const QStringList &args);
int cmdVolumes(const QStringList &args);
