// ZVAuthentication and the Authorization layer, as root (as CI runs), and for a real non-root
// account that the test makes and removes again (also at the next start after a killed run: its
// rule names the process that made it): this program runs again as that account (--helper
// below), answers the dialog as a person would and reports what it got. The polkit row runs the
// helper with a private system bus, polkitd and the product's action file; an administrator
// (group sudo) types the password into the product's agent on the terminal.
#include "Authorization_p.h"
#include "AuthorizationDialog_p.h"
#include "TestSupport.h"
#include "ZVAuthentication.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <iostream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The helper's side: answers the dialog, one letter of ANSWERS per round (R the right password,
// W a wrong one, N another account's name with the right password, C cancel), and prints
// "key=value" lines of what the scenario got.
namespace helper {
QString password, sandbox, answers;
int dialogs = 0, unavailable = 0;
bool timedOut = false;

void report(const QString &key, const QVariant &value)
{
    std::cout << key.toStdString() << '=' << value.toString().toStdString() << std::endl;
}

// Called every 50 ms: answers the dialog that shows, one letter of ANSWERS per round.
void answer()
{
    static QElapsedTimer clock;
    static QPointer<AuthorizationDialog> current;
    static QString prefilled;
    static int failures = 0;
    static qsizetype next = 0;
    if (!clock.isValid())
        clock.start();
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal->objectName() == "authorizationUnavailable") {
        report("unavailableShown", ++unavailable);
        modal->close();
    }
    auto *dialog = qobject_cast<AuthorizationDialog *>(modal);
    if (dialog && clock.elapsed() > 90000)
        timedOut = true, dialog->reject();
    if (!dialog || timedOut)
        return;
    auto *name = dialog->findChild<QLineEdit *>("nameField");
    if (dialog != current) {
        current = dialog, failures = 0, prefilled = name->text();
        report(QString("dialog%1.name").arg(++dialogs), prefilled);
        report(QString("dialog%1.details").arg(dialogs), dialog->findChild<QLabel *>("detailsLabel")->text());
    }
    auto *ok = dialog->findChild<QPushButton *>("okButton");
    if (!ok->isEnabled() || dialog->failedAttempts() != failures)
        return;
    if (failures > 0)
        report(QString("dialog%1.message%2").arg(dialogs).arg(failures), dialog->findChild<QLabel *>("messageLabel")->text());
    const QChar letter = next < answers.size() ? answers.at(next++) : QChar('-');
    if (letter == '-')
        report("unexpectedDialog", dialogs);
    if (letter == '-' || letter == 'C')
        return QTest::mouseClick(dialog->findChild<QPushButton *>("cancelButton"), Qt::LeftButton);
    const QString account = letter == 'N' ? QString("root") : prefilled;
    if (name->text() != account)
        name->clear(), QTest::keyClicks(name, account);
    QTest::keyClicks(dialog->findChild<QLineEdit *>("passwordField"),
                     letter == 'W' ? QString("not-the-password-%1").arg(next) : password);
    failures += letter != 'R';
    QTest::mouseClick(ok, Qt::LeftButton);
}

// Whether sudo, started directly by this process, runs as root without asking: the credential
// that the authorization holds is shared with this process's own sudo children.
bool sudoWithoutPassword() { return TestSupport::runProgram("/usr/bin/sudo", {"-n", "/bin/true"}).exitCode == 0; }

OSStatus copyStatus(AuthorizationFlags flags)
{
    AuthorizationRef ref = nullptr;
    AuthorizationCreate(nullptr, kAuthorizationEmptyEnvironment, kAuthorizationFlagDefaults, &ref);
    AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights rights{1, &item};
    const OSStatus status = AuthorizationCopyRights(ref, &rights, nullptr, flags, nullptr);
    AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
    return status;
}

// A tool run as root that records who it ran as, once the test released it (the test scans
// every process meanwhile).
bool recordUser(ZVAuthentication &auth)
{
    return auth.executeCommandWithArgs("/bin/sh", {"-c", QString("touch '%1/started'; n=0; while [ ! -e '%1/release' ] "
        "&& [ $n -lt 900 ]; do sleep 0.1; n=$((n+1)); done; /usr/bin/id -u > '%1/uid.txt'").arg(sandbox)});
}

