// The uninstall procedure run for real against a sandbox: its steps in order, its progress,
// its effects on files, the marker and the environment, and a second run with nothing left
// to remove. Needs rights: runs as root (as CI does).
#include "FileLock_p.h"
#include "MainInterface.h"
#include "NSArray_Extensions.h"
#include "TavrinScheduleItem.h"
#include "ZVScheduleItem.h"
#include "NSBundle_p.h"
#include "NSPathUtilities_p.h"
#include "NSProgressIndicator.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVUninstaller.h"
#include "ZVUninstallerWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>
#include <unistd.h>

class ProcedureTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_sandbox;
    QVariantMap m_table;
    QString s(const QString &rel) const { return m_sandbox + rel; }
    QString value(const char *key) const { return m_table.value(QString::fromLatin1(key)).toString(); }

    QStringList runUninstall(QStringList *progress)
    {
        MainInterface ui;
        ZVUninstaller *c = ui.controller();
        QStringList steps;
        c->stepObserver = [&](const QString &step) {
            if (step == QLatin1String("progress 64.000000")) {
                const QString shots = TestSupport::binaryDir() + QStringLiteral("/screenshots/tavrin");
                QDir().mkpath(shots);
                ui.window()->grab().save(shots + QStringLiteral("/page-2-progress.png"));
            }
            if (step.startsWith(QLatin1String("progress ")))
                progress->append(step.mid(9));
            else
                steps.append(step);
        };
        c->awakeFromNib();
        c->tabView->setCurrentIndex(1);
        c->updateUI();
        QTest::mouseClick(c->nextButton, Qt::LeftButton);
        [&] {
            QCOMPARE(c->tabView->currentIndex(), 2);
            QCOMPARE(c->nextButton->text(), QStringLiteral("Close"));
            QVERIFY(c->nextButton->isEnabled());
            QVERIFY(!c->previousButton->isEnabled());
            QCOMPARE(c->uninstallProgressText->text(), QStringLiteral("136.000000"));
            QCOMPARE(c->uninstallationProgress->doubleValue(), 136.0);
        }();
        return steps;
    }

    QStringList expectedSteps() const
    {
        const QString user = NSUserName();
        auto up = [&](const char *key) { return value(key).replace(QStringLiteral("%@"), user); };
        auto stop = [&](const char *key) { return QStringLiteral("stop ") + value(key); };
        auto rm = [&](const QString &path) { return QStringLiteral("remove ") + path; };
        return {
            QStringLiteral("authenticate %1|%2|%3|%4|/bin/launchctl|/usr/bin/sudo|sudo /bin/launchctl unload")
                .arg(value("ApplicationExecName"), value("MonitorExecName"), value("DaemonExecName"), value("WebManagementExecName")),
            QStringLiteral("unsetenv TMPDIR"),
            QStringLiteral("system ") + value("DaemonUnloadCommand"),
            QStringLiteral("system ") + value("WebDaemonUnloadCommand"),
            stop("ApplicationExecName"), stop("MonitorExecName"),
            rm(value("DaemonPlist")), rm(value("WebDaemonPlist")),
            QStringLiteral("removeLoginItems"),
            rm(value("ApplicationsFolder")),
            stop("WebManagementExecName"),
            QStringLiteral("marker ") + value("UninstallerFilePath"), QStringLiteral("sleep 1"),
            rm(up("ApplicationPreferenceFile")), rm(up("MonitorUserDefaultsFile")), rm(up("DaemonUserDefaultsFile")),
            rm(value("RecieptFilePath")),
            rm(s(QStringLiteral("/home/shortcut.desktop"))),
            stop("ExecuterName"), stop("STunnelName"), QStringLiteral("reset"),
            stop("SchedulerExecuterName"), stop("SchedulerSTunnelName"), QStringLiteral("reset"),
            QStringLiteral("removeLoginItems"),
            rm(value("SchedulerState")), rm(value("SchedulerLoginInfo")),
            rm(s(QStringLiteral("/home/%1/LoginInfo.plist")).arg(user)),
            rm(s(QStringLiteral("/home/status%file"))),
            stop("DaemonExecName"), stop("WebManagementExecName"),
            QStringLiteral("selectNextTabViewItem"), QStringLiteral("enableButtons")};
    }

    QStringList removedFiles() const
    {
        const QString user = NSUserName();
        return {value("DaemonPlist"), value("WebDaemonPlist"), value("ApplicationsFolder"),
                s(QStringLiteral("/home/%1/prefs.plist")).arg(user), s(QStringLiteral("/home/%1/monitor.plist")).arg(user),
                s(QStringLiteral("/home/%1/daemon.plist")).arg(user), value("RecieptFilePath"),
                s(QStringLiteral("/home/shortcut.desktop")), value("SchedulerState"), value("SchedulerLoginInfo"),
                s(QStringLiteral("/home/%1/LoginInfo.plist")).arg(user), s(QStringLiteral("/home/status%file"))};
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("the uninstall needs administrator rights: run as root");
        QVERIFY(m_dir.isValid());
        m_sandbox = m_dir.filePath(QStringLiteral("sandbox"));
        const QString unique = QStringLiteral("zvproc%1").arg(::getpid());
        m_table = {
            {QStringLiteral("ApplicationName"), QStringLiteral("Tavrin for Mac")},
            {QStringLiteral("ApplicationExecName"), unique + QStringLiteral("App")},
            {QStringLiteral("MonitorExecName"), unique + QStringLiteral("Mon")},
            {QStringLiteral("DaemonExecName"), unique + QStringLiteral("Dmn")},
            {QStringLiteral("WebManagementExecName"), unique + QStringLiteral("Web")},
            {QStringLiteral("ExecuterName"), unique + QStringLiteral("Exe")},
            {QStringLiteral("STunnelName"), unique + QStringLiteral("Tun")},
            {QStringLiteral("SchedulerExecuterName"), unique + QStringLiteral("SExe")},
            {QStringLiteral("SchedulerSTunnelName"), unique + QStringLiteral("STun")},
            {QStringLiteral("DaemonUnloadCommand"), QStringLiteral("echo daemon >> '%1'; env > '%2'").arg(s("/unload.log"), s("/env.txt"))},
            {QStringLiteral("WebDaemonUnloadCommand"), QStringLiteral("echo web >> '%1'").arg(s("/unload.log"))},
            {QStringLiteral("DaemonPlist"), s("/etc/daemon.service")},
            {QStringLiteral("WebDaemonPlist"), s("/etc/web.service")},
            {QStringLiteral("ApplicationsFolder"), s("/opt/Product")},
            {QStringLiteral("UninstallerFilePath"), s("/var/marker.plist")},
            // Not standardized: the "." stays in the path handed to the removal.
            {QStringLiteral("ApplicationPreferenceFile"), s("/home/%@/./prefs.plist")},
            {QStringLiteral("MonitorUserDefaultsFile"), s("/home/%@/monitor.plist")},
            {QStringLiteral("DaemonUserDefaultsFile"), s("/home/%@/daemon.plist")},
            {QStringLiteral("RecieptFilePath"), s("/var/receipt")},
            // Standardized: "~" is the home folder, ".." and "//" are resolved.
            {QStringLiteral("ShortcutPath"), QStringLiteral("~/../%@/..//shortcut.desktop")},
            {QStringLiteral("SchedulerState"), s("/var/state")},
            {QStringLiteral("SchedulerLoginInfo"), s("/var/login.plist")},
            {QStringLiteral("LoginInfo"), s("/home/%@/x/../LoginInfo.plist")},
            // A plain format: "%%" is one percent sign, then standardized.
            {QStringLiteral("ApplicationStatusPath"), QStringLiteral("~/../status%%file")},
            {QStringLiteral("SchedulerSettingsFile"), s("/var/Schedules.plist")},
            {QStringLiteral("ApplicationExecPath"), s("/opt/Product/App")},
            {QStringLiteral("MonitorExecPath"), s("/opt/Product/Monitor")},
            {QStringLiteral("UninstallProcessInstanceCommandOutputFilePath"), s("/var/ps.txt")},
        };
        QVERIFY(PropertyList::writeFile(m_table, m_dir.filePath(QStringLiteral("Localizable.plist")), PropertyList::Format::XML, true));
        QVERIFY(PropertyList::writeFile(QVariantMap{{QStringLiteral("CFBundleVersion"), QStringLiteral("3.2.1")}},
                                        m_dir.filePath(QStringLiteral("Info.plist")), PropertyList::Format::XML, true));
        NSBundle::mainBundle().setResourcePath(m_dir.path());
        qputenv("HOME", s(QStringLiteral("/home/%1").arg(NSUserName())).toUtf8());
        qputenv("TMPDIR", "/tmp");
        for (const QString &file : removedFiles())
            QVERIFY(TestSupport::writeFile(file + (file == value("ApplicationsFolder") ? QStringLiteral("/bin/App") : QString()), "x"));
        QVERIFY(TestSupport::writeFile(s("/keep/other-vendor.txt"), "keep"));

        // A schedule list of both brands' records, two of them in progress.
        QVariantList schedules;
        for (qint32 status : {1, 3, 1, 2}) {
            NSObjectPtr item;
            if (schedules.size() % 2) {
                auto record = std::make_shared<ZVScheduleItem>();
                record->setStatus(status);
                item = record;
            } else {
                auto record = std::make_shared<TavrinScheduleItem>();
                record->setStatus(status);
                item = record;
            }
            schedules.append(QVariant::fromValue(item));
        }
        QVERIFY(QDir().mkpath(s("/var")));
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(schedules, value("SchedulerSettingsFile"), QStringLiteral("Schedules")));
    }

    void runsEveryStepInOrder()
    {
        QStringList progress;
        const QStringList steps = runUninstall(&progress);
        QCOMPARE(steps, expectedSteps());
        QStringList expectedProgress;
        for (int i = 1; i <= 17; ++i)
            expectedProgress << QString::asprintf("%d.000000", 8 * i);
        QCOMPARE(progress, expectedProgress);
    }

    void removedWhatItShould()
    {
        for (const QString &file : removedFiles())
            QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
        QCOMPARE(TestSupport::readFile(s("/keep/other-vendor.txt")), QByteArray("keep"));
    }

    void ranTheUnloadCommandsWithoutTmpdir()
    {
        QCOMPARE(TestSupport::readFile(s("/unload.log")), QByteArray("daemon\nweb\n"));
        const QByteArray env = TestSupport::readFile(s("/env.txt"));
        QVERIFY(!env.isEmpty());
        QVERIFY(!env.contains("\nTMPDIR=") && !env.startsWith("TMPDIR="));
        QVERIFY(!qEnvironmentVariableIsSet("TMPDIR"));
    }

    void wroteOnlyTheStopMarker()
    {
        const auto marker = PropertyList::readFile(value("UninstallerFilePath"));
        QVERIFY(marker);
        QCOMPARE(marker->typeId(), int(QMetaType::QVariantMap));
        const QVariantMap map = marker->toMap();
        QCOMPARE(map.keys(), QStringList{QStringLiteral("KILLDAEMON")});
        QCOMPARE(map.value(QStringLiteral("KILLDAEMON")).typeId(), int(QMetaType::Bool));
        QCOMPARE(map.value(QStringLiteral("KILLDAEMON")).toBool(), true);
    }

    void resetSchedulesInProgressAndStoredThem()
    {
        const auto list = MyExtensions::initWithContentsOfArchivedFileWithKey(value("SchedulerSettingsFile"), QStringLiteral("Schedules"));
        QVERIFY(list);
        QList<qint32> statuses;
        QStringList classes;
        for (const QVariant &v : *list) {
            const NSObjectPtr object = objectFromVariant(v);
            QVERIFY(object);
            classes << object->className();
            if (auto *z = dynamic_cast<ZVScheduleItem *>(object.get()))
                statuses << z->status();
            else if (auto *t = dynamic_cast<TavrinScheduleItem *>(object.get()))
                statuses << t->status();
        }
        QCOMPARE(statuses, (QList<qint32>{0, 3, 0, 2}));
        QCOMPARE(classes, (QStringList{"TavrinScheduleItem", "ZVScheduleItem", "TavrinScheduleItem", "ZVScheduleItem"}));
    }

    void runsToTheEndWithNothingInstalled()
    {
        QFile::remove(s("/unload.log"));
        QStringList progress;
        const QStringList steps = runUninstall(&progress);
        QCOMPARE(steps, expectedSteps());
        QCOMPARE(progress.size(), 17);
        QCOMPARE(TestSupport::readFile(s("/unload.log")), QByteArray("daemon\nweb\n"));
    }

    // One uninstall at a time: while another holds the lock beside the scratch listing, the
    // procedure waits, and runs once it is let go (here after a second).
    void waitsForAnotherUninstall()
    {
        auto other = std::make_unique<FileLock>(value("UninstallProcessInstanceCommandOutputFilePath") + QStringLiteral(".lock"), 0);
        QVERIFY(other->isHeld());
        std::atomic<bool> released{false};
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            released = true;
            other.reset();
        });
        MainInterface ui;
        ZVUninstaller *c = ui.controller();
        bool ranWhileHeld = false;
        c->stepObserver = [&](const QString &step) { ranWhileHeld |= step.startsWith(QLatin1String("unsetenv")) && !released; };
        c->awakeFromNib();
        c->tabView->setCurrentIndex(1);
        c->updateUI();
        QTest::mouseClick(c->nextButton, Qt::LeftButton);
        releaser.join();
        QVERIFY(!ranWhileHeld);
        QCOMPARE(c->tabView->currentIndex(), 2);
    }
};

QTEST_MAIN(ProcedureTest)
#include "tst_Procedure.moc"
