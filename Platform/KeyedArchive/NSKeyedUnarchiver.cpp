#include "NSKeyedUnarchiver.h"

#include "PropertyList_p.h"

#include "NSCalendarDate.h"

#include <plist/plist.h>
#include <QDateTime>
#include <QMutex>
#include <QRegularExpression>
#include <QTimeZone>
#include <QtEndian>
#include <cmath>
#include <limits>

namespace {

constexpr int kMaxDepth = 256;
// NS.time beyond this many seconds from 2001 (about 3,000 years) is no date of this world.
constexpr double kMaxDateSeconds = 1e11;

QMutex registryLock;

QHash<QString, NSKeyedUnarchiver::ClassFactory> &registry()
{
    static QHash<QString, NSKeyedUnarchiver::ClassFactory> classes;
    return classes;
}

// Through the pointer and its length: plist_get_string_val asserts (aborts) on a string with
// a NUL inside, which a damaged file can hold.
QString stringOf(plist_t node)
{
    uint64_t length = 0;
    const char *s = plist_get_string_ptr(node, &length);
    if (!s || length > uint64_t(std::numeric_limits<qsizetype>::max() / 2))
        return QString(QLatin1String(""));
    return QString::fromUtf8(s, qsizetype(length));
}

bool isType(plist_t node, plist_type type) { return node && plist_get_node_type(node) == type; }

// The one fixed offset of a TZif description without transitions, or none.
std::optional<int> tzifFixedOffset(const QByteArray &data)
{
    if (data.size() < 44 + 6 || !data.startsWith("TZif"))
        return std::nullopt;
    auto count = [&](int i) { return qFromBigEndian<quint32>(data.constData() + 20 + 4 * i); };
    // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
    if (count(3) != 0 || count(4) != 1)
        return std::nullopt;
    const int offset = qFromBigEndian<qint32>(data.constData() + 44);
    if (std::abs(offset) > 18 * 3600)
        return std::nullopt;
    return offset;
}

// The zone of an archived NSTimeZone: a name this system's zone database knows, a "GMT" or
// "GMT+hhmm" offset name, a fixed offset read from the TZif data; otherwise UTC.
QTimeZone zoneFromArchive(const QString &name, const QByteArray &data)
{
    static const QRegularExpression offsetName(
        QStringLiteral("^(?:GMT|UTC)(?:([+-])(\\d{1,2})(?::?(\\d{2}))?)?$"));
    const QRegularExpressionMatch m = offsetName.match(name);
    if (m.hasMatch()) {
        const int seconds = m.captured(2).toInt() * 3600 + m.captured(3).toInt() * 60;
        if (seconds <= 18 * 3600) {
            if (seconds == 0)
                return QTimeZone::utc();
            return QTimeZone(m.captured(1) == QLatin1String("-") ? -seconds : seconds);
        }
    }
    if (!name.isEmpty()) {
        const QTimeZone named(name.toUtf8());
        if (named.isValid())
            return named;
    }
    if (const auto offset = tzifFixedOffset(data))
        return *offset == 0 ? QTimeZone::utc() : QTimeZone(*offset);
    return QTimeZone::utc();
}

} // namespace

// The decoder's state and the parser's types stay here, out of the public header.
class NSKeyedUnarchiver::Private {
public:
    Private(NSKeyedUnarchiver *q, const QByteArray &data);
    ~Private();
    bool containsValueForKey(const QString &key) const;
    QVariant decodeObjectForKey(const QString &key);
    qint32 decodeIntForKey(const QString &key);
    qint64 decodeInt64ForKey(const QString &key);
    bool decodeBoolForKey(const QString &key);
    double decodeDoubleForKey(const QString &key);
    void finishDecoding();

