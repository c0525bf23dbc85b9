// zvtool check-deployment, run as a deployer runs it: the real program on tables written
// into a temp folder. The temp folder lies in the build folder rather than in /tmp, so that
// the scratch-file rule (no world-writable folder above a scratch file) can be tried on
// folders the test makes world-writable or not.
#include "CheckDeployment.h"
#include "NSBundle_p.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVConfiguredValues_p.h"
#include "ZVUninstallProcedure_p.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kAlertMessageKey = QStringLiteral(
    "Stop any backup operation that may be in progress and then proceed to uninstall the "
    "application.\n Are you sure that you want to completely remove Tavrin for Mac and all "
    "it's components?");

// Folders that only root may change, owned by a user or writable by a group other than the
// administrators', made when the test runs as root; otherwise those rows are skipped.
QString folderOwnedBy(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    if (::geteuid() != 0 || !QDir().mkpath(path))
        return QString();
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), uid, gid) == 0 && ::chmod(name.constData(), mode) == 0 ? path : QString();
}

const QStringList kProcessNameKeys = {
    QStringLiteral("ApplicationExecName"), QStringLiteral("MonitorExecName"),
    QStringLiteral("DaemonExecName"), QStringLiteral("WebManagementExecName"),
    QStringLiteral("ExecuterName"), QStringLiteral("STunnelName"),
    QStringLiteral("SchedulerExecuterName"), QStringLiteral("SchedulerSTunnelName")};

// A deployment of brand Pelloma that the check must pass: product files under /opt and
// /etc, state and scratch files in /var/lib/Pelloma (not world-writable), per-user files
// in the user's home, and both login-item programs placed so that their names end within
// the first 27 characters of the command line.
QVariantMap cleanTable()
{
    return {
        {QStringLiteral("ApplicationName"), QStringLiteral("Pelloma Backup")},
        {QStringLiteral("Yes"), QStringLiteral("Yes")},
        {QStringLiteral("No"), QStringLiteral("No")},
        {kAlertMessageKey, QStringLiteral("Are you sure that you want to remove Pelloma Backup?")},
        {QStringLiteral("ApplicationExecName"), QStringLiteral("PellomaApp")},
        {QStringLiteral("MonitorExecName"), QStringLiteral("PellomaMonitor")},
        {QStringLiteral("DaemonExecName"), QStringLiteral("PellomaDaemon")},
        {QStringLiteral("WebManagementExecName"), QStringLiteral("PellomaWebAdmin")},
        {QStringLiteral("ExecuterName"), QStringLiteral("PellomaExecuter")},
        {QStringLiteral("STunnelName"), QStringLiteral("PellomaTunnel")},
        {QStringLiteral("SchedulerExecuterName"), QStringLiteral("PellomaSchedExec")},
        {QStringLiteral("SchedulerSTunnelName"), QStringLiteral("PellomaSchedTunnel")},
        {QStringLiteral("DaemonUnloadCommand"), QStringLiteral("/usr/bin/sudo /bin/systemctl stop pelloma-daemon")},
        {QStringLiteral("WebDaemonUnloadCommand"), QStringLiteral("/usr/bin/sudo /bin/systemctl stop pelloma-web")},
        {QStringLiteral("DaemonPlist"), QStringLiteral("/etc/Pelloma/com.pelloma.daemon.plist")},
        {QStringLiteral("WebDaemonPlist"), QStringLiteral("/etc/Pelloma/com.pelloma.web.plist")},
        {QStringLiteral("ApplicationsFolder"), QStringLiteral("/opt/Pelloma/Pelloma.app")},
        {QStringLiteral("UninstallerFilePath"), QStringLiteral("/var/lib/Pelloma/uninstall.plist")},
        {QStringLiteral("ApplicationPreferenceFile"), QStringLiteral("/home/%@/.config/Pelloma/app.plist")},
        {QStringLiteral("MonitorUserDefaultsFile"), QStringLiteral("/home/%@/.config/Pelloma/monitor.plist")},
        {QStringLiteral("DaemonUserDefaultsFile"), QStringLiteral("/home/%@/.config/Pelloma/daemon.plist")},
        {QStringLiteral("RecieptFilePath"), QStringLiteral("/var/lib/Pelloma/receipt.plist")},
        {QStringLiteral("ShortcutPath"), QStringLiteral("~/Desktop/%@-Pelloma.desktop")},
        {QStringLiteral("SchedulerState"), QStringLiteral("/var/lib/Pelloma/scheduler.state")},
        {QStringLiteral("SchedulerLoginInfo"), QStringLiteral("/var/lib/Pelloma/scheduler.login")},
        {QStringLiteral("LoginInfo"), QStringLiteral("/home/%@/.local/share/Pelloma/login.info")},
        {QStringLiteral("ApplicationStatusPath"), QStringLiteral("~/.local/share/Pelloma/status-100%%.plist")},
        {QStringLiteral("SchedulerSettingsFile"), QStringLiteral("/var/lib/Pelloma/schedules.plist")},
        {QStringLiteral("ApplicationExecPath"), QStringLiteral("/opt/Pelloma/bin/PellomaApp")},
        {QStringLiteral("MonitorExecPath"), QStringLiteral("/opt/Pelloma/PellomaMonitor")},
        {QStringLiteral("UninstallProcessInstanceCommandOutputFilePath"), QStringLiteral("/var/lib/Pelloma/ps.txt")},
        {QStringLiteral("LastConsoleUserNameFilePath"), QStringLiteral("/var/lib/Pelloma/console.txt")},
        {QStringLiteral("LogoutCommandOutputFilePath"), QStringLiteral("/var/lib/Pelloma/logout.txt")},
    };
}

