// Console, version and file operations on this machine and on prepared state: removeFile,
// lastConsoleUserName, the system version through Gestalt, isApplicationRunningForUserUser's
// fallbacks, the console user from logind's or utmp's state, and running a script file.
#include "Gestalt_p.h"
#include "NSAppleScript_p.h"
#include "NSBundle_p.h"
#include "NSWorkspace+ZVXExtension.h"
#include "PropertyList_p.h"
#include "SystemConfiguration_p.h"
#include "TestSupport.h"
#include "ProcessFixture.h"
#include "ZVLocalizedString.h"
#include "ZVUtility.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <unistd.h>
#include <utmp.h>

class ProcessesSystemTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void removeFile_data();
    void removeFile();
    void removeFileMissingRunsNothing();
    void lastConsoleUserName();
    void lastConsoleUserNameUnwritable();
    void gestaltFromFile_data();
    void gestaltFromFile();
    void versionOnThisMachine();
    void applicationRunningFallback();
    void macVersionFile_data();
    void macVersionFile();
    void consoleUserFromLogind_data();
    void consoleUserFromLogind();
    void consoleUserFromUtmp_data();
    void consoleUserFromUtmp();
    void appleScript();

private:
    QTemporaryDir m_dir;
    QString m_lastPath;
    QString m_logoutPath;
};

void ProcessesSystemTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_lastPath = m_dir.filePath(QStringLiteral("out/last user.txt"));
    m_logoutPath = m_dir.filePath(QStringLiteral("logout.txt"));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("out"))));
    const QVariantMap table{{QStringLiteral("LastConsoleUserNameFilePath"), m_lastPath},
                            {QStringLiteral("LogoutCommandOutputFilePath"), m_logoutPath}};
    QVERIFY(PropertyList::writeFile(table, m_dir.filePath(QStringLiteral("Localizable.plist")),
                                    PropertyList::Format::XML, false));
    NSBundle::mainBundle().setResourcePath(m_dir.path());
}

void ProcessesSystemTest::removeFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("removed");
    QTest::newRow("file") << "file" << true;
    QTest::newRow("folder with contents") << "folder" << true;
    QTest::newRow("name with blanks") << "odd" << true;
    // Existence follows links: nothing exists at a dangling link, so it is left alone.
    QTest::newRow("dangling symbolic link") << "link" << false;
}

void ProcessesSystemTest::removeFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("keep.txt"));
    QVERIFY(TestSupport::writeFile(target, "kept"));
    QString path;
    if (kind == QLatin1String("file")) {
        path = dir.filePath(QStringLiteral("scratch.txt"));
        QVERIFY(TestSupport::writeFile(path, "x"));
    } else if (kind == QLatin1String("folder")) {
        path = dir.filePath(QStringLiteral("tree"));
        QVERIFY(TestSupport::writeFile(path + QStringLiteral("/a/b/c.txt"), "x"));
    } else if (kind == QLatin1String("odd")) {
        path = dir.filePath(QStringLiteral("my scratch (1).txt"));
        QVERIFY(TestSupport::writeFile(path, "x"));
    } else {
        path = dir.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), path));
    }
    ZVUtility::removeFile(path);
    QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !removed);
    QVERIFY(QFileInfo::exists(target));
}

// For a missing path no command may run: the path carries a shell command that would leave
// a marker if the removal command line were run.
void ProcessesSystemTest::removeFileMissingRunsNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString marker = dir.filePath(QStringLiteral("ran"));
    const QString path = dir.filePath(QStringLiteral("missing\"; touch \"%1\"; echo \"")).arg(marker);
    QVERIFY(!QFileInfo::exists(path));
    ZVUtility::removeFile(path);
    ZVUtility::removeFile(QString());
    ZVUtility::removeFile(QStringLiteral(""));
    QVERIFY(!QFileInfo::exists(marker));
    // The same kind of path, existing, does run the command: the check above can fail.
    QVERIFY(TestSupport::writeFile(path, "x"));
    ZVUtility::removeFile(path);
    QVERIFY(QFileInfo::exists(marker));
}

