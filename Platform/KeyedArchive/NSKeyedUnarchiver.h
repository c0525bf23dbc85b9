// Reads a keyed archive written by NSKeyedArchiver here or by the Mac's Foundation (binary or
// XML property list; in XML a UID is the dictionary {CF$UID: n}).
//
// Archived forms and the QVariant that decodeObjectForKey gives for them:
//   UID 0 ("$null"), NSNull                -> null QVariant
//   string, NSString/NSMutableString       -> QString
//   integer / real / boolean               -> qint64 / double / bool
//   data, NSData/NSMutableData {NS.data}   -> QByteArray
//   NSArray, NSMutableArray, NSSet, NSMutableSet, NSOrderedSet, NSMutableOrderedSet
//                                          -> QVariantList
//   NSDictionary, NSMutableDictionary      -> QVariantMap (keys must be strings)
//   NSDate {NS.time}                       -> QDateTime (UTC, to the millisecond)
//   NSTimeZone {NS.name, NS.data}          -> QTimeZone
//   NSCalendarDate {NS.time, NS.timezone, NS.format}
//                                          -> NSCalendarDate
//   a class registered with setClassForClassName
//                                          -> NSObjectPtr made by its initWithCoder
// One UID decoded twice gives the same object (the same NSObjectPtr).
//
// Failure: anything that breaks the layout makes the whole decoding fail: bytes that are no
// property list, a root without $objects or $top, an $archiver other than "NSKeyedArchiver", a
// UID outside $objects, an object that contains itself (a cycle), nesting deeper than 256
// levels, a class name that is neither built in nor registered, an object of a built-in class
// whose own keys are damaged (an NSDate whose NS.time is no number, an NS.objects that is no
// array...), an inline array or dictionary where an object reference belongs (no archiver
// writes one). From then on failed() is true and every decode answers nil, 0 or false;
// nothing is thrown. Callers check failed() after decoding.
//
// A value of another kind than the decode asks for is no failure: the Mac's product writes
// lists that hold such values, and one of them must not cost the rest of the list.
//   decodeObjectForKey of an inline value (written by encodeInt/encodeBool, not by
//   encodeObject) gives the value itself: qint64, double, bool, QString, QByteArray, QDateTime;
//   decodeIntForKey / decodeInt64ForKey / decodeBoolForKey / decodeDoubleForKey of anything
//   but an inline number or flag (an object reference, a text...) give 0 / false / 0.0, as a
//   missing key does; so does decodeIntForKey of an integer outside the 32-bit range, and
//   decodeInt64ForKey of a real that is not finite or beyond the 64-bit range.
// What an object's value means for its key (a number where a text belongs) is the reading
// class's business.
#pragma once

#include "zvcommon_export.h"

#include "NSObject.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <memory>
#include <QVariant>
#include <vector>


class ZVCOMMON_EXPORT NSKeyedUnarchiver {
public:
    // The initWithCoder of a registered class: reads the object's keys from CODER (the
    // object's dictionary is current) and returns the new object, or null to make the
    // decoding fail.
    using ClassFactory = NSObjectPtr (*)(NSKeyedUnarchiver &coder);

    // Makes objects archived under CLASSNAME decodable, made by FACTORY. Registering a name
    // again replaces the factory. Thread-safe.
    static void setClassForClassName(const QString &className, ClassFactory factory);
    static ClassFactory classForClassName(const QString &className);

    // initForReadingWithData: parses DATA; when it is no keyed archive, failed() is true at once.
    explicit NSKeyedUnarchiver(const QByteArray &data);
    ~NSKeyedUnarchiver();
    NSKeyedUnarchiver(const NSKeyedUnarchiver &) = delete;
    NSKeyedUnarchiver &operator=(const NSKeyedUnarchiver &) = delete;

    // Each reads KEY of the object being decoded (at the top level, of $top).
    bool containsValueForKey(const QString &key) const;
    // Nil (a null QVariant) for a missing key or UID 0.
    QVariant decodeObjectForKey(const QString &key);
    // 0 / false / 0.0 for a missing key and for a value that is no number (see above).
    // Integers, reals (cut toward zero) and booleans are numbers.
    qint32 decodeIntForKey(const QString &key);
    qint64 decodeInt64ForKey(const QString &key);
    bool decodeBoolForKey(const QString &key);
    double decodeDoubleForKey(const QString &key);

    // Ends the decoding; decoding afterwards is a programming error.
    void finishDecoding();

    bool failed() const;
    // For initWithCoder: the archive holds something that this class cannot take.
    void failWithError();

private:
    class Private;
    std::unique_ptr<Private> d;
};
