#include "ZVUninstaller.h"

#include "NSAlertPanel_p.h"
#include "NSAppleScript_p.h"
#include "NSBundle_p.h"
#include "NSStringFormat_p.h"
#include "NSWorkspace+ZVXExtension.h"
#include "NSWorkspace.h"
#include "NSProgressIndicator.h"
#include "ZVLocalizedString.h"
#include "ZVUninstallerWindow.h"
#include "ZVUninstallProcedure_p.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

namespace {

QString L(const char *key) { return ZVLocalizedString(QString::fromLatin1(key), QString()); }

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

} // namespace

// A reference, so that it is bound before any dynamic initialisation, whatever the order of the
// static objects of the two sources.
const QString &ZVUninstaller::kAlertMessageKey = ZVConfiguredValues::kAlertMessageKey;

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

// The procedure's progress, page change and re-enabled buttons are this wizard's; its
// lines go to stepObserver with the wizard's own "progress" lines.
ZVUninstallProcedure ZVUninstaller::procedure()
{
    ZVUninstallProcedure procedure;
    procedure.stepObserver = [this](const QString &line) { note(line); };
    procedure.increamentProgress = [this] { increamentProgress(); };
    procedure.selectNextTabViewItem = [this] {
        if (tabView->currentIndex() + 1 < tabView->count())
            tabView->setCurrentIndex(tabView->currentIndex() + 1);
    };
    procedure.enableButtons = [this] {
        previousButton->setEnabled(true);
        nextButton->setEnabled(true);
        // Disabling the button took the keyboard focus away; give it back to the default button.
        nextButton->setFocus();
    };
    return procedure;
}

void ZVUninstaller::executeUninstallerScript()
{
    procedure().run();
    redisplay();
}

void ZVUninstaller::removeLoginItems()
{
    procedure().removeLoginItems();
}

void ZVUninstaller::resetInProgressSchedulesState()
{
    procedure().resetInProgressSchedulesState();
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
