#include "NSKeyedArchiver.h"

#include "NSCalendarDate.h"

#include <plist/plist.h>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

namespace {

constexpr int kMaxDepth = 256;

const QString kNull = QStringLiteral("$null");

plist_t newKeyString(const QString &s) { return plist_new_string(s.toUtf8().constData()); }

void appendBigEndian32(QByteArray &out, quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    out.append(b, 4);
}

// A TZif (version 2) description of a zone with one fixed offset and no transitions, as the
// Mac writes it for its "GMT" and "GMT+hhmm" zones.
QByteArray fixedOffsetTZif(int offsetSeconds, const QByteArray &abbreviation, const QByteArray &posix)
{
    QByteArray block;
    // ttinfo: utoff (4), isdst (1), abbreviation index (1); then the abbreviation with its NUL.
    appendBigEndian32(block, quint32(qint32(offsetSeconds)));
    block.append('\0').append('\0');
    block.append(abbreviation).append('\0');
    auto header = [&](QByteArray &out) {
        out.append("TZif2", 5);
        out.append(QByteArray(15, '\0'));
        for (quint32 count : {0u, 0u, 0u, 0u, 1u, quint32(abbreviation.size() + 1)})
            appendBigEndian32(out, count);
    };
    QByteArray out;
    header(out);
    out.append(block);
    header(out);
    out.append(block);
    out.append('\n').append(posix).append('\n');
    return out;
}

// The offset of a Qt fixed-offset zone ("UTC", "UTC+02:00"), or none for a named zone.
std::optional<int> fixedOffsetOf(const QTimeZone &zone)
{
    static const QRegularExpression form(QStringLiteral("^UTC(?:[+-]\\d{2}(?::\\d{2}(?::\\d{2})?)?)?$"));
    const QRegularExpressionMatch m = form.match(QString::fromUtf8(zone.id()));
    if (!m.hasMatch())
        return std::nullopt;
    return zone.offsetFromUtc(QDateTime::currentDateTimeUtc());
}

} // namespace

// The encoder's state and the parser's types stay here, out of the public header.
class NSKeyedArchiver::Private {
public:
    Private(NSKeyedArchiver *q, QByteArray *data);
    ~Private();
    void encodeObjectForKey(const QVariant &object, const QString &key);
    void encodeIntForKey(qint32 value, const QString &key);
    void encodeInt64ForKey(qint64 value, const QString &key);
    void encodeBoolForKey(bool value, const QString &key);
    void encodeDoubleForKey(double value, const QString &key);
    void finishEncoding();

    plist_t current() const { return m_stack.back(); }
    void setInCurrent(const QString &key, plist_t node);
    // The UID (index in $objects) of VALUE, archiving it first if needed; 0 for nil.
    uint64_t uidForValue(const QVariant &value);
    uint64_t appendObject(plist_t node);
    uint64_t classUid(const QString &className, const QStringList &classes);
    // Adds a class instance: a dictionary with $class, filled by FILL while it is current.
    template <typename Fill>
    uint64_t appendInstance(const QString &className, const QStringList &classes, Fill fill);
    uint64_t encodeCalendarDate(const NSCalendarDate &date);
    uint64_t encodeTimeZone(const QTimeZone &zone);

    QByteArray *m_data;
    plist_t m_top;
    std::vector<plist_t> m_objects;      // owned until finishEncoding moves them into the root
    std::vector<plist_t> m_stack;        // dictionaries being filled; m_top at the bottom
    QHash<QString, uint64_t> m_classes;  // class name -> UID of its class dictionary
    QHash<QString, uint64_t> m_strings;  // strings are archived once per distinct text
    QHash<const NSObject *, uint64_t> m_instances;
    QHash<const void *, uint64_t> m_lists;       // lists by their shared storage
    bool m_failed = false;
    bool m_finished = false;
    NSKeyedArchiver *q;
};


