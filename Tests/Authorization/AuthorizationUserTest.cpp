// ZVAuthentication for a real non-root account: the test (run as root) makes an account with
// a password and a sudoers rule that requires it, runs AuthorizationUserHelper as that account
// and checks what the helper reports and what it did on disk. Without a system bus the rights
// come through sudo; the polkit checks run each helper inside a private mount namespace with
// its own system bus, polkitd and the product's action file, and an administrator account
// (group sudo) whose password the product's agent asks for on the helper's terminal. The account, its rule and sudo's
// record of it are removed at the end, also when a check fails; an earlier run that was killed
// is cleaned up at the next start (its rule names the process that made it).

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSudoersFolder = "/etc/sudoers.d";
const QString kAccountPrefix = "zvauthtest";

int run(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void removeAccount(const QString &name)
{
    QFile::remove(kSudoersFolder + "/" + name);
    run("/usr/sbin/userdel", {"--force", name});
    QFile::remove("/run/sudo/ts/" + name);
}

// Accounts left by a run that was killed before its clean-up: their rule names a process
// that no longer exists.
void removeStaleAccounts()
{
    const QStringList rules = QDir(kSudoersFolder).entryList({kAccountPrefix + "*"}, QDir::Files);
    for (const QString &rule : rules) {
        const QByteArray text = TestSupport::readFile(kSudoersFolder + "/" + rule);
        const qsizetype at = text.indexOf("pid ");
        const QByteArray pid = at < 0 ? QByteArray() : text.mid(at + 4).split('\n').first().trimmed();
        if (pid.isEmpty() || !QFileInfo::exists("/proc/" + QString::fromLatin1(pid)))
            removeAccount(rule);
    }
}

QString randomText(int length, const char *alphabet)
{
    const int n = int(qstrlen(alphabet));
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(alphabet[QRandomGenerator::system()->bounded(n)]);
    return text;
}

// Removes the accounts even when the program ends without cleanupTestCase (a failed QVERIFY
// in initTestCase, exit()).
struct AccountGuard {
    QString name;
    ~AccountGuard()
    {
        if (!name.isEmpty())
            removeAccount(name);
    }
};
AccountGuard guard;
AccountGuard adminGuard;

// Starts a system bus and polkitd on a private /run/dbus, with the actions folder given as $1
// over the machine's, runs the rest of the arguments and stops both again.
const char kPolkitSandbox[] = R"(set -u
mount -t tmpfs tmpfs /run/dbus && mount --bind "$1" /usr/share/polkit-1/actions || exit 96
shift
bus=$(dbus-daemon --system --fork --print-pid) || exit 96
/usr/lib/polkit-1/polkitd --no-debug >/dev/null 2>&1 & authority=$!
n=0
until gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus     --method org.freedesktop.DBus.NameHasOwner org.freedesktop.PolicyKit1 2>/dev/null | grep -q true; do
  n=$((n+1)); [ $n -lt 200 ] || { kill $authority $bus; exit 97; }; sleep 0.05
done
"$@"; status=$?
kill $authority $bus
exit $status
)";

using Report = QMap<QString, QString>;

// One run of the helper. Under a terminal (TERMINAL), the product's agent asks there and
// TERMINALANSWERS answers it, one letter a password prompt (R the administrator's password,
// W a wrong one, C cancel); AFTERWARDS then runs in the same terminal once the helper ended.
struct HelperRun {
    QString scenario = {};
    QString answers = {};
    QString sandbox = {};
    bool waitForStart = false;
    std::function<void()> whileRunning = {};
    bool terminal = false;
    bool polkit = false;
    // Runs the helper where /usr/bin/sudo cannot be run (and no polkit authority answers).
    bool withoutSudo = false;
    QString terminalAnswers = {};
    QString afterwards = {};
};

} // namespace

class AuthorizationUserTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void rightPasswordGrantsAndToolRunsAsRoot();
    void refusedAuthorizationLeavesSandboxUnchanged();
    void requestAfterDeauthenticateAsksAgain();
    void rightsEndWithTheProgram();
    void neitherPolkitNorSudoSaysSo();
    void polkitAdministratorGrantsStandardUser();
    void polkitWrongPasswordThenCancelChangesNothing();

