// Stopping real processes: killProcess ending every instance of the product's program with
// SIGKILL through the privileged runner and leaving a look-alike running, its scratch listing
// removed afterwards; killAllProcessWithName, the workspace's unprivileged kill, and
// ZVUtility::killProcess.
#include "NSBundle_p.h"
#include "NSWorkspace+ZVXExtension.h"
#include "ProcessFixture.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVAuthentication.h"
#include "ZVProcessListing_p.h"
#include "ZVUtility.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <limits>
#include <QtTest>

class ProcessesKillTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void killProcess_data();
    void killProcess();
    void killProcessNameWithBlank();
    void killProcessWithoutReaping_data();
    void killProcessWithoutReaping();
    void killProcessScratchUnwritable();
    void killProcessUnderHiddenProcesses();
    void killAllProcessWithName_data();
    void killAllProcessWithName();
    void killAllProcessesWithName();
    void utilityKill();
    void utilityKillBelowOne();

private:
    QTemporaryDir m_resources;
    QString m_scratchPath;
};

// The configuration points the scratch listing into this test's own folder.
void ProcessesKillTest::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("stopping processes through the privileged runner needs root here");
    QVERIFY(m_resources.isValid());
    // Every desktop's default: procps prints command lines as raw UTF-8 in it.
    qputenv("LANG", "C.UTF-8");
    qputenv("LC_ALL", "C.UTF-8");
    m_scratchPath = m_resources.filePath(QStringLiteral("instances list.txt"));
    const QVariantMap table{
        {QStringLiteral("UninstallProcessInstanceCommandOutputFilePath"), m_scratchPath}};
    QVERIFY(PropertyList::writeFile(table, m_resources.filePath(QStringLiteral("Localizable.plist")),
                                    PropertyList::Format::XML, false));
    NSBundle::mainBundle().setResourcePath(m_resources.path());
}

// Rows: instances started under PREFIX; a link planted at the scratch listing's path to a
// victim file (the shell's redirect would follow it and overwrite the victim); a folder with
// a non-ASCII name in the instances' command lines (the test runs in a UTF-8 locale, in which
// procps prints such a line as raw UTF-8).
void ProcessesKillTest::killProcess_data()
{
    QTest::addColumn<int>("instances");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("linkPlanted");
    QTest::newRow("none") << 0 << QString() << false;
    QTest::newRow("one") << 1 << QString() << false;
    QTest::newRow("two") << 2 << QString() << false;
    QTest::newRow("three under a path") << 3 << QStringLiteral("/usr/local/zv/") << false;
    QTest::newRow("two, a link at the scratch path") << 2 << QString() << true;
    QTest::newRow("two under a folder named in UTF-8") << 2 << QStringLiteral("/tmp/x/jürgen/") << false;
}

void ProcessesKillTest::killProcess()
{
    QFETCH(int, instances);
    QFETCH(QString, prefix);
    QFETCH(bool, linkPlanted);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral("Daemon"));
    const pid_t lookAlike = processes.start(name.chopped(1));
    QVERIFY(lookAlike > 0);
    QList<pid_t> started;
    for (int i = 0; i < instances; ++i) {
        const pid_t pid = processes.start(prefix + name);
        QVERIFY(pid > 0);
        started.append(pid);
    }
    const QString victim = dir.filePath(QStringLiteral("victim"));
    QVERIFY(TestSupport::writeFile(victim, "victim"));
    if (linkPlanted)
        QVERIFY(QFile::link(victim, m_scratchPath));

    QVERIFY(ZVAuthentication::sharedInstance()->killProcess(name));

    for (const pid_t pid : std::as_const(started))
        QCOMPARE(processes.endingSignal(pid), std::optional<int>(SIGKILL));
    QVERIFY(processes.isRunning(lookAlike));
    QVERIFY(!QFileInfo::exists(m_scratchPath) && !QFileInfo(m_scratchPath).isSymLink());
    QCOMPARE(TestSupport::readFile(victim), QByteArray("victim"));
    QCOMPARE(ZVAuthentication::sharedInstance()->getAllProcessIDsWithName(name), QList<qint32>{});
}

// The scratch command puts the name unquoted, so grep takes a blank as the end of the pattern
// and reads the rest as a file name: a name with blanks lists no instance and stops nothing,
// though the quoted listings find it.
void ProcessesKillTest::killProcessNameWithBlank()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral(" Backup Agent"));
    const pid_t pid = processes.start(name);
    QVERIFY(pid > 0);
    QCOMPARE(ZVAuthentication::sharedInstance()->getAllProcessIDsWithName(name), QList<qint32>{pid});
    QVERIFY(ZVAuthentication::sharedInstance()->killProcess(name));
    QVERIFY(processes.isRunning(pid));
    QVERIFY(!QFileInfo::exists(m_scratchPath));
}

