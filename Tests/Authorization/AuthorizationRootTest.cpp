// ZVAuthentication and the Authorization layer in a process running as root (as CI does):
// rights are held without a dialog, tools run as root, and the layer answers bad input with
// its status codes.

#include "Authorization_p.h"
#include "TestSupport.h"
#include "ZVAuthentication.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeScript(const QString &path, const QByteArray &body)
{
    return TestSupport::writeFile(path, "#!/bin/sh\n" + body)
        && chmod(QFile::encodeName(path).constData(), 0755) == 0;
}

} // namespace

class AuthorizationRootTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void emptyListAsksForNothing();
    void rightsHeldWithoutDialog();
    void fetchPasswordNeedsReference();
    void deauthenticateTwiceThenNewReference();
    void layerStatusCodes();
    void authorizedRightsAreACopy();
    void executeRemovesRootOwnedFiles();
    void executeResult_data();
    void executeResult();
    void executePassesAtMost19Arguments_data();
    void executePassesAtMost19Arguments();
    void executeReadsOutputToItsEnd();
    void streamIsToolsInputAndOutput();
    void unloadRunsFixedCommandWhenAuthorized();

private:
    // A dialog would be a fault here: any modal window that shows up is noted and closed.
    QTimer m_watch;
    int m_dialogs = 0;
};

void AuthorizationRootTest::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("these checks are for a process running as root");
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (QWidget *w = QApplication::activeModalWidget()) {
            ++m_dialogs;
            w->close();
        }
    });
    m_watch.start(20);
}

void AuthorizationRootTest::init() { m_dialogs = 0; }

void AuthorizationRootTest::cleanup() { QCOMPARE(m_dialogs, 0); }

void AuthorizationRootTest::emptyListAsksForNothing()
{
    ZVAuthentication auth;
    QVERIFY(!auth.isAuthenticated({}));
    QVERIFY(!auth.fetchPassword({}));
    QVERIFY(!auth.authenticate({}));
    // The reference made by the empty request serves the next one.
    QVERIFY(auth.isAuthenticated({"/bin/rm"}));
}

void AuthorizationRootTest::rightsHeldWithoutDialog()
{
    ZVAuthentication auth;
    QStringList many;
    for (int i = 0; i < 25; ++i)
        many << QString("/opt/product/tool%1").arg(i);
    QVERIFY(auth.isAuthenticated({"/bin/rm"}));
    QVERIFY(auth.authenticate(many));
    QVERIFY(auth.authenticate({QString(300, 'x')}));
    QVERIFY(auth.fetchPassword({"/bin/kill"}));
    QVERIFY(ZVAuthentication::sharedInstance() == ZVAuthentication::sharedInstance());
    QVERIFY(ZVAuthentication::sharedInstance()->authenticate({"/bin/rm"}));
}

void AuthorizationRootTest::fetchPasswordNeedsReference()
{
    // fetchPassword relies on isAuthenticated having made the reference.
    ZVAuthentication auth;
    QVERIFY(!auth.fetchPassword({"/bin/rm"}));
    QVERIFY(auth.isAuthenticated({"/bin/rm"}));
    QVERIFY(auth.fetchPassword({"/bin/rm"}));
}

void AuthorizationRootTest::deauthenticateTwiceThenNewReference()
{
    ZVAuthentication auth;
    auth.deauthenticate();
    QVERIFY(auth.authenticate({"/bin/rm"}));
    auth.deauthenticate();
    auth.deauthenticate();
    QVERIFY(!auth.fetchPassword({"/bin/rm"}));
    QVERIFY(auth.isAuthenticated({"/bin/rm"}));
}

