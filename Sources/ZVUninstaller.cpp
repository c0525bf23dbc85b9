#include "ZVUninstaller.h"

#include "FileLock.h"
#include "LQLoginItemRegistry.h"
#include "NSAlertPanel.h"
#include "NSAppleScript.h"
#include "NSArray_Extensions.h"
#include "NSBundle.h"
#include "NSPathUtilities.h"
#include "NSStringFormat.h"
#include "NSWorkspace+ZVXExtension.h"
#include "NSWorkspace.h"
#include "NSProgressIndicator.h"
#include "PropertyList.h"
#include "TavrinScheduleItem.h"
#include "ZVAuthentication.h"
#include "ZVLocalizedString.h"
#include "ZVScheduleItem.h"
#include "ZVUninstallerWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QProcess>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString L(const char *key) { return ZVLocalizedString(QString::fromLatin1(key), QString()); }

// A user path format with its "%@" replaced by the user's short login name.
QString userPath(const char *key) { return NSStringFormat::stringWithFormat(L(key), {NSUserName()}); }

// Brand texts: index 0 Tavrin, 1 Pelloma.
struct BrandTexts {
    const char *welcomeHeading;
    const char *productName;
    const char *invitation;
    const char *uninstalling;
    const char *success;
};
const BrandTexts kBrands[2] = {
    {"Welcome to  Tavrin for Mac Uninstaller", "Tavrin for Mac",
     "Click Uninstall to remove Tavrin for Mac from your machine", "Uninstalling Tavrin for Mac",
     "Successfully Uninstalled Tavrin for Mac"},
    {"Welcome to  Pelloma for Mac Uninstaller", "Pelloma for Mac",
     "Click Uninstall to remove Pelloma for Mac from your machine", "Uninstalling Pelloma for Mac",
     "Successfully Uninstalled Pelloma for Mac"},
};

// Runs a configured command line through the shell and waits for it. What the command prints
// goes nowhere: the uninstaller shows no messages but its own, and a window program has no
// terminal to show them in anyway.
void runQuietly(const QString &command)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(STDOUT_FILENO);
    const int savedErr = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    const int status = std::system(command.toLocal8Bit().constData());
    Q_UNUSED(status);
    if (savedOut >= 0) {
        ::dup2(savedOut, STDOUT_FILENO);
        ::close(savedOut);
    }
    if (savedErr >= 0) {
        ::dup2(savedErr, STDERR_FILENO);
        ::close(savedErr);
    }
}

} // namespace

const QString ZVUninstaller::kAlertMessageKey = QStringLiteral(
    "Stop any backup operation that may be in progress and then proceed to uninstall the application.\n"
    " Are you sure that you want to completely remove Tavrin for Mac and all it's components?");

ZVUninstaller::ZVUninstaller(QObject *parent) : QObject(parent) {}

QLabel *ZVUninstaller::cellAtRowColumn(int row, int column) const
{
    if (!imagesMatrix || column != 0 || row < 0 || row > 2)
        return nullptr;
    return imagesMatrix->findChild<QLabel *>(QStringLiteral("cell%1").arg(row));
}

QString ZVUninstaller::applicationName() const { return L("ApplicationName"); }

bool ZVUninstaller::isTavrinApplication() const
{
    return applicationName() == QLatin1String("Tavrin for Mac");
}

void ZVUninstaller::redisplay()
{
    if (auto *window = qobject_cast<ZVUninstallerWindow *>(nextButton ? nextButton->window() : nullptr))
        window->display();
    else if (nextButton)
        nextButton->window()->repaint();
}

void ZVUninstaller::awakeFromNib()
{
    auto *window = qobject_cast<ZVUninstallerWindow *>(nextButton->window());
    QApplication::setActiveWindow(nextButton->window());
    if (window) {
        window->makeKeyAndOrderFront();
        // Scaling applies when the pattern image is drawn at another size; a pattern is
        // drawn at the image's own size, so the image is used as it is.
        window->setBackgroundColor(QBrush(NSImageNamed(QStringLiteral("defaultuninstallerBackground"))));
    } else {
        nextButton->window()->show();
    }
    const QVariant version = NSBundle::mainBundle().infoDictionary().value(QStringLiteral("CFBundleVersion"));
    versionField->setText(version.isValid() ? version.toString() : QStringLiteral("(null)"));
    updateUI();
}

