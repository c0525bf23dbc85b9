// The calendar date and the schedule records of both brands: display texts, equality, copies,
// day lists (Tavrin's from the stored list) and the list file as stored.
#include "NSArray_Extensions.h"
#include "NSCalendarDate.h"
#include "TavrinScheduleItem.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QLocale>
#include <QPoint>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

constexpr double k20110502 = 1304323200.0 - 978307200.0; // 08:00:00 UTC, seconds since 2001
const QString kWeekdays = QStringLiteral("Monday,Tuesday,Wednesday,Thursday,Friday");
const QString kKey = QStringLiteral("Schedules");

QVariant obj(const NSObjectPtr &p) { return QVariant::fromValue(p); }
QString shown(const QString &s) { return s.isNull() ? QStringLiteral("<null>") : s; }

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// Applies CHANGE to B (a record of either brand).
template <typename T>
void change(T &b, const QString &change)
{
    if (change == "status") b.setStatus(1);
    if (change == "type") b.setScheduleType(1);
    if (change == "destination") b.setDestination(QStringLiteral("Else"));
    if (change == "username") b.setUsername(QStringLiteral("none"));
    if (change == "emailids") b.setEmailids(QStringLiteral("a@b"));
    if (change == "email flag") b.setSendEmailNotification(true);
    if (change == "desktop flag") b.setDisplayDesktopNotification(true);
    if (change == "frequency") b.setFrequency(5);
    if (change == "SSL") b.setSSL(QStringLiteral("YES"));
    if (change == "no time") b.setScheduleTime(std::nullopt);
    if constexpr (std::is_same_v<T, TavrinScheduleItem>) {
        if (change == "missed backup") b.setShouldStartMissedScheduleBackup(true);
        if (change == "log extract") b.setSendLogExtract(true);
        if (change == "notify") b.setNotifyOnFailure(true);
        if (change == "Tavrin user") b.setTavrinUserName(QStringLiteral("other"));
        if (change == "auto sync") b.setIsAutoSyncEnabled(true);
        if (change == "days") b.setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{1}));
    } else if (change == "days") {
        b.setSelectedDaysForSchedule(QVariantList{1});
    }
}

// Whether A equals B after CHANGE, A's time LATER seconds after B's; and the other way round.
template <typename T>
QString equalities(double later, const QString &what)
{
    T a, b;
    a.setScheduleTime(NSCalendarDate(k20110502 + later, QTimeZone::utc()));
    b.setScheduleTime(NSCalendarDate(k20110502, QTimeZone("Asia/Tokyo")));
    if (what == "absent usernames") { a.setUsername(QString()); b.setUsername(QString()); }
    change(b, what);
    QString result = QStringLiteral("%1 %2").arg(a.isEqualToScheduleItem(b)).arg(b.isEqualToScheduleItem(a));
    if constexpr (std::is_same_v<T, TavrinScheduleItem>) // the status alone
        result += QStringLiteral(" %1").arg(a.compareScheduleItems(b));
    return result;
}

} // namespace

class SchedulesRecordTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_file;

