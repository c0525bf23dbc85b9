// Operations added to the workspace: finding processes by name and stopping them without
// privileges, and running a script file.
#pragma once

#include "zvcommon_export.h"

#include "NSWorkspace.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace ZVXExtension ZVCOMMON_EXPORT {

// The ids of the processes whose line of "/bin/ps -axwwopid,command,user" holds NAME, in
// listing order, without the grep pipeline's own lines; the listing is read as UTF-8 (empty
// when it is not valid UTF-8). procps cuts that listing's command column at 27 characters,
// so a name standing further right is missed. NAME is put in double quotes into the shell
// command line as it is and grep reads it as a pattern.
QList<qint32> getAllProcessIDsWithName(NSWorkspace &workspace, const QString &name);

// Sends the default signal (SIGTERM) to each listed process, one "/bin/kill <id>" run per id,
// waiting for each; a kill that cannot be started or waited for is skipped. Unprivileged, so
// only the caller's own processes (or all, as root) are reached.
void killAllProcessesWithName(NSWorkspace &workspace, const QString &name);

// Loads the script file at PATH and runs it. None on success; otherwise the error dictionary
// (NSAppleScriptErrorMessage, NSAppleScriptErrorNumber) of the step that failed: loading
// (a missing file gives fnfErr) or running (on Linux always errOSACantOpenComponent, as
// AppleScript is unavailable). A null or empty PATH makes no file URL and gives none,
// running nothing.
std::optional<QVariantMap> executeAppleScriptFromFile(NSWorkspace &workspace, const QString &path);

} // namespace ZVXExtension
