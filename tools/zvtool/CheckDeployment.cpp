// zvtool check-deployment PLIST [--user NAME] [--quiet]
//
// A safety check for deployers: reads a table of values (the Localizable.plist that a
// deployment places beside the uninstaller) and reports every value that would make the
// uninstall act on the wrong thing: a key that is missing or not a string, a path that is
// not absolute where the uninstall needs one, a removal (run as root with "/bin/rm -rf")
// that would hit a system folder or a home folder, a scratch file in a world-writable
// folder, a process name that the process listings would miss or misread, an empty
// product name or command line.
//
// Output: one finding per line on stdout, "KEY: CATEGORY: explanation", in the order of
// kKeys below and, within a key, in the order of the checks. Control characters in keys
// and values are written escaped (a line feed as "\n"), so every finding is one line.
// Advice that is not a finding (where a process name must stand in its command line) goes
// to stderr as "KEY: note: ...", unless --quiet is given.
// Exit status: 0 no finding, 1 findings or an unreadable table, 2 usage error.
//
// Choices made here:
// - Every key of kKeys is required, the display texts and the alert message included: a
//   missing alert message shows the key itself, which names brand Tavrin whatever the brand.
// - "%@" stands for --user NAME (default: the user running the check) and a leading "~" for
//   that user's home from the password database, or /home/NAME when NAME has no account.
// - A path is judged by its text ("." / ".." / "//" resolved) and again with the symbolic
//   links of its existing folders resolved; the last component counts as written (rm -rf
//   removes a link, not its target) unless the path ends with "/".
// - Format errors (a "%@" count other than one, a lone "%") end a path's checks: what the
//   uninstall would act on cannot be known.
// - The 27-character limit is a finding where it can be measured (a name longer than 27, or
//   the two login-item programs, whose registered path begins their command line); for the
//   other process names it is a note on stderr, so that a clean table prints nothing on stdout.
#include "Commands.h"

#include "ZVLocalizedString.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QVariantMap>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How the uninstall uses a value.
enum class Kind {
    DisplayText,     // shown as it is
    AbsolutePath,    // used unchanged, must be a full path
    UserPathFormat,  // one "%@" replaced by the user's short login name
    PlainFormat,     // a format without arguments: a literal "%" is written "%%"
    ProcessName,     // looked for in the process listings with ps | grep
    CommandLine,     // run through the shell
};

// Further uses, as flags.
enum Use : unsigned {
    NoUse = 0,
    Removed = 1,       // removed with rm -rf (as root, or as the user for scratch files)
    Standardized = 2,  // a leading "~" is expanded, "." / ".." / "//" are resolved
    Scratch = 4,       // written by a shell redirect into "PATH", read back, removed
    Format = 8,        // a display text that is also used as a format without arguments
};

struct KeySpec {
    const char *key;
    Kind kind;
    unsigned use;
    // For a process name: the key of the program's path as registered among the login
    // items, which starts the program and so begins its command line.
    const char *execPathKey;
};

const char kAlertMessageKey[] =
    "Stop any backup operation that may be in progress and then proceed to uninstall the "
    "application.\n Are you sure that you want to completely remove Tavrin for Mac and all "
    "it's components?";

