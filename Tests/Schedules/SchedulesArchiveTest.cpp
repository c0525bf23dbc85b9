// The keyed archiver and unarchiver: round trips, the written layout as Python's own reader sees
// it, zone data as the C library reads it, archives by Apple's Foundation, laid out as the Mac does
// or damaged. Objects of any class read here (the records too) keep the values of their keys.
#include "NSArray_Extensions.h"
#include "NSCalendarDate.h"
#include "NSKeyedArchiver.h"
#include "NSKeyedUnarchiver.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace TestSupport;

namespace {

struct Keys : NSObject {
    QVariantMap values;
    QString className() const override { return QStringLiteral("Note"); }
    void encodeWithCoder(NSKeyedArchiver &coder) const override
    {
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            coder.encodeObjectForKey(it.value(), it.key());
    }
};
NSObjectPtr readKeys(NSKeyedUnarchiver &coder)
{
    auto object = std::make_shared<Keys>();
    for (const char *key : {"title", "author", "date", "published", "array", "other", "arrayOfInts", "dictionary", "set",
                            "NS.timeZone", "NS.calendar", "NS.gstartdate", "scheduleTime", "selectedDaysForSchedule",
                            "username"})
        if (const QVariant v = coder.decodeObjectForKey(QLatin1String(key)); v.isValid())
            object->values.insert(QLatin1String(key), v);
    return object;
}

// A decoded value as text: texts quoted, reals with "r", bytes as "x" and hex, objects as "obj".
QString dump(const QVariant &v)
{
    const int type = v.typeId();
    QStringList parts;
    if (!v.isValid())
        return QStringLiteral("nil");
    if (type == QMetaType::QString)
        return QLatin1Char('"') + v.toString().replace(QChar(0), QLatin1String("\\0")) + QLatin1Char('"');
    if (type == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 17) + QLatin1Char('r');
    if (type == QMetaType::QByteArray)
        return QLatin1Char('x') + QString::fromLatin1(v.toByteArray().toHex());
    if (type == QMetaType::QDateTime)
        return v.toDateTime().toUTC().toString(Qt::ISODateWithMs);
    if (type == qMetaTypeId<QTimeZone>())
        return QStringLiteral("zone ") + QString::fromUtf8(v.value<QTimeZone>().id());
    if (type == qMetaTypeId<NSCalendarDate>()) {
        const NSCalendarDate d = v.value<NSCalendarDate>();
        return QStringLiteral("cal %1 %2 %3").arg(d.timeIntervalSinceReferenceDate(), 0, 'f', 3)
            .arg(QString::fromUtf8(d.timeZone().id()), d.calendarFormat());
    }
    if (type == QMetaType::QVariantList) {
        for (const QVariant &e : v.toList())
            parts << dump(e);
        return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    if (type == QMetaType::QVariantMap) {
        const QVariantMap m = v.toMap();
        for (auto it = m.cbegin(); it != m.cend(); ++it)
            parts << it.key() + QLatin1Char(':') + dump(it.value());
        return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    if (const auto keys = std::dynamic_pointer_cast<Keys>(objectFromVariant(v)))
        return QStringLiteral("obj") + dump(keys->values);
    return type == QMetaType::LongLong || type == QMetaType::Bool ? v.toString() : QStringLiteral("?") + v.typeName();
}

QByteArray encode(const QString &key, const QVariant &value)
{
    QByteArray data;
    NSKeyedArchiver archiver(&data);
    archiver.encodeObjectForKey(value, key);
    archiver.finishEncoding();
    return data;
}

QVariant obj(const NSObjectPtr &p) { return QVariant::fromValue(p); }

const QString kFixtures = qEnvironmentVariable("SCHEDULES_FIXTURES"), kScript = kFixtures + QStringLiteral("/mac_archives.py");
const QString kFormat = QStringLiteral("%Y-%m-%d %H:%M:%S %z");
// The Mac-laid-out "good" list, as read here.
const QString kGood = QStringLiteral(
    "[obj{scheduleTime:cal 326016000.750 Europe/Berlin %1,selectedDaysForSchedule:[1,3],username:\"ann\"},"
    "obj{scheduleTime:cal 818114829.000 America/New_York %1,selectedDaysForSchedule:[\"6\",\"0\"],username:\"bob\"},"
    "obj{scheduleTime:2039-05-12T20:05:12.000Z},obj{scheduleTime:cal 326016000.000 UTC+05:30 %1,username:\"bob\"}]")
    .arg(kFormat);

} // namespace

class SchedulesArchiveTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        for (const char *name : {"Note", "TestDummy", "NSDateIntervalFormatter", "NSCalendar", "ZVScheduleItem",
                                 "TavrinScheduleItem"})
            NSKeyedUnarchiver::setClassForClassName(QLatin1String(name), &readKeys);
        QCOMPARE(runProgram(QStringLiteral("python3"), {kScript, QStringLiteral("make"), m_dir.path()}).exitCode, 0);
    }