NSKeyedArchiver::Private::Private(NSKeyedArchiver *q, QByteArray *data)
    : m_data(data), m_top(plist_new_dict()), q(q)
{
    Q_ASSERT(data);
    m_objects.push_back(plist_new_string(kNull.toUtf8().constData()));
    m_stack.push_back(m_top);
}

NSKeyedArchiver::Private::~Private()
{
    if (!m_finished) {
        plist_free(m_top);
        for (plist_t node : m_objects)
            plist_free(node);
    }
}

void NSKeyedArchiver::Private::setInCurrent(const QString &key, plist_t node)
{
    Q_ASSERT(!m_finished);
    plist_dict_set_item(current(), key.toUtf8().constData(), node);
}

void NSKeyedArchiver::Private::encodeObjectForKey(const QVariant &object, const QString &key)
{
    const uint64_t uid = uidForValue(object);
    setInCurrent(key, plist_new_uid(uid));
}

void NSKeyedArchiver::Private::encodeIntForKey(qint32 value, const QString &key) { encodeInt64ForKey(value, key); }

void NSKeyedArchiver::Private::encodeInt64ForKey(qint64 value, const QString &key)
{
    // libplist holds integers unsigned; a negative one is written as its 8-byte two's
    // complement, which is how a binary property list stores a negative integer.
    setInCurrent(key, plist_new_uint(uint64_t(value)));
}

void NSKeyedArchiver::Private::encodeBoolForKey(bool value, const QString &key)
{
    setInCurrent(key, plist_new_bool(value ? 1 : 0));
}

void NSKeyedArchiver::Private::encodeDoubleForKey(double value, const QString &key)
{
    setInCurrent(key, plist_new_real(value));
}

uint64_t NSKeyedArchiver::Private::appendObject(plist_t node)
{
    m_objects.push_back(node);
    return m_objects.size() - 1;
}

uint64_t NSKeyedArchiver::Private::classUid(const QString &className, const QStringList &classes)
{
    const auto it = m_classes.constFind(className);
    if (it != m_classes.cend())
        return *it;
    plist_t dict = plist_new_dict();
    plist_t list = plist_new_array();
    for (const QString &c : classes)
        plist_array_append_item(list, newKeyString(c));
    plist_dict_set_item(dict, "$classes", list);
    plist_dict_set_item(dict, "$classname", newKeyString(className));
    const uint64_t uid = appendObject(dict);
    m_classes.insert(className, uid);
    return uid;
}

template <typename Fill>
uint64_t NSKeyedArchiver::Private::appendInstance(const QString &className, const QStringList &classes, Fill fill)
{
    if (int(m_stack.size()) > kMaxDepth) {
        m_failed = true;
        return 0;
    }
    plist_t dict = plist_new_dict();
    const uint64_t uid = appendObject(dict);
    m_stack.push_back(dict);
    fill(uid);
    m_stack.pop_back();
    // $class last, as the Mac writes it, after the content that it describes.
    plist_dict_set_item(dict, "$class", plist_new_uid(classUid(className, classes)));
    return uid;
}

