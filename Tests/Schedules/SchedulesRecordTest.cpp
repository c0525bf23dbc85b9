// The calendar date and the schedule records of both brands: defaults, display texts,
// equality, copies, day lists, the list file round trip and Mac-laid-out schedule files.
#include "NSArray_Extensions.h"
#include "NSBundle_p.h"
#include "NSCalendarDate.h"
#include "NSKeyedArchiver.h"
#include "PropertyList_p.h"
#include "SchedulesTestSupport.h"
#include "TavrinScheduleItem.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace SchedulesTestSupport;

namespace {

// 2011-05-02 08:00:00 UTC as seconds since 2001.
constexpr double k20110502 = 1304323200.0 - 978307200.0;

QVariant obj(const NSObjectPtr &p) { return QVariant::fromValue(p); }

template <typename T>
std::shared_ptr<T> record(const QVariant &v) { return std::dynamic_pointer_cast<T>(objectFromVariant(v)); }

// The list read from a Mac-laid-out schedule file of VARIANT; none when it cannot be made or read.
std::optional<QVariantList> readAppleSchedules(const QString &variant)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.plist"));
    if (!makeAppleSchedules(path, variant))
        return std::nullopt;
    return MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
}

// A record archived with only some of its keys, under the class name of a schedule record.
class PartialRecord : public NSObject {
public:
    explicit PartialRecord(const QString &name) : m_name(name) {}
    QString className() const override { return m_name; }
    void encodeWithCoder(NSKeyedArchiver &coder) const override
    {
        coder.encodeIntForKey(1, QStringLiteral("scheduleType"));
        coder.encodeIntForKey(1, QStringLiteral("status"));
        coder.encodeObjectForKey(QStringLiteral("Dest"), QStringLiteral("destination"));
    }
private:
    QString m_name;
};

} // namespace

class SchedulesRecordTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;
    QString m_schedulesFile;

