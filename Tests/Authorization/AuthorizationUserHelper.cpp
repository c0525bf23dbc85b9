// Runs one scenario of ZVAuthentication as the (non-root) account that starts it and answers
// the administrator dialog as a person would: it finds the dialog through
// QApplication::activeModalWidget(), types into its fields and presses its buttons.
//
// Usage: AuthorizationUserHelper SCENARIO SANDBOX ANSWERS
//   ANSWERS: one letter per dialog round: R right password, W wrong password, N another
//   account's name with the right password, C cancel.
//   The right password is the first line of standard input (never an argument); with no
//   ANSWERS nothing is read (the polkit scenarios: the agent asks on the terminal).
// Prints "key=value" lines for AuthorizationUserTest to check.

#include "Authorization_p.h"
#include "AuthorizationDialog_p.h"
#include "ZVAuthentication.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

QString password;
QString sandbox;

void report(const QString &key, const QVariant &value)
{
    std::cout << key.toStdString() << '=' << value.toString().toStdString() << std::endl;
}

class Answerer : public QObject {
public:
    explicit Answerer(const QString &answers) : m_answers(answers)
    {
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, &Answerer::poll);
        m_timer.start(50);
    }

    int dialogsSeen = 0;
    int unavailableShown = 0;
    bool timedOut = false;

private:
    void poll()
    {
        if (QWidget *modal = QApplication::activeModalWidget();
            modal && modal->objectName() == "authorizationUnavailable") {
            report("unavailableShown", ++unavailableShown);
            modal->close();
            return;
        }
        auto *dialog = qobject_cast<AuthorizationDialog *>(QApplication::activeModalWidget());
        if (m_clock.elapsed() > 90000) {
            timedOut = true;
            if (dialog)
                dialog->reject();
            return;
        }
        if (!dialog)
            return;
        if (dialog != m_current) {
            m_current = dialog;
            m_expectedFailures = 0;
            ++dialogsSeen;
            m_prefilled = dialog->findChild<QLineEdit *>("nameField")->text();
            const QString shot = qEnvironmentVariable("ZV_AUTH_SCREENSHOT");
            if (!shot.isEmpty())
                dialog->grab().save(shot);
            report(QString("dialog%1.name").arg(dialogsSeen), m_prefilled);
            report(QString("dialog%1.details").arg(dialogsSeen),
                dialog->findChild<QLabel *>("detailsLabel")->text());
        }
        auto *ok = dialog->findChild<QPushButton *>("okButton");
        if (!ok->isEnabled() || dialog->failedAttempts() != m_expectedFailures)
            return;
        const QString message = dialog->findChild<QLabel *>("messageLabel")->text();
        if (m_expectedFailures > 0)
            report(QString("dialog%1.message%2").arg(dialogsSeen).arg(m_expectedFailures), message);
        if (m_next >= m_answers.size()) {
            report("unexpectedDialog", dialogsSeen);
            QTest::mouseClick(dialog->findChild<QPushButton *>("cancelButton"), Qt::LeftButton);
            return;
        }
        const QChar answer = m_answers.at(m_next++);
        auto *name = dialog->findChild<QLineEdit *>("nameField");
        auto *secret = dialog->findChild<QLineEdit *>("passwordField");
        if (answer == 'C') {
            QTest::mouseClick(dialog->findChild<QPushButton *>("cancelButton"), Qt::LeftButton);
            return;
        }
        if (name->text() != (answer == 'N' ? QString("root") : m_prefilled)) {
            name->clear();
            QTest::keyClicks(name, answer == 'N' ? QString("root") : m_prefilled);
        }
        QTest::keyClicks(secret, answer == 'W' ? QString("not-the-password-%1").arg(m_next) : password);
        if (answer != 'R')
            ++m_expectedFailures;
        QTest::mouseClick(ok, Qt::LeftButton);
    }

    QString m_answers;
    qsizetype m_next = 0;
    QPointer<AuthorizationDialog> m_current;
    QString m_prefilled;
    int m_expectedFailures = 0;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

// True when sudo, started directly by this process, runs as root without asking: the
// credential that the authorization holds is shared with this process's own sudo children.
bool sudoWithoutPassword()
{
    QProcess sudo;
    sudo.start("/usr/bin/sudo", {"-n", "/bin/true"});
    return sudo.waitForFinished(30000) && sudo.exitStatus() == QProcess::NormalExit
        && sudo.exitCode() == 0;
}

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