void AuthorizationRootTest::layerStatusCodes()
{
    AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights one{1, &item};
    AuthorizationRights noItems{1, nullptr};
    AuthorizationItem unnamed{nullptr, 0, nullptr, 0};
    AuthorizationRights badItem{1, &unnamed};
    AuthorizationItem valueless{kAuthorizationRightExecute, 4, nullptr, 0};
    AuthorizationRights badValue{1, &valueless};

    QCOMPARE(AuthorizationCreate(nullptr, nullptr, 0, nullptr), errAuthorizationInvalidPointer);
    AuthorizationRef ref = nullptr;
    QCOMPARE(AuthorizationCreate(nullptr, nullptr, 0x100, &ref), errAuthorizationInvalidFlags);
    QVERIFY(!ref);
    QCOMPARE(AuthorizationCreate(&one, nullptr, kAuthorizationFlagExtendRights, &ref),
        errAuthorizationSuccess);
    QVERIFY(ref);

    QCOMPARE(AuthorizationCopyRights(nullptr, &one, nullptr, 2, nullptr), errAuthorizationInvalidRef);
    QCOMPARE(AuthorizationCopyRights(ref, nullptr, nullptr, 2, nullptr), errAuthorizationInvalidSet);
    QCOMPARE(AuthorizationCopyRights(ref, &noItems, nullptr, 2, nullptr), errAuthorizationInvalidSet);
    QCOMPARE(AuthorizationCopyRights(ref, &badItem, nullptr, 2, nullptr), errAuthorizationInvalidSet);
    QCOMPARE(AuthorizationCopyRights(ref, &badValue, nullptr, 2, nullptr), errAuthorizationInvalidSet);
    QCOMPARE(AuthorizationCopyRights(ref, &one, nullptr, kAuthorizationFlagDestroyRights, nullptr),
        errAuthorizationInvalidFlags);
    // Root holds the right whatever the flags allow.
    for (AuthorizationFlags flags : {0u, 1u, 2u, 3u, 4u, 16u, 23u})
        QCOMPARE(AuthorizationCopyRights(ref, &one, nullptr, flags, nullptr), errAuthorizationSuccess);

    char echo[] = "echo";
    char *args[] = {echo, nullptr};
    FILE *pipe = nullptr;
    QCOMPARE(AuthorizationExecuteWithPrivileges(nullptr, "/bin/echo", 0, args, &pipe),
        errAuthorizationInvalidRef);
    QCOMPARE(AuthorizationExecuteWithPrivileges(ref, nullptr, 0, args, &pipe),
        errAuthorizationInvalidPointer);
    QCOMPARE(AuthorizationExecuteWithPrivileges(ref, "/bin/echo", 1, args, &pipe),
        errAuthorizationInvalidFlags);
    QTemporaryDir dir;
    QVERIFY(TestSupport::writeFile(dir.filePath("plain"), "not a program\n"));
    for (const char *tool : {"bin/echo", "/nonexistent/tool", "/tmp"})
        QCOMPARE(AuthorizationExecuteWithPrivileges(ref, tool, 0, args, &pipe),
            errAuthorizationToolExecuteFailure);
    QCOMPARE(AuthorizationExecuteWithPrivileges(
                 ref, QFile::encodeName(dir.filePath("plain")).constData(), 0, args, &pipe),
        errAuthorizationToolExecuteFailure);
    // Executable bits but no interpreter: exec itself fails.
    QVERIFY(makeScript(dir.filePath("broken"), ""));
    QVERIFY(TestSupport::writeFile(dir.filePath("broken"), "#!/nonexistent/interpreter\n"));
    QCOMPARE(AuthorizationExecuteWithPrivileges(
                 ref, QFile::encodeName(dir.filePath("broken")).constData(), 0, args, &pipe),
        errAuthorizationToolExecuteFailure);
    QVERIFY(!pipe);

    QCOMPARE(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
    QCOMPARE(AuthorizationFree(ref, kAuthorizationFlagInteractionAllowed), errAuthorizationInvalidFlags);
    QCOMPARE(AuthorizationFree(ref, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
    QCOMPARE(AuthorizationFreeItemSet(nullptr), errAuthorizationInvalidSet);
}

void AuthorizationRootTest::authorizedRightsAreACopy()
{
    AuthorizationRef ref = nullptr;
    QCOMPARE(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
    char first[] = "/bin/rm";
    char second[] = "/bin/kill";
    AuthorizationItem items[2] = {{kAuthorizationRightExecute, 7, first, 0},
        {kAuthorizationRightExecute, 9, second, 0}};
    AuthorizationRights rights{2, items};
    AuthorizationRights *granted = nullptr;
    QCOMPARE(AuthorizationCopyRights(ref, &rights, nullptr, 3, &granted), errAuthorizationSuccess);
    QVERIFY(granted);
    QCOMPARE(granted->count, 2u);
    QVERIFY(granted->items != items);
    QCOMPARE(QByteArray(granted->items[1].name), QByteArray("system.privilege.admin"));
    QCOMPARE(QByteArray(static_cast<const char *>(granted->items[1].value),
                 qsizetype(granted->items[1].valueLength)),
        QByteArray("/bin/kill"));
    QVERIFY(granted->items[1].value != second);
    QCOMPARE(AuthorizationFreeItemSet(granted), errAuthorizationSuccess);
    QCOMPARE(AuthorizationFree(ref, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
}

void AuthorizationRootTest::executeRemovesRootOwnedFiles()
{
    QTemporaryDir dir;
    const QString product = dir.filePath("Product.app");
    QVERIFY(TestSupport::writeFile(product + "/Contents/MacOS/Product", "binary\n"));
    QVERIFY(TestSupport::writeFile(product + "/Contents/locked", "locked\n"));
    QVERIFY(chown(QFile::encodeName(product + "/Contents/locked").constData(), 0, 0) == 0);
    QVERIFY(chmod(QFile::encodeName(product + "/Contents/locked").constData(), 0) == 0);
    QVERIFY(chmod(QFile::encodeName(product + "/Contents").constData(), 0500) == 0);
    const QString keep = dir.filePath("keep");
    QVERIFY(TestSupport::writeFile(keep, "stays\n"));

    ZVAuthentication auth;
    QVERIFY(auth.executeCommandWithArgs("/bin/rm", {"-rf", product}));
    QVERIFY(!QFileInfo::exists(product));
    QCOMPARE(TestSupport::readFile(keep), QByteArray("stays\n"));
}

void AuthorizationRootTest::executeResult_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("result");
    // The tool's own failure still counts as run; a tool that cannot be started does not.
    QTest::newRow("success") << "/bin/true" << QStringList() << true;
    QTest::newRow("tool fails") << "/bin/false" << QStringList() << true;
    QTest::newRow("rm of a missing path") << "/bin/rm" << QStringList{"/nonexistent/x"} << true;
    QTest::newRow("missing tool") << "/nonexistent/tool" << QStringList() << false;
    QTest::newRow("relative tool") << "bin/true" << QStringList() << false;
    QTest::newRow("empty tool") << "" << QStringList() << false;
}

void AuthorizationRootTest::executeResult()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(bool, result);
    ZVAuthentication auth;
    QCOMPARE(auth.executeCommandWithArgs(tool, args), result);
}

void AuthorizationRootTest::executePassesAtMost19Arguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("passed");
    QStringList many;
    for (int i = 1; i <= 25; ++i)
        many << QString("arg %1").arg(i);
    QTest::newRow("none") << QStringList() << QStringList();
    QTest::newRow("odd text") << QStringList{"two words", "", "quote\"s", "*", "é"}
                              << QStringList{"two words", "", "quote\"s", "*", "é"};
    QTest::newRow("19") << many.mid(0, 19) << many.mid(0, 19);
    QTest::newRow("25") << many << many.mid(0, 19);
}

void AuthorizationRootTest::executePassesAtMost19Arguments()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, passed);
    QTemporaryDir dir;
    const QString out = dir.filePath("args.txt");
    const QString tool = dir.filePath("args.sh");
    QVERIFY(makeScript(tool, QString("for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done > '%1'\n")
                                  .arg(out).toUtf8()));
    ZVAuthentication auth;
    QVERIFY(auth.executeCommandWithArgs(tool, args));
    QStringList got;
    for (const QByteArray &line : TestSupport::readFile(out).split('\n'))
        if (!line.isEmpty())
            got << QString::fromUtf8(line.mid(1, line.size() - 2));
    QCOMPARE(got, passed);
}

void AuthorizationRootTest::executeReadsOutputToItsEnd()
{
    // Far more output than a socket holds, one line longer than the 1024-byte buffer: the
    // tool reaches its last command only if all of it was read, and the call returns only
    // after that.
    QTemporaryDir dir;
    const QString marker = dir.filePath("finished");
    const QString tool = dir.filePath("talk.sh");
    QVERIFY(makeScript(tool, QString("head -c 300000 /dev/zero | tr '\\0' a; echo\n"
                                     "i=0; while [ $i -lt 3000 ]; do echo line $i; i=$((i+1)); done\n"
                                     "sleep 0.3; touch '%1'\n")
                                 .arg(marker).toUtf8()));
    ZVAuthentication auth;
    QVERIFY(auth.executeCommandWithArgs(tool, {}));
    QVERIFY(QFileInfo::exists(marker));
}

void AuthorizationRootTest::streamIsToolsInputAndOutput()
{
    AuthorizationRef ref = nullptr;
    QCOMPARE(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
    char n[] = "-n", one[] = "1";
    char *args[] = {n, one, nullptr};
    FILE *pipe = nullptr;
    QCOMPARE(AuthorizationExecuteWithPrivileges(ref, "/usr/bin/head", 0, args, &pipe),
        errAuthorizationSuccess);
    QVERIFY(pipe);
    QVERIFY(std::fputs("hello\n", pipe) >= 0);
    QCOMPARE(std::fflush(pipe), 0);
    char line[64] = {};
    QVERIFY(std::fgets(line, sizeof line, pipe));
    QCOMPARE(QByteArray(line), QByteArray("hello\n"));
    QVERIFY(!std::fgets(line, sizeof line, pipe));
    QCOMPARE(std::fclose(pipe), 0);
    QCOMPARE(AuthorizationFree(ref, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
}

void AuthorizationRootTest::unloadRunsFixedCommandWhenAuthorized()
{
    // A stand-in sudo, first on PATH, records how the shell ran it.
    QTemporaryDir dir;
    const QString record = dir.filePath("ran");
    QVERIFY(makeScript(dir.filePath("sudo"),
        QString("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1'\n").arg(record).toUtf8()));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()) + ":" + path);
    ZVAuthentication auth;
    QVERIFY(auth.isAuthenticated({"/bin/launchctl"}));
    const bool result = auth.unloadLaunchctlProcess("/Library/LaunchDaemons/other.plist");
    qputenv("PATH", path);
    QVERIFY(result);
    QCOMPARE(TestSupport::readFile(record),
        QByteArray("/bin/launchctl\nunload\n/Library/LaunchDaemons/com.quillmarsh.tavrindaemon.plist\n"));
}

QTEST_MAIN(AuthorizationRootTest)
#include "AuthorizationRootTest.moc"