void runScenario(const QString &scenario)
{
    ZVAuthentication auth;
    const QString product = sandbox + "/product";
    if (scenario == "grant") {
        report("status.noInteraction", copyStatus(kAuthorizationFlagExtendRights));
        report("status.noExtend", copyStatus(kAuthorizationFlagInteractionAllowed));
        report("sudoBefore", sudoWithoutPassword());
        // 25 entries; the second, 100 two-byte characters.
        QStringList entries{"/bin/rm", QString(100, QChar(0xE9))};
        for (int i = 3; i <= 25; ++i)
            entries << QString("e%1").arg(i);
        report("authenticate", auth.authenticate(entries));
        report("isAuthenticated", auth.isAuthenticated({"/bin/kill"}));
        report("sudoShared", sudoWithoutPassword());
        report("execute", recordUser(auth));
    } else if (scenario == "refuse") {
        report("authenticate", auth.authenticate({"/bin/rm"}));
        report("execute", auth.executeCommandWithArgs("/bin/rm", {"-rf", product}));
        qputenv("PATH", QFile::encodeName(sandbox + "/fakebin:") + qgetenv("PATH"));
        report("unload", auth.unloadLaunchctlProcess("/Library/LaunchDaemons/x.plist"));
        report("isAuthenticated", auth.isAuthenticated({"/bin/rm"}));
    } else if (scenario == "polkit") {
        report("isAuthenticatedBefore", auth.isAuthenticated({"/bin/rm"}));
        report("authenticate", auth.authenticate({"/bin/rm"}));
        report("isAuthenticated", auth.isAuthenticated({"/bin/kill"}));
        report("execute", recordUser(auth));
        report("remove", auth.executeCommandWithArgs("/bin/rm", {"-rf", product}));
        auth.deauthenticate();
        report("isAuthenticatedAfter", auth.isAuthenticated({"/bin/rm"}));
    } else if (scenario == "exit") { // the program's shared object, left for the program's end
        report("authenticate", ZVAuthentication::sharedInstance()->authenticate({"/bin/rm"}));
        report("sudoShared", sudoWithoutPassword());
    } else if (scenario == "again") {
        report("authenticate1", auth.authenticate({"/bin/rm"}));
        report("sudoShared", sudoWithoutPassword());
        auth.deauthenticate();
        report("sudoAfterDeauthenticate", sudoWithoutPassword());
        report("isAuthenticatedAfter", auth.isAuthenticated({"/bin/rm"}));
        report("dialogsBeforeSecond", dialogs);
        report("authenticate2", auth.authenticate({"/bin/rm"}));
        report("execute", auth.executeCommandWithArgs("/bin/rm", {"-rf", product}));
    }
    report("dialogs", dialogs);
    report("timedOut", timedOut);
}
} // namespace helper

namespace {
bool makeScript(const QString &path, const QString &body)
{
    return TestSupport::writeFile(path, "#!/bin/sh\n" + body.toUtf8()) && ::chmod(QFile::encodeName(path).constData(), 0755) == 0;
}
QByteArray bytes(const QString &text) { return QFile::encodeName(text); }
const QString kSudoers = "/etc/sudoers.d/", kPrefix = "zvauthtest";

int run(const QString &program, const QStringList &args, const QString &input = {})
{
    return TestSupport::runProgram(program, args, input.toUtf8()).exitCode;
}
void removeAccount(const QString &name)
{
    QFile::remove(kSudoers + name);
    run("/usr/sbin/userdel", {"--force", name});
    QFile::remove("/run/sudo/ts/" + name);
}
QString randomText() { return QString::number(QRandomGenerator::system()->generate64(), 36); }
// Makes ACCOUNT with PASSWORD (and GROUPS) and a rule file with RULE that names this process.
bool makeAccount(const QString &account, const QString &password, const QStringList &groups, const QString &rule)
{
    const QString draft = QDir::temp().filePath(account);
    const bool made = TestSupport::writeFile(draft, QString("# Made by AuthorizationUserTest, pid %1\n%2")
                                                        .arg(::getpid()).arg(rule).toUtf8())
        && run("/usr/sbin/visudo", {"-cqf", draft}) == 0 && ::chmod(QFile::encodeName(draft).constData(), 0440) == 0
        && QFile::rename(draft, kSudoers + account)
        && run("/usr/sbin/useradd", QStringList{"--no-create-home", "--shell", "/usr/sbin/nologin", "--comment",
                                                "AuthorizationUserTest"} + groups + QStringList{account}) == 0
        && run("/usr/sbin/chpasswd", {}, account + ":" + password + "\n") == 0;
    QFile::remove(draft);
    return made;
}
// Removes the accounts also when the program ends without cleanupTestCase.
struct Accounts {
    QStringList names;
    ~Accounts()
    {
        for (const QString &name : std::as_const(names))
            removeAccount(name);
    }
} accounts;

// Starts a system bus and polkitd on a private /run/dbus, with the actions folder $1 over the
// machine's, runs the rest of the arguments and stops both again.
const char kPolkitSandbox[] = R"(set -u
mount -t tmpfs tmpfs /run/dbus && mount --bind "$1" /usr/share/polkit-1/actions || exit 96
shift
bus=$(dbus-daemon --system --fork --print-pid) || exit 96
/usr/lib/polkit-1/polkitd --no-debug >/dev/null 2>&1 & authority=$!
gdbus wait --system --timeout 10 org.freedesktop.PolicyKit1 || { kill $authority $bus; exit 97; }
"$@"; status=$?
kill $authority $bus
exit $status
)";
} // namespace

