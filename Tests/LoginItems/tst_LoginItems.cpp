// The login-item layer and registry against the real System Events agent on a private
// session bus, with the user's configuration and runtime folders in a temp folder.
#include "AEObjects_p.h"
#include "LaunchServices_p.h"
#include "AppleEvents_p.h"
#include "LQLoginItemRegistry.h"
#include "LoginItemStore.h"
#include "LoginItemsAE.h"
#include "LoginItemsTestAgent.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>
#include <atomic>

using namespace LoginItemsTestAgent;

namespace {

struct Listed {
    QUrl url;
    bool hidden;
};

// The listing through the layer, or the status when it fails.
OSStatus copyItems(QList<Listed> *items)
{
    CFArrayRef array = nullptr;
    const OSStatus err = LIAECopyLoginItems(&array);
    items->clear();
    if (err == noErr) {
        for (const QVariant &v : CFBridgingToQVariant(array).toList()) {
            const QVariantMap map = v.toMap();
            items->append(Listed{map.value(QStringLiteral("URL")).toUrl(), map.value(QStringLiteral("Hidden")).toBool()});
        }
        CFRelease(array);
    }
    return err;
}

OSStatus addURL(const QUrl &url, bool hidden)
{
    CFURLRef ref = CFURLCreateWithQUrl(url);
    const OSStatus err = LIAEAddURLAtEnd(ref, hidden);
    CFRelease(ref);
    return err;
}

QStringList listedPaths()
{
    QList<Listed> items;
    if (copyItems(&items) != noErr)
        return {QStringLiteral("<listing failed>")};
    QStringList paths;
    for (const Listed &item : items)
        paths << item.url.toLocalFile();
    return paths;
}

// A fake System Events inside the test program, on its own thread, whose listing reply
// carries an 'errn' of the kind the test asks for.
struct ErrorReply {
    DescType type;
    QByteArray data;
};
ErrorReply g_errorReply;
} // namespace
Q_DECLARE_METATYPE(ErrorReply)
namespace {

OSErr fakeGetData(const AppleEvent *, AppleEvent *reply, SRefCon)
{
    AEDescList list{typeNull, nullptr};
    AECreateList(nullptr, 0, false, &list);
    AEPutParamDesc(reply, keyDirectObject, &list);
    AEDisposeDesc(&list);
    AEPutParamPtr(reply, keyErrorNumber, g_errorReply.type, g_errorReply.data.constData(), g_errorReply.data.size());
    return noErr;
}

class FakeSystemEvents : public QThread {
public:
    QSemaphore ready;
    std::atomic<OSStatus> started{1};

protected:
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

template<typename T>
QByteArray bytesOf(T value) { return QByteArray(reinterpret_cast<const char *>(&value), sizeof(T)); }

// A path of exactly LENGTH bytes below BASE, made of folders, the last component a file
// when MAKEFILE.
QString pathOfLength(const QString &base, int length, bool makeFile)
{
    QString path = base;
    while (length - path.size() > 201) {
        path += QLatin1Char('/') + QString(200, QLatin1Char('d'));
        if (makeFile)
            QDir().mkpath(path);
    }
    path += QLatin1Char('/') + QString(length - path.size() - 1, QLatin1Char('f'));
    if (makeFile)
        TestSupport::writeFile(path, "x");
    return path;
}

} // namespace

class LoginItemsTests : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_files;
    PrivateBus m_bus;
    AgentGuard m_guard;

    QString autostart() const { return LoginItemStore::autostartFolder(); }
    QString makeFile(const QString &name)
    {
        const QString path = m_files + QLatin1Char('/') + name;
        TestSupport::writeFile(path, "#!/bin/sh\n");
        return path;
    }
    void writeEntry(const QString &name, const QByteArray &text)
    {
        QVERIFY(TestSupport::writeFile(autostart() + QLatin1Char('/') + name, text));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        useFoldersIn(m_root.path());
        m_files = m_root.path() + QStringLiteral("/files");
        QVERIFY(QDir().mkpath(m_files));
        QVERIFY(m_bus.start());
        m_bus.useAsSessionBus();
        QCOMPARE(agentPid(), UInt32(0));
    }

