// zvtool schedules show and reset, run on Mac-laid-out files, on files written here (every
// field of both record kinds through the writer and the reader) and on damaged ones.
#include "NSArray_Extensions.h"
#include "TavrinScheduleItem.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace TestSupport;

namespace {

const QString kFixtures = qEnvironmentVariable("SCHEDULES_FIXTURES");
// What show prints for the Mac-laid-out "good" file, and for the records written here.
const QString kGood = QString::fromUtf8(readFile(kFixtures + QStringLiteral("/good.shown")));
const QString kWritten = QString::fromUtf8(readFile(kFixtures + QStringLiteral("/written.shown")));

} // namespace

class SchedulesToolTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString file(const QString &variant) const { return m_dir.filePath(variant + QStringLiteral(".plist")); }

private slots:
    void initTestCase()
    {
        QCOMPARE(runProgram(QStringLiteral("python3"), {kFixtures + "/mac_archives.py", "make", m_dir.path()}).exitCode, 0);
    }

    // The good file's output with CHANGES ("from=>to", every occurrence) for a value of an
    // unexpected kind: it reads as its key's missing value, the rest as written.
    void showMacLaidOutFile_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("binary") << "good" << QStringList();
        QTest::newRow("date with a calendar format of its own") << "own-format-date" << QStringList();
        QTest::newRow("text where an integer belongs") << "wrong-kind-int"
            << QStringList{"\"status\":3,=>\"status\":0,", "\"Completed\"=>\"\""};
        QTest::newRow("text where a flag belongs") << "wrong-kind-flag"
            << QStringList{"\"shouldStartMissedScheduleBackup\":true=>\"shouldStartMissedScheduleBackup\":false"};
        QTest::newRow("number where a text belongs") << "wrong-kind-text" << QStringList{"\"My Tavrin\"=>null"};
        QTest::newRow("text where a day list belongs") << "wrong-kind-days"
            << QStringList{"[1,3]=>null", "Monday,Wednesday\"=>Monday,Tuesday,Wednesday,Thursday,Friday\""};
        QTest::newRow("date, text, list and real in a day list") << "odd-day-elements"
            << QStringList{"[1,3]=>[0,3,0,4,2]", "Monday,Wednesday\"=>Sunday,Wednesday,Sunday,Thursday,Tuesday\""};
        QTest::newRow("text where a date belongs") << "date-as-text"
            << QStringList{"\"2026-12-04 17:07:09 -0500\"=>null", "\"Fri Dec 04 2026 05:07:09 PM\"=>null"};
    }
    void showMacLaidOutFile()
    {
        QFETCH(QString, variant);
        QFETCH(QStringList, changes);
        QString expected = kGood;
        for (const QString &c : changes) {
            const QStringList fromTo = c.split(QStringLiteral("=>"));
            QVERIFY2(expected.contains(fromTo.at(0)), qPrintable(c));
            expected.replace(fromTo.at(0), fromTo.at(1));
        }
        const Run r = zvtool({"schedules", "show", file(variant)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(QString::fromUtf8(r.out), expected);
    }

    // Records of both kinds written here (a ZVScheduleItem, a TavrinScheduleItem, no record), shown.
    void writtenRecordsShown()
    {
        const QString path = m_dir.filePath(QStringLiteral("written.plist"));
        auto a = std::make_shared<ZVScheduleItem>();
        a->setScheduleTime(NSCalendarDate(326016000.9, QTimeZone("Europe/Berlin")));
        a->setFrequency(5);
        a->setSelectedDaysForSchedule(QVariantList{1, QStringLiteral("3")});
        a->setSSL(QStringLiteral("YES"));
        a->setEmailids(QString());
        a->setScheduleTimeSettings(-4);
        a->setStatus(1);
        auto b = std::make_shared<TavrinScheduleItem>();
        b->setScheduleTime(std::nullopt);
        b->setSelectedDaysForSchedule(nullptr);
        b->setStatus(2);
        b->setTavrinUserName(QStringLiteral("tv \u00e9"));
        b->setShouldStartMissedScheduleBackup(true);
        b->setNotifyOnFailure(true);
        b->setIsAutoSyncEnabled(true);
        b->setDisplayDesktopNotification(true);
        b->setPassword(QStringLiteral("p"));
        QVERIFY(MyExtensions::writeToArchivedFileWithKey({QVariant::fromValue(NSObjectPtr(a)), QVariant::fromValue(NSObjectPtr(b)), 7},
                                                         path, QStringLiteral("Other")));
        QCOMPARE(QString::fromUtf8(zvtool({"schedules", "show", path, "--key", "Other"}).out), kWritten);
    }

    // The uninstall's reset: every record in progress becomes none, the rest stays; mode 0777.
    void reset()
    {
        const QString path = m_dir.filePath(QStringLiteral("reset.plist"));
        QVERIFY(QFile::copy(file("good"), path) && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        const Run r = zvtool({"schedules", "reset", path});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("2\n"));
        QCOMPARE(QFileInfo(path).permissions(), QFileDevice::Permissions(0x7777));
        QCOMPARE(QString::fromUtf8(zvtool({"schedules", "show", path}).out),
                 QString(kGood).replace("\"status\":1,", "\"status\":0,").replace("\"In progress\"", "\"\"")
                     .replace("\"InProgress\"", "\"\""));
        QCOMPARE(zvtool({"schedules", "reset", path}).out, QByteArray("0\n")); // nothing left in progress
    }

    // FILE in ARGS stands for the file of VARIANT; a file that cannot be read is left alone.
    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("variant");
        QTest::addColumn<int>("exitCode");
        for (const char *action : {"show", "reset"})
            for (const char *variant : {"missing", "cycle", "root-not-list"})
                QTest::addRow("%s %s", action, variant) << QStringList{"schedules", action, "FILE"} << variant << 1;
        QTest::newRow("no action") << QStringList{"schedules"} << "" << 2;
        QTest::newRow("no file") << QStringList{"schedules", "show", "--key", "Other"} << "" << 2;
        QTest::newRow("unknown action") << QStringList{"schedules", "list", "f"} << "" << 2;
        QTest::newRow("key without value") << QStringList{"schedules", "show", "f", "--key"} << "" << 2;
        QTest::newRow("two files") << QStringList{"schedules", "show", "f", "g"} << "" << 2;
        QTest::newRow("unknown option") << QStringList{"schedules", "show", "f", "--all"} << "" << 2;
    }
    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, variant);
        QFETCH(int, exitCode);
        const QString path = file(variant);
        args.replaceInStrings(QStringLiteral("FILE"), path);
        const QByteArray before = readFile(path);
        const Run r = zvtool(args);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(r.err.startsWith("zvtool: ") && r.err.indexOf('\n') == r.err.size() - 1);
        if (exitCode == 1)
            QCOMPARE(r.err, "zvtool: " + QFile::encodeName(path) + ": not a readable schedule list\n");
        QCOMPARE(readFile(path), before);
        QCOMPARE(QFileInfo::exists(path), variant != "missing" && !variant.isEmpty());
    }
};

QTEST_GUILESS_MAIN(SchedulesToolTest)
#include "SchedulesToolTest.moc"