void ZVUninstaller::updateUI()
{
    const int index = tabView->currentIndex();
    const BrandTexts &brand = kBrands[isTavrinApplication() ? 0 : 1];
    const QPixmap blue = NSImageNamed(QStringLiteral("DotBlue.tif"));
    const QPixmap gray = NSImageNamed(QStringLiteral("DotGray.tif"));
    if (index >= 0 && index <= 2) {
        for (int row = 0; row < 3; ++row) {
            if (QLabel *cell = cellAtRowColumn(row, 0))
                cell->setPixmap(row == index ? blue : gray);
        }
    }
    switch (index) {
    case 0:
        previousButton->setEnabled(false);
        nextButton->setText(QStringLiteral("Continue"));
        tabTitle->setText(QString::fromUtf8(brand.welcomeHeading));
        mApplicationNameField->setText(QString::fromUtf8(brand.productName));
        break;
    case 1:
        previousButton->setEnabled(true);
        nextButton->setText(QStringLiteral("Uninstall"));
        tabTitle->setText(QStringLiteral("Easy Uninstaller on Mac "));
        uninstallationProgress->setDoubleValue(0.0);
        uninstallPaneBox1->setHidden(false);
        uninstallPaneBox2->setHidden(true);
        mPaneBox1TextField->setText(QString::fromUtf8(brand.invitation));
        break;
    case 2:
        previousButton->setEnabled(false);
        nextButton->setText(QStringLiteral("Close"));
        tabTitle->setText(QString());
        mPaneBox3TextField->setText(QString::fromUtf8(brand.success));
        break;
    default:
        break;
    }
    redisplay();
}

void ZVUninstaller::nextScreen(QObject *sender)
{
    Q_UNUSED(sender);
    switch (tabView->currentIndex()) {
    case 0: {
        const QString message = NSStringFormat::stringWithFormat(ZVLocalizedString(kAlertMessageKey, QString()));
        const int answer = NSRunAlertPanel(L("ApplicationName"), message, L("No"), L("Yes"), QString(),
                                           nextButton->window());
        if (answer == NSAlertAlternateReturn)
            tabView->setCurrentIndex(1);
        break;
    }
    case 1:
        mPaneBox2TextField->setText(QString::fromUtf8(kBrands[isTavrinApplication() ? 0 : 1].uninstalling));
        uninstallPaneBox1->setHidden(true);
        uninstallPaneBox2->setHidden(false);
        previousButton->setEnabled(false);
        nextButton->setEnabled(false);
        redisplay();
        executeUninstallerScript();
        break;
    case 2:
        QApplication::exit(0);
        break;
    default:
        break;
    }
    updateUI();
}

void ZVUninstaller::previousScreen(QObject *sender)
{
    Q_UNUSED(sender);
    if (tabView->currentIndex() > 0)
        tabView->setCurrentIndex(tabView->currentIndex() - 1);
    updateUI();
}

void ZVUninstaller::increamentProgress()
{
    uninstallationProgress->incrementBy(8.0);
    uninstallProgressText->setText(QString::asprintf("%lf", uninstallationProgress->doubleValue()));
    note(QStringLiteral("progress ") + uninstallProgressText->text());
    redisplay();
}

void ZVUninstaller::displayTimerFireMethod(QTimer *timer)
{
    Q_UNUSED(timer);
    increamentProgress();
}

void ZVUninstaller::note(const QString &step) const
{
    if (stepObserver)
        stepObserver(step);
}

void ZVUninstaller::stop(const QString &key)
{
    const QString name = ZVLocalizedString(key, QString());
    note(QStringLiteral("stop ") + name);
    ZVAuthentication::sharedInstance()->killProcess(name);
}

void ZVUninstaller::remove(const QString &path)
{
    // One argument list serves every removal: "-rf" and the path that changes.
    if (m_removalArguments.size() < 2)
        m_removalArguments = {QStringLiteral("-rf"), path};
    else
        m_removalArguments[1] = path;
    note(QStringLiteral("remove ") + path);
    ZVAuthentication::sharedInstance()->executeCommandWithArgs(QStringLiteral("/bin/rm"), m_removalArguments);
}