    void init()
    {
        stopAgent();
        QVERIFY(m_bus.setActivation(false));
        if (QFileInfo(autostart()).isDir())
            QDir(autostart()).removeRecursively();
        else
            QFile::remove(autostart());
        QDir(m_files).removeRecursively();
        QDir().mkpath(m_files);
    }

    void cleanupTestCase() { QVERIFY(stopAgent()); }

    // A user without login items: with no autostart folder and with an empty one.
    void emptyListing_data()
    {
        QTest::addColumn<bool>("makeFolder");
        QTest::newRow("no autostart folder") << false;
        QTest::newRow("empty autostart folder") << true;
    }
    void emptyListing()
    {
        QFETCH(bool, makeFolder);
        if (makeFolder)
            QVERIFY(QDir().mkpath(autostart()));
        CFArrayRef items = nullptr;
        QCOMPARE(LIAECopyLoginItems(&items), noErr);
        QVERIFY(items != nullptr);
        QCOMPARE(CFBridgingToQVariant(items).toList().size(), 0);
        CFRelease(items);
        QCOMPARE(LQLoginItemRegistry::allLoginItems(), std::optional<QVariantList>(QVariantList()));
    }

    // The agent is not running: the first call starts it (through the bus's service file, or
    // by Launch Services where the bus has none), then does its work.
    void agentStartedOnDemand_data()
    {
        QTest::addColumn<bool>("activation");
        QTest::newRow("by Launch Services") << false;
        QTest::newRow("by the bus") << true;
    }
    void agentStartedOnDemand()
    {
        QFETCH(bool, activation);
        QVERIFY(m_bus.setActivation(activation));
        writeEntry(QStringLiteral("other.desktop"), "[Desktop Entry]\nType=Application\nExec=/opt/other/run\n");
        QCOMPARE(agentPid(), UInt32(0));
        QCOMPARE(listedPaths(), QStringList{QStringLiteral("/opt/other/run")});
        const UInt32 first = agentPid();
        QVERIFY(first != 0);
        QVERIFY(stopAgent());
        const QString path = makeFile(QStringLiteral("tool"));
        QCOMPARE(addURL(QUrl::fromLocalFile(path), false), noErr);
        QVERIFY(agentPid() != 0);
        QVERIFY(agentPid() != first);
        QCOMPARE(listedPaths(), (QStringList{QStringLiteral("/opt/other/run"), path}));
    }

