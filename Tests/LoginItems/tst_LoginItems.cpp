// Login items end to end: the layer (LoginItemsAE), the registry and zvtool against the real
// System Events agent, started on demand on a private session bus, with the user's folders in a
// temp folder; and the descriptors the events are made of. Run as the first process of a pid
// namespace of its own (CMakeLists.txt).
#include "AEObjects_p.h"
#include "AppleEvents_p.h"
#include "LQLoginItemRegistry.h"
#include "LaunchServices_p.h"
#include "LoginItemStore.h"
#include "LoginItemsAE.h"
#include "Processes_p.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

template<typename T>
QByteArray bytesOf(T value) { return QByteArray(reinterpret_cast<const char *>(&value), sizeof(T)); }

UInt32 agentPid()
{
    ProcessSerialNumber psn{0, kNoProcess};
    for (ProcessInfoRec info{sizeof(ProcessInfoRec), nullptr, {}, 0, 0, nullptr}; GetNextProcess(&psn) == noErr;)
        if (GetProcessInformation(&psn, &info) == noErr && info.processSignature == FOUR_CHAR_CODE("sevs"))
            return psn.lowLongOfPSN;
    return 0;
}

// Ends the agent; true when it is gone.
bool stopAgent()
{
    const UInt32 pid = agentPid();
    if (pid != 0)
        ::kill(pid_t(pid), SIGTERM);
    for (QDeadlineTimer deadline(10000); pid != 0 && agentPid() == pid && !deadline.hasExpired();)
        QThread::msleep(20);
    return pid == 0 || agentPid() != pid;
}

// A session bus of the test's own (the session configuration, or OPEN: one that admits every
// user) in a folder every user may enter; its service folder is <folder>/share/dbus-1/services.
struct PrivateBus {
    QTemporaryDir folder;
    QString address;
    qint64 pid = 0;
    QString services() const { return folder.path() + "/share/dbus-1/services"; }
    bool start(bool open = false)
    {
        const QString config = folder.path() + "/open.conf";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_DIRS", folder.path() + "/share");
        env.insert("XDG_DATA_HOME", folder.path() + "/share");
        if (!QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup
                | QFile::ExeOther) || !QDir().mkpath(services()) || !TestSupport::writeFile(config, "<busconfig><include>"
                "/usr/share/dbus-1/session.conf</include><policy context=\"default\"><allow user=\"*\"/></policy></busconfig>\n"))
            return false;
        const TestSupport::Run run = TestSupport::runProgram("dbus-daemon", {"--print-address=1", "--print-pid=1", "--fork",
            "--address=unix:dir=" + folder.path(), open ? "--config-file=" + config : "--session"}, {}, env, 10000);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        address = QString::fromUtf8(lines.value(0));
        pid = lines.value(1).toLongLong();
        return run.exitCode == 0 && lines.size() == 2 && pid > 0;
    }
    // The build's service file of System Events in the service folder or not, the daemon told.
    bool setActivation(bool on) const
    {
        const QString name = "/org.zvuninstaller.AppleEvents.sevs.service";
        QFile::remove(services() + name);
        return (!on || QFile::copy(TestSupport::binaryDir() + "/share/dbus-1/services" + name, services() + name))
            && QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall("org.freedesktop.DBus",
                   "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig")).type() == QDBusMessage::ReplyMessage;
    }
    ~PrivateBus() { pid > 0 && ::kill(pid_t(pid), SIGTERM) == 0 && ::waitpid(pid_t(pid), nullptr, 0); }
};

// The listing through the layer: "PATH" or "PATH hidden" an item, or "status N" when it fails.
QStringList listing()
{
    CFArrayRef array = nullptr;
    const OSStatus err = LIAECopyLoginItems(&array);
    if (err != noErr || !array)
        return {"status " + QString::number(err) + (array ? " with items" : "")};
    QStringList items;
    for (const QVariant &item : CFBridgingToQVariant(array).toList())
        items << item.toMap().value("URL").toUrl().toLocalFile() + (item.toMap().value("Hidden").toBool() ? " hidden" : "");
    CFRelease(array);
    return items;
}
QStringList status(OSStatus err) { return {"status " + QString::number(err)}; }

OSStatus add(const QString &path, bool hidden = false)
{
    CFURLRef url = CFURLCreateWithQUrl(QUrl::fromLocalFile(path));
    const OSStatus err = LIAEAddURLAtEnd(url, hidden);
    CFRelease(url);
    return err;
}

// A file whose path is LENGTH characters long, below PATH, in folders of 200 characters.
QString pathOfLength(QString path, int length)
{
    for (; length - path.size() > 201; QDir().mkpath(path))
        path += '/' + QString(200, 'd');
    path += '/' + QString(length - path.size() - 1, 'f');
    return TestSupport::writeFile(path, "x") ? path : QString();
}