private slots:
    void initTestCase()
    {
        // Brand Tavrin, the list file in a temp folder; texts stay English whatever the locale.
        m_file = m_dir.filePath(QStringLiteral("schedules.plist"));
        QVERIFY(useTable(m_dir.path(), {{"ApplicationName", "Tavrin for Mac"}, {"SchedulerSettingsFile", m_file}}));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(TavrinScheduleItem::isTavrinApplication());
    }

    void dateTexts_data()
    {
        QTest::addColumn<double>("time");
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("display");
        QTest::newRow("New York, fraction dropped") << 786560829.999 << QTimeZone("America/New_York") << "2025-12-04 12:07:09 -0500" << "Thu Dec 04 2025 12:07:09 PM";
        QTest::newRow("midnight is 12 AM") << k20110502 - 8 * 3600.0 + 30 << QTimeZone::utc() << "2011-05-02 00:00:30 +0000" << "Mon May 02 2011 12:00:30 AM";
        QTest::newRow("before 2001, floored") << -0.25 << QTimeZone::utc() << "2000-12-31 23:59:59 +0000" << "Sun Dec 31 2000 11:59:59 PM";
    }
    void dateTexts()
    {
        QFETCH(double, time);
        QFETCH(QTimeZone, zone);
        QFETCH(QString, description);
        QFETCH(QString, display);
        const NSCalendarDate date(time, zone);
        QCOMPARE(date.description(), description);
        QCOMPARE(date.descriptionWithCalendarFormat(QStringLiteral("%a %b %d %Y %I:%M:%S %p")), display);
    }

    void dateParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("description"); // null: refused
        QTest::newRow("blanks around, -0000") << "  2011-05-02 10:00:00 -0000 " << "2011-05-02 10:00:00 +0000";
        QTest::newRow("no offset") << "2011-05-02 10:00:00" << QString();
        QTest::newRow("February 30") << "2011-02-30 10:00:00 +0200" << QString();
        QTest::newRow("hour 24") << "2011-05-02 24:00:00 +0000" << QString();
        QTest::newRow("offset minutes 60") << "2011-05-02 10:00:00 +0160" << QString();
        QTest::newRow("offset 19 h") << "2011-05-02 10:00:00 +1900" << QString();
        QTest::newRow("offset 18 h: beyond a zone, shown in UTC") << "2011-05-02 10:00:00 -1800" << "2011-05-03 04:00:00 +0000";
    }
    void dateParsing()
    {
        QFETCH(QString, text);
        QFETCH(QString, description);
        const auto parsed = NSCalendarDate::initWithString(text);
        QCOMPARE(parsed ? parsed->description() : QString(), description);
    }

    // Status, frequency, schedule type set to -1 .. 6 in turn (days [2]), with an SSL text:
    // "status|frequency|days|type|SSL" (only "YES" is one).
    void textsOfEveryValue()
    {
        const auto texts = [](auto &r, auto days) {
            QStringList out;
            r.setSelectedDaysForSchedule(days);
            for (int i = -1; i <= 6; ++i) {
                r.setStatus(i);
                r.setFrequency(i);
                r.setScheduleType(i);
                r.setSSL(QStringList{"yes", "Yes", "YES ", "", "1", "YES", "NO", "YES"}.at(i + 1));
                out << QStringList{shown(r.statusString()), shown(r.frequencyString()), shown(r.scheduledDays()),
                                   shown(r.scheduleTypeString()), QString::number(r.isUseSSL())}.join('|');
            }
            return out;
        };
        ZVScheduleItem z;
        TavrinScheduleItem t;
        QStringList expected{"InvalidStatus|None|None|<null>|0", "|Once|Once|Backup|0", "InProgress|Hourly |Hourly |Restore|0",
                             "Canceled|Daily|Daily|<null>|0", "Completed|Weekdays|Weekdays|<null>|0",
                             "InvalidStatus|Monthly|Monthly|<null>|1", "InvalidStatus|Tuesday|Tuesday|<null>|0",
                             "InvalidStatus|None|None|<null>|1"};
        QCOMPARE(texts(z, QVariantList{2}), expected);
        expected[2].replace(QStringLiteral("InProgress"), QStringLiteral("In progress"));
        QCOMPARE(texts(t, std::make_shared<QVariantList>(QVariantList{2})), expected);
    }

    // The days of frequency 5, in list order; none given: weekdays (Tavrin: see the stored list).
    void dayNames_data()
    {
        QTest::addColumn<QVariantList>("days");
        QTest::addColumn<QString>("names");
        QTest::newRow("out-of-range skipped, repeats kept") << QVariantList{3, 1, 9, -1, 1} << "Wednesday,Monday,Monday";
        QTest::newRow("numeric texts, one without a number (0)") << QVariantList{"6", " 0", "5x", "+2", "-1", "x8"}
                                                                << "Saturday,Sunday,Friday,Tuesday,Sunday";
        QTest::newRow("reals, flags, huge numbers") << QVariantList{4.9, -0.5, true, qint64(1) << 33, "99999999999"} << "Thursday,Sunday,Monday";
        QTest::newRow("every day out of range: empty, not null") << QVariantList{7, -1, "9"} << "";
        QTest::newRow("none given") << QVariantList{} << kWeekdays;
    }
    void dayNames()
    {
        QFETCH(QVariantList, days);
        QFETCH(QString, names);
        ZVScheduleItem z;
        TavrinScheduleItem t;
        z.setFrequency(5);
        t.setFrequency(5);
        z.setSelectedDaysForSchedule(days);
        t.setSelectedDaysForSchedule(std::make_shared<QVariantList>(days));
        QCOMPARE(shown(z.scheduledDays()), names);
        if (!days.isEmpty())
            QCOMPARE(shown(t.scheduledDays()), names);
    }

    // Equal both ways round ("1 1"), one way, or neither: the time test is not symmetric; and
    // for Tavrin whether the statuses compare equal.
    void equality_data()
    {
        QTest::addColumn<double>("later");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("pelloma"); // null: Tavrin only
        QTest::addColumn<QString>("tavrin");
        QTest::newRow("60 s later") << 60.0 << "" << "1 0" << "1 0 1";
        QTest::newRow("60.5 s later") << 60.5 << "" << "0 0" << "0 0 1";
        QTest::newRow("1 s earlier") << -1.0 << "" << "0 1" << "0 1 1";
        QTest::newRow("no time on the other") << 0.0 << "no time" << "0 0" << "0 0 1";
        QTest::newRow("status") << 0.0 << "status" << "0 0" << "0 0 0";
        for (const char *c : {"absent usernames", "type", "destination", "username", "emailids", "email flag", "desktop flag"})
            QTest::newRow(c) << 0.0 << c << "0 0" << "0 0 1";
        for (const char *c : {"frequency", "days", "SSL"})
            QTest::newRow(c) << 0.0 << c << "1 1" << "1 1 1";
        for (const char *c : {"missed backup", "log extract", "notify"})
            QTest::newRow(c) << 0.0 << c << QString() << "0 0 1";
        for (const char *c : {"Tavrin user", "auto sync"})
            QTest::newRow(c) << 0.0 << c << QString() << "1 1 1";
    }
    void equality()
    {
        QFETCH(double, later);
        QFETCH(QString, change);
        QFETCH(QString, pelloma);
        QFETCH(QString, tavrin);
        if (!pelloma.isNull())
            QCOMPARE(equalities<ZVScheduleItem>(later, change), pelloma);
        QCOMPARE(equalities<TavrinScheduleItem>(later, change), tavrin);
    }

    // A copy leaves out the time settings, the days (a new empty list) and the backup-now flag.
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
        QCOMPARE((QVariantList{zc->scheduleTimeSettings(), zc->scheduledDays(), zc->isBackupNow(), zc->isUseSSL(),
                               zc->quotaServername(), zc->password(), zc->emailids().isNull()}),
                 (QVariantList{0, kWeekdays, false, true, "q", "p", true}));
        QCOMPARE(zc->selectedDaysForSchedule(), std::optional<QVariantList>(QVariantList()));
        QCOMPARE(zc->scheduleTime(), z.scheduleTime());

        TavrinScheduleItem t;
        t.setSendLogExtract(true);
        t.setNotifyOnFailure(true);
        t.setIsAutoSyncEnabled(true);
        t.setTavrinUserName(QStringLiteral("tv"));
        t.setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{4}));
        t.setScheduleTimeSettings(9);
        const auto tc = t.copyWithZone();
        QCOMPARE((QVariantList{tc->sendLogExtract(), tc->notifyOnFailure(), tc->isAutoSyncEnabled(), tc->tavrinUserName(),
                               tc->scheduleTimeSettings(), int(tc->selectedDaysForSchedule()->size())}),
                 (QVariantList{true, true, true, "tv", 0, 0}));
        QVERIFY(tc->selectedDaysForSchedule() != t.selectedDaysForSchedule());
        QVERIFY(tc->isEqualToScheduleItem(t) && t.isEqualToScheduleItem(*tc));
    }

    // Tavrin's days without a list of its own: from the stored list (the configured file, key
    // "Schedules"), the last record of its user deciding; "None" when there is none.
    void tavrinDaysFromStoredList_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("expected");
        QTest::newRow("days 6 and 0") << true << "sat-sun" << "Saturday,Sunday";
        QTest::newRow("stored without days") << true << "nodays" << kWeekdays;
        QTest::newRow("stored with no list at all") << true << "nolist" << kWeekdays;
        QTest::newRow("a Pelloma record counts too") << true << "pelloma" << "Tuesday";
        QTest::newRow("several: the last decides") << true << "twice" << "Friday";
        QTest::newRow("no such user") << true << "nobody" << "None";
        QTest::newRow("absent user matches nothing") << true << QString() << "None";
        QTest::newRow("no stored list") << false << "sat-sun" << "None";
    }
    void tavrinDaysFromStoredList()
    {
        QFETCH(bool, stored);
        QFETCH(QString, username);
        QFETCH(QString, expected);
        auto tavrin = [](const QString &user, const std::optional<QVariantList> &days) {
            auto t = std::make_shared<TavrinScheduleItem>();
            t->setUsername(user);
            t->setSelectedDaysForSchedule(days ? std::make_shared<QVariantList>(*days) : nullptr);
            return obj(t);
        };
        auto pelloma = [](const QString &user, int day) {
            auto z = std::make_shared<ZVScheduleItem>();
            z->setUsername(user);
            z->setSelectedDaysForSchedule(QVariantList{day});
            return obj(z);
        };
        QFile::remove(m_file);
        if (stored)
            QVERIFY(MyExtensions::writeToArchivedFileWithKey(
                {QStringLiteral("not a record"), tavrin("sat-sun", QVariantList{6, 0}), tavrin("nodays", QVariantList{}),
                 tavrin("nolist", std::nullopt), pelloma("pelloma", 2), pelloma(QString(), 3),
                 tavrin("twice", QVariantList{1}), tavrin("twice", QVariantList{5})}, m_file, kKey));
        TavrinScheduleItem t;
        t.setFrequency(5);
        t.setUsername(username);
        QCOMPARE(t.scheduledDays(), expected);
        t.setSelectedDaysForSchedule(nullptr);
        QCOMPARE(t.scheduledDays(), expected);
        const auto own = std::make_shared<QVariantList>(QVariantList{2}); // its own: no look-up, the caller's list
        t.setSelectedDaysForSchedule(own);
        own->append(4);
        QCOMPARE(t.scheduledDays(), QStringLiteral("Tuesday,Thursday"));
    }

    // The list holds passwords: a store killed while writing (by its file-size limit) leaves only a
    // temporary file nobody else can read, which the next store removes. Mode 0777 whatever the umask.
    void storedFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Schedules.plist"));
        auto record = std::make_shared<ZVScheduleItem>();
        record->setPassword(QStringLiteral("secret"));
        const mode_t old = ::umask(022);
        const pid_t child = ::fork();
        if (child == 0) {
            const rlimit fileSize{16, 16}, core{0, 0};
            ::setrlimit(RLIMIT_CORE, &core);
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
            MyExtensions::writeToArchivedFileWithKey({obj(record)}, path, kKey);
            ::_exit(0);
        }
        int status = 0;
        const bool killed = ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ;
        const QFileInfoList left = QDir(dir.path()).entryInfoList(QDir::Files | QDir::Hidden);
        const bool stored = MyExtensions::writeToArchivedFileWithKey({obj(record)}, path, kKey);
        ::umask(old);
        QVERIFY(killed && stored);
        QCOMPARE(left.size(), 1);
        QCOMPARE(modeOf(left.at(0).filePath()) & 077, mode_t(0));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"Schedules.plist"});
        QCOMPARE(modeOf(path), mode_t(S_IFREG | 0777));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, kKey)->size(), 1);
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Other")),
                 std::optional<QVariantList>(QVariantList())); // another key: an empty list
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(dir.filePath(QStringLiteral("none")), kKey), std::nullopt);
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(dir.path(), kKey), std::nullopt);
        // Not stored: a value without an archived form, a missing folder.
        QVERIFY(!MyExtensions::writeToArchivedFileWithKey({QVariant(QPoint(1, 2))}, dir.filePath(QStringLiteral("p")), kKey));
        QVERIFY(!MyExtensions::writeToArchivedFileWithKey({}, dir.filePath(QStringLiteral("no/such/s.plist")), kKey));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Schedules.plist"});
        QVERIFY(MyExtensions::writeToArchivedFileWithKey({}, path, kKey));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, kKey), std::optional<QVariantList>(QVariantList()));
    }
};

QTEST_GUILESS_MAIN(SchedulesRecordTest)
#include "SchedulesRecordTest.moc"
