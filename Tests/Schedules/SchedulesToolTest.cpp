// zvtool schedules show and reset, run as a real process on real files.
#include "NSArray_Extensions.h"
#include "SchedulesTestSupport.h"
#include "TavrinScheduleItem.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using namespace SchedulesTestSupport;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run zvtool(const QStringList &args)
{
    QProcess p;
    p.start(qEnvironmentVariable("ZVTOOL", QStringLiteral("zvtool")), args);
    Run r;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QList<QByteArray> lines(const QByteArray &out)
{
    QList<QByteArray> l = out.split('\n');
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

// The keys of one JSON object line, in the order printed.
QStringList keysInOrder(const QByteArray &line)
{
    static const QRegularExpression key(QStringLiteral("[{,]\"([A-Za-z]+)\":"));
    QStringList keys;
    for (auto it = key.globalMatch(QString::fromUtf8(line)); it.hasNext();)
        keys.append(it.next().captured(1));
    return keys;
}

const QStringList kTexts{"statusString", "frequencyString", "scheduleTypeString", "scheduledDays", "scheduleTimeString"};

} // namespace

class SchedulesToolTest : public QObject {
    Q_OBJECT

private slots:
    void showMacLaidOutFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(makeAppleSchedules(path));
        const Run r = zvtool({QStringLiteral("schedules"), QStringLiteral("show"), path});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        const QList<QByteArray> l = lines(r.out);
        QCOMPARE(l.size(), 4);

        QCOMPARE(keysInOrder(l.at(0)),
                 QStringList({"class", "scheduleType", "scheduleTime", "frequency", "status", "destination", "username",
                              "emailids", "displayDesktopNotification", "sendEmailNotification", "userAtServer",
                              "serverName", "password", "processReferenceFile", "isUseSSL", "scheduleTimeSettings",
                              "selectedDaysForSchedule", "quotaServerName"}) + kTexts);
        QCOMPARE(keysInOrder(l.at(1)),
                 QStringList({"class", "scheduleType", "scheduleTime", "frequency", "status", "destination", "username",
                              "tavrinUserName", "emailids", "displayDesktopNotification",
                              "shouldStartMissedScheduleBackup", "sendEmailNotification", "userAtServer", "serverName",
                              "quotaServerName", "password", "processReferenceFile", "isUseSSL",
                              "scheduleTimeSettings", "selectedDaysForSchedule", "sendLogExtract", "notifyOnFailure",
                              "isAutoSyncEnabled"}) + kTexts);

        const QJsonObject z = QJsonDocument::fromJson(l.at(0)).object();
        QCOMPARE(z.value("class").toString(), QStringLiteral("ZVScheduleItem"));
        QCOMPARE(z.value("scheduleTime").toString(), QStringLiteral("2011-05-02 10:00:00 +0200"));
        QCOMPARE(z.value("selectedDaysForSchedule").toArray(), (QJsonArray{1, 3}));
        QCOMPARE(z.value("isUseSSL"), QJsonValue(true));
        QCOMPARE(z.value("scheduleTimeSettings"), QJsonValue(7));
        QCOMPARE(z.value("statusString").toString(), QStringLiteral("Completed"));
        QCOMPARE(z.value("scheduledDays").toString(), QStringLiteral("Monday,Wednesday"));
        QCOMPARE(z.value("scheduleTimeString").toString(), QStringLiteral("Mon May 02 2011 10:00:00 AM"));
        const QJsonObject t = QJsonDocument::fromJson(l.at(1)).object();
        QVERIFY(t.value("emailids").isNull());
        QCOMPARE(t.value("selectedDaysForSchedule").toArray(), (QJsonArray{6, 0})); // stored as texts
        QCOMPARE(t.value("statusString").toString(), QStringLiteral("In progress"));
        const QJsonObject z2 = QJsonDocument::fromJson(l.at(2)).object();
        QVERIFY(z2.value("username").isNull());
        QVERIFY(z2.value("selectedDaysForSchedule").isNull());
        QCOMPARE(z2.value("frequencyString").toString(), QStringLiteral("Once"));
        QCOMPARE(z2.value("scheduleTypeString").toString(), QStringLiteral("Backup"));
    }

    // The uninstall's reset on a file as the product leaves it.
    void resetSampleProductFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("SchedulerSettings.plist"));
        QVariantList list;
        const qint32 statuses[] = {1, 0, 1, 2, 3, 1};
        for (int i = 0; i < 6; ++i) {
            NSObjectPtr r;
            if (i % 2) {
                auto t = std::make_shared<TavrinScheduleItem>();
                t->setStatus(statuses[i]);
                t->setUsername(QStringLiteral("user%1").arg(i));
                r = t;
            } else {
                auto z = std::make_shared<ZVScheduleItem>();
                z->setStatus(statuses[i]);
                z->setUsername(QStringLiteral("user%1").arg(i));
                r = z;
            }
            list.append(QVariant::fromValue(r));
        }
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(list, path, QStringLiteral("Schedules")));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0600) == 0);
        const Run before = zvtool({QStringLiteral("schedules"), QStringLiteral("show"), path});
        QCOMPARE(before.exitCode, 0);

        const Run reset = zvtool({QStringLiteral("schedules"), QStringLiteral("reset"), path});
        QCOMPARE(reset.exitCode, 0);
        QCOMPARE(reset.out, QByteArray("3\n"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0777));

        const Run after = zvtool({QStringLiteral("schedules"), QStringLiteral("show"), path});
        const QList<QByteArray> b = lines(before.out), a = lines(after.out);
        QCOMPARE(a.size(), 6);
        const int expected[] = {0, 0, 0, 2, 3, 0};
        for (int i = 0; i < 6; ++i) {
            QJsonObject was = QJsonDocument::fromJson(b.at(i)).object();
            QJsonObject now = QJsonDocument::fromJson(a.at(i)).object();
            QCOMPARE(now.value("status").toInt(), expected[i]);
            // Nothing else changed.
            for (const char *k : {"status", "statusString"}) {
                was.remove(QLatin1String(k));
                now.remove(QLatin1String(k));
            }
            QCOMPARE(now, was);
        }
        // Nothing left in progress: a second reset changes nothing.
        QCOMPARE(zvtool({QStringLiteral("schedules"), QStringLiteral("reset"), path}).out, QByteArray("0\n"));
    }

    void otherKeys()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        auto z = std::make_shared<ZVScheduleItem>();
        z->setStatus(1);
        QVERIFY(MyExtensions::writeToArchivedFileWithKey({QVariant::fromValue(NSObjectPtr(z))}, path, QStringLiteral("Other")));
        Run r = zvtool({QStringLiteral("schedules"), QStringLiteral("show"), path});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.isEmpty()); // no "Schedules": an empty list
        r = zvtool({QStringLiteral("schedules"), QStringLiteral("show"), path, QStringLiteral("--key"), QStringLiteral("Other")});
        QCOMPARE(lines(r.out).size(), 1);
        r = zvtool({QStringLiteral("schedules"), QStringLiteral("reset"), QStringLiteral("--key"), QStringLiteral("Other"), path});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("1\n"));
    }

    void unreadableFiles_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("variant"); // empty: no file at all
        for (const char *action : {"show", "reset"}) {
            QTest::addRow("%s missing", action) << action << QString();
            QTest::addRow("%s cycle", action) << action << "cycle";
            QTest::addRow("%s unknown class", action) << action << "unknown-class";
        }
    }
    void unreadableFiles()
    {
        QFETCH(QString, action);
        QFETCH(QString, variant);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        if (!variant.isEmpty())
            QVERIFY(makeAppleSchedules(path, variant));
        const QByteArray before = TestSupport::readFile(path);
        const Run r = zvtool({QStringLiteral("schedules"), action, path});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QCOMPARE(lines(r.err).size(), 1);
        QCOMPARE(TestSupport::readFile(path), before); // reset left the file alone
        QCOMPARE(QFileInfo::exists(path), !variant.isEmpty());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList{"schedules"};
        QTest::newRow("no file") << QStringList{"schedules", "show"};
        QTest::newRow("unknown action") << QStringList{"schedules", "list", "f"};
        QTest::newRow("key without value") << QStringList{"schedules", "show", "f", "--key"};
        QTest::newRow("two files") << QStringList{"schedules", "show", "f", "g"};
        QTest::newRow("unknown option") << QStringList{"schedules", "show", "f", "--all"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        const Run r = zvtool(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.startsWith("zvtool: "));
    }
};

QTEST_GUILESS_MAIN(SchedulesToolTest)
#include "SchedulesToolTest.moc"
