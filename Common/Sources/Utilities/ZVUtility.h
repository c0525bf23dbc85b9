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
    // the path; does nothing otherwise.
    static void removeFile(const QString &path);

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
    // Deep trees: the walk keeps an explicit stack of pending folders (no recursion) and reads
    // each folder completely before going into its sub-folders, so one pair of 256-item batch
    // buffers serves the whole walk; folders are opened relative to their parent's open
    // directory, so a depth of 10,000 levels or paths beyond PATH_MAX work with a bounded
    // stack and at most kFSMaxOpenFolders open directories.
    static quint64 fastFolderSizeAtFSRef(const struct FSRef &folder); // FSRef: Files.h
    // The slow walk: used space of a volume path; for another folder the st_size of every
    // entry below it (files, folders and links alike, links not followed), pausing 10 ms
    // after each entry; for anything else its st_size following links, 0 when missing.
    // A sub-folder that cannot be opened is counted itself but not entered.
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
    // process; prefixes that do not exist (a file with a trailing "/" included) are passed over.
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


};