// The first line of this machine's console logins (often none in a container), and the
// scratch file removed.
void ProcessesSystemTest::lastConsoleUserName()
{
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                            QStringLiteral("last | grep console | awk '{print $1}'")});
    QVERIFY(shell.waitForFinished(60000));
    const QString expected = QString::fromUtf8(shell.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0);

    QCOMPARE(ZVUtility::lastConsoleUserName(), expected);
    QVERIFY(!QFileInfo::exists(m_lastPath));
}

// When the scratch file cannot be written (its folder is a plain file), the answer is "".
void ProcessesSystemTest::lastConsoleUserNameUnwritable()
{
    const QString folder = m_dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(TestSupport::writeFile(folder, "not a folder"));
    const QString result = ZVUtility::lastConsoleUserName();
    QVERIFY(QFile::remove(folder));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(result, QStringLiteral(""));
    QVERIFY(!result.isNull());
}

void ProcessesSystemTest::gestaltFromFile_data()
{
    QTest::addColumn<QByteArray>("plist");
    QTest::addColumn<QList<int>>("expected"); // sys1, sys2, sys3, sysv; empty: not answered
    auto version = [](const char *text) {
        return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                          "<key>ProductName</key><string>Mac OS X</string>"
                          "<key>ProductVersion</key><string>")
            + text + "</string></dict></plist>";
    };
    QTest::newRow("10.6.8") << version("10.6.8") << QList<int>{10, 6, 8, 0x1068};
    QTest::newRow("10.4 without bug fix") << version("10.4") << QList<int>{10, 4, 0, 0x1040};
    QTest::newRow("10.4.11 clamps in sysv") << version("10.4.11") << QList<int>{10, 4, 11, 0x1049};
    QTest::newRow("10.10.5") << version("10.10.5") << QList<int>{10, 10, 5, 0x1095};
    QTest::newRow("words") << version("ten.six") << QList<int>{};
    QTest::newRow("signed part") << version("10.-6.1") << QList<int>{};
    QTest::newRow("four parts") << version("10.6.8.1") << QList<int>{};
    QTest::newRow("empty") << version("") << QList<int>{};
    QTest::newRow("no version key") << QByteArray("<plist version=\"1.0\"><dict/></plist>") << QList<int>{};
    QTest::newRow("not a property list") << QByteArray("ProductVersion=10.6.8") << QList<int>{};
    QTest::newRow("no file") << QByteArray() << QList<int>{};
}

void ProcessesSystemTest::gestaltFromFile()
{
    QFETCH(QByteArray, plist);
    QFETCH(QList<int>, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("SystemVersion.plist"));
    if (!plist.isNull())
        QVERIFY(TestSupport::writeFile(path, plist));
    const OSType selectors[] = {gestaltSystemVersionMajor, gestaltSystemVersionMinor,
                                gestaltSystemVersionBugFix, gestaltSystemVersion};
    for (int i = 0; i < 4; ++i) {
        SInt32 response = -7;
        const OSErr status = GestaltFromSystemVersionFile(path, selectors[i], &response);
        if (expected.isEmpty()) {
            QCOMPARE(status, OSErr(gestaltUndefSelectorErr));
            QCOMPARE(response, -7);
        } else {
            QCOMPARE(status, OSErr(noErr));
            QCOMPARE(response, expected.at(i));
        }
    }
    SInt32 response = -7;
    QCOMPARE(GestaltFromSystemVersionFile(path, FOUR_CHAR_CODE("abcd"), &response),
             OSErr(gestaltUndefSelectorErr));
    QCOMPARE(response, -7);
}

