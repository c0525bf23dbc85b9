// zvtool login-items as a script uses it, against the real System Events agent.
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
    AgentGuard m_guard;

    struct Run {
        int status;
        QByteArray out;
    };
    Run zvtool(const QStringList &args)
    {
        QProcess p;
        p.start(TestSupport::binaryDir() + QStringLiteral("/bin/zvtool"), args);
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

    void addListRemoveQuit_data()
    {
        QTest::addColumn<QString>("folders");
        QTest::newRow("usual folders") << QStringLiteral("usual");
        // A runtime folder this deep leaves no room for the agent's socket in a socket
        // address (107 bytes); the agent must still be reachable.
        QTest::newRow("deep runtime folder") << QStringLiteral("deep/") + QString(100, QLatin1Char('d'));
    }
    void addListRemoveQuit()
    {
        QFETCH(QString, folders);
        QVERIFY(stopAgent()); // the one of an earlier row, which serves other folders
        const QString root = m_root.path() + QLatin1Char('/') + folders;
        useFoldersIn(root);
        QCOMPARE(agentPid(), UInt32(0));
        if (folders.startsWith(QLatin1String("deep")))
            QVERIFY(ProcessRegistrySocketPath(::getpid(), FOUR_CHAR_CODE("sevs")).toUtf8().size() > 107);

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
    }
};

QTEST_GUILESS_MAIN(LoginItemsZvtoolTests)
#include "tst_LoginItemsZvtool.moc"
