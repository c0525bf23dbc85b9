// Class-level operations shared by the product's programs: console, version and file
// operations, size texts, server listing parsing and the remote checklist, local sizes and
// exclusions, volumes and snapshot folders, and small predicates. Main thread only unless an
// operation says otherwise.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

class ZVUtility {
public:
    ZVUtility() = delete;

    // ----------------------------------------------------------------------------------
    // Console, version and file operations
    // ----------------------------------------------------------------------------------

    // Runs "rm -rf \"PATH\"" through the shell, without privileges, when something exists at
    // the path (a dangling symbolic link counts); runs nothing otherwise. The path goes into
    // the command line as it is, inside double quotes, so the shell still reads a dollar
    // sign, backquote, backslash or double quote in it; the product's scratch paths hold none.
    static void removeFile(const QString &path);

    // The user of the most recent console login: the first line of
    // "last | grep console | awk '{print $1}'", written to the configured
    // "LastConsoleUserNameFilePath" and removed once read. "" when the shell cannot be run or
    // the file cannot be read (the file is then left in place), and "" for an empty listing.
    // Linux's last names terminals, not "console", so it finds a login only on a terminal
    // whose line holds "console".
    static QString lastConsoleUserName();

    // "major.minor.bugfix" of the Mac OS system version from Gestalt, an unreadable part
    // counting as 0: "0.0.0" on Linux unless the machine carries a Mac OS version file.
    static QString MacOSVersionWithBugfix();

    // Whether APPLICATION runs for USER, from a "sudo ps" pipeline written to the configured
    // "LogoutCommandOutputFilePath": on system versions 10.4.x with "-xwwwU", from 10.5 on
    // with "-xwwwu"; true without checking below 10.4 or when the version cannot be read
    // (always so on Linux without a Mac OS version file), when either name is null, or when
    // the shell cannot be run. Otherwise true when a line of the output holds APPLICATION
    // (the file is then removed), false when none does (the file is left in place).
    static bool isApplicationRunningForUserUser(const QString &application, const QString &user);

    // The short name of the user at the console (SCDynamicStoreCopyConsoleUser), or a null
    // QString when nobody is logged in there.
    static QString currentConsoleUserName();

    // Sends SIGKILL to process ID, without privileges: the result of kill(2) (0 or -1). An id
    // below 1 (which kill(2) would take for a process group or every process) sends nothing
    // and gives 0.
    static int killProcess(qint32 id);

    // True when KEY occurs in STRING (plain, case-sensitive); false when either is null or
    // the key is empty.
    static bool isStringContainsKeyString(const QString &string, const QString &key);



    // ----------------------------------------------------------------------------------
    // Size texts
    // ----------------------------------------------------------------------------------

    // A size number: an unsigned 64-bit byte count that may be absent.
    using SizeNumber = std::optional<quint64>;

    static QString formatedFileSizeAsString(SizeNumber size);
    // The same value as a new size number.
    static SizeNumber formatedFileSize(SizeNumber size);



    // ----------------------------------------------------------------------------------
    // Server listings and the remote checklist
    // ----------------------------------------------------------------------------------



    // ----------------------------------------------------------------------------------
    // Local sizes and exclusions
    // ----------------------------------------------------------------------------------



    // ----------------------------------------------------------------------------------
    // Volumes, Time Machine and snapshot folders
    // ----------------------------------------------------------------------------------



    // ----------------------------------------------------------------------------------
    // Predicates
    // ----------------------------------------------------------------------------------


};
