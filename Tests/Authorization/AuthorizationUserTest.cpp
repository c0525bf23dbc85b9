// ZVAuthentication for a real non-root account: the test (run as root) makes an account with
// a password and a sudoers rule that requires it, runs AuthorizationUserHelper as that account
// and checks what the helper reports and what it did on disk. The account, its rule and sudo's
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

// Removes the account even when the program ends without cleanupTestCase (a failed QVERIFY
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

using Report = QMap<QString, QString>;

} // namespace

class AuthorizationUserTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void rightPasswordGrantsAndToolRunsAsRoot();
    void refusedAuthorizationLeavesSandboxUnchanged();
    void requestAfterDeauthenticateAsksAgain();

private:
    // Runs the helper as the account; WHILERUNNING is called once the tool it starts as root
    // has written SANDBOX/started (when WAITFORSTART), before it is released.
    Report runHelper(const QString &scenario, const QString &answers, const QString &sandbox,
        bool waitForStart = false, const std::function<void()> &whileRunning = {});
    QString makeSandbox(QTemporaryDir &dir);

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
    if (!guard.name.isEmpty())
        removeAccount(guard.name);
    guard.name.clear();
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

Report AuthorizationUserTest::runHelper(const QString &scenario, const QString &answers,
    const QString &sandbox, bool waitForStart, const std::function<void()> &whileRunning)
{
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Offscreen unless the test itself runs on another platform (xcb under Xvfb).
    if (!env.contains("QT_QPA_PLATFORM"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", m_runtime);
    helper.setProcessEnvironment(env);
    helper.setWorkingDirectory(m_programs.path());
    helper.setProcessChannelMode(QProcess::SeparateChannels);
    // No controlling terminal: sudo then keeps its credential for the helper alone.
    helper.setChildProcessModifier([] { setsid(); });
    helper.start("/usr/sbin/runuser", {"-u", m_account, "--", m_helper, scenario, sandbox, answers});
    if (!helper.waitForStarted(10000))
        return {{"error", "helper did not start"}};
    helper.write((m_password + "\n").toUtf8());
    helper.closeWriteChannel();

    if (waitForStart) {
        QElapsedTimer clock;
        clock.start();
        while (!QFileInfo::exists(sandbox + "/started") && helper.state() != QProcess::NotRunning
            && clock.elapsed() < 120000)
            helper.waitForFinished(50);
        if (QFileInfo::exists(sandbox + "/started") && whileRunning)
            whileRunning();
        TestSupport::writeFile(sandbox + "/release", "");
    }
    if (!helper.waitForFinished(180000)) {
        helper.kill();
        helper.waitForFinished(5000);
        return {{"error", "helper did not finish"}};
    }
    const QByteArray errors = helper.readAllStandardError();
    if (!errors.isEmpty())
        qInfo().noquote() << "helper stderr:" << errors;
    Report report;
    report["exitCode"] = QString::number(helper.exitCode());
    for (const QByteArray &line : helper.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            report[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
    }
    return report;
}

void AuthorizationUserTest::rightPasswordGrantsAndToolRunsAsRoot()
{
    QTemporaryDir dir;
    const QString sandbox = makeSandbox(dir);
    int processesRead = 0;
    QStringList holders;
    bool helperSeen = false;
    const QByteArray secret = m_password.toUtf8();
    const auto scanProcesses = [&] {
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
            ++processesRead;
            helperSeen = helperSeen || cmdline.contains(sandbox.toUtf8());
            if (cmdline.contains(secret) || environment.contains(secret))
                holders << QString::fromUtf8(cmdline).replace('\0', ' ');
        }
    };

    const Report r = runHelper("grant", "R", sandbox, true, scanProcesses);
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
    const Report r = runHelper("refuse", "NWCCC", sandbox);
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
    const Report r = runHelper("again", "RR", sandbox);
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

QTEST_GUILESS_MAIN(AuthorizationUserTest)
#include "AuthorizationUserTest.moc"