struct Result {
    int exitCode = -1;
    QStringList out;
    QStringList err;
};

QStringList lines(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
}

// How the tool names a key: a line feed inside it is written "\n".
QString shown(const QString &key)
{
    QString s = key;
    return s.replace(u'\n', QStringLiteral("\\n"));
}

// A home folder from the password database that is neither a system folder nor directly
// under /home, and a folder above some home that is not a system folder itself; empty when
// this machine has none.
const QStringList kSystemFolders = {
    "/", "/Applications", "/Library", "/System", "/Users", "/usr", "/etc", "/bin", "/sbin",
    "/lib", "/lib64", "/var", "/opt", "/home", "/root", "/boot", "/dev", "/proc", "/sys",
    "/run", "/tmp", "/Volumes"};

QPair<QString, QString> homeAndItsParent()
{
    // The system folders as resolved count too (/sbin is /usr/sbin on Debian).
    QStringList system = kSystemFolders;
    for (const QString &folder : kSystemFolders)
        system << QFileInfo(folder).canonicalFilePath();
    QString home, parent;
    setpwent();
    while (const passwd *pw = getpwent()) {
        const QString dir = QDir::cleanPath(QString::fromLocal8Bit(pw->pw_dir ? pw->pw_dir : ""));
        if (!dir.startsWith(u'/') || system.contains(dir) || dir.startsWith(QLatin1String("/home/"))
            || dir.startsWith(QLatin1String("/Users/")))
            continue;
        if (home.isEmpty())
            home = dir;
        const QString up = QFileInfo(dir).path();
        if (parent.isEmpty() && !system.contains(up))
            parent = up;
    }
    endpwent();
    return {home, parent};
}

} // namespace

class CheckDeploymentTest : public QObject {
    Q_OBJECT

    QString m_zvtool;
    QTemporaryDir m_dir{TestSupport::binaryDir() + QStringLiteral("/CheckDeployment-XXXXXX")};
    int m_tables = 0;