    plist_t valueForKey(const QString &key) const;
    // An inline number or flag under KEY; none for anything else.
    std::optional<double> inlineNumberForKey(const QString &key) const;
    // NS.time of a date object: 0 when missing; a value that is no number fails the decoding.
    double timeForKey(const QString &key);
    // The $objects index of a UID node (or {CF$UID: n} dictionary); none when NODE is no UID.
    std::optional<uint64_t> uidOf(plist_t node) const;
    QVariant decodeUid(uint64_t uid);
    // A string, number, flag, data or date node as its QVariant; a failure for anything else.
    QVariant inlineValue(plist_t node);
    QVariant decodeInstance(plist_t dict);
    QVariant decodeBuiltIn(const QString &className, bool *known);
    QVariant decodeArray(plist_t dict);
    QVariant decodeDictionary(plist_t dict);
    QVariant fail() { m_failed = true; return QVariant(); }

    plist_t m_root = nullptr;
    plist_t m_top = nullptr;
    std::vector<plist_t> m_objects;
    std::vector<plist_t> m_stack;      // dictionaries being decoded; m_top at the bottom
    std::vector<char> m_state;         // per UID: 0 not seen, 1 being decoded, 2 decoded
    QHash<uint64_t, QVariant> m_decoded;
    int m_depth = 0;
    bool m_failed = false;
    bool m_finished = false;
    NSKeyedUnarchiver *q;
};

void NSKeyedUnarchiver::setClassForClassName(const QString &className, ClassFactory factory)
{
    QMutexLocker lock(&registryLock);
    registry().insert(className, factory);
}

NSKeyedUnarchiver::ClassFactory NSKeyedUnarchiver::classForClassName(const QString &className)
{
    QMutexLocker lock(&registryLock);
    return registry().value(className, nullptr);
}

NSKeyedUnarchiver::Private::Private(NSKeyedUnarchiver *q, const QByteArray &data) : q(q)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max()) {
        m_failed = true;
        return;
    }
    plist_t root = nullptr;
    // Texts are read by pointer and length here, and keys only looked up, never listed.
    if (!PropertyList::isSafeToParse(data, true)) {
        m_failed = true;
        return;
    }
    if (plist_is_binary(data.constData(), uint32_t(data.size())))
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    else if (data.trimmed().startsWith('<'))
        plist_from_xml(data.constData(), uint32_t(data.size()), &root);
    m_root = root;
    if (!isType(root, PLIST_DICT)) {
        m_failed = true;
        return;
    }
    plist_t archiver = plist_dict_get_item(root, "$archiver");
    plist_t top = plist_dict_get_item(root, "$top");
    plist_t objects = plist_dict_get_item(root, "$objects");
    if (!isType(archiver, PLIST_STRING) || stringOf(archiver) != QLatin1String("NSKeyedArchiver")
        || !isType(top, PLIST_DICT) || !isType(objects, PLIST_ARRAY)) {
        m_failed = true;
        return;
    }
    m_top = top;
    // The iterator, not plist_array_get_item: that one walks the list from its start.
    plist_array_iter it = nullptr;
    plist_array_new_iter(objects, &it);
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(objects, it, &item);
        if (!item)
            break;
        m_objects.push_back(item);
    }
    free(it);
    m_state.assign(m_objects.size(), 0);
    m_stack.push_back(m_top);
}

NSKeyedUnarchiver::Private::~Private()
{
    if (m_root)
        plist_free(m_root);
}

void NSKeyedUnarchiver::Private::finishDecoding()
{
    Q_ASSERT(!m_finished);
    m_finished = true;
}

plist_t NSKeyedUnarchiver::Private::valueForKey(const QString &key) const
{
    Q_ASSERT(!m_finished);
    if (m_failed || m_stack.empty())
        return nullptr;
    return plist_dict_get_item(m_stack.back(), key.toUtf8().constData());
}

bool NSKeyedUnarchiver::Private::containsValueForKey(const QString &key) const { return valueForKey(key) != nullptr; }