// Every key the uninstaller looks up, and how it uses the value.
const KeySpec kKeys[] = {
    {"ApplicationName", Kind::DisplayText, NoUse, nullptr},
    {"Yes", Kind::DisplayText, NoUse, nullptr},
    {"No", Kind::DisplayText, NoUse, nullptr},
    {kAlertMessageKey, Kind::DisplayText, Format, nullptr},
    {"ApplicationExecName", Kind::ProcessName, NoUse, "ApplicationExecPath"},
    {"MonitorExecName", Kind::ProcessName, NoUse, "MonitorExecPath"},
    {"DaemonExecName", Kind::ProcessName, NoUse, nullptr},
    {"WebManagementExecName", Kind::ProcessName, NoUse, nullptr},
    {"ExecuterName", Kind::ProcessName, NoUse, nullptr},
    {"STunnelName", Kind::ProcessName, NoUse, nullptr},
    {"SchedulerExecuterName", Kind::ProcessName, NoUse, nullptr},
    {"SchedulerSTunnelName", Kind::ProcessName, NoUse, nullptr},
    {"DaemonUnloadCommand", Kind::CommandLine, NoUse, nullptr},
    {"WebDaemonUnloadCommand", Kind::CommandLine, NoUse, nullptr},
    {"DaemonPlist", Kind::AbsolutePath, Removed, nullptr},
    {"WebDaemonPlist", Kind::AbsolutePath, Removed, nullptr},
    {"ApplicationsFolder", Kind::AbsolutePath, Removed, nullptr},
    {"UninstallerFilePath", Kind::AbsolutePath, NoUse, nullptr},
    {"ApplicationPreferenceFile", Kind::UserPathFormat, Removed, nullptr},
    {"MonitorUserDefaultsFile", Kind::UserPathFormat, Removed, nullptr},
    {"DaemonUserDefaultsFile", Kind::UserPathFormat, Removed, nullptr},
    {"RecieptFilePath", Kind::AbsolutePath, Removed, nullptr},
    {"ShortcutPath", Kind::UserPathFormat, Removed | Standardized, nullptr},
    {"SchedulerState", Kind::AbsolutePath, Removed, nullptr},
    {"SchedulerLoginInfo", Kind::AbsolutePath, Removed, nullptr},
    {"LoginInfo", Kind::UserPathFormat, Removed | Standardized, nullptr},
    {"ApplicationStatusPath", Kind::PlainFormat, Removed | Standardized, nullptr},
    {"SchedulerSettingsFile", Kind::AbsolutePath, NoUse, nullptr},
    {"ApplicationExecPath", Kind::AbsolutePath, NoUse, nullptr},
    {"MonitorExecPath", Kind::AbsolutePath, NoUse, nullptr},
    {"UninstallProcessInstanceCommandOutputFilePath", Kind::PlainFormat, Removed | Scratch, nullptr},
    {"LastConsoleUserNameFilePath", Kind::PlainFormat, Removed | Scratch, nullptr},
    {"LogoutCommandOutputFilePath", Kind::PlainFormat, Removed | Scratch, nullptr},
};

// Folders whose removal would take the system or everybody's data with it.
const char *const kSystemFolders[] = {
    "/", "/Applications", "/Library", "/System", "/Users", "/usr", "/etc", "/bin", "/sbin",
    "/lib", "/lib64", "/var", "/opt", "/home", "/root", "/boot", "/dev", "/proc", "/sys",
    "/run", "/tmp", "/Volumes",
};

// Folders where anybody may create files, whatever their mode says at check time.
const char *const kWorldWritableFolders[] = {"/tmp", "/var/tmp", "/dev/shm", "/run/lock", "/var/lock"};

// `ps -axwwopid,command,user` cuts its COMMAND column (not the last one) here.
constexpr int kCommandColumnWidth = 27;
// Names shorter than this are likely to occur in other programs' command lines.
constexpr int kShortestDistinctName = 4;

// Characters that the shell treats specially in the unquoted name of
// `ps -axww | grep NAME > "FILE"`, or inside the double quotes of `grep "NAME"`.
const QString kShellCharacters = QStringLiteral("'\"`\\$;&|<>()*?[]{}~#!");
// Characters that make grep read the name as a pattern rather than as text.
const QString kGrepPatternCharacters = QStringLiteral(".[]*^$\\");
// Characters that end or escape the double quotes around a scratch file's path.
const QString kDoubleQuoteCharacters = QStringLiteral("\"$`\\");