// Without a Mac OS version file (any Linux machine) every part reads as 0.
void ProcessesSystemTest::versionOnThisMachine()
{
    const QString file = QString::fromLatin1(kGestaltSystemVersionFilePath);
    if (QFileInfo::exists(file)) {
        SInt32 major = 0, minor = 0, bugFix = 0;
        Gestalt(gestaltSystemVersionMajor, &major);
        Gestalt(gestaltSystemVersionMinor, &minor);
        Gestalt(gestaltSystemVersionBugFix, &bugFix);
        QCOMPARE(ZVUtility::MacOSVersionWithBugfix(),
                 QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(bugFix));
        return;
    }
    SInt32 response = -7;
    QCOMPARE(Gestalt(gestaltSystemVersion, &response), OSErr(gestaltUndefSelectorErr));
    QCOMPARE(response, -7);
    QCOMPARE(ZVUtility::MacOSVersionWithBugfix(), QStringLiteral("0.0.0"));
}

// With no readable system version the check cannot be made: the application counts as
// running and no command runs (no scratch file appears).
void ProcessesSystemTest::applicationRunningFallback()
{
    if (QFileInfo::exists(QString::fromLatin1(kGestaltSystemVersionFilePath)))
        QSKIP("this machine carries a Mac OS version file");
    QVERIFY(ZVUtility::isApplicationRunningForUserUser(QStringLiteral("NoSuchProgramZV"),
                                                       QStringLiteral("root")));
    QVERIFY(ZVUtility::isApplicationRunningForUserUser(QString(), QString()));
    QVERIFY(!QFileInfo::exists(m_logoutPath));
}

void ProcessesSystemTest::macVersionFile_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("applicationRuns");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("scratchLeft");
    QTest::newRow("10.3.9: not checked") << "10.3.9" << false << true << false;
    QTest::newRow("10.4.11, running") << "10.4.11" << true << true << false;
    QTest::newRow("10.4.11, not running") << "10.4.11" << false << false << true;
    // procps refuses "-xwwwu USER": from 10.5 on the listing is empty on Linux.
    QTest::newRow("10.6.8, running but unlisted") << "10.6.8" << true << false << true;
}

// A machine carrying a Mac OS version file, made in a private mount namespace: the root file
// system overlaid (changes land in a temp folder), the file placed in the overlay, and this
// program run again inside it through chroot (see childMain below).
void ProcessesSystemTest::macVersionFile()
{
    QFETCH(QString, version);
    QFETCH(bool, applicationRuns);
    QFETCH(bool, answer);
    QFETCH(bool, scratchLeft);
    if (::geteuid() != 0)
        QSKIP("a private mount namespace needs root");

    QTemporaryDir overlay;
    QVERIFY(overlay.isValid());
    for (const char *folder : {"upper", "work", "root"})
        QVERIFY(QDir(overlay.path()).mkdir(QString::fromLatin1(folder)));
    const QVariantMap versionFile{{QStringLiteral("ProductName"), QStringLiteral("Mac OS X")},
                                  {QStringLiteral("ProductVersion"), version}};
    QVERIFY(PropertyList::writeFile(versionFile, overlay.filePath(QStringLiteral("SystemVersion.plist")),
                                    PropertyList::Format::XML, false));

    QTemporaryDir programs;
    QVERIFY(programs.isValid());
    ProcessFixture processes(programs.path());
    const QString application = ProcessFixture::uniqueName(QStringLiteral("Agent"));
    if (applicationRuns)
        QVERIFY(processes.start(application) > 0);

    const QString script = QStringLiteral(
        "set -e; D=$1; shift; mount --make-rprivate /; "
        "mount -t overlay overlay -o lowerdir=/,upperdir=$D/upper,workdir=$D/work $D/root; "
        "mkdir -p $D/root/System/Library/CoreServices; "
        "cp $D/SystemVersion.plist $D/root/System/Library/CoreServices/; "
        "mount -t proc proc $D/root/proc; mount --rbind /dev $D/root/dev; "
        "exec chroot $D/root \"$@\"");
    QProcess child;
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-m"), QStringLiteral("/bin/sh"), QStringLiteral("-c"), script,
                 QStringLiteral("sh"), overlay.path(), QCoreApplication::applicationFilePath(),
                 QStringLiteral("--mac-version-child"), m_dir.path(), application,
                 QStringLiteral("root")});
    QVERIFY(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    if (child.exitCode() != 0 && !output.contains(QLatin1String("version=")))
        QSKIP(qPrintable(QStringLiteral("no overlay here: ") + QString::fromUtf8(child.readAllStandardError())));
    QCOMPARE(child.exitCode(), 0);

    QCOMPARE(output, QStringLiteral("version=%1\nrunning=%2\nscratch=%3\n")
                         .arg(version)
                         .arg(int(answer))
                         .arg(int(scratchLeft)));
    QVERIFY(!QFileInfo::exists(QString::fromLatin1(kGestaltSystemVersionFilePath)));
    QVERIFY(!QFileInfo::exists(m_logoutPath));
}

