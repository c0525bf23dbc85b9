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
// check-deployment PLIST [--user NAME] [--quiet]: the safety check of a table of values;
// one "KEY: CATEGORY: explanation" line per finding, exit 0 only when there is none.
int cmdCheckDeployment(const QStringList &args);
// uninstall plan DEPLOYMENT_DIR [--json] | uninstall run DEPLOYMENT_DIR [--report FILE]
// (Uninstall.cpp): the uninstall without its window.
int cmdUninstall(const QStringList &args);
// Size and duration texts (SizeTexts.cpp).
int cmdSizeText(const QStringList &args);
int cmdTimeText(const QStringList &args);
// E-mail and pattern checks (Checks.cpp).
int cmdEmail(const QStringList &args);
int cmdMatch(const QStringList &args);
// Server listings as file entries (Listings.cpp).
int cmdListing(const QStringList &args);
// login-items list | add PATH [--hidden] | remove PATH | quit-agent
int cmdLoginItems(const QStringList &args);
// zvtool schedules show|reset FILE [--key KEY] (Schedules.cpp).
int cmdSchedules(const QStringList &args);
// Sizes.cpp
int cmdFolderSize(const QStringList &args);
int cmdVolumes(const QStringList &args);
