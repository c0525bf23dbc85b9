// Running shell command lines and asking about the calling process, on Linux. The shared
// classes and the uninstall procedure run their configured command lines through here and
// make no process calls of their own.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QtGlobal>
#include <cstdio>
#include <optional>

namespace ProcessRunner {

// Runs COMMAND (one line, the shell's bytes) with "/bin/sh -c", the calling program's own
// output and error streams inherited, and waits: std::system's result (the raw wait status,
// -1 when no shell could be started).
int runShell(const QByteArray &command);

// Runs COMMAND like runShell with both output streams sent to /dev/null; the calling
// program's streams are not touched, so other threads may go on writing to them. The
// command's exit status, or -1 when no shell could be started or it did not exit normally.
int runShellQuietly(const QByteArray &command);

// Runs COMMAND with "/bin/sh -c" and returns all it wrote on its output stream (its error
// stream is inherited), waiting for the shell to end. ENVIRONMENT entries ("NAME=value")
// replace the variables of the same names in the calling program's environment. None when
// the output pipe or the shell could not be made.
std::optional<QByteArray> readShellOutput(const QByteArray &command, const QByteArrayList &environment = {});

// Everything left on STREAM, read in chunks of 512 bytes until a read gives fewer bytes
// (end of stream or a read error, which ends the reading, never spins). STREAM stays open.
QByteArray readChunks(FILE *stream);

// Sends SIGKILL to process ID (ID above 0): kill(2)'s result, 0 or -1.
int sendKill(qint32 id);

// The calling process's real user id.
quint32 userID();

// Whether the calling process runs with an effective user id of 0.
bool isSuperUser();

// Whether GROUP is the calling process's effective group or one of its supplementary groups.
bool isInGroup(quint32 group);

// Pauses the calling thread for SECONDS whole seconds.
void sleepSeconds(unsigned seconds);

} // namespace ProcessRunner