uint64_t NSKeyedArchiver::Private::uidForValue(const QVariant &value)
{
    if (m_failed)
        return 0;
    if (!value.isValid())
        return 0;
    const int type = value.typeId();
    if (type == qMetaTypeId<NSObjectPtr>()) {
        const NSObjectPtr object = value.value<NSObjectPtr>();
        if (!object)
            return 0;
        const auto known = m_instances.constFind(object.get());
        if (known != m_instances.cend())
            return *known;
        QStringList classes{object->className()};
        classes += object->superclassNames();
        return appendInstance(object->className(), classes, [&](uint64_t uid) {
            // Known before its content, so that the content may refer back to the object.
            m_instances.insert(object.get(), uid);
            object->encodeWithCoder(*q);
        });
    }
    if (type == qMetaTypeId<NSCalendarDate>())
        return encodeCalendarDate(value.value<NSCalendarDate>());
    if (type == qMetaTypeId<QTimeZone>())
        return encodeTimeZone(value.value<QTimeZone>());
    switch (type) {
    case QMetaType::QString: {
        const QString s = value.toString();
        if (s.isNull()) // an absent text
            return 0;
        if (s.contains(QChar(0))) {
            // libplist would cut the text at its NUL: fail rather than store another text.
            m_failed = true;
            return 0;
        }
        const auto it = m_strings.constFind(s);
        if (it != m_strings.cend())
            return *it;
        const uint64_t uid = appendObject(newKeyString(s));
        m_strings.insert(s, uid);
        return uid;
    }
    case QMetaType::Bool:
        return appendObject(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UInt:
    case QMetaType::UShort:
        return appendObject(plist_new_uint(uint64_t(value.toLongLong())));
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return appendObject(plist_new_uint(value.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return appendObject(plist_new_real(value.toDouble()));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return appendObject(plist_new_data(bytes.constData(), uint64_t(bytes.size())));
    }
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        if (!dt.isValid()) {
            m_failed = true;
            return 0;
        }
        const double time = double(dt.toMSecsSinceEpoch()) / 1000.0 - double(NSCalendarDate::kReferenceDateOffset);
        return appendInstance(QStringLiteral("NSDate"), {QStringLiteral("NSDate"), QStringLiteral("NSObject")},
                              [&](uint64_t) { encodeDoubleForKey(time, QStringLiteral("NS.time")); });
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = value.toList();
        // A list that stands in several places (the same storage) is archived once, as the
        // reader keeps one list per UID: a chain of shared lists stays small both ways.
        const void *storage = list.isEmpty() ? nullptr : static_cast<const void *>(list.constData());
        if (storage) {
            const auto known = m_lists.constFind(storage);
            if (known != m_lists.cend())
                return *known;
        }
        return appendInstance(QStringLiteral("NSMutableArray"),
                              {QStringLiteral("NSMutableArray"), QStringLiteral("NSArray"), QStringLiteral("NSObject")},
                              [&](uint64_t uid) {
            if (storage)
                m_lists.insert(storage, uid);
            std::vector<uint64_t> uids;
            uids.reserve(size_t(list.size()));
            for (const QVariant &element : list)
                uids.push_back(uidForValue(element));
            plist_t objects = plist_new_array();
            for (uint64_t uid : uids)
                plist_array_append_item(objects, plist_new_uid(uid));
            plist_dict_set_item(current(), "NS.objects", objects);
        });
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        return appendInstance(QStringLiteral("NSMutableDictionary"),
                              {QStringLiteral("NSMutableDictionary"), QStringLiteral("NSDictionary"),
                               QStringLiteral("NSObject")},
                              [&](uint64_t) {
            plist_t keys = plist_new_array();
            plist_t objects = plist_new_array();
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                const uint64_t keyUid = uidForValue(it.key());
                const uint64_t objectUid = uidForValue(it.value());
                plist_array_append_item(keys, plist_new_uid(keyUid));
                plist_array_append_item(objects, plist_new_uid(objectUid));
            }
            plist_dict_set_item(current(), "NS.keys", keys);
            plist_dict_set_item(current(), "NS.objects", objects);
        });
    }
    default:
        m_failed = true;
        return 0;
    }
}