    QString writeTable(const QVariantMap &table)
    {
        const QString path = m_dir.filePath(QStringLiteral("table%1.plist").arg(++m_tables));
        if (!PropertyList::writeFile(table, path, PropertyList::Format::XML, false))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    Result run(const QStringList &args)
    {
        QProcess p;
        p.start(m_zvtool, QStringList{QStringLiteral("check-deployment")} + args);
        Result r;
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exitCode = p.exitCode();
        r.out = lines(p.readAllStandardOutput());
        r.err = lines(p.readAllStandardError());
        return r;
    }

    // The values of column "value" that mean "take the key out of the table".
    static QVariant absent() { return QVariant(); }

private slots:
    void initTestCase()
    {
        m_zvtool = TestSupport::binaryDir() + QStringLiteral("/bin/zvtool");
        QVERIFY2(QFileInfo(m_zvtool).isExecutable(), qPrintable(m_zvtool));
        QVERIFY(m_dir.isValid());
        // Folders for the symbolic-link and world-writable cases.
        QVERIFY(QFile::link(QStringLiteral("/"), m_dir.filePath(QStringLiteral("toRoot"))));
        QVERIFY(QFile::link(QStringLiteral("/usr"), m_dir.filePath(QStringLiteral("toUsr"))));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("open")));
        QVERIFY(::chmod(QFile::encodeName(m_dir.filePath(QStringLiteral("open"))).constData(), 0777) == 0);
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("closed")));
        QVERIFY(::chmod(QFile::encodeName(m_dir.filePath(QStringLiteral("closed"))).constData(), 0755) == 0);
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("open")), m_dir.filePath(QStringLiteral("toOpen"))));
        QVERIFY(QFile::link(QStringLiteral("/bin"), m_dir.filePath(QStringLiteral("toBin"))));
    }

    void cleanTablePasses()
    {
        const QString table = writeTable(cleanTable());
        for (const QStringList &extra : {QStringList(), QStringList{"--user", "ann"}}) {
            const Result r = run(QStringList{table} + extra);
            QCOMPARE(r.out, QStringList());
            QCOMPARE(r.exitCode, 0);
            // One note per process name, on stderr, naming the key and its value.
            QCOMPARE(r.err.size(), kProcessNameKeys.size());
            for (int i = 0; i < kProcessNameKeys.size(); ++i) {
                const QString &key = kProcessNameKeys[i];
                QVERIFY2(r.err[i].startsWith(key + QStringLiteral(": note: ")), qPrintable(r.err[i]));
                QVERIFY2(r.err[i].contains(u'"' + cleanTable().value(key).toString() + u'"'), qPrintable(r.err[i]));
                QVERIFY2(r.err[i].contains(QLatin1String("27")), qPrintable(r.err[i]));
            }
        }
        const Result quiet = run({table, QStringLiteral("--quiet")});
        QCOMPARE(quiet.exitCode, 0);
        QCOMPARE(quiet.out, QStringList());
        QCOMPARE(quiet.err, QStringList());
    }

    // The clean table passes in every form a Mac writes a dictionary in, read by the lookup's
    // own loader.
    void cleanTableInEveryForm_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        auto quoted = [](QString text) {
            return u'"' + text.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""))
                              .replace(u'\n', QStringLiteral("\\n")) + u'"';
        };
        QString oldStyle = QStringLiteral("/* a deployment's table */\n{\n");
        const QVariantMap table = cleanTable();
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            oldStyle += quoted(it.key()) + QStringLiteral(" = ") + quoted(it.value().toString()) + QStringLiteral(";\n");
        oldStyle += u'}';
        const QString xml = QString::fromUtf8(PropertyList::toData(table, PropertyList::Format::XML));
        auto encoded = [](const QString &text, QStringConverter::Encoding e) {
            return QByteArray(QStringEncoder(e, QStringConverter::Flag::WriteBom).encode(text));
        };
        QTest::newRow("old-style") << oldStyle.toUtf8();
        QTest::newRow("old-style, utf-16be") << encoded(oldStyle, QStringConverter::Utf16BE);
        QTest::newRow("xml, utf-16le") << encoded(QString(xml).replace("UTF-8", "UTF-16"), QStringConverter::Utf16LE);
        QTest::newRow("xml, utf-8 with bom") << encoded(xml, QStringConverter::Utf8);
        QTest::newRow("binary") << PropertyList::toData(table, PropertyList::Format::Binary);
    }
    void cleanTableInEveryForm()
    {
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(QStringLiteral("form-%1.plist").arg(++m_tables));
        QVERIFY(TestSupport::writeFile(path, bytes));
        const Result r = run({path, QStringLiteral("--quiet")});
        QCOMPARE(r.err, QStringList());
        QCOMPARE(r.out, QStringList());
        QCOMPARE(r.exitCode, 0);
    }

    // Each row changes one key of the clean table (an invalid value removes it) and expects
    // a finding "KEY: CATEGORY: ..." for the key named in "reported" (default: that key),
    // and no finding for any other key.
    void finding_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("reported");
        const QString dir = m_dir.path();
        auto row = [&](const char *name, const QString &key, const QVariant &value, const char *category,
                       const QString &reported = QString()) {
            QTest::newRow(name) << key << value << QString::fromLatin1(category) << reported;
        };

        row("missing path", "DaemonPlist", absent(), "missing");
        row("missing process name", "DaemonExecName", absent(), "missing");
        row("missing alert message", kAlertMessageKey, absent(), "missing");
        row("integer", "SchedulerLoginInfo", qint64(5), "not-string");
        row("boolean", "ApplicationName", true, "not-string");
        row("array", "ApplicationExecName", QVariantList{QStringLiteral("PellomaApp")}, "not-string");
        row("dictionary", "DaemonUnloadCommand", QVariantMap{{"a", "b"}}, "not-string");
        row("empty product name", "ApplicationName", QString(""), "empty");
        row("empty button label", "Yes", QString(""), "empty");
        row("empty command line", "DaemonUnloadCommand", QString(""), "empty");
        row("blank command line", "WebDaemonUnloadCommand", QString(" \t "), "empty");
        row("empty process name", "ApplicationExecName", QString(""), "empty");
        row("empty path", "RecieptFilePath", QString(""), "empty");

        row("relative path", "RecieptFilePath", QString("var/db/receipt.plist"), "not-absolute");
        row("relative marker path", "UninstallerFilePath", QString("uninstall.plist"), "not-absolute");
        row("relative login item path", "ApplicationExecPath", QString("PellomaApp"), "not-absolute");
        row("tilde not expanded", "ApplicationPreferenceFile", QString("~/.config/Pelloma/%@.plist"), "not-absolute");
        row("user name first", "LoginInfo", QString("%@/login.info"), "not-absolute");
        row("relative plain format", "ApplicationStatusPath", QString("status.plist"), "not-absolute");
        row("tilde of unknown user", "ApplicationStatusPath", QString("~nosuchuser-zv/status"), "not-absolute");
        row("relative scratch file", "LastConsoleUserNameFilePath", QString("console.txt"), "not-absolute");

        row("no placeholder", "ShortcutPath", QString("/home/ann/Desktop/Pelloma.desktop"), "placeholder-count");
        row("two placeholders", "DaemonUserDefaultsFile", QString("/home/%@/%@.plist"), "placeholder-count");

        row("lone percent in plain format", "ApplicationStatusPath", QString("/var/lib/Pelloma/100%.status"), "lone-percent");
        row("trailing percent", "UninstallProcessInstanceCommandOutputFilePath", QString("/var/lib/Pelloma/ps%"), "lone-percent");
        row("placeholder in plain format", "LogoutCommandOutputFilePath", QString("/var/lib/Pelloma/%@.txt"), "lone-percent");
        row("lone percent in user path", "MonitorUserDefaultsFile", QString("/home/%@/50%.plist"), "lone-percent");
        row("lone percent in alert", kAlertMessageKey, QString("100% sure?"), "lone-percent");

        row("root", "ApplicationsFolder", QString("/"), "system-folder");
        row("usr", "ApplicationsFolder", QString("/usr"), "system-folder");
        row("opt itself", "ApplicationsFolder", QString("/opt"), "system-folder");
        row("dot-dot to usr", "ApplicationsFolder", QString("/opt/Pelloma/../../usr/"), "system-folder");
        row("doubled slashes", "DaemonPlist", QString("//etc//"), "system-folder");
        row("dot", "WebDaemonPlist", QString("/var/./"), "system-folder");
        row("above root", "DaemonPlist", QString("/.."), "system-folder");
        row("Applications", "RecieptFilePath", QString("/Applications"), "system-folder");
        row("Library", "SchedulerState", QString("/Library"), "system-folder");
        row("System", "SchedulerLoginInfo", QString("/System"), "system-folder");
        row("Users", "ApplicationsFolder", QString("/Users/"), "system-folder");
        row("tmp by plain format", "ApplicationStatusPath", QString("/tmp"), "system-folder");
        row("user path up to root", "DaemonUserDefaultsFile", QString("/home/%@/../.."), "system-folder");
        row("scratch file removal", "UninstallProcessInstanceCommandOutputFilePath", QString("/var/lib/Pelloma/../../.."), "system-folder");
        row("through a link to root", "DaemonPlist", QString(dir + "/toRoot/usr"), "system-folder");
        row("into a link to usr", "DaemonPlist", QString(dir + "/toUsr/"), "system-folder");
        // /bin and /lib are links into /usr on this system: their targets are system folders too.
        const bool usrMerged = QFileInfo(QStringLiteral("/bin")).isSymLink();
        row("usr bin", "ApplicationsFolder", usrMerged ? QVariant(QString("/usr/bin")) : absent(), "system-folder");
        row("usr lib", "DaemonPlist", usrMerged ? QVariant(QString("/usr/lib/")) : absent(), "system-folder");
        row("link to usr, then bin", "ApplicationsFolder", QString(dir + "/toUsr/bin/"), "system-folder");
        row("into a link to bin", "RecieptFilePath", QString(dir + "/toBin/"), "system-folder");

        row("home of the user", "LoginInfo", QString("/home/%@"), "home-folder");
        row("Users home", "MonitorUserDefaultsFile", QString("/Users/%@/"), "home-folder");
        row("tilde", "ApplicationStatusPath", QString("~"), "home-folder");
        row("tilde with placeholder", "ShortcutPath", QString("~/%@/.."), "home-folder");
        row("another home under home", "ApplicationPreferenceFile", QString("/home/someone-else/%@/.."), "home-folder");
        const auto [home, parent] = homeAndItsParent();
        row("home from the password database", "DaemonPlist", home, "home-folder");
        row("folder holding a home", "SchedulerState", parent, "home-folder");

        row("tmp", "UninstallProcessInstanceCommandOutputFilePath", QString("/tmp/pelloma-ps.txt"), "world-writable");
        row("var tmp", "LastConsoleUserNameFilePath", QString("/var/tmp/console.txt"), "world-writable");
        row("dev shm", "LogoutCommandOutputFilePath", QString("/dev/shm/Pelloma/logout.txt"), "world-writable");
        row("folder with o+w", "LogoutCommandOutputFilePath", QString(dir + "/open/logout.txt"), "world-writable");
        row("below a folder with o+w", "LastConsoleUserNameFilePath", QString(dir + "/open/sub/console.txt"), "world-writable");
        row("marker in a folder with o+w", "UninstallerFilePath", QString(dir + "/open/KillDaemon.plist"), "world-writable");
        row("schedule list below o+w", "SchedulerSettingsFile", QString(dir + "/open/sub/Schedules.plist"), "world-writable");
        row("marker through a link to o+w", "UninstallerFilePath", QString(dir + "/toOpen/KillDaemon.plist"), "world-writable");
        const QString groupWritable = folderOwnedBy(dir + "/nogroup", 0, 65534, 0775);
        row("group not the administrators'", "SchedulerSettingsFile",
            groupWritable.isEmpty() ? absent() : QVariant(groupWritable + "/Schedules.plist"), "group-writable");
        const QString userOwned = folderOwnedBy(dir + "/nobody", 65534, 0, 0755);
        row("owned by a user", "UninstallProcessInstanceCommandOutputFilePath",
            userOwned.isEmpty() ? absent() : QVariant(userOwned + "/ps.txt"), "user-owned");
        row("double quote in scratch path", "LastConsoleUserNameFilePath", QString("/var/lib/Pelloma/a\"b.txt"), "shell-quoting");
        row("dollar in scratch path", "UninstallProcessInstanceCommandOutputFilePath", QString("/var/lib/Pelloma/$HOME.txt"), "shell-quoting");

        row("blank in name", "DaemonExecName", QString("Pelloma Daemon"), "blank");
        row("tab in name", "ExecuterName", QString("Pelloma\tExec"), "blank");
        row("semicolon", "STunnelName", QString("Pelloma;rm"), "shell-character");
        row("pipe", "SchedulerExecuterName", QString("Pelloma|cat"), "shell-character");
        row("quote", "SchedulerSTunnelName", QString("Pel'loma"), "shell-character");
        row("dot", "WebManagementExecName", QString("Pelloma.app"), "grep-pattern");
        row("brackets", "DaemonExecName", QString("Pelloma[1]"), "grep-pattern");
        row("caret", "ExecuterName", QString("^PellomaExec"), "grep-pattern");
        row("dash first", "STunnelName", QString("-PellomaTunnel"), "grep-option");
        row("non-ASCII", "DaemonExecName", QString::fromUtf8("PellomaDämon"), "non-ascii");
        row("three characters", "WebManagementExecName", QString("web"), "too-short");
        row("28 characters", "SchedulerExecuterName", QString("PellomaSchedulerExecuter1234"), "too-long");
        row("ends at character 28", "MonitorExecPath", QString("/opt/Pelloma//PellomaMonitor"), "past-column-27",
            "MonitorExecName");
        row("deep application path", "ApplicationExecPath",
            QString("/opt/Pelloma/Pelloma.app/Contents/MacOS/PellomaApp"), "past-column-27", "ApplicationExecName");
    }

    void finding()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QString, category);
        QFETCH(QString, reported);
        if (!value.isValid() && category != QLatin1String("missing"))
            QSKIP("this machine has no such home folder");
        if (reported.isEmpty())
            reported = key;

        QVariantMap table = cleanTable();
        if (value.isValid())
            table.insert(key, value);
        else
            table.remove(key);
        const Result r = run({writeTable(table), QStringLiteral("--user"), QStringLiteral("ann"), QStringLiteral("--quiet")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!r.out.isEmpty());
        const QString prefix = shown(reported) + QStringLiteral(": ");
        for (const QString &line : r.out)
            QVERIFY2(line.startsWith(prefix), qPrintable(QStringLiteral("finding for another key: ") + line));
        QVERIFY2(std::any_of(r.out.cbegin(), r.out.cend(),
                             [&](const QString &line) { return line.startsWith(prefix + category + QStringLiteral(": ")); }),
                 qPrintable(r.out.join(u'\n')));
        QCOMPARE(r.err, QStringList());
    }

    // Values that look risky but are what a deployment may rightly hold.
    void harmless_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const QString dir = m_dir.path();
        QTest::newRow("brand Tavrin") << "ApplicationName" << "Tavrin for Mac";
        QTest::newRow("under opt") << "ApplicationsFolder" << "/opt/Tavrin/App";
        QTest::newRow("under usr") << "ApplicationsFolder" << "/usr/local/Pelloma";
        QTest::newRow("inside a home") << "ShortcutPath" << "~/Desktop/%@.desktop";
        QTest::newRow("Users path") << "ApplicationPreferenceFile" << "/Users/%@/Library/Preferences/com.pelloma.plist";
        QTest::newRow("doubled percent") << "UninstallProcessInstanceCommandOutputFilePath" << "/var/lib/Pelloma/100%%.txt";
        QTest::newRow("dot-dot staying inside") << "DaemonPlist" << "/etc/Pelloma/x/../daemon.plist";
        QTest::newRow("link itself") << "DaemonPlist" << dir + "/toUsr";
        QTest::newRow("closed scratch folder") << "LogoutCommandOutputFilePath" << dir + "/closed/logout.txt";
        QTest::newRow("file in usr bin") << "ApplicationsFolder" << "/usr/bin/pelloma-sample";
        const group *admins = getgrnam("sudo");
        const QString adminsFolder = admins ? folderOwnedBy(dir + "/admins", 0, admins->gr_gid, 02775) : QString();
        if (!adminsFolder.isEmpty())
            QTest::newRow("administrators' group folder") << "UninstallerFilePath" << adminsFolder + "/KillDaemon.plist";
        QTest::newRow("four characters") << "STunnelName" << "Ptun";
        QTest::newRow("27 characters") << "SchedulerSTunnelName" << "PellomaSchedulerTunnel12345";
        QTest::newRow("dash inside") << "DaemonExecName" << "pelloma-daemon";
        QTest::newRow("name not in login item path") << "ApplicationExecPath" << "/opt/Pelloma/bin/a-launcher-with-a-long-name";
    }

    void harmless()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        // The world-writable rule looks at every folder above: the build folder must not be one.
        for (QString f = m_dir.path(); f != QLatin1String("/"); f = QFileInfo(f).path()) {
            struct stat st {};
            if ((key.contains(QLatin1String("Output")) || key == QLatin1String("UninstallerFilePath")) && ::stat(QFile::encodeName(f).constData(), &st) == 0
                && (st.st_mode & S_IWOTH))
                QSKIP("the build folder lies in a world-writable folder");
        }
        QVariantMap table = cleanTable();
        table.insert(key, value);
        const Result r = run({writeTable(table), QStringLiteral("--user"), QStringLiteral("ann"), QStringLiteral("--quiet")});
        QCOMPARE(r.out, QStringList());
        QCOMPARE(r.exitCode, 0);
    }

    void everyFindingInTableOrder()
    {
        QVariantMap table = cleanTable();
        table.insert(QStringLiteral("LogoutCommandOutputFilePath"), QStringLiteral("/tmp/logout.txt"));
        table.remove(QStringLiteral("DaemonPlist"));
        table.insert(QStringLiteral("ApplicationName"), QString());
        table.insert(QStringLiteral("LoginInfo"), QStringLiteral("/home/%@"));
        const Result r = run({writeTable(table), QStringLiteral("--quiet")});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out.size(), 4);
        QVERIFY(r.out[0].startsWith(QLatin1String("ApplicationName: empty: ")));
        QVERIFY(r.out[1].startsWith(QLatin1String("DaemonPlist: missing: ")));
        // Without --user, "%@" stands for the user running the check.
        const passwd *pw = getpwuid(geteuid());
        QVERIFY(pw);
        QCOMPARE(r.out[2], QStringLiteral("LoginInfo: home-folder: rm -rf removes the home folder /home/")
                               + QString::fromLocal8Bit(pw->pw_name));
        QVERIFY(r.out[3].startsWith(QLatin1String("LogoutCommandOutputFilePath: world-writable: ")));
    }

    // One change to the table of configured values, and nothing else, changes both what the
    // uninstall acts on and what the check judges. VALUE is KEY's value in the deployment;
    // the changed table gives KEY the use USE and the step STEP as well. PLANNED is what
    // step STEP acts on under KEY (null: KEY is not among its targets).
    void tableDrivesBoth_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<uint>("use");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("findingBefore");
        QTest::addColumn<QString>("findingAfter");
        QTest::addColumn<QString>("plannedBefore");
        QTest::addColumn<QString>("plannedAfter");
        const QString user = currentUserName();
        const QString home = m_dir.filePath(QStringLiteral("home"));
        QTest::newRow("a user path standardized")
            << "ApplicationPreferenceFile" << "~/%@-prefs.plist" << uint(ZVConfiguredValues::Standardized) << 13
            << "not-absolute" << "" << "~/" + user + "-prefs.plist" << home + "/" + user + "-prefs.plist";
        QTest::newRow("the schedule list removed too")
            << "SchedulerSettingsFile" << "/var" << uint(ZVConfiguredValues::Removed) << 25
            << "" << "system-folder" << QString() << "/var";
    }

    void tableDrivesBoth()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(uint, use);
        QFETCH(int, step);
        QFETCH(QString, findingBefore);
        QFETCH(QString, findingAfter);
        QFETCH(QString, plannedBefore);
        QFETCH(QString, plannedAfter);
        // The deployment holds every row's value at once: the lookup reads its table once.
        static const bool loaded = [this] {
            QVariantMap values = cleanTable();
            values.insert(QStringLiteral("ApplicationPreferenceFile"), QStringLiteral("~/%@-prefs.plist"));
            values.insert(QStringLiteral("SchedulerSettingsFile"), QStringLiteral("/var"));
            const QString folder = m_dir.filePath(QStringLiteral("deployment"));
            qputenv("HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
            NSBundle::mainBundle().setResourcePath(folder);
            return QDir().mkpath(folder)
                && PropertyList::writeFile(values, folder + QStringLiteral("/Localizable.plist"), PropertyList::Format::XML, false);
        }();
        QVERIFY(loaded);
        QVariantMap values = cleanTable();
        values.insert(key, value);

        ZVConfiguredValues changed = ZVConfiguredValues::standard();
        for (ZVConfiguredValues::Entry &entry : changed.entries) {
            if (entry.key == key) {
                entry.uses |= use;
                entry.steps.append(step);
            }
        }
        const auto outcome = [&](const ZVConfiguredValues &table) {
            QString category;
            for (const DeploymentFinding &f : checkDeployment(values, currentUserName(), table)) {
                if (f.key == key)
                    category = f.category;
            }
            QString planned;
            for (const ZVUninstallProcedure::PlannedStep &p : ZVUninstallProcedure(table).plan()) {
                for (const ZVUninstallProcedure::Target &t : p.targets) {
                    if (p.step.number == step && t.key == key)
                        planned = t.value;
                }
            }
            return QPair<QString, QString>(category, planned);
        };
        QCOMPARE(outcome(ZVConfiguredValues::standard()), qMakePair(findingBefore, plannedBefore));
        QCOMPARE(outcome(changed), qMakePair(findingAfter, plannedAfter));
    }

    void unreadableTable_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("empty file") << QByteArray("");
        QTest::newRow("garbage") << QByteArray("\x00\x01not a plist\xff", 15);
        QTest::newRow("cut short") << QByteArray("<?xml version=\"1.0\"?><plist><dict><key>Yes</key>");
        QTest::newRow("array") << PropertyList::toData(QVariantList{QStringLiteral("Yes")}, PropertyList::Format::XML);
        QTest::newRow("binary string") << PropertyList::toData(QStringLiteral("Yes"), PropertyList::Format::Binary);
        QVariantMap huge = cleanTable();
        huge.insert(QStringLiteral("Filler"), QString(5 << 20, u'x'));
        QTest::newRow("beyond 4 MiB") << PropertyList::toData(huge, PropertyList::Format::XML);
    }

    void unreadableTable()
    {
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath(QStringLiteral("unreadable-%1.plist").arg(++m_tables));
        if (!content.isNull())
            QVERIFY(TestSupport::writeFile(path, content));
        const Result r = run({path});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QStringList());
        QCOMPARE(r.err.size(), 1);
        QVERIFY2(r.err[0].contains(path), qPrintable(r.err[0]));
    }

    void usageError_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("two tables") << QStringList{"a.plist", "b.plist"};
        QTest::newRow("user without name") << QStringList{"a.plist", "--user"};
        QTest::newRow("empty user name") << QStringList{"a.plist", "--user", ""};
        QTest::newRow("unknown option") << QStringList{"a.plist", "--fix"};
    }

    void usageError()
    {
        QFETCH(QStringList, args);
        const Result r = run(args);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QStringList());
        QCOMPARE(r.err.size(), 1);
    }
};

QTEST_GUILESS_MAIN(CheckDeploymentTest)
#include "CheckDeploymentTest.moc"
