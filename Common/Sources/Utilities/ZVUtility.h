// Class-level operations shared by the product's programs: console, version and file
// operations, size texts, server listing parsing and the remote checklist, local sizes and
// exclusions, volumes and snapshot folders, and small predicates. Main thread only unless an
// operation says otherwise.
#pragma once

#include "zvcommon_export.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

class ZVCOMMON_EXPORT ZVUtility {
public:
    ZVUtility() = delete;

    // ----------------------------------------------------------------------------------
    // Console, version and file operations
    // ----------------------------------------------------------------------------------

    // Runs "rm -rf \"PATH\"" through the shell, without privileges, when something exists at
    // the path, following symbolic links (a dangling link is left alone); runs nothing otherwise. The path goes into
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

    // All size texts are pure: no locale (the decimal separator is always a point), no state.
    // A "quotient" below is the exact decimal value of the size divided by the divisor,
    // rounded once to the stated number of fractional digits, then written without trailing
    // fractional zeros and without a trailing point (1.5, 2, 0.25).

    // "0 bytes" when absent; up to 1023 "N bytes"; then "Q KB" (÷1024), "Q MB" (÷1048576)
    // from 1048576, "Q GB" (÷1073741824) from 1073741824. One digit, rounded up (1025 gives
    // "1.1 KB", 1048575 gives "1024 KB").
    static QString formatedFileSizeAsString(SizeNumber size);

    // "0 bytes" when absent; up to 1023 "N bytes"; 1024 to 1048575 "Q KB" (÷1024). From
    // 1048576 on, the whole mebibytes m (the size as a double times 2^-20, truncated) decide
    // whether thousand-based divisors apply (m a multiple of 1000):
    //   1048576 ... 1073741823       "Q MB"  ÷1048576        or ÷1024000
    //   1073741824 ... 1073741823999 "Q GB"  ÷1073741824     or ÷1048576000
    //   1073741824000 and above      "Q TB"  ÷1073741824000  or ÷1048576000000
    // One digit, plain rounding (a tie goes up): 1025 gives "1 KB", 5242880000 "5 GB".
    // The double is used on purpose: for sizes beyond 2^53 it may round m to a multiple of
    // 1000 where the exact quotient would not be one, and the texts keep that behaviour.
    static QString formatedFileSizeAsStringWithDecimalTruncated(SizeNumber size);

    // The size in bits: "1 bytes" when absent; b = size × 8, and a zero size counts as 51200
    // bits ("50 Kb"). Up to 1023 "N bytes" (N the bit count); then "Q Kb" (÷1024), "Q Mb"
    // (÷1048576) from 1048576, "Q Gb" (÷1073741824) from 1073741824. Two digits, plain
    // rounding. Sizes of 2^61 bytes and more have a bit count beyond 64 bits: it is computed
    // exactly in 128 bits and shown in Gb (2^64 - 1 bytes give "137438953472 Gb"), never
    // wrapped around to a small count.
    static QString formatedFileSizeInBits(SizeNumber size);

    // Double precision, always two decimals: "%.0lf bytes" below 1024, then "%.2lf KB",
    // "%.2lf MB", "%.2lf GB" (÷1024, ÷1048576, ÷1073741824) with the C library's rounding of
    // the double (1536 gives "1.50 KB"). An absent size reads as 0 ("0 bytes").
    static QString formatedFileSizeForOutlineView(SizeNumber size);

    // A new size number holding the argument's value; an absent size gives one holding 0.
    static SizeNumber formatedFileSize(SizeNumber size);

    // "hh:mm:ss": each value from 0 to 9 gets one leading zero, any other value (negative,
    // 10 and more) is written plainly; no carrying (75 seconds stay 75).
    static QString timeDisplayFormatHourMinuteSeconds(qint32 hour, qint32 minute, qint32 seconds);



    // ----------------------------------------------------------------------------------
    // Server listings and the remote checklist
    // ----------------------------------------------------------------------------------

    // The backup server's listing output becomes file entries: QVariantMap from key to
    // QString with "filePath" (the name without its folder), "fileSize",
    // "fileModificationDate" and, for the bracketed folder listing, "Version"; a key is
    // missing when the line gave no value. A list of entries is a QVariantList of such maps.
    // Values are the text cut from the output, never converted.
    //
    // The remote checklist is process-wide and unsynchronised (one thread at a time): for a
    // remote path ("/NAME" in the folder "/", "FOLDER/NAME" elsewhere) whether it is a
    // "directory" or "not directory", and the size text the server reported. Its two tables
    // come into being with the first collect operation or setDirNodeSizeForFileWithParentFile
    // and then live, only ever added to, until the process ends.
    //
    // A bracketed line is cut at every "]" into pieces (the text after the last "]" is one
    // more piece). A piece's value is its text behind its first "[" (the whole piece without
    // one). A name holding "]" spans several pieces and is rebuilt as the value of its first
    // piece followed by "]PIECE" for each further piece, which gives back the line's text.
    // Nothing here reads outside a line's pieces, whatever the text.

