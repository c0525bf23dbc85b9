// A date as the schedule records hold it: an instant (seconds since 2001-01-01 00:00:00 UTC,
// with its sub-second part, as a double) together with the time zone in which it is shown,
// and a calendar format of its own, carried through the keyed archive.
#pragma once

#include "zvcommon_export.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QTimeZone>
#include <optional>

class ZVCOMMON_EXPORT NSCalendarDate {
public:
    // The format of description() and initWithString().
    static QString defaultCalendarFormat() { return QStringLiteral("%Y-%m-%d %H:%M:%S %z"); }
    // Seconds between 1970-01-01 and 2001-01-01 (UTC).
    static constexpr qint64 kReferenceDateOffset = 978307200;

    // 2001-01-01 00:00:00 UTC.
    NSCalendarDate();
    // An invalid zone is taken as UTC; an empty format as the default format.
    NSCalendarDate(double timeIntervalSinceReferenceDate, const QTimeZone &timeZone,
                   const QString &calendarFormat = QString());
    // The instant of DATETIME (to the millisecond) shown in ZONE.
    static NSCalendarDate fromDateTime(const QDateTime &dateTime, const QTimeZone &timeZone);

    // Now, in the system's time zone.
    static NSCalendarDate calendarDate();

    // Parses TEXT in the default format "%Y-%m-%d %H:%M:%S %z" (e.g. "2011-05-02 10:00:00
    // +0200"); the result is shown in the fixed offset of the text. None when the text does
    // not have that form or names no real date or time (2011-02-30, 24:00:00, offsets beyond
    // +-18 hours). Surrounding blanks are allowed.
    static std::optional<NSCalendarDate> initWithString(const QString &text);

    // The text form that initWithString reads back: descriptionWithCalendarFormat(
    // defaultCalendarFormat()), whatever format the date carries, so that a date archived with
    // a format of its own ("%d.%m.%Y") keeps its time through the records' text round trip.
    QString description() const;
    // The instant in the date's own zone, formatted with the strftime-like conversions
    // %a %A %b %B %c %d %e %F (milliseconds) %H %I %j %m %M %p %S %w %y %Y %z %Z %%, always in
    // English whatever the process's locale. Seconds are whole (the fraction is dropped, never
    // rounded up). An unknown conversion is copied as it stands.
    QString descriptionWithCalendarFormat(const QString &format) const;

    // This date minus OTHER, in seconds.
    double timeIntervalSinceDate(const NSCalendarDate &other) const;

    double timeIntervalSinceReferenceDate() const { return m_time; }
    QTimeZone timeZone() const { return m_zone; }
    QString calendarFormat() const { return m_format; }
    // The instant to the millisecond, in the date's zone.
    QDateTime dateTime() const;

    // Same instant, same zone and same format.
    bool operator==(const NSCalendarDate &other) const;
    bool operator!=(const NSCalendarDate &other) const { return !(*this == other); }

private:
    double m_time = 0;
    QTimeZone m_zone;
    QString m_format;
};

Q_DECLARE_METATYPE(NSCalendarDate)