std::optional<uint64_t> NSKeyedUnarchiver::Private::uidOf(plist_t node) const
{
    if (isType(node, PLIST_UID)) {
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return uid;
    }
    // XML archives spell a UID as the dictionary {CF$UID: n}.
    if (isType(node, PLIST_DICT) && plist_dict_get_size(node) == 1) {
        plist_t n = plist_dict_get_item(node, "CF$UID");
        if (isType(n, PLIST_UINT)) {
            uint64_t uid = 0;
            plist_get_uint_val(n, &uid);
            return uid;
        }
    }
    return std::nullopt;
}

QVariant NSKeyedUnarchiver::Private::decodeObjectForKey(const QString &key)
{
    plist_t node = valueForKey(key);
    if (!node)
        return QVariant();
    if (const auto uid = uidOf(node))
        return decodeUid(*uid);
    switch (plist_get_node_type(node)) {
    case PLIST_ARRAY:
    case PLIST_DICT:
        return fail();
    default:
        return inlineValue(node);
    }
}

std::optional<double> NSKeyedUnarchiver::Private::inlineNumberForKey(const QString &key) const
{
    plist_t node = valueForKey(key);
    if (!node || uidOf(node))
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return double(qint64(u));
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return b ? 1.0 : 0.0;
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    default:
        return std::nullopt;
    }
}

qint64 NSKeyedUnarchiver::Private::decodeInt64ForKey(const QString &key)
{
    plist_t node = valueForKey(key);
    // Integers whole: a double cannot hold every 64-bit value.
    if (isType(node, PLIST_UINT)) {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return qint64(u);
    }
    const std::optional<double> d = inlineNumberForKey(key);
    if (!d || !std::isfinite(*d) || std::fabs(*d) >= 9.2e18)
        return 0;
    return qint64(*d);
}

qint32 NSKeyedUnarchiver::Private::decodeIntForKey(const QString &key)
{
    const qint64 v = decodeInt64ForKey(key);
    if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        return 0;
    return qint32(v);
}

bool NSKeyedUnarchiver::Private::decodeBoolForKey(const QString &key) { return decodeInt64ForKey(key) != 0; }

double NSKeyedUnarchiver::Private::decodeDoubleForKey(const QString &key)
{
    const std::optional<double> d = inlineNumberForKey(key);
    return d ? *d : 0.0;
}

double NSKeyedUnarchiver::Private::timeForKey(const QString &key)
{
    if (!valueForKey(key))
        return 0;
    const std::optional<double> d = inlineNumberForKey(key);
    if (!d) {
        m_failed = true;
        return 0;
    }
    return *d;
}

QVariant NSKeyedUnarchiver::Private::decodeUid(uint64_t uid)
{
    if (m_failed)
        return QVariant();
    if (uid >= m_objects.size())
        return fail();
    if (uid == 0)
        return QVariant();
    if (m_state[uid] == 2)
        return m_decoded.value(uid);
    if (m_state[uid] == 1) // the object contains itself
        return fail();
    if (m_depth >= kMaxDepth)
        return fail();

    plist_t node = m_objects[uid];
    QVariant result;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT:
        m_state[uid] = 1;
        ++m_depth;
        result = decodeInstance(node);
        --m_depth;
        break;
    case PLIST_ARRAY:
        return fail();
    default:
        // Only the "$null" entry at index 0 means nil; the same text elsewhere is a string.
        result = inlineValue(node);
        break;
    }
    if (m_failed)
        return QVariant();
    m_state[uid] = 2;
    m_decoded.insert(uid, result);
    return result;
}

QVariant NSKeyedUnarchiver::Private::inlineValue(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING:
        return stringOf(node);
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return qint64(u);
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return b != 0;
    }
    case PLIST_DATA: {
        char *bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray result(bytes ? bytes : "", bytes ? qsizetype(length) : 0);
        free(bytes);
        return result;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = (qint64(sec) + NSCalendarDate::kReferenceDateOffset) * 1000 + usec / 1000;
        return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    }
    default:
        return fail();
    }
}

