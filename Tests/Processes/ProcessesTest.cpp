// Process operations on real processes (whatever is stopped by name runs here) and on prepared
// text and files: listings by name, stopping, the chunked reader, system version, console user.
#include "Gestalt_p.h"
#include "NSAppleScript_p.h"
#include "NSWorkspace+ZVXExtension.h"
#include "ProcessRunner_p.h"
#include "SystemConfiguration_p.h"
#include "TestSupport.h"
#include "ZVAuthentication.h"
#include "ZVProcessListing_p.h"
#include "ZVUtility.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <future>
#include <limits>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utmp.h>

using namespace ZVProcessListing;
using Ids = QList<qint32>;
extern char **environ;

namespace {
// What readChunks gives for STREAM, read in a child process; none when the child has not
// ended within two seconds (a reader spinning on a failed read): it is killed then.
std::optional<QByteArray> readChunksAtOnce(FILE *stream)
{
    int ends[2], status = 0;
    if (::pipe(ends) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        const QByteArray bytes = ProcessRunner::readChunks(stream);
        ::_exit(::write(ends[1], bytes.constData(), size_t(bytes.size())) == bytes.size() ? 0 : 1);
    }
    ::close(ends[1]);
    for (int i = 0; i < 200 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
        QThread::msleep(10);
    const bool ended = ::kill(child, SIGKILL) != 0 || ::waitpid(child, &status, 0) != child;
    QFile out;
    out.open(ends[0], QIODevice::ReadOnly, QFile::AutoCloseHandle);
    return ended ? std::optional(out.readAll()) : std::nullopt;
}

// A stream whose first read gives 600 bytes and every later one fails with EIO.
ssize_t failingRead(void *calls, char *buffer, size_t size)
{
    if ((*static_cast<int *>(calls))++ > 0)
        return errno = EIO, -1;
    std::memset(buffer, 'x', qMin<size_t>(size, 600));
    return ssize_t(qMin<size_t>(size, 600));
}

QByteArray login(const char *line, const char *user = "root", pid_t pid = ::getpid(), short type = USER_PROCESS)
{
    utmp record;
    std::memset(&record, 0, sizeof record);
    record.ut_type = type;
    record.ut_pid = pid;
    std::strncpy(record.ut_line, line, sizeof record.ut_line);
    std::strncpy(record.ut_user, user, sizeof record.ut_user);
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}
} // namespace
// Copies of /bin/sleep started with a chosen argv[0] (what ps shows), each reaped by a thread as
// its parent would, so that a killed one leaves no zombie holding its name; reaping can be held.
class ProcessFixture {
public:
    explicit ProcessFixture(const QString &folder) : m_folder(folder) { m_gate.set_value(); }
    ~ProcessFixture() { stopAll(); }
    static QString uniqueName(const QString &stem)
    {
        static int counter = 0;
        return QStringLiteral("ZVt%1x%2%3").arg(::getpid()).arg(++counter).arg(stem);
    }
    void holdReaping() { m_gate = {}, m_reaping = m_gate.get_future().share(), m_held = true; }
    void resumeReaping()
    {
        if (std::exchange(m_held, false))
            m_gate.set_value();
    }
    // Starts a copy of /bin/sleep named after ARGV0's file name as "ARGV0 600"; its id once it
    // runs the program (before, ps shows this test's command line), or 0.
    pid_t start(const QString &argv0)
    {
        const QString program = m_folder + QLatin1Char('/') + argv0.section(QLatin1Char('/'), -1);
        const QByteArray path = QFile::encodeName(program), arg0 = argv0.toUtf8();
        char seconds[] = "600";
        char *argv[] = {const_cast<char *>(arg0.constData()), seconds, nullptr};
        pid_t pid = 0;
        if ((!QFile::exists(program) && !QFile::copy("/bin/sleep", program))
            || ::posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) != 0)
            return 0;
        std::promise<int> status;
        m_ended[pid] = status.get_future().share();
        m_reapers.emplace_back([pid, gate = m_reaping, status = std::move(status)]() mutable {
            gate.wait();
            int raw = 0;
            while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {}
            status.set_value(WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
        });
        for (int i = 0; i < 2000 && !TestSupport::readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).startsWith(arg0 + '\0'); ++i)
            QThread::msleep(5);
        return pid;
    }
    // The signal that ended PID (0: a normal exit), or none while it runs after WAITMS.
    std::optional<int> endingSignal(pid_t pid, int waitMs = 10000)
    {
        const auto it = m_ended.find(pid);
        if (it == m_ended.end() || it->second.wait_for(std::chrono::milliseconds(waitMs)) != std::future_status::ready)
            return std::nullopt;
        return it->second.get();
    }
    // Still running after a grace period in which a signal just sent would take effect.
    bool isRunning(pid_t pid) { return m_ended.count(pid) && !endingSignal(pid, 300); }
    // The state letter of /proc/PID/stat ('Z' for a zombie), or 0 when there is no such process.
    static char processState(pid_t pid)
    {
        const QByteArray line = TestSupport::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype end = line.lastIndexOf(')');
        return end > 0 && end + 2 < line.size() ? line.at(end + 2) : 0;
    }
    void stopAll()
    {
        resumeReaping();
        for (auto &[pid, ended] : m_ended)
            if (ended.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                ::kill(pid, SIGKILL);
        for (std::thread &reaper : m_reapers)
            reaper.join();
        m_reapers.clear(), m_ended.clear();
    }

private:
    QString m_folder;
    std::promise<void> m_gate;
    std::shared_future<void> m_reaping = m_gate.get_future().share();
    bool m_held = false;
    std::map<pid_t, std::shared_future<int>> m_ended;
    std::vector<std::thread> m_reapers;
};

class ProcessesTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_resources, m_dir;
    QString m_scratchPath;
    std::optional<ProcessFixture> m_processes;
    ZVAuthentication &auth = *ZVAuthentication::sharedInstance();