// A tool run as root that records who it ran as, after waiting for the test to release it
// (the test scans every process meanwhile).
QStringList recordingScript()
{
    return {"-c",
        QString("touch '%1/started'; n=0; while [ ! -e '%1/release' ] && [ $n -lt 900 ]; do "
                "sleep 0.1; n=$((n+1)); done; /usr/bin/id -u > '%1/uid.txt'")
            .arg(sandbox)};
}

int runScenario(const QString &scenario, Answerer &answerer)
{
    ZVAuthentication auth;
    if (scenario == "grant") {
        report("status.noInteraction", copyStatus(kAuthorizationFlagExtendRights));
        report("status.noExtend", copyStatus(kAuthorizationFlagInteractionAllowed));
        report("sudoBefore", sudoWithoutPassword());
        // 25 entries, of which only 20 label the request; the second one, 100 two-byte
        // characters, is cut to the 63 of them that fit in 127 bytes.
        QStringList entries{"/bin/rm", QString(100, QChar(0xE9))};
        for (int i = 3; i <= 25; ++i)
            entries << QString("e%1").arg(i);
        report("authenticate", auth.authenticate(entries));
        report("isAuthenticated", auth.isAuthenticated({"/bin/kill"}));
        report("sudoShared", sudoWithoutPassword());
        report("execute", auth.executeCommandWithArgs("/bin/sh", recordingScript()));
    } else if (scenario == "refuse") {
        report("authenticate", auth.authenticate({"/bin/rm"}));
        report("execute", auth.executeCommandWithArgs("/bin/rm", {"-rf", sandbox + "/product"}));
        qputenv("PATH", QFile::encodeName(sandbox + "/fakebin:") + qgetenv("PATH"));
        report("unload", auth.unloadLaunchctlProcess("/Library/LaunchDaemons/x.plist"));
        report("isAuthenticated", auth.isAuthenticated({"/bin/rm"}));
    } else if (scenario == "polkit") {
        report("isAuthenticatedBefore", auth.isAuthenticated({"/bin/rm"}));
        report("authenticate", auth.authenticate({"/bin/rm"}));
        report("isAuthenticated", auth.isAuthenticated({"/bin/kill"}));
        report("execute", auth.executeCommandWithArgs("/bin/sh", recordingScript()));
        report("remove", auth.executeCommandWithArgs("/bin/rm", {"-rf", sandbox + "/product"}));
        auth.deauthenticate();
        report("isAuthenticatedAfter", auth.isAuthenticated({"/bin/rm"}));
    } else if (scenario == "exit") {
        // The program's own shared object, left for the end of the program to clean up.
        report("authenticate", ZVAuthentication::sharedInstance()->authenticate({"/bin/rm"}));
        report("sudoShared", sudoWithoutPassword());
    } else if (scenario == "again") {
        report("authenticate1", auth.authenticate({"/bin/rm"}));
        report("sudoShared", sudoWithoutPassword());
        auth.deauthenticate();
        report("sudoAfterDeauthenticate", sudoWithoutPassword());
        report("isAuthenticatedAfter", auth.isAuthenticated({"/bin/rm"}));
        report("dialogsBeforeSecond", answerer.dialogsSeen);
        report("authenticate2", auth.authenticate({"/bin/rm"}));
        report("execute", auth.executeCommandWithArgs("/bin/rm", {"-rf", sandbox + "/product"}));
    } else {
        report("error", "unknown scenario");
        return 2;
    }
    report("dialogs", answerer.dialogsSeen);
    report("timedOut", answerer.timedOut);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setApplicationName("Uninstaller");
    if (argc < 4) {
        std::cerr << "usage: AuthorizationUserHelper SCENARIO SANDBOX ANSWERS\n";
        return 2;
    }
    std::string line;
    if (argv[3][0])
        std::getline(std::cin, line);
    password = QString::fromStdString(line);
    sandbox = QString::fromLocal8Bit(argv[2]);
    Answerer answerer(QString::fromLocal8Bit(argv[3]));
    int code = 0;
    QTimer::singleShot(0, [&] {
        code = runScenario(QString::fromLocal8Bit(argv[1]), answerer);
        app.quit();
    });
    app.exec();
    return code;
}
