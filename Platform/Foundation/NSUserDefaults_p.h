// The user's defaults on Linux. Each program has a domain named after its bundle (the
// "CFBundleIdentifier" of the bundle's Info.plist, else the program's name); the domain is a
// property-list file holding one dictionary, in the user's preferences folder, the one that
// ZVUtility::userPreferencePath names:
//     <home>/Library/Preferences/<domain>.plist   (home: $HOME, as QDir::homePath gives it)
// so that the product's programs find their settings where the product looks for them, and
// the uninstall's user files can name them. XDG_CONFIG_HOME plays no part.
// A key missing from the program's domain is looked up in the global domain, the file
// ".GlobalPreferences.plist" in the same folder. Files are read anew on every lookup, so a
// change made by another process (or by hand) is seen at once; a missing or damaged file
// counts as an empty domain.
#pragma once

#include <QString>
#include <QVariant>

class NSUserDefaults {
public:
    static NSUserDefaults &standardUserDefaults();

    QString domainName() const;
    // The folder of the defaults files and the two files read.
    static QString preferencesFolder();
    QString persistentDomainPath() const;
    static QString globalDomainPath();

    // The value, or an invalid QVariant when neither domain has the key.
    QVariant objectForKey(const QString &key) const;
    // True for a true boolean, a non-zero number, and a text "YES"/"TRUE" (any case) or one
    // that starts with a non-zero integer; false for anything else, a missing key included.
    bool boolForKey(const QString &key) const;

    // Stores (or removes) the key in the program's domain file, written atomically; false
    // when the file cannot be written (the file is then unchanged).
    bool setObjectForKey(const QVariant &value, const QString &key);
    bool removeObjectForKey(const QString &key);

private:
    NSUserDefaults() = default;
};
