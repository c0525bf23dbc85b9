// Finding real processes by name: one and two instances, none, the grep pipeline's own lines,
// the 27-character cut of the three-column listing, and the running applications.
#include "NSWorkspace+ZVXExtension.h"
#include "ProcessFixture.h"
#include "ZVAuthentication.h"

#include <QTemporaryDir>
#include <QtTest>

class ProcessesDiscoveryTest : public QObject {
    Q_OBJECT
private slots:
    void discovery_data();
    void discovery();
    void nothingRunning();
    void commandColumnCut_data();
    void commandColumnCut();
    void launchedApplications();
};

void ProcessesDiscoveryTest::discovery_data()
{
    QTest::addColumn<QString>("pathPrefix");
    QTest::addColumn<int>("instances");
    QTest::newRow("one, bare name") << "" << 1;
    QTest::newRow("two, bare name") << "" << 2;
    QTest::newRow("one, short path") << "/opt/zv/" << 1;
    QTest::newRow("three, short path") << "/opt/zv/" << 3;
}

// Every instance is found by both owners in listing (process id) order, a look-alike whose
// name is one character shorter is not, and getPID gives the first instance.
void ProcessesDiscoveryTest::discovery()
{
    QFETCH(QString, pathPrefix);
    QFETCH(int, instances);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral("Daemon"));
    const QString lookAlike = name.chopped(1);

    QVERIFY(processes.start(pathPrefix + lookAlike) > 0);
    QList<qint32> started;
    for (int i = 0; i < instances; ++i) {
        const pid_t pid = processes.start(pathPrefix + name);
        QVERIFY(pid > 0);
        started.append(pid);
    }
    QList<qint32> expected = started;
    std::sort(expected.begin(), expected.end());

    ZVAuthentication authentication;
    QCOMPARE(authentication.getAllProcessIDsWithName(name), expected);
    QCOMPARE(ZVXExtension::getAllProcessIDsWithName(NSWorkspace::sharedWorkspace(), name), expected);
    QCOMPARE(authentication.getPID(name), expected.first());
}

// With nothing running under the name, the listings hold only the pipeline's own lines.
void ProcessesDiscoveryTest::nothingRunning()
{
    const QString name = ProcessFixture::uniqueName(QStringLiteral("Absent"));
    ZVAuthentication authentication;
    QCOMPARE(authentication.getAllProcessIDsWithName(name), QList<qint32>{});
    QCOMPARE(ZVXExtension::getAllProcessIDsWithName(NSWorkspace::sharedWorkspace(), name),
             QList<qint32>{});
    QCOMPARE(authentication.getPID(name), 0);
}

void ProcessesDiscoveryTest::commandColumnCut_data()
{
    QTest::addColumn<int>("nameEnd");
    QTest::addColumn<bool>("listed");
    QTest::newRow("name ends at column 26") << 26 << true;
    QTest::newRow("name ends at column 27") << 27 << true;
    QTest::newRow("name ends at column 28") << 28 << false;
    QTest::newRow("name starts beyond column 27") << 60 << false;
}

// procps cuts the non-last command column of the three-column listing at 27 characters: a
// name reaching beyond is missed there, while getPID's two-column listing still finds it.
void ProcessesDiscoveryTest::commandColumnCut()
{
    QFETCH(int, nameEnd);
    QFETCH(bool, listed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral("Tool"));
    const int folderLength = nameEnd - int(name.size()) - 2;
    QVERIFY2(folderLength >= 1, "name too long for this row");
    const QString argv0 = QLatin1Char('/') + QString(folderLength, QLatin1Char('d')) + QLatin1Char('/') + name;
    QCOMPARE(argv0.size(), nameEnd);
    const pid_t pid = processes.start(argv0);
    QVERIFY(pid > 0);

    ZVAuthentication authentication;
    const QList<qint32> expected = listed ? QList<qint32>{pid} : QList<qint32>{};
    QCOMPARE(authentication.getAllProcessIDsWithName(name), expected);
    QCOMPARE(ZVXExtension::getAllProcessIDsWithName(NSWorkspace::sharedWorkspace(), name), expected);
    QCOMPARE(authentication.getPID(name), pid);
}

// A running program is an application under its argv[0]'s file name, blanks included, and
// only the whole name matches.
void ProcessesDiscoveryTest::launchedApplications()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ProcessFixture processes(dir.path());
    const QString name = ProcessFixture::uniqueName(QStringLiteral(" Backup Monitor"));
    const pid_t pid = processes.start(QStringLiteral("/opt/zv/") + name);
    QVERIFY(pid > 0);

    bool listed = false;
    for (const QVariant &entry : NSWorkspace::sharedWorkspace().launchedApplications()) {
        const QVariantMap application = entry.toMap();
        if (application.value(QStringLiteral("NSApplicationProcessIdentifier")).toInt() == pid) {
            QCOMPARE(application.value(QStringLiteral("NSApplicationName")).toString(), name);
            QCOMPARE(application.value(QStringLiteral("NSApplicationPath")).toString(),
                     dir.path() + QLatin1Char('/') + name);
            listed = true;
        }
    }
    QVERIFY(listed);

    ZVAuthentication authentication;
    QVERIFY(authentication.isApplicationLaunched(name));
    QVERIFY(!authentication.isApplicationLaunched(name.chopped(1)));
    QVERIFY(!authentication.isApplicationLaunched(name + QLatin1Char('X')));
    QVERIFY(!authentication.isApplicationLaunched(QStringLiteral("/opt/zv/") + name));
    QVERIFY(!authentication.isApplicationLaunched(QString()));

    processes.stopAll();
    QVERIFY(!authentication.isApplicationLaunched(name));
}

QTEST_GUILESS_MAIN(ProcessesDiscoveryTest)
#include "DiscoveryTest.moc"