// A System Events of the test program's own, on a thread, whose listing carries this 'errn'.
DescType g_errnType;
QByteArray g_errnData;
OSErr fakeGetData(const AppleEvent *, AppleEvent *reply, SRefCon)
{
    AEDescList list{typeNull, nullptr};
    AECreateList(nullptr, 0, false, &list);
    AEPutParamDesc(reply, keyDirectObject, &list);
    AEDisposeDesc(&list);
    return AEPutParamPtr(reply, keyErrorNumber, g_errnType, g_errnData.constData(), g_errnData.size());
}
struct FakeSystemEvents : QThread {
    QSemaphore ready;
    std::atomic<OSStatus> started{1};
    void run() override
    {
        AEInstallEventHandler(kAECoreSuite, kAEGetData, fakeGetData, nullptr, false);
        started = AEStartReceivingEvents(FOUR_CHAR_CODE("sevs"));
        ready.release();
        if (started == noErr)
            exec();
        AEStopReceivingEvents();
    }
};

} // namespace

class LoginItemsTests : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_files;
    PrivateBus m_bus;

    QString autostart() const { return LoginItemStore::autostartFolder(); }
    QString makeFile(const QString &name)
    {
        return TestSupport::writeFile(m_files + '/' + name, "#!/bin/sh\n") ? m_files + '/' + name : QString();
    }
    // zvtool login-items ARGS on BUS (the test's by default), as user nobody when ASNOBODY.
    TestSupport::Run zvtool(const QStringList &args, const QString &bus = {}, bool asNobody = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.isEmpty() ? m_bus.address : bus);
        const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups", TestSupport::zvtoolPath(), "login-items"};
        return asNobody ? TestSupport::runProgram("setpriv", nobody + args, {}, env)
                        : TestSupport::zvtool(QStringList{"login-items"} + args, {}, env);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::redirectHome(m_root.path()));
        m_files = m_root.path() + "/files";
        QVERIFY(m_bus.start());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address.toUtf8());
    }
    void init()
    {
        QVERIFY(stopAgent() && m_bus.setActivation(false));
        QDir(autostart()).removeRecursively();
        QFile::remove(autostart());
        QDir(m_files).removeRecursively();
        QVERIFY(QDir().mkpath(m_files));
    }
    void cleanupTestCase() { QVERIFY(stopAgent()); }

    // The agent's life. agentStartedOnDemand: the first call starts it, through Launch Services or
    // the bus's service file, and so does the first call after it ended. killedAgentWhoseIdIsReused:
    // killed without warning and its process id taken by another program, every call still works.
    // agentNotAnswering: stopped, it ends the call with errAETimeout within 5.2 s; resumed, the
    // same agent answers again (the late reply to the abandoned call did not end it).
    void agentLife_data()
    {
        QTest::addColumn<bool>("byBus");
        QTest::addColumn<int>("signal"); // sent to the running agent
        QTest::newRow("agentStartedOnDemand: by Launch Services") << false << int(SIGTERM);
        QTest::newRow("agentStartedOnDemand: by the bus") << true << int(SIGTERM);
        QTest::newRow("killedAgentWhoseIdIsReused") << false << int(SIGKILL);
        QTest::newRow("agentNotAnswering") << false << int(SIGSTOP);
    }
    void agentLife()
    {
        QFETCH(bool, byBus);
        QFETCH(int, signal);
        if (signal == SIGKILL && ::getpid() != 1)
            QSKIP("sets the next process id: only as the first process of a pid namespace of its own");
        const QString other = "/opt/other/run", kept = makeFile("kept"), removed = makeFile("removed");
        QVERIFY(m_bus.setActivation(byBus) && TestSupport::writeFile(autostart() + "/other.desktop", "[Desktop Entry]\nExec=" + other.toUtf8()));
        QCOMPARE(agentPid(), UInt32(0));
        QCOMPARE(listing(), QStringList{other});
        QVERIFY(add(kept) == noErr && add(removed) == noErr);
        const pid_t pid = pid_t(agentPid());
        QVERIFY(pid > 1);
        QCOMPARE(::kill(pid, signal), 0);
        QProcess reuser;
        if (signal == SIGTERM)
            QVERIFY(stopAgent());
        if (signal == SIGKILL) {
            QCOMPARE(::waitpid(pid, nullptr, 0), pid); // started by Launch Services, an orphan of this first process
            for (int attempt = 0; attempt < 50 && reuser.processId() != pid; ++attempt) {
                reuser.kill();
                reuser.waitForFinished();
                QVERIFY(TestSupport::writeFile("/proc/sys/kernel/ns_last_pid", QByteArray::number(pid - 1)));
                reuser.start("sleep", {"60"});
                QVERIFY(reuser.waitForStarted());
            }
            QCOMPARE(reuser.processId(), qint64(pid));
        }
        if (signal == SIGSTOP) {
            QElapsedTimer clock;
            clock.start();
            const QStringList stopped = listing();
            const qint64 elapsed = clock.elapsed();
            ::kill(pid, SIGCONT);
            QCOMPARE(stopped, status(errAETimeout));
            QVERIFY2(elapsed < 5200, qPrintable(QString("%1 ms").arg(elapsed)));
        }
        QCOMPARE(listing(), (QStringList{other, kept, removed}));
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(removed) && add(removed, true) == noErr);
        QCOMPARE(listing(), (QStringList{other, kept, removed + " hidden"}));
        QCOMPARE(agentPid() == UInt32(pid), signal == SIGSTOP);
        reuser.kill();
        reuser.waitForFinished();
    }

    // Launch Services finds the agent beside the running program, gives the running one instead
    // of starting another, and refuses what it cannot start.
    void launchServices()
    {
        FSRef app, plain;
        ProcessSerialNumber first{0, 0}, second{0, 0};
        QCOMPARE(LSFindApplicationForInfo('zzzz', nullptr, nullptr, &app, nullptr), OSStatus(kLSApplicationNotFoundErr));
        QCOMPARE(LSFindApplicationForInfo('sevs', nullptr, nullptr, &app, nullptr), OSStatus(noErr));
        QCOMPARE(QFileInfo(QFile::decodeName(app.path)).absolutePath(),
                 QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath());
        LSApplicationParameters params{0, kLSLaunchDefaults, &app, nullptr, nullptr, nullptr, nullptr};
        QCOMPARE(LSOpenApplication(&params, &first), OSStatus(noErr));
        QCOMPARE(first.lowLongOfPSN, agentPid());
        QCOMPARE(LSOpenApplication(&params, &second), OSStatus(noErr));
        QCOMPARE(second.lowLongOfPSN, first.lowLongOfPSN);
        params.version = 1;
        QCOMPARE(LSOpenApplication(&params, &second), OSStatus(paramErr));
        const QByteArray notAProgram = QFile::encodeName(makeFile("not-a-program"));
        QCOMPARE(FSPathMakeRef(reinterpret_cast<const UInt8 *>(notAProgram.constData()), &plain, nullptr), OSStatus(noErr));
        params = {0, kLSLaunchDefaults, &plain, nullptr, nullptr, nullptr, nullptr};
        QCOMPARE(LSOpenApplication(&params, &second), OSStatus(kLSNoExecutableErr));
    }

    // An entry in the autostart folder beside the product's own item (added hidden, its file then
    // deleted: listed from its path text): the listing before and after the addition, then every
    // listed item removed by its path, its file with it. Other programs' entries come first.
    void autostartEntries_data()
    {
        QTest::addColumn<QByteArray>("entry");   // %F: the files folder; null: no autostart folder
        QTest::addColumn<QStringList>("listed"); // before the product's item
        const QByteArray g = "[Desktop Entry]\n", ours = g + "X-SystemEvents-Path=";
        const QStringList none;
        QTest::newRow("no autostart folder") << QByteArray() << none;
        QTest::newRow("ours, no flag") << g + "Exec=/x\nX-SystemEvents-Path=/opt/a b/app\nX-SystemEvents-Order=7\n" << QStringList{"/opt/a b/app"};
        QTest::newRow("ours, unreadable flag") << ours + "/opt/app\nX-SystemEvents-Hidden=yes\n" << QStringList{"/opt/app"};
        QTest::newRow("ours, 511 characters") << ours + '/' + QByteArray(510, 'y') << QStringList{'/' + QString(510, 'y')};
        QTest::newRow("foreign, Exec with arguments") << "# comment\n" + g + "Name=Other\nExec=/usr/lib/other/agent --tray %U\n" << QStringList{"/usr/lib/other/agent"};
        QTest::newRow("foreign, quoted Exec") << g + "Exec=\"/opt/My App/run \\\\$HOME\" -x\n" << QStringList{"/opt/My App/run $HOME"};
        QTest::newRow("foreign, bare command on PATH") << g + "Exec=sh -c true\n" << QStringList{QFileInfo("/bin/sh").canonicalFilePath()};
        QTest::newRow("foreign, bare command not on PATH") << g + "Exec=no-such-command-zv --x\n" << none;
        QTest::newRow("foreign, relative path") << g + "Exec=bin/tool\n" << none;
        QTest::newRow("foreign, Exec in another group only") << g + "Name=x\n[Desktop Action y]\nExec=/bin/y\n" << none;
        QTest::newRow("switchedOffItemRemoved: foreign, Hidden=true") << g + "Exec=/bin/z\nHidden=true\n" << QStringList{"/bin/z"};
        QTest::newRow("switchedOffItemRemoved: foreign, GNOME") << g + "Exec=/bin/z\nX-GNOME-Autostart-enabled=false\n" << QStringList{"/bin/z"};
        QTest::newRow("switchedOffItemRemoved: ours, Hidden=true") << ours + "%F/Monitor\nHidden=true\nX-SystemEvents-Hidden=false\n" << QStringList{"%F/Monitor"};
        QTest::newRow("switchedOffItemRemoved: ours, GNOME") << ours + "%F/Monitor\nX-GNOME-Autostart-enabled=false\nX-SystemEvents-Hidden=true\n" << QStringList{"%F/Monitor hidden"};
        QTest::newRow("unrepresentableEntryLeftOut: foreign, 512 characters") << g + "Exec=/" + QByteArray(511, 'x') << none;
        QTest::newRow("unrepresentableEntryLeftOut: foreign, 600 characters") << g + "Exec=/" + QByteArray(599, 'x') << none;
        QTest::newRow("unrepresentableEntryLeftOut: foreign, NUL in the path") << g + QByteArray("Exec=/opt/a\0b\n", 14) << none;
        QTest::newRow("unrepresentableEntryLeftOut: foreign, not UTF-8") << g + "Exec=/opt/\xff\xfe\n" << none;
        QTest::newRow("unrepresentableEntryLeftOut: ours, 512 characters") << ours + '/' + QByteArray(511, 'y') << none;
    }
    void autostartEntries()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QStringList, listed);
        const QString file = autostart() + "/entry.desktop", mine = makeFile("mine");
        QVERIFY(entry.isNull() || TestSupport::writeFile(file, entry.replace("%F", QFile::encodeName(m_files))));
        listed.replaceInStrings("%F", m_files);
        QCOMPARE(listing(), listed);
        QVERIFY(add(mine, true) == noErr && QFile::remove(mine));
        QCOMPARE(listing(), listed + QStringList{mine + " hidden"});
        for (const QString &item : listing())
            QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(item.chopped(item.endsWith(" hidden") ? 7 : 0)));
        QCOMPARE(listing(), QStringList());
        QCOMPARE(QFileInfo::exists(file), !entry.isNull() && listed.isEmpty());
    }

    // A path goes to the agent only when the listing could read it back: a missing file or a
    // longer path is refused before the agent is even started; the longest that fits goes round.
    // The agent itself refuses a path it could not list again (sent as a raw event).
    void addRefused_data()
    {
        QTest::addColumn<QString>("path"); // a number: a file of that path length, %F/missing: a missing file
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("missing file") << "%F/missing" << OSStatus(fnfErr);
        QTest::newRow("511 characters") << "511" << OSStatus(noErr);
        QTest::newRow("UTF-16 form of 1024 bytes") << "512" << OSStatus(coreFoundationUnknownErr);
        QTest::newRow("UTF-8 form of 1024 bytes") << "1024" << OSStatus(pathTooLongErr);
        QTest::newRow("raw event, NUL in the path") << QString("/opt/a") + QChar(0) + "b" << OSStatus(paramErr);
        QTest::newRow("raw event, relative path") << "opt/a" << OSStatus(paramErr);
        QTest::newRow("raw event, 512 characters") << '/' + QString(511, 'z') << OSStatus(paramErr);
    }
    void addRefused()
    {
        QFETCH(QString, path);
        QFETCH(OSStatus, status);
        if (status == paramErr) {
            QCOMPARE(listing(), QStringList()); // starts the agent
            const ProcessSerialNumber psn{0, agentPid()};
            const DescType loginItem = 'logi';
            AEAddressDesc target{typeNull, nullptr};
            AppleEvent event{typeNull, nullptr}, reply{typeNull, nullptr};
            AERecord properties{typeNull, nullptr};
            SInt16 number = 0;
            QVERIFY(AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target) == noErr
                    && AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID, &event) == noErr
                    && AEPutParamPtr(&event, keyAEObjectClass, typeType, &loginItem, sizeof(loginItem)) == noErr
                    && AECreateList(nullptr, 0, true, &properties) == noErr
                    && AEPutParamPtr(&properties, 'ppth', typeUnicodeText, path.utf16(), Size(path.size()) * 2) == noErr
                    && AEPutParamDesc(&event, keyAEPropData, &properties) == noErr);
            QCOMPARE(AESendMessage(&event, &reply, kAEWaitReply, 300), OSStatus(noErr));
            QCOMPARE(AEGetParamPtr(&reply, keyErrorNumber, typeSInt16, nullptr, &number, sizeof(number), nullptr), OSErr(noErr));
            QCOMPARE(OSStatus(number), status);
            for (AEDesc *desc : {&target, &event, &reply, &properties})
                AEDisposeDesc(desc);
            QCOMPARE(QDir(autostart()).entryList(QDir::Files), QStringList());
            return;
        }
        path = path.toInt() > 0 ? pathOfLength(m_files, path.toInt()) : path.replace("%F", m_files);
        QCOMPARE(add(path), status);
        if (status == noErr)
            QCOMPARE(listing(), QStringList{path});
        else
            QVERIFY(!LQLoginItemRegistry::addLoginItemWithPathHideIt(path, false) && agentPid() == 0 && !QFileInfo::exists(autostart()));
    }

    // Twelve items come back in the order they were added, the tenth and later ones included.
    // Index 0 is the first item (position 1 of the event), the last one is removable, and a
    // position past the end is an error of the agent that changes nothing.
    void removeByPosition()
    {
        QStringList items;
        for (int i = 1; i <= 12; ++i) {
            QCOMPARE(add(makeFile(QString("app%1").arg(i)), i % 5 == 0), noErr);
            items << m_files + QString("/app%1").arg(i) + (i % 5 == 0 ? " hidden" : "");
        }
        QCOMPARE(listing(), items);
        QCOMPARE(LIAERemove(0), noErr);
        QCOMPARE(LIAERemove(11), OSStatus(errAENoSuchObject));
        QVERIFY(!LQLoginItemRegistry::removeLoginItemAtIndex(11) && !LQLoginItemRegistry::removeLoginItemAtIndex(-1));
        QCOMPARE(listing(), items.mid(1));
        QVERIFY(LQLoginItemRegistry::removeLoginItemAtIndex(10) && LQLoginItemRegistry::removeLoginItemAtIndex(8));
        QCOMPARE(listing(), items.mid(1, 8) + items.mid(10, 1));
    }

    // Looking an item up by path: the listing's URL and the path of the same file compare equal,
    // the folder form included; of two items for one file the first is found and removed alone;
    // a product program that is a link to a shared binary is not another vendor's item for that
    // binary; a failing listing gives nil, -1 and false.
    void lookUpByPath_data()
    {
        QTest::addColumn<QStringList>("added"); // in the files folder; "entry:" another vendor's entry for a program
        QTest::addColumn<QString>("lookedUp");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("before"); // the listing, in the files folder
        QTest::addColumn<QStringList>("after");  // once the looked-up path was removed
        const QStringList app{"Tavrin.app/"}, none;
        QTest::newRow("bundle folder") << QStringList{"Tavrin.app"} << "Tavrin.app" << 0 << app << none;
        QTest::newRow("bundle folder, trailing slash") << QStringList{"Tavrin.app"} << "Tavrin.app/" << 0 << app << none;
        QTest::newRow("bundle folder, dotted path") << QStringList{"Tavrin.app/"} << "sub/../Tavrin.app/." << 0 << app << none;
        QTest::newRow("through a symbolic link, another URL") << QStringList{"Tavrin.app"} << "link.app" << -1 << app << app;
        QTest::newRow("plain file") << QStringList{"Monitor"} << "./Monitor" << 0 << QStringList{"Monitor"} << none;
        QTest::newRow("two items for one file") << QStringList{"other", "Monitor", "Monitor hidden"} << "Monitor" << 1 << QStringList{"other", "Monitor", "Monitor hidden"} << QStringList{"other", "Monitor hidden"};
        QTest::newRow("not an item") << QStringList{"other"} << "nothing" << -1 << QStringList{"other"} << QStringList{"other"};
        QTest::newRow("linkToSharedBinary") << QStringList{"entry:shared-helper"} << "Link" << -1 << QStringList{"shared-helper"} << QStringList{"shared-helper"};
        QTest::newRow("failing listing") << QStringList{"entry:"} << "Monitor" << -1 << status(dirNFErr) << status(dirNFErr);
    }
    void lookUpByPath()
    {
        QFETCH(QStringList, added);
        QFETCH(QString, lookedUp);
        QFETCH(int, index);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QVERIFY(QDir(m_files).mkpath("Tavrin.app/Contents") && QDir(m_files).mkpath("sub") && !makeFile("Monitor").isNull()
                && !makeFile("other").isNull());
        QVERIFY(QFile::link(m_files + "/Tavrin.app", m_files + "/link.app") && QFile::link(makeFile("shared-helper"), m_files + "/Link"));
        for (const QString &item : added) {
            if (item == "entry:") // the autostart path a file: nothing can be listed
                QVERIFY(TestSupport::writeFile(autostart(), "not a folder"));
            else if (item.startsWith("entry:"))
                QVERIFY(TestSupport::writeFile(autostart() + "/other.desktop", "[Desktop Entry]\nExec=" + QFile::encodeName(m_files + '/' + item.mid(6))));
            else
                QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(m_files + '/' + item.section(' ', 0, 0), item.endsWith(" hidden")));
        }
        const auto inFiles = [this](QStringList list) {
            for (QString &item : list)
                item.prepend(item.startsWith("status") ? "" : m_files + '/');
            return list;
        };
        const QString path = m_files + '/' + lookedUp;
        QCOMPARE(listing(), inFiles(before));
        QCOMPARE(LQLoginItemRegistry::allLoginItems().has_value(), !before.value(0).startsWith("status"));
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithURL(LQLoginItemRegistry::fileURLWithPath(path)), index);
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(path), index);
        QCOMPARE(LQLoginItemRegistry::removeLoginItemWithPath(path), index >= 0);
        QCOMPARE(listing(), inFiles(after));
    }

    // An 'errn' in the reply decides the result; one that cannot be read as a 16-bit integer
    // fails the call with the status of that read.
    void replyErrorNumber_data()
    {
        QTest::addColumn<DescType>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("16-bit error") << DescType(typeSInt16) << bytesOf(SInt16(-1728)) << OSStatus(-1728);
        QTest::newRow("16-bit zero") << DescType(typeSInt16) << bytesOf(SInt16(0)) << OSStatus(noErr);
        QTest::newRow("32-bit, the least that fits") << DescType(typeSInt32) << bytesOf(SInt32(-32768)) << OSStatus(-32768);
        QTest::newRow("32-bit, the least that does not fit") << DescType(typeSInt32) << bytesOf(SInt32(32768)) << OSStatus(errAECoercionFail);
        QTest::newRow("32-bit of two bytes") << DescType(typeSInt32) << QByteArray("\1\2", 2) << OSStatus(errAECoercionFail);
        QTest::newRow("text") << DescType(typeUnicodeText) << QByteArray("-\0001\000", 4) << OSStatus(errAECoercionFail);
        QTest::newRow("16-bit of one byte") << DescType(typeSInt16) << QByteArray("\x01", 1) << OSStatus(errAECoercionFail);
    }
    void replyErrorNumber()
    {
        QFETCH(DescType, type);
        QFETCH(QByteArray, data);
        QFETCH(OSStatus, status);
        g_errnType = type;
        g_errnData = data;
        FakeSystemEvents fake;
        fake.start();
        fake.ready.acquire();
        QCOMPARE(fake.started.load(), noErr);
        const QStringList items = listing();
        fake.quit();
        fake.wait();
        QCOMPARE(items, status == noErr ? QStringList() : ::status(status));
        QCOMPARE(agentPid(), UInt32(0));
    }

    // Three items through the registry, listed in order; the entries on disk exactly as a
    // desktop reads them (a path with quoting characters); the middle one removed.
    void roundTrip()
    {
        const QStringList paths{makeFile("first"), makeFile("sec%ond $x"), makeFile("third")};
        for (int i = 0; i < 3; ++i)
            QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(paths.at(i), i == 1));
        QCOMPARE(listing(), (QStringList{paths.at(0), paths.at(1) + " hidden", paths.at(2)}));
        QString onDisk;
        for (const QString &file : QDir(autostart()).entryList(QDir::Files, QDir::Name))
            onDisk += QString::fromUtf8(TestSupport::readFile(autostart() + '/' + file));
        const auto entry = [&](const QString &name, const QString &exec, const QString &hidden, int order) {
            return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=\"" + m_files + '/' + exec + "\"\nX-SystemEvents-Path="
                + m_files + '/' + name + "\nX-SystemEvents-Hidden=" + hidden + "\nX-SystemEvents-Order=" + QString::number(order) + '\n';
        };
        QCOMPARE(onDisk, entry("first", "first", "false", 1) + entry("sec%ond $x", "sec%%ond \\\\$x", "true", 2)
                             + entry("third", "third", "false", 3));
        QCOMPARE(LoginItemStore::programOfExec(LoginItemStore::execForPath(paths.at(1))), paths.at(1));
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(paths.at(1)));
        QCOMPARE(listing(), (QStringList{paths.at(0), paths.at(2)}));
    }

    // zvtool login-items as a script uses it: usage errors, a JSON object a line, exit statuses,
    // the agent told to quit; the items outlive the agent.
    void zvtoolAddListRemoveQuit()
    {
        const QString app = m_files + "/Pelloma.app", monitor = m_files + "/Pelloma \"Monitor\"";
        QVERIFY(QDir().mkpath(app) && TestSupport::writeFile(monitor, "x"));
        const auto list = [this] {
            const TestSupport::Run run = zvtool({"list"});
            return run.exitCode == 0 ? run.out : "exit " + QByteArray::number(run.exitCode);
        };
        const QByteArray appLine = "{\"hidden\":false,\"path\":\"" + app.toUtf8() + "\"}\n";
        const QByteArray monitorLine = "{\"hidden\":true,\"path\":\"" + m_files.toUtf8() + "/Pelloma \\\"Monitor\\\"\"}\n";
        for (const QStringList &usage : QList<QStringList>{{}, {"purge"}, {"add", "--hidden"}, {"add", "/a", "/b"}, {"remove"},
                                                           {"list", "x"}, {"quit-agent", "x"}})
            QVERIFY2(zvtool(usage).exitCode == 2, qPrintable(usage.join(' ')));
        QCOMPARE(list(), QByteArray());
        QCOMPARE(zvtool({"add", app}).exitCode, 0);
        QCOMPARE(zvtool({"add", "--hidden", monitor}).exitCode, 0);
        QCOMPARE(zvtool({"add", m_files + "/missing"}).exitCode, 1);
        QCOMPARE(list(), appLine + monitorLine);
        QCOMPARE(zvtool({"remove", app + '/'}).exitCode, 0);
        QCOMPARE(zvtool({"remove", app}).exitCode, 1);
        QCOMPARE(list(), monitorLine);
        QVERIFY(agentPid() != 0);
        QCOMPARE(zvtool({"quit-agent"}).exitCode, 0);
        QCOMPARE(agentPid(), UInt32(0));
        QCOMPARE(zvtool({"quit-agent"}).exitCode, 0);
        QCOMPARE(list(), monitorLine);
    }

    // Another user on the machine reaches neither the user's bus nor, on a bus open to every
    // user, the user's agent: nothing is listed or removed for them.
    void otherUserCannotReachAgent_data()
    {
        QTest::addColumn<bool>("openBus");
        QTest::newRow("the user's session bus") << false;
        QTest::newRow("a bus open to every user") << true;
    }
    void otherUserCannotReachAgent()
    {
        QFETCH(bool, openBus);
        PrivateBus open;
        QVERIFY(!openBus || open.start(true));
        const QString bus = openBus ? open.address : m_bus.address, item = makeFile("Private");
        QCOMPARE(zvtool({"add", item}, bus).exitCode, 0);
        QCOMPARE(zvtool({}, bus, true).exitCode, 2); // nobody does run zvtool
        QCOMPARE(zvtool({"list"}, bus, true).exitCode, 1);
        QCOMPARE(zvtool({"remove", item}, bus, true).exitCode, 1);
        QCOMPARE(zvtool({"list"}, bus).out, "{\"hidden\":false,\"path\":\"" + item.toUtf8() + "\"}\n");
        QCOMPARE(zvtool({"quit-agent"}, bus).exitCode, 0);
    }

    // A parameter read as the layer and the agent read them: converted, at most the buffer (10
    // bytes) copied and the whole size told; a failed conversion leaves the null descriptor.
    void descriptorReads_data()
    {
        QTest::addColumn<DescType>("from");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<DescType>("to");
        QTest::addColumn<OSErr>("status");
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<int>("size");
        QTest::newRow("shor to long") << DescType(typeSInt16) << bytesOf(SInt16(-5)) << DescType(typeSInt32) << OSErr(noErr) << bytesOf(-5) << 4;
        QTest::newRow("text to bool") << DescType(typeUnicodeText) << QByteArray("t\0", 2) << DescType(typeBoolean) << OSErr(errAECoercionFail) << QByteArray() << -1;
        QTest::newRow("type to enum") << DescType(typeType) << bytesOf('end ') << DescType(typeEnumerated) << OSErr(noErr) << bytesOf('end ') << 4;
        QTest::newRow("wildcard keeps the type") << DescType(typeBoolean) << QByteArray("\1", 1) << DescType(typeWildCard) << OSErr(noErr) << QByteArray("\1", 1) << 1;
        QTest::newRow("40 bytes of text") << DescType(typeUnicodeText) << QByteArray(40, 'a') << DescType(typeUnicodeText) << OSErr(noErr) << QByteArray(10, 'a') << 40;
    }
    void descriptorReads()
    {
        QFETCH(DescType, from);
        QFETCH(QByteArray, data);
        QFETCH(DescType, to);
        QFETCH(OSErr, status);
        QFETCH(QByteArray, result);
        QFETCH(int, size);
        AEDesc record{typeNull, nullptr}, desc = record, coerced{'junk', nullptr};
        QByteArray buffer(11, 'z');
        Size got = -1;
        DescType type = 0;
        QVERIFY(AECreateList(nullptr, 0, true, &record) == noErr && AEPutParamPtr(&record, 'test', from, data.constData(), data.size()) == noErr);
        QCOMPARE(AEGetParamPtr(&record, 'test', to, &type, buffer.data(), 10, &got), status);
        QVERIFY(AECreateDesc(from, data.constData(), data.size(), &desc) == noErr && AECoerceDesc(&desc, to, &coerced) == status);
        QVERIFY(status == noErr || coerced.descriptorType == typeNull);
        for (AEDesc *d : {&record, &desc, &coerced})
            AEDisposeDesc(d);
        QCOMPARE(type, status != noErr ? 0 : to == typeWildCard ? from : to);
        QCOMPARE(buffer, result + QByteArray(11 - result.size(), 'z'));
        QCOMPARE(got, Size(size));
    }

    // An event goes over the bus as bytes that come back the same; every cut or changed byte gives
    // errAECorruptData and the null descriptor, or a well-formed descriptor, and never a crash.
    void flattenRoundTripAndDamage()
    {
        const ProcessSerialNumber psn{0, 42};
        const QString path = "/Applications/Tävrin.app";
        const SInt32 position = 3;
        AEDesc target{typeNull, nullptr}, record = target, index = target, container = target, specifier = target, event = target, copy = target;
        QVERIFY(AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target) == noErr
                && AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID, &event) == noErr
                && AECreateList(nullptr, 0, true, &record) == noErr
                && AEPutParamPtr(&record, 'ppth', typeUnicodeText, path.utf16(), path.size() * 2) == noErr
                && AECreateDesc(typeSInt32, &position, sizeof(position), &index) == noErr
                && CreateObjSpecifier('logi', &container, formAbsolutePosition, &index, true, &specifier) == noErr
                && AEPutParamDesc(&event, keyAEPropData, &record) == noErr && AEPutParamDesc(&event, keyDirectObject, &specifier) == noErr);
        QVERIFY(index.descriptorType == typeNull && !index.dataHandle); // disposed as asked
        const QByteArray bytes = AEFlattenDescToBytes(&event);
        for (AEDesc *d : {&target, &record, &specifier, &event, &event}) // the second time on the null descriptor
            QVERIFY(AEDisposeDesc(d) == noErr && d->descriptorType == typeNull && !d->dataHandle);
        QCOMPARE(AEUnflattenDescFromBytes(bytes, &copy), OSStatus(noErr));
        QCOMPARE(AEFlattenDescToBytes(&copy), bytes);
        AEDisposeDesc(&copy);
        for (int i = 0; i < bytes.size(); ++i) {
            QCOMPARE(AEUnflattenDescFromBytes(bytes.left(i), &copy), OSStatus(errAECorruptData));
            QCOMPARE(copy.descriptorType, DescType(typeNull));
            for (const char value : {'\0', '\x7f', '\xff'}) {
                QByteArray changed = bytes;
                changed[i] = value;
                const OSStatus err = AEUnflattenDescFromBytes(changed, &copy);
                QVERIFY(err == noErr || (err == errAECorruptData && copy.descriptorType == typeNull));
                AEDisposeDesc(&copy);
            }
        }
    }

    // UTF-8 and UTF-16 paths as the layer converts them: whole characters, within the buffer.
    void stringBytes_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<int>("capacity");  // bytes of UTF-16
        QTest::addColumn<int>("converted"); // UTF-16 units; -1: not UTF-8
        QTest::newRow("ascii") << QByteArray("/Applications") << 100 << 13;
        QTest::newRow("exactly fits") << QByteArray("/ab") << 6 << 3;
        QTest::newRow("one byte short") << QByteArray("/ab") << 5 << 2;
        QTest::newRow("surrogate pair kept whole") << QByteArray("/\xF0\x9F\x98\x80") << 4 << 1;
        QTest::newRow("invalid UTF-8") << QByteArray("/a\xC3(") << 100 << -1;
        QTest::newRow("encoded surrogate") << QByteArray("/\xED\xA0\x80") << 100 << -1;
    }
    void stringBytes()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(int, capacity);
        QFETCH(int, converted);
        const auto bytes = [](const char *data) { return reinterpret_cast<const UInt8 *>(data); };
        CFStringRef s = CFStringCreateWithBytes(nullptr, bytes(utf8.constData()), utf8.size(), kCFStringEncodingUTF8, false);
        QCOMPARE(s != nullptr, converted >= 0);
        QVERIFY(!CFStringCreateWithBytes(nullptr, bytes("abc"), 3, kCFStringEncodingUnicode, false)); // an odd size
        if (!s)
            return;
        QByteArray buffer(capacity, '\0');
        CFIndex used = -1;
        const CFIndex n = CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), kCFStringEncodingUnicode, 0, false,
                                           reinterpret_cast<UInt8 *>(buffer.data()), capacity, &used);
        CFRelease(s);
        const QString expected = QString::fromUtf8(utf8).left(converted);
        QVERIFY(n == converted && used == converted * 2);
        QCOMPARE(buffer.left(used), QByteArray(reinterpret_cast<const char *>(expected.utf16()), expected.size() * 2));
        s = CFStringCreateWithBytes(nullptr, bytes(buffer.constData()), used, kCFStringEncodingUnicode, false);
        QCOMPARE(CFBridgingToQVariant(s).toString(), expected);
        CFRelease(s);
    }
};

QTEST_GUILESS_MAIN(LoginItemsTests)
#include "tst_LoginItems.moc"
