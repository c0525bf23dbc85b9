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

template<typename T> QByteArray bytesOf(T value) { return QByteArray(reinterpret_cast<const char *>(&value), sizeof(T)); }

UInt32 agentPid()
{
    ProcessSerialNumber psn{0, kNoProcess};
    for (ProcessInfoRec info{sizeof(ProcessInfoRec), nullptr, {}, 0, 0, nullptr}; GetNextProcess(&psn) == noErr;)
        if (GetProcessInformation(&psn, &info) == noErr && info.processSignature == FOUR_CHAR_CODE("sevs"))
            return psn.lowLongOfPSN;
    return 0;
}

bool stopAgent()
{
    const UInt32 pid = agentPid();
    for (int i = 0; pid != 0 && i < 500 && ::kill(pid_t(pid), SIGTERM) == 0 && agentPid() == pid; ++i)
        QThread::msleep(20);
    return agentPid() == 0;
}

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

// A file whose path is LENGTH UTF-16 units long, ending in END, below PATH, in folders of 200 characters.
QString pathOfLength(QString path, int length, const QString &end)
{
    for (; length - path.size() > 201; QDir().mkpath(path))
        path += '/' + QString(200, 'd');
    path += '/' + QString(length - path.size() - 1 - end.size(), 'f') + end;
    return TestSupport::writeFile(path, "x") ? path : QString();
}

// The empty listing of a fake System Events (replyErrorNumber), with this 'errn'.
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

    QTemporaryDir m_root, m_bus; // the home folder; a session bus of the test's own
    QString m_files;
    QProcess m_busDaemon;

    QString autostart() const { return LoginItemStore::autostartFolder(); }
    QString makeFile(const QString &name) { return TestSupport::writeFile(m_files + '/' + name, "#!") ? m_files + '/' + name : ""; }
    static TestSupport::Run zvtool(const QStringList &args, bool asNobody = false)
    {
        return asNobody ? TestSupport::runProgram("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                                                         TestSupport::zvtoolPath(), "login-items"} + args)
                        : TestSupport::zvtool(QStringList{"login-items"} + args);
    }

    QString services() const { return m_bus.path() + "/share/dbus-1/services"; }
    bool setActivation(bool on) const
    {
        const QString name = "/org.zvuninstaller.AppleEvents.sevs.service";
        QFile::remove(services() + name);
        return (!on || QFile::copy(TestSupport::binaryDir() + "/share/dbus-1/services" + name, services() + name))
            && QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall("org.freedesktop.DBus",
                   "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig")).type() == QDBusMessage::ReplyMessage;
    }

