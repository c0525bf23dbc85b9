// The wizard driven through its real buttons and alert, its uninstall run in a sandbox. One process
// serves one brand, ZV_TEST_BRAND: "tavrin", "pelloma" (the same table under another name) or "none"
// (no table: the keys are the values). Screenshots go to <build>/screenshots/<brand>/.
#include "FileLock_p.h"
#include "MainInterface.h"
#include "ModalAnswerer.h"
#include "NSArray_Extensions.h"
#include "NSPathUtilities_p.h"
#include "NSProgressIndicator.h"
#include "TavrinScheduleItem.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"
#include "ZVUninstaller.h"
#include "ZVUninstallerWindow.h"
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

// Per brand: the alert's title and labels as shown ("&" is no shortcut mark), the name on the pages, the version.
struct Brand { const char *id, *name, *no, *yes, *product, *version; };
static const Brand kBrands[] = {{"tavrin", "Tavrin for Mac", "Nein & Tschüss", "&Ja", "Tavrin for Mac", "3.2.1"},
                                {"pelloma", "Pelloma for Mac", "No", "Yes", "Pelloma for Mac", "3.2.1"},
                                {"none", "ApplicationName", "No", "Yes", "Pelloma for Mac", "(null)"}};
using Answer = std::function<void(QWidget *)>;
static Answer press(const char *button) { return [=](QWidget *m) { ModalAnswerer::clickButton(m, button); }; }

class PagesTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const Brand *b = nullptr;
    QVariantMap m_table;  // empty for brand "none"
    std::unique_ptr<MainInterface> m_ui;
    ZVUninstaller *c = nullptr;
    QStringList m_steps, m_progress, m_progressPage;  // what the run noted; its progress page as it began
    std::atomic<bool> m_released{true}, m_ranWhileHeld{false};  // another uninstall's lock; a step run while it was held
    QString s(const QString &rel) const { return m_dir.path() + rel; }
    QString v(const QString &key) const { return m_table.value(key).toString(); }
    QString product(const char *format) const { return QString(format).arg(QString::fromUtf8(b->product)); }
    void shoot(const QString &name) { QVERIFY(m_ui->window()->grab().save(TestSupport::binaryDir() + "/screenshots/" + b->id + '/' + name)); }
    // The page: its index, title, buttons ("-" when disabled) and blue step cell; the window
    // system's close request and close() leave the window open and the program running.
    void checkPage(int index, const QString &title, const QString &previous, const QString &next)
    {
        QCOMPARE(c->tabView->currentIndex(), index);
        QCOMPARE(c->tabTitle->text(), title);
        QCOMPARE(c->previousButton->isEnabled() ? c->previousButton->text() : "-", previous);
        QCOMPARE(c->nextButton->isEnabled() ? c->nextButton->text() : "-", next);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(c->cellAtRowColumn(row, 0)->pixmap().toImage(), NSImageNamed(row == index ? "DotBlue.tif" : "DotGray.tif").toImage());
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QCloseEvent request;
        QApplication::sendEvent(m_ui->window()->windowHandle(), &request);
        QVERIFY(!request.isAccepted() && !m_ui->window()->close());
        QCoreApplication::processEvents();
        QVERIFY(m_ui->window()->isVisible() && lastClosed.isEmpty());
    }
    // Presses "Continue", ANSWER closes the alert; its title, message, buttons ("name=label as shown").
    QStringList continueAnswering(const Answer &answer)
    {
        QStringList seen;
        ModalAnswerer answerer([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            seen << box->windowTitle() << box->informativeText();
            for (auto *button : box->buttons())
                seen << button->objectName() + '=' + QString(button->text()).replace("&&", "&") + QKeySequence::mnemonic(button->text()).toString();
            for (auto *label : box->findChildren<QLabel *>(QRegularExpression("qt_msgbox_(informative)?label")))
                QCOMPARE(label->textFormat(), Qt::PlainText);
            shoot("alert.png");
            answer(modal);
        });
        QTest::mouseClick(c->nextButton, Qt::LeftButton);
        std::sort(seen.begin() + qMin<qsizetype>(2, seen.size()), seen.end());
        return seen;
    }
    // The steps as noted: "stop KEY" stands for its value, "remove =..." for a path in the sandbox's /home.
    QStringList expectedSteps() const
    {
        QStringList steps{"authenticate " + QStringList{v("ApplicationExecName"), v("MonitorExecName"), v("DaemonExecName"),
                          v("WebManagementExecName"), "/bin/launchctl|/usr/bin/sudo|sudo /bin/launchctl unload"}.join('|'),
                          "unsetenv TMPDIR", "system " + v("DaemonUnloadCommand"), "system " + v("WebDaemonUnloadCommand")};
        for (const QString step : {"stop ApplicationExecName", "stop MonitorExecName", "remove DaemonPlist", "remove WebDaemonPlist",
                                   "removeLoginItems", "remove ApplicationsFolder", "stop WebManagementExecName",
                                   "marker UninstallerFilePath", "sleep 1", "remove =/%@/./prefs.plist", "remove =/%@/monitor.plist",
                                   "remove =/%@/daemon.plist", "remove RecieptFilePath", "remove =/shortcut.desktop", "stop ExecuterName",
                                   "stop STunnelName", "reset", "stop SchedulerExecuterName", "stop SchedulerSTunnelName", "reset",
                                   "removeLoginItems", "remove SchedulerState", "remove SchedulerLoginInfo", "remove =/%@/LoginInfo.plist",
                                   "remove =/status%file", "stop DaemonExecName", "stop WebManagementExecName", "selectNextTabViewItem",
                                   "enableButtons"}) {
            const QString value = step.section(' ', 1);
            steps << (value.isEmpty() ? step : step.section(' ', 0, 0) + ' ' + (value.startsWith('=')
                      ? QString(value).replace("%@", NSUserName()).replace('=', s("/home")) : m_table.contains(value) ? v(value) : value));
        }
        return steps;
    }
    // The paths removed, made before the run (the applications folder as a folder).
    QStringList removed() const { return expectedSteps().filter(QRegularExpression("^remove ")).replaceInStrings(QRegularExpression("^remove "), ""); }