// One line of output never spans lines, whatever the table holds.
QString printable(const QString &text)
{
    QString result;
    for (const QChar c : text) {
        if (c == u'\n')
            result += QStringLiteral("\\n");
        else if (c == u'\t')
            result += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

QString quoted(const QString &text)
{
    return u'"' + printable(text) + u'"';
}

QString typeName(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: return QStringLiteral("a dictionary");
    case QMetaType::QVariantList: return QStringLiteral("an array");
    case QMetaType::Bool: return QStringLiteral("a boolean");
    case QMetaType::Double: return QStringLiteral("a real number");
    case QMetaType::QByteArray: return QStringLiteral("data");
    case QMetaType::QDateTime: return QStringLiteral("a date");
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return QStringLiteral("an integer");
    default: return QStringLiteral("a value of another kind");
    }
}

// The result of using a value as a format.
struct Formatted {
    QString text;        // with "%%" made "%" and each "%@" replaced
    int placeholders = 0;
    int lonePercent = -1; // position of the first "%" that is neither "%%" nor "%@"
};

Formatted format(const QString &value, const QString &replacement)
{
    Formatted f;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'%') {
            f.text += value[i];
            continue;
        }
        const QChar next = i + 1 < value.size() ? value[i + 1] : QChar();
        if (next == u'%') {
            f.text += u'%';
        } else if (next == u'@') {
            ++f.placeholders;
            f.text += replacement;
        } else {
            if (f.lonePercent < 0)
                f.lonePercent = int(i);
            f.text += u'%';
            continue;
        }
        ++i;
    }
    return f;
}

QString homeOf(const QString &user)
{
    const QByteArray name = user.toLocal8Bit();
    if (const passwd *pw = getpwnam(name.constData()); pw && pw->pw_dir)
        return QString::fromLocal8Bit(pw->pw_dir);
    return QString();
}

// A leading "~" or "~name" becomes that user's home folder, as path standardizing does;
// "~name" of an unknown user stays as it is.
QString expandTilde(const QString &path, const QString &user, const QString &userHome)
{
    if (!path.startsWith(u'~'))
        return path;
    qsizetype slash = path.indexOf(u'/');
    if (slash < 0)
        slash = path.size();
    const QString name = path.mid(1, slash - 1);
    const QString home = name.isEmpty() || name == user ? userHome : homeOf(name);
    return home.isEmpty() ? path : home + path.mid(slash);
}

// "." and ".." components and doubled or trailing slashes resolved by their text alone;
// ".." at the root stays at the root.
QString normalised(const QString &absolutePath)
{
    QStringList parts;
    for (const QString &part : absolutePath.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts << part;
    }
    return u'/' + parts.join(u'/');
}

// The folder that a removal of the path would really act on: the existing part of the
// path's folders with their symbolic links resolved, and the rest as written. The last
// component is not resolved (rm -rf removes a link, not what it points to) unless the path
// ends with a slash.
QString resolved(const QString &absolutePath)
{
    QStringList parts = absolutePath.split(u'/', Qt::SkipEmptyParts);
    const int keep = absolutePath.endsWith(u'/') ? 0 : 1;
    for (qsizetype n = parts.size() - keep; n > 0; --n) {
        const QString prefix = u'/' + parts.mid(0, n).join(u'/');
        const QFileInfo info(prefix);
        if (!info.exists())
            continue;
        const QString canonical = info.canonicalFilePath();
        if (canonical.isEmpty())
            break;
        return normalised(canonical + u'/' + parts.mid(n).join(u'/'));
    }
    return normalised(absolutePath);
}

bool isAncestor(const QString &folder, const QString &path)
{
    return folder == QLatin1String("/") ? path != folder
                                        : path.startsWith(folder + u'/');
}

struct Finding {
    QString category;
    QString explanation;
};

class Checker {
public:
    Checker(const QVariantMap &table, const QString &user)
        : m_table(table), m_user(user)
    {
        m_userHome = homeOf(user);
        if (m_userHome.isEmpty())
            m_userHome = QStringLiteral("/home/") + user;
        setpwent();
        while (const passwd *pw = getpwent()) {
            if (pw->pw_dir && pw->pw_dir[0] == '/')
                m_homes.insert(normalised(QString::fromLocal8Bit(pw->pw_dir)));
        }
        endpwent();
    }

