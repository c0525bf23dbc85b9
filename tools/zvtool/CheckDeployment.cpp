// zvtool check-deployment PLIST [--user NAME] [--quiet]
//
// A safety check for deployers: reads a table of values (the Localizable.plist that a
// deployment places beside the uninstaller) and reports every value that would make the
// uninstall act on the wrong thing: a key that is missing or not a string, a path that is
// not absolute where the uninstall needs one, a removal (run as root with "/bin/rm -rf")
// that would hit a system folder or a home folder, a file written with the user's rights in
// a folder that others than the administrators may write, a process name that the process
// listings would miss or misread, an empty product name or command line.
//
// Output: one finding per line on stdout, "KEY: CATEGORY: explanation", in the order of
// the table of configured values (ZVConfiguredValues) and, within a key, in the order of the checks. Control characters in keys
// and values are written escaped (a line feed as "\n"), so every finding is one line.
// Advice that is not a finding (where a process name must stand in its command line) goes
// to stderr as "KEY: note: ...", unless --quiet is given.
// Exit status: 0 no finding, 1 findings or an unreadable table, 2 usage error.
//
// Choices made here:
// - Every key of the table of configured values is required, the display texts and the alert message included: a
//   missing alert message shows the key itself, which names brand Tavrin whatever the brand.
// - "%@" stands for --user NAME (default: the user running the check) and a leading "~" for
//   that user's home from the password database, or /home/NAME when NAME has no account.
// - A path is judged by its text ("." / ".." / "//" resolved) and again with the symbolic
//   links of its existing folders resolved; the last component counts as written (rm -rf
//   removes a link, not its target) unless the path ends with "/".
// - The system folders count as written and as resolved (/bin, a link into /usr on Debian,
//   makes /usr/bin one too).
// - A file that the uninstall writes with the user's rights (the marker, the schedule list,
//   the scratch files: "written by the user" in the table) must lie where only administrators
//   (root, the groups sudo, admin, wheel and their members) can create entries: every folder
//   above it, as written and with its links resolved, is looked at.
// - Format errors (a "%@" count other than one, a lone "%") end a path's checks: what the
//   uninstall would act on cannot be known.
// - The 27-character limit is a finding where it can be measured (a name longer than 27, or
//   the two login-item programs, whose registered path begins their command line); for the
//   other process names it is a note on stderr, so that a clean table prints nothing on stdout.
#include "CheckDeployment.h"
#include "Commands.h"

#include "ZVLocalizedString.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QVariantMap>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Kind = ZVConfiguredValues::Kind;
using Entry = ZVConfiguredValues::Entry;
using Use = ZVConfiguredValues::Use;

// Folders whose removal would take the system or everybody's data with it.
const char *const kSystemFolders[] = {
    "/", "/Applications", "/Library", "/System", "/Users", "/usr", "/etc", "/bin", "/sbin",
    "/lib", "/lib64", "/var", "/opt", "/home", "/root", "/boot", "/dev", "/proc", "/sys",
    "/run", "/tmp", "/Volumes",
};

// The groups whose members administer the machine (sudo on Debian).
const QStringList kAdministratorsGroups = {QStringLiteral("sudo"), QStringLiteral("admin"), QStringLiteral("wheel")};

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
    Checker(const QVariantMap &table, const QString &user, const ZVConfiguredValues &values)
        : m_table(table), m_user(user), m_values(values)
    {
        m_userHome = homeOf(user);
        if (m_userHome.isEmpty())
            m_userHome = QStringLiteral("/home/") + user;
        setpwent();
        while (const passwd *pw = getpwent()) {
            if (pw->pw_dir && pw->pw_dir[0] == '/') {
                const QString home = QString::fromLocal8Bit(pw->pw_dir);
                m_homes.insert(normalised(home));
                if (const QString canonical = QFileInfo(home).canonicalFilePath(); !canonical.isEmpty())
                    m_homes.insert(canonical);
            }
        }
        endpwent();
    }

    QList<DeploymentFinding> findings() const
    {
        QList<DeploymentFinding> all;
        for (const Entry &entry : m_values.entries) {
            for (const Finding &f : check(entry))
                all.append({entry.key, f.category, f.explanation});
        }
        return all;
    }

    // Advice that is not a finding: where a process name must stand in its command line.
    QStringList notes() const
    {
        QStringList lines;
        for (const Entry &entry : m_values.entries) {
            const QVariant value = m_table.value(entry.key);
            if (entry.kind == Kind::ProcessName && value.typeId() == QMetaType::QString
                && !value.toString().trimmed().isEmpty()) {
                lines << printable(entry.key) + QStringLiteral(": note: start the program so that ")
                        + quoted(value.toString())
                        + QStringLiteral(" stands within the first %1 characters of its command line, "
                                         "where ps cuts its COMMAND column").arg(kCommandColumnWidth);
            }
        }
        return lines;
    }