void ProcessesSystemTest::consoleUserFromLogind_data()
{
    QTest::addColumn<QByteArray>("seat");
    QTest::addColumn<QByteArray>("session");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("uid");
    QTest::addColumn<int>("gid");
    const QByteArray seatC2("# This is private data. Do not parse.\nIS_SEAT0=1\nACTIVE=c2\nACTIVE_UID=0\nSESSIONS=c1 c2\n");
    QTest::newRow("active root session") << seatC2
        << QByteArray("# private\nUID=0\nUSER=root\nACTIVE=1\nSEAT=seat0\n") << "root" << 0 << 0;
    QTest::newRow("user unknown to the account database") << seatC2
        << QByteArray("UID=4242\nUSER=visitor\n") << "visitor" << 4242 << -1;
    QTest::newRow("no active session") << QByteArray("IS_SEAT0=1\nSESSIONS=\n") << QByteArray() << QString() << -7 << -7;
    QTest::newRow("active session file missing") << seatC2 << QByteArray() << QString() << -7 << -7;
    QTest::newRow("session without user") << seatC2 << QByteArray("UID=0\n") << QString() << -7 << -7;
    QTest::newRow("session id leaving the folder") << QByteArray("ACTIVE=../sessions/c2\n")
        << QByteArray("UID=0\nUSER=root\n") << QString() << -7 << -7;
}

void ProcessesSystemTest::consoleUserFromLogind()
{
    QFETCH(QByteArray, seat);
    QFETCH(QByteArray, session);
    QFETCH(QString, user);
    QFETCH(int, uid);
    QFETCH(int, gid);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("seats/seat0")), seat));
    if (!session.isEmpty())
        QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("sessions/c2")), session));
    // A live utmp console login is there too: logind's seat decides alone.
    uid_t outUid = uid_t(-7);
    gid_t outGid = gid_t(-7);
    const QString name = SCDynamicStoreCopyConsoleUserFrom(dir.path(), QStringLiteral("/nonexistent"),
                                                           &outUid, &outGid);
    QCOMPARE(name, user);
    QCOMPARE(name.isNull(), user.isNull());
    QCOMPARE(int(outUid), uid);
    QCOMPARE(int(outGid), gid);
}

