// zvtool check-deployment as a deployer runs it, and its checks in process for one changed value
// each of the build's default table (the Pelloma sample). The temp folder lies in the build folder,
// not in /tmp, so that folders above a scratch file can be made world-writable or not.
#include "CheckDeployment.h"
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
    bool m_openAbove = false;  // a folder above the temp folder is world-writable

private slots:
    void initTestCase()
    {
        m_clean = PropertyList::readFile(TestSupport::binaryDir() + "/bin/Localizable.plist").value_or(QVariant()).toMap();
        QVERIFY(m_dir.isValid() && m_clean.contains("ApplicationExecName"));
        QVERIFY(QFile::link("/", m_dir.filePath("toRoot")) && QFile::link("/usr", m_dir.filePath("toUsr")));
        QVERIFY(QFile::link("/bin", m_dir.filePath("toBin")) && QFile::link(m_dir.filePath("open"), m_dir.filePath("toOpen")));
        QVERIFY(QDir(m_dir.path()).mkdir("open") && QDir(m_dir.path()).mkdir("closed"));
        QVERIFY(QFile::setPermissions(m_dir.filePath("open"), QFileDevice::Permissions(0x7777))
                && QFile::setPermissions(m_dir.filePath("closed"), QFileDevice::Permissions(0x7755)));
        for (QString f = m_dir.path(); f != QLatin1String("/"); f = QFileInfo(f).path())
            m_openAbove |= QFileInfo(f).permission(QFile::WriteOther);
    }

    // The program on a table holding BYTES (none when null; "{T}" in ARGS and ERR is its path): notes
    // unless --quiet; findings in the table's order, "%@" standing for --user or else the user running it.
    void program_data()
    {
        QTest::addColumn<QByteArray>("bytes"); QTest::addColumn<QStringList>("args"); QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("out"); QTest::addColumn<QStringList>("err");
        QStringList notes;
        for (const char *key : {"ApplicationExecName", "MonitorExecName", "DaemonExecName", "WebManagementExecName", "ExecuterName",
                                "STunnelName", "SchedulerExecuterName", "SchedulerSTunnelName"})
            notes << QStringLiteral("%1: note: start the program so that \"%2\" stands within the first 27 characters of its "
                                    "command line, where ps cuts its COMMAND column").arg(QString(key), m_clean.value(key).toString());
        const QStringList quiet{"{T}", "--quiet"}, none;
        auto row = [](const char *name, const QByteArray &bytes, const QStringList &args, int code, const QStringList &out, const QStringList &err) {
            QTest::newRow(name) << bytes << args << code << out << err;
        };
        row("clean, notes", PropertyList::toData(m_clean, PropertyList::Format::XML), {"{T}"}, 0, none, notes);
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
        const QString problem = "zvtool: check-deployment: {T}: ";
        row("no file", QByteArray(), {"{T}"}, 1, none, {problem + "no such file"});
        row("cut short", "<?xml version=\"1.0\"?><plist><dict><key>Yes</key>", {"{T}"}, 1, none, {problem + "not a readable property list"});
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
        const QString table = m_dir.filePath(QString(QTest::currentDataTag()) + ".plist");
        QVERIFY(bytes.isNull() || TestSupport::writeFile(table, bytes));
        const TestSupport::Run r = TestSupport::zvtool(QStringList{"check-deployment"} + args.replaceInStrings("{T}", table));
        QCOMPARE(lines(r.out), out);
        QCOMPARE(lines(r.err), err.replaceInStrings("{T}", table));
        QCOMPARE(r.exitCode, exitCode);
    }

    // One key of the clean table changed (KEY=VALUE; "missing": taken out): a finding "KEY: CATEGORY:"
    // (none for category ""), none for another key. {dir}: the temp folder; "Alert": the alert's key.
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
        rows("missing", {"DaemonPlist=", "Alert="});
        row("array", "ApplicationExecName", QVariantList{"PellomaApp"}, "not-string");
        rows("empty", {"ApplicationName=", "WebDaemonUnloadCommand= \t "});
        rows("not-absolute", {"RecieptFilePath=var/db/receipt.plist", "ApplicationPreferenceFile=~/.config/Pelloma/%@.plist",
                              "LoginInfo=%@/login.info", "ApplicationStatusPath=status.plist", "ApplicationStatusPath=~nobody-zv/x"});
        rows("placeholder-count", {"ShortcutPath=/home/ann/Desktop/Pelloma.desktop", "DaemonUserDefaultsFile=/home/%@/%@.plist"});
        rows("lone-percent", {"ApplicationStatusPath=/var/lib/100%.status", "UninstallProcessInstanceCommandOutputFilePath=/var/ps%",
                              "LogoutCommandOutputFilePath=/var/lib/Pelloma/%@.txt", "MonitorUserDefaultsFile=/home/%@/50%.plist",
                              "Alert=100% sure?"});
        rows("system-folder", {"ApplicationsFolder=/", "ApplicationsFolder=/opt/Pelloma/../../usr/", "DaemonPlist=//etc//",
                               "DaemonPlist=/..", "DaemonUserDefaultsFile=/home/%@/../..", "DaemonPlist={dir}/toRoot/usr",
                               "DaemonPlist={dir}/toUsr/", "RecieptFilePath={dir}/toBin/"});
        rows("home-folder", {"LoginInfo=/home/%@", "MonitorUserDefaultsFile=/Users/%@/", "ApplicationStatusPath=~",
                             "ShortcutPath=/home/bob/%@/.."});
        // A home from the password database, 3+ folders deep outside /usr and /home, and the folder holding it.
        QVariant home, parent;
        for (setpwent(); const passwd *pw = getpwent();) {
            const QString d = QDir::cleanPath(QString::fromLocal8Bit(pw->pw_dir ? pw->pw_dir : ""));
            if (!home.isValid() && d.startsWith('/') && d.count('/') >= 3 && !d.startsWith("/usr/") && !d.startsWith("/home/"))
                home = d, parent = QFileInfo(d).path();
        }
        endpwent();
        row("home from the password database", "DaemonPlist", home, "home-folder");
        row("folder holding a home", "SchedulerState", parent, "home-folder");
        rows("world-writable", {"UninstallProcessInstanceCommandOutputFilePath=/tmp/pelloma-ps.txt",
                                "SchedulerSettingsFile={dir}/open/a/S.plist", "UninstallerFilePath={dir}/toOpen/KillDaemon.plist"});
        row("group not the administrators'", "SchedulerSettingsFile", folderOwnedBy(dir + "/nogroup", 0, 65534, 0775, "/S.plist"), "group-writable");
        row("owned by a user", "UninstallProcessInstanceCommandOutputFilePath", folderOwnedBy(dir + "/nobody", 65534, 0, 0755, "/ps.txt"), "user-owned");
        for (const auto &[category, change] : {std::pair("shell-quoting", "LastConsoleUserNameFilePath=/var/lib/Pelloma/a\"b.txt"),
                 {"blank", "DaemonExecName=Pelloma Daemon"}, {"shell-character", "STunnelName=Pelloma;rm"},
                 {"grep-pattern", "DaemonExecName=Pelloma[1]"}, {"grep-option", "STunnelName=-PellomaTunnel"},
                 {"non-ascii", "DaemonExecName=PellomaDämon"}, {"too-short", "WebManagementExecName=web"},
                 {"too-long", "SchedulerExecuterName=PellomaSchedulerExecuter1234"}})
            rows(category, {change});
        row("ends at character 28", "MonitorExecPath", "/opt/Pelloma//PellomaMonitor", "past-column-27", "MonitorExecName");
        // Values that look risky but are what a deployment may rightly hold.
        rows("", {"ApplicationsFolder=/opt/Tavrin/App", "ShortcutPath=~/Desktop/%@.desktop", "DaemonPlist=/etc/Pelloma/x/../d.plist",
                  "DaemonPlist={dir}/toUsr", "UninstallProcessInstanceCommandOutputFilePath=/var/lib/100%%.txt", "STunnelName=Ptun",
                  "LogoutCommandOutputFilePath={dir}/closed/logout.txt", "SchedulerSTunnelName=PellomaSchedulerTunnel12345"});
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

    // One change to the table of configured values changes both what the uninstall acts on and what
    // the check judges: the schedule list (here /var) also removed in step 25.
    void tableDrivesBoth()
    {
        const QString key = "SchedulerSettingsFile";
        QVariantMap values = m_clean;
        values.insert(key, "/var");
        QVERIFY(QDir().mkpath(m_dir.filePath("deployment")) && TestSupport::useTable(m_dir.filePath("deployment"), values));
        ZVConfiguredValues changed = ZVConfiguredValues::standard();
        for (ZVConfiguredValues::Entry &entry : changed.entries) {
            if (entry.key == key)
                entry.uses |= ZVConfiguredValues::Removed, entry.steps.append(25);
        }
        const auto outcome = [&](const ZVConfiguredValues &table) {
            QStringList outcome{"", QString()};
            for (const DeploymentFinding &f : checkDeployment(values, "ann", table))
                outcome[0] = f.key == key ? f.category : outcome[0];
            for (const ZVUninstallProcedure::PlannedStep &p : ZVUninstallProcedure(table).plan()) {
                for (const ZVUninstallProcedure::Target &t : p.targets)
                    outcome[1] = p.step.number == 25 && t.key == key ? t.value : outcome[1];
            }
            return outcome;
        };
        QCOMPARE(outcome(ZVConfiguredValues::standard()), (QStringList{"", QString()}));
        QCOMPARE(outcome(changed), (QStringList{"system-folder", "/var"}));
    }
};

QTEST_GUILESS_MAIN(CheckDeploymentTest)
#include "CheckDeploymentTest.moc"
