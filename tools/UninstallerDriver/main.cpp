// UninstallerDriver DEPLOYMENT_DIR SHOTS_DIR [--answer-no-first]
// UninstallerDriver --print-geometry     (prints "NAME X Y": centres of the buttons and
//                                        step cells in the window)
//
// Loads the wizard with DEPLOYMENT_DIR as its resource folder (its Localizable.plist and
// Info.plist) and goes through it as a person would: "Continue", the alert answered "Yes"
// (after one "No" with --answer-no-first), "Uninstall", then "Close" on the completion
// page. Saves page-1-welcome.png, page-2-uninstall.png, page-3-completion.png (and
// alert.png, page-2-progress.png) in SHOTS_DIR and prints each page's heading, button title and progress text.
// Exit status 0 when the run ended on the completion page and "Close" ended the
// application; 1 otherwise.
#include "MainInterface.h"
#include "NSBundle_p.h"
#include "NSProgressIndicator.h"
#include "ZVUninstaller.h"
#include "ZVUninstallerWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {

QString shotsDir;
int alertsToRefuse = 0;

void say(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void shoot(QWidget *widget, const QString &name)
{
    widget->grab().save(QDir(shotsDir).filePath(name));
}

void describe(ZVUninstaller *c, const QString &label)
{
    say(QStringLiteral("%1: page %2, heading \"%3\", next \"%4\" (%5), previous %6, progress \"%7\"")
            .arg(label)
            .arg(c->tabView->currentIndex())
            .arg(c->tabTitle->text(), c->nextButton->text(),
                 c->nextButton->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"),
                 c->previousButton->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"),
                 c->uninstallProgressText->text()));
}

// Answers the confirmation alert by pressing its real buttons. The administrator's password
// window is not this driver's to answer: it is cancelled at once, with a line saying so,
// rather than left waiting for ever.
void answerAlerts()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && QLatin1String(modal->metaObject()->className()) == QLatin1String("AuthorizationDialog")) {
        say(QStringLiteral("password: the administrator's password is asked in a window that "
                           "nobody answers here; cancelled (run as root, or give the rights first)"));
        modal->close();
        return;
    }
    if (modal && modal->objectName() == QLatin1String("NSAlertPanel")) {
        const bool refuse = alertsToRefuse > 0;
        if (refuse)
            --alertsToRefuse;
        shoot(modal, QStringLiteral("alert.png"));
        auto *button = modal->findChild<QAbstractButton *>(refuse ? QStringLiteral("defaultButton")
                                                                  : QStringLiteral("alternateButton"));
        say(QStringLiteral("alert: answered \"%1\"").arg(button ? button->text() : QStringLiteral("?")));
        if (button)
            QTest::mouseClick(button, Qt::LeftButton);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 2 && args.at(1) == QLatin1String("--print-geometry")) {
        // Where the buttons lie in the window, for drivers that click with a real pointer.
        MainInterface interface;
        interface.window()->show();
        ZVUninstaller *c = interface.controller();
        for (QWidget *w : {static_cast<QWidget *>(c->previousButton), static_cast<QWidget *>(c->nextButton),
                           static_cast<QWidget *>(c->cellAtRowColumn(0, 0)), static_cast<QWidget *>(c->cellAtRowColumn(1, 0)),
                           static_cast<QWidget *>(c->cellAtRowColumn(2, 0))}) {
            const QPoint centre = w->mapTo(interface.window(), w->rect().center());
            say(QStringLiteral("%1 %2 %3").arg(w->objectName()).arg(centre.x()).arg(centre.y()));
        }
        return 0;
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: UninstallerDriver DEPLOYMENT_DIR SHOTS_DIR [--answer-no-first]\n");
        return 2;
    }
    NSBundle::mainBundle().setResourcePath(QDir(args.at(1)).absolutePath());
    shotsDir = args.at(2);
    QDir().mkpath(shotsDir);
    if (args.contains(QStringLiteral("--answer-no-first")))
        alertsToRefuse = 1;

    MainInterface interface;
    ZVUninstaller *c = interface.controller();
    c->awakeFromNib();

    QTimer alertTimer;
    QObject::connect(&alertTimer, &QTimer::timeout, &answerAlerts);
    alertTimer.start(100);

    // The bar half way through, while the procedure runs.
    c->stepObserver = [&](const QString &step) {
        if (step == QLatin1String("progress 64.000000"))
            shoot(interface.window(), QStringLiteral("page-2-progress.png"));
    };

    bool closed = false;
    QTimer::singleShot(300, [&] {
        describe(c, QStringLiteral("welcome"));
        shoot(interface.window(), QStringLiteral("page-1-welcome.png"));
        while (c->tabView->currentIndex() == 0) {
            QTest::mouseClick(c->nextButton, Qt::LeftButton);   // "Continue", the alert answers
            describe(c, QStringLiteral("after Continue"));
        }
        shoot(interface.window(), QStringLiteral("page-2-uninstall.png"));
        QTest::mouseClick(c->nextButton, Qt::LeftButton);       // "Uninstall": runs the procedure
        describe(c, QStringLiteral("after Uninstall"));
        if (c->tabView->currentIndex() != 2) {
            say(QStringLiteral("the uninstall did not reach the completion page"));
            shoot(interface.window(), QStringLiteral("page-2-refused.png"));
            QApplication::exit(1);
            return;
        }
        shoot(interface.window(), QStringLiteral("page-3-completion.png"));
        closed = true;
        QTest::mouseClick(c->nextButton, Qt::LeftButton);       // "Close": ends the application
    });
    // A run that hangs fails instead of waiting for ever.
    QTimer::singleShot(300000, [] { say(QStringLiteral("timed out")); QApplication::exit(3); });
    const int status = QApplication::exec();
    if (status == 0 && closed)
        say(QStringLiteral("closed"));
    return status == 0 && closed ? 0 : (status == 0 ? 1 : status);
}