    // The record listing: records cut at "||"; in each, the text between the first and the
    // second "//" holds "relative path|size|date|type" (exactly four fields, else the record
    // is skipped). Remote path "/PATH", name its last component. Hidden names (leading ".")
    // are skipped unless the user default "ShowHiddenFilesKey " is true; "filelist_final.ldb",
    // "filelist.ldb", "Encrypted_Data", "backup_restore_logs_do_not_delete" and "*.idxlist"
    // are always skipped. A type beginning with "4" is a directory. Replaces and returns the
    // server file list. The user name is not used.
    static QVariantList collectServerFilesForUser(const QString &listing, const QString &user);

    // The bracketed folder listing of FOLDER: one line per item, at least six pieces:
    // [type][size][version][date][name...]; only types beginning with "d" or "-" give an
    // entry. A name holding "/" is replaced by its second "/"-component; hidden names,
    // "backup_restore_logs_do_not_delete" and "*.idxlist" are left out. The date is taken when
    // the line is longer than 23 characters. Returns a new list; the server file list stays.
    static QVariantList collectORXServerFilesInFile(const QString &folder, const QString &listing);

    // The fixed-column listing of FOLDER from a property-list file holding an array of lines
    // (elements that are not texts are passed over; a missing, unreadable or damaged file, or
    // one whose root is not an array, gives an empty list). A line containing
    // "/BackUp_nightly." is a snapshot folder named by its second "/"-piece up to a double
    // quote, with " " as size and date. Other lines count when they begin with "d" or "-" and
    // are longer than 43 characters: size at columns 11-22 (10-22 for the checklist), date at
    // 23-41, name from 43; hidden names are skipped. Replaces and returns the server file
    // list; the flag changes nothing.
    static QVariantList collectServerFilesInFileIsSnapshotEnabled(const QString &folder, const QString &plistPath,
                                                                  bool isSnapshotEnabled);

    // Records one remote item under PARENT/NAME: its size text, and "directory" when the node
    // type begins with "d", "0" or "D" ("not directory" otherwise).
    static void setDirNodeSizeForFileWithParentFile(const QString &nodeType, const QString &size,
                                                    const QString &name, const QString &parent);

    // A search result line [date][size][version][-][name...], at least five pieces; fewer set
    // nothing. Each out-parameter may be null and is written only when it gets a value.
    static void parsedEntriesForOutputInfoSearch1FileSizeFilePathFileModifiedDateVersion1(
        const QString &line, QString *fileSize, QString *filePath, QString *fileModifiedDate, QString *version1);

    // A search result line of at least five pieces, in one of two layouts:
    //  - with an ORX user marker (forORXUser valid, whatever it holds):
    //    [permission][size][version 1][date][-][name...]. A line of exactly five pieces has no
    //    name piece: permission, size, version 1 and date are set, the path is not.
    //  - without one: [permission][size][date][name...].
    // The fifth piece of the marker layout is read by no one, and version2 is never written:
    // the server puts nothing there that the product uses. When both a size and a path were
    // produced and the checklist exists, the size is recorded under the path as parsed.
    // Out-parameters may be null and are written only when they get a value.
    static void parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDateVersion1FilePermissionVersion2ForORXUser(
        const QString &line, QString *fileSize, QString *filePath, QString *fileModifiedDate, QString *version1,
        QString *filePermission, QString *version2, const QVariant &forORXUser);

    // A space-separated line (cut at every single space; runs give empty tokens, which are
    // not counted): the 2nd non-empty token is the size, the 3rd the date, and the path runs
    // from the 5th non-empty token to the end, spacing inside it kept. Whatever is not
    // reached is left as it was.
    static void parsedEntriesForOutputInfoSearchFileSizeFilePathFileModifiedDate(
        const QString &line, QString &fileSize, QString &filePath, QString &fileModifiedDate);

    // The same cut: the 2nd non-empty token is the size; the path is what follows the 4th
    // non-empty token and its one separating space (further spaces stay at the front), or the
    // whole line when there are fewer than four. The path is always written.
    static void parsedEntriesForInfoFileSizeFilePath(const QString &line, QString &fileSize, QString &filePath);

    // A verification error "[..] [..] [PATH] [..] [..]": cut at every "]", empty pieces
    // dropped; with five pieces or more the path is the third one behind its first "[".
    // filePath may be null; it is written only when a path was found.
    static void parseErrorForVerificationFailedFile(const QString &error, QString *filePath);

    // The index, in UTF-16 units, of the first CHARACTER in TEXT; -1 when there is none.
    static qint32 LocateCharecterInChar(const QString &text, QChar character);