    void roundTripOfEveryKind_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("text") << QVariant(QStringLiteral("Zeitplan \u00fc \U0001F600"));
        QTest::newRow("negative integer") << QVariant(qint64(-5));
        QTest::newRow("real") << QVariant(1.5);
        QTest::newRow("flag") << QVariant(true);
        QTest::newRow("data") << QVariant(QByteArray("\x00\x01\xff", 3));
        QTest::newRow("date") << QVariant(QDateTime::fromMSecsSinceEpoch(1304323200123, QTimeZone::utc()));
        QTest::newRow("nested list") << QVariant(QVariantList{QStringLiteral("a"), QVariantList{qint64(1), 2.5},
                                                              QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}});
        QTest::newRow("dictionary") << QVariant(QVariantMap{{"one", qint64(1)}, {"list", QVariantList{}}});
        QTest::newRow("calendar date, named zone, fraction")
            << QVariant::fromValue(NSCalendarDate(326016000.75, QTimeZone("Europe/Berlin")));
        QTest::newRow("calendar date, fixed zone, own format")
            << QVariant::fromValue(NSCalendarDate(-1234.5, QTimeZone(-9000), QStringLiteral("%d.%m.%Y")));
    }
    void roundTripOfEveryKind()
    {
        QFETCH(QVariant, value);
        const QByteArray data = encode(QStringLiteral("root"), value);
        QVERIFY(data.startsWith("bplist00"));
        NSKeyedUnarchiver unarchiver(data);
        QCOMPARE(dump(unarchiver.decodeObjectForKey(QStringLiteral("root"))), dump(value));
        QVERIFY(!unarchiver.failed());
    }

    // Object, 32-bit, 64-bit and flag reading of each key: a key of another kind reads as a
    // missing one would, and decoding goes on.
    void scalarsAndMissingKeys()
    {
        QByteArray data;
        NSKeyedArchiver a(&data);
        a.encodeObjectForKey(QVariant(), QStringLiteral("nil"));
        a.encodeObjectForKey(QString(), QStringLiteral("absent text"));
        a.encodeIntForKey(-7, QStringLiteral("int"));
        a.encodeInt64ForKey(qint64(1) << 40, QStringLiteral("big"));
        a.encodeBoolForKey(true, QStringLiteral("flag"));
        a.encodeDoubleForKey(-2.5, QStringLiteral("real"));
        a.finishEncoding();
        NSKeyedUnarchiver u(data);
        QStringList got;
        for (const char *k : {"nil", "absent text", "missing", "int", "big", "flag", "real"}) {
            const QString key = QLatin1String(k);
            got << QStringLiteral("%1 %2 %3 %4 %5").arg(dump(u.decodeObjectForKey(key))).arg(u.decodeIntForKey(key))
                       .arg(u.decodeInt64ForKey(key)).arg(u.decodeBoolForKey(key)).arg(u.decodeDoubleForKey(key));
        }
        QCOMPARE(got, (QStringList{"nil 0 0 0 0", "nil 0 0 0 0", "nil 0 0 0 0", "-7 -7 -7 1 -7",
                                   "1099511627776 0 1099511627776 1 1.09951e+12", "true 1 1 1 1", "-2.5r -2 -2 1 -2.5"}));
        QVERIFY(!u.failed());
    }

    void sharedAndSelfReferringObjects()
    {
        auto note = std::make_shared<Keys>();
        const QVariant v = obj(note);
        NSKeyedUnarchiver shared(encode(QStringLiteral("root"), QVariantList{v, v}));
        const QVariantList back = shared.decodeObjectForKey(QStringLiteral("root")).toList();
        QVERIFY(!shared.failed() && back.size() == 2 && objectFromVariant(back.at(0)));
        QCOMPARE(objectFromVariant(back.at(0)), objectFromVariant(back.at(1)));
        note->values.insert(QStringLiteral("other"), v); // written once, but a cycle on reading
        const QByteArray cyclic = encode(QStringLiteral("root"), v);
        note->values.clear();
        QVERIFY(!cyclic.isEmpty());
        NSKeyedUnarchiver u(cyclic);
        u.decodeObjectForKey(QStringLiteral("root"));
        QVERIFY(u.failed());
    }

    // Integers and flags inline with their kinds ("=key"), texts by reference, nil as UID 0.
    void writtenLayoutReadByPython()
    {
        auto zv = std::make_shared<ZVScheduleItem>();
        zv->setScheduleTime(NSCalendarDate(326016000.0, QTimeZone(7200)));
        zv->setUsername(QStringLiteral("ann"));
        zv->setEmailids(QString());
        zv->setSelectedDaysForSchedule(QVariantList{1, 3});
        zv->setStatus(-2);
        const QString path = m_dir.filePath(QStringLiteral("written.plist"));
        QVERIFY(MyExtensions::writeToArchivedFileWithKey({obj(zv), 7}, path, QStringLiteral("Schedules")));
        const Run r = runProgram(QStringLiteral("python3"), {kScript, QStringLiteral("dump"), path, QStringLiteral("Schedules")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromUtf8(r.out), QString::fromUtf8(readFile(kFixtures + QStringLiteral("/written.dump"))));
    }

    // The TZif bytes written for a zone, read by the C library's own zone reader (at 2011-05-02).
    void zoneDataReadByTheCLibrary()
    {
        const QString path = m_dir.filePath(QStringLiteral("zone"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), path);
        QStringList offsets;
        for (const QTimeZone &zone : {QTimeZone::utc(), QTimeZone(19800), QTimeZone(-9000), QTimeZone("Europe/Berlin")}) {
            QVERIFY(writeFile(path, NSKeyedArchiver::timeZoneData(zone)));
            offsets << runProgram(QStringLiteral("date"), {"-d", "@1304323200", "+%z"}, {}, env).out.trimmed();
        }
        QCOMPARE(offsets, (QStringList{"+0000", "+0530", "-0230", "+0200"}));
    }

    // What an archive holds under its key, or "failed". An expectation ending in "..." is the
    // beginning of what is read.
    void decodedArchives_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        auto apple = [](const char *row, const char *file, const QString &expected) {
            QTest::newRow(row) << readFile(kFixtures + QLatin1Char('/') + QLatin1String(file)) << expected;
        };
        apple("NSDate", "date.bin.plist", "2039-05-12T20:05:12.000Z");
        apple("XML, one element shared", "NSKeyedUnarchiver-ArrayTest.plist", "[\"baa\",\"baa\",\"black\",\"sheep\"]");
        apple("nil root", "null.bin.plist", "nil");
        apple("array containing itself", "circularReference.plist", "failed");
        apple("own class, inline scalars", "note.plist", "obj{array:[\"Hello, World!\",42,true],author:\"Michael Wright\","
                                                          "date:2025,published:true,title:\"Some cool title\"}");
        apple("set, numbers, dictionary, class without $classes", "collections.bin.plist",
              "obj{arrayOfInts:[1,2,3],dictionary:{baz:\"aaa\",foo:\"bar\"},set:[\"is\",\"ordered\",\"not\",\"set\"]}");
        apple("NSTimeZone with NSMutableData, date before 1970",
              "Fixtures__macOS-10.14__DateIntervalFormatter-Default.archive",
              "obj{NS.calendar:obj{NS.gstartdate:1582-10-15T00:00:00.000Z},NS.timeZone:zone UTC}");
        apple("dictionaries with dates, by an iOS service", "nsarray_runningprocesses.bplist",
              "[{isApplication:false,name:\"contactsd\",pid:84474,realAppName:\"/System/Library/Frameworks/Contacts.framework/"
              "Support/contactsd\",startDate:2022-07-25T16:03:35.615Z},...");
        auto mac = [&](const char *variant, const QString &expected) {
            QTest::newRow(variant) << readFile(m_dir.filePath(QLatin1String(variant) + QStringLiteral(".plist")))
                                   << expected;
        };
        mac("good", kGood);
        mac("data-objects", QString(kGood).replace("[1,3]", "[x0001ff61,x78797a,x,4]"));
        mac("nul-in-text", QString(kGood).replace("\"ann\"", "\"\u00e4\\0nn\""));
        for (const char *variant : {"unknown-class", "nul-in-class-name", "cycle", "uid-out-of-range", "no-top",
                                    "no-objects", "bad-archiver", "deep-nesting", "data-not-bytes"})
            mac(variant, "failed");
        QTest::newRow("empty") << QByteArray() << "failed";
        const QByteArray good = readFile(m_dir.filePath(QStringLiteral("good.plist")));
        QTest::newRow("good, cut short (no trailer)") << good.left(good.size() / 2) << "failed";
        QTest::newRow("plist, not an archive")
            << PropertyList::toData(QVariantMap{{"Schedules", QVariantList{1}}}, PropertyList::Format::Binary) << "failed";
        QTest::newRow("plist array root") << PropertyList::toData(QVariantList{1, 2}, PropertyList::Format::XML) << "failed";
    }
    void decodedArchives()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QVERIFY(!bytes.isEmpty() || QTest::currentDataTag() == QLatin1String("empty"));
        NSKeyedUnarchiver u(bytes);
        const QVariant v = u.decodeObjectForKey(u.containsValueForKey(QStringLiteral("Schedules"))
                                                    ? QStringLiteral("Schedules") : QStringLiteral("root"));
        const QString got = u.failed() ? QStringLiteral("failed") : dump(v);
        QCOMPARE(expected.endsWith(QLatin1String("...")) ? got.left(expected.size() - 3) + QStringLiteral("...") : got,
                 expected);
    }
};

QTEST_GUILESS_MAIN(SchedulesArchiveTest)
#include "SchedulesArchiveTest.moc"