private slots:
    void initTestCase()
    {
        for (const Brand &brand : kBrands)
            b = qgetenv("ZV_TEST_BRAND") == brand.id ? &brand : b;
        QVERIFY(b && m_dir.isValid() && TestSupport::redirectHome(s("/xdg")) && QDir::setCurrent(m_dir.path()));
        QVERIFY(QDir().mkpath(TestSupport::binaryDir() + "/screenshots/" + b->id));
        NSBundle::mainBundle().setResourcePath(m_dir.path());
        if (b != kBrands + 2) {
            // "$" is the sandbox. Not standardized: the "." stays in the path removed. Standardized:
            // "~" is the home folder, ".." and "//" resolved; "%%" is one "%".
            for (const QString entry : {"ApplicationExecName=zvApp", "MonitorExecName=zvMon", "DaemonExecName=zvDaemon",
                     "WebManagementExecName=zvWeb", "ExecuterName=zvExe", "STunnelName=zvTun", "SchedulerExecuterName=zvSExe",
                     "SchedulerSTunnelName=zvSTun", "DaemonUnloadCommand=echo daemon >> $/unload.log; env > $/env.txt",
                     "WebDaemonUnloadCommand=echo web >> $/unload.log", "DaemonPlist=$/etc/daemon.service",
                     "WebDaemonPlist=$/etc/web.service", "ApplicationsFolder=$/opt/Product", "UninstallerFilePath=$/var/marker.plist",
                     "ApplicationPreferenceFile=$/home/%@/./prefs.plist", "MonitorUserDefaultsFile=$/home/%@/monitor.plist",
                     "DaemonUserDefaultsFile=$/home/%@/daemon.plist", "RecieptFilePath=$/var/receipt",
                     "ShortcutPath=~/../%@/..//shortcut.desktop", "LoginInfo=$/home/%@/x/../LoginInfo.plist",
                     "ApplicationStatusPath=~/../status%%file", "SchedulerState=$/var/state", "SchedulerLoginInfo=$/var/login.plist",
                     "SchedulerSettingsFile=$/var/Schedules.plist", "ApplicationExecPath=$/opt/Product/App",
                     "MonitorExecPath=$/opt/Product/Monitor", "UninstallProcessInstanceCommandOutputFilePath=$/var/ps.txt"})
                m_table.insert(entry.section('=', 0, 0), entry.section('=', 1).replace('$', m_dir.path()));
            m_table.insert({{"ApplicationName", b->name}, {ZVUninstaller::kAlertMessageKey, "Really remove %% of it?\n Sure?"}});
            if (b == kBrands)
                m_table.insert({{"Yes", "&Ja"}, {"No", "Nein & Tschüss"}});
            QVERIFY(TestSupport::useTable(m_dir.path(), m_table));
            QVERIFY(PropertyList::writeFile(QVariantMap{{"CFBundleVersion", "3.2.1"}}, s("/Info.plist"), PropertyList::Format::XML, true));
            qputenv("HOME", QFile::encodeName(s("/home/") + NSUserName()));
            const QStringList files = removed() << s("/keep/other-vendor.txt");
            for (const QString &file : files)
                QVERIFY(TestSupport::writeFile(file + (file == v("ApplicationsFolder") ? "/bin/App" : ""), "x"));
            QVariantList schedules;  // both brands' records, two of them in progress
            for (qint32 status : {1, 3, 1, 2}) {
                auto z = std::make_shared<ZVScheduleItem>();
                auto t = std::make_shared<TavrinScheduleItem>();
                z->setStatus(status), t->setStatus(status);
                schedules << (schedules.size() % 2 ? QVariant::fromValue<NSObjectPtr>(z) : QVariant::fromValue<NSObjectPtr>(t));
            }
            QVERIFY(MyExtensions::writeToArchivedFileWithKey(schedules, v("SchedulerSettingsFile"), "Schedules"));
        }
        qputenv("TMPDIR", "/tmp");
        m_ui = std::make_unique<MainInterface>();
        c = m_ui->controller();
        c->stepObserver = [this](const QString &step) {
            m_ranWhileHeld = m_ranWhileHeld || (step.startsWith("unsetenv") && !m_released);
            if (m_progressPage.isEmpty())
                m_progressPage << c->mPaneBox2TextField->text() << c->tabTitle->text()
                               << QString::number(c->uninstallPaneBox1->isVisible()) + QString::number(c->uninstallPaneBox2->isVisible());
            if (step == QLatin1String("progress 64.000000"))
                shoot("page-2-progress.png");
            (step.startsWith(QLatin1String("progress ")) ? m_progress : m_steps) << step;
        };
        c->awakeFromNib();
        QVERIFY(QTest::qWaitForWindowExposed(m_ui->window()));
    }

    void welcomePage()
    {
        checkPage(0, product("Welcome to  %1 Uninstaller"), "-", "Continue");
        QCOMPARE(c->mApplicationNameField->text(), QString(b->product));
        QCOMPARE(c->versionField->text(), QString(b->version));
        shoot("page-1-welcome.png");
    }

    // The alert: titled with the configured name, its message used as a format ("%%" is one "%"); only "Yes" goes on.
    void alert_data()
    {
        QTest::addColumn<Answer>("answer"); QTest::addColumn<int>("page");
        QTest::newRow("no") << press("defaultButton") << 0;
        QTest::newRow("escape") << Answer([](QWidget *m) { QTest::keyClick(m, Qt::Key_Escape); }) << 0;
        QTest::newRow("yes") << press("alternateButton") << 1;
    }
    void alert()
    {
        QFETCH(Answer, answer); QFETCH(int, page);
        QCOMPARE(continueAnswering(answer), (QStringList{b->name, m_table.isEmpty() ? ZVUninstaller::kAlertMessageKey : "Really remove % of it?\n Sure?",
                                                         QString("alternateButton=") + b->yes, QString("defaultButton=") + b->no}));
        QCOMPARE(c->tabView->currentIndex(), page);
    }

    // The uninstall page as first shown and after going back (with the page changed) and again.
    void uninstallPage()
    {
        for (int visit = 0; visit < 2; ++visit) {
            checkPage(1, "Easy Uninstaller on Mac ", "Go Back", "Uninstall");
            QVERIFY(c->uninstallPaneBox1->isVisible() && !c->uninstallPaneBox2->isVisible());
            QCOMPARE(c->mPaneBox1TextField->text(), product("Click Uninstall to remove %1 from your machine"));
            QCOMPARE(c->uninstallationProgress->doubleValue(), 0.0);
            shoot("page-2-uninstall.png");
            c->uninstallPaneBox1->setHidden(true), c->uninstallPaneBox2->setHidden(false), c->uninstallationProgress->setDoubleValue(40);
            QTest::mouseClick(c->previousButton, Qt::LeftButton);
            checkPage(0, product("Welcome to  %1 Uninstaller"), "-", "Continue");
            continueAnswering(press("alternateButton"));
        }
    }

    // "Uninstall" shows the progress page, runs every step in order and opens the completion page;
    // what the steps did. One uninstall at a time: for brand tavrin another one holds the lock
    // beside the scratch listing for a second, and the run waits for it.
    void waitsForAnotherUninstallThenRuns()
    {
        auto other = b == kBrands ? std::make_unique<FileLock>(v("UninstallProcessInstanceCommandOutputFilePath") + ".lock", 0) : nullptr;
        QVERIFY(!other || other->isHeld());
        m_released = !other;
        std::thread releaser([&] { std::this_thread::sleep_for(std::chrono::seconds(other ? 1 : 0)), m_released = true, other.reset(); });
        QTest::mouseClick(c->nextButton, Qt::LeftButton);
        releaser.join();
        QVERIFY(!m_ranWhileHeld);
        QCOMPARE(m_progressPage, (QStringList{product("Uninstalling %1"), "Easy Uninstaller on Mac ", "01"}));
        QStringList progress;
        for (int i = 1; i <= 17; ++i)
            progress << QString::asprintf("progress %d.000000", 8 * i);
        QCOMPARE(m_progress, progress);
        QCOMPARE(c->uninstallationProgress->value(), c->uninstallationProgress->maximum());
        checkPage(2, "", "-", "Close");
        QCOMPARE(c->mPaneBox3TextField->text(), product("Successfully Uninstalled %1"));
        shoot("page-3-completion.png");
        c->displayTimerFireMethod(nullptr);
        QCOMPARE(c->uninstallProgressText->text(), QStringLiteral("144.000000"));
        if (m_table.isEmpty())
            return;
        QCOMPARE(m_steps, expectedSteps());
        for (const QString &file : removed())
            QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
        QCOMPARE(TestSupport::readFile(s("/keep/other-vendor.txt")), QByteArray("x"));
        // The unload commands ran without TMPDIR, which is gone from the wizard's environment too.
        QCOMPARE(TestSupport::readFile(s("/unload.log")), QByteArray("daemon\nweb\n"));
        const QByteArray env = TestSupport::readFile(s("/env.txt"));
        QVERIFY(env.contains("\nHOME=") && !env.contains("\nTMPDIR=") && !env.startsWith("TMPDIR=") && qgetenv("TMPDIR").isNull());
        const QVariantMap marker = PropertyList::readFile(v("UninstallerFilePath")).value_or(QVariant()).toMap();
        QCOMPARE(marker, (QVariantMap{{"KILLDAEMON", true}}));
        QCOMPARE(marker.value("KILLDAEMON").typeId(), int(QMetaType::Bool));
        QStringList records;  // the records in progress reset and stored again, each of its brand
        for (const QVariant &item : MyExtensions::initWithContentsOfArchivedFileWithKey(v("SchedulerSettingsFile"), "Schedules").value_or(QVariantList())) {
            const NSObjectPtr object = objectFromVariant(item);
            auto *z = dynamic_cast<ZVScheduleItem *>(object.get());
            auto *t = dynamic_cast<TavrinScheduleItem *>(object.get());
            records << QString(object->className()) + ' ' + QString::number(z ? z->status() : t ? t->status() : -1);
        }
        QCOMPARE(records, (QStringList{"TavrinScheduleItem 0", "ZVScheduleItem 3", "TavrinScheduleItem 0", "ZVScheduleItem 2"}));
    }
};

QTEST_MAIN(PagesTest)
#include "tst_Pages.moc"