QVariant NSKeyedUnarchiver::Private::decodeInstance(plist_t dict)
{
    const auto classRef = uidOf(plist_dict_get_item(dict, "$class"));
    if (!classRef || *classRef == 0 || *classRef >= m_objects.size())
        return fail();
    plist_t classDict = m_objects[*classRef];
    plist_t classNameNode = isType(classDict, PLIST_DICT) ? plist_dict_get_item(classDict, "$classname") : nullptr;
    if (!isType(classNameNode, PLIST_STRING))
        return fail();
    const QString className = stringOf(classNameNode);

    m_stack.push_back(dict);
    QVariant result;
    bool known = false;
    result = decodeBuiltIn(className, &known);
    if (!known && !m_failed) {
        if (ClassFactory factory = classForClassName(className)) {
            NSObjectPtr object = factory(*q);
            if (object && !m_failed)
                result = QVariant::fromValue(object);
            else
                m_failed = true;
        } else {
            m_failed = true; // a class that this program does not know
        }
    }
    m_stack.pop_back();
    return m_failed ? QVariant() : result;
}

QVariant NSKeyedUnarchiver::Private::decodeArray(plist_t dict)
{
    plist_t objects = plist_dict_get_item(dict, "NS.objects");
    if (!objects)
        return QVariantList();
    if (!isType(objects, PLIST_ARRAY))
        return fail();
    QVariantList list;
    list.reserve(qsizetype(plist_array_get_size(objects)));
    plist_array_iter it = nullptr;
    plist_array_new_iter(objects, &it);
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(objects, it, &item);
        if (!item)
            break;
        const auto uid = uidOf(item);
        if (!uid) {
            m_failed = true;
            break;
        }
        list.append(decodeUid(*uid));
        if (m_failed)
            break;
    }
    free(it);
    return m_failed ? QVariant() : QVariant(list);
}

QVariant NSKeyedUnarchiver::Private::decodeDictionary(plist_t dict)
{
    plist_t keys = plist_dict_get_item(dict, "NS.keys");
    plist_t objects = plist_dict_get_item(dict, "NS.objects");
    if (!keys && !objects)
        return QVariantMap();
    if (!isType(keys, PLIST_ARRAY) || !isType(objects, PLIST_ARRAY)
        || plist_array_get_size(keys) != plist_array_get_size(objects))
        return fail();
    QVariantMap map;
    plist_array_iter keyIt = nullptr, objectIt = nullptr;
    plist_array_new_iter(keys, &keyIt);
    plist_array_new_iter(objects, &objectIt);
    for (;;) {
        plist_t keyNode = nullptr, objectNode = nullptr;
        plist_array_next_item(keys, keyIt, &keyNode);
        plist_array_next_item(objects, objectIt, &objectNode);
        if (!keyNode || !objectNode)
            break;
        const auto keyUid = uidOf(keyNode);
        const auto objectUid = uidOf(objectNode);
        if (!keyUid || !objectUid) {
            m_failed = true;
            break;
        }
        const QVariant key = decodeUid(*keyUid);
        if (m_failed || key.typeId() != QMetaType::QString) {
            m_failed = true;
            break;
        }
        const QVariant value = decodeUid(*objectUid);
        if (m_failed)
            break;
        map.insert(key.toString(), value);
    }
    free(keyIt);
    free(objectIt);
    return m_failed ? QVariant() : QVariant(map);
}