    // The name of a product process and a table for a child run, in DIR.
    static QString prepareChild(const QString &dir)
    {
        const QString name = ProcessFixture::uniqueName(QStringLiteral("Daemon"));
        return QDir(dir).mkdir("scratch") && TestSupport::writeFile(dir + "/name", name.toUtf8())
                && PropertyList::writeFile(QVariantMap{{"UninstallProcessInstanceCommandOutputFilePath", dir + "/scratch/i.txt"}},
                                           dir + "/Localizable.plist", PropertyList::Format::XML, false) ? name : QString();
    }
    // Runs this program again under COMMAND (a shell line run by unshare with OPTIONS, "$@"
    // this program and ARGUMENTS): its output.
    static QString runChild(const QStringList &options, const QString &command, const QStringList &arguments)
    {
        const auto run = TestSupport::runProgram("unshare", options + QStringList{"/bin/sh", "-c", command, "sh",
                                                 QCoreApplication::applicationFilePath()} + arguments, {}, {}, 120000);
        return QString::fromUtf8(run.out);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_resources.isValid() && m_dir.isValid());
        // Every desktop's default: procps prints command lines as raw UTF-8 in it.
        qputenv("LANG", "C.UTF-8");
        qputenv("LC_ALL", "C.UTF-8");
        m_scratchPath = m_resources.filePath(QStringLiteral("instances list.txt"));
        QVERIFY(TestSupport::useTable(m_resources.path(),
                                      {{"UninstallProcessInstanceCommandOutputFilePath", m_scratchPath},
                                       {"LastConsoleUserNameFilePath", m_dir.filePath("out/last user.txt")}}));
    }
    void init()
    {
        // Stopping processes through the privileged runner and private namespaces need root.
        const QByteArray function = QTest::currentTestFunction();
        if (::geteuid() != 0 && QByteArrayList{"byName", "launchedApplications", "killProcessWithoutReaping",
                "killProcessUnderHiddenProcesses", "utilityKill", "withoutListing"}.contains(function))
            QSKIP("needs root here");
        m_processes.emplace(m_dir.path());
    }
    void cleanup() { m_processes.reset(); }

    // OPERATION on instances of a name (under PREFIX, or a folder making argv[0] NAMEEND long)
    // beside a look-alike one character shorter. "list": both owners list them in id order
    // unless the three-column listing cuts the command at 27 characters; getPID's two-column
    // listing gives the first. killProcess: PLANT at the scratch path a link to a victim (the
    // shell's redirect would follow it) or a folder (no listing: no passes, still YES); a name
    // with blanks reaches grep unquoted and stops nothing; a UTF-8 folder is printed raw here.
    // SIGNAL ends each instance (0: they run on); LISTED: still listed afterwards.
    void byName_data()
    {
        QTest::addColumn<QString>("operation"); QTest::addColumn<int>("instances"); QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("nameEnd"); QTest::addColumn<QString>("stem"); QTest::addColumn<QString>("plant");
        QTest::addColumn<int>("signal"); QTest::addColumn<bool>("listed");
        QTest::newRow("list none") << "list" << 0 << "" << 0 << "Daemon" << "" << 0 << true;
        QTest::newRow("list three under a path") << "list" << 3 << "/opt/zv/" << 0 << "Daemon" << "" << 0 << true;
        QTest::newRow("list, name ends at column 27") << "list" << 1 << "" << 27 << "Daemon" << "" << 0 << true;
        QTest::newRow("list, name ends at column 28") << "list" << 1 << "" << 28 << "Daemon" << "" << 0 << false;
        QTest::newRow("killProcess three under a path") << "killProcess" << 3 << "/usr/local/zv/" << 0 << "Daemon" << "" << SIGKILL << false;
        QTest::newRow("killProcess, a link at the scratch path") << "killProcess" << 2 << "" << 0 << "Daemon" << "link" << SIGKILL << false;
        QTest::newRow("killProcess, a folder named in UTF-8") << "killProcess" << 2 << "/tmp/x/jürgen/" << 0 << "Daemon" << "" << SIGKILL << false;
        QTest::newRow("killProcess, a name with blanks") << "killProcess" << 1 << "" << 0 << " Backup Agent" << "" << 0 << true;
        QTest::newRow("killProcess, a folder at the scratch path") << "killProcess" << 1 << "" << 0 << "Daemon" << "folder" << 0 << true;
        QTest::newRow("killAllProcessWithName two") << "killAll" << 2 << "" << 0 << "Monitor" << "" << SIGKILL << false;
        QTest::newRow("workspace kill (SIGTERM), two") << "workspace" << 2 << "/opt/" << 0 << "WebTool" << "" << SIGTERM << false;
    }
    void byName()
    {
        QFETCH(QString, operation); QFETCH(int, instances); QFETCH(QString, prefix); QFETCH(int, nameEnd);
        QFETCH(QString, stem); QFETCH(QString, plant); QFETCH(int, signal); QFETCH(bool, listed);
        const QString name = ProcessFixture::uniqueName(stem), victim = m_dir.filePath("victim");
        if (nameEnd)
            prefix = '/' + QString(nameEnd - name.size() - 2, 'd') + '/';
        const pid_t lookAlike = m_processes->start(prefix + name.chopped(1));
        Ids started;
        for (int i = 0; i < instances; ++i)
            started << m_processes->start(prefix + name);
        std::sort(started.begin(), started.end());
        QVERIFY(lookAlike > 0 && !started.contains(0) && TestSupport::writeFile(victim, "victim"));
        QVERIFY(plant != "link" || QFile::link(victim, m_scratchPath));
        QVERIFY(plant != "folder" || QDir().mkpath(m_scratchPath + "/inside"));
        if (operation == "list")
            QCOMPARE(auth.getPID(name), started.value(0));
        else if (operation == "workspace")
            ZVXExtension::killAllProcessesWithName(NSWorkspace::sharedWorkspace(), name);
        else
            QVERIFY(operation == "killAll" ? auth.killAllProcessWithName(name) : auth.killProcess(name));
        for (const pid_t pid : std::as_const(started))
            if (operation != "list")
                QCOMPARE(m_processes->endingSignal(pid, signal ? 10000 : 300), signal ? std::optional(signal) : std::nullopt);
        QVERIFY(m_processes->isRunning(lookAlike));
        QCOMPARE(auth.getAllProcessIDsWithName(name), listed ? started : Ids{});
        QCOMPARE(ZVXExtension::getAllProcessIDsWithName(NSWorkspace::sharedWorkspace(), name), listed ? started : Ids{});
        QVERIFY(!QFileInfo::exists(m_scratchPath) && !QFileInfo(m_scratchPath).isSymLink());
        QCOMPARE(TestSupport::readFile(victim), QByteArray("victim"));
    }

    // A running program is an application under its argv[0]'s file name, blanks included, and
    // only the whole name matches.
    void launchedApplications()
    {
        const QString name = ProcessFixture::uniqueName(QStringLiteral(" Backup Monitor"));
        const pid_t pid = m_processes->start(QStringLiteral("/opt/zv/") + name);
        QVariantMap found;
        for (const QVariant &entry : NSWorkspace::sharedWorkspace().launchedApplications())
            if (entry.toMap().value(QStringLiteral("NSApplicationProcessIdentifier")).toInt() == pid)
                found = entry.toMap();
        QCOMPARE(found.value(QStringLiteral("NSApplicationName")).toString(), name);
        QCOMPARE(found.value(QStringLiteral("NSApplicationPath")).toString(), m_dir.filePath(name));
        QVERIFY(auth.isApplicationLaunched(name));
        for (const QString &other : {name.chopped(1), name + 'X', "/opt/zv/" + name, QString()})
            QVERIFY(!auth.isApplicationLaunched(other));
        m_processes->stopAll();
        QVERIFY(!auth.isApplicationLaunched(name));
    }

    // Where nobody reaps a killed instance at once, its zombie stays listed as "[COMM] <defunct>"
    // (the file name's first 15 characters) ahead of the next: a name that fits keeps matching it,
    // and the next instance runs on.
    void killProcessWithoutReaping()
    {
        m_processes->holdReaping();
        const QString name = QStringLiteral("Zz%1y").arg(QString::number(::getpid(), 36)).leftJustified(15, 'd');
        const pid_t a = m_processes->start(name), b = m_processes->start(name);
        QVERIFY(a > 0 && b > 0);
        QVERIFY(auth.killProcess(name));
        QTRY_COMPARE_WITH_TIMEOUT(ProcessFixture::processState(qMin(a, b)), 'Z', 10000);
        m_processes->resumeReaping();
        QCOMPARE(m_processes->endingSignal(qMin(a, b)), std::optional<int>(SIGKILL));
        QVERIFY(m_processes->isRunning(qMax(a, b)));
    }

    // With /proc mounted hidepid=2 an administrator holding the rights must still find and stop
    // root's product process: in private mount and pid namespaces, a sudo rule lets "nobody" run
    // anything (sudoers.d bind-mounted from here, sudo's records on a private tmpfs), and this
    // program runs as nobody (listingsChild). Stopped means a zombie or gone.
    void killProcessUnderHiddenProcesses()
    {
        if (!QFileInfo::exists("/usr/bin/sudo") || !QFileInfo::exists("/usr/bin/setpriv"))
            QSKIP("sudo and setpriv are needed (scripts/setup.sh installs them)");
        QTemporaryDir dir;
        const QString name = prepareChild(dir.path());
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0705) == 0);
        QVERIFY(TestSupport::writeFile(dir.filePath("sudoers.d/nobody"), "nobody ALL=(ALL:ALL) NOPASSWD: ALL\n"));
        QVERIFY(QFile::setPermissions(dir.filePath("sudoers.d/nobody"), QFile::ReadOwner));
        QVERIFY(::chown(QFile::encodeName(dir.filePath("scratch")).constData(), 65534, 65534) == 0);
        QVERIFY(QFile::copy("/bin/sleep", dir.filePath(name)));
        const QString script =
            "set -e; D=$3; mount --make-rprivate /; mount -o remount,hidepid=2 /proc; "
            "mount --bind $D/sudoers.d /etc/sudoers.d; if [ -d /run/sudo ]; then mount -t tmpfs tmpfs /run/sudo; fi; "
            "$D/$(cat $D/name) 600 & pid=$!; echo $pid > $D/pid; setpriv --reuid=65534 --regid=65534 --clear-groups -- \"$@\"; "
            "for i in $(seq 100); do s=$(cut -d' ' -f3 /proc/$pid/stat 2>/dev/null || echo Z); [ $s = Z ] && break; "
            "sleep 0.1; done; echo state=$s";
        const QString output = runChild({"-m", "-p", "-f", "--mount-proc"}, script, {"--listings", dir.path()});
        // The listings with nobody's rights (workspace, plain) do not see the product (or the test
        // would prove nothing); getPID's does; the three-column listing cuts its long path.
        QCOMPARE(output, QStringLiteral("all= pid=%1 workspace= plain= read=some kill=1\nstate=Z\n")
                             .arg(QString(TestSupport::readFile(dir.filePath("pid")).trimmed())));
    }

    // ZVUtility::killProcess: SIGKILL, then -1 for the reaped id. Ids below 1 would reach a
    // process group or every process: tried in a child with a group and a user id of its own,
    // which a signal sent by mistake would end.
    void utilityKill()
    {
        const pid_t pid = m_processes->start(ProcessFixture::uniqueName(QStringLiteral("Plain")));
        QCOMPARE(ZVUtility::killProcess(pid), 0);
        QCOMPARE(m_processes->endingSignal(pid), std::optional<int>(SIGKILL));
        QCOMPARE(ZVUtility::killProcess(pid), -1);
        const QByteArray failures = TestSupport::inChild([] {
            ::setpgid(0, 0);
            int failed = 0;
            for (const qint32 id : {0, -1, -2, std::numeric_limits<qint32>::min()})
                failed += ZVUtility::killProcess(id) != 0;
            return QByteArray::number(failed);
        }, -1, 61000 + uid_t(::getpid() % 3000));
        QCOMPARE(failures, QByteArray("0")); // "failed": a signal reached the calling process
    }

    // A listing that cannot run (no ps or grep on PATH; no /bin/sh in a private mount namespace)
    // gives the defined answers: no ids, id 0, nothing stopped; run as it is, it finds and stops.
    void withoutListing_data()
    {
        QTest::addColumn<QString>("command"); QTest::addColumn<QString>("answers");
        QTest::newRow("as it is") << "exec \"$@\"" << "all=%1 pid=%1 workspace=%1 plain=%1 read=some kill=1\n";
        QTest::newRow("PATH empty: no ps or grep") << "PATH= exec \"$@\"" << "all= pid=0 workspace= plain= read=some kill=1\n";
        QTest::newRow("no /bin/sh") << "mount --bind /dev/null /bin/sh && exec \"$@\""
                                    << "all= pid=0 workspace= plain= read=none kill=1\n";
    }
    void withoutListing()
    {
        QFETCH(QString, command); QFETCH(QString, answers);
        QTemporaryDir dir;
        const pid_t pid = m_processes->start(prepareChild(dir.path()));
        QCOMPARE(runChild({"-m", "--propagation", "private"}, command, {"--listings", dir.path()}), QString(answers).replace("%1", QString::number(pid)));
        QCOMPARE(m_processes->isRunning(pid), !answers.contains("%1"));
    }

    void ids_data()
    {
        QTest::addColumn<QString>("listing"); QTest::addColumn<QString>("name");
        QTest::addColumn<Ids>("ids"); QTest::addColumn<qint32>("first");
        const QString grep = "  912 sh -c /bin/ps -axwwopid,command,user | grep \"ZVDaemon\" root\n"
                             "  914 grep ZVDaemon               root\n";
        QTest::newRow("two instances in order") << "  731 /opt/zv/ZVDaemon -d root\n" + grep + "   45 ZVDaemon root\n"
                                                << "ZVDaemon" << Ids{731, 45} << 731;
        QTest::newRow("no number, zero, blank lines") << "\n   \n  x12 ZVDaemon\n    0 ZVDaemon\n\t 77 ZVDaemon"
                                                      << "ZVDaemon" << Ids{77} << 0;
        QTest::newRow("name missing: the whole line") << "  5 other\n  6 ZVDaemon" << "ZVDaemon" << Ids{5, 6} << 5;
        QTest::newRow("grep before the name") << "  8 /bin/zgrep-w ZVDaemon\n  9 ZVDaemon grep" << "ZVDaemon" << Ids{9} << 0;
        QTest::newRow("duplicates, signs, a huge id") << "3 ZVDaemon\n3 ZVDaemon\n-4 ZVDaemon\n+5 ZVDaemon\n99999999999 ZVDaemon"
                                                      << "ZVDaemon" << Ids{3, 3, -4, 5, 2147483647} << 3;
    }
    void ids()
    {
        QFETCH(QString, listing); QFETCH(QString, name); QFETCH(Ids, ids); QFETCH(qint32, first);
        QCOMPARE(processIDsInListing(listing, name), ids);
        QCOMPARE(firstProcessIDInListing(listing, name), first);
    }

    void decoding()
    {
        const QByteArray utf8 = QStringLiteral("  12 ZVDémon\n").toUtf8();
        QCOMPARE(decode("  12 ZVDaemon\x7f", Encoding::ASCII), QStringLiteral("  12 ZVDaemon\x7f"));
        QVERIFY(decode(utf8, Encoding::ASCII).isNull());
        QCOMPARE(decode(utf8, Encoding::UTF8), QStringLiteral("  12 ZVDémon\n"));
        QVERIFY(decode("  12 ZV\xC3(\n", Encoding::UTF8).isNull());
        QVERIFY(!decode(QByteArray(), Encoding::UTF8).isNull());
        QCOMPARE(readCommandOutput("printf %s \"$LC_ALL/$LANG\""), QByteArray("C/C"));
        QCOMPARE(readCommandOutput("printf %s \"$LC_ALL/$LANG\"", Encoding::UTF8), QByteArray("C.UTF-8/C.UTF-8"));
    }

    // Every chunk is kept, a last one of exactly 512 bytes too; a stream whose read fails ends
    // the reading at once with what was read before.
    void chunks_data()
    {
        QTest::addColumn<QString>("stream"); QTest::addColumn<int>("size");
        for (const int size : {0, 1, 511, 512, 513, 1024, 100000})
            QTest::addRow("pipeline, %d bytes", size) << "pipeline" << size;
        QTest::newRow("a folder (EISDIR)") << "folder" << 0;
        QTest::newRow("the write end of a pipe (EBADF)") << "write end" << 0;
        QTest::newRow("600 bytes, then EIO") << "failing" << 600;
    }
    void chunks()
    {
        QFETCH(QString, stream); QFETCH(int, size);
        int ends[2] = {-1, -1}, calls = 0;
        FILE *file = stream == "folder" ? std::fopen("/", "r")
            : stream == "failing"       ? ::fopencookie(&calls, "r", {failingRead, nullptr, nullptr, nullptr})
            : stream == "write end" && ::pipe(ends) == 0 ? std::fopen("/dev/null", "r") : nullptr;
        QVERIFY(ends[1] < 0 || ::dup2(ends[1], ::fileno(file)) >= 0);
        const auto output = file ? readChunksAtOnce(file)
                                 : readCommandOutput(QStringLiteral("head -c %1 /dev/zero | tr '\\0' x").arg(size));
        if (file)
            std::fclose(file);
        if (ends[0] >= 0)
            ::close(ends[0]), ::close(ends[1]);
        QVERIFY2(output, "the reader did not return");
        QCOMPARE(*output, QByteArray(size, 'x'));
    }

    void gestaltFromFile_data()
    {
        QTest::addColumn<QByteArray>("plist"); QTest::addColumn<QList<int>>("expected"); // major, minor, fix, sysv
        auto version = [](const char *text) {
            return QByteArray("<plist version=\"1.0\"><dict><key>ProductName</key><string>Mac OS X</string>"
                              "<key>ProductVersion</key><string>") + text + "</string></dict></plist>";
        };
        QTest::newRow("10.6.8") << version("10.6.8") << QList<int>{10, 6, 8, 0x1068};
        QTest::newRow("10.4.11 clamps in sysv") << version("10.4.11") << QList<int>{10, 4, 11, 0x1049};
        QTest::newRow("10.10.5") << version("10.10.5") << QList<int>{10, 10, 5, 0x1095};
        QTest::newRow("a sign is not a digit") << version("10.-6.1") << QList<int>{};
    }
    void gestaltFromFile()
    {
        QFETCH(QByteArray, plist); QFETCH(QList<int>, expected);
        const QString path = m_dir.filePath(QStringLiteral("SystemVersion.plist"));
        QVERIFY(TestSupport::writeFile(path, plist));
        const OSType selectors[] = {gestaltSystemVersionMajor, gestaltSystemVersionMinor, gestaltSystemVersionBugFix,
                                    gestaltSystemVersion, FOUR_CHAR_CODE("abcd")};
        for (int i = 0; i < 5; ++i) {
            SInt32 response = -7;
            QCOMPARE(GestaltFromSystemVersionFile(path, selectors[i], &response),
                     i < expected.size() ? OSErr(noErr) : OSErr(gestaltUndefSelectorErr));
            QCOMPARE(response, expected.value(i, -7));
        }
    }

    // SEAT and SESSION: logind's files (when there is a seat, it decides alone); RECORDS: utmp.
    void consoleUser_data()
    {
        QTest::addColumn<QByteArray>("seat"); QTest::addColumn<QByteArray>("session");
        QTest::addColumn<QByteArray>("records"); QTest::addColumn<QString>("user"); QTest::addColumn<int>("uid");
        const QByteArray seat("# private\nIS_SEAT0=1\nACTIVE=c2\nACTIVE_UID=0\nSESSIONS=c1 c2\n"), none, tty1 = login("tty1");
        const QString nobody; // a null name, the ids left as they were (-7)
        QTest::newRow("active root session") << seat << QByteArray("UID=0\nUSER=root\nACTIVE=1\n") << login("tty2", "daemon")
                                             << "root" << 0;
        QTest::newRow("user unknown to the accounts") << seat << QByteArray("UID=4242\nUSER=visitor\n") << none << "visitor" << 4242;
        QTest::newRow("no active session, a utmp login") << QByteArray("IS_SEAT0=1\nSESSIONS=\n") << none << tty1 << nobody << -7;
        QTest::newRow("session without user") << seat << QByteArray("UID=0\n") << none << nobody << -7;
        QTest::newRow("session id leaving the folder") << QByteArray("ACTIVE=../sessions/c2\n") << QByteArray("UID=0\nUSER=root\n")
                                                       << none << nobody << -7;
        QTest::newRow("graphical display") << none << none << login(":0") << "root" << 0;
        QTest::newRow("remote terminal only") << none << none << login("pts/3") << nobody << -7;
        QTest::newRow("ended login") << none << none << login("tty1", "root", 0x3FFFFFF0) << nobody << -7;
        QTest::newRow("logged out") << none << none << login("tty1", "root", ::getpid(), DEAD_PROCESS) << nobody << -7;
        QTest::newRow("last console login of a known account")
            << none << none << login("tty2", "zv-no-such-user") + tty1 + login("pts/0", "daemon") << "root" << 0;
        QTest::newRow("cut record") << none << none << tty1.left(100) << nobody << -7;
    }
    void consoleUser()
    {
        QFETCH(QByteArray, seat); QFETCH(QByteArray, session); QFETCH(QByteArray, records); QFETCH(QString, user);
        QFETCH(int, uid);
        QTemporaryDir dir;
        QVERIFY(seat.isEmpty() || TestSupport::writeFile(dir.filePath(QStringLiteral("seats/seat0")), seat));
        QVERIFY(session.isEmpty() || TestSupport::writeFile(dir.filePath(QStringLiteral("sessions/c2")), session));
        QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("utmp")), records));
        uid_t outUid = uid_t(-7);
        gid_t outGid = gid_t(-7);
        const QString name = SCDynamicStoreCopyConsoleUserFrom(dir.path(), dir.filePath("utmp"), &outUid, &outGid);
        QCOMPARE(name, user);
        QCOMPARE(name.isNull(), user.isNull());
        QCOMPARE(int(outUid), uid);
        QCOMPARE(int(outGid), uid == 4242 ? -1 : uid);
    }

    void appleScript()
    {
        NSWorkspace &workspace = NSWorkspace::sharedWorkspace();
        const QString script = m_dir.filePath(QStringLiteral("quit.applescript"));
        QVERIFY(TestSupport::writeFile(script, "tell application \"Finder\" to quit\n"));
        const QList<QPair<QString, int>> cases{
            {m_dir.filePath("none.scpt"), int(fnfErr)}, {m_dir.path(), int(permErr)}, {script, int(errOSACantOpenComponent)}};
        for (const auto &[path, error] : cases) {
            const auto result = ZVXExtension::executeAppleScriptFromFile(workspace, path);
            QVERIFY(result);
            QCOMPARE(result->value(NSAppleScriptErrorNumber).toInt(), error);
            QVERIFY(!result->value(NSAppleScriptErrorMessage).toString().isEmpty() || error == permErr);
        }
        QVERIFY(!ZVXExtension::executeAppleScriptFromFile(workspace, QString()));
        QVariantMap error;
        QVERIFY(!NSAppleScript::initWithContentsOfURL(QUrl(QStringLiteral("https://example.com/a.scpt")), &error));
        QCOMPARE(error.value(NSAppleScriptErrorNumber).toInt(), int(paramErr));
    }

    // A name that carries a shell command: a missing path runs nothing, an existing one does.
    // Existence follows links: a dangling link is left alone.
    void removeFile_data()
    {
        QTest::addColumn<QString>("kind"); QTest::addColumn<bool>("removed");
        QTest::newRow("folder with contents") << "folder" << true;
        QTest::newRow("name with blanks") << "my scratch (1).txt" << true;
        QTest::newRow("dangling link") << "link" << false;
        QTest::newRow("missing, runs nothing") << "missing\"; touch \"ran\"; echo \"" << true;
        QTest::newRow("existing, runs the command line") << "present\"; touch \"ran\"; echo \"" << false;
    }
    void removeFile()
    {
        QFETCH(QString, kind); QFETCH(bool, removed);
        QTemporaryDir dir;
        const QString home = QDir::currentPath(), path = dir.filePath(kind);
        QVERIFY(QDir::setCurrent(dir.path())); // where the planted command line writes
        QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("keep.txt")), "kept"));
        if (kind == "link")
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), path));
        else if (!kind.startsWith("missing"))
            QVERIFY(TestSupport::writeFile(kind == "folder" ? path + QStringLiteral("/a/b/c.txt") : path, "x"));
        ZVUtility::removeFile(path);
        ZVUtility::removeFile(QString());
        QVERIFY(QDir::setCurrent(home));
        QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !removed);
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("keep.txt"))));
        QCOMPARE(QFile::remove(dir.filePath("ran")), kind.startsWith("present"));
    }

    // "" when the scratch file cannot be written (its folder is a plain file); the scratch file
    // removed after a run.
    void lastConsoleUserName()
    {
        const QString scratch = m_dir.filePath(QStringLiteral("out/last user.txt"));
        QVERIFY(TestSupport::writeFile(m_dir.filePath("out"), "not a folder"));
        const QString unwritable = ZVUtility::lastConsoleUserName();
        QVERIFY(unwritable.isEmpty() && !unwritable.isNull());
        QVERIFY(QFile::remove(m_dir.filePath("out")) && QDir(m_dir.path()).mkdir("out"));
        QVERIFY(!ZVUtility::lastConsoleUserName().isNull());
        QVERIFY(!QFileInfo::exists(scratch));
    }
};

