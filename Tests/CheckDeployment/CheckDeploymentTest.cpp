// zvtool check-deployment: the program as a deployer runs it (the forms of a table, notes,
// findings in order, refused tables and arguments), and its checks in process for one changed
// value each. The clean table is the build's default one (the Pelloma sample). The temp folder
// lies in the build folder rather than in /tmp, so that the scratch-file rule (no world-writable
// folder above a scratch file) can be tried on folders the test makes world-writable or not.
#include "CheckDeployment.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVUninstallProcedure_p.h"
#include <QTemporaryDir>
#include <QtTest>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

static const QString &kAlert = ZVConfiguredValues::kAlertMessageKey;
static QStringList lines(const QByteArray &bytes) { return QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts); }
// PATH made with that owner and mode when the test runs as root, and FILE in it; null otherwise.
static QVariant folderOwnedBy(const QString &path, uid_t uid, gid_t gid, mode_t mode, const char *file)
{
    const QByteArray name = QFile::encodeName(path);
    const bool made = ::geteuid() == 0 && QDir().mkpath(path) && ::chown(name.constData(), uid, gid) == 0 && ::chmod(name.constData(), mode) == 0;
    return made ? QVariant(path + file) : QVariant();
}

class CheckDeploymentTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir{TestSupport::binaryDir() + QStringLiteral("/CheckDeployment-XXXXXX")};
    QVariantMap m_clean;
    int m_tables = 0;
    bool m_openAbove = false;  // a folder above the temp folder is world-writable

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_clean = PropertyList::readFile(TestSupport::binaryDir() + "/bin/Localizable.plist").value_or(QVariant()).toMap();
        QVERIFY(m_clean.contains("ApplicationExecName"));
        QVERIFY(QFile::link("/", m_dir.filePath("toRoot")) && QFile::link("/usr", m_dir.filePath("toUsr")));
        QVERIFY(QFile::link("/bin", m_dir.filePath("toBin")) && QFile::link(m_dir.filePath("open"), m_dir.filePath("toOpen")));
        QVERIFY(QDir(m_dir.path()).mkdir("open") && QDir(m_dir.path()).mkdir("closed"));
        QVERIFY(QFile::setPermissions(m_dir.filePath("open"), QFileDevice::Permissions(0x7777))
                && QFile::setPermissions(m_dir.filePath("closed"), QFileDevice::Permissions(0x7755)));
        for (QString f = m_dir.path(); f != QLatin1String("/"); f = QFileInfo(f).path())
            m_openAbove |= QFileInfo(f).permission(QFile::WriteOther);
    }

    // The program on a table holding BYTES (none when null; "{T}" in ARGS and ERR is its path):
    // a clean table passes, read by the lookup's reader (every form a Mac writes, as the property
    // list tests try), with a note per process name unless --quiet; findings come in the table's order, "%@" standing for --user or else
    // for the user running the check; an unreadable table and wrong arguments are refused.
    void program_data()
    {
        QTest::addColumn<QByteArray>("bytes"); QTest::addColumn<QStringList>("args"); QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("out"); QTest::addColumn<QStringList>("err");
        auto quoted = [](QString text) { return u'"' + text.replace(u'\\', "\\\\").replace(u'"', "\\\"").replace(u'\n', "\\n") + u'"'; };
        QString oldStyle = QStringLiteral("/* a deployment's table */\n{\n");
        for (auto it = m_clean.cbegin(); it != m_clean.cend(); ++it)
            oldStyle += quoted(it.key()) + " = " + quoted(it.value().toString()) + ";\n";
        oldStyle += u'}';
        const QString xml = QString::fromUtf8(PropertyList::toData(m_clean, PropertyList::Format::XML));
        QStringList notes;
        for (const char *key : {"ApplicationExecName", "MonitorExecName", "DaemonExecName", "WebManagementExecName", "ExecuterName",
                                "STunnelName", "SchedulerExecuterName", "SchedulerSTunnelName"})
            notes << QStringLiteral("%1: note: start the program so that \"%2\" stands within the first 27 characters of its "
                                    "command line, where ps cuts its COMMAND column").arg(QString(key), m_clean.value(key).toString());
        const QStringList quiet{"{T}", "--quiet"}, none;
        auto row = [](const char *name, const QByteArray &bytes, const QStringList &args, int code, const QStringList &out, const QStringList &err) {
            QTest::newRow(name) << bytes << args << code << out << err;
        };
        row("xml, notes", xml.toUtf8(), {"{T}"}, 0, none, notes);
        row("xml, notes, --user", xml.toUtf8(), {"{T}", "--user", "ann"}, 0, none, notes);
        row("old-style", oldStyle.toUtf8(), quiet, 0, none, none);
        row("binary", PropertyList::toData(m_clean, PropertyList::Format::Binary), quiet, 0, none, none);
        QVariantMap table = m_clean;
        table.insert({{"LogoutCommandOutputFilePath", "/tmp/logout.txt"}, {"ApplicationName", ""}, {"LoginInfo", "/home/%@"}});
        table.remove("DaemonPlist");
        for (const QString &user : {currentUserName(), QStringLiteral("ann")}) {
            row(user == "ann" ? "findings in order, --user" : "findings in order", PropertyList::toData(table, PropertyList::Format::XML),
                quiet + (user == "ann" ? QStringList{"--user", "ann"} : none), 1,
                {"ApplicationName: empty: the value is empty or only blanks",
                 "DaemonPlist: missing: the table lacks this key, so the uninstall uses the key text itself",
                 "LoginInfo: home-folder: rm -rf removes the home folder /home/" + user, "LogoutCommandOutputFilePath: world-writable: the uninstall writes \"/tmp/logout.txt\" in the world-writable folder /tmp where "
                 "somebody other than the administrators can put a link that the write follows and that rm -rf removes"}, none);
        }
        QVariantMap huge = m_clean;
        huge.insert("Filler", QString(5 << 20, u'x'));
        const QString problem = "zvtool: check-deployment: {T}: ";
        row("no file", QByteArray(), {"{T}"}, 1, none, {problem + "no such file"});
        row("cut short", "<?xml version=\"1.0\"?><plist><dict><key>Yes</key>", {"{T}"}, 1, none, {problem + "not a readable property list"});
        row("beyond 4 MiB", PropertyList::toData(huge, PropertyList::Format::XML), {"{T}"}, 1, none, {problem + "not a readable property list"});
        row("array", PropertyList::toData(QVariantList{"Yes"}, PropertyList::Format::XML), {"{T}"}, 1, none,
            {problem + "the property list is not a dictionary"});
        row("nothing", QByteArray(), none, 2, none, {"zvtool: check-deployment needs the path of a table (Localizable.plist)"});
        row("two tables", QByteArray(), {"a.plist", "b.plist"}, 2, none, {"zvtool: check-deployment takes one table, not 'b.plist' as well"});
        row("user without name", QByteArray(), {"a.plist", "--user"}, 2, none, {"zvtool: check-deployment: --user needs a user name"});
        row("empty user name", QByteArray(), {"a.plist", "--user", ""}, 2, none, {"zvtool: check-deployment: --user needs a user name"});
        row("unknown option", QByteArray(), {"a.plist", "--fix"}, 2, none, {"zvtool: check-deployment: unknown option '--fix'"});
    }
    void program()
    {
        QFETCH(QByteArray, bytes); QFETCH(QStringList, args); QFETCH(int, exitCode);
        QFETCH(QStringList, out); QFETCH(QStringList, err);
        const QString table = m_dir.filePath(QStringLiteral("table%1.plist").arg(++m_tables));
        QVERIFY(bytes.isNull() || TestSupport::writeFile(table, bytes));
        const TestSupport::Run r = TestSupport::zvtool(QStringList{"check-deployment"} + args.replaceInStrings("{T}", table));
        QCOMPARE(lines(r.out), out);
        QCOMPARE(lines(r.err), err.replaceInStrings("{T}", table));
        QCOMPARE(r.exitCode, exitCode);
    }

    // Each row changes one key of the clean table (KEY=VALUE; a missing one is taken out) and
    // expects a finding "KEY: CATEGORY: ..." (none at all for "harmless") and no finding for
    // another key. {dir} is the temp folder; "Alert" the alert message's key.
    void finding_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");    // invalid: taken out (skipped unless "missing")
        QTest::addColumn<QString>("category");  // empty: harmless
        QTest::addColumn<QString>("reported");
        const QString dir = m_dir.path();
        auto row = [&](const char *name, const QString &key, const QVariant &value, const char *category, const char *reported = nullptr) {
            QTest::newRow(name) << key << value << QString(category) << (reported ? QString(reported) : key);
        };
        auto rows = [&](const char *category, const QStringList &changes) {
            for (const QString &change : changes)
                row(qPrintable(category + (" " + change)), change.section('=', 0, 0) == "Alert" ? kAlert : change.section('=', 0, 0),
                    qstrcmp(category, "missing") ? QVariant(change.section('=', 1).replace("{dir}", dir)) : QVariant(), category);
        };
        rows("missing", {"DaemonPlist=", "DaemonExecName=", "Alert="});
        row("integer", "SchedulerLoginInfo", qint64(5), "not-string");
        row("boolean", "ApplicationName", true, "not-string");
        row("array", "ApplicationExecName", QVariantList{"PellomaApp"}, "not-string");
        row("dictionary", "DaemonUnloadCommand", QVariantMap{{"a", "b"}}, "not-string");
        rows("empty", {"ApplicationName=", "Yes=", "DaemonUnloadCommand=", "WebDaemonUnloadCommand= \t ", "ApplicationExecName=", "RecieptFilePath="});
        rows("not-absolute", {"RecieptFilePath=var/db/receipt.plist", "UninstallerFilePath=uninstall.plist", "ApplicationExecPath=PellomaApp",
                              "ApplicationPreferenceFile=~/.config/Pelloma/%@.plist", "LoginInfo=%@/login.info", "ApplicationStatusPath=status.plist",
                              "ApplicationStatusPath=~nosuchuser-zv/status", "LastConsoleUserNameFilePath=console.txt"});
        rows("placeholder-count", {"ShortcutPath=/home/ann/Desktop/Pelloma.desktop", "DaemonUserDefaultsFile=/home/%@/%@.plist"});
        rows("lone-percent", {"ApplicationStatusPath=/var/lib/Pelloma/100%.status", "UninstallProcessInstanceCommandOutputFilePath=/var/lib/Pelloma/ps%",
                              "LogoutCommandOutputFilePath=/var/lib/Pelloma/%@.txt", "MonitorUserDefaultsFile=/home/%@/50%.plist", "Alert=100% sure?"});
        rows("system-folder", {"ApplicationsFolder=/", "ApplicationsFolder=/usr", "ApplicationsFolder=/opt", "ApplicationsFolder=/opt/Pelloma/../../usr/",
                               "DaemonPlist=//etc//", "WebDaemonPlist=/var/./", "DaemonPlist=/..", "RecieptFilePath=/Applications",
                               "SchedulerState=/Library", "SchedulerLoginInfo=/System", "ApplicationsFolder=/Users/", "ApplicationStatusPath=/tmp",
                               "DaemonUserDefaultsFile=/home/%@/../..", "UninstallProcessInstanceCommandOutputFilePath=/var/lib/Pelloma/../../..",
                               "DaemonPlist={dir}/toRoot/usr", "DaemonPlist={dir}/toUsr/", "ApplicationsFolder={dir}/toUsr/bin/", "RecieptFilePath={dir}/toBin/"});
        // /bin and /lib are links into /usr on this system: their targets are system folders too.
        const bool usrMerged = QFileInfo(QStringLiteral("/bin")).isSymLink();
        row("usr bin", "ApplicationsFolder", usrMerged ? QVariant("/usr/bin") : QVariant(), "system-folder");
        row("usr lib", "DaemonPlist", usrMerged ? QVariant("/usr/lib/") : QVariant(), "system-folder");
        rows("home-folder", {"LoginInfo=/home/%@", "MonitorUserDefaultsFile=/Users/%@/", "ApplicationStatusPath=~", "ShortcutPath=~/%@/..",
                             "ApplicationPreferenceFile=/home/someone-else/%@/.."});
        // A home from the password database neither a system folder nor under /home, and a folder
        // above such a home that is no system folder itself.
        QStringList system{"/", "/Applications", "/Library", "/System", "/Users", "/usr", "/etc", "/bin", "/sbin", "/lib", "/lib64",
                           "/var", "/opt", "/home", "/root", "/boot", "/dev", "/proc", "/sys", "/run", "/tmp", "/Volumes"};
        for (const QString &folder : QStringList(system))
            system << QFileInfo(folder).canonicalFilePath();
        QVariant home, parent;
        for (setpwent(); const passwd *pw = getpwent();) {
            const QString d = QDir::cleanPath(QString::fromLocal8Bit(pw->pw_dir ? pw->pw_dir : "")), up = QFileInfo(d).path();
            if (d.startsWith('/') && !system.contains(d) && !d.startsWith("/home/") && !d.startsWith("/Users/"))
                home = home.isValid() ? home : d, parent = parent.isValid() || system.contains(up) ? parent : up;
        }
        endpwent();
        row("home from the password database", "DaemonPlist", home, "home-folder");
        row("folder holding a home", "SchedulerState", parent, "home-folder");
        rows("world-writable", {"UninstallProcessInstanceCommandOutputFilePath=/tmp/pelloma-ps.txt", "LastConsoleUserNameFilePath=/var/tmp/console.txt",
                                "LogoutCommandOutputFilePath=/dev/shm/Pelloma/logout.txt", "LogoutCommandOutputFilePath={dir}/open/logout.txt",
                                "LastConsoleUserNameFilePath={dir}/open/sub/console.txt", "UninstallerFilePath={dir}/open/KillDaemon.plist",
                                "SchedulerSettingsFile={dir}/open/sub/Schedules.plist", "UninstallerFilePath={dir}/toOpen/KillDaemon.plist"});
        row("group not the administrators'", "SchedulerSettingsFile", folderOwnedBy(dir + "/nogroup", 0, 65534, 0775, "/S.plist"), "group-writable");
        row("owned by a user", "UninstallProcessInstanceCommandOutputFilePath", folderOwnedBy(dir + "/nobody", 65534, 0, 0755, "/ps.txt"), "user-owned");
        rows("shell-quoting", {"LastConsoleUserNameFilePath=/var/lib/Pelloma/a\"b.txt", "UninstallProcessInstanceCommandOutputFilePath=/var/lib/Pelloma/$HOME.txt"});
        rows("blank", {"DaemonExecName=Pelloma Daemon", "ExecuterName=Pelloma\tExec"});
        rows("shell-character", {"STunnelName=Pelloma;rm", "SchedulerExecuterName=Pelloma|cat", "SchedulerSTunnelName=Pel'loma"});
        rows("grep-pattern", {"WebManagementExecName=Pelloma.app", "DaemonExecName=Pelloma[1]", "ExecuterName=^PellomaExec"});
        rows("grep-option", {"STunnelName=-PellomaTunnel"});
        rows("non-ascii", {"DaemonExecName=PellomaDämon"});
        rows("too-short", {"WebManagementExecName=web"});
        rows("too-long", {"SchedulerExecuterName=PellomaSchedulerExecuter1234"});
        row("ends at character 28", "MonitorExecPath", "/opt/Pelloma//PellomaMonitor", "past-column-27", "MonitorExecName");
        row("deep application path", "ApplicationExecPath", "/opt/Pelloma/Pelloma.app/Contents/MacOS/PellomaApp", "past-column-27", "ApplicationExecName");
        // Values that look risky but are what a deployment may rightly hold.
        rows("", {"ApplicationName=Tavrin for Mac", "ApplicationsFolder=/opt/Tavrin/App", "ApplicationsFolder=/usr/local/Pelloma",
                  "ShortcutPath=~/Desktop/%@.desktop", "ApplicationPreferenceFile=/Users/%@/Library/Preferences/com.pelloma.plist",
                  "UninstallProcessInstanceCommandOutputFilePath=/var/lib/Pelloma/100%%.txt", "DaemonPlist=/etc/Pelloma/x/../daemon.plist",
                  "DaemonPlist={dir}/toUsr", "LogoutCommandOutputFilePath={dir}/closed/logout.txt", "ApplicationsFolder=/usr/bin/pelloma-sample",
                  "STunnelName=Ptun", "SchedulerSTunnelName=PellomaSchedulerTunnel12345", "DaemonExecName=pelloma-daemon",
                  "ApplicationExecPath=/opt/Pelloma/bin/a-launcher-with-a-long-name"});
        const group *admins = getgrnam("sudo");
        row("administrators' group folder", "UninstallerFilePath", admins ? folderOwnedBy(dir + "/admins", 0, admins->gr_gid, 02775, "/K.plist") : QVariant(), "");
    }
    void finding()
    {
        QFETCH(QString, key); QFETCH(QVariant, value); QFETCH(QString, category); QFETCH(QString, reported);
        if (!value.isValid() && category != QLatin1String("missing"))
            QSKIP("this machine has no such folder");
        if (category.isEmpty() && m_openAbove && value.toString().startsWith(m_dir.path()))
            QSKIP("the build folder lies in a world-writable folder");
        QVariantMap table = m_clean;
        value.isValid() ? void(table.insert(key, value)) : void(table.remove(key));
        QStringList found, others;
        for (const DeploymentFinding &f : checkDeployment(table, "ann"))
            (f.key == reported ? found : others) << f.line();
        QCOMPARE(others, QStringList());
        const QString prefix = QString(reported).replace(u'\n', "\\n") + ": " + category + ": ";
        QVERIFY2(category.isEmpty() ? found.isEmpty() : std::any_of(found.cbegin(), found.cend(), [&](auto &l) { return l.startsWith(prefix); }),
                 qPrintable(found.join(u'\n')));
    }

    // One change to the table of configured values, and nothing else, changes both what the
    // uninstall acts on and what the check judges. The deployment holds VALUE for KEY; the changed
    // table gives KEY the use USE and the step STEP as well. Before and after: KEY's finding, and
    // what step STEP acts on under KEY (null: KEY is not among its targets).
    void tableDrivesBoth_data()
    {
        QTest::addColumn<QString>("key"); QTest::addColumn<uint>("use"); QTest::addColumn<int>("step");
        QTest::addColumn<QStringList>("before"); QTest::addColumn<QStringList>("after");
        const QString user = currentUserName();
        QTest::newRow("a user path standardized") << "ApplicationPreferenceFile" << uint(ZVConfiguredValues::Standardized) << 13
            << QStringList{"not-absolute", "~/" + user + "-prefs.plist"} << QStringList{"", m_dir.filePath("home/") + user + "-prefs.plist"};
        QTest::newRow("the schedule list removed too") << "SchedulerSettingsFile" << uint(ZVConfiguredValues::Removed) << 25
                                                       << QStringList{"", QString()} << QStringList{"system-folder", "/var"};
    }
    void tableDrivesBoth()
    {
        QFETCH(QString, key); QFETCH(uint, use); QFETCH(int, step);
        QFETCH(QStringList, before); QFETCH(QStringList, after);
        // The deployment holds every row's value at once: the lookup reads its table once.
        QVariantMap values = m_clean;
        values.insert({{"ApplicationPreferenceFile", "~/%@-prefs.plist"}, {"SchedulerSettingsFile", "/var"}});
        static const bool loaded = TestSupport::redirectHome(m_dir.path()) && QDir().mkpath(m_dir.filePath("deployment"))
                                   && TestSupport::useTable(m_dir.filePath("deployment"), values);
        QVERIFY(loaded);
        ZVConfiguredValues changed = ZVConfiguredValues::standard();
        for (ZVConfiguredValues::Entry &entry : changed.entries) {
            if (entry.key == key)
                entry.uses |= use, entry.steps.append(step);
        }
        const auto outcome = [&](const ZVConfiguredValues &table) {
            QStringList outcome{"", QString()};
            for (const DeploymentFinding &f : checkDeployment(values, currentUserName(), table))
                outcome[0] = f.key == key ? f.category : outcome[0];
            for (const ZVUninstallProcedure::PlannedStep &p : ZVUninstallProcedure(table).plan()) {
                for (const ZVUninstallProcedure::Target &t : p.targets)
                    outcome[1] = p.step.number == step && t.key == key ? t.value : outcome[1];
            }
            return outcome;
        };
        QCOMPARE(outcome(ZVConfiguredValues::standard()), before);
        QCOMPARE(outcome(changed), after);
    }
};

QTEST_GUILESS_MAIN(CheckDeploymentTest)
#include "CheckDeploymentTest.moc"