void ProcessesKillTest::killProcessWithoutReaping_data()
{
    QTest::addColumn<int>("nameLength");
    QTest::addColumn<bool>("secondStopped");
    QTest::newRow("15 characters: the zombie hides the next instance") << 15 << false;
    QTest::newRow("16 characters: the zombie no longer holds the name") << 16 << true;
}

// Where nobody reaps a killed instance at once (a container whose first process reaps
// late), its zombie stays listed as "[COMM] <defunct>", COMM being the first 15 characters of
// the program's file name. A name that fits in COMM keeps matching the zombie, which is
// listed ahead of the next instance: every further pass finds the zombie again and only the
// first instance is stopped.
void ProcessesKillTest::killProcessWithoutReaping()
{
    QFETCH(int, nameLength);
    QFETCH(bool, secondStopped);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    processes.holdReaping();
    static int counter = 0;
    const QString token = QStringLiteral("Zz%1y%2").arg(QString::number(::getpid(), 36)).arg(++counter);
    const QString name = token.leftJustified(nameLength, QLatin1Char('d'));
    QCOMPARE(name.size(), nameLength);
    const pid_t a = processes.start(name);
    const pid_t b = processes.start(name);
    QVERIFY(a > 0 && b > 0);
    const pid_t first = qMin(a, b); // listed first
    const pid_t second = qMax(a, b);

    QVERIFY(ZVAuthentication::sharedInstance()->killProcess(name));
    // The signal is sent; the process turns into a zombie as soon as it has handled it.
    QTRY_COMPARE_WITH_TIMEOUT(ProcessFixture::processState(first), 'Z', 10000);
    if (secondStopped)
        QTRY_COMPARE_WITH_TIMEOUT(ProcessFixture::processState(second), 'Z', 10000);
    QVERIFY(!QFileInfo::exists(m_scratchPath));

    processes.resumeReaping();
    QCOMPARE(processes.endingSignal(first), std::optional<int>(SIGKILL));
    if (secondStopped)
        QCOMPARE(processes.endingSignal(second), std::optional<int>(SIGKILL));
    else
        QVERIFY(processes.isRunning(second));
}

// When the scratch listing cannot be written (a folder stands at its path), there are no
// lines and so no passes: nothing is stopped, the answer is still YES, and the removal step
// still clears the path.
void ProcessesKillTest::killProcessScratchUnwritable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral("Daemon"));
    const pid_t pid = processes.start(name);
    QVERIFY(pid > 0);
    QVERIFY(QDir().mkpath(m_scratchPath + QStringLiteral("/inside")));

    QVERIFY(ZVAuthentication::sharedInstance()->killProcess(name));
    QVERIFY(processes.isRunning(pid));
    QVERIFY(!QFileInfo::exists(m_scratchPath));
}

// On a system whose /proc is mounted hidepid=2, a user sees only its own processes: the
// uninstaller, run by an administrator who holds the rights, must still stop root's product
// process. Tried in private mount and pid namespaces: /proc remounted with hidepid=2, a sudo
// rule that lets "nobody" run anything without a password (sudoers.d bind-mounted from this
// test's folder, sudo's own records on a private tmpfs), a product process of root, and this
// program run as nobody calling killProcess (see hiddenChildMain). Stopped means a zombie or
// gone.
void ProcessesKillTest::killProcessUnderHiddenProcesses()
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/sudo")) || !QFileInfo::exists(QStringLiteral("/usr/bin/setpriv")))
        QSKIP("sudo and setpriv are needed (scripts/setup.sh installs them)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                  | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sudoers.d")) && QDir(dir.path()).mkdir(QStringLiteral("scratch")));
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("sudoers.d/nobody")), "nobody ALL=(ALL:ALL) NOPASSWD: ALL\n"));
    QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("sudoers.d/nobody")), QFile::ReadOwner));
    QCOMPARE(::chown(QFile::encodeName(dir.filePath(QStringLiteral("scratch"))).constData(), 65534, 65534), 0);
    QVERIFY(PropertyList::writeFile(QVariantMap{{QStringLiteral("UninstallProcessInstanceCommandOutputFilePath"),
                                                 dir.filePath(QStringLiteral("scratch/instances.txt"))}},
                                    dir.filePath(QStringLiteral("Localizable.plist")), PropertyList::Format::XML, false));
    // The name reaches the others through a file: a command line holding it would be listed.
    const QString name = ProcessFixture::uniqueName(QStringLiteral("Daemon"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), dir.filePath(name)));
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("name")), name.toUtf8()));
    const QString script = QStringLiteral(
        "set -e; D=$1; P=$2; N=$(cat $D/name); mount --make-rprivate /; mount -o remount,hidepid=2 /proc; "
        "mount --bind $D/sudoers.d /etc/sudoers.d; if [ -d /run/sudo ]; then mount -t tmpfs tmpfs /run/sudo; fi; "
        "$D/$N 600 & pid=$!; "
        "setpriv --reuid=65534 --regid=65534 --clear-groups -- \"$P\" --hidden-child $D; "
        "for i in $(seq 100); do s=$(cut -d' ' -f3 /proc/$pid/stat 2>/dev/null || echo Z); [ \"$s\" = Z ] && break; sleep 0.1; done; "
        "echo state=$s");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("-p"), QStringLiteral("-f"),
                                            QStringLiteral("--mount-proc"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                            script, QStringLiteral("sh"), dir.path(),
                                            QCoreApplication::applicationFilePath()});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), QStringLiteral("hidden=1\nstate=Z\n"));
}