private slots:
    void initTestCase()
    {
        // The configuration table of this process: brand Tavrin, the list file in a temp folder.
        QVERIFY(m_config.isValid());
        m_schedulesFile = m_config.filePath(QStringLiteral("schedules.plist"));
        QVERIFY(PropertyList::writeFile(QVariantMap{{"ApplicationName", QStringLiteral("Tavrin for Mac")},
                                                    {"SchedulerSettingsFile", m_schedulesFile}},
                                        m_config.filePath(QStringLiteral("Localizable.plist")),
                                        PropertyList::Format::XML, false));
        NSBundle::mainBundle().setResourcePath(m_config.path());
        // Texts must stay English whatever the locale.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    // ---- the calendar date ----

    void dateDescription_data()
    {
        QTest::addColumn<double>("time");
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("display");
        QTest::newRow("Berlin summer") << k20110502 << QTimeZone("Europe/Berlin") << "2011-05-02 10:00:00 +0200" << "Mon May 02 2011 10:00:00 AM";
        QTest::newRow("Berlin winter") << k20110502 + 200 * 86400.0 << QTimeZone("Europe/Berlin") << "2011-11-18 09:00:00 +0100" << "Fri Nov 18 2011 09:00:00 AM";
        QTest::newRow("New York, fraction dropped") << 786560829.999 << QTimeZone("America/New_York") << "2025-12-04 12:07:09 -0500" << "Thu Dec 04 2025 12:07:09 PM";
        QTest::newRow("Kolkata") << k20110502 << QTimeZone("Asia/Kolkata") << "2011-05-02 13:30:00 +0530" << "Mon May 02 2011 01:30:00 PM";
        QTest::newRow("midnight is 12 AM") << k20110502 - 8 * 3600.0 + 30 << QTimeZone::utc() << "2011-05-02 00:00:30 +0000" << "Mon May 02 2011 12:00:30 AM";
        QTest::newRow("before 2001, floored") << -0.25 << QTimeZone::utc() << "2000-12-31 23:59:59 +0000" << "Sun Dec 31 2000 11:59:59 PM";
        QTest::newRow("fixed negative offset") << k20110502 << QTimeZone(-9000) << "2011-05-02 05:30:00 -0230" << "Mon May 02 2011 05:30:00 AM";
    }
    void dateDescription()
    {
        QFETCH(double, time);
        QFETCH(QTimeZone, zone);
        QFETCH(QString, description);
        QFETCH(QString, display);
        const NSCalendarDate date(time, zone);
        QCOMPARE(date.description(), description);
        QCOMPARE(date.descriptionWithCalendarFormat(QStringLiteral("%a %b %d %Y %I:%M:%S %p")), display);
        // Parsed back: the same whole second, the offset of the text as its zone.
        const auto parsed = NSCalendarDate::initWithString(description);
        QVERIFY(parsed);
        QCOMPARE(parsed->timeIntervalSinceReferenceDate(), std::floor(time));
        QCOMPARE(parsed->description(), description);
        QCOMPARE(parsed->timeZone().offsetFromUtc(parsed->dateTime()), zone.offsetFromUtc(date.dateTime()));
    }

    void dateParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("parses");
        QTest::newRow("plain") << "2011-05-02 10:00:00 +0200" << true;
        QTest::newRow("blanks around") << "  2011-05-02 10:00:00 -0000 " << true;
        QTest::newRow("ISO T") << "2011-05-02T10:00:00 +0200" << false;
        QTest::newRow("no offset") << "2011-05-02 10:00:00" << false;
        QTest::newRow("offset with colon") << "2011-05-02 10:00:00 +02:00" << false;
        QTest::newRow("February 30") << "2011-02-30 10:00:00 +0200" << false;
        QTest::newRow("hour 24") << "2011-05-02 24:00:00 +0000" << false;
        QTest::newRow("offset minutes 60") << "2011-05-02 10:00:00 +0160" << false;
        QTest::newRow("offset 19 h") << "2011-05-02 10:00:00 +1900" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("German text") << "Mo. Mai 02 2011" << false;
    }
    void dateParsing()
    {
        QFETCH(QString, text);
        QFETCH(bool, parses);
        QCOMPARE(NSCalendarDate::initWithString(text).has_value(), parses);
    }

    void dateDifferenceAndNow()
    {
        const NSCalendarDate a(100.75, QTimeZone::utc()), b(40.25, QTimeZone("Asia/Tokyo"));
        QCOMPARE(a.timeIntervalSinceDate(b), 60.5);
        QCOMPARE(b.timeIntervalSinceDate(a), -60.5);
        const NSCalendarDate now = NSCalendarDate::calendarDate();
        const double expected = QDateTime::currentMSecsSinceEpoch() / 1000.0 - 978307200.0;
        QVERIFY(std::fabs(now.timeIntervalSinceReferenceDate() - expected) < 5.0);
        QCOMPARE(now.timeZone(), QTimeZone::systemTimeZone());
    }

    // ---- records ----

    void newRecords()
    {
        const ZVScheduleItem z;
        QCOMPARE(z.scheduleType(), 0);
        QVERIFY(z.scheduleTime());
        QVERIFY(std::fabs(z.scheduleTime()->timeIntervalSinceDate(NSCalendarDate::calendarDate())) < 5);
        QCOMPARE(z.frequency(), 2);
        QCOMPARE(z.destination(), QStringLiteral("MyPelloma"));
        QCOMPARE(z.username(), QStringLiteral("None"));
        for (const QString &t : {z.userAtServer(), z.serverName(), z.password(), z.processReferenceFile(), z.emailids(), z.quotaServername()}) {
            QVERIFY(!t.isNull());
            QVERIFY(t.isEmpty());
        }
        QVERIFY(!z.isUseSSL() && !z.isBackupNow() && !z.displayDesktopNotification() && !z.sendEmailNotification());
        QCOMPARE(z.selectedDaysForSchedule(), std::optional<QVariantList>(QVariantList()));
        QCOMPARE(z.statusString(), QStringLiteral(""));
        QCOMPARE(z.frequencyString(), QStringLiteral("Daily"));
        QCOMPARE(z.scheduledDays(), QStringLiteral("Daily"));
        QCOMPARE(z.scheduleTypeString(), QStringLiteral("Backup"));

        const TavrinScheduleItem t;
        QCOMPARE(t.destination(), QStringLiteral("My Tavrin"));
        QCOMPARE(t.tavrinUserName(), QStringLiteral("None"));
        QCOMPARE(t.username(), QStringLiteral("None"));
        QVERIFY(!t.shouldStartMissedScheduleBackup() && !t.sendLogExtract() && !t.notifyOnFailure() && !t.isAutoSyncEnabled());
        QVERIFY(t.selectedDaysForSchedule() && t.selectedDaysForSchedule()->isEmpty());
        QVERIFY(t.selectedDaysForSchedule() != TavrinScheduleItem().selectedDaysForSchedule()); // a list of its own
    }

    void displayTexts_data()
    {
        QTest::addColumn<qint32>("status");
        QTest::addColumn<qint32>("frequency");
        QTest::addColumn<QVariantList>("days");
        QTest::addColumn<qint32>("type");
        QTest::addColumn<QString>("statusZ");
        QTest::addColumn<QString>("statusT");
        QTest::addColumn<QString>("frequencyText");
        QTest::addColumn<QString>("typeText");
        QTest::newRow("in progress, days with out-of-range") << 1 << 5 << QVariantList{3, 1, 9, -1, 1} << 1
            << "InProgress" << "In progress" << "Wednesday,Monday,Monday" << "Restore";
        QTest::newRow("numeric texts") << 2 << 5 << QVariantList{"6", " 0", "5x"} << 0
            << "Canceled" << "Canceled" << "Saturday,Sunday,Friday" << "Backup";
        QTest::newRow("all out of range") << 3 << 5 << QVariantList{7, "x8"} << 0
            << "Completed" << "Completed" << "Sunday" << "Backup"; // "x8" reads as 0
        QTest::newRow("every day out of range") << 3 << 5 << QVariantList{7, -1, "9"} << 0
            << "Completed" << "Completed" << "" << "Backup";
        QTest::newRow("weekdays are not names") << 7 << 3 << QVariantList{1} << 2
            << "InvalidStatus" << "InvalidStatus" << "Weekdays" << QString();
        QTest::newRow("daily with days") << -1 << 2 << QVariantList{1, 2} << -1
            << "InvalidStatus" << "InvalidStatus" << "Daily" << QString();
        QTest::newRow("hourly keeps its blank") << 0 << 1 << QVariantList{} << 0 << "" << "" << "Hourly " << "Backup";
        QTest::newRow("once") << 0 << 0 << QVariantList{} << 0 << "" << "" << "Once" << "Backup";
        QTest::newRow("monthly") << 0 << 4 << QVariantList{} << 0 << "" << "" << "Monthly" << "Backup";
        QTest::newRow("frequency 6") << 0 << 6 << QVariantList{} << 0 << "" << "" << "None" << "Backup";
        QTest::newRow("frequency -1") << 0 << -1 << QVariantList{} << 0 << "" << "" << "None" << "Backup";
    }
    void displayTexts()
    {
        QFETCH(qint32, status);
        QFETCH(qint32, frequency);
        QFETCH(QVariantList, days);
        QFETCH(qint32, type);
        QFETCH(QString, statusZ);
        QFETCH(QString, statusT);
        QFETCH(QString, frequencyText);
        QFETCH(QString, typeText);
        ZVScheduleItem z;
        z.setStatus(status);
        z.setFrequency(frequency);
        z.setSelectedDaysForSchedule(days);
        z.setScheduleType(type);
        QCOMPARE(z.statusString(), statusZ);
        QCOMPARE(z.frequencyString(), frequencyText);
        QCOMPARE(z.scheduledDays(), frequencyText);
        QCOMPARE(z.scheduledDays().isNull(), frequencyText.isNull());
        QCOMPARE(z.scheduleTypeString(), typeText);
        QCOMPARE(z.scheduleTypeString().isNull(), typeText.isNull());
        TavrinScheduleItem t;
        t.setStatus(status);
        t.setFrequency(frequency);
        t.setSelectedDaysForSchedule(std::make_shared<QVariantList>(days));
        t.setScheduleType(type);
        QCOMPARE(t.statusString(), statusT);
        QCOMPARE(t.frequencyString(), frequencyText);
        QCOMPARE(t.scheduledDays().isNull(), frequencyText.isNull());
        QCOMPARE(t.scheduleTypeString(), typeText);
    }

    void pellomaWeekdaysWithoutDaysAndTimeText()
    {
        ZVScheduleItem z;
        z.setFrequency(5);
        QCOMPARE(z.scheduledDays(), QStringLiteral("Monday,Tuesday,Wednesday,Thursday,Friday"));
        z.setSelectedDaysForSchedule(std::nullopt);
        QCOMPARE(z.scheduledDays(), QStringLiteral("Monday,Tuesday,Wednesday,Thursday,Friday"));
        z.setScheduleTime(NSCalendarDate(786560829.0 + 5 * 3600, QTimeZone("America/New_York")));
        QCOMPARE(z.scheduleTimeString(), QStringLiteral("Thu Dec 04 2025 05:07:09 PM"));
        z.setScheduleTime(std::nullopt);
        QVERIFY(z.scheduleTimeString().isNull());
    }

    void sslTextSetter()
    {
        ZVScheduleItem z;
        TavrinScheduleItem t;
        for (const QString &text : {QStringLiteral("yes"), QStringLiteral("Yes"), QStringLiteral("YES "), QString(), QStringLiteral("1")}) {
            z.setSSL(text);
            t.setSSL(text);
            QVERIFY2(!z.isUseSSL() && !t.isUseSSL(), qPrintable(text));
        }
        z.setSSL(QStringLiteral("YES"));
        t.setSSL(QStringLiteral("YES"));
        QVERIFY(z.isUseSSL() && t.isUseSSL());
    }

    void pellomaEquality_data()
    {
        QTest::addColumn<double>("receiverLater"); // receiver's time minus the other's
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("equal");
        QTest::newRow("same time") << 0.0 << "" << true;
        QTest::newRow("60 s later") << 60.0 << "" << true;
        QTest::newRow("60.5 s later") << 60.5 << "" << false;
        QTest::newRow("61 s later") << 61.0 << "" << false;
        QTest::newRow("1 s earlier") << -1.0 << "" << false;
        QTest::newRow("status") << 0.0 << "status" << false;
        QTest::newRow("username") << 0.0 << "username" << false;
        QTest::newRow("absent usernames") << 0.0 << "absent username" << false;
        QTest::newRow("e-mail flag") << 0.0 << "email" << false;
        QTest::newRow("frequency is not compared") << 0.0 << "frequency" << true;
        QTest::newRow("days are not compared") << 0.0 << "days" << true;
        QTest::newRow("no time on either") << 0.0 << "no time" << false;
    }
    void pellomaEquality()
    {
        QFETCH(double, receiverLater);
        QFETCH(QString, change);
        QFETCH(bool, equal);
        ZVScheduleItem a, b;
        a.setScheduleTime(NSCalendarDate(k20110502 + receiverLater, QTimeZone::utc()));
        b.setScheduleTime(NSCalendarDate(k20110502, QTimeZone("Asia/Tokyo")));
        if (change == QLatin1String("status")) b.setStatus(1);
        if (change == QLatin1String("username")) b.setUsername(QStringLiteral("none"));
        if (change == QLatin1String("absent username")) { a.setUsername(QString()); b.setUsername(QString()); }
        if (change == QLatin1String("email")) b.setSendEmailNotification(true);
        if (change == QLatin1String("frequency")) b.setFrequency(5);
        if (change == QLatin1String("days")) b.setSelectedDaysForSchedule(QVariantList{1});
        if (change == QLatin1String("no time")) { a.setScheduleTime(std::nullopt); b.setScheduleTime(std::nullopt); }
        QCOMPARE(a.isEqualToScheduleItem(b), equal);
        // Not symmetric: the other way round the difference changes its sign.
        if (change.isEmpty())
            QCOMPARE(b.isEqualToScheduleItem(a), -receiverLater >= 0.0 && -receiverLater <= 60.0);
    }

    void tavrinEqualityAndStatusComparison()
    {
        TavrinScheduleItem a, b;
        b.setScheduleTime(a.scheduleTime());
        QVERIFY(a.isEqualToScheduleItem(b));
        b.setTavrinUserName(QStringLiteral("other"));
        b.setIsAutoSyncEnabled(true);
        QVERIFY(a.isEqualToScheduleItem(b)); // neither is compared
        for (int i = 0; i < 3; ++i) {
            TavrinScheduleItem c;
            c.setScheduleTime(a.scheduleTime());
            if (i == 0) c.setShouldStartMissedScheduleBackup(true);
            if (i == 1) c.setSendLogExtract(true);
            if (i == 2) c.setNotifyOnFailure(true);
            QVERIFY(!a.isEqualToScheduleItem(c));
        }
        b.setScheduleTime(std::nullopt);
        QVERIFY(!a.isEqualToScheduleItem(b));
        QVERIFY(!b.isEqualToScheduleItem(a));

        TavrinScheduleItem x, y;
        x.setStatus(2);
        y.setStatus(2);
        y.setScheduleType(1);
        y.setUsername(QStringLiteral("else"));
        y.setScheduleTime(std::nullopt);
        QVERIFY(x.compareScheduleItems(y));
        y.setStatus(3);
        QVERIFY(!x.compareScheduleItems(y));
    }

    void copies()
    {
        ZVScheduleItem z;
        z.setScheduleTimeSettings(5);
        z.setFrequency(5);
        z.setSelectedDaysForSchedule(QVariantList{1, 2});
        z.setBackupNow(true);
        z.setSSL(QStringLiteral("YES"));
        z.setQuotaServerName(QStringLiteral("q"));
        z.setPassword(QStringLiteral("p"));
        z.setEmailids(QString());
        const auto zc = z.copyWithZone();
        QCOMPARE(zc->scheduleTimeSettings(), 0);
        QCOMPARE(zc->selectedDaysForSchedule(), std::optional<QVariantList>(QVariantList()));
        QCOMPARE(zc->scheduledDays(), QStringLiteral("Monday,Tuesday,Wednesday,Thursday,Friday"));
        QVERIFY(!zc->isBackupNow());
        QVERIFY(zc->isUseSSL());
        QCOMPARE(zc->quotaServername(), QStringLiteral("q"));
        QCOMPARE(zc->password(), QStringLiteral("p"));
        QVERIFY(zc->emailids().isNull());
        QCOMPARE(zc->scheduleTime(), z.scheduleTime());
        zc->setUsername(QStringLiteral("changed"));
        QCOMPARE(z.username(), QStringLiteral("None"));

        TavrinScheduleItem t;
        t.setSendLogExtract(true);
        t.setNotifyOnFailure(true);
        t.setIsAutoSyncEnabled(true);
        t.setTavrinUserName(QStringLiteral("tv"));
        t.setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{4}));
        t.setScheduleTimeSettings(9);
        const auto tc = t.copyWithZone();
        QVERIFY(tc->sendLogExtract() && tc->notifyOnFailure() && tc->isAutoSyncEnabled());
        QCOMPARE(tc->tavrinUserName(), QStringLiteral("tv"));
        QVERIFY(tc->selectedDaysForSchedule() && tc->selectedDaysForSchedule()->isEmpty());
        QVERIFY(tc->selectedDaysForSchedule() != t.selectedDaysForSchedule());
        QCOMPARE(tc->scheduleTimeSettings(), 0);
        QVERIFY(tc->isEqualToScheduleItem(t) && t.isEqualToScheduleItem(*tc));
    }

    void dayListOwnership()
    {
        // Pelloma keeps its own copy; Tavrin shares the caller's list.
        QVariantList days{1};
        ZVScheduleItem z;
        z.setFrequency(5);
        z.setSelectedDaysForSchedule(days);
        days.append(4);
        QCOMPARE(z.scheduledDays(), QStringLiteral("Monday"));

        auto shared = std::make_shared<QVariantList>(QVariantList{1});
        TavrinScheduleItem t;
        t.setFrequency(5);
        t.setSelectedDaysForSchedule(shared);
        shared->append(4);
        QCOMPARE(t.scheduledDays(), QStringLiteral("Monday,Thursday"));
        QCOMPARE(t.selectedDaysForSchedule(), shared);
    }

    void configurationLookups()
    {
        QCOMPARE(TavrinScheduleItem::applicationName(), QStringLiteral("Tavrin for Mac"));
        QVERIFY(TavrinScheduleItem::isTavrinApplication());
        QCOMPARE(TavrinScheduleItem::pathForApplicationFile(), m_schedulesFile);
    }

    // Tavrin's day display from the stored list (the configured file, key "Schedules").
    void tavrinDaysFromStoredList_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("expected");
        QTest::newRow("days 6 and 0") << "sat-sun" << "Saturday,Sunday";
        QTest::newRow("stored without days") << "nodays" << "Monday,Tuesday,Wednesday,Thursday,Friday";
        QTest::newRow("stored with no list at all") << "nolist" << "Monday,Tuesday,Wednesday,Thursday,Friday";
        QTest::newRow("a Pelloma record counts too") << "pelloma" << "Tuesday";
        QTest::newRow("several: the last decides") << "twice" << "Friday";
        QTest::newRow("no such user") << "nobody" << "None";
        QTest::newRow("absent user matches nothing") << QString() << "None";
    }
    void tavrinDaysFromStoredList()
    {
        QFETCH(QString, username);
        QFETCH(QString, expected);
        auto stored = [](const QString &user, const std::optional<QVariantList> &days) {
            auto t = std::make_shared<TavrinScheduleItem>();
            t->setUsername(user);
            t->setSelectedDaysForSchedule(days ? std::make_shared<QVariantList>(*days) : nullptr);
            return obj(t);
        };
        auto pelloma = std::make_shared<ZVScheduleItem>();
        pelloma->setUsername(QStringLiteral("pelloma"));
        pelloma->setSelectedDaysForSchedule(QVariantList{2});
        auto absentUser = std::make_shared<ZVScheduleItem>();
        absentUser->setUsername(QString());
        absentUser->setSelectedDaysForSchedule(QVariantList{3});
        const QVariantList list{QStringLiteral("not a record"), stored("sat-sun", QVariantList{6, 0}),
                                stored("nodays", QVariantList{}), stored("nolist", std::nullopt), obj(pelloma),
                                obj(absentUser), stored("twice", QVariantList{1}), stored("twice", QVariantList{5})};
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(list, m_schedulesFile, QStringLiteral("Schedules")));

        TavrinScheduleItem t;
        t.setFrequency(5);
        t.setUsername(username);
        QCOMPARE(t.scheduledDays(), expected);
        QCOMPARE(t.frequencyString(), expected);
        // Days of its own: the file is not consulted.
        t.setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{2}));
        QCOMPARE(t.scheduledDays(), QStringLiteral("Tuesday"));
    }

    void tavrinDaysWithoutStoredList()
    {
        TavrinScheduleItem t;
        t.setFrequency(5);
        t.setUsername(QStringLiteral("sat-sun"));
        QFile::remove(m_schedulesFile);
        QCOMPARE(t.scheduledDays(), QStringLiteral("None"));
        QVERIFY(TestSupport::writeFile(m_schedulesFile, "damaged"));
        QCOMPARE(t.scheduledDays(), QStringLiteral("None"));
        t.setSelectedDaysForSchedule(nullptr);
        QCOMPARE(t.scheduledDays(), QStringLiteral("None"));
        QFile::remove(m_schedulesFile);
    }

    // ---- the list file ----

    void listRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        auto a = std::make_shared<ZVScheduleItem>();
        a->setScheduleTime(NSCalendarDate(k20110502 + 0.9, QTimeZone("Europe/Berlin")));
        a->setFrequency(5);
        a->setSelectedDaysForSchedule(QVariantList{1, QStringLiteral("3")});
        a->setBackupNow(true);
        a->setSSL(QStringLiteral("YES"));
        a->setEmailids(QString());
        a->setScheduleTimeSettings(-4);
        auto b = std::make_shared<TavrinScheduleItem>();
        b->setStatus(1);
        b->setTavrinUserName(QStringLiteral("tv \u00e9"));
        b->setShouldStartMissedScheduleBackup(true);
        b->setNotifyOnFailure(true);
        b->setIsAutoSyncEnabled(true);
        b->setBackupNow(true);
        auto c = std::make_shared<ZVScheduleItem>();
        c->setScheduleTime(std::nullopt);
        c->setSelectedDaysForSchedule(std::nullopt);
        QVERIFY(MyExtensions::writeToArchivedFileWithKey({obj(a), obj(b), obj(c)}, path, QStringLiteral("Schedules")));

        const auto list = MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
        QVERIFY(list);
        QCOMPARE(list->size(), 3);
        const auto ra = record<ZVScheduleItem>(list->at(0));
        const auto rb = record<TavrinScheduleItem>(list->at(1));
        const auto rc = record<ZVScheduleItem>(list->at(2));
        QVERIFY(ra && rb && rc);
        // Whole seconds, and the zone becomes the offset of the text form.
        QCOMPARE(ra->scheduleTime()->timeIntervalSinceReferenceDate(), k20110502);
        QCOMPARE(ra->scheduleTime()->description(), QStringLiteral("2011-05-02 10:00:00 +0200"));
        QCOMPARE(ra->selectedDaysForSchedule(), std::optional<QVariantList>(QVariantList{qint64(1), QStringLiteral("3")}));
        QCOMPARE(ra->scheduledDays(), QStringLiteral("Monday,Wednesday"));
        QVERIFY(!ra->isBackupNow() && ra->isUseSSL());
        QVERIFY(ra->emailids().isNull());
        QCOMPARE(ra->scheduleTimeSettings(), -4);
        QCOMPARE(ra->destination(), a->destination());
        QVERIFY(std::fabs(a->scheduleTime()->timeIntervalSinceDate(*ra->scheduleTime()) - 0.9) < 1e-6);
        QCOMPARE(rb->status(), 1);
        QCOMPARE(rb->tavrinUserName(), QStringLiteral("tv \u00e9"));
        QVERIFY(rb->shouldStartMissedScheduleBackup() && rb->notifyOnFailure() && rb->isAutoSyncEnabled());
        QVERIFY(!rb->sendLogExtract() && !rb->isBackupNow());
        QVERIFY(rb->selectedDaysForSchedule() && rb->selectedDaysForSchedule()->isEmpty());
        QVERIFY(!rc->scheduleTime());
        QVERIFY(!rc->selectedDaysForSchedule());

        // Another key: an empty list.
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Other")),
                 std::optional<QVariantList>(QVariantList()));
    }

    void missingKeysReadAsZeroFalseAbsent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(
            {obj(std::make_shared<PartialRecord>(QStringLiteral("ZVScheduleItem"))),
             obj(std::make_shared<PartialRecord>(QStringLiteral("TavrinScheduleItem")))},
            path, QStringLiteral("Schedules")));
        const auto list = MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
        QVERIFY(list && list->size() == 2);
        const auto z = record<ZVScheduleItem>(list->at(0));
        QVERIFY(z);
        QCOMPARE(z->scheduleType(), 1);
        QCOMPARE(z->status(), 1);
        QCOMPARE(z->destination(), QStringLiteral("Dest"));
        QVERIFY(z->username().isNull()); // not "None"
        QCOMPARE(z->frequency(), 0);     // not the new record's 2
        QCOMPARE(z->frequencyString(), QStringLiteral("Once"));
        QVERIFY(!z->scheduleTime());
        QVERIFY(!z->selectedDaysForSchedule());
        QVERIFY(z->quotaServername().isNull() && z->emailids().isNull());
        QVERIFY(!z->isUseSSL() && !z->displayDesktopNotification());
        const auto t = record<TavrinScheduleItem>(list->at(1));
        QVERIFY(t);
        QVERIFY(t->tavrinUserName().isNull());
        QVERIFY(!t->selectedDaysForSchedule());
        QVERIFY(!t->isAutoSyncEnabled());
        QCOMPARE(t->statusString(), QStringLiteral("In progress"));
    }

    void writtenFileModeAndFailures()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        const mode_t old = ::umask(077);
        const bool written = MyExtensions::writeToArchivedFileWithKey({obj(std::make_shared<ZVScheduleItem>())}, path,
                                                                      QStringLiteral("Schedules"));
        ::umask(old);
        QVERIFY(written);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0777));

        const QString missingFolder = dir.filePath(QStringLiteral("no/such/s.plist"));
        QVERIFY(!MyExtensions::writeToArchivedFileWithKey({}, missingFolder, QStringLiteral("Schedules")));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("no"))));

        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(dir.filePath(QStringLiteral("none.plist")),
                                                                     QStringLiteral("Schedules")), std::nullopt);
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(dir.path(), QStringLiteral("Schedules")), std::nullopt);
        // An empty list is a list.
        QVERIFY(MyExtensions::writeToArchivedFileWithKey({}, path, QStringLiteral("Schedules")));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules")),
                 std::optional<QVariantList>(QVariantList()));
    }

    // The list holds passwords and is stored as root in folders others may write: the store
    // replaces the path itself. A link planted there is replaced, its target keeps content and
    // mode; a store killed while writing (here by its file-size limit) leaves only a temporary
    // file nobody else can read, which the next store removes.
    void storeReplacesThePath_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("link to a victim file at the path") << false;
        QTest::newRow("store killed while writing") << true;
    }
    void storeReplacesThePath()
    {
        QFETCH(bool, killed);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Schedules.plist"));
        const QString victim = dir.filePath(QStringLiteral("victim"));
        QVERIFY(TestSupport::writeFile(victim, "victim"));
        QVERIFY(QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner));
        auto record = std::make_shared<ZVScheduleItem>();
        record->setPassword(QStringLiteral("secret"));
        const QVariantList list{obj(record)};
        const QString key = QStringLiteral("Schedules");
        const mode_t old = ::umask(022);
        if (killed) {
            const pid_t child = ::fork();
            if (child == 0) {
                const rlimit fileSize{16, 16}, core{0, 0};
                ::setrlimit(RLIMIT_CORE, &core);
                ::setrlimit(RLIMIT_FSIZE, &fileSize);
                MyExtensions::writeToArchivedFileWithKey(list, path, key);
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
            for (const QFileInfo &left : QDir(dir.path()).entryInfoList(QDir::Files | QDir::Hidden)) {
                struct stat st {};
                QCOMPARE(::lstat(QFile::encodeName(left.filePath()).constData(), &st), 0);
                QVERIFY2((st.st_mode & 077) == 0, qPrintable(left.fileName()));
            }
        } else {
            QVERIFY(QFile::link(victim, path));
        }
        const bool stored = MyExtensions::writeToArchivedFileWithKey(list, path, key);
        ::umask(old);
        QVERIFY(stored);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{QStringLiteral("Schedules.plist"), QStringLiteral("victim")}));
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
        QVERIFY(S_ISREG(st.st_mode));
        QCOMPARE(st.st_mode & 07777, mode_t(0777));
        QCOMPARE(::stat(QFile::encodeName(victim).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        QCOMPARE(TestSupport::readFile(victim), QByteArray("victim"));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, key)->size(), 1);
    }

    // A list far longer than an installation has: every record comes back, in order (a reader
    // that walked lists by position would take minutes here). Prints the times taken.
    void longListRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        const int count = 3000;
        QVariantList list;
        for (int i = 0; i < count; ++i) {
            auto t = std::make_shared<TavrinScheduleItem>();
            t->setUsername(QStringLiteral("user%1").arg(i));
            t->setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{i % 7, 1}));
            list.append(obj(t));
        }
        QElapsedTimer timer;
        timer.start();
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(list, path, QStringLiteral("Schedules")));
        const qint64 written = timer.restart();
        const auto back = MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
        qInfo("%d records: written in %lld ms, read in %lld ms, %lld bytes", count, written, timer.elapsed(),
              QFileInfo(path).size());
        QVERIFY(back);
        QCOMPARE(back->size(), count);
        QCOMPARE(record<TavrinScheduleItem>(back->at(count - 1))->username(), QStringLiteral("user%1").arg(count - 1));
        QCOMPARE(*record<TavrinScheduleItem>(back->at(count - 1))->selectedDaysForSchedule(),
                 (QVariantList{qint64((count - 1) % 7), qint64(1)}));
    }

    // ---- files laid out by the Mac ----

    void macLaidOutScheduleFile_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::newRow("binary") << "good";
        QTest::newRow("XML") << "xml";
    }
    void macLaidOutScheduleFile()
    {
        QFETCH(QString, variant);
        const auto list = readAppleSchedules(variant);
        QVERIFY(list && list->size() == 4);

        const auto z = record<ZVScheduleItem>(list->at(0));
        QVERIFY(z);
        QCOMPARE(z->scheduleType(), 1);
        QCOMPARE(z->scheduleTime()->description(), QStringLiteral("2011-05-02 10:00:00 +0200"));
        QCOMPARE(z->scheduleTime()->timeIntervalSinceReferenceDate(), k20110502);
        QCOMPARE(z->frequency(), 5);
        QCOMPARE(z->status(), 3);
        QCOMPARE(z->destination(), QStringLiteral("MyPelloma"));
        QCOMPARE(z->username(), QStringLiteral("ann"));
        QCOMPARE(z->emailids(), QStringLiteral("ann@example.com"));
        QVERIFY(z->displayDesktopNotification() && !z->sendEmailNotification() && z->isUseSSL());
        QCOMPARE(z->userAtServer(), QStringLiteral("ann@server"));
        QCOMPARE(z->serverName(), QStringLiteral("server.example.com"));
        QCOMPARE(z->password(), QStringLiteral("secret"));
        QCOMPARE(z->processReferenceFile(), QStringLiteral("/tmp/ref"));
        QCOMPARE(z->scheduleTimeSettings(), 7);
        QCOMPARE(z->scheduledDays(), QStringLiteral("Monday,Wednesday"));
        QCOMPARE(z->quotaServername(), QStringLiteral("quota.example.com"));

        const auto t = record<TavrinScheduleItem>(list->at(1));
        QVERIFY(t);
        QCOMPARE(t->scheduleTime()->description(), QStringLiteral("2026-12-04 17:07:09 -0500"));
        QCOMPARE(t->scheduleTimeString(), QStringLiteral("Fri Dec 04 2026 05:07:09 PM"));
        QCOMPARE(t->status(), 1);
        QCOMPARE(t->username(), QStringLiteral("bob"));
        QCOMPARE(t->tavrinUserName(), QStringLiteral("bob-t"));
        QVERIFY(t->emailids().isNull());
        QVERIFY(t->shouldStartMissedScheduleBackup() && t->sendEmailNotification() && t->sendLogExtract()
                && t->isAutoSyncEnabled() && !t->notifyOnFailure() && !t->displayDesktopNotification());
        QCOMPARE(t->userAtServer(), QStringLiteral(""));
        QVERIFY(!t->userAtServer().isNull());
        QCOMPARE(t->scheduledDays(), QStringLiteral("Saturday,Sunday"));

        // An NSDate (UTC) and missing keys.
        const auto z2 = record<ZVScheduleItem>(list->at(2));
        QVERIFY(z2);
        QCOMPARE(z2->scheduleTime()->description(), QStringLiteral("2039-05-12 20:05:12 +0000"));
        QVERIFY(z2->username().isNull());
        QCOMPARE(z2->frequency(), 0);
        QCOMPARE(z2->status(), 1);

        // A fixed "GMT+0530" zone and no calendar format: the default one.
        const auto t2 = record<TavrinScheduleItem>(list->at(3));
        QVERIFY(t2);
        QCOMPARE(t2->scheduleTime()->description(), QStringLiteral("2011-05-02 13:30:00 +0530"));
        QCOMPARE(t2->username(), QStringLiteral("bob"));
        QVERIFY(!t2->selectedDaysForSchedule());
    }

    // One value of an unexpected kind leaves the list readable: the value reads as a missing
    // key would (a text or date absent, an integer 0, a flag false), a day list element as its
    // integer value (0 for one that has none); the other records and fields are as written.
    void oddValuesInAMacLaidOutFile_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value"); // null: absent
        QTest::newRow("text where an integer belongs") << "wrong-kind-int" << 0 << "status" << "0";
        QTest::newRow("integer beyond 32 bits") << "int-too-large" << 0 << "scheduleTimeSettings" << "0";
        QTest::newRow("text where a flag belongs") << "wrong-kind-flag" << 1 << "shouldStartMissedScheduleBackup" << "0";
        QTest::newRow("number where a text belongs") << "wrong-kind-text" << 1 << "destination" << QString();
        QTest::newRow("inline number where a text belongs") << "inline-text" << 1 << "username" << QString();
        QTest::newRow("list under emailids") << "list-as-emailids" << 0 << "emailids" << QString();
        QTest::newRow("text where a day list belongs") << "wrong-kind-days" << 0 << "days"
                                                       << "Monday,Tuesday,Wednesday,Thursday,Friday";
        QTest::newRow("date, text, list and real in a day list") << "odd-day-elements" << 0 << "days"
                                                                  << "Sunday,Wednesday,Sunday,Thursday,Tuesday";
        QTest::newRow("text where a date belongs") << "date-as-text" << 1 << "scheduleTime" << QString();
        QTest::newRow("date with a calendar format of its own") << "own-format-date" << 0 << "scheduleTime"
                                                                << "2011-05-02 10:00:00 +0200";
    }
    void oddValuesInAMacLaidOutFile()
    {
        QFETCH(QString, variant);
        QFETCH(int, index);
        QFETCH(QString, field);
        QFETCH(QString, value);
        const auto list = readAppleSchedules(variant);
        QVERIFY(list && list->size() == 4);
        const auto z = record<ZVScheduleItem>(list->at(0));
        const auto t = record<TavrinScheduleItem>(list->at(1));
        QVERIFY(z && t && record<ZVScheduleItem>(list->at(2)) && record<TavrinScheduleItem>(list->at(3)));
        auto text = [](const std::optional<NSCalendarDate> &d) { return d ? d->description() : QString(); };
        const QMap<QString, QString> fields = index == 0
            ? QMap<QString, QString>{{"status", QString::number(z->status())},
                                     {"scheduleTimeSettings", QString::number(z->scheduleTimeSettings())},
                                     {"emailids", z->emailids()}, {"days", z->scheduledDays()},
                                     {"scheduleTime", text(z->scheduleTime())}}
            : QMap<QString, QString>{{"shouldStartMissedScheduleBackup", QString::number(t->shouldStartMissedScheduleBackup())},
                                     {"destination", t->destination()}, {"username", t->username()},
                                     {"scheduleTime", text(t->scheduleTime())}};
        QVERIFY(fields.contains(field));
        QCOMPARE(fields.value(field), value);
        QCOMPARE(fields.value(field).isNull(), value.isNull());
        // The neighbours of the odd value are read as written.
        QCOMPARE(z->quotaServername(), QStringLiteral("quota.example.com"));
        QCOMPARE(t->status(), 1);
        QCOMPARE(t->tavrinUserName(), QStringLiteral("bob-t"));
    }
};

QTEST_GUILESS_MAIN(SchedulesRecordTest)
#include "SchedulesRecordTest.moc"