    // The checklist accessors. None creates the checklist: before it exists the setters do
    // nothing, remoteFileSize gives a null QString and isRemoteDirectory false.
    static void setRemoteDirectoryStateForFile(const QString &state, const QString &remotePath);
    static void setRemoteSizeForFile(const QString &size, const QString &remotePath);
    static QString remoteFileSize(const QString &remotePath);
    static bool isRemoteDirectory(const QString &remotePath);
    // Both do nothing; the checklist is never emptied.
    static void resetRemoteFileSize();
    static void printRemoteDirectoryCheckList();
    // Always none: the list is handed out by the collect operations only.
    static std::optional<QVariantList> serverFiles();



    // ----------------------------------------------------------------------------------
    // Local sizes and exclusions
    // ----------------------------------------------------------------------------------
    //
    // A volume path is "/" or one of listMountedVolumesPaths(), compared as exact text. For
    // a volume path the size operations give the volume's used space: capacity minus free
    // space (statvfs: (f_blocks - f_bfree) * f_frsize, the "Used" figure of df) instead of a
    // walk. "NSFileSize" of an entry is its st_size: for a folder the size the file system
    // reports for the folder itself, for a symbolic link the length of its target text.
    //
    // Exclusion settings (QVariantMap): user name -> the user's exclusion dictionary, plus
    // optionally "enableExcludeHiddenFilesKey" (bool). The user's dictionary holds
    // "User specified Exclusion" and "Default Exclusion", each a QVariantMap from an
    // absolute path prefix to a bool (in force or not).

    // Used space of a volume path; the size of the folder tree at PATH otherwise (every
    // non-folder item's logical size, links as themselves, hard links once per name);
    // none when PATH cannot be resolved (missing, empty, unreadable parent).
    static SizeNumber getFolderSize(const QString &path);
    // The fast walk. Sums the data and resource fork sizes of every non-folder item below
    // FOLDER. A folder that cannot be opened adds 0; a batch that fails ends that folder's
    // listing, keeping what was counted before.
    // The walk is the File Manager's tree walk (FSWalkTree, Files.h): folders are listed by a
    // worker per online CPU, joined before this returns; a depth of 10,000 levels or paths
    // beyond PATH_MAX work with no recursion and the walk's bounds on descriptors and memory.
    static quint64 fastFolderSizeAtFSRef(const struct FSRef &folder); // FSRef: Files.h
    // The slow walk: used space of a volume path; for another folder the st_size of every
    // entry below it (files, folders and links alike, links not followed), pausing 10 ms
    // after each entry; for anything else its st_size following links, 0 when missing.
    // A sub-folder that cannot be opened is counted itself but not entered. This walk and
    // the exclusion walks below are the tree walk too (one worker here, to keep the pause
    // per entry; every CPU for the others), within the same bounds.
    static SizeNumber calculateSizeOfFile(const QString &path);
    // The size of a backup-set item after USER's exclusions, as a size text.
    // "/" gives its used space minus both exclusion totals, or 0 when the totals exceed it
    // (never wraps). An excluded folder is not entered: everything below it is excluded too.
    static QString calculateSizeOfFileForUserWithExcludedDictionary(const QString &path, const QString &user,
                                                                   const QVariantMap &excludedDictionary);
    // The sizes of USER's exclusions in force under "User specified Exclusion" and
    // "Default Exclusion" respectively; 0 with an empty user name or empty settings.
    // Each path is measured on its own, so overlapping exclusions count twice.
    static SizeNumber totalSizeOfUserExclusionForUserWithExcludedDictionary(const QString &user,
                                                                            const QVariantMap &excludedDictionary);
    static SizeNumber totalSizeOfDefaultExclusionForUserWithExcludedDictionary(const QString &user,
                                                                               const QVariantMap &excludedDictionary);
    // Folders by getFolderSize, anything else by st_size (following links); missing paths
    // add nothing.
    static SizeNumber calculateTotalSizeInArray(const QStringList &paths);
    // True when a key of USERDICTIONARY's "User specified Exclusion" is a plain text prefix
    // of PATH and its value is true. An empty key excludes nothing.
    static bool shouldExcludeUserFileUserDictionary(const QString &path, const QVariantMap &userDictionary);
    // False when SETTINGS holds "enableExcludeHiddenFilesKey" false; isChildOfHiddenFolder
    // otherwise.
    static bool shouldExcludeHiddenFileUserDictionary(const QString &path, const QVariantMap &settings);
    // Whether PATH is hidden or lies inside a hidden folder. Linux has no hidden flag, so
    // the rule is the leading point: true when some component of PATH, the last one
    // included, begins with "." and is neither "." nor "..". The whole path is looked at,
    // not only the part below a walk's start.
    static bool isChildOfHiddenFolder(const QString &path);
    // Removes every path containing ";", "=", "..", "./" or "././"; the rest keep their order.
    static void filterUndeletableFiles(QStringList &paths);
    // False when some existing prefix "/a/", "/a/b/", ... of PATH is not readable by this
    // process; prefixes that do not exist are passed over. A prefix naming a file ("/a/b/c/"
    // with c a file) is judged as the file itself, so an unreadable file gives false.
    static bool hasReadPermissionForFile(const QString &path);
    // Both writable and readable by this process.
    static bool isWritableFileAtPath(const QString &path);
    // True when PATH's contents cannot be listed (missing, not a folder) or are empty.
    static bool isEmptyFolder(const QString &path);
    // Removes PATH recursively (a symbolic link itself, not its target) when it exists and
    // is neither "." nor "..".
    static void removeFolder(const QString &path);
    // False only when PATH has no file-system representation or nothing is there (fnfErr);
    // any other failure to resolve it counts as present.
    static bool isFileExistsForAutoSync(const QString &path);
    // "<home>/Library/Preferences/", with the trailing "/".
    static QString userPreferencePath();