void ProcessesKillTest::killAllProcessWithName_data()
{
    QTest::addColumn<int>("instances");
    QTest::newRow("none") << 0;
    QTest::newRow("two") << 2;
}

void ProcessesKillTest::killAllProcessWithName()
{
    QFETCH(int, instances);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral("Monitor"));
    const pid_t lookAlike = processes.start(name.chopped(1));
    QList<pid_t> started;
    for (int i = 0; i < instances; ++i)
        started.append(processes.start(name));
    QVERIFY(!started.contains(0));

    QVERIFY(ZVAuthentication::sharedInstance()->killAllProcessWithName(name));
    for (const pid_t pid : std::as_const(started))
        QCOMPARE(processes.endingSignal(pid), std::optional<int>(SIGKILL));
    QVERIFY(processes.isRunning(lookAlike));
}

// The unprivileged kill sends kill's default signal, SIGTERM, to each instance.
void ProcessesKillTest::killAllProcessesWithName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral("WebTool"));
    const pid_t lookAlike = processes.start(name.chopped(1));
    const pid_t first = processes.start(name);
    const pid_t second = processes.start(QStringLiteral("/opt/") + name);
    QVERIFY(lookAlike > 0 && first > 0 && second > 0);

    ZVXExtension::killAllProcessesWithName(NSWorkspace::sharedWorkspace(), name);
    QCOMPARE(processes.endingSignal(first), std::optional<int>(SIGTERM));
    QCOMPARE(processes.endingSignal(second), std::optional<int>(SIGTERM));
    QVERIFY(processes.isRunning(lookAlike));
}

void ProcessesKillTest::utilityKill()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const pid_t pid = processes.start(ProcessFixture::uniqueName(QStringLiteral("Plain")));
    QVERIFY(pid > 0);
    QCOMPARE(ZVUtility::killProcess(pid), 0);
    QCOMPARE(processes.endingSignal(pid), std::optional<int>(SIGKILL));
    // Reaped: the id no longer names a process.
    QCOMPARE(ZVUtility::killProcess(pid), -1);
}

// Ids below 1 would reach a process group or every process; they must send nothing. Tried in
// a child that has its own process group and runs under a user id of its own, so that a
// signal sent by mistake can end only that child, which the test then sees.
void ProcessesKillTest::utilityKillBelowOne()
{
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::setpgid(0, 0);
        const uid_t loneUser = 61000 + uid_t(::getpid() % 3000);
        if (::setgid(loneUser) != 0 || ::setuid(loneUser) != 0)
            ::_exit(3);
        int failures = 0;
        for (const qint32 id : {0, -1, -2, std::numeric_limits<qint32>::min()})
            failures += ZVUtility::killProcess(id) != 0;
        ::_exit(failures == 0 ? 0 : 4);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    QVERIFY2(!WIFSIGNALED(status), "a signal reached the calling process");
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

// Run as nobody by killProcessUnderHiddenProcesses: reports whether its own listing hides the
// product (it must, or the test proves nothing), then stops it.
static int hiddenChildMain(int argc, char *argv[])
{
    QApplication app(argc, argv);
    NSBundle::mainBundle().setResourcePath(QString::fromLocal8Bit(argv[2]));
    QFile file(QString::fromLocal8Bit(argv[2]) + QStringLiteral("/name"));
    const QString product = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    const bool hidden = ZVProcessListing::processIDsFromCommand(QStringLiteral("ps -axww | grep ") + product, product,
                                                                ZVProcessListing::Encoding::ASCII).isEmpty();
    std::printf("hidden=%d\n", int(hidden));
    std::fflush(stdout);
    // As the uninstall does: the rights first (granted by the rule without a dialog).
    ZVAuthentication::sharedInstance()->authenticate({product});
    ZVAuthentication::sharedInstance()->killProcess(product);
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--hidden-child") == 0)
        return hiddenChildMain(argc, argv);
    QCoreApplication app(argc, argv);
    ProcessesKillTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "KillTest.moc"