private:
    QList<Finding> check(const Entry &entry) const
    {
        const QString &key = entry.key;
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
            if (entry.has(Use::Format)) {
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
    QList<Finding> checkPath(const Entry &entry, QString path) const
    {
        QList<Finding> findings;
        if (entry.has(Use::Standardized))
            path = expandTilde(path, m_user, m_userHome);
        if (!path.startsWith(u'/')) {
            QString why = QStringLiteral("the uninstall uses %1, relative to its working folder").arg(quoted(path));
            if (path.startsWith(u'~'))
                why += QStringLiteral(" (a leading \"~\" is not expanded for this key)");
            return {{QStringLiteral("not-absolute"), why}};
        }
        if (entry.has(Use::Removed)) {
            if (const auto hit = removalHit(path))
                findings << *hit;
        }
        if (entry.has(Use::WrittenByUser)) {
            if (const auto writers = otherWriters(path))
                findings << *writers;
        }
        if (entry.has(Use::ShellRedirect)) {
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

    // The system folders as written and, where a folder is a link (/bin into /usr on
    // Debian), as resolved: a path is compared with both.
    static const QStringList &systemFolders()
    {
        static const QStringList folders = [] {
            QStringList list;
            for (const char *folder : kSystemFolders)
                list << QString::fromLatin1(folder);
            for (const char *folder : kSystemFolders) {
                const QString canonical = QFileInfo(QString::fromLatin1(folder)).canonicalFilePath();
                if (!canonical.isEmpty() && !list.contains(canonical))
                    list << canonical;
            }
            return list;
        }();
        return folders;
    }

    static bool isSystemFolder(const QString &path) { return systemFolders().contains(path); }

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
        for (const QString &folder : systemFolders()) {
            if (isAncestor(path, folder))
                return folder;
        }
        QStringList homes(m_homes.cbegin(), m_homes.cend());
        homes.sort();
        for (const QString &home : std::as_const(homes)) {
            if (isAncestor(path, home))
                return home;
        }
        return QString();
    }

    // A folder above PATH (as written, and with its links resolved, since a write follows
    // them) where somebody other than the administrators may create or replace entries: the
    // innermost one that is world-writable, group-writable by a group other than the
    // administrators' or owned by a user who is not an administrator.
    static std::optional<Finding> otherWriters(const QString &path)
    {
        for (const QString &start : {normalised(path), resolved(path)}) {
            QString folder = start;
            while (folder != QLatin1String("/")) {
                folder = QFileInfo(folder).path();
                QString who;
                struct stat st {};
                const bool isFolder = ::stat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode);
                if (std::any_of(std::begin(kWorldWritableFolders), std::end(kWorldWritableFolders),
                                [&](const char *known) { return folder == QLatin1String(known); })
                    || (isFolder && (st.st_mode & S_IWOTH)))
                    return Finding{QStringLiteral("world-writable"), otherWritersText(path, QStringLiteral("the world-writable folder ") + folder)};
                if (!isFolder)
                    continue;
                if ((st.st_mode & S_IWGRP) && !isAdministratorsGroup(st.st_gid))
                    who = QStringLiteral("the folder %1, writable by the group %2,").arg(folder, groupName(st.st_gid));
                else if (!isAdministrator(st.st_uid))
                    who = QStringLiteral("the folder %1, owned by the user %2,").arg(folder, userName(st.st_uid));
                if (!who.isEmpty())
                    return Finding{(st.st_mode & S_IWGRP) && !isAdministratorsGroup(st.st_gid) ? QStringLiteral("group-writable")
                                                                                            : QStringLiteral("user-owned"),
                                   otherWritersText(path, who)};
            }
        }
        return std::nullopt;
    }

    static QString otherWritersText(const QString &path, const QString &where)
    {
        return QStringLiteral("the uninstall writes %1 in %2 where somebody other than the administrators can "
                              "put a link that the write follows and that rm -rf removes").arg(quoted(path), where);
    }

    // Root's group and the groups whose members may administer the machine.
    static bool isAdministratorsGroup(gid_t gid)
    {
        if (gid == 0)
            return true;
        const group *g = getgrgid(gid);
        return g && g->gr_name && kAdministratorsGroups.contains(QString::fromLocal8Bit(g->gr_name));
    }

    static bool isAdministrator(uid_t uid)
    {
        if (uid == 0)
            return true;
        const passwd *pw = getpwuid(uid);
        if (!pw)
            return false;
        if (isAdministratorsGroup(pw->pw_gid))
            return true;
        const QByteArray name(pw->pw_name);
        for (const QString &admins : kAdministratorsGroups) {
            const group *g = getgrnam(admins.toLocal8Bit().constData());
            for (char **member = g ? g->gr_mem : nullptr; member && *member; ++member) {
                if (name == *member)
                    return true;
            }
        }
        return false;
    }

    static QString groupName(gid_t gid)
    {
        const group *g = getgrgid(gid);
        return g && g->gr_name ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
    }

    static QString userName(uid_t uid)
    {
        const passwd *pw = getpwuid(uid);
        return pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
    }

    QList<Finding> checkProcessName(const Entry &entry, const QString &name) const
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
        } else if (!entry.execPathKey.isEmpty()) {
            const QString execPath = m_table.value(entry.execPathKey).toString();
            const qsizetype at = execPath.indexOf(name);
            if (at >= 0 && at + name.size() > kCommandColumnWidth) {
                findings << Finding{QStringLiteral("past-column-27"),
                                    QStringLiteral("started from %1 (%2), the name ends at character %3 of the command line, "
                                                   "beyond the %4 characters that `ps -axwwopid,command,user` shows")
                                        .arg(entry.execPathKey, quoted(execPath))
                                        .arg(at + name.size()).arg(kCommandColumnWidth)};
            }
        }
        return findings;
    }

    QVariantMap m_table;
    QString m_user;
    ZVConfiguredValues m_values;
    QString m_userHome;
    QSet<QString> m_homes;
};

} // namespace