class AuthorizationTest : public QObject {
    Q_OBJECT
    QTimer m_watch; // a dialog would be a fault here: any modal window is noted and closed
    int m_dialogs = 0;
    QTemporaryDir m_dir;
    QString m_account, m_password, m_admin, m_adminPassword, m_polkitSkip;
    QTemporaryDir m_programs;

    // Makes the administrator and the private actions folder once; false (the reason in
    // m_polkitSkip) when polkit's programs or the product's agent are missing.
    bool preparePolkit()
    {
        if (!m_admin.isEmpty() || !m_polkitSkip.isEmpty())
            return m_polkitSkip.isEmpty();
        const QString built = TestSupport::binaryDir();
        for (const char *needed : {"/usr/bin/pkexec", "/usr/lib/polkit-1/polkitd", "/usr/bin/dbus-daemon", "/usr/bin/gdbus"})
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
        QFile::remove(kSudoers + m_account);
        m_admin = m_account + "a";
        m_adminPassword = "Zv-" + randomText() + randomText().toUpper();
        accounts.names << m_admin;
        if (!makeAccount(m_admin, m_adminPassword, {"--groups", "sudo"}, ""))
            m_polkitSkip = "the administrator account could not be made";
        return m_polkitSkip.isEmpty();
    }

    // The command lines of the processes whose arguments or environment hold a password; the
    // processes read and whether one holds MARK in its arguments (the scan saw the helper).
    QStringList scanProcesses(const QString &mark, int *read, bool *markSeen)
    {
        QStringList holders;
        for (QDirIterator it("/proc", QDir::Dirs | QDir::NoDotAndDotDot); it.hasNext();) {
            const QString folder = it.next();
            const QByteArray cmdline = TestSupport::readFile(folder + "/cmdline"), env = TestSupport::readFile(folder + "/environ");
            if (cmdline.isEmpty() && env.isEmpty())
                continue;
            ++*read;
            *markSeen = *markSeen || cmdline.contains(mark.toUtf8());
            for (const QString &secret : {m_password, m_adminPassword})
                if (!secret.isEmpty() && (cmdline.contains(secret.toUtf8()) || env.contains(secret.toUtf8())))
                    holders << QString::fromUtf8(cmdline).replace('\0', ' ');
        }
        return holders;
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("these checks run as root (and make a test account)");
        connect(&m_watch, &QTimer::timeout, this, [this] {
            if (QWidget *w = QApplication::activeModalWidget())
                ++m_dialogs, w->close();
        });
        m_watch.start(20);
        if (!QFileInfo::exists("/usr/bin/sudo") || !QFileInfo::exists("/usr/sbin/useradd") || !QFileInfo::exists("/usr/bin/script"))
            return; // the scenarios say so
        for (const QString &rule : QDir(kSudoers).entryList({kPrefix + "*"}, QDir::Files)) {
            const QByteArray text = TestSupport::readFile(kSudoers + rule);
            const QByteArray pid = text.mid(text.indexOf("pid ") + 4).split('\n').first().trimmed();
            if (!text.contains("pid ") || !QFileInfo::exists("/proc/" + QString::fromLatin1(pid)))
                removeAccount(rule);
        }
        // This program where the account can run it, and the account's runtime folder.
        QVERIFY(m_programs.isValid() && ::chmod(QFile::encodeName(m_programs.path()).constData(), 0755) == 0);
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), m_programs.filePath("helper")));
        m_password = "Zv-" + randomText() + randomText().toUpper();
        accounts.names << kPrefix + randomText().left(8);
        QVERIFY(makeAccount(accounts.names.last(), m_password, {}, accounts.names.last() + " ALL=(ALL:ALL) ALL\n"));
        m_account = accounts.names.last();
        const passwd *entry = ::getpwnam(m_account.toLocal8Bit().constData());
        QVERIFY(entry && QDir(m_programs.path()).mkdir("runtime"));
        QCOMPARE(::chown(QFile::encodeName(m_programs.filePath("runtime")).constData(), entry->pw_uid, entry->pw_gid), 0);
        QCOMPARE(::chmod(QFile::encodeName(m_programs.filePath("runtime")).constData(), 0700), 0);
    }
    void cleanup() { QCOMPARE(std::exchange(m_dialogs, 0), 0); }

    // Rights are held whatever is asked; an empty list asks for nothing, but its reference
    // serves the next request; fetchPassword needs the reference that isAuthenticated makes,
    // and deauthenticating (twice too) drops it.
    void rights()
    {
        ZVAuthentication auth;
        QVERIFY(!auth.isAuthenticated({}) && !auth.fetchPassword({}) && !auth.authenticate({}));
        QVERIFY(auth.isAuthenticated({"/bin/rm"}));
        QVERIFY(auth.fetchPassword({"/bin/kill"}));
        auth.deauthenticate();
        auth.deauthenticate();
        QVERIFY(!auth.fetchPassword({"/bin/rm"}));
        QVERIFY(auth.authenticate({"/bin/rm"}) && auth.fetchPassword({"/bin/rm"}));
        ZVAuthentication fresh;
        QVERIFY(!fresh.fetchPassword({"/bin/rm"}));
    }

    void layerStatusCodes()
    {
        AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0}, unnamed{nullptr, 0, nullptr, 0},
            valueless{kAuthorizationRightExecute, 4, nullptr, 0};
        AuthorizationRights one{1, &item}, noItems{1, nullptr}, badItem{1, &unnamed}, badValue{1, &valueless};
        AuthorizationRef ref = nullptr;
        QCOMPARE(AuthorizationCreate(nullptr, nullptr, 0, nullptr), errAuthorizationInvalidPointer);
        QCOMPARE(AuthorizationCreate(nullptr, nullptr, 0x100, &ref), errAuthorizationInvalidFlags);
        QVERIFY(!ref);
        QCOMPARE(AuthorizationCreate(&one, nullptr, kAuthorizationFlagExtendRights, &ref), errAuthorizationSuccess);
        QVERIFY(ref);
        QCOMPARE(AuthorizationCopyRights(nullptr, &one, nullptr, 2, nullptr), errAuthorizationInvalidRef);
        for (const AuthorizationRights *bad : {(AuthorizationRights *)nullptr, &noItems, &badItem, &badValue})
            QCOMPARE(AuthorizationCopyRights(ref, bad, nullptr, 2, nullptr), errAuthorizationInvalidSet);
        QCOMPARE(AuthorizationCopyRights(ref, &one, nullptr, kAuthorizationFlagDestroyRights, nullptr),
                 errAuthorizationInvalidFlags);
        for (AuthorizationFlags flags : {0u, 1u, 2u, 3u, 4u, 16u, 23u}) // root holds the right whatever the flags
            QCOMPARE(AuthorizationCopyRights(ref, &one, nullptr, flags, nullptr), errAuthorizationSuccess);

        char echo[] = "echo";
        char *args[] = {echo, nullptr};
        FILE *pipe = nullptr;
        QCOMPARE(AuthorizationExecuteWithPrivileges(nullptr, "/bin/echo", 0, args, &pipe), errAuthorizationInvalidRef);
        QCOMPARE(AuthorizationExecuteWithPrivileges(ref, nullptr, 0, args, &pipe), errAuthorizationInvalidPointer);
        QCOMPARE(AuthorizationExecuteWithPrivileges(ref, "/bin/echo", 1, args, &pipe), errAuthorizationInvalidFlags);
        // Relative, missing, a folder, no executable bits, no interpreter for the script.
        QVERIFY(TestSupport::writeFile(m_dir.filePath("plain"), "not a program\n"));
        QVERIFY(makeScript(m_dir.filePath("broken"), "") && TestSupport::writeFile(m_dir.filePath("broken"), "#!/nonexistent/sh\n"));
        for (const QByteArray &tool : {QByteArray("bin/echo"), QByteArray("/nonexistent/tool"), QByteArray("/tmp"),
                                       bytes(m_dir.filePath("plain")), bytes(m_dir.filePath("broken"))})
            QCOMPARE(AuthorizationExecuteWithPrivileges(ref, tool.constData(), 0, args, &pipe), errAuthorizationToolExecuteFailure);
        QVERIFY(!pipe);
        QCOMPARE(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
        QCOMPARE(AuthorizationFree(ref, kAuthorizationFlagInteractionAllowed), errAuthorizationInvalidFlags);
        QCOMPARE(AuthorizationFree(ref, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
        QCOMPARE(AuthorizationFreeItemSet(nullptr), errAuthorizationInvalidSet);

        // Granted rights are a copy, values included.
        QCOMPARE(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
        char first[] = "/bin/rm", second[] = "/bin/kill";
        AuthorizationItem items[2] = {{kAuthorizationRightExecute, 7, first, 0}, {kAuthorizationRightExecute, 9, second, 0}};
        AuthorizationRights rights{2, items}, *granted = nullptr;
        QCOMPARE(AuthorizationCopyRights(ref, &rights, nullptr, 3, &granted), errAuthorizationSuccess);
        QVERIFY(granted && granted->count == 2 && granted->items != items && granted->items[1].value != second);
        QCOMPARE(QByteArray(granted->items[1].name), QByteArray("system.privilege.admin"));
        QCOMPARE(QByteArray(static_cast<const char *>(granted->items[1].value), qsizetype(granted->items[1].valueLength)),
                 QByteArray("/bin/kill"));
        QCOMPARE(AuthorizationFreeItemSet(granted), errAuthorizationSuccess);

        // The stream is the tool's input and output.
        char n[] = "-n", oneLine[] = "1";
        char *headArgs[] = {n, oneLine, nullptr};
        QCOMPARE(AuthorizationExecuteWithPrivileges(ref, "/usr/bin/head", 0, headArgs, &pipe), errAuthorizationSuccess);
        char line[64] = {};
        QVERIFY(pipe && std::fputs("hello\n", pipe) >= 0 && std::fflush(pipe) == 0 && std::fgets(line, sizeof line, pipe));
        QCOMPARE(QByteArray(line), QByteArray("hello\n"));
        QVERIFY(!std::fgets(line, sizeof line, pipe));
        QCOMPARE(std::fclose(pipe), 0);
        QCOMPARE(AuthorizationFree(ref, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
    }

    // TOOL "script" is a script that records its arguments, one a line, then prints far more
    // than a socket holds (and a line longer than the reader's buffer) before it finishes: the
    // call returns after all of it was read. At most 19 arguments are passed; the tool's own
    // failure still counts as run, a tool that cannot be started does not.
    void execute_data()
    {
        QTest::addColumn<QString>("tool"); QTest::addColumn<QStringList>("args"); QTest::addColumn<bool>("result");
        QStringList many{"two words", "", "quote\"s", "*", "é"};
        for (int i = 6; i <= 25; ++i)
            many << QString("arg %1").arg(i);
        QTest::newRow("25 arguments, odd text") << "script" << many << true;
        QTest::newRow("tool fails") << "/bin/false" << QStringList() << true;
        QTest::newRow("missing tool") << "/nonexistent/tool" << QStringList() << false;
    }
    void execute()
    {
        QFETCH(QString, tool); QFETCH(QStringList, args); QFETCH(bool, result);
        const QString out = m_dir.filePath("args.txt");
        QFile::remove(out);
        if (tool == "script")
            QVERIFY(makeScript(tool = m_dir.filePath("args.sh"),
                               QString("for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done > '%1.part'\n"
                                       "head -c 300000 /dev/zero | tr '\\0' a; echo\n"
                                       "i=0; while [ $i -lt 3000 ]; do echo line $i; i=$((i+1)); done\n"
                                       "sleep 0.3; mv '%1.part' '%1'\n").arg(out)));
        ZVAuthentication auth;
        QCOMPARE(auth.executeCommandWithArgs(tool, args), result);
        if (!tool.endsWith("args.sh"))
            return;
        QVERIFY2(QFileInfo::exists(out), "the call returned before the tool finished");
        QStringList got;
        for (const QByteArray &line : TestSupport::readFile(out).split('\n'))
            if (!line.isEmpty())
                got << QString::fromUtf8(line.mid(1, line.size() - 2));
        QCOMPARE(got, args.mid(0, 19));
    }

    // Unloading runs the fixed command line through sudo, whatever path is given: a stand-in
    // sudo first on PATH records how the shell ran it.
    void unloadRunsFixedCommandWhenAuthorized()
    {
        QVERIFY(makeScript(m_dir.filePath("bin/sudo"), QString("printf '%s\\n' \"$@\" > '%1'\n").arg(m_dir.filePath("ran"))));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bytes(m_dir.filePath("bin")) + ":" + path);
        const bool result = ZVAuthentication().unloadLaunchctlProcess("/Library/LaunchDaemons/other.plist");
        qputenv("PATH", path);
        QVERIFY(result);
        QCOMPARE(TestSupport::readFile(m_dir.filePath("ran")),
                 QByteArray("/bin/launchctl\nunload\n/Library/LaunchDaemons/com.quillmarsh.tavrindaemon.plist\n"));
    }
    void cleanupTestCase()
    {
        for (const QString &name : std::exchange(accounts.names, {}))
            removeAccount(name);
        QVERIFY(m_account.isEmpty() || !QFileInfo::exists(kSudoers + m_account));
    }

    // MODE: "sudo" (no terminal: sudo's credential is the helper's alone), "no sudo" (sudo
    // cannot be run and no polkit authority answers), "terminal" (the helper under a terminal;
    // AFTERWARDS then runs there as the account), "polkit" (the agent asks on the terminal: the
    // first time for the administrator's password, then cancel). EXPECTED: "key=value" lines of the
    // helper, "key~text" for a value holding text. SCAN: the processes are scanned for the
    // passwords while the helper's tool runs as root.
    void scenarios_data()
    {
        QTest::addColumn<QString>("scenario"); QTest::addColumn<QString>("answers"); QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("expected"); QTest::addColumn<bool>("scan"); QTest::addColumn<bool>("removed");
        // The first 20 of 25 entries label the request; the second, 100 two-byte characters,
        // is cut to the 63 that fit in 127 bytes.
        QStringList labels{"/bin/rm", QString(63, QChar(0xE9))};
        for (int i = 3; i <= 20; ++i)
            labels << QString("e%1").arg(i);
        QTest::newRow("right password grants, the tool runs as root") << "grant" << "R" << "sudo"
            << QStringList{"exitCode=0", "status.noInteraction=-60007", "status.noExtend=-60005", "sudoBefore=false",
                           "authenticate=true", "dialog1.name=%1", "dialog1.details=Requested for: " + labels.join(", "),
                           "isAuthenticated=true", "sudoShared=true", "execute=true", "dialogs=1", "timedOut=false"}
            << true << false;
        // Another name, a wrong password, cancel; then cancel the removal's and the unload's requests.
        QTest::newRow("refused: nothing changes") << "refuse" << "NWCCC" << "sudo"
            << QStringList{"exitCode=0", "authenticate=false", "dialog1.message1~Only the password of %1",
                           "dialog1.message2=The password is wrong. Try again.", "execute=false", "unload=false",
                           "isAuthenticated=false", "dialogs=3", "timedOut=false"} << false << false;
        // Deauthenticating drops sudo's credential too, and a new reference holds nothing.
        QTest::newRow("a request after deauthenticate asks again") << "again" << "RR" << "sudo"
            << QStringList{"exitCode=0", "authenticate1=true", "sudoShared=true", "sudoAfterDeauthenticate=false",
                           "isAuthenticatedAfter=false", "dialogsBeforeSecond=1", "authenticate2=true", "dialogs=2",
                           "execute=true"} << false << true;
        // After the program ends nothing else in its terminal runs as root without the password.
        QTest::newRow("rights end with the program") << "exit" << "R" << "terminal"
            << QStringList{"authenticate=true", "sudoShared=true", "after=refused"} << false << false;
        QTest::newRow("neither polkit nor sudo says so") << "refuse" << "C" << "no sudo"
            << QStringList{"authenticate=false", "execute=false", "unavailableShown=3", "dialogs=0"} << false << false;
        // The administrator's name and password typed once into the product's agent; the kept
        // authorization grants without asking until it is revoked.
        QTest::newRow("polkit: an administrator grants a standard user") << "polkit" << "" << "polkit"
            << QStringList{"isAuthenticatedBefore=false", "authenticate=true", "isAuthenticated=true", "execute=true",
                           "remove=true", "isAuthenticatedAfter=false", "terminalPrompts=1", "dialogs=0"} << true << true;
    }
    void scenarios()
    {
        QFETCH(QString, scenario); QFETCH(QString, answers); QFETCH(QString, mode);
        QFETCH(QStringList, expected); QFETCH(bool, scan); QFETCH(bool, removed);
        if (m_account.isEmpty())
            QSKIP("sudo, useradd and script are needed (scripts/setup.sh installs them)");
        if (mode == "polkit" && !preparePolkit())
            QSKIP(qPrintable(m_polkitSkip));
        // A sandbox holding a product that only root can remove, and a stand-in sudo that
        // records being run.
        QTemporaryDir dir;
        const QString sandbox = dir.path();
        QVERIFY(TestSupport::writeFile(sandbox + "/product/Contents/data", "product data\n"));
        QVERIFY(TestSupport::writeFile(sandbox + "/fakebin/sudo", QString("#!/bin/sh\necho \"$@\" > '%1/fakebin/ran'\n").arg(sandbox).toUtf8()));
        const std::pair<const char *, int> modes[] = {{"", 0755}, {"/product", 0755}, {"/product/Contents", 0755},
                                                      {"/product/Contents/data", 0600}, {"/fakebin", 0777}, {"/fakebin/sudo", 0755}};
        for (const auto &[path, bits] : modes)
            QCOMPARE(::chmod(QFile::encodeName(sandbox + path).constData(), bits), 0);

        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_programs.filePath("runtime"));
        env.insert("ZV_AUTHORIZATION_PROMPT", "terminal");
        env.insert("ZV_AUTHORIZATION_AGENT", m_programs.filePath("ZVAuthorizationAgent"));
        env.insert("ZV_PRIVILEGED_TOOL", m_programs.filePath("ZVPrivilegedTool"));
        helper.setProcessEnvironment(env);
        helper.setWorkingDirectory(m_programs.path());
        const QStringList command{"/usr/sbin/runuser", "-u", m_account, "--", m_programs.filePath("helper"), "--helper",
                                  scenario, sandbox, answers};
        const QString passwordFile = m_programs.filePath("password"); // only root reads it: no argument holds it
        if (mode == "sudo" || mode == "no sudo") {
            helper.setChildProcessModifier([] { ::setsid(); }); // no controlling terminal
            if (mode == "sudo")
                helper.start(command.first(), command.mid(1));
            else
                helper.start("/usr/bin/unshare", QStringList{"-m", "--propagation", "private", "/bin/sh", "-c",
                                                             "mount --bind /dev/null /usr/bin/sudo && exec \"$@\"", "sh"} + command);
            helper.write((m_password + "\n").toUtf8());
            helper.closeWriteChannel();
        } else {
            QVERIFY(TestSupport::writeFile(passwordFile, (m_password + "\n").toUtf8())
                    && ::chmod(QFile::encodeName(passwordFile).constData(), 0600) == 0);
            QString line = QString("%1 '%2' '%3' < %4").arg(command.mid(0, 7).join(' '), sandbox, answers,
                                                            answers.isEmpty() ? "/dev/null" : passwordFile);
            if (mode == "terminal")
                line += "; /usr/sbin/runuser -u " + m_account + " -- /usr/bin/sudo -n /bin/true && echo after=still || echo after=refused";
            const QStringList script{"/usr/bin/script", "-qfec", line, "/dev/null"};
            if (mode == "polkit")
                helper.start("/usr/bin/unshare", QStringList{"-m", "--propagation", "private", "/bin/sh",
                             m_programs.filePath("polkit-sandbox.sh"), m_programs.filePath("actions")} + script);
            else
                helper.start(script.first(), script.mid(1));
        }
        QVERIFY(helper.waitForStarted(10000));

        // Answers the agent's questions on the terminal; scans while the tool runs as root.
        QByteArray output, pending;
        int prompts = 0, read = 0;
        bool released = false, helperSeen = false;
        QStringList holders;
        QElapsedTimer clock;
        clock.start();
        while (helper.state() != QProcess::NotRunning && clock.elapsed() < 180000) {
            helper.waitForFinished(50);
            const QByteArray more = mode == "sudo" || mode == "no sudo" ? QByteArray() : helper.readAllStandardOutput();
            output += more, pending += more;
            if (pending.contains("Administrator (1-")) { // choose the administrator by name among those offered
                QByteArray choice = "0";
                for (const QByteArray &offered : pending.split('\n'))
                    if (offered.trimmed().endsWith(". " + m_admin.toUtf8()))
                        choice = offered.trimmed().split('.').first();
                helper.write(choice + "\n"), pending.clear();
            } else if (pending.contains("Password for ") && pending.trimmed().endsWith(':')) {
                helper.write(prompts++ == 0 ? (m_adminPassword + "\n").toUtf8() : QByteArray("\x04"));
                pending.clear();
            }
            if (!released && QFileInfo::exists(sandbox + "/started")) {
                if (scan)
                    holders += scanProcesses(sandbox, &read, &helperSeen);
                released = TestSupport::writeFile(sandbox + "/release", "");
            }
        }
        TestSupport::writeFile(sandbox + "/release", "");
        QFile::remove(passwordFile);
        if (helper.state() != QProcess::NotRunning) {
            helper.kill();
            helper.waitForFinished(5000);
            QFAIL("the helper did not finish");
        }
        output += helper.readAllStandardOutput();
        QMap<QString, QString> report{{"exitCode", QString::number(helper.exitCode())}, {"terminalPrompts", QString::number(prompts)}};
        for (const QByteArray &line : output.split('\n'))
            if (const qsizetype eq = line.indexOf('='); eq > 0)
                report[QString::fromUtf8(line.left(eq).trimmed())] = QString::fromUtf8(line.mid(eq + 1).trimmed());
        qInfo().noquote() << output;

        for (const QString &line : expected) {
            const qsizetype at = line.indexOf(QRegularExpression("[=~]"));
            const QString key = line.left(at), value = line.mid(at + 1).replace("%1", m_account);
            if (line.at(at) == '=')
                QCOMPARE(report.value(key), value);
            else
                QVERIFY2(report.value(key).contains(value), qPrintable(key + ": " + report.value(key)));
        }
        QVERIFY(!report.contains("unexpectedDialog"));
        QVERIFY(!output.contains(m_password.toUtf8()) && (m_adminPassword.isEmpty() || !output.contains(m_adminPassword.toUtf8())));
        if (scan) {
            QVERIFY(read > 3 && helperSeen);
            QVERIFY2(holders.isEmpty(), qPrintable("a password in: " + holders.join(" | ")));
            QCOMPARE(TestSupport::readFile(sandbox + "/uid.txt"), QByteArray("0\n"));
            QCOMPARE(QFileInfo(sandbox + "/uid.txt").ownerId(), 0u);
        }
        QCOMPARE(TestSupport::readFile(sandbox + "/product/Contents/data"), QByteArray(removed ? "" : "product data\n"));
        QCOMPARE(QFileInfo::exists(sandbox + "/product"), !removed);
        QVERIFY(!QFileInfo::exists(sandbox + "/fakebin/ran"));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 5 || qstrcmp(argv[1], "--helper") != 0) {
        AuthorizationTest test;
        return QTest::qExec(&test, argc, argv);
    }
    // The helper: --helper SCENARIO SANDBOX ANSWERS (see helper::answer), the password the
    // first line of standard input when there are ANSWERS.
    using namespace helper;
    app.setApplicationName("Uninstaller");
    std::string line;
    if (argv[4][0])
        std::getline(std::cin, line);
    password = QString::fromStdString(line);
    sandbox = QString::fromLocal8Bit(argv[3]);
    answers = QString::fromLocal8Bit(argv[4]);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, answer);
    timer.start(50);
    QTimer::singleShot(0, [&] { runScenario(QString::fromLocal8Bit(argv[2])), app.quit(); });
    return app.exec();
}
#include "AuthorizationTest.moc"