    // An agent killed without warning, its process id then taken by another program: every
    // call still works (the bus dropped the agent's name with its connection).
    void killedAgentWhoseIdIsReused()
    {
        const QString kept = makeFile(QStringLiteral("kept")), removed = makeFile(QStringLiteral("removed"));
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(kept, false));
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(removed, false));
        const UInt32 dead = agentPid();
        QVERIFY(dead != 0);
        QCOMPARE(::kill(pid_t(dead), SIGKILL), 0);
        QElapsedTimer clock;
        clock.start();
        while (QFileInfo::exists(QStringLiteral("/proc/%1").arg(dead)) && clock.elapsed() < 10000)
            QThread::msleep(10);
        // The next process id the kernel hands out is set, then taken by a sleeping program.
        QProcess reuser;
        for (int attempt = 0; attempt < 200 && reuser.processId() != qint64(dead); ++attempt) {
            if (reuser.state() != QProcess::NotRunning) {
                reuser.kill();
                reuser.waitForFinished();
            }
            QVERIFY(TestSupport::writeFile(QStringLiteral("/proc/sys/kernel/ns_last_pid"), QByteArray::number(dead - 1)));
            reuser.start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(reuser.waitForStarted());
        }
        QCOMPARE(reuser.processId(), qint64(dead));
        QCOMPARE(listedPaths(), (QStringList{kept, removed}));
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(removed));
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(removed, true));
        QCOMPARE(listedPaths(), (QStringList{kept, removed}));
        QVERIFY(agentPid() != dead);
        reuser.kill();
        reuser.waitForFinished();
    }

    // Launch Services finds the agent beside the running program, returns the running one
    // instead of starting another, and refuses what it cannot start.
    void launchServices()
    {
        FSRef app;
        QCOMPARE(LSFindApplicationForInfo(FOUR_CHAR_CODE("sevs"), nullptr, nullptr, &app, nullptr), OSStatus(noErr));
        QCOMPARE(QFileInfo(QFile::decodeName(app.path)).absolutePath(),
                 QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath());
        QCOMPARE(LSFindApplicationForInfo(FOUR_CHAR_CODE("zzzz"), nullptr, nullptr, &app, nullptr),
                 OSStatus(kLSApplicationNotFoundErr));

        QCOMPARE(LSFindApplicationForInfo(FOUR_CHAR_CODE("sevs"), nullptr, nullptr, &app, nullptr), OSStatus(noErr));
        LSApplicationParameters params{0, kLSLaunchDefaults, &app, nullptr, nullptr, nullptr, nullptr};
        ProcessSerialNumber first{0, 0}, second{0, 0};
        QCOMPARE(LSOpenApplication(&params, &first), OSStatus(noErr));
        QCOMPARE(first.lowLongOfPSN, agentPid());
        QCOMPARE(LSOpenApplication(&params, &second), OSStatus(noErr));
        QCOMPARE(second.lowLongOfPSN, first.lowLongOfPSN);

        params.version = 1;
        QCOMPARE(LSOpenApplication(&params, &second), OSStatus(paramErr));
        const QString plain = makeFile(QStringLiteral("not-a-program"));
        FSRef plainRef;
        QCOMPARE(FSPathMakeRef(reinterpret_cast<const UInt8 *>(QFile::encodeName(plain).constData()), &plainRef, nullptr),
                 OSStatus(noErr));
        LSApplicationParameters plainParams{0, kLSLaunchDefaults, &plainRef, nullptr, nullptr, nullptr, nullptr};
        QCOMPARE(LSOpenApplication(&plainParams, &second), OSStatus(kLSNoExecutableErr));
    }

    // A login item whose file is gone is still listed, from its path text.
    void itemWhoseFileIsGone()
    {
        const QString path = makeFile(QStringLiteral("gone"));
        QCOMPARE(addURL(QUrl::fromLocalFile(path), true), noErr);
        QVERIFY(QFile::remove(path));
        QList<Listed> items;
        QCOMPARE(copyItems(&items), noErr);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).url, QUrl::fromLocalFile(path));
        QCOMPARE(items.at(0).hidden, true);
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(path), 0);
    }

    // Entries without a readable hidden flag are listed as not hidden; what other programs
    // put into the autostart folder is listed (before this product's items), entries the
    // user switched off included.
    void entriesWithoutHiddenFlag_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("listedPath");
        QTest::newRow("our entry without flag")
            << QByteArray("[Desktop Entry]\nExec=/x\nX-SystemEvents-Path=/opt/a b/app\nX-SystemEvents-Order=7\n")
            << QStringLiteral("/opt/a b/app");
        QTest::newRow("our entry with unreadable flag")
            << QByteArray("[Desktop Entry]\nX-SystemEvents-Path=/opt/app\nX-SystemEvents-Hidden=yes\n")
            << QStringLiteral("/opt/app");
        QTest::newRow("foreign, plain Exec with arguments")
            << QByteArray("# comment\n[Desktop Entry]\nName=Other\nExec=/usr/lib/other/agent --tray %U\n")
            << QStringLiteral("/usr/lib/other/agent");
        QTest::newRow("foreign, quoted Exec with escapes")
            << QByteArray("[Desktop Entry]\nExec=\"/opt/My App/run \\\\$HOME\" -x\n")
            << QStringLiteral("/opt/My App/run $HOME");
        QTest::newRow("foreign, bare command found on PATH")
            << QByteArray("[Desktop Entry]\nExec=sh -c true\n")
            << QFileInfo(QStandardPaths::findExecutable(QStringLiteral("sh"))).canonicalFilePath();
        QTest::newRow("foreign, bare command not on PATH")
            << QByteArray("[Desktop Entry]\nExec=no-such-command-zv --x\n") << QString();
        QTest::newRow("foreign, relative path")
            << QByteArray("[Desktop Entry]\nExec=bin/tool\n") << QString();
        QTest::newRow("foreign, Exec in another group only")
            << QByteArray("[Desktop Entry]\nName=x\n[Desktop Action y]\nExec=/bin/y\n") << QString();
        QTest::newRow("foreign, switched off (Hidden=true)")
            << QByteArray("[Desktop Entry]\nExec=/bin/z\nHidden=true\n") << QStringLiteral("/bin/z");
        QTest::newRow("foreign, switched off (GNOME)")
            << QByteArray("[Desktop Entry]\nExec=/bin/z\nX-GNOME-Autostart-enabled=false\n") << QStringLiteral("/bin/z");
    }
    void entriesWithoutHiddenFlag()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, listedPath);
        writeEntry(QStringLiteral("entry.desktop"), entry);
        const QString mine = makeFile(QStringLiteral("mine"));
        QCOMPARE(addURL(QUrl::fromLocalFile(mine), true), noErr);
        QList<Listed> items;
        QCOMPARE(copyItems(&items), noErr);
        if (listedPath.isNull()) {
            QCOMPARE(items.size(), 1);
        } else {
            QCOMPARE(items.size(), 2);
            QCOMPARE(items.at(0).url.toLocalFile(), listedPath);
            QCOMPARE(items.at(0).hidden, false);
        }
        QCOMPARE(items.last().url, QUrl::fromLocalFile(mine));
        QCOMPARE(items.last().hidden, true);
    }

    // A product item the user switched off in the desktop's settings is listed with its own
    // hidden flag and is removed with its file.
    void switchedOffItemRemoved_data()
    {
        QTest::addColumn<QByteArray>("switchedOff");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("Hidden=true") << QByteArray("Hidden=true\nX-SystemEvents-Hidden=false\n") << false;
        QTest::newRow("GNOME switch") << QByteArray("X-GNOME-Autostart-enabled=false\nX-SystemEvents-Hidden=true\n") << true;
    }
    void switchedOffItemRemoved()
    {
        QFETCH(QByteArray, switchedOff);
        QFETCH(bool, hidden);
        const QString path = makeFile(QStringLiteral("Monitor"));
        writeEntry(QStringLiteral("off.desktop"), "[Desktop Entry]\nExec=/x\nX-SystemEvents-Path=" + path.toUtf8() + "\n" + switchedOff);
        QList<Listed> items;
        QCOMPARE(copyItems(&items), noErr);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).url, QUrl::fromLocalFile(path));
        QCOMPARE(items.at(0).hidden, hidden);
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(path));
        QVERIFY(!QFileInfo::exists(autostart() + QStringLiteral("/off.desktop")));
    }

    // An entry whose path a listing cannot carry is left out of the listing and of the
    // positions removal counts: the product's items around it stay listable and removable.
    void unrepresentableEntryLeftOut_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::newRow("foreign, 512 characters") << "Exec=/" + QByteArray(511, 'x');
        QTest::newRow("foreign, 600 characters") << "Exec=/" + QByteArray(599, 'x');
        QTest::newRow("foreign, NUL in the path") << QByteArray("Exec=/opt/a\0b\n", 15);
        QTest::newRow("foreign, not UTF-8") << QByteArray("Exec=/opt/\xff\xfe");
        QTest::newRow("ours, 512 characters") << "X-SystemEvents-Path=/" + QByteArray(511, 'y');
    }
    void unrepresentableEntryLeftOut()
    {
        QFETCH(QByteArray, entry);
        const QString first = makeFile(QStringLiteral("first")), second = makeFile(QStringLiteral("second"));
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(first, false));
        writeEntry(QStringLiteral("odd.desktop"), "[Desktop Entry]\n" + entry + "\n");
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(second, false));
        QCOMPARE(listedPaths(), (QStringList{first, second}));
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(second), 1);
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(second));
        QVERIFY(LQLoginItemRegistry::removeLoginItemAtIndex(0));
        QCOMPARE(listedPaths(), QStringList());
        QVERIFY(QFileInfo::exists(autostart() + QStringLiteral("/odd.desktop")));
    }

    // The agent itself refuses a path it could not list again, a NUL in it included.
    void addRefusedByAgent_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("NUL in the path") << QStringLiteral("/opt/a") + QChar(0) + QStringLiteral("b");
        QTest::newRow("relative path") << QStringLiteral("opt/a");
        QTest::newRow("512 characters") << QLatin1Char('/') + QString(511, QLatin1Char('z'));
    }
    void addRefusedByAgent()
    {
        QFETCH(QString, path);
        QCOMPARE(listedPaths(), QStringList()); // starts the agent
        const ProcessSerialNumber psn{0, agentPid()};
        AEAddressDesc target{typeNull, nullptr};
        AppleEvent event{typeNull, nullptr}, reply{typeNull, nullptr};
        AERecord properties{typeNull, nullptr};
        const DescType loginItem = FOUR_CHAR_CODE("logi");
        QCOMPARE(AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target), noErr);
        QCOMPARE(AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID, &event), noErr);
        QCOMPARE(AEPutParamPtr(&event, keyAEObjectClass, typeType, &loginItem, sizeof(loginItem)), noErr);
        QCOMPARE(AECreateList(nullptr, 0, true, &properties), noErr);
        QCOMPARE(AEPutParamPtr(&properties, FOUR_CHAR_CODE("ppth"), typeUnicodeText, path.utf16(), Size(path.size()) * 2), noErr);
        QCOMPARE(AEPutParamDesc(&event, keyAEPropData, &properties), noErr);
        const OSStatus sent = AESendMessage(&event, &reply, kAEWaitReply, 300);
        SInt16 number = 0;
        const OSErr read = AEGetParamPtr(&reply, keyErrorNumber, typeSInt16, nullptr, &number, sizeof(number), nullptr);
        for (AEDesc *desc : {&target, &event, &reply, &properties})
            AEDisposeDesc(desc);
        QCOMPARE(sent, noErr);
        QCOMPARE(read, noErr);
        QCOMPARE(OSStatus(number), OSStatus(paramErr));
        QCOMPARE(QDir(autostart()).entryList(QDir::Files), QStringList());
    }

    // A product program that is a link to a shared binary is not the other vendor's item for
    // that binary: looking it up neither finds nor removes that item.
    void linkToSharedBinary()
    {
        const QString shared = makeFile(QStringLiteral("shared-helper"));
        const QString link = m_files + QStringLiteral("/Monitor");
        QVERIFY(QFile::link(shared, link));
        writeEntry(QStringLiteral("other-vendor.desktop"), "[Desktop Entry]\nExec=" + shared.toUtf8() + "\n");
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(link), -1);
        QCOMPARE(LQLoginItemRegistry::removeLoginItemWithPath(link), false);
        QCOMPARE(listedPaths(), QStringList{shared});
        QVERIFY(QFileInfo::exists(autostart() + QStringLiteral("/other-vendor.desktop")));
    }

    // Index 0 is the first item (position 1 of the event); a position past the end is an
    // error of the agent and changes nothing.
    void removeByPosition()
    {
        QStringList paths;
        for (const char *name : {"a", "b", "c"}) {
            paths << makeFile(QLatin1String(name));
            QCOMPARE(addURL(QUrl::fromLocalFile(paths.last()), false), noErr);
        }
        QCOMPARE(LIAERemove(0), noErr);
        QCOMPARE(listedPaths(), paths.mid(1));
        QCOMPARE(LIAERemove(2), OSStatus(errAENoSuchObject));
        QCOMPARE(LQLoginItemRegistry::removeLoginItemAtIndex(2), false);
        QCOMPARE(LQLoginItemRegistry::removeLoginItemAtIndex(-1), false);
        QCOMPARE(listedPaths(), paths.mid(1));
        QCOMPARE(LQLoginItemRegistry::removeLoginItemAtIndex(1), true);
        QCOMPARE(listedPaths(), paths.mid(1, 1));
    }

    // A missing file, or a path the listing could not read back, is refused before anything
    // is sent: the agent is not even started.
    void addRefusedWithoutSending_data()
    {
        QTest::addColumn<int>("pathLength"); // 0: a missing file
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("missing file") << 0 << OSStatus(fnfErr);
        QTest::newRow("UTF-16 form of 1024 bytes") << 512 << OSStatus(coreFoundationUnknownErr);
        QTest::newRow("UTF-8 form of 1024 bytes") << 1024 << OSStatus(pathTooLongErr);
    }
    void addRefusedWithoutSending()
    {
        QFETCH(int, pathLength);
        QFETCH(OSStatus, status);
        const QString path = pathLength == 0 ? m_files + QStringLiteral("/missing")
                                             : pathOfLength(m_files, pathLength, true);
        QVERIFY(pathLength == 0 || QFileInfo::exists(path));
        QCOMPARE(addURL(QUrl::fromLocalFile(path), false), status);
        QCOMPARE(agentPid(), UInt32(0));
        QCOMPARE(LQLoginItemRegistry::addLoginItemWithPathHideIt(path, false), false);
        QCOMPARE(agentPid(), UInt32(0));
        QVERIFY(!QFileInfo::exists(autostart()));
    }

    // The longest path that fits both buffers goes round; one more character does not list.
    void longestPath_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("511 characters") << 511 << OSStatus(noErr);
    }
    void longestPath()
    {
        QFETCH(int, length);
        QFETCH(OSStatus, status);
        const QString path = pathOfLength(m_files, length, length == 511);
        if (length == 511)
            QCOMPARE(addURL(QUrl::fromLocalFile(path), false), noErr);
        else
            writeEntry(QStringLiteral("long.desktop"), "[Desktop Entry]\nExec=" + path.toUtf8() + "\n");
        QList<Listed> items;
        QCOMPARE(copyItems(&items), status);
        if (status == noErr)
            QCOMPARE(items.value(0).url, QUrl::fromLocalFile(path));
    }

    // Two items for one file: the lower index is found and one removal removes only it.
    void twoItemsForOneFile()
    {
        const QString path = makeFile(QStringLiteral("twice"));
        const QString other = makeFile(QStringLiteral("other"));
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(other, false));
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(path, false));
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(path, true));
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(path), 1);
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(path));
        const std::optional<QVariantList> items = LQLoginItemRegistry::allLoginItems();
        QVERIFY(items);
        QCOMPARE(items->size(), 2);
        QCOMPARE(items->at(1).toMap().value(QStringLiteral("Hidden")).toBool(), true);
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(path), 1);
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(m_files + QStringLiteral("/nothing")), -1);
        QCOMPARE(LQLoginItemRegistry::removeLoginItemWithPath(m_files + QStringLiteral("/nothing")), false);
        QCOMPARE(LQLoginItemRegistry::allLoginItems()->size(), 2);
    }

    // A failing listing gives nil, -1 and false, and removes nothing.
    void failingListing_data()
    {
        QTest::addColumn<bool>("autostartIsFile");
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("autostart is a file") << true << OSStatus(dirNFErr);
    }
    void failingListing()
    {
        QFETCH(bool, autostartIsFile);
        QFETCH(OSStatus, status);
        const QString path = makeFile(QStringLiteral("item"));
        if (autostartIsFile) {
            QVERIFY(TestSupport::writeFile(autostart(), "not a folder"));
        } else {
            QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(path, false));
            writeEntry(QStringLiteral("long.desktop"), "[Desktop Entry]\nExec=/" + QByteArray(600, 'x') + "\n");
        }
        const QStringList filesBefore = QDir(autostart()).entryList(QDir::Files);
        CFArrayRef items = nullptr;
        QCOMPARE(LIAECopyLoginItems(&items), status);
        QVERIFY(items == nullptr);
        QVERIFY(!LQLoginItemRegistry::allLoginItems());
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(path), -1);
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithURL(QUrl::fromLocalFile(path)), -1);
        QCOMPARE(LQLoginItemRegistry::removeLoginItemWithPath(path), false);
        QCOMPARE(QDir(autostart()).entryList(QDir::Files), filesBefore);
    }

    // A path and the listing's URL of the same item compare equal, the folder form included.
    void pathAndURLEquality_data()
    {
        QTest::addColumn<QString>("added");     // relative to the files folder
        QTest::addColumn<QString>("lookedUp");  // relative to the files folder
        QTest::addColumn<bool>("folderForm");
        QTest::addColumn<int>("index");
        QTest::newRow("bundle folder") << "Tavrin.app" << "Tavrin.app" << true << 0;
        QTest::newRow("bundle folder, trailing slash") << "Tavrin.app" << "Tavrin.app/" << true << 0;
        QTest::newRow("bundle folder, dotted path") << "Tavrin.app/" << "sub/../Tavrin.app/." << true << 0;
        QTest::newRow("through a symbolic link, another URL") << "Tavrin.app" << "link.app" << true << -1;
        QTest::newRow("plain file") << "Monitor" << "./Monitor" << false << 0;
    }
    void pathAndURLEquality()
    {
        QFETCH(QString, added);
        QFETCH(QString, lookedUp);
        QFETCH(bool, folderForm);
        QFETCH(int, index);
        QVERIFY(QDir(m_files).mkpath(QStringLiteral("Tavrin.app/Contents")));
        QVERIFY(QDir(m_files).mkpath(QStringLiteral("sub")));
        QVERIFY(QFile::link(m_files + QStringLiteral("/Tavrin.app"), m_files + QStringLiteral("/link.app")));
        makeFile(QStringLiteral("Monitor"));
        const QString addedPath = m_files + QLatin1Char('/') + added;
        QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(addedPath, false));
        const std::optional<QVariantList> items = LQLoginItemRegistry::allLoginItems();
        QVERIFY(items && items->size() == 1);
        const QUrl listed = items->at(0).toMap().value(QStringLiteral("URL")).toUrl();
        QCOMPARE(listed.toLocalFile().endsWith(QLatin1Char('/')), folderForm);
        const QString path = m_files + QLatin1Char('/') + lookedUp;
        QCOMPARE(LQLoginItemRegistry::fileURLWithPath(path) == listed, index == 0);
        QCOMPARE(LQLoginItemRegistry::indexForLoginItemWithPath(path), index);
        QCOMPARE(LQLoginItemRegistry::removeLoginItemWithPath(path), index == 0);
        QCOMPARE(LQLoginItemRegistry::allLoginItems()->size(), index == 0 ? 0 : 1);
    }

    // An agent that does not answer ends the call with errAETimeout instead of hanging.
    void agentNotAnswering()
    {
        const QString path = makeFile(QStringLiteral("item"));
        QCOMPARE(addURL(QUrl::fromLocalFile(path), false), noErr);
        const UInt32 pid = agentPid();
        QVERIFY(pid != 0);
        QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
        QElapsedTimer clock;
        clock.start();
        CFArrayRef items = nullptr;
        const OSStatus err = LIAECopyLoginItems(&items);
        qInfo("listing of a stopped agent returned %d after %lld ms", int(err), clock.elapsed());
        ::kill(pid_t(pid), SIGCONT);
        QCOMPARE(err, OSStatus(errAETimeout));
        QVERIFY(items == nullptr);
        // Resumed, the same agent answers again (the late reply to the abandoned call did
        // not end it).
        QCOMPARE(listedPaths(), QStringList{path});
        QCOMPARE(agentPid(), pid);
    }

    // An 'errn' in the reply decides the result; one that cannot be read as a 16-bit
    // integer fails the call with the status of that read.
    void replyErrorNumber_data()
    {
        QTest::addColumn<ErrorReply>("errorReply");
        QTest::addColumn<OSStatus>("status");
        QTest::newRow("16-bit error") << ErrorReply{typeSInt16, bytesOf(SInt16(-1728))} << OSStatus(-1728);
        QTest::newRow("16-bit zero") << ErrorReply{typeSInt16, bytesOf(SInt16(0))} << OSStatus(noErr);
        QTest::newRow("32-bit that fits") << ErrorReply{typeSInt32, bytesOf(SInt32(-50))} << OSStatus(-50);
        QTest::newRow("32-bit that does not fit") << ErrorReply{typeSInt32, bytesOf(SInt32(70000))}
                                                  << OSStatus(errAECoercionFail);
        QTest::newRow("text") << ErrorReply{typeUnicodeText, QByteArray("-\0001\000", 4)} << OSStatus(errAECoercionFail);
        QTest::newRow("wrong size") << ErrorReply{typeSInt16, QByteArray("\x01", 1)} << OSStatus(errAECoercionFail);
    }
    void replyErrorNumber()
    {
        QFETCH(ErrorReply, errorReply);
        QFETCH(OSStatus, status);
        g_errorReply = errorReply;
        FakeSystemEvents fake;
        fake.start();
        fake.ready.acquire();
        QCOMPARE(fake.started.load(), noErr);
        CFArrayRef items = nullptr;
        const OSStatus err = LIAECopyLoginItems(&items);
        fake.quit();
        fake.wait();
        QCOMPARE(err, status);
        QCOMPARE(items != nullptr, status == noErr);
        if (items)
            CFRelease(items);
        QCOMPARE(agentPid(), UInt32(0));
    }

    // Add three, list them in order, remove the middle one: the files on disk follow.
    void roundTrip()
    {
        const QStringList paths{makeFile(QStringLiteral("first")), makeFile(QStringLiteral("sec%ond $x")),
                                makeFile(QStringLiteral("third"))};
        const QList<bool> hidden{false, true, false};
        for (int i = 0; i < 3; ++i)
            QVERIFY(LQLoginItemRegistry::addLoginItemWithPathHideIt(paths.at(i), hidden.at(i)));
        const std::optional<QVariantList> items = LQLoginItemRegistry::allLoginItems();
        QVERIFY(items && items->size() == 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(items->at(i).toMap().value(QStringLiteral("URL")).toUrl(), QUrl::fromLocalFile(paths.at(i)));
            QCOMPARE(items->at(i).toMap().value(QStringLiteral("Hidden")).toBool(), hidden.at(i));
        }
        QVERIFY(LQLoginItemRegistry::removeLoginItemWithPath(paths.at(1)));
        QCOMPARE(listedPaths(), (QStringList{paths.at(0), paths.at(2)}));

        const QStringList files = QDir(autostart()).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QStringList onDisk;
        for (const QString &file : files) {
            const QByteArray text = TestSupport::readFile(autostart() + QLatin1Char('/') + file);
            QVERIFY(text.startsWith("[Desktop Entry]\n"));
            QVERIFY(!text.contains("\nHidden="));
            QVERIFY(text.contains("\nX-SystemEvents-Hidden=false\n"));
            for (const QByteArray &line : text.split('\n'))
                if (line.startsWith("X-SystemEvents-Path="))
                    onDisk << QString::fromUtf8(line.mid(20));
        }
        QCOMPARE(onDisk, (QStringList{paths.at(0), paths.at(2)}));
        // The Exec line starts the item as a desktop would read it.
        const QByteArray exec = TestSupport::readFile(autostart() + QLatin1Char('/') + files.first());
        QVERIFY(exec.contains("\nExec=\"" + paths.at(0).toUtf8() + "\"\n"));
        QCOMPARE(LoginItemStore::programOfExec(LoginItemStore::execForPath(paths.at(1))), paths.at(1));
    }
};

QTEST_GUILESS_MAIN(LoginItemsTests)
#include "tst_LoginItems.moc"