private slots:
    // The bus admits every user (the agent itself must refuse the others); its folder, every user may enter.
    void initTestCase()
    {
        QVERIFY(TestSupport::redirectHome(m_root.path()));
        m_files = m_root.path() + "/files";
        const QString config = m_bus.path() + "/open.conf";
        TestSupport::writeFile(config, "<busconfig><include>/usr/share/dbus-1/session.conf</include><policy context=\"default\"><allow user=\"*\"/></policy></busconfig>");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_DIRS", m_bus.path() + "/share");
        m_busDaemon.setProcessEnvironment(env);
        m_busDaemon.start("dbus-daemon", {"--nofork", "--print-address=1", "--address=unix:dir=" + m_bus.path(),
                                          "--config-file=" + config});
        QVERIFY(m_busDaemon.waitForReadyRead(10000) && QDir().mkpath(services()));
        QVERIFY(QFile::setPermissions(m_bus.path(), QFile::Permissions(0x7011))); // rwx--x--x
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_busDaemon.readLine().trimmed());
    }
    void init()
    {
        QVERIFY(stopAgent() && setActivation(false));
        QDir(autostart()).removeRecursively();
        QFile::remove(autostart());
        QVERIFY(QDir(m_files).removeRecursively() && QDir().mkpath(m_files));
    }
    void cleanupTestCase()
    {
        QVERIFY(stopAgent());
        m_busDaemon.terminate();
        m_busDaemon.waitForFinished();
    }

    // agentStartedOnDemand: the first call starts the agent (by Launch Services or the bus), and the first after it
    // ended. killedAgentWhoseIdIsReused: every call still works. agentNotAnswering: errAETimeout after 5 s, then answers.
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
        QVERIFY(setActivation(byBus) && TestSupport::writeFile(autostart() + "/other.desktop", "[Desktop Entry]\nExec=" + other.toUtf8()));
        QVERIFY(agentPid() == 0 && listing() == QStringList{other}); // started on demand
        FSRef app; // Launch Services finds the agent, gives the running one, refuses the rest
        LSApplicationParameters params{0, kLSLaunchDefaults, &app, nullptr, nullptr, nullptr, nullptr};
        ProcessSerialNumber running{0, 0};
        QVERIFY(LSFindApplicationForInfo(FOUR_CHAR_CODE("zzzz"), nullptr, nullptr, &app, nullptr) == kLSApplicationNotFoundErr
                && LSFindApplicationForInfo(FOUR_CHAR_CODE("sevs"), nullptr, nullptr, &app, nullptr) == noErr && LSOpenApplication(&params, &running) == noErr);
        QCOMPARE(running.lowLongOfPSN, agentPid());
        QCOMPARE(FSPathMakeRef(reinterpret_cast<const UInt8 *>(QFile::encodeName(makeFile("not-a-program")).constData()), &app, nullptr), noErr);
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
        QTest::newRow("ours, not ASCII") << g + "Exec=/x\nX-SystemEvents-Path=/opt/ä b/app😀\nX-SystemEvents-Order=7\n"
                                         << QStringList{"/opt/ä b/app😀"};
        QTest::newRow("ours, 511 characters") << ours + '/' + QByteArray(510, 'y') << QStringList{'/' + QString(510, 'y')};
        QTest::newRow("foreign, Exec with arguments") << "# comment\n" + g + "Name=Other\nExec=/usr/lib/other/agent --tray %U\n" << QStringList{"/usr/lib/other/agent"};
        QTest::newRow("foreign, quoted Exec") << g + "Exec=\"/opt/My App/run \\\\$HOME\" -x\n" << QStringList{"/opt/My App/run $HOME"};
        QTest::newRow("foreign, bare command on PATH") << g + "Exec=sh -c true\n" << QStringList{QFileInfo("/bin/sh").canonicalFilePath()};
        QTest::newRow("foreign, bare command not on PATH") << g + "Exec=no-such-command-zv --x\n" << none;
        QTest::newRow("foreign, Exec in another group only") << g + "Name=x\n[Desktop Action y]\nExec=/bin/y\n" << none;
        QTest::newRow("switchedOffItemRemoved: ours, Hidden=true") << ours + "%F/Monitor\nHidden=true\nX-SystemEvents-Hidden=false\n" << QStringList{"%F/Monitor"};
        QTest::newRow("switchedOffItemRemoved: ours, GNOME") << ours + "%F/Monitor\nX-GNOME-Autostart-enabled=false\nX-SystemEvents-Hidden=true\n" << QStringList{"%F/Monitor hidden"};
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

    // A path the listing could not read back is refused before the agent is even started (by the
    // agent itself: rawEvent); the longest that fits goes round.
    void addRefused_data()
    {
        QTest::addColumn<QString>("path"); // a number: a file of that path length (ending in what follows it)
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("missing file") << "%F/missing" << OSStatus(fnfErr);
        QTest::newRow("511 characters") << "511" << OSStatus(noErr);
        QTest::newRow("UTF-16 form of 1024 bytes") << "512" << OSStatus(coreFoundationUnknownErr);
        QTest::newRow("UTF-16 form of 1026 bytes, a pair at the end") << "513😀" << OSStatus(coreFoundationUnknownErr);
        QTest::newRow("UTF-8 form of 1024 bytes") << "1024" << OSStatus(pathTooLongErr);
    }
    void addRefused()
    {
        QFETCH(QString, path);
        QFETCH(OSStatus, status);
        const QString digits = path.section(QRegularExpression("\\D"), 0, 0);
        path = digits.isEmpty() ? path.replace("%F", m_files) : pathOfLength(m_files, digits.toInt(), path.mid(digits.size()));
        QCOMPARE(add(path), status);
        if (status == noErr)
            QCOMPARE(listing(), QStringList{path});
        else
            QVERIFY(!LQLoginItemRegistry::addLoginItemWithPathHideIt(path, false) && agentPid() == 0 && !QFileInfo::exists(autostart()));
    }

    // Twelve items come back in the order added, the last one's entry as a desktop reads it; index 0
    // is the first item, one past the end an error that changes nothing.
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

    // An 'errn' in the reply decides the result; one not read as a 16-bit integer fails the call.
    void replyErrorNumber_data()
    {
        QTest::addColumn<DescType>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("16-bit error") << DescType(typeSInt16) << bytesOf(SInt16(-1728)) << OSStatus(-1728);
        QTest::newRow("32-bit, the least that fits") << DescType(typeSInt32) << bytesOf(SInt32(-32768)) << OSStatus(-32768);
        QTest::newRow("32-bit, the least that does not fit") << DescType(typeSInt32) << bytesOf(SInt32(32768)) << OSStatus(errAECoercionFail);
        QTest::newRow("32-bit of two bytes") << DescType(typeSInt32) << QByteArray("\1\2", 2) << OSStatus(errAECoercionFail);
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
        QCOMPARE(items, ::status(status));
    }

    // zvtool login-items as a script uses it; otherUserCannotReachAgent: on a bus open to every
    // user, another user lists and removes nothing.
    void zvtoolLoginItems()
    {
        const QString app = m_files + "/Pelloma.app", monitor = m_files + "/Pelloma \"Monitor\"";
        const QByteArray appLine = "{\"hidden\":false,\"path\":\"" + app.toUtf8() + "\"}\n";
        const QByteArray monitorLine = "{\"hidden\":true,\"path\":\"" + m_files.toUtf8() + "/Pelloma \\\"Monitor\\\"\"}\n";
        const auto list = [&](bool asNobody) { const TestSupport::Run run = zvtool({"list"}, asNobody);
                                               return run.exitCode == 0 ? run.out : "exit " + QByteArray::number(run.exitCode); };
        QVERIFY(QDir().mkpath(app) && TestSupport::writeFile(monitor, "x"));
        for (const QStringList &usage : QList<QStringList>{{}, {"purge"}, {"add", "--hidden"}, {"add", "/a", "/b"}, {"remove"},
                                                           {"list", "x"}, {"quit-agent", "x"}})
            QVERIFY2(zvtool(usage).exitCode == 2, qPrintable(usage.join(' ')));
        QCOMPARE(list(false), QByteArray());
        QVERIFY(zvtool({"add", app}).exitCode == 0 && zvtool({"add", "--hidden", monitor}).exitCode == 0);
        QCOMPARE(zvtool({"add", m_files + "/missing"}).exitCode, 1);
        QCOMPARE(list(true), QByteArray("exit 1"));
        QCOMPARE(zvtool({"remove", app}, true).exitCode, 1);
        QCOMPARE(list(false), appLine + monitorLine);
        QVERIFY(zvtool({"remove", app + '/'}).exitCode == 0 && zvtool({"remove", app}).exitCode == 1);
        QCOMPARE(list(false), monitorLine);
        QVERIFY(agentPid() != 0 && zvtool({"quit-agent"}).exitCode == 0 && agentPid() == 0 && zvtool({"quit-agent"}).exitCode == 0);
        QCOMPARE(list(false), monitorLine);
    }

    // A parameter read: converted, at most the buffer (10 bytes) copied, the whole size told.
    void descriptorReads_data()
    {
        QTest::addColumn<DescType>("from");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<DescType>("to");
        QTest::addColumn<QByteArray>("result"); // in the buffer; null: not converted
        QTest::newRow("shor to long") << DescType(typeSInt16) << bytesOf(SInt16(-5)) << DescType(typeSInt32) << bytesOf(-5);
        QTest::newRow("text to bool") << DescType(typeUnicodeText) << QByteArray("t\0", 2) << DescType(typeBoolean) << QByteArray();
        QTest::newRow("type to enum") << DescType(typeType) << bytesOf(FOUR_CHAR_CODE("end ")) << DescType(typeEnumerated) << bytesOf(FOUR_CHAR_CODE("end "));
        QTest::newRow("wildcard keeps the type") << DescType(typeBoolean) << QByteArray("\1", 1) << DescType(typeWildCard) << QByteArray("\1", 1);
        QTest::newRow("40 bytes of text") << DescType(typeUnicodeText) << QByteArray(40, 'a') << DescType(typeUnicodeText) << QByteArray(10, 'a');
    }
    void descriptorReads()
    {
        QFETCH(DescType, from);
        QFETCH(QByteArray, data);
        QFETCH(DescType, to);
        QFETCH(QByteArray, result);
        const OSErr status = result.isNull() ? OSErr(errAECoercionFail) : OSErr(noErr);
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

    // A raw event with a relative path, which the listing could not read back: the agent refuses
    // it. Its bytes come back the same; cut or changed, errAECorruptData and the null descriptor.
    void rawEvent()
    {
        QCOMPARE(listing(), QStringList()); // starts the agent
        const ProcessSerialNumber psn{0, agentPid()};
        const QString path = "Applications/Tävrin.app";
        const DescType loginItem = FOUR_CHAR_CODE("logi");
        const SInt32 position = 3;
        AEDesc target{typeNull, nullptr}, event = target, reply = target, properties = target, index = target, container = target;
        AEDesc specifier = target, copy = target;
        SInt16 number = 0;
        QVERIFY(AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target) == noErr
                && AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID, &event) == noErr
                && AEPutParamPtr(&event, keyAEObjectClass, typeType, &loginItem, sizeof(loginItem)) == noErr
                && AECreateList(nullptr, 0, true, &properties) == noErr
                && AEPutParamPtr(&properties, FOUR_CHAR_CODE("ppth"), typeUnicodeText, path.utf16(), Size(path.size()) * 2) == noErr
                && AEPutParamDesc(&event, keyAEPropData, &properties) == noErr
                && AECreateDesc(typeSInt32, &position, sizeof(position), &index) == noErr
                && CreateObjSpecifier(loginItem, &container, formAbsolutePosition, &index, true, &specifier) == noErr
                && AEPutParamDesc(&event, keyDirectObject, &specifier) == noErr);
        QVERIFY(AESendMessage(&event, &reply, kAEWaitReply, 300) == noErr
                && AEGetParamPtr(&reply, keyErrorNumber, typeSInt16, nullptr, &number, sizeof(number), nullptr) == noErr);
        QCOMPARE(OSStatus(number), OSStatus(paramErr));
        QCOMPARE(QDir(autostart()).entryList(QDir::Files), QStringList());
        const QByteArray bytes = AEFlattenDescToBytes(&event);
        for (AEDesc *d : {&target, &properties, &specifier, &reply, &event, &event}) // the second time on the null descriptor
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
};

QTEST_GUILESS_MAIN(LoginItemsTests)
#include "tst_LoginItems.moc"