QVariant NSKeyedUnarchiver::Private::decodeBuiltIn(const QString &className, bool *known)
{
    *known = true;
    plist_t dict = m_stack.back();
    static const QStringList arrays{QStringLiteral("NSArray"), QStringLiteral("NSMutableArray"),
                                    QStringLiteral("NSSet"), QStringLiteral("NSMutableSet"),
                                    QStringLiteral("NSOrderedSet"), QStringLiteral("NSMutableOrderedSet")};
    if (arrays.contains(className))
        return decodeArray(dict);
    if (className == QLatin1String("NSDictionary") || className == QLatin1String("NSMutableDictionary"))
        return decodeDictionary(dict);
    if (className == QLatin1String("NSString") || className == QLatin1String("NSMutableString")) {
        plist_t s = plist_dict_get_item(dict, "NS.string");
        if (!isType(s, PLIST_STRING))
            return fail();
        return stringOf(s);
    }
    if (className == QLatin1String("NSData") || className == QLatin1String("NSMutableData")) {
        plist_t inlineData = plist_dict_get_item(dict, "NS.data");
        if (isType(inlineData, PLIST_DATA)) { // the Mac writes the bytes inline here
            char *b = nullptr;
            uint64_t length = 0;
            plist_get_data_val(inlineData, &b, &length);
            QByteArray result(b ? b : "", b ? qsizetype(length) : 0);
            free(b);
            return result;
        }
        const QVariant bytes = decodeObjectForKey(QStringLiteral("NS.data"));
        if (m_failed || (bytes.isValid() && bytes.typeId() != QMetaType::QByteArray))
            return fail();
        return bytes.isValid() ? bytes : QVariant(QByteArray());
    }
    if (className == QLatin1String("NSNull"))
        return QVariant();
    if (className == QLatin1String("NSDate")) {
        const double time = timeForKey(QStringLiteral("NS.time"));
        if (m_failed || !std::isfinite(time) || std::fabs(time) > kMaxDateSeconds)
            return fail();
        const qint64 ms = qint64(std::floor((time + double(NSCalendarDate::kReferenceDateOffset)) * 1000.0));
        return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    }
    if (className == QLatin1String("NSTimeZone")) {
        const QVariant name = decodeObjectForKey(QStringLiteral("NS.name"));
        const QVariant data = decodeObjectForKey(QStringLiteral("NS.data"));
        if (m_failed || name.typeId() != QMetaType::QString
            || (data.isValid() && data.typeId() != QMetaType::QByteArray))
            return fail();
        return QVariant::fromValue(zoneFromArchive(name.toString(), data.toByteArray()));
    }
    if (className == QLatin1String("NSCalendarDate")) {
        const double time = timeForKey(QStringLiteral("NS.time"));
        const QVariant zone = decodeObjectForKey(QStringLiteral("NS.timezone"));
        const QVariant format = decodeObjectForKey(QStringLiteral("NS.format"));
        if (m_failed || !std::isfinite(time) || std::fabs(time) > kMaxDateSeconds
            || (zone.isValid() && zone.typeId() != qMetaTypeId<QTimeZone>())
            || (format.isValid() && format.typeId() != QMetaType::QString))
            return fail();
        // A date without a zone is shown in the system's zone, as the Mac does.
        const QTimeZone z = zone.isValid() ? zone.value<QTimeZone>() : QTimeZone::systemTimeZone();
        return QVariant::fromValue(NSCalendarDate(time, z, format.toString()));
    }
    *known = false;
    return QVariant();
}

// The API forwards to the implementation, which keeps the parser's types out of the header.
NSKeyedUnarchiver::NSKeyedUnarchiver(const QByteArray &data) : d(std::make_unique<Private>(this, data)) {}
NSKeyedUnarchiver::~NSKeyedUnarchiver() = default;
bool NSKeyedUnarchiver::containsValueForKey(const QString &key) const { return d->containsValueForKey(key); }
QVariant NSKeyedUnarchiver::decodeObjectForKey(const QString &key) { return d->decodeObjectForKey(key); }
qint32 NSKeyedUnarchiver::decodeIntForKey(const QString &key) { return d->decodeIntForKey(key); }
qint64 NSKeyedUnarchiver::decodeInt64ForKey(const QString &key) { return d->decodeInt64ForKey(key); }
bool NSKeyedUnarchiver::decodeBoolForKey(const QString &key) { return d->decodeBoolForKey(key); }
double NSKeyedUnarchiver::decodeDoubleForKey(const QString &key) { return d->decodeDoubleForKey(key); }
void NSKeyedUnarchiver::finishDecoding() { d->finishDecoding(); }
bool NSKeyedUnarchiver::failed() const { return d->m_failed; }
void NSKeyedUnarchiver::failWithError() { d->m_failed = true; }