    // ----------------------------------------------------------------------------------
    // Volumes, Time Machine and snapshot folders
    // ----------------------------------------------------------------------------------

    // "/Volumes/<name>" for each name in /Volumes that is a folder (following links), in
    // listing order; the name equal to the start-up volume's display name is listed as "/".
    static QStringList listMountedVolumesPaths();
    // The display name of "/" on Linux, first found of:
    //  1. the first line (trimmed) of the file /etc/startup-volume-name, when not empty;
    //  2. the label of the root file system: the name in /dev/disk/by-label whose device is
    //     the one "/" lives on;
    //  3. none (a null text): then no name in /Volumes stands for "/".
    static QString startupVolumeDisplayName();
    static bool isTimeMachineFolderPresent();
    // True when a volume has a "Backups.backupdb" folder and some element of BACKUPSETPATHS
    // contains "Backups.backupdb" or equals that folder's path.
    static bool isTimeMachineFolderPresentLocallyAndInBackupSet(const QStringList &backupSetPaths);
    // "<volume path>/Backups.backupdb" for each volume having that folder (so
    // "//Backups.backupdb" on the start-up volume).
    static QStringList timeMachineFolders();
    // Stable partition of file entries (QVariantMap, "filePath"): those ending with "_MAC"
    // first. Returns FILES.
    static QVariantList &sortMacFoldersInSnapshots(QVariantList &files);
    // Stable three groups: "filePath" beginning with "BackUp_nightly", then ending with
    // "_MAC", then the rest.
    static void moveSnapshotFoldersToTop(QVariantList &files);
    // The version in a snapshot folder name: "" unless NAME contains "BackUp_nightly.";
    // otherwise the second "." piece of the second "_" piece. When that second "_" piece
    // holds no "." (another "_" before "BackUp_nightly."), the result is "".
    static QString snapshotVersion(const QString &name);
    // PATH's extension (after the last "." of the last component, trailing "/" ignored),
    // lower-cased, equals some element of EXTENSIONS exactly.
    static bool isSupportedImageFileWithExtensions(const QString &path, const QStringList &extensions);
    static bool isDirectory(const QString &path);
    static bool isFileExists(const QString &path);
    // False when missing; true for a non-folder; a folder's answer is isFilePackageAtPath.
    static bool isMacDirectory(const QString &path);



    // ----------------------------------------------------------------------------------
    // Predicates
    // ----------------------------------------------------------------------------------

    // Loose e-mail check: exactly one "@", and the part behind it cut at "." gives at least
    // two pieces of which the first is not empty ("@b.c" and "a@b." pass).
    static bool isEmailID(const QString &text);
    // isEmailID, and every character one of "@", A-Z, a-z, 0-9, "-", "." and "_".
    static bool isValidEmailID(const QString &text);
    // Shell wildcard match of the whole name, ignoring case: fnmatch with FNM_CASEFOLD and no
    // other flag on the UTF-8 forms ("*" matches "/" and a leading "."). Both texts are handed
    // over as C strings, so a text holding a NUL character matches nothing; characters are read
    // by the process's LC_CTYPE as fnmatch reads them. Any non-match or error is false.
    static bool isStringMatchesPattern(const QString &name, const QString &pattern);
    // Whether WINDOW is the front one of the application's windows on screen (visible, not
    // minimised, tool tips left out). Qt tells which window is active but not how the others
    // are stacked, so the front window is the active window when it is on screen, otherwise
    // the only window on screen; with several windows on screen and none of them active the
    // order is unknown and the answer is false. No window on screen (or a null window):
    // false.
    static bool isFrontWindow(class QWidget *window);

};