    // Returns the number of findings.
    int run(bool notes)
    {
        int count = 0;
        for (const KeySpec &entry : kKeys) {
            const QString key = QString::fromUtf8(entry.key);
            const QList<Finding> findings = check(entry);
            for (const Finding &f : findings)
                out() << printable(key) << ": " << f.category << ": " << f.explanation << '\n';
            count += int(findings.size());
            const QVariant value = m_table.value(key);
            if (notes && entry.kind == Kind::ProcessName && value.typeId() == QMetaType::QString
                && !value.toString().trimmed().isEmpty()) {
                const QString line = printable(key) + QStringLiteral(": note: start the program so that ")
                    + quoted(value.toString())
                    + QStringLiteral(" stands within the first %1 characters of its command line, "
                                     "where ps cuts its COMMAND column\n").arg(kCommandColumnWidth);
                out().flush(); // keeps a terminal's lines in order
                std::fputs(line.toUtf8().constData(), stderr);
            }
        }
        return count;
    }

private:
    QList<Finding> check(const KeySpec &entry) const
    {
        const QString key = QString::fromUtf8(entry.key);
        if (!m_table.contains(key))
            return {{QStringLiteral("missing"),
                     QStringLiteral("the table lacks this key, so the uninstall uses the key text itself")}};
        const QVariant value = m_table.value(key);
        if (value.typeId() != QMetaType::QString)
            return {{QStringLiteral("not-string"), QStringLiteral("holds %1, not a string").arg(typeName(value))}};
        const QString text = value.toString();
        if (text.trimmed().isEmpty())
            return {{QStringLiteral("empty"), QStringLiteral("the value is empty or only blanks")}};

        QList<Finding> findings;
        switch (entry.kind) {
        case Kind::DisplayText:
        case Kind::CommandLine:
            if (entry.use & Format) {
                const Formatted f = format(text, QString());
                if (f.lonePercent >= 0 || f.placeholders > 0)
                    findings << lonePercent(f.lonePercent >= 0 ? f.lonePercent : int(text.indexOf(QLatin1String("%@"))));
            }
            break;
        case Kind::ProcessName:
            findings << checkProcessName(entry, text);
            break;
        case Kind::AbsolutePath:
            findings << checkPath(entry, text);
            break;
        case Kind::UserPathFormat: {
            const Formatted f = format(text, m_user);
            if (f.placeholders != 1) {
                findings << Finding{QStringLiteral("placeholder-count"),
                                    QStringLiteral("\"%@\" appears %1 times, must appear exactly once").arg(f.placeholders)};
            }
            if (f.lonePercent >= 0)
                findings << lonePercent(f.lonePercent);
            // A path whose format is wrong cannot be known; its other checks would guess.
            if (findings.isEmpty())
                findings << checkPath(entry, f.text);
            break;
        }
        case Kind::PlainFormat: {
            const Formatted f = format(text, QString());
            if (f.lonePercent >= 0 || f.placeholders > 0)
                findings << lonePercent(f.lonePercent >= 0 ? f.lonePercent : int(text.indexOf(QLatin1String("%@"))));
            else
                findings << checkPath(entry, f.text);
            break;
        }
        }
        return findings;
    }

    static Finding lonePercent(int position)
    {
        return {QStringLiteral("lone-percent"),
                QStringLiteral("the \"%\" at character %1 is a conversion without an argument; "
                               "write a literal percent sign as \"%%\"").arg(position + 1)};
    }