namespace {
QByteArray utmpRecord(short type, pid_t pid, const char *line, const char *user)
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

void ProcessesSystemTest::consoleUserFromUtmp_data()
{
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<QString>("user");
    const pid_t live = ::getpid();
    const pid_t gone = 0x3FFFFFF0; // above pid_max: no such process
    QTest::newRow("login on tty1") << utmpRecord(USER_PROCESS, live, "tty1", "root") << "root";
    QTest::newRow("graphical display") << utmpRecord(USER_PROCESS, live, ":0", "root") << "root";
    QTest::newRow("remote terminal only") << utmpRecord(USER_PROCESS, live, "pts/3", "root") << QString();
    QTest::newRow("ended login") << utmpRecord(USER_PROCESS, gone, "tty1", "root") << QString();
    QTest::newRow("logged out record") << utmpRecord(DEAD_PROCESS, live, "tty1", "root") << QString();
    QTest::newRow("unknown account") << utmpRecord(USER_PROCESS, live, "tty2", "zv-no-such-user") << QString();
    QTest::newRow("last console login wins")
        << utmpRecord(USER_PROCESS, live, "tty2", "zv-no-such-user") + utmpRecord(USER_PROCESS, live, "tty1", "root")
               + utmpRecord(USER_PROCESS, live, "pts/0", "daemon") << "root";
    QTest::newRow("cut record") << utmpRecord(USER_PROCESS, live, "tty1", "root").left(100) << QString();
    QTest::newRow("empty") << QByteArray("") << QString();
}

void ProcessesSystemTest::consoleUserFromUtmp()
{
    QFETCH(QByteArray, records);
    QFETCH(QString, user);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("systemd/seats"))));
    const QString utmpPath = dir.filePath(QStringLiteral("utmp"));
    QVERIFY(TestSupport::writeFile(utmpPath, records));
    uid_t uid = uid_t(-7);
    gid_t gid = gid_t(-7);
    const QString name = SCDynamicStoreCopyConsoleUserFrom(dir.filePath(QStringLiteral("systemd")),
                                                           utmpPath, &uid, &gid);
    QCOMPARE(name, user);
    QCOMPARE(name.isNull(), user.isNull());
    QCOMPARE(int(uid), user.isNull() ? -7 : 0);
    QCOMPARE(int(gid), user.isNull() ? -7 : 0);
}

void ProcessesSystemTest::appleScript()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    NSWorkspace &workspace = NSWorkspace::sharedWorkspace();

    const auto missing = ZVXExtension::executeAppleScriptFromFile(workspace, dir.filePath(QStringLiteral("none.scpt")));
    QVERIFY(missing);
    QCOMPARE(missing->value(NSAppleScriptErrorNumber).toInt(), int(fnfErr));
    QVERIFY(!missing->value(NSAppleScriptErrorMessage).toString().isEmpty());

    const auto folder = ZVXExtension::executeAppleScriptFromFile(workspace, dir.path());
    QVERIFY(folder);
    QCOMPARE(folder->value(NSAppleScriptErrorNumber).toInt(), int(permErr));

    const QString script = dir.filePath(QStringLiteral("quit.applescript"));
    QVERIFY(TestSupport::writeFile(script, "tell application \"Finder\" to quit\n"));
    const auto run = ZVXExtension::executeAppleScriptFromFile(workspace, script);
    QVERIFY(run);
    QCOMPARE(run->value(NSAppleScriptErrorNumber).toInt(), errOSACantOpenComponent);
    QVERIFY(!run->value(NSAppleScriptErrorMessage).toString().isEmpty());

    QVERIFY(!ZVXExtension::executeAppleScriptFromFile(workspace, QString()));
    QVERIFY(!ZVXExtension::executeAppleScriptFromFile(workspace, QStringLiteral("")));

    QVariantMap error;
    QVERIFY(!NSAppleScript::initWithContentsOfURL(QUrl(QStringLiteral("https://example.com/a.scpt")), &error));
    QCOMPARE(error.value(NSAppleScriptErrorNumber).toInt(), int(paramErr));
}

// Inside the overlaid machine: the answers of this product's code there, one per line.
static int childMain(const char *resources, const char *application, const char *user)
{
    NSBundle::mainBundle().setResourcePath(QString::fromLocal8Bit(resources));
    const bool running = ZVUtility::isApplicationRunningForUserUser(QString::fromLocal8Bit(application),
                                                                    QString::fromLocal8Bit(user));
    const bool scratch = QFileInfo::exists(
        ZVLocalizedString(QStringLiteral("LogoutCommandOutputFilePath"), QString()));
    std::printf("version=%s\nrunning=%d\nscratch=%d\n",
                ZVUtility::MacOSVersionWithBugfix().toUtf8().constData(), int(running), int(scratch));
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--mac-version-child") == 0)
        return childMain(argv[2], argv[3], argv[4]);
    QCoreApplication app(argc, argv);
    ProcessesSystemTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "SystemTest.moc"
