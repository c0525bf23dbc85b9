// Login items: the layer (LoginItemsAE), the registry and zvtool against the real System Events
// agent on a private session bus, the user's folders in a temp folder; the descriptors of events.
#include "AEObjects_p.h"
#include "AppleEvents_p.h"
#include "LQLoginItemRegistry.h"
#include "LaunchServices_p.h"
#include "LoginItemStore.h"
#include "LoginItemsAE.h"
#include "Processes_p.h"
#include "TestSupport.h"

#include <QtDBus>
#include <QTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

template<typename T> QByteArray bytesOf(T value) { return QByteArray(reinterpret_cast<const char *>(&value), sizeof(T)); }

UInt32 agentPid()
{
    ProcessSerialNumber psn{0, kNoProcess};
    for (ProcessInfoRec info{sizeof(ProcessInfoRec), nullptr, {}, 0, 0, nullptr}; GetNextProcess(&psn) == noErr;)
        if (GetProcessInformation(&psn, &info) == noErr && info.processSignature == FOUR_CHAR_CODE("sevs"))
            return psn.lowLongOfPSN;
    return 0;
}

// Ends the agent, waiting until it is gone.
bool stopAgent()
{
    const UInt32 pid = agentPid();
    for (int i = 0; pid != 0 && i < 500 && ::kill(pid_t(pid), SIGTERM) == 0 && agentPid() == pid; ++i)
        QThread::msleep(20);
    return agentPid() == 0;
}

// A session bus of the test's own (OPEN: admitting every user), in a folder every user may enter.
struct PrivateBus {
    QTemporaryDir folder;
    QProcess daemon;
    QString address;
    QString services() const { return folder.path() + "/share/dbus-1/services"; }
    bool start(bool open = false)
    {
        const QString config = folder.path() + "/open.conf";
        TestSupport::writeFile(config, "<busconfig><include>/usr/share/dbus-1/session.conf</include><policy context=\"default\"><allow user=\"*\"/></policy></busconfig>");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_DIRS", folder.path() + "/share");
        daemon.setProcessEnvironment(env);
        daemon.start("dbus-daemon", {"--nofork", "--print-address=1", "--address=unix:dir=" + folder.path(),
                                     open ? "--config-file=" + config : "--session"});
        address = daemon.waitForReadyRead(10000) ? QString::fromUtf8(daemon.readLine().trimmed()) : QString();
        return QFile::setPermissions(folder.path(), QFile::Permissions(0x7011)) && QDir().mkpath(services()) && !address.isEmpty(); // rwx--x--x
    }
    bool setActivation(bool on) const
    {
        const QString name = "/org.zvuninstaller.AppleEvents.sevs.service";
        QFile::remove(services() + name);
        return (!on || QFile::copy(TestSupport::binaryDir() + "/share/dbus-1/services" + name, services() + name))
            && QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall("org.freedesktop.DBus",
                   "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig")).type() == QDBusMessage::ReplyMessage;
    }
    ~PrivateBus() { daemon.terminate(), daemon.waitForFinished(); }
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
    const std::unique_ptr<const void, void (*)(CFTypeRef)> url(CFURLCreateWithQUrl(QUrl::fromLocalFile(path)), CFRelease);
    return LIAEAddURLAtEnd(CFURLRef(url.get()), hidden);
}

// A file whose path is LENGTH characters long, below PATH, in folders of 200 characters.
QString pathOfLength(QString path, int length)
{
    for (; length - path.size() > 201; QDir().mkpath(path))
        path += '/' + QString(200, 'd');
    path += '/' + QString(length - path.size() - 1, 'f');
    return TestSupport::writeFile(path, "x") ? path : QString();
}

