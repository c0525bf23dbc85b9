// The console user through the dynamic store. On Linux the console is seat 0: its user is
// the owner of the seat's active session as logind records it under /run/systemd, or, on a
// machine without logind, the most recent live login on a local terminal or display in utmp.
#pragma once

#include <QString>
#include <sys/types.h>

struct __SCDynamicStore;
using SCDynamicStoreRef = __SCDynamicStore *;

// The console user's short name, or a null QString when nobody is logged in at the console.
// STORE is ignored (pass nullptr, as the Mac allows). When a user is found, *UID and *GID
// (each may be null) receive the user's id and primary group id (the group is (gid_t)-1 when
// the account database does not know the user); otherwise they are left untouched.
QString SCDynamicStoreCopyConsoleUser(SCDynamicStoreRef store, uid_t *uid, gid_t *gid);

// The answer from the given state: RUN_SYSTEMD_DIR is logind's runtime folder (normally
// "/run/systemd"), UTMP_PATH the utmp file (normally "/var/run/utmp"). When RUN_SYSTEMD_DIR holds
// seats/seat0, logind decides alone: the session named by its ACTIVE entry, whose state file
// sessions/<id> gives USER and UID. Otherwise the last USER_PROCESS entry of utmp whose line
// is "console", "tty<n>" or ":<n>" (a local display) and whose process still exists.
QString SCDynamicStoreCopyConsoleUserFrom(const QString &runSystemdDir, const QString &utmpPath,
                                          uid_t *uid, gid_t *gid);