    // `path` is the value as the uninstall uses it before standardizing.
    QList<Finding> checkPath(const KeySpec &entry, QString path) const
    {
        QList<Finding> findings;
        if (entry.use & Standardized)
            path = expandTilde(path, m_user, m_userHome);
        if (!path.startsWith(u'/')) {
            QString why = QStringLiteral("the uninstall uses %1, relative to its working folder").arg(quoted(path));
            if (path.startsWith(u'~'))
                why += QStringLiteral(" (a leading \"~\" is not expanded for this key)");
            return {{QStringLiteral("not-absolute"), why}};
        }
        if (entry.use & Removed) {
            if (const auto hit = removalHit(path))
                findings << *hit;
        }
        if (entry.use & Scratch) {
            const QString folder = worldWritableFolder(path);
            if (!folder.isEmpty()) {
                findings << Finding{QStringLiteral("world-writable"),
                                    QStringLiteral("%1 lies in the world-writable folder %2, where another user can "
                                                   "put a link that the listing is written through and that rm -rf removes")
                                        .arg(quoted(path), folder)};
            }
            for (const QChar c : path) {
                if (kDoubleQuoteCharacters.contains(c)) {
                    findings << Finding{QStringLiteral("shell-quoting"),
                                        QStringLiteral("the character %1 breaks the double quotes that the path is put in "
                                                       "on the shell command line").arg(quoted(QString(c)))};
                    break;
                }
            }
        }
        return findings;
    }

    // A removal that would take a system folder or a home folder with it: judged on the
    // path with "." / ".." / "//" resolved by their text, then with symbolic links resolved.
    std::optional<Finding> removalHit(const QString &path) const
    {
        QString removed = normalised(path);
        QString target = protectedTarget(removed);
        QString how;
        if (target.isEmpty()) {
            removed = resolved(path);
            target = protectedTarget(removed);
            if (target.isEmpty())
                return std::nullopt;
            how = QStringLiteral(" through symbolic links");
        }
        const bool system = isSystemFolder(target);
        const QString what = system ? QStringLiteral("the system folder") : QStringLiteral("the home folder");
        QString explanation = removed == target
            ? QStringLiteral("rm -rf removes %1 %2").arg(what, target)
            : QStringLiteral("rm -rf removes %1, which holds %2 %3").arg(removed, what, target);
        if (removed != path)
            explanation += QStringLiteral(" (%1 leads there%2)").arg(quoted(path), how);
        return Finding{system ? QStringLiteral("system-folder") : QStringLiteral("home-folder"), explanation};
    }

    static bool isSystemFolder(const QString &path)
    {
        for (const char *folder : kSystemFolders) {
            if (path == QLatin1String(folder))
                return true;
        }
        return false;
    }

    bool isHomeFolder(const QString &path) const
    {
        if (m_homes.contains(path) || path == m_userHome)
            return true;
        // Any direct child of the folders of users' homes.
        const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
        return parts.size() == 2 && (parts[0] == QLatin1String("home") || parts[0] == QLatin1String("Users"));
    }

    // The protected folder that removing `path` (normalised) would take away, or none: the
    // path itself or, when the path holds one, the first in the order system folders, homes.
    QString protectedTarget(const QString &path) const
    {
        if (isSystemFolder(path) || isHomeFolder(path))
            return path;
        for (const char *folder : kSystemFolders) {
            if (isAncestor(path, QLatin1String(folder)))
                return QLatin1String(folder);
        }
        QStringList homes(m_homes.cbegin(), m_homes.cend());
        homes.sort();
        for (const QString &home : std::as_const(homes)) {
            if (isAncestor(path, home))
                return home;
        }
        return QString();
    }

