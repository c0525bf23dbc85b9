// Writes a keyed archive in the layout that the Mac's Foundation reads and writes: a binary
// property list {$version: 100000, $archiver: "NSKeyedArchiver", $top: {key: UID},
// $objects: ["$null", ...]}, where every object other than an inline integer, flag or real is
// an entry of $objects referred to by its UID, and an object of a class is a dictionary with
// $class, the UID of {$classname, $classes}.
//
// Values that encodeObjectForKey takes (QVariant) and their archived form:
//   null QVariant, null NSObjectPtr,
//   null QString (an absent text)          -> UID 0 ("$null")
//   QString                                -> string (NSString), archived once per distinct
//                                             text; a text holding a NUL fails the encoding
//                                             (libplist would cut it short)
//   bool / integers / double               -> boolean / integer / real (NSNumber)
//   QByteArray                             -> data (NSData)
//   QVariantList, QStringList              -> NSMutableArray {NS.objects}, archived once per
//                                             shared list (the same storage)
//   QVariantMap                            -> NSMutableDictionary {NS.keys, NS.objects}
//   QDateTime                              -> NSDate {NS.time}
//   QTimeZone                              -> NSTimeZone {NS.name, NS.data (TZif bytes)}
//   NSCalendarDate                         -> NSCalendarDate {NS.time, NS.timezone, NS.format}
//   NSObjectPtr                            -> its class, content from its encodeWithCoder;
//                                             one object encoded twice is archived once
// Any other value kind makes the archive fail (failed(), empty data).
#pragma once

#include "zvcommon_export.h"

#include "NSObject.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <memory>
#include <QTimeZone>
#include <QVariant>
#include <vector>


class NSCalendarDate;

class ZVCOMMON_EXPORT NSKeyedArchiver {
public:
    // initForWritingWithMutableData: the archive goes into DATA at finishEncoding. DATA must
    // outlive the archiver until then.
    explicit NSKeyedArchiver(QByteArray *data);
    ~NSKeyedArchiver();
    NSKeyedArchiver(const NSKeyedArchiver &) = delete;
    NSKeyedArchiver &operator=(const NSKeyedArchiver &) = delete;

    // Each writes KEY into the object being encoded (at the top level, into $top). A key
    // written twice keeps the last value.
    void encodeObjectForKey(const QVariant &object, const QString &key);
    void encodeIntForKey(qint32 value, const QString &key);
    void encodeInt64ForKey(qint64 value, const QString &key);
    void encodeBoolForKey(bool value, const QString &key);
    void encodeDoubleForKey(double value, const QString &key);

    // Completes the archive and writes its bytes into the data given at construction (empty
    // when the archive failed). Encoding after this is a programming error.
    void finishEncoding();

    // True once a value could not be archived (a kind without keyed form, or nesting deeper
    // than 256 levels).
    bool failed() const;

    // The TZif bytes that describe ZONE (the system's zone file for a named zone, a generated
    // fixed-offset description otherwise) and the name under which the Mac knows it
    // ("Europe/Berlin", "GMT", "GMT+0200").
    static QByteArray timeZoneData(const QTimeZone &zone);
    static QString timeZoneName(const QTimeZone &zone);

private:
    class Private;
    std::unique_ptr<Private> d;
};
