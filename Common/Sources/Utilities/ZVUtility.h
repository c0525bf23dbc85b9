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



    // ----------------------------------------------------------------------------------
    // Volumes, Time Machine and snapshot folders
    // ----------------------------------------------------------------------------------



    // ----------------------------------------------------------------------------------
    // Predicates
    // ----------------------------------------------------------------------------------


};
