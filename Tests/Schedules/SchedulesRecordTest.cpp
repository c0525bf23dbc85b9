// The calendar date and the schedule records of both brands: display texts, equality, copies,
// day lists (Tavrin's from the stored list) and the list file as stored.
#include "NSArray_Extensions.h"
#include "NSCalendarDate.h"
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
    if (what == "no times") { a.setScheduleTime(std::nullopt); b.setScheduleTime(std::nullopt); }
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
        QCOMPARE(TavrinScheduleItem::applicationName(), QStringLiteral("Tavrin for Mac"));
        QVERIFY(TavrinScheduleItem::isTavrinApplication());
        QCOMPARE(TavrinScheduleItem::pathForApplicationFile(), m_file);
    }

    void dateTexts_data()
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
    void dateTexts()
    {
        QFETCH(double, time);
        QFETCH(QTimeZone, zone);
        QFETCH(QString, description);
        QFETCH(QString, display);
        const NSCalendarDate date(time, zone);
        QCOMPARE(date.description(), description);
        QCOMPARE(date.descriptionWithCalendarFormat(QStringLiteral("%a %b %d %Y %I:%M:%S %p")), display);
        const auto parsed = NSCalendarDate::initWithString(description); // the whole second, the text's offset
        QVERIFY(parsed);
        QCOMPARE(parsed->timeIntervalSinceReferenceDate(), std::floor(time));
        QCOMPARE(parsed->description(), description);
    }

    void dateParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("description"); // null: refused
        QTest::newRow("blanks around, -0000") << "  2011-05-02 10:00:00 -0000 " << "2011-05-02 10:00:00 +0000";
        QTest::newRow("ISO T") << "2011-05-02T10:00:00 +0200" << QString();
        QTest::newRow("no offset") << "2011-05-02 10:00:00" << QString();
        QTest::newRow("offset with colon") << "2011-05-02 10:00:00 +02:00" << QString();
        QTest::newRow("February 30") << "2011-02-30 10:00:00 +0200" << QString();
        QTest::newRow("hour 24") << "2011-05-02 24:00:00 +0000" << QString();
        QTest::newRow("offset minutes 60") << "2011-05-02 10:00:00 +0160" << QString();
        QTest::newRow("offset 19 h") << "2011-05-02 10:00:00 +1900" << QString();
        QTest::newRow("offset 18 h: beyond a zone, shown in UTC") << "2011-05-02 10:00:00 -1800" << "2011-05-03 04:00:00 +0000";
        QTest::newRow("empty") << "" << QString();
        QTest::newRow("German text") << "Mo. Mai 02 2011" << QString();
    }
    void dateParsing()
    {
        QFETCH(QString, text);
        QFETCH(QString, description);
        const auto parsed = NSCalendarDate::initWithString(text);
        QCOMPARE(parsed ? parsed->description() : QString(), description);
    }

    void now()
    {
        const NSCalendarDate now = NSCalendarDate::calendarDate();
        QVERIFY(std::fabs(now.timeIntervalSinceReferenceDate() - (QDateTime::currentMSecsSinceEpoch() / 1000.0 - 978307200.0)) < 5);
        QCOMPARE(now.timeZone(), QTimeZone::systemTimeZone());
    }

    // Status, frequency, schedule type set to -1 .. 6 in turn (days [2]): "status|frequency|days|type".
    void textsOfEveryValue()
    {
        const auto texts = [](auto &r, auto days) {
            QStringList out;
            r.setSelectedDaysForSchedule(days);
            for (int i = -1; i <= 6; ++i) {
                r.setStatus(i);
                r.setFrequency(i);
                r.setScheduleType(i);
                out << QStringList{shown(r.statusString()), shown(r.frequencyString()), shown(r.scheduledDays()),
                                   shown(r.scheduleTypeString())}.join('|');
            }
            return out;
        };
        ZVScheduleItem z;
        TavrinScheduleItem t;
        QStringList expected{"InvalidStatus|None|None|<null>", "|Once|Once|Backup", "InProgress|Hourly |Hourly |Restore",
                             "Canceled|Daily|Daily|<null>", "Completed|Weekdays|Weekdays|<null>",
                             "InvalidStatus|Monthly|Monthly|<null>", "InvalidStatus|Tuesday|Tuesday|<null>",
                             "InvalidStatus|None|None|<null>"};
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
        QTest::newRow("numeric texts") << QVariantList{"6", " 0", "5x", "+2", "-1"} << "Saturday,Sunday,Friday,Tuesday";
        QTest::newRow("a text without a number is 0") << QVariantList{7, "x8"} << "Sunday";
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
        QCOMPARE(shown(z.frequencyString()), names);
        if (!days.isEmpty())
            QCOMPARE(shown(t.scheduledDays()), names);
    }

    void sslText()
    {
        ZVScheduleItem z;
        TavrinScheduleItem t;
        for (const QString text : {"yes", "Yes", "YES ", "", "1", "YES"}) {
            z.setSSL(text);
            t.setSSL(text);
            QCOMPARE(z.isUseSSL() + t.isUseSSL(), text == "YES" ? 2 : 0);
        }
    }

    // Equal both ways round ("1 1"), one way, or neither: the time test is not symmetric; and
    // for Tavrin whether the statuses compare equal.
    void equality_data()
    {
        QTest::addColumn<double>("later");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("pelloma"); // null: Tavrin only
        QTest::addColumn<QString>("tavrin");
        QTest::newRow("same time") << 0.0 << "" << "1 1" << "1 1 1";
        QTest::newRow("60 s later") << 60.0 << "" << "1 0" << "1 0 1";
        QTest::newRow("60.5 s later") << 60.5 << "" << "0 0" << "0 0 1";
        QTest::newRow("1 s earlier") << -1.0 << "" << "0 1" << "0 1 1";
        QTest::newRow("no time on either") << 0.0 << "no times" << "0 0" << "0 0 1";
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
        zc->setUsername(QStringLiteral("changed"));
        QCOMPARE(z.username(), QStringLiteral("None"));

        TavrinScheduleItem t;
        QVERIFY(t.selectedDaysForSchedule() != TavrinScheduleItem().selectedDaysForSchedule()); // a list of its own
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

    // Pelloma keeps its own copy of a day list; Tavrin shares the caller's.
    void dayListOwnership()
    {
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
    }

    // Tavrin's days without a list of its own: from the stored list (the configured file, key
    // "Schedules"), the last record of its user deciding; "None" when there is none.
    void tavrinDaysFromStoredList_data()
    {
        QTest::addColumn<QString>("file"); // "list", "missing" or "damaged"
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("expected");
        QTest::newRow("days 6 and 0") << "list" << "sat-sun" << "Saturday,Sunday";
        QTest::newRow("stored without days") << "list" << "nodays" << kWeekdays;
        QTest::newRow("stored with no list at all") << "list" << "nolist" << kWeekdays;
        QTest::newRow("a Pelloma record counts too") << "list" << "pelloma" << "Tuesday";
        QTest::newRow("several: the last decides") << "list" << "twice" << "Friday";
        QTest::newRow("no such user") << "list" << "nobody" << "None";
        QTest::newRow("absent user matches nothing") << "list" << QString() << "None";
        QTest::newRow("no stored list") << "missing" << "sat-sun" << "None";
        QTest::newRow("damaged stored list") << "damaged" << "sat-sun" << "None";
    }
    void tavrinDaysFromStoredList()
    {
        QFETCH(QString, file);
        QFETCH(QString, username);
        QFETCH(QString, expected);
        auto stored = [](const QString &user, const std::optional<QVariantList> &days) {
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
        if (file == "list")
            QVERIFY(MyExtensions::writeToArchivedFileWithKey(
                {QStringLiteral("not a record"), stored("sat-sun", QVariantList{6, 0}), stored("nodays", QVariantList{}),
                 stored("nolist", std::nullopt), pelloma("pelloma", 2), pelloma(QString(), 3),
                 stored("twice", QVariantList{1}), stored("twice", QVariantList{5})}, m_file, kKey));
        if (file == "damaged")
            QVERIFY(writeFile(m_file, "damaged"));
        TavrinScheduleItem t;
        t.setFrequency(5);
        t.setUsername(username);
        QCOMPARE(t.scheduledDays(), expected);
        QCOMPARE(t.frequencyString(), expected);
        t.setSelectedDaysForSchedule(nullptr);
        QCOMPARE(t.scheduledDays(), expected);
        t.setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{2})); // its own: no look-up
        QCOMPARE(t.scheduledDays(), QStringLiteral("Tuesday"));
    }

    void storedFileModeAndFailures()
    {
        const QString path = m_dir.filePath(QStringLiteral("mode.plist"));
        const mode_t old = ::umask(077);
        const bool written = MyExtensions::writeToArchivedFileWithKey({obj(std::make_shared<ZVScheduleItem>())}, path, kKey);
        ::umask(old);
        QVERIFY(written);
        QCOMPARE(modeOf(path) & 07777, mode_t(0777));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Other")),
                 std::optional<QVariantList>(QVariantList())); // another key: an empty list
        QVERIFY(!MyExtensions::writeToArchivedFileWithKey({}, m_dir.filePath(QStringLiteral("no/such/s.plist")), kKey));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("no"))));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(m_dir.filePath(QStringLiteral("none")), kKey), std::nullopt);
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(m_dir.path(), kKey), std::nullopt);
        QVERIFY(MyExtensions::writeToArchivedFileWithKey({}, path, kKey));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, kKey), std::optional<QVariantList>(QVariantList()));
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
        const QString path = dir.filePath(QStringLiteral("Schedules.plist")), victim = dir.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "victim"));
        QVERIFY(QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner));
        auto record = std::make_shared<ZVScheduleItem>();
        record->setPassword(QStringLiteral("secret"));
        const mode_t old = ::umask(022);
        if (killed) {
            const pid_t child = ::fork();
            if (child == 0) {
                const rlimit fileSize{16, 16}, core{0, 0};
                ::setrlimit(RLIMIT_CORE, &core);
                ::setrlimit(RLIMIT_FSIZE, &fileSize);
                MyExtensions::writeToArchivedFileWithKey({obj(record)}, path, kKey);
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
            for (const QFileInfo &left : QDir(dir.path()).entryInfoList(QDir::Files | QDir::Hidden))
                QVERIFY2((modeOf(left.filePath()) & 077) == 0, qPrintable(left.fileName()));
        } else {
            QVERIFY(QFile::link(victim, path));
        }
        const bool stored = MyExtensions::writeToArchivedFileWithKey({obj(record)}, path, kKey);
        ::umask(old);
        QVERIFY(stored);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{"Schedules.plist", "victim"}));
        QCOMPARE(modeOf(path), mode_t(S_IFREG | 0777));
        QCOMPARE(modeOf(victim), mode_t(S_IFREG | 0600));
        QCOMPARE(readFile(victim), QByteArray("victim"));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, kKey)->size(), 1);
    }

    // A list far longer than an installation has: every record comes back, in order (a reader
    // that walked lists by position would take minutes here).
    void longListRoundTrip()
    {
        const QString path = m_dir.filePath(QStringLiteral("long.plist"));
        const int count = 3000;
        QVariantList list;
        for (int i = 0; i < count; ++i) {
            auto t = std::make_shared<TavrinScheduleItem>();
            t->setUsername(QStringLiteral("user%1").arg(i));
            t->setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{i % 7, 1}));
            list.append(obj(t));
        }
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(list, path, kKey));
        const auto back = MyExtensions::initWithContentsOfArchivedFileWithKey(path, kKey);
        QVERIFY(back && back->size() == count);
        const auto last = std::dynamic_pointer_cast<TavrinScheduleItem>(objectFromVariant(back->last()));
        QCOMPARE(last->username(), QStringLiteral("user%1").arg(count - 1));
        QCOMPARE(*last->selectedDaysForSchedule(), (QVariantList{qint64((count - 1) % 7), qint64(1)}));
    }
};

QTEST_GUILESS_MAIN(SchedulesRecordTest)
#include "SchedulesRecordTest.moc"