// The listing of a System Events of the test program's own (replyErrorNumber), with this FOUR_CHAR_CODE("errn").
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
class LoginItemsTests : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_files;
    PrivateBus m_bus;

    QString autostart() const { return LoginItemStore::autostartFolder(); }
    QString makeFile(const QString &name) { return TestSupport::writeFile(m_files + '/' + name, "#!") ? m_files + '/' + name : ""; }
    // zvtool login-items ARGS on BUS, as user nobody when ASNOBODY.
    TestSupport::Run zvtool(const QStringList &args, const QString &bus, bool asNobody = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        return asNobody ? TestSupport::runProgram("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                                                         TestSupport::zvtoolPath(), "login-items"} + args, {}, env)
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
        QVERIFY(QDir(m_files).removeRecursively() && QDir().mkpath(m_files));
    }
    void cleanupTestCase() { QVERIFY(stopAgent()); }

    // agentStartedOnDemand: the first call starts the agent (by Launch Services or by the bus), and
    // the first after it ended. killedAgentWhoseIdIsReused: every call still works. agentNotAnswering:
    // errAETimeout after five seconds; resumed, the same agent answers again.
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
        QVERIFY(agentPid() == 0 && listing() == QStringList{other}); // started on demand
        FSRef app; // Launch Services finds the agent, gives the running one, refuses the rest
        LSApplicationParameters params{0, kLSLaunchDefaults, &app, nullptr, nullptr, nullptr, nullptr};
        ProcessSerialNumber running{0, 0};
        QVERIFY(LSFindApplicationForInfo(FOUR_CHAR_CODE("zzzz"), nullptr, nullptr, &app, nullptr) == kLSApplicationNotFoundErr
                && LSFindApplicationForInfo(FOUR_CHAR_CODE("sevs"), nullptr, nullptr, &app, nullptr) == noErr && LSOpenApplication(&params, &running) == noErr);
        QCOMPARE(running.lowLongOfPSN, agentPid());
        params.version = 1;
        QCOMPARE(LSOpenApplication(&params, &running), OSStatus(paramErr));
        QCOMPARE(FSPathMakeRef(reinterpret_cast<const UInt8 *>(QFile::encodeName(makeFile("not-a-program")).constData()), &app, nullptr), noErr);
        params.version = 0;
        QCOMPARE(LSOpenApplication(&params, &running), OSStatus(kLSNoExecutableErr));
        QVERIFY(add(kept) == noErr && add(removed) == noErr);
        const pid_t pid = pid_t(agentPid());
        QVERIFY(pid > 1 && ::kill(pid, signal) == 0);
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
        QElapsedTimer waited; // a stopped agent: the time-out status after five seconds, not long after
        waited.start();
        const QStringList stopped = signal == SIGSTOP ? listing() : status(errAETimeout);
        const qint64 ms = waited.elapsed();
        ::kill(pid, SIGCONT);
        QVERIFY2(stopped == status(errAETimeout) && (signal != SIGSTOP || (ms >= 5000 && ms <= 5200)),
                 qPrintable(stopped.join(' ') + QStringLiteral(" after %1 ms").arg(ms)));
        QCOMPARE(listing(), (QStringList{other, kept, removed}));
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(removed) && add(removed, true) == noErr);
        QCOMPARE(listing(), (QStringList{other, kept, removed + " hidden"}));
        QCOMPARE(agentPid() == UInt32(pid), signal == SIGSTOP);
        reuser.kill();
        reuser.waitForFinished();
    }

    // An autostart entry beside the product's own item (added hidden, its file then deleted: listed
    // from its path text): listed first, then every listed item removed by its path, file and all.
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
        QTest::newRow("switchedOffItemRemoved: ours, Hidden=true") << ours + "%F/Monitor\nHidden=true\nX-SystemEvents-Hidden=false\n" << QStringList{"%F/Monitor"};
        QTest::newRow("switchedOffItemRemoved: ours, GNOME") << ours + "%F/Monitor\nX-GNOME-Autostart-enabled=false\nX-SystemEvents-Hidden=true\n" << QStringList{"%F/Monitor hidden"};
        QTest::newRow("unrepresentableEntryLeftOut: foreign, 512 characters") << g + "Exec=/" + QByteArray(511, 'x') << none;
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

    // A path the listing could not read back is refused before the agent is even started, and by
    // the agent itself (sent as a raw event); the longest that fits goes round.
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
            const DescType loginItem = FOUR_CHAR_CODE("logi");
            AEAddressDesc target{typeNull, nullptr};
            AppleEvent event{typeNull, nullptr}, reply{typeNull, nullptr};
            AERecord properties{typeNull, nullptr};
            SInt16 number = 0;
            QVERIFY(AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target) == noErr
                    && AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID, &event) == noErr
                    && AEPutParamPtr(&event, keyAEObjectClass, typeType, &loginItem, sizeof(loginItem)) == noErr
                    && AECreateList(nullptr, 0, true, &properties) == noErr
                    && AEPutParamPtr(&properties, FOUR_CHAR_CODE("ppth"), typeUnicodeText, path.utf16(), Size(path.size()) * 2) == noErr
                    && AEPutParamDesc(&event, keyAEPropData, &properties) == noErr);
            QVERIFY(AESendMessage(&event, &reply, kAEWaitReply, 300) == noErr
                    && AEGetParamPtr(&reply, keyErrorNumber, typeSInt16, nullptr, &number, sizeof(number), nullptr) == noErr);
            QCOMPARE(OSStatus(number), status);
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

    // Twelve items through the registry come back in the order added, the last one's entry as a
    // desktop reads it; index 0 is the first item, the last is removable, one past the end is an
    // error that changes nothing.
    void removeByPosition()
    {
        QStringList items;
        for (int i = 1; i <= 12; ++i) {
            const QString path = makeFile(QString(i < 12 ? "app%1" : "app%1 %$x").arg(i));
            QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(path, i % 5 == 0));
            items << path + (i % 5 == 0 ? " hidden" : "");
        }
        QCOMPARE(listing(), items);
        const QByteArray files = QFile::encodeName(m_files);
        QCOMPARE(TestSupport::readFile(autostart() + "/systemevents-login-item-12.desktop"), "[Desktop Entry]\nType=Application\nName="
                 "app12 %$x\nExec=\"" + files + "/app12 %%\\\\$x\"\nX-SystemEvents-Path=" + files + "/app12 %$x\nX-SystemEvents-Hidden=false\n"
                 "X-SystemEvents-Order=12\n");
        QCOMPARE(LoginItemStore::programOfExec(LoginItemStore::execForPath(items.last())), items.last());
        QCOMPARE(LIAERemove(0), noErr);
        QCOMPARE(LIAERemove(11), OSStatus(errAENoSuchObject));
        QVERIFY(!LQLoginItemRegistry::removeLoginItemAtIndex(11) && !LQLoginItemRegistry::removeLoginItemAtIndex(-1));
        QCOMPARE(listing(), items.mid(1));
        QVERIFY(LQLoginItemRegistry::removeLoginItemAtIndex(10) && LQLoginItemRegistry::removeLoginItemAtIndex(8));
        QCOMPARE(listing(), items.mid(1, 8) + items.mid(10, 1));
    }

    // An item looked up and removed by path: the folder form; the first of two items for a file;
    // a product program linked to a shared binary is not another vendor's item for that binary.
    void lookUpByPath_data()
    {
        QTest::addColumn<QStringList>("added"); // in the files folder; "entry:" another vendor's entry for a program
        QTest::addColumn<QString>("lookedUp");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("before"); // the listing; %F: the files folder
        QTest::addColumn<QStringList>("after");  // once the looked-up path was removed
        const QStringList app{"%F/Tavrin.app/"}, none;
        QTest::newRow("bundle folder") << QStringList{"Tavrin.app"} << "Tavrin.app" << 0 << app << none;
        QTest::newRow("bundle folder, trailing slash") << QStringList{"Tavrin.app"} << "Tavrin.app/" << 0 << app << none;
        QTest::newRow("bundle folder, dotted path") << QStringList{"Tavrin.app/"} << "sub/../Tavrin.app/." << 0 << app << none;
        QTest::newRow("through a symbolic link, another URL") << QStringList{"Tavrin.app"} << "link.app" << -1 << app << app;
        QTest::newRow("plain file") << QStringList{"Monitor"} << "./Monitor" << 0 << QStringList{"%F/Monitor"} << none;
        QTest::newRow("two items for one file") << QStringList{"other", "Monitor", "Monitor hidden"} << "Monitor" << 1 << QStringList{"%F/other", "%F/Monitor", "%F/Monitor hidden"} << QStringList{"%F/other", "%F/Monitor hidden"};
        QTest::newRow("linkToSharedBinary") << QStringList{"entry:shared-helper"} << "Link" << -1 << QStringList{"%F/shared-helper"} << QStringList{"%F/shared-helper"};
        QTest::newRow("failing listing") << QStringList{"entry:"} << "Monitor" << -1 << status(dirNFErr) << status(dirNFErr);
    }
    void lookUpByPath()
    {
        QFETCH(QStringList, added);
        QFETCH(QString, lookedUp);
        QFETCH(int, index);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QVERIFY(QDir(m_files).mkpath("Tavrin.app/Contents") && !makeFile("Monitor").isNull() && !makeFile("other").isNull());
        QVERIFY(QFile::link(m_files + "/Tavrin.app", m_files + "/link.app") && QFile::link(makeFile("shared-helper"), m_files + "/Link"));
        for (const QString &item : added) {
            if (item == "entry:") // the autostart path a file: nothing can be listed
                QVERIFY(TestSupport::writeFile(autostart(), "not a folder"));
            else if (item.startsWith("entry:"))
                QVERIFY(TestSupport::writeFile(autostart() + "/other.desktop", "[Desktop Entry]\nExec=" + QFile::encodeName(m_files + '/' + item.mid(6))));
            else
                QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(m_files + '/' + item.section(' ', 0, 0), item.endsWith(" hidden")));
        }
        before.replaceInStrings("%F", m_files);
        after.replaceInStrings("%F", m_files);
        const QString path = m_files + '/' + lookedUp;
        QCOMPARE(listing(), before);
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(path), index);
        QCOMPARE(LQLoginItemRegistry::removeLoginItemWithPath(path), index >= 0);
        QCOMPARE(listing(), after);
    }

    // An FOUR_CHAR_CODE("errn") in the reply decides the result; one not read as a 16-bit integer fails the call.
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
        std::tie(g_errnType, g_errnData) = std::tie(type, data);
        std::atomic<OSStatus> started = 1;
        std::unique_ptr<QThread> fake(QThread::create([&] {
            AEInstallEventHandler(kAECoreSuite, kAEGetData, fakeGetData, nullptr, false);
            if ((started = AEStartReceivingEvents(FOUR_CHAR_CODE("sevs"))) == noErr)
                QEventLoop().exec();
            AEStopReceivingEvents();
        }));
        for (fake->start(); started == 1;)
            QThread::msleep(5);
        QCOMPARE(started.load(), noErr);
        const QStringList items = listing();
        fake->quit();
        fake->wait();
        QCOMPARE(items, status == noErr ? QStringList() : ::status(status));
    }

    // zvtool login-items as a script uses it, on the user's bus and on one open to every user;
    // otherUserCannotReachAgent: another user lists and removes nothing.
    void zvtoolLoginItems_data()
    {
        QTest::addColumn<bool>("openBus");
        QTest::newRow("otherUserCannotReachAgent: the user's session bus") << false;
        QTest::newRow("otherUserCannotReachAgent: a bus open to every user") << true;
    }
    void zvtoolLoginItems()
    {
        QFETCH(bool, openBus);
        PrivateBus open;
        QVERIFY(!openBus || open.start(true));
        const QString bus = openBus ? open.address : m_bus.address, app = m_files + "/Pelloma.app", monitor = m_files + "/Pelloma \"Monitor\"";
        const QByteArray appLine = "{\"hidden\":false,\"path\":\"" + app.toUtf8() + "\"}\n";
        const QByteArray monitorLine = "{\"hidden\":true,\"path\":\"" + m_files.toUtf8() + "/Pelloma \\\"Monitor\\\"\"}\n";
        const auto list = [&](bool asNobody) { const TestSupport::Run run = zvtool({"list"}, bus, asNobody);
                                               return run.exitCode == 0 ? run.out : "exit " + QByteArray::number(run.exitCode); };
        QVERIFY(QDir().mkpath(app) && TestSupport::writeFile(monitor, "x"));
        for (const QStringList &usage : QList<QStringList>{{}, {"purge"}, {"add", "--hidden"}, {"add", "/a", "/b"}, {"remove"},
                                                           {"list", "x"}, {"quit-agent", "x"}})
            QVERIFY2(zvtool(usage, bus).exitCode == 2, qPrintable(usage.join(' ')));
        QCOMPARE(list(false), QByteArray());
        QVERIFY(zvtool({"add", app}, bus).exitCode == 0 && zvtool({"add", "--hidden", monitor}, bus).exitCode == 0);
        QCOMPARE(zvtool({"add", m_files + "/missing"}, bus).exitCode, 1);
        QCOMPARE(zvtool({}, bus, true).exitCode, 2); // nobody does run zvtool
        QCOMPARE(list(true), QByteArray("exit 1"));
        QCOMPARE(zvtool({"remove", app}, bus, true).exitCode, 1);
        QCOMPARE(list(false), appLine + monitorLine);
        QVERIFY(zvtool({"remove", app + '/'}, bus).exitCode == 0 && zvtool({"remove", app}, bus).exitCode == 1);
        QCOMPARE(list(false), monitorLine);
        QVERIFY((openBus || agentPid() != 0) && zvtool({"quit-agent"}, bus).exitCode == 0 && agentPid() == 0 && zvtool({"quit-agent"}, bus).exitCode == 0);
        QCOMPARE(list(false), monitorLine);
    }

    // A parameter read: converted, at most the buffer (10 bytes) copied, the whole size told.
    void descriptorReads_data()
    {
        QTest::addColumn<DescType>("from");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<DescType>("to");
        QTest::addColumn<OSErr>("status");
        QTest::addColumn<QByteArray>("result"); // in the buffer
        QTest::newRow("shor to long") << DescType(typeSInt16) << bytesOf(SInt16(-5)) << DescType(typeSInt32) << OSErr(noErr) << bytesOf(-5);
        QTest::newRow("text to bool") << DescType(typeUnicodeText) << QByteArray("t\0", 2) << DescType(typeBoolean) << OSErr(errAECoercionFail) << QByteArray();
        QTest::newRow("type to enum") << DescType(typeType) << bytesOf(FOUR_CHAR_CODE("end ")) << DescType(typeEnumerated) << OSErr(noErr) << bytesOf(FOUR_CHAR_CODE("end "));
        QTest::newRow("wildcard keeps the type") << DescType(typeBoolean) << QByteArray("\1", 1) << DescType(typeWildCard) << OSErr(noErr) << QByteArray("\1", 1);
        QTest::newRow("40 bytes of text") << DescType(typeUnicodeText) << QByteArray(40, 'a') << DescType(typeUnicodeText) << OSErr(noErr) << QByteArray(10, 'a');
    }
    void descriptorReads()
    {
        QFETCH(DescType, from);
        QFETCH(QByteArray, data);
        QFETCH(DescType, to);
        QFETCH(OSErr, status);
        QFETCH(QByteArray, result);
        AEDesc record{typeNull, nullptr};
        QByteArray buffer(11, 'z');
        Size got = -1;
        DescType type = 0;
        QVERIFY(AECreateList(nullptr, 0, true, &record) == noErr && AEPutParamPtr(&record, FOUR_CHAR_CODE("test"), from, data.constData(), data.size()) == noErr);
        QCOMPARE(AEGetParamPtr(&record, FOUR_CHAR_CODE("test"), to, &type, buffer.data(), 10, &got), status);
        AEDisposeDesc(&record);
        QCOMPARE(type, status != noErr ? 0 : to == typeWildCard ? from : to);
        QCOMPARE(buffer, result + QByteArray(11 - result.size(), 'z'));
        QCOMPARE(got, status == noErr ? Size(qMax(result.size(), data.size())) : Size(-1)); // the whole size
    }

    // An event's bytes come back the same; cut or changed, errAECorruptData and the null descriptor.
    void flattenRoundTripAndDamage()
    {
        const ProcessSerialNumber psn{0, 42};
        const QString path = "/Applications/Tävrin.app";
        const SInt32 position = 3;
        AEDesc target{typeNull, nullptr}, index = target, container = target, specifier = target, event = target, copy = target;
        QVERIFY(AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target) == noErr
                && AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID, &event) == noErr
                && AEPutParamPtr(&event, FOUR_CHAR_CODE("ppth"), typeUnicodeText, path.utf16(), path.size() * 2) == noErr
                && AECreateDesc(typeSInt32, &position, sizeof(position), &index) == noErr
                && CreateObjSpecifier(FOUR_CHAR_CODE("logi"), &container, formAbsolutePosition, &index, true, &specifier) == noErr
                && AEPutParamDesc(&event, keyDirectObject, &specifier) == noErr);
        QVERIFY(index.descriptorType == typeNull && !index.dataHandle); // disposed as asked
        const QByteArray bytes = AEFlattenDescToBytes(&event);
        for (AEDesc *d : {&target, &specifier, &event, &event}) // the second time on the null descriptor
            QVERIFY(AEDisposeDesc(d) == noErr && d->descriptorType == typeNull && !d->dataHandle);
        QCOMPARE(AEUnflattenDescFromBytes(bytes, &copy), OSStatus(noErr));
        QCOMPARE(AEFlattenDescToBytes(&copy), bytes);
        AEDisposeDesc(&copy);
        for (int i = 0; i < bytes.size(); ++i) {
            QVERIFY(AEUnflattenDescFromBytes(bytes.left(i), &copy) == errAECorruptData && copy.descriptorType == typeNull);
            for (const char value : {'\0', '\x7f', '\xff'}) {
                QByteArray changed = bytes;
                changed[i] = value;
                const OSStatus err = AEUnflattenDescFromBytes(changed, &copy);
                QVERIFY(err == noErr || (err == errAECorruptData && copy.descriptorType == typeNull));
                AEDisposeDesc(&copy);
            }
        }
    }

    // Paths from UTF-8 to UTF-16: whole characters, within the buffer.
    void stringBytes_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<int>("capacity");  // bytes of UTF-16
        QTest::addColumn<int>("converted"); // UTF-16 units; -1: not UTF-8
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
        QVERIFY(!CFStringCreateWithBytes(nullptr, bytes("abc"), 3, kCFStringEncodingUnicode, false)); // an odd size
        QCOMPARE(s != nullptr, converted >= 0);
        QByteArray buffer(capacity, '\0');
        CFIndex used = -1;
        const CFIndex n = s ? CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), kCFStringEncodingUnicode, 0, false,
                                               reinterpret_cast<UInt8 *>(buffer.data()), capacity, &used) : -1;
        const QString expected = s ? QString::fromUtf8(utf8).left(converted) : QString();
        QVERIFY(n == converted && used == (s ? converted * 2 : -1));
        QCOMPARE(buffer.left(qMax(used, CFIndex(0))), QByteArray(reinterpret_cast<const char *>(expected.utf16()), expected.size() * 2));
        if (s)
            CFRelease(s);
    }
};

QTEST_GUILESS_MAIN(LoginItemsTests)
#include "tst_LoginItems.moc"
