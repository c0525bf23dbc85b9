// zvtool login-items as a script uses it, against the real System Events agent on a private
// session bus.
#include "LoginItemsTestAgent.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace LoginItemsTestAgent;

class LoginItemsZvtoolTests : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    PrivateBus m_bus;
    AgentGuard m_guard;

    struct Run {
        int status;
        QByteArray out;
    };
    // zvtool with ARGS; as user nobody when ASNOBODY; on BUS when given.
    Run zvtool(const QStringList &args, bool asNobody = false, const QString &bus = QString())
    {
        QProcess p;
        if (!bus.isNull()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
            p.setProcessEnvironment(env);
        }
        const QString program = TestSupport::binaryDir() + QStringLiteral("/bin/zvtool");
        if (asNobody)
            p.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                           QStringLiteral("--clear-groups"), program} + args);
        else
            p.start(program, args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return {-1, {}};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput()};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        useFoldersIn(m_root.path());
        QVERIFY(m_bus.start());
        m_bus.useAsSessionBus();
        QCOMPARE(agentPid(), UInt32(0));
    }
    void cleanupTestCase() { QVERIFY(stopAgent()); }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no action") << QStringList{QStringLiteral("login-items")};
        QTest::newRow("unknown action") << QStringList{QStringLiteral("login-items"), QStringLiteral("purge")};
        QTest::newRow("add without path") << QStringList{QStringLiteral("login-items"), QStringLiteral("add")};
        QTest::newRow("add two paths")
            << QStringList{QStringLiteral("login-items"), QStringLiteral("add"), QStringLiteral("/a"), QStringLiteral("/b")};
        QTest::newRow("remove without path") << QStringList{QStringLiteral("login-items"), QStringLiteral("remove")};
        QTest::newRow("list with argument") << QStringList{QStringLiteral("login-items"), QStringLiteral("list"), QStringLiteral("x")};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QCOMPARE(zvtool(args).status, 2);
    }

    void addListRemoveQuit()
    {
        const QString root = m_root.path();
        QCOMPARE(agentPid(), UInt32(0));

        const QString files = root + QStringLiteral("/files");
        const QString app = files + QStringLiteral("/Pelloma.app");
        const QString monitor = files + QStringLiteral("/Pelloma \"Monitor\"");
        QVERIFY(QDir().mkpath(app));
        QVERIFY(TestSupport::writeFile(monitor, "x"));

        Run r = zvtool({QStringLiteral("login-items"), QStringLiteral("list")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("add"), app}).status, 0);
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("add"), QStringLiteral("--hidden"), monitor}).status, 0);
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("add"), files + QStringLiteral("/missing")}).status, 1);

        r = zvtool({QStringLiteral("login-items"), QStringLiteral("list")});
        QCOMPARE(r.status, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(lines.at(0)).object(),
                 (QJsonObject{{QStringLiteral("path"), app}, {QStringLiteral("hidden"), false}}));
        QCOMPARE(QJsonDocument::fromJson(lines.at(1)).object(),
                 (QJsonObject{{QStringLiteral("path"), monitor}, {QStringLiteral("hidden"), true}}));

        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("remove"), app + QLatin1Char('/')}).status, 0);
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("remove"), app}).status, 1);
        r = zvtool({QStringLiteral("login-items"), QStringLiteral("list")});
        QCOMPARE(r.out.count('\n'), 1);

        QVERIFY(agentPid() != 0);
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("quit-agent")}).status, 0);
        QCOMPARE(agentPid(), UInt32(0));
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("quit-agent")}).status, 0);
        // The items outlive the agent.
        r = zvtool({QStringLiteral("login-items"), QStringLiteral("list")});
        QCOMPARE(r.status, 0);
        QCOMPARE(QJsonDocument::fromJson(r.out.trimmed()).object().value(QStringLiteral("path")).toString(), monitor);
        QVERIFY(stopAgent());
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
        if (openBus)
            QVERIFY(open.start(true));
        const QString bus = openBus ? open.address : m_bus.address;
        const QString item = m_root.path() + QStringLiteral("/files/Private");
        QVERIFY(TestSupport::writeFile(item, "x"));
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("add"), item}, false, bus).status, 0);
        QCOMPARE(zvtool({QStringLiteral("login-items")}, true, bus).status, 2); // nobody runs zvtool
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("list")}, true, bus).status, 1);
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("remove"), item}, true, bus).status, 1);
        const Run mine = zvtool({QStringLiteral("login-items"), QStringLiteral("list")}, false, bus);
        QCOMPARE(mine.status, 0);
        QVERIFY(mine.out.contains(item.toUtf8()));
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("remove"), item}, false, bus).status, 0);
        QCOMPARE(zvtool({QStringLiteral("login-items"), QStringLiteral("quit-agent")}, false, bus).status, 0);
    }
};

QTEST_GUILESS_MAIN(LoginItemsZvtoolTests)
#include "tst_LoginItemsZvtool.moc"