    // The innermost folder above the path where anybody may create entries.
    static QString worldWritableFolder(const QString &path)
    {
        QString folder = normalised(path);
        while (folder != QLatin1String("/")) {
            folder = QFileInfo(folder).path();
            for (const char *known : kWorldWritableFolders) {
                if (folder == QLatin1String(known))
                    return folder;
            }
            struct stat st {};
            if (::stat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode)
                && (st.st_mode & S_IWOTH))
                return folder;
        }
        return QString();
    }

    QList<Finding> checkProcessName(const KeySpec &entry, const QString &name) const
    {
        QList<Finding> findings;
        auto offending = [&name](const QString &set) {
            QString found;
            for (const QChar c : name) {
                if (set.contains(c) && !found.contains(c))
                    found += c;
            }
            return found;
        };
        if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.isSpace(); })) {
            findings << Finding{QStringLiteral("blank"),
                                QStringLiteral("the name is put unquoted on the shell command line "
                                               "`ps -axww | grep NAME`, which splits it at blanks")};
        }
        if (const QString chars = offending(kShellCharacters); !chars.isEmpty()) {
            findings << Finding{QStringLiteral("shell-character"),
                                QStringLiteral("the shell reads %1 in the unquoted name of `ps -axww | grep NAME`")
                                    .arg(quoted(chars))};
        }
        if (const QString chars = offending(kGrepPatternCharacters); !chars.isEmpty()) {
            findings << Finding{QStringLiteral("grep-pattern"),
                                QStringLiteral("grep reads %1 as pattern characters, so the name also matches other text")
                                    .arg(quoted(chars))};
        }
        if (name.startsWith(u'-')) {
            findings << Finding{QStringLiteral("grep-option"),
                                QStringLiteral("a name that begins with \"-\" is taken by grep as an option")};
        }
        if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() > 0x7e; })) {
            findings << Finding{QStringLiteral("non-ascii"),
                                QStringLiteral("the process listing is read as ASCII text, so a name with other "
                                               "characters is never found")};
        }
        if (name.size() < kShortestDistinctName) {
            findings << Finding{QStringLiteral("too-short"),
                                QStringLiteral("a name of %1 characters is likely to occur in other programs' command "
                                               "lines, which would then be stopped too").arg(name.size())};
        }
        if (name.size() > kCommandColumnWidth) {
            findings << Finding{QStringLiteral("too-long"),
                                QStringLiteral("`ps -axwwopid,command,user` cuts the command line at %1 characters, "
                                               "so a name of %2 characters is never found").arg(kCommandColumnWidth).arg(name.size())};
        } else if (entry.execPathKey) {
            const QString execPath = m_table.value(QString::fromUtf8(entry.execPathKey)).toString();
            const qsizetype at = execPath.indexOf(name);
            if (at >= 0 && at + name.size() > kCommandColumnWidth) {
                findings << Finding{QStringLiteral("past-column-27"),
                                    QStringLiteral("started from %1 (%2), the name ends at character %3 of the command line, "
                                                   "beyond the %4 characters that `ps -axwwopid,command,user` shows")
                                        .arg(QString::fromUtf8(entry.execPathKey), quoted(execPath))
                                        .arg(at + name.size()).arg(kCommandColumnWidth)};
            }
        }
        return findings;
    }

    QVariantMap m_table;
    QString m_user;
    QString m_userHome;
    QSet<QString> m_homes;
};

QString currentUserName()
{
    if (const passwd *pw = getpwuid(geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

} // namespace

int cmdCheckDeployment(const QStringList &args)
{
    QString plist;
    QString user;
    bool notes = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--user")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return usageError(QStringLiteral("check-deployment: --user needs a user name"));
            user = args[++i];
        } else if (arg == QLatin1String("--quiet")) {
            notes = false;
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            return usageError(QStringLiteral("check-deployment: unknown option '%1'").arg(arg));
        } else if (plist.isNull()) {
            plist = arg;
        } else {
            return usageError(QStringLiteral("check-deployment takes one table, not '%1' as well").arg(arg));
        }
    }
    if (plist.isEmpty())
        return usageError(QStringLiteral("check-deployment needs the path of a table (Localizable.plist)"));
    if (user.isNull())
        user = currentUserName();

    const QFileInfo info(plist);
    QString problem;
    QVariantMap table;
    if (!info.exists()) {
        problem = QStringLiteral("no such file");
    } else {
        const std::optional<QVariant> value = ZVReadLocalizedStringsTable(plist);
        if (!value)
            problem = QStringLiteral("not a readable property list");
        else if (value->typeId() != QMetaType::QVariantMap)
            problem = QStringLiteral("the property list is not a dictionary");
        else
            table = value->toMap();
    }
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "zvtool: check-deployment: %s: %s\n", plist.toUtf8().constData(),
                     problem.toUtf8().constData());
        return 1;
    }
    const int findings = Checker(table, user).run(notes);
    return findings == 0 ? 0 : 1;
}