QString currentUserName()
{
    if (const passwd *pw = getpwuid(geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

std::optional<QVariantMap> readDeploymentTable(const QString &plist, QString *problem)
{
    if (!QFileInfo::exists(plist)) {
        *problem = QStringLiteral("no such file");
        return std::nullopt;
    }
    const std::optional<QVariant> value = ZVReadLocalizedStringsTable(plist);
    if (!value)
        *problem = QStringLiteral("not a readable property list");
    else if (value->typeId() != QMetaType::QVariantMap)
        *problem = QStringLiteral("the property list is not a dictionary");
    else
        return value->toMap();
    return std::nullopt;
}

QList<DeploymentFinding> checkDeployment(const QVariantMap &table, const QString &user,
                                         const ZVConfiguredValues &values)
{
    return Checker(table, user, values).findings();
}

QString DeploymentFinding::line() const
{
    return printable(key) + QStringLiteral(": ") + category + QStringLiteral(": ") + explanation;
}

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

    QString problem;
    const std::optional<QVariantMap> table = readDeploymentTable(plist, &problem);
    if (!table) {
        std::fprintf(stderr, "zvtool: check-deployment: %s: %s\n", plist.toUtf8().constData(),
                     problem.toUtf8().constData());
        return 1;
    }
    const Checker checker(*table, user, ZVConfiguredValues::standard());
    const QList<DeploymentFinding> findings = checker.findings();
    // Findings in table order, each key's notes after its findings, as a terminal shows them.
    const QStringList noteLines = notes ? checker.notes() : QStringList();
    for (const ZVConfiguredValues::Entry &entry : ZVConfiguredValues::standard().entries) {
        for (const DeploymentFinding &f : findings) {
            if (f.key == entry.key)
                out() << f.line() << '\n';
        }
        for (const QString &note : noteLines) {
            if (note.startsWith(printable(entry.key) + QStringLiteral(": note: "))) {
                out().flush(); // keeps a terminal's lines in order
                std::fprintf(stderr, "%s\n", note.toUtf8().constData());
            }
        }
    }
    return findings.isEmpty() ? 0 : 1;
}