// Run by withoutListing and killProcessUnderHiddenProcesses with DIR holding the table and the
// name (a command line holding the name would be listed): the answers, as the uninstall asks.
static int listingsChild(const QString &dir)
{
    NSBundle::mainBundle().setResourcePath(dir);
    const QString name = QString::fromUtf8(TestSupport::readFile(dir + "/name"));
    ZVAuthentication &auth = *ZVAuthentication::sharedInstance();
    auth.authenticate({name});
    const auto text = [](const Ids &ids) {
        QStringList texts;
        for (const qint32 id : ids)
            texts << QString::number(id);
        return texts.join(',');
    };
    // PLAIN: the two-column listing with this process's own rights.
    const QString answers = QStringLiteral("all=%1 pid=%2 workspace=%3 plain=%4 read=%5 ")
        .arg(text(auth.getAllProcessIDsWithName(name))).arg(auth.getPID(name))
        .arg(text(ZVXExtension::getAllProcessIDsWithName(NSWorkspace::sharedWorkspace(), name)))
        .arg(text(processIDsFromCommand("/bin/ps -axwwopid,command | grep " + name, name, Encoding::ASCII)))
        .arg(readCommandOutput("/bin/ps -p 1") ? "some" : "none");
    std::printf("%skill=%d\n", qPrintable(answers), int(auth.killProcess(name)));
    return 0;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == "--listings")
        return listingsChild(args.value(2));
    ProcessesTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "ProcessesTest.moc"
