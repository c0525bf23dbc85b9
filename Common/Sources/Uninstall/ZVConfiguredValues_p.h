// The one description of the configured values (the keys of Localizable.plist): for every key
// its kind, how the uninstall uses the value and the steps of the uninstall that use it. The
// uninstall procedure (ZVUninstallProcedure) picks the keys of each of its steps from here,
// and the deployment check (zvtool check-deployment) judges each value by the same entry, so
// that what the check passes is what the uninstall does.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class ZVConfiguredValues {
public:
    // What the value must be.
    enum class Kind {
        DisplayText,     // shown as it is
        AbsolutePath,    // used unchanged, must be a full path
        UserPathFormat,  // one "%@" replaced by the user's short login name
        PlainFormat,     // a format without arguments: a literal "%" is written "%%"
        ProcessName,     // looked for in the process listings with ps | grep
        CommandLine,     // run through the shell
    };

    // How the uninstall uses the value, as flags.
    enum Use : unsigned {
        NoUse = 0,
        Removed = 1u << 0,        // removed with rm -rf (as root; as the user for scratch files)
        Standardized = 1u << 1,   // after formatting, "~" expanded and "." / ".." / "//" resolved
        WrittenByUser = 1u << 2,  // written with the rights of the user who runs the uninstall:
                                  // the stop-request marker, the schedule list, scratch files
        ShellRedirect = 1u << 3,  // a scratch file: written by a shell redirect into "PATH"
        Stopped = 1u << 4,        // a process name whose processes are stopped
        CommandRun = 1u << 5,     // a command line run through the shell
        Authorized = 1u << 6,     // an entry of the authorization list (step 1)
        LoginItem = 1u << 7,      // a path removed from the user's login items
        Marker = 1u << 8,         // where the stop-request marker is written
        ScheduleList = 1u << 9,   // the schedule list whose records in progress are reset
        Format = 1u << 10,        // a display text also used as a format without arguments
    };

    struct Entry {
        QString key;
        Kind kind = Kind::DisplayText;
        unsigned uses = NoUse;
        QList<int> steps;          // steps of the uninstall (1 to 32) that use the value
        QString execPathKey;       // for a process name: the key of the program's path among
                                   // the login items, which begins its command line
        bool has(Use use) const { return (uses & use) != 0; }
    };

    // The product's table, in the order in which the check reports.
    static const ZVConfiguredValues &standard();
    // The confirmation alert's message key: the text names brand Tavrin whatever the brand.
    static const QString kAlertMessageKey;

    QList<Entry> entries;

    // The entry of KEY, or null.
    const Entry *find(const QString &key) const;
    // The entries that step STEP uses with USE (any of its flags), in table order.
    QList<const Entry *> forStep(int step, unsigned use) const;
    // VALUE (the text looked up under ENTRY's key) as the uninstall acts on it: a user path
    // format gets USER for its "%@", a plain format is formatted without arguments, and a
    // standardized value is then standardized (a "~" is the home of the process's user).
    static QString asUsed(const Entry &entry, const QString &value, const QString &user);
};
