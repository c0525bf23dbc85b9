#include "ScheduleItemSupport_p.h"

#include "NSKeyedArchiver.h"
#include "NSKeyedUnarchiver.h"

#include <QDateTime>
#include <QStringList>
#include <cmath>
#include <limits>

namespace ScheduleItemSupport {

namespace {

const char *const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

qint32 clamp32(qint64 v)
{
    return qint32(std::clamp<qint64>(v, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

} // namespace

qint32 intValue(const QVariant &element)
{
    switch (element.typeId()) {
    case QMetaType::QString: {
        const QString s = element.toString();
        qsizetype i = 0;
        while (i < s.size() && s.at(i).isSpace())
            ++i;
        bool negative = false;
        if (i < s.size() && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-')))
            negative = s.at(i++) == QLatin1Char('-');
        qint64 v = 0;
        for (; i < s.size() && s.at(i) >= QLatin1Char('0') && s.at(i) <= QLatin1Char('9'); ++i)
            v = std::min<qint64>(v * 10 + (s.at(i).unicode() - '0'), qint64(1) << 40);
        return clamp32(negative ? -v : v);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = element.toDouble();
        if (!std::isfinite(d))
            return 0;
        return clamp32(qint64(std::clamp(d, -9e15, 9e15)));
    }
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return clamp32(qint64(std::min<quint64>(element.toULongLong(), quint64(std::numeric_limits<qint64>::max()))));
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UShort:
        return clamp32(element.toLongLong());
    default:
        return 0; // no integer value
    }
}

QString dayNames(const QVariantList &days)
{
    QStringList names;
    for (const QVariant &day : days) {
        const qint32 n = intValue(day);
        if (n >= 0 && n <= 6)
            names.append(QLatin1String(kDayNames[n]));
    }
    return QStringLiteral("") + names.join(QLatin1Char(',')); // an empty join is null
}

QString weekdayNames() { return QStringLiteral("Monday,Tuesday,Wednesday,Thursday,Friday"); }

QString frequencyText(qint32 frequency)
{
    switch (frequency) {
    case 0: return QStringLiteral("Once");
    case 1: return QStringLiteral("Hourly ");
    case 2: return QStringLiteral("Daily");
    case 3: return QStringLiteral("Weekdays");
    case 4: return QStringLiteral("Monthly");
    case 5: return QString();
    default: return QStringLiteral("None");
    }
}

QString scheduleTypeText(qint32 type)
{
    switch (type) {
    case 0: return QStringLiteral("Backup");
    case 1: return QStringLiteral("Restore");
    default: return QString();
    }
}

QString statusText(qint32 status, const QString &inProgressText)
{
    switch (status) {
    case 0: return QStringLiteral("");
    case 1: return inProgressText;
    case 2: return QStringLiteral("Canceled");
    case 3: return QStringLiteral("Completed");
    default: return QStringLiteral("InvalidStatus");
    }
}

QString scheduleTimeText(const std::optional<NSCalendarDate> &time)
{
    if (!time)
        return QString();
    return time->descriptionWithCalendarFormat(QStringLiteral("%a %b %d %Y %I:%M:%S %p"));
}

bool textsEqual(const QString &a, const QString &b) { return !a.isNull() && !b.isNull() && a == b; }

bool timeTestPasses(const std::optional<NSCalendarDate> &receiver, const std::optional<NSCalendarDate> &other)
{
    if (!receiver || !other)
        return false;
    const double d = receiver->timeIntervalSinceDate(*other);
    return d >= 0.0 && d <= 60.0; // a NaN fails both
}

void encodeText(NSKeyedArchiver &coder, const QString &text, const QString &key)
{
    coder.encodeObjectForKey(text.isNull() ? QVariant() : QVariant(text), key);
}

void encodeDate(NSKeyedArchiver &coder, const std::optional<NSCalendarDate> &date, const QString &key)
{
    coder.encodeObjectForKey(date ? QVariant::fromValue(*date) : QVariant(), key);
}

void encodeDays(NSKeyedArchiver &coder, const QVariantList *days, const QString &key)
{
    coder.encodeObjectForKey(days ? QVariant(*days) : QVariant(), key);
}

QString decodeText(NSKeyedUnarchiver &coder, const QString &key)
{
    const QVariant v = coder.decodeObjectForKey(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

std::optional<NSCalendarDate> decodeDate(NSKeyedUnarchiver &coder, const QString &key)
{
    const QVariant v = coder.decodeObjectForKey(key);
    QString text;
    if (v.typeId() == qMetaTypeId<NSCalendarDate>())
        text = v.value<NSCalendarDate>().description();
    else if (v.typeId() == QMetaType::QDateTime) // an NSDate describes itself in UTC
        text = NSCalendarDate::fromDateTime(v.toDateTime(), QTimeZone::utc()).description();
    else
        return std::nullopt;
    return NSCalendarDate::initWithString(text);
}

std::optional<QVariantList> decodeDays(NSKeyedUnarchiver &coder, const QString &key)
{
    const QVariant v = coder.decodeObjectForKey(key);
    if (v.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return v.toList();
}

} // namespace ScheduleItemSupport
