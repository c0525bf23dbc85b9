#include "NSCalendarDate.h"

#include <QRegularExpression>
#include <cmath>

namespace {

// Instants further than this from 2001 (about 3,000 years) are held at the limit, so that
// every date converts to a QDateTime and to whole seconds without overflow.
constexpr double kLimitSeconds = 1e11;

const char *const kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char *const kMonths[] = {"January", "February", "March", "April", "May", "June", "July",
                               "August", "September", "October", "November", "December"};

QString twoDigits(int n) { return QString::number(n).rightJustified(2, QLatin1Char('0')); }

QString offsetText(int seconds)
{
    const QChar sign = seconds < 0 ? QLatin1Char('-') : QLatin1Char('+');
    const int minutes = std::abs(seconds) / 60;
    return sign + twoDigits(minutes / 60) + twoDigits(minutes % 60);
}

} // namespace

NSCalendarDate::NSCalendarDate() : m_zone(QTimeZone::utc()), m_format(defaultCalendarFormat()) {}

NSCalendarDate::NSCalendarDate(double timeIntervalSinceReferenceDate, const QTimeZone &timeZone,
                               const QString &calendarFormat)
    : m_time(timeIntervalSinceReferenceDate),
      m_zone(timeZone.isValid() ? timeZone : QTimeZone::utc()),
      m_format(calendarFormat.isEmpty() ? defaultCalendarFormat() : calendarFormat)
{
    if (!std::isfinite(m_time))
        m_time = 0;
    m_time = std::clamp(m_time, -kLimitSeconds, kLimitSeconds);
}

NSCalendarDate NSCalendarDate::fromDateTime(const QDateTime &dateTime, const QTimeZone &timeZone)
{
    return NSCalendarDate(double(dateTime.toMSecsSinceEpoch()) / 1000.0 - double(kReferenceDateOffset),
                          timeZone);
}

NSCalendarDate NSCalendarDate::calendarDate()
{
    return fromDateTime(QDateTime::currentDateTimeUtc(), QTimeZone::systemTimeZone());
}

std::optional<NSCalendarDate> NSCalendarDate::initWithString(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        "^\\s*(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2}) ([+-])(\\d{2})(\\d{2})\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    const int offsetHours = m.captured(8).toInt(), offsetMinutes = m.captured(9).toInt();
    if (!date.isValid() || !time.isValid() || offsetMinutes > 59 || offsetHours > 18)
        return std::nullopt;
    int offset = offsetHours * 3600 + offsetMinutes * 60;
    if (m.captured(7) == QLatin1String("-"))
        offset = -offset;
    if (std::abs(offset) > 18 * 3600)
        return std::nullopt;
    const QDateTime local(date, time, QTimeZone::utc());
    const qint64 epochSeconds = local.toSecsSinceEpoch() - offset;
    return NSCalendarDate(double(epochSeconds - kReferenceDateOffset),
                          offset == 0 ? QTimeZone::utc() : QTimeZone(offset));
}

QString NSCalendarDate::description() const { return descriptionWithCalendarFormat(defaultCalendarFormat()); }

QDateTime NSCalendarDate::dateTime() const
{
    const qint64 ms = qint64(std::floor((m_time + double(kReferenceDateOffset)) * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, m_zone);
}

QString NSCalendarDate::descriptionWithCalendarFormat(const QString &format) const
{
    // Whole seconds by flooring the instant itself, so that 59.9996 s never shows as the next
    // second through millisecond rounding.
    const double whole = std::floor(m_time);
    const int millis = std::clamp(int((m_time - whole) * 1000.0), 0, 999);
    const QDateTime dt = QDateTime::fromSecsSinceEpoch(qint64(whole) + kReferenceDateOffset, m_zone);
    const QDate d = dt.date();
    const QTime t = dt.time();
    const int weekday = d.dayOfWeek() % 7; // Qt: Monday 1 .. Sunday 7
    const int hour12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;

    QString out;
    out.reserve(format.size() + 16);
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        const QChar f = format.at(++i);
        switch (f.unicode()) {
        case 'a': out += QLatin1String(kWeekdays[weekday]).left(3); break;
        case 'A': out += QLatin1String(kWeekdays[weekday]); break;
        case 'b': out += QLatin1String(kMonths[d.month() - 1]).left(3); break;
        case 'B': out += QLatin1String(kMonths[d.month() - 1]); break;
        case 'c': out += descriptionWithCalendarFormat(QStringLiteral("%a %b %d %H:%M:%S %Z %Y")); break;
        case 'd': out += twoDigits(d.day()); break;
        case 'e': out += QString::number(d.day()); break;
        case 'F': out += QString::number(millis).rightJustified(3, QLatin1Char('0')); break;
        case 'H': out += twoDigits(t.hour()); break;
        case 'I': out += twoDigits(hour12); break;
        case 'j': out += QString::number(d.dayOfYear()).rightJustified(3, QLatin1Char('0')); break;
        case 'm': out += twoDigits(d.month()); break;
        case 'M': out += twoDigits(t.minute()); break;
        case 'p': out += t.hour() < 12 ? QLatin1String("AM") : QLatin1String("PM"); break;
        case 'S': out += twoDigits(t.second()); break;
        case 'w': out += QString::number(weekday); break;
        case 'y': out += twoDigits(std::abs(d.year()) % 100); break;
        case 'Y': out += d.year() >= 0 ? QString::number(d.year()).rightJustified(4, QLatin1Char('0'))
                                       : QString::number(d.year()); break;
        case 'z': out += offsetText(m_zone.offsetFromUtc(dt)); break;
        case 'Z': out += m_zone.abbreviation(dt); break;
        case '%': out += QLatin1Char('%'); break;
        default: out += QLatin1Char('%'); out += f; break;
        }
    }
    return out;
}

double NSCalendarDate::timeIntervalSinceDate(const NSCalendarDate &other) const
{
    return m_time - other.m_time;
}

bool NSCalendarDate::operator==(const NSCalendarDate &other) const
{
    return m_time == other.m_time && m_zone == other.m_zone && m_format == other.m_format;
}