void ZVUninstaller::executeUninstallerScript()
{
    ZVAuthentication *auth = ZVAuthentication::sharedInstance();
    m_removalArguments.clear();
    const QStringList authorizationList{
        L("ApplicationExecName"), L("MonitorExecName"), L("DaemonExecName"), L("WebManagementExecName"),
        QStringLiteral("/bin/launchctl"), QStringLiteral("/usr/bin/sudo"),
        QStringLiteral("sudo /bin/launchctl unload")};
    note(QStringLiteral("authenticate ") + authorizationList.join(QLatin1Char('|')));
    // One uninstall at a time: another one would share the scratch listing (killProcess). A
    // second waits up to two minutes, then ends as a refused authorization does.
    const FileLock oneAtATime(L("UninstallProcessInstanceCommandOutputFilePath") + QStringLiteral(".lock"), 120);
    if (oneAtATime.isHeld() && auth->authenticate(authorizationList)) {
        ::unsetenv("TMPDIR");
        note(QStringLiteral("unsetenv TMPDIR"));
        for (const char *key : {"DaemonUnloadCommand", "WebDaemonUnloadCommand"}) {
            const QString command = L(key);
            note(QStringLiteral("system ") + command);
            runQuietly(command);
        }
        stop(QStringLiteral("ApplicationExecName"));
        increamentProgress();
        stop(QStringLiteral("MonitorExecName"));
        increamentProgress();
        remove(L("DaemonPlist"));
        increamentProgress();
        remove(L("WebDaemonPlist"));
        increamentProgress();
        removeLoginItems();
        increamentProgress();
        remove(L("ApplicationsFolder"));
        increamentProgress();
        stop(QStringLiteral("WebManagementExecName"));
        increamentProgress();

        const QString markerPath = L("UninstallerFilePath");
        note(QStringLiteral("marker ") + markerPath);
        PropertyList::writeFile(QVariantMap{{QStringLiteral("KILLDAEMON"), true}}, markerPath,
                                PropertyList::Format::XML, true);
        note(QStringLiteral("sleep 1"));
        ::sleep(1);
        increamentProgress();

        remove(userPath("ApplicationPreferenceFile"));
        increamentProgress();
        remove(userPath("MonitorUserDefaultsFile"));
        increamentProgress();
        remove(userPath("DaemonUserDefaultsFile"));
        increamentProgress();
        remove(L("RecieptFilePath"));
        increamentProgress();
        remove(stringByStandardizingPath(userPath("ShortcutPath")));

        stop(QStringLiteral("ExecuterName"));
        stop(QStringLiteral("STunnelName"));
        resetInProgressSchedulesState();
        stop(QStringLiteral("SchedulerExecuterName"));
        stop(QStringLiteral("SchedulerSTunnelName"));
        resetInProgressSchedulesState();
        removeLoginItems();
        increamentProgress();

        remove(L("SchedulerState"));
        increamentProgress();
        remove(L("SchedulerLoginInfo"));
        increamentProgress();
        remove(stringByStandardizingPath(userPath("LoginInfo")));
        increamentProgress();
        remove(stringByStandardizingPath(NSStringFormat::stringWithFormat(L("ApplicationStatusPath"))));
        increamentProgress();

        stop(QStringLiteral("DaemonExecName"));
        stop(QStringLiteral("WebManagementExecName"));
        if (tabView->currentIndex() + 1 < tabView->count())
            tabView->setCurrentIndex(tabView->currentIndex() + 1);
        note(QStringLiteral("selectNextTabViewItem"));
    }
    previousButton->setEnabled(true);
    nextButton->setEnabled(true);
    // Disabling the button took the keyboard focus away; give it back to the default button.
    nextButton->setFocus();
    note(QStringLiteral("enableButtons"));
    redisplay();
}

void ZVUninstaller::removeLoginItems()
{
    note(QStringLiteral("removeLoginItems"));
    LQLoginItemRegistry::removeLoginItemWithPath(L("ApplicationExecPath"));
    LQLoginItemRegistry::removeLoginItemWithPath(L("MonitorExecPath"));
}

void ZVUninstaller::resetInProgressSchedulesState()
{
    note(QStringLiteral("reset"));
    const QString path = L("SchedulerSettingsFile");
    const QString key = QStringLiteral("Schedules");
    std::optional<QVariantList> schedules = MyExtensions::initWithContentsOfArchivedFileWithKey(path, key);
    if (!schedules)
        return;
    int changed = 0;
    for (const QVariant &element : *schedules) {
        const NSObjectPtr object = objectFromVariant(element);
        if (auto *item = dynamic_cast<ZVScheduleItem *>(object.get()); item && item->status() == 1) {
            item->setStatus(0);
            ++changed;
        } else if (auto *tavrin = dynamic_cast<TavrinScheduleItem *>(object.get()); tavrin && tavrin->status() == 1) {
            tavrin->setStatus(0);
            ++changed;
        }
    }
    if (changed > 0)
        MyExtensions::writeToArchivedFileWithKey(*schedules, path, key);
}

void ZVUninstaller::killInteractiveBackupRsyncExcutables()
{
    ZVXExtension::killAllProcessesWithName(NSWorkspace::sharedWorkspace(), L("ExecuterName"));
    ZVXExtension::killAllProcessesWithName(NSWorkspace::sharedWorkspace(), L("STunnelName"));
}

void ZVUninstaller::killScheduleBackupRsyncExcutables()
{
    ZVXExtension::killAllProcessesWithName(NSWorkspace::sharedWorkspace(), L("SchedulerExecuterName"));
    ZVXExtension::killAllProcessesWithName(NSWorkspace::sharedWorkspace(), L("SchedulerSTunnelName"));
}

bool ZVUninstaller::executeAppleScriptCommand(const QString &source)
{
    // The error description is not used; only whether the run gave a result.
    QVariantMap error;
    const auto script = NSAppleScript::initWithSource(source);
    return script && script->executeAndReturnError(&error).has_value();
}