QString NSKeyedArchiver::timeZoneName(const QTimeZone &zone)
{
    if (const auto offset = fixedOffsetOf(zone)) {
        if (*offset == 0)
            return QStringLiteral("GMT");
        const int minutes = std::abs(*offset) / 60;
        return QStringLiteral("GMT%1%2%3").arg(*offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
            .arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    return QString::fromUtf8(zone.id());
}

QByteArray NSKeyedArchiver::timeZoneData(const QTimeZone &zone)
{
    const std::optional<int> fixed = fixedOffsetOf(zone);
    if (!fixed) {
        // A named zone is described by the system's own zone file, as on the Mac.
        QFile file(QStringLiteral("/usr/share/zoneinfo/") + QString::fromUtf8(zone.id()));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.read(1 << 20);
            if (bytes.startsWith("TZif"))
                return bytes;
        }
    }
    const int offset = fixed ? *fixed : zone.offsetFromUtc(QDateTime::currentDateTimeUtc());
    if (offset == 0)
        return fixedOffsetTZif(0, "GMT", "GMT0");
    const QString name = timeZoneName(QTimeZone(offset)).mid(3); // "+0200"
    // POSIX counts the other way round: "<+0200>-2", "<-0530>5:30".
    const int minutes = std::abs(offset) / 60;
    QString posix = QStringLiteral("<%1>%2%3").arg(name, offset > 0 ? QStringLiteral("-") : QString())
                        .arg(minutes / 60);
    if (minutes % 60)
        posix += QStringLiteral(":%1").arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return fixedOffsetTZif(offset, name.toLatin1(), posix.toLatin1());
}

uint64_t NSKeyedArchiver::Private::encodeTimeZone(const QTimeZone &zone)
{
    const QTimeZone z = zone.isValid() ? zone : QTimeZone::utc();
    return appendInstance(QStringLiteral("NSTimeZone"), {QStringLiteral("NSTimeZone"), QStringLiteral("NSObject")},
                          [&](uint64_t) {
        encodeObjectForKey(timeZoneName(z), QStringLiteral("NS.name"));
        encodeObjectForKey(timeZoneData(z), QStringLiteral("NS.data"));
    });
}

uint64_t NSKeyedArchiver::Private::encodeCalendarDate(const NSCalendarDate &date)
{
    return appendInstance(QStringLiteral("NSCalendarDate"),
                          {QStringLiteral("NSCalendarDate"), QStringLiteral("NSDate"), QStringLiteral("NSObject")},
                          [&](uint64_t) {
        encodeDoubleForKey(date.timeIntervalSinceReferenceDate(), QStringLiteral("NS.time"));
        encodeObjectForKey(QVariant::fromValue(date.timeZone()), QStringLiteral("NS.timezone"));
        encodeObjectForKey(date.calendarFormat(), QStringLiteral("NS.format"));
    });
}

void NSKeyedArchiver::Private::finishEncoding()
{
    Q_ASSERT(!m_finished);
    if (m_finished)
        return;
    m_finished = true;
    if (m_failed) {
        plist_free(m_top);
        for (plist_t node : m_objects)
            plist_free(node);
        m_objects.clear();
        m_data->clear();
        return;
    }
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "$version", plist_new_uint(100000));
    plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(root, "$top", m_top);
    plist_t objects = plist_new_array();
    for (plist_t node : m_objects)
        plist_array_append_item(objects, node);
    m_objects.clear();
    plist_dict_set_item(root, "$objects", objects);
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    if (bytes)
        *m_data = QByteArray(bytes, qsizetype(length));
    else
        m_data->clear();
    plist_to_bin_free(bytes);
    plist_free(root);
}

// The API forwards to the implementation, which keeps the parser's types out of the header.
NSKeyedArchiver::NSKeyedArchiver(QByteArray *data) : d(std::make_unique<Private>(this, data)) {}
NSKeyedArchiver::~NSKeyedArchiver() = default;
void NSKeyedArchiver::encodeObjectForKey(const QVariant &object, const QString &key) { d->encodeObjectForKey(object, key); }
void NSKeyedArchiver::encodeIntForKey(qint32 value, const QString &key) { d->encodeIntForKey(value, key); }
void NSKeyedArchiver::encodeInt64ForKey(qint64 value, const QString &key) { d->encodeInt64ForKey(value, key); }
void NSKeyedArchiver::encodeBoolForKey(bool value, const QString &key) { d->encodeBoolForKey(value, key); }
void NSKeyedArchiver::encodeDoubleForKey(double value, const QString &key) { d->encodeDoubleForKey(value, key); }
void NSKeyedArchiver::finishEncoding() { d->finishEncoding(); }
bool NSKeyedArchiver::failed() const { return d->m_failed; }
