// The keyed archiver and unarchiver: round trips of every value kind, the layout of a
// written file read as a plain property list and by Python's own reader, archives written
// by Apple's Foundation, and damaged archives.
#include "NSArray_Extensions.h"
#include "NSCalendarDate.h"
#include "NSKeyedArchiver.h"
#include "NSKeyedUnarchiver.h"
#include "PropertyList_p.h"
#include "SchedulesTestSupport.h"
#include "TavrinScheduleItem.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QPoint>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace SchedulesTestSupport;

namespace {

// A class of this test, archived with its own keys, to show that any class with keyed
// coding can use the archive.
class Note : public NSObject {
public:
    QString className() const override { return QStringLiteral("Note"); }
    void encodeWithCoder(NSKeyedArchiver &coder) const override
    {
        coder.encodeObjectForKey(title, QStringLiteral("title"));
        coder.encodeIntForKey(date, QStringLiteral("date"));
        coder.encodeBoolForKey(published, QStringLiteral("published"));
        coder.encodeObjectForKey(array, QStringLiteral("array"));
        coder.encodeObjectForKey(QVariant::fromValue(other), QStringLiteral("other"));
    }
    static NSObjectPtr initWithCoder(NSKeyedUnarchiver &coder)
    {
        auto note = std::make_shared<Note>();
        note->title = coder.decodeObjectForKey(QStringLiteral("title")).toString();
        note->author = coder.decodeObjectForKey(QStringLiteral("author")).toString();
        note->date = coder.decodeIntForKey(QStringLiteral("date"));
        note->published = coder.decodeBoolForKey(QStringLiteral("published"));
        note->array = coder.decodeObjectForKey(QStringLiteral("array")).toList();
        note->other = coder.decodeObjectForKey(QStringLiteral("other")).value<NSObjectPtr>();
        return note;
    }
    QString title, author;
    qint32 date = 0;
    bool published = false;
    QVariantList array;
    NSObjectPtr other;
};

// Generic readers for Apple's own classes in the fixtures: they keep the keys asked for.
struct Keys : NSObject {
    QString name;
    QVariantMap values;
    QString className() const override { return name; }
};
template <const char *Name, const char *...Key>
NSObjectPtr readKeys(NSKeyedUnarchiver &coder)
{
    auto object = std::make_shared<Keys>();
    object->name = QLatin1String(Name);
    for (const char *key : {Key...})
        object->values.insert(QLatin1String(key), coder.decodeObjectForKey(QLatin1String(key)));
    return object;
}
const char kZV[] = "ZVScheduleItem", kTavrin[] = "TavrinScheduleItem", kScheduleTime[] = "scheduleTime";
const char kTestDummy[] = "TestDummy", kFormatter[] = "NSDateIntervalFormatter", kCalendar[] = "NSCalendar";
const char kArrayOfInts[] = "arrayOfInts", kArrayOfStrings[] = "arrayOfStrings", kDictionary[] = "dictionary",
           kSet[] = "set", kTimeZone[] = "NS.timeZone", kCalendarKey[] = "NS.calendar",
           kStart[] = "NS.gstartdate", kZone[] = "NS.timezone";

QVariant decodeRoot(const QByteArray &data, const QString &key, bool *failed)
{
    NSKeyedUnarchiver unarchiver(data);
    const QVariant v = unarchiver.decodeObjectForKey(key);
    *failed = unarchiver.failed();
    return v;
}

QByteArray encode(const QVariantMap &values)
{
    QByteArray data;
    NSKeyedArchiver archiver(&data);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        archiver.encodeObjectForKey(it.value(), it.key());
    archiver.finishEncoding();
    return data;
}

// The object that a {CF$UID: n} reference names in OBJECTS.
QVariant deref(const QVariantList &objects, const QVariant &ref)
{
    const QVariantMap m = ref.toMap();
    if (m.size() != 1 || !m.contains(QStringLiteral("CF$UID")))
        return QVariant(QStringLiteral("<not a UID>"));
    const qint64 uid = m.value(QStringLiteral("CF$UID")).toLongLong();
    return uid >= 0 && uid < objects.size() ? objects.at(uid) : QVariant(QStringLiteral("<out of range>"));
}

} // namespace

class SchedulesArchiveTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        NSKeyedUnarchiver::setClassForClassName(QStringLiteral("Note"), &Note::initWithCoder);
        NSKeyedUnarchiver::setClassForClassName(QLatin1String(kTestDummy),
            &readKeys<kTestDummy, kArrayOfInts, kArrayOfStrings, kDictionary, kSet>);
        NSKeyedUnarchiver::setClassForClassName(QLatin1String(kFormatter), &readKeys<kFormatter, kTimeZone, kCalendarKey>);
        NSKeyedUnarchiver::setClassForClassName(QLatin1String(kCalendar), &readKeys<kCalendar, kStart, kZone>);
    }

    void roundTripOfEveryKind_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("text") << QVariant(QStringLiteral("Zeitplan \u00fc \U0001F600"));
        QTest::newRow("empty text") << QVariant(QStringLiteral(""));
        QTest::newRow("negative integer") << QVariant(qint64(-5));
        QTest::newRow("large integer") << QVariant(qint64(1) << 40);
        QTest::newRow("real") << QVariant(1.5);
        QTest::newRow("flag") << QVariant(true);
        QTest::newRow("data") << QVariant(QByteArray("\x00\x01\xff", 3));
        QTest::newRow("date") << QVariant(QDateTime::fromMSecsSinceEpoch(1304323200123, QTimeZone::utc()));
        QTest::newRow("nested list") << QVariant(QVariantList{QStringLiteral("a"), QVariantList{qint64(1), 2.5},
                                                              QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}});
        QTest::newRow("dictionary") << QVariant(QVariantMap{{QStringLiteral("one"), qint64(1)},
                                                            {QStringLiteral("list"), QVariantList{}}});
        QTest::newRow("calendar date, named zone, fraction") << QVariant::fromValue(
            NSCalendarDate(326016000.75, QTimeZone("Europe/Berlin")));
        QTest::newRow("calendar date, fixed zone, own format") << QVariant::fromValue(
            NSCalendarDate(-1234.5, QTimeZone(-9000), QStringLiteral("%d.%m.%Y")));
        QTest::newRow("time zone") << QVariant::fromValue(QTimeZone("America/New_York"));
    }
    void roundTripOfEveryKind()
    {
        QFETCH(QVariant, value);
        const QByteArray data = encode({{QStringLiteral("root"), value}});
        QVERIFY(data.startsWith("bplist00"));
        bool failed = true;
        const QVariant back = decodeRoot(data, QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        QCOMPARE(back.typeId(), value.typeId() == QMetaType::Int ? QMetaType::LongLong : value.typeId());
        if (value.typeId() == qMetaTypeId<NSCalendarDate>()) {
            const NSCalendarDate a = value.value<NSCalendarDate>(), b = back.value<NSCalendarDate>();
            QCOMPARE(b.timeIntervalSinceReferenceDate(), a.timeIntervalSinceReferenceDate());
            QCOMPARE(b.timeZone().id(), a.timeZone().offsetFromUtc(QDateTime::currentDateTimeUtc()) == -9000
                                            ? QByteArray("UTC-02:30") : a.timeZone().id());
            QCOMPARE(b.calendarFormat(), a.calendarFormat());
            QCOMPARE(b.description(), a.description());
        } else if (value.typeId() == qMetaTypeId<QTimeZone>()) {
            QCOMPARE(back.value<QTimeZone>().id(), value.value<QTimeZone>().id());
        } else {
            QCOMPARE(back, value);
        }
    }

    void absentValuesAndMissingKeys()
    {
        QByteArray data;
        NSKeyedArchiver archiver(&data);
        archiver.encodeObjectForKey(QVariant(), QStringLiteral("nil"));
        archiver.encodeObjectForKey(QString(), QStringLiteral("absent text"));
        archiver.encodeIntForKey(-7, QStringLiteral("int"));
        archiver.encodeBoolForKey(true, QStringLiteral("flag"));
        archiver.finishEncoding();
        NSKeyedUnarchiver u(data);
        QVERIFY(!u.decodeObjectForKey(QStringLiteral("nil")).isValid());
        QVERIFY(!u.decodeObjectForKey(QStringLiteral("absent text")).isValid());
        QVERIFY(!u.decodeObjectForKey(QStringLiteral("missing")).isValid());
        QCOMPARE(u.decodeIntForKey(QStringLiteral("missing")), 0);
        QCOMPARE(u.decodeBoolForKey(QStringLiteral("missing")), false);
        QCOMPARE(u.decodeIntForKey(QStringLiteral("int")), -7);
        QCOMPARE(u.decodeBoolForKey(QStringLiteral("flag")), true);
        QVERIFY(!u.failed());
        // A key of another kind reads as a missing one would, and decoding goes on.
        QCOMPARE(u.decodeIntForKey(QStringLiteral("nil")), 0);
        QCOMPARE(u.decodeBoolForKey(QStringLiteral("nil")), false);
        QCOMPARE(u.decodeObjectForKey(QStringLiteral("int")), QVariant(qint64(-7)));
        QVERIFY(!u.failed());
        QCOMPARE(u.decodeIntForKey(QStringLiteral("int")), -7);
    }

    void oneObjectArchivedOnceAndSharedOnReading()
    {
        auto item = std::make_shared<ZVScheduleItem>();
        auto note = std::make_shared<Note>();
        note->title = QStringLiteral("self");
        note->other = note; // refers to itself: written once, but a cycle on reading
        const QVariant v = QVariant::fromValue(NSObjectPtr(item));
        const QByteArray data = encode({{QStringLiteral("root"), QVariantList{v, v}}});
        bool failed = true;
        const QVariantList back = decodeRoot(data, QStringLiteral("root"), &failed).toList();
        QVERIFY(!failed);
        QCOMPARE(back.size(), 2);
        QVERIFY(objectFromVariant(back.at(0)));
        QCOMPARE(objectFromVariant(back.at(0)), objectFromVariant(back.at(1)));

        const QByteArray cyclic = encode({{QStringLiteral("root"), QVariant::fromValue(NSObjectPtr(note))}});
        note->other.reset();
        QVERIFY(!cyclic.isEmpty());
        decodeRoot(cyclic, QStringLiteral("root"), &failed);
        QVERIFY(failed);
    }

    void valueWithoutArchivedFormFailsTheWrite()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(!MyExtensions::writeToArchivedFileWithKey({QVariant(QPoint(1, 2))}, path, QStringLiteral("Schedules")));
        QVERIFY(!QFileInfo::exists(path));
    }

    void writtenFileKeyByKey()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        auto zv = std::make_shared<ZVScheduleItem>();
        zv->setScheduleTime(NSCalendarDate(326016000.0, QTimeZone(7200)));
        zv->setUsername(QStringLiteral("ann"));
        zv->setEmailids(QString()); // absent: nil
        zv->setSelectedDaysForSchedule(QVariantList{1, 3});
        zv->setStatus(-2);
        auto tv = std::make_shared<TavrinScheduleItem>();
        QVERIFY(MyExtensions::writeToArchivedFileWithKey(
            {QVariant::fromValue(NSObjectPtr(zv)), QVariant::fromValue(NSObjectPtr(tv))}, path, QStringLiteral("Schedules")));
        QVERIFY(TestSupport::readFile(path).startsWith("bplist00"));

        const QVariantMap archive = PropertyList::readFile(path).value_or(QVariant()).toMap();
        QCOMPARE(archive.value(QStringLiteral("$archiver")).toString(), QStringLiteral("NSKeyedArchiver"));
        QCOMPARE(archive.value(QStringLiteral("$version")).toLongLong(), 100000);
        const QVariantList objects = archive.value(QStringLiteral("$objects")).toList();
        QCOMPARE(objects.value(0).toString(), QStringLiteral("$null"));
        const QVariantMap top = archive.value(QStringLiteral("$top")).toMap();
        QCOMPARE(top.keys(), QStringList{QStringLiteral("Schedules")});

        auto classOf = [&](const QVariantMap &object) { return deref(objects, object.value(QStringLiteral("$class"))).toMap(); };
        const QVariantMap root = deref(objects, top.value(QStringLiteral("Schedules"))).toMap();
        QCOMPARE(classOf(root).value(QStringLiteral("$classname")).toString(), QStringLiteral("NSMutableArray"));
        QCOMPARE(classOf(root).value(QStringLiteral("$classes")).toStringList(),
                 (QStringList{QStringLiteral("NSMutableArray"), QStringLiteral("NSArray"), QStringLiteral("NSObject")}));
        const QVariantList records = root.value(QStringLiteral("NS.objects")).toList();
        QCOMPARE(records.size(), 2);

        const QVariantMap z = deref(objects, records.at(0)).toMap();
        QCOMPARE(classOf(z).value(QStringLiteral("$classes")).toStringList(),
                 (QStringList{QStringLiteral("ZVScheduleItem"), QStringLiteral("NSObject")}));
        QStringList zKeys = z.keys();
        zKeys.removeOne(QStringLiteral("$class"));
        QStringList expectedZ{"scheduleType", "scheduleTime", "frequency", "status", "destination", "username",
                              "emailids", "displayDesktopNotification", "sendEmailNotification", "userAtServer",
                              "serverName", "password", "processReferenceFile", "isUseSSL", "scheduleTimeSettings",
                              "selectedDaysForSchedule", "quotaServerName"};
        std::sort(expectedZ.begin(), expectedZ.end());
        QCOMPARE(zKeys, expectedZ);
        // Integers and flags inline, with their kinds; texts by reference; nil as UID 0.
        QCOMPARE(z.value(QStringLiteral("frequency")), QVariant(qint64(2)));
        QCOMPARE(z.value(QStringLiteral("status")), QVariant(qint64(-2)));
        QCOMPARE(z.value(QStringLiteral("isUseSSL")), QVariant(false));
        QCOMPARE(deref(objects, z.value(QStringLiteral("username"))), QVariant(QStringLiteral("ann")));
        QCOMPARE(deref(objects, z.value(QStringLiteral("destination"))), QVariant(QStringLiteral("MyPelloma")));
        QCOMPARE(z.value(QStringLiteral("emailids")).toMap().value(QStringLiteral("CF$UID")).toLongLong(), 0);
        const QVariantMap days = deref(objects, z.value(QStringLiteral("selectedDaysForSchedule"))).toMap();
        QCOMPARE(classOf(days).value(QStringLiteral("$classname")).toString(), QStringLiteral("NSMutableArray"));
        const QVariantList dayRefs = days.value(QStringLiteral("NS.objects")).toList();
        QCOMPARE(dayRefs.size(), 2);
        QCOMPARE(deref(objects, dayRefs.at(1)), QVariant(qint64(3)));
        // The date in Apple's keyed form.
        const QVariantMap date = deref(objects, z.value(QStringLiteral("scheduleTime"))).toMap();
        QCOMPARE(classOf(date).value(QStringLiteral("$classes")).toStringList(),
                 (QStringList{QStringLiteral("NSCalendarDate"), QStringLiteral("NSDate"), QStringLiteral("NSObject")}));
        QCOMPARE(date.value(QStringLiteral("NS.time")), QVariant(326016000.0));
        QCOMPARE(deref(objects, date.value(QStringLiteral("NS.format"))), QVariant(QStringLiteral("%Y-%m-%d %H:%M:%S %z")));
        const QVariantMap zone = deref(objects, date.value(QStringLiteral("NS.timezone"))).toMap();
        QCOMPARE(classOf(zone).value(QStringLiteral("$classname")).toString(), QStringLiteral("NSTimeZone"));
        QCOMPARE(deref(objects, zone.value(QStringLiteral("NS.name"))), QVariant(QStringLiteral("GMT+0200")));
        QVERIFY(deref(objects, zone.value(QStringLiteral("NS.data"))).toByteArray().startsWith("TZif2"));

        const QVariantMap t = deref(objects, records.at(1)).toMap();
        QCOMPARE(classOf(t).value(QStringLiteral("$classname")).toString(), QStringLiteral("TavrinScheduleItem"));
        QCOMPARE(t.size(), 22 + 1);
        for (const char *key : {"tavrinUserName", "shouldStartMissedScheduleBackup", "sendLogExtract",
                                "notifyOnFailure", "isAutoSyncEnabled", "quotaServerName"})
            QVERIFY2(t.contains(QLatin1String(key)), key);
        QVERIFY(!t.contains(QStringLiteral("isBackupNow")));

        // Python's own reader resolves the same file.
        const QByteArray json = runPython(QStringLiteral("dump_archive.py"), {path, QStringLiteral("Schedules")});
        QVERIFY(!json.isNull());
        const QJsonArray pyRecords = QJsonDocument::fromJson(json).object().value(QStringLiteral("NS.objects")).toArray();
        QCOMPARE(pyRecords.size(), 2);
        const QJsonObject pz = pyRecords.at(0).toObject();
        QCOMPARE(pz.value(QStringLiteral("$class")).toString(), QStringLiteral("ZVScheduleItem"));
        QCOMPARE(pz.value(QStringLiteral("status")).toInt(), -2); // 8-byte signed, as the Mac reads it
        QCOMPARE(pz.value(QStringLiteral("username")).toString(), QStringLiteral("ann"));
        QVERIFY(pz.value(QStringLiteral("emailids")).isNull());
        QCOMPARE(pz.value(QStringLiteral("scheduleTime")).toObject().value(QStringLiteral("NS.timezone")).toObject()
                     .value(QStringLiteral("NS.name")).toString(), QStringLiteral("GMT+0200"));
        QCOMPARE(pyRecords.at(1).toObject().value(QStringLiteral("destination")).toString(), QStringLiteral("My Tavrin"));
    }

    // The TZif bytes written for a zone are read right by the C library's own zone reader.
    void zoneDataReadByTheCLibrary_data()
    {
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("offset"); // at 2011-05-02
        QTest::newRow("GMT") << QTimeZone::utc() << "+0000";
        QTest::newRow("GMT+0530") << QTimeZone(19800) << "+0530";
        QTest::newRow("GMT-0230") << QTimeZone(-9000) << "-0230";
        QTest::newRow("Europe/Berlin") << QTimeZone("Europe/Berlin") << "+0200";
    }
    void zoneDataReadByTheCLibrary()
    {
        QFETCH(QTimeZone, zone);
        QFETCH(QString, offset);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zone"));
        QVERIFY(TestSupport::writeFile(path, NSKeyedArchiver::timeZoneData(zone)));
        QProcess date;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), path);
        date.setProcessEnvironment(env);
        date.start(QStringLiteral("date"), {QStringLiteral("-d"), QStringLiteral("@1304323200"), QStringLiteral("+%z")});
        QVERIFY(date.waitForFinished(10000));
        QCOMPARE(QString::fromLatin1(date.readAllStandardOutput().trimmed()), offset);
    }

    void appleWrittenArchives()
    {
        bool failed = true;
        // A root NSDate.
        QVariant v = decodeRoot(TestSupport::readFile(fixture("date.bin.plist")), QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        QCOMPARE(v.toDateTime(), QDateTime(QDate(2039, 5, 12), QTime(20, 5, 12), QTimeZone::utc()));
        // XML, one element shared by UID.
        v = decodeRoot(TestSupport::readFile(fixture("NSKeyedUnarchiver-ArrayTest.plist")), QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        QCOMPARE(v.toStringList(), (QStringList{"baa", "baa", "black", "sheep"}));
        // Nested arrays.
        v = decodeRoot(TestSupport::readFile(fixture("simpleArray.plist")), QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        QCOMPARE(v.toList().size(), 3);
        QCOMPARE(v.toList().at(2).toStringList(), (QStringList{"innerValue3", "innerValue4"}));
        // A nil root: nothing, and the list reader gives an empty list.
        v = decodeRoot(TestSupport::readFile(fixture("null.bin.plist")), QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        QVERIFY(!v.isValid());
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(fixture("null.bin.plist"), QStringLiteral("root")),
                 std::optional<QVariantList>(QVariantList()));
        // An array that contains itself.
        decodeRoot(TestSupport::readFile(fixture("circularReference.plist")), QStringLiteral("root"), &failed);
        QVERIFY(failed);
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(fixture("circularReference.plist"), QStringLiteral("root")),
                 std::nullopt);
        // A custom class with inline scalars and an array.
        v = decodeRoot(TestSupport::readFile(fixture("note.plist")), QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        auto note = std::dynamic_pointer_cast<Note>(objectFromVariant(v));
        QVERIFY(note);
        QCOMPARE(note->title, QStringLiteral("Some cool title"));
        QCOMPARE(note->author, QStringLiteral("Michael Wright"));
        QCOMPARE(note->date, 2025);
        QCOMPARE(note->published, true);
        QCOMPARE(note->array, (QVariantList{QStringLiteral("Hello, World!"), qint64(42), true}));
        // NSSet, NSArray of numbers, NSDictionary; a class dictionary without $classes.
        v = decodeRoot(TestSupport::readFile(fixture("collections.bin.plist")), QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        auto dummy = std::dynamic_pointer_cast<Keys>(objectFromVariant(v));
        QVERIFY(dummy);
        QCOMPARE(dummy->values.value(kArrayOfInts).toList(), (QVariantList{qint64(1), qint64(2), qint64(3)}));
        QCOMPARE(dummy->values.value(kSet).toList().size(), 4);
        QCOMPARE(dummy->values.value(kDictionary).toMap(),
                 (QVariantMap{{"baz", QStringLiteral("aaa")}, {"foo", QStringLiteral("bar")}}));
        // NSTimeZone {NS.name "GMT", NS.data as NSMutableData}, NSDate before 1970.
        v = decodeRoot(TestSupport::readFile(fixture("Fixtures__macOS-10.14__DateIntervalFormatter-Default.archive")),
                       QStringLiteral("root"), &failed);
        QVERIFY(!failed);
        auto formatter = std::dynamic_pointer_cast<Keys>(objectFromVariant(v));
        QVERIFY(formatter);
        const QTimeZone gmt = formatter->values.value(kTimeZone).value<QTimeZone>();
        QVERIFY(gmt.isValid());
        QCOMPARE(gmt.offsetFromUtc(QDateTime::currentDateTimeUtc()), 0);
        auto calendar = std::dynamic_pointer_cast<Keys>(objectFromVariant(formatter->values.value(kCalendarKey)));
        QVERIFY(calendar);
        QCOMPARE(calendar->values.value(kStart).toDateTime(), QDateTime(QDate(1582, 10, 15), QTime(0, 0), QTimeZone::utc()));
        // A long list of dictionaries with NSDate values, written by an iOS service.
        const auto running = MyExtensions::initWithContentsOfArchivedFileWithKey(
            fixture("nsarray_runningprocesses.bplist"), QStringLiteral("root"));
        QVERIFY(running);
        QVERIFY(running->size() > 300);
        const QVariantMap first = running->first().toMap();
        QCOMPARE(first.value("name").toString(), QStringLiteral("contactsd"));
        QCOMPARE(first.value("pid"), QVariant(qint64(84474)));
        QCOMPARE(first.value("isApplication"), QVariant(false));
        QCOMPARE(first.value("startDate").toDateTime().toMSecsSinceEpoch(),
                 qint64(std::floor((680457815.615284 + 978307200) * 1000)));
    }

    // Dates in a Mac-laid-out schedule file, as the unarchiver gives them (before a record
    // turns them into their text form): the instant and the zone.
    void macDatesKeepInstantAndZone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(makeAppleSchedules(path));
        NSKeyedUnarchiver::setClassForClassName(QLatin1String(kZV), &readKeys<kZV, kScheduleTime>);
        NSKeyedUnarchiver::setClassForClassName(QLatin1String(kTavrin), &readKeys<kTavrin, kScheduleTime>);
        bool failed = true;
        const QVariantList records = decodeRoot(TestSupport::readFile(path), QStringLiteral("Schedules"), &failed).toList();
        NSKeyedUnarchiver::setClassForClassName(QLatin1String(kZV),
            [](NSKeyedUnarchiver &c) -> NSObjectPtr { return ZVScheduleItem::initWithCoder(c); });
        NSKeyedUnarchiver::setClassForClassName(QLatin1String(kTavrin),
            [](NSKeyedUnarchiver &c) -> NSObjectPtr { return TavrinScheduleItem::initWithCoder(c); });
        QVERIFY(!failed);
        QCOMPARE(records.size(), 4);
        auto time = [&](int i) {
            return std::dynamic_pointer_cast<Keys>(objectFromVariant(records.at(i)))->values.value(kScheduleTime);
        };
        const NSCalendarDate berlin = time(0).value<NSCalendarDate>();
        QCOMPARE(berlin.timeIntervalSinceReferenceDate(), 1304323200.75 - 978307200);
        QCOMPARE(berlin.timeZone().id(), QByteArray("Europe/Berlin"));
        QCOMPARE(time(1).value<NSCalendarDate>().timeZone().id(), QByteArray("America/New_York"));
        QCOMPARE(time(2).toDateTime(), QDateTime(QDate(2039, 5, 12), QTime(20, 5, 12), QTimeZone::utc()));
        const NSCalendarDate fixed = time(3).value<NSCalendarDate>();
        QCOMPARE(fixed.timeZone().offsetFromUtc(fixed.dateTime()), 19800);
        QCOMPARE(fixed.calendarFormat(), NSCalendarDate::defaultCalendarFormat());
    }

    void damagedArchivesReadAsNone_data()
    {
        QTest::addColumn<QString>("variant");
        for (const char *v : {"unknown-class", "cycle", "uid-out-of-range", "no-top", "no-objects", "root-not-list",
                              "root-inline", "bad-archiver", "nul-in-class-name"})
            QTest::newRow(v) << QString::fromLatin1(v);
    }
    void damagedArchivesReadAsNone()
    {
        QFETCH(QString, variant);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(makeAppleSchedules(path, variant));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules")), std::nullopt);
    }

    // A UTF-16 text with a NUL inside: the property-list library aborts when asked for such a
    // text the usual way (plist_get_string_val), found by the robustness run.
    void textWithNulCharacter()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(makeAppleSchedules(path, QStringLiteral("nul-in-text")));
        const auto list = MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
        QVERIFY(list && list->size() == 4);
        const auto z = std::dynamic_pointer_cast<ZVScheduleItem>(objectFromVariant(list->at(0)));
        QVERIFY(z);
        QCOMPARE(z->username(), QString::fromUtf8("\xc3\xa4\0nn", 5));
    }

    void foreignAndBrokenFilesReadAsNone_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("Schedules = (1, 2)\n");
        QTest::newRow("plist, not an archive") << PropertyList::toData(QVariantMap{{"Schedules", QVariantList{1}}},
                                                                       PropertyList::Format::Binary);
        QTest::newRow("plist array root") << PropertyList::toData(QVariantList{1, 2}, PropertyList::Format::XML);
        QTest::newRow("header only") << QByteArray("bplist00");
    }
    void foreignAndBrokenFilesReadAsNone()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(TestSupport::writeFile(path, bytes));
        QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules")), std::nullopt);
    }

    void truncatedCopiesOfAGoodFileReadAsNone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        QVERIFY(makeAppleSchedules(path));
        const QByteArray good = TestSupport::readFile(path);
        QVERIFY(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules")));
        // Every cut loses the trailer that locates the objects.
        for (qsizetype length = 0; length < good.size(); length += 7) {
            QVERIFY(TestSupport::writeFile(path, good.left(length)));
            QCOMPARE(MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules")), std::nullopt);
        }
    }

    // Arrays nested far deeper than any schedule list: refused without exhausting the stack.
    void deepNestingIsBounded()
    {
        const int levels = 5000;
        plist_t root = plist_new_dict();
        plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_dict_set_item(root, "$version", plist_new_uint(100000));
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "root", plist_new_uid(2));
        plist_dict_set_item(root, "$top", top);
        plist_t objects = plist_new_array();
        plist_array_append_item(objects, plist_new_string("$null"));
        plist_t cls = plist_new_dict();
        plist_dict_set_item(cls, "$classname", plist_new_string("NSArray"));
        plist_array_append_item(objects, cls);
        for (int i = 0; i < levels; ++i) {
            plist_t a = plist_new_dict();
            plist_dict_set_item(a, "$class", plist_new_uid(1));
            plist_t list = plist_new_array();
            if (i + 1 < levels)
                plist_array_append_item(list, plist_new_uid(uint64_t(i + 3)));
            plist_dict_set_item(a, "NS.objects", list);
            plist_array_append_item(objects, a);
        }
        plist_dict_set_item(root, "$objects", objects);
        char *bytes = nullptr;
        uint32_t length = 0;
        plist_to_bin(root, &bytes, &length);
        const QByteArray data(bytes, length);
        plist_to_bin_free(bytes);
        plist_free(root);
        bool failed = false;
        decodeRoot(data, QStringLiteral("root"), &failed);
        QVERIFY(failed);
    }
};

QTEST_GUILESS_MAIN(SchedulesArchiveTest)
#include "SchedulesArchiveTest.moc"
