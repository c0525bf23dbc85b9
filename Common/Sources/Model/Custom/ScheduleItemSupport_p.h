// What the two brands' schedule records (ZVScheduleItem, TavrinScheduleItem) share: display
// texts, element values of day lists, the time test of their equality, and the reading and
// writing of their keyed values.
#pragma once

#include "NSCalendarDate.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <optional>

class NSKeyedArchiver;
class NSKeyedUnarchiver;

namespace ScheduleItemSupport {

// The integer value of a day list element, as the Mac's intValue: a number's value (a real cut
// toward zero, clamped to 32 bits), a text's leading integer after blanks ("3", " 4", "5x";
// "x" gives 0; clamped to 32 bits), a flag's 0 or 1. An element of a kind that has no integer
// value (a date, a list, a record, nil) counts as 0, that is Sunday: a Mac-written list may
// hold one, and the rest of its days still count.
qint32 intValue(const QVariant &element);

// The names of DAYS ("Sunday" for 0 .. "Saturday" for 6) in list order, others skipped,
// joined with ","; "" (not null) when every value is out of range.
QString dayNames(const QVariantList &days);
QString weekdayNames(); // "Monday,Tuesday,Wednesday,Thursday,Friday"

// The frequency texts other than 5 ("Once", "Hourly ", "Daily", "Weekdays", "Monthly",
// otherwise "None"); null for 5.
QString frequencyText(qint32 frequency);
QString scheduleTypeText(qint32 type);
QString statusText(qint32 status, const QString &inProgressText);
QString scheduleTimeText(const std::optional<NSCalendarDate> &time);

// An absent text equals nothing; present texts compare exactly.
bool textsEqual(const QString &a, const QString &b);
// 0 <= receiver - other <= 60 s; false when either time is absent.
bool timeTestPasses(const std::optional<NSCalendarDate> &receiver, const std::optional<NSCalendarDate> &other);

// Writing: a text (nil when absent), a date (nil when absent), a day list (nil when absent).
void encodeText(NSKeyedArchiver &coder, const QString &text, const QString &key);
void encodeDate(NSKeyedArchiver &coder, const std::optional<NSCalendarDate> &date, const QString &key);
void encodeDays(NSKeyedArchiver &coder, const QVariantList *days, const QString &key);

// Reading, as decodeObjectForKey gives the value: a value of another kind than the key's reads
// as a missing key does (absent), so that the rest of the record and of the list still count.
// A text is a string. A date is an NSCalendarDate or an NSDate (shown in UTC), turned into
// its text in the default calendar format, whatever format the date carries, and parsed
// back: whole seconds and a fixed offset as its zone. A day list is any array (or set), its
// elements kept as they are (intValue gives their days).
QString decodeText(NSKeyedUnarchiver &coder, const QString &key);
std::optional<NSCalendarDate> decodeDate(NSKeyedUnarchiver &coder, const QString &key);
std::optional<QVariantList> decodeDays(NSKeyedUnarchiver &coder, const QString &key);

} // namespace ScheduleItemSupport