private:
    // Runs the helper as the account; WHILERUNNING is called once the tool it starts as root
    // has written SANDBOX/started (when WAITFORSTART), before it is released.
    Report runHelper(const HelperRun &run);
    QString makeSandbox(QTemporaryDir &dir);
    // Makes the administrator account and the private actions folder once; false (and the
    // reason in m_polkitSkip) when polkit's programs or the product's agent are missing.
    bool preparePolkit();
    // Lists every process whose arguments or environment hold SECRET.
    QStringList scanProcesses(const QByteArray &secret, const QString &mark, bool *markSeen,
        int *processesRead);

    QString m_admin;
    QString m_adminPassword;
    QString m_polkitSkip;

    QString m_account;
    QString m_password;
    QTemporaryDir m_programs;
    QString m_helper;
    QString m_runtime;
};

void AuthorizationUserTest::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("making a test account needs root");
    if (!QFileInfo::exists("/usr/bin/sudo") || !QFileInfo::exists("/usr/sbin/useradd"))
        QSKIP("sudo and useradd are needed (scripts/setup.sh installs them)");
    removeStaleAccounts();

    // The helper and the library, where the account can read them.
    QVERIFY(m_programs.isValid());
    QVERIFY(QFile::setPermissions(m_programs.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
        | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther
        | QFileDevice::ReadGroup | QFileDevice::ExeGroup));
    const QString built = qEnvironmentVariable("ZV_AUTH_HELPER");
    QVERIFY2(QFileInfo::exists(built), qPrintable("no helper at " + built));
    m_helper = m_programs.filePath("AuthorizationUserHelper");
    QVERIFY(QFile::copy(built, m_helper));
    QVERIFY(QFile::copy(QFileInfo(built).absolutePath() + "/libZVCommon.so",
        m_programs.filePath("libZVCommon.so")));

    m_account = kAccountPrefix + randomText(8, "abcdefghijklmnopqrstuvwxyz0123456789");
    m_password = "Zv-" + randomText(24, "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");
    QCOMPARE(run("/usr/sbin/useradd", {"--no-create-home", "--shell", "/usr/sbin/nologin",
                     "--comment", "AuthorizationUserTest", m_account}), 0);
    guard.name = m_account;
    QCOMPARE(run("/usr/sbin/chpasswd", {}, (m_account + ":" + m_password + "\n").toUtf8()), 0);

    const QString rule = kSudoersFolder + "/" + m_account;
    const QString draft = m_programs.filePath("rule");
    QVERIFY(TestSupport::writeFile(draft,
        QString("# Made by AuthorizationUserTest, pid %1\n%2 ALL=(ALL:ALL) ALL\n")
            .arg(getpid()).arg(m_account).toUtf8()));
    QCOMPARE(run("/usr/sbin/visudo", {"-cqf", draft}), 0);
    QVERIFY(QFile::setPermissions(draft, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    QVERIFY(QFile::copy(draft, rule));
    QVERIFY(QFile::setPermissions(rule, QFileDevice::ReadOwner | QFileDevice::ReadGroup));

    // The account's own runtime folder for Qt, inside the test's temp folder.
    const passwd *entry = getpwnam(m_account.toLocal8Bit().constData());
    QVERIFY(entry);
    m_runtime = m_programs.filePath("runtime");
    QVERIFY(QDir().mkpath(m_runtime));
    QCOMPARE(chown(QFile::encodeName(m_runtime).constData(), entry->pw_uid, entry->pw_gid), 0);
    QCOMPARE(chmod(QFile::encodeName(m_runtime).constData(), 0700), 0);
}

void AuthorizationUserTest::cleanupTestCase()
{
    for (AccountGuard *g : {&guard, &adminGuard}) {
        if (!g->name.isEmpty())
            removeAccount(g->name);
        g->name.clear();
    }
    QVERIFY(m_account.isEmpty() || !QFileInfo::exists(kSudoersFolder + "/" + m_account));
}

// A sandbox the account can pass through, holding a product that only root can remove, and a
// stand-in "sudo" that records being run.
QString AuthorizationUserTest::makeSandbox(QTemporaryDir &dir)
{
    const QString root = dir.path();
    chmod(QFile::encodeName(root).constData(), 0755);
    TestSupport::writeFile(root + "/product/Contents/data", "product data\n");
    chmod(QFile::encodeName(root + "/product").constData(), 0755);
    chmod(QFile::encodeName(root + "/product/Contents").constData(), 0755);
    chmod(QFile::encodeName(root + "/product/Contents/data").constData(), 0600);
    TestSupport::writeFile(root + "/fakebin/sudo",
        QString("#!/bin/sh\necho \"$@\" > '%1/fakebin/ran'\n").arg(root).toUtf8());
    chmod(QFile::encodeName(root + "/fakebin").constData(), 0777);
    chmod(QFile::encodeName(root + "/fakebin/sudo").constData(), 0755);
    return root;
}

Report AuthorizationUserTest::runHelper(const HelperRun &run)
{
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Offscreen unless the test itself runs on another platform (xcb under Xvfb).
    if (!env.contains("QT_QPA_PLATFORM"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", m_runtime);
    env.insert("ZV_AUTHORIZATION_PROMPT", "terminal");
    env.insert("ZV_AUTHORIZATION_AGENT", m_programs.filePath("ZVAuthorizationAgent"));
    env.insert("ZV_PRIVILEGED_TOOL", m_programs.filePath("ZVPrivilegedTool"));
    helper.setProcessEnvironment(env);
    helper.setWorkingDirectory(m_programs.path());
    helper.setProcessChannelMode(QProcess::SeparateChannels);
    const QString passwordFile = m_programs.filePath("password");
    if (!run.terminal) {
        // No controlling terminal: sudo then keeps its credential for the helper alone.
        helper.setChildProcessModifier([] { setsid(); });
        const QStringList command{"/usr/sbin/runuser", "-u", m_account, "--", m_helper,
            run.scenario, run.sandbox, run.answers};
        if (run.withoutSudo)
            helper.start("/usr/bin/unshare", QStringList{"-m", "--propagation", "private", "/bin/sh",
                "-c", "mount --bind /dev/null /usr/bin/sudo && exec \"$@\"", "sh"} + command);
        else
            helper.start(command.first(), command.mid(1));
    } else {
        // The password reaches the helper through a file only root reads, not an argument.
        TestSupport::writeFile(passwordFile, (m_password + "\n").toUtf8());
        chmod(QFile::encodeName(passwordFile).constData(), 0600);
        QString command = QString("/usr/sbin/runuser -u %1 -- %2 %3 '%4' '%5' < %6")
                              .arg(m_account, m_helper, run.scenario, run.sandbox, run.answers,
                                  run.answers.isEmpty() ? QString("/dev/null") : passwordFile);
        if (!run.afterwards.isEmpty())
            command += QString("; /usr/sbin/runuser -u %1 -- %2").arg(m_account, run.afterwards);
        const QStringList script{"/usr/bin/script", "-qfec", command, "/dev/null"};
        if (run.polkit)
            helper.start("/usr/bin/unshare", QStringList{"-m", "--propagation", "private",
                "/bin/sh", m_programs.filePath("polkit-sandbox.sh"), m_programs.filePath("actions")}
                + script);
        else
            helper.start(script.first(), script.mid(1));
    }
    if (!helper.waitForStarted(10000))
        return {{"error", "helper did not start"}};
    if (!run.terminal)
        helper.write((m_password + "\n").toUtf8());
    if (!run.terminal)
        helper.closeWriteChannel();

    QByteArray output;
    QByteArray pending;
    qsizetype nextAnswer = 0;
    int prompts = 0;
    bool released = false;
    QElapsedTimer clock;
    clock.start();
    while (helper.state() != QProcess::NotRunning && clock.elapsed() < 180000) {
        helper.waitForFinished(50);
        if (run.terminal) {
            const QByteArray more = helper.readAllStandardOutput();
            output += more;
            pending += more;
            if (pending.contains("Administrator (1-")) {
                // Choose the administrator by name among whichever identities are offered.
                QByteArray choice = "0";
                for (const QByteArray &line : pending.split('\n'))
                    if (line.trimmed().endsWith(". " + m_admin.toUtf8()))
                        choice = line.trimmed().split('.').first();
                helper.write(choice + "\n");
                pending.clear();
            } else if (pending.contains("Password for ") && pending.trimmed().endsWith(':')) {
                ++prompts;
                const QChar answer = nextAnswer < run.terminalAnswers.size()
                    ? run.terminalAnswers.at(nextAnswer++) : QChar('C');
                helper.write(answer == 'R' ? (m_adminPassword + "\n").toUtf8()
                        : answer == 'W' ? QByteArray("not-the-password\n") : QByteArray("\x04"));
                pending.clear();
            }
        }
        if (run.waitForStart && !released && QFileInfo::exists(run.sandbox + "/started")) {
            if (run.whileRunning)
                run.whileRunning();
            TestSupport::writeFile(run.sandbox + "/release", "");
            released = true;
        }
    }
    if (run.waitForStart && !released)
        TestSupport::writeFile(run.sandbox + "/release", "");
    QFile::remove(passwordFile);
    if (helper.state() != QProcess::NotRunning) {
        helper.kill();
        helper.waitForFinished(5000);
        return {{"error", "helper did not finish"}, {"output", QString::fromUtf8(output)}};
    }
    const QByteArray errors = helper.readAllStandardError();
    if (!errors.isEmpty())
        qInfo().noquote() << "helper stderr:" << errors;
    output += helper.readAllStandardOutput();
    Report report;
    report["exitCode"] = QString::number(helper.exitCode());
    report["terminalPrompts"] = QString::number(prompts);
    report["transcript"] = QString::fromUtf8(output);
    for (QByteArray line : output.split('\n')) {
        line = line.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            report[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
    }
    return report;
}

QStringList AuthorizationUserTest::scanProcesses(const QByteArray &secret, const QString &mark,
    bool *markSeen, int *processesRead)
{
    QStringList holders;
    QDirIterator it("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString dirPath = it.next();
        bool numeric = false;
        it.fileName().toInt(&numeric);
        if (!numeric)
            continue;
        const QByteArray cmdline = TestSupport::readFile(dirPath + "/cmdline");
        const QByteArray environment = TestSupport::readFile(dirPath + "/environ");
        if (cmdline.isEmpty() && environment.isEmpty())
            continue;
        ++*processesRead;
        *markSeen = *markSeen || cmdline.contains(mark.toUtf8());
        if (cmdline.contains(secret) || environment.contains(secret))
            holders << QString::fromUtf8(cmdline).replace('\0', ' ');
    }
    return holders;
}

bool AuthorizationUserTest::preparePolkit()
{
    if (!m_admin.isEmpty() || !m_polkitSkip.isEmpty())
        return m_polkitSkip.isEmpty();
    const QString built = qEnvironmentVariable("ZV_BINARY_DIR");
    for (const char *needed : {"/usr/bin/pkexec", "/usr/lib/polkit-1/polkitd",
             "/usr/bin/dbus-daemon", "/usr/bin/gdbus", "/usr/bin/unshare", "/usr/bin/script"})
        if (!QFileInfo::exists(needed))
            m_polkitSkip = QString(needed) + " is needed (scripts/setup.sh installs it)";
    for (const char *program : {"ZVAuthorizationAgent", "ZVPrivilegedTool"})
        if (!QFile::copy(built + "/bin/" + program, m_programs.filePath(program)))
            m_polkitSkip = QString(program) + " was not built (libpolkit-agent-1-dev missing?)";
    if (!m_polkitSkip.isEmpty())
        return false;
    // The machine's actions and the product's, naming this copy of the privileged tool.
    const QString actions = m_programs.filePath("actions");
    QDir().mkpath(actions);
    for (const QFileInfo &file : QDir("/usr/share/polkit-1/actions").entryInfoList(QDir::Files))
        QFile::copy(file.filePath(), actions + "/" + file.fileName());
    QByteArray policy = TestSupport::readFile(built + "/share/com.quillmarsh.uninstaller.policy");
    const qsizetype at = policy.indexOf("exec.path\">") + 11;
    policy.replace(at, policy.indexOf('<', at) - at, QFile::encodeName(m_programs.filePath("ZVPrivilegedTool")));
    TestSupport::writeFile(actions + "/com.quillmarsh.uninstaller.policy", policy);
    TestSupport::writeFile(m_programs.filePath("polkit-sandbox.sh"), kPolkitSandbox);
    // The account becomes a standard user; the administrator is a member of group sudo.
    QFile::remove(kSudoersFolder + "/" + m_account);
    m_admin = m_account + "a";
    m_adminPassword = "Zv-" + randomText(24, "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");
    TestSupport::writeFile(kSudoersFolder + "/" + m_admin,
        QString("# Made by AuthorizationUserTest, pid %1\n").arg(getpid()).toUtf8());
    QFile::setPermissions(kSudoersFolder + "/" + m_admin, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    adminGuard.name = m_admin;
    if (run("/usr/sbin/useradd", {"--no-create-home", "--shell", "/usr/sbin/nologin", "--groups",
            "sudo", "--comment", "AuthorizationUserTest", m_admin}) != 0
        || run("/usr/sbin/chpasswd", {}, (m_admin + ":" + m_adminPassword + "\n").toUtf8()) != 0)
        m_polkitSkip = "the administrator account could not be made";
    return m_polkitSkip.isEmpty();
}

void AuthorizationUserTest::rightPasswordGrantsAndToolRunsAsRoot()
{
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    int processesRead = 0;
    QStringList holders;
    bool helperSeen = false;
    const auto scanProcesses = [&] {
        holders += this->scanProcesses(m_password.toUtf8(), sandbox, &helperSeen, &processesRead);
    };

    const Report r = runHelper({.scenario = "grant", .answers = "R", .sandbox = sandbox, .waitForStart = true, .whileRunning = scanProcesses});
    qInfo() << r;
    QCOMPARE(r.value("exitCode"), "0");
    // A fresh reference: no right without asking, nor without the right to extend.
    QCOMPARE(r.value("status.noInteraction"), QString::number(-60007));
    QCOMPARE(r.value("status.noExtend"), QString::number(-60005));
    QCOMPARE(r.value("sudoBefore"), "false");
    QCOMPARE(r.value("authenticate"), "true");
    QCOMPARE(r.value("dialog1.name"), m_account);
    // The first 20 of 25 entries label the request; the second, 100 two-byte characters, is
    // cut to the 63 that fit in 127 bytes.
    QStringList labels{"/bin/rm", QString(63, QChar(0xE9))};
    for (int i = 3; i <= 20; ++i)
        labels << QString("e%1").arg(i);
    QCOMPARE(r.value("dialog1.details"), "Requested for: " + labels.join(", "));
    QCOMPARE(r.value("isAuthenticated"), "true");
    QCOMPARE(r.value("sudoShared"), "true");
    QCOMPARE(r.value("execute"), "true");
    QCOMPARE(r.value("dialogs"), "1");
    QCOMPARE(r.value("timedOut"), "false");
    QVERIFY(!r.contains("unexpectedDialog"));

    // The scan really read the processes (the helper's own command line among them) and found
    // the password in none.
    QVERIFY(processesRead > 3);
    QVERIFY(helperSeen);
    QVERIFY2(holders.isEmpty(), qPrintable("password seen in: " + holders.join(" | ")));

    const QString uidFile = sandbox + "/uid.txt";
    QCOMPARE(TestSupport::readFile(uidFile), QByteArray("0\n"));
    QCOMPARE(QFileInfo(uidFile).ownerId(), 0u);
}

void AuthorizationUserTest::refusedAuthorizationLeavesSandboxUnchanged()
{
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    // Another name, a wrong password, cancel; then cancel the removal's request and the
    // daemon unload's request.
    const Report r = runHelper({.scenario = "refuse", .answers = "NWCCC", .sandbox = sandbox});
    qInfo() << r;
    QCOMPARE(r.value("exitCode"), "0");
    QCOMPARE(r.value("authenticate"), "false");
    QVERIFY2(r.value("dialog1.message1").contains("Only the password of " + m_account),
        qPrintable(r.value("dialog1.message1")));
    QCOMPARE(r.value("dialog1.message2"), "The password is wrong. Try again.");
    QCOMPARE(r.value("execute"), "false");
    QCOMPARE(r.value("unload"), "false");
    QCOMPARE(r.value("isAuthenticated"), "false");
    QCOMPARE(r.value("dialogs"), "3");
    QCOMPARE(r.value("timedOut"), "false");
    QVERIFY(!r.contains("unexpectedDialog"));

    QCOMPARE(TestSupport::readFile(sandbox + "/product/Contents/data"), QByteArray("product data\n"));
    QVERIFY(!QFileInfo::exists(sandbox + "/fakebin/ran"));
}

void AuthorizationUserTest::requestAfterDeauthenticateAsksAgain()
{
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    const Report r = runHelper({.scenario = "again", .answers = "RR", .sandbox = sandbox});
    qInfo() << r;
    QCOMPARE(r.value("exitCode"), "0");
    QCOMPARE(r.value("authenticate1"), "true");
    QCOMPARE(r.value("sudoShared"), "true");
    // Deauthenticating dropped sudo's credential too, and a new reference holds nothing.
    QCOMPARE(r.value("sudoAfterDeauthenticate"), "false");
    QCOMPARE(r.value("isAuthenticatedAfter"), "false");
    QCOMPARE(r.value("dialogsBeforeSecond"), "1");
    QCOMPARE(r.value("authenticate2"), "true");
    QCOMPARE(r.value("dialogs"), "2");
    QCOMPARE(r.value("execute"), "true");
    QVERIFY(!QFileInfo::exists(sandbox + "/product"));
}

// The administrator's credential does not outlive the program: after it ends, nothing else in
// the same terminal runs as root without the password.
void AuthorizationUserTest::rightsEndWithTheProgram()
{
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    const Report r = runHelper({.scenario = "exit", .answers = "R", .sandbox = sandbox, .terminal = true,
        .afterwards = "/usr/bin/sudo -n /bin/true && echo SUDO-STILL-VALID || echo SUDO-REFUSED"});
    QCOMPARE(r.value("authenticate"), "true");
    QCOMPARE(r.value("sudoShared"), "true");
    QVERIFY2(r.value("transcript").contains("SUDO-REFUSED"), qPrintable(r.value("transcript")));
}

// Without polkit and sudo, every request that may ask says that rights cannot be obtained here
// instead of doing nothing, and nothing is removed.
void AuthorizationUserTest::neitherPolkitNorSudoSaysSo()
{
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    const Report r = runHelper({.scenario = "refuse", .answers = "C", .sandbox = sandbox,
        .withoutSudo = true});
    QCOMPARE(r.value("authenticate"), "false");
    QCOMPARE(r.value("execute"), "false");
    QCOMPARE(r.value("unavailableShown"), "3");
    QCOMPARE(r.value("dialogs"), "0");
    QCOMPARE(TestSupport::readFile(sandbox + "/product/Contents/data"), QByteArray("product data\n"));
}

// A standard user, with the administrator's name and password typed once into the product's
// agent, runs every tool of an uninstall as root; the password is in no process's arguments
// or environment; the kept authorization grants without asking until it is revoked.
void AuthorizationUserTest::polkitAdministratorGrantsStandardUser()
{
    if (!preparePolkit())
        QSKIP(qPrintable(m_polkitSkip));
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    int processesRead = 0;
    bool helperSeen = false;
    QStringList holders;
    const Report r = runHelper({.scenario = "polkit", .sandbox = sandbox, .waitForStart = true,
        .whileRunning = [&] {
            holders += scanProcesses(m_adminPassword.toUtf8(), sandbox, &helperSeen, &processesRead);
        },
        .terminal = true, .polkit = true, .terminalAnswers = "R"});
    qInfo() << r;
    QCOMPARE(r.value("isAuthenticatedBefore"), "false");
    QCOMPARE(r.value("authenticate"), "true");
    QCOMPARE(r.value("isAuthenticated"), "true");
    QCOMPARE(r.value("execute"), "true");
    QCOMPARE(r.value("remove"), "true");
    QCOMPARE(r.value("isAuthenticatedAfter"), "false");
    QCOMPARE(r.value("terminalPrompts"), "1");
    QCOMPARE(r.value("dialogs"), "0");
    QVERIFY(!r.value("transcript").contains(m_adminPassword));
    QVERIFY(processesRead > 3 && helperSeen);
    QVERIFY2(holders.isEmpty(), qPrintable("password seen in: " + holders.join(" | ")));
    QCOMPARE(TestSupport::readFile(sandbox + "/uid.txt"), QByteArray("0\n"));
    QVERIFY(!QFileInfo::exists(sandbox + "/product"));
}

void AuthorizationUserTest::polkitWrongPasswordThenCancelChangesNothing()
{
    if (!preparePolkit())
        QSKIP(qPrintable(m_polkitSkip));
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    // A wrong password, then cancel; then cancel the removal's and the unload's requests.
    const Report r = runHelper({.scenario = "refuse", .sandbox = sandbox, .terminal = true,
        .polkit = true, .terminalAnswers = "WCCC"});
    qInfo() << r;
    QCOMPARE(r.value("authenticate"), "false");
    QVERIFY(r.value("transcript").contains("Sorry, that password was not accepted."));
    QCOMPARE(r.value("execute"), "false");
    QCOMPARE(r.value("unload"), "false");
    QCOMPARE(r.value("isAuthenticated"), "false");
    QCOMPARE(r.value("terminalPrompts"), "4");
    QCOMPARE(TestSupport::readFile(sandbox + "/product/Contents/data"), QByteArray("product data\n"));
    QVERIFY(!QFileInfo::exists(sandbox + "/fakebin/ran"));
}

QTEST_GUILESS_MAIN(AuthorizationUserTest)
#include "AuthorizationUserTest.moc"
