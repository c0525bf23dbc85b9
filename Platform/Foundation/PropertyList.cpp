#include "PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>
#include <limits>

namespace PropertyList {

namespace {

constexpr int kMaxDepth = 512;
// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kAppleEpochOffset = 978307200;

// libplist aborts the process when it hands out a text that holds a NUL character (its
// length then disagrees with the C string's). A binary property list stores each text as an
// object of its object table: one that holds a NUL makes the data unreadable here instead.
// Malformed tables are left for libplist to refuse.
bool binaryHasTextWithNul(const QByteArray &data)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    const quint64 size = quint64(data.size());
    if (size < 8 + 32)
        return false;
    const unsigned char *trailer = bytes + size - 32;
    const unsigned offsetSize = trailer[6];
    auto readBE = [&](quint64 at, unsigned width, quint64 *out) {
        if (width == 0 || width > 8 || at > size || width > size - at)
            return false;
        quint64 v = 0;
        for (unsigned i = 0; i < width; ++i)
            v = (v << 8) | bytes[at + i];
        *out = v;
        return true;
    };
    quint64 objectCount = 0, tableOffset = 0;
    if (!readBE(size - 32 + 8, 8, &objectCount) || !readBE(size - 32 + 24, 8, &tableOffset))
        return false;
    if (offsetSize == 0 || offsetSize > 8 || objectCount > size || tableOffset > size
        || objectCount * offsetSize > size - tableOffset)
        return false;
    for (quint64 n = 0; n < objectCount; ++n) {
        quint64 at = 0;
        if (!readBE(tableOffset + n * offsetSize, offsetSize, &at) || at >= size)
            continue;
        const unsigned marker = bytes[at] >> 4;
        if (marker != 0x5 && marker != 0x6)
            continue;
        quint64 count = bytes[at] & 0x0f;
        quint64 start = at + 1;
        if (count == 0x0f) {
            // The count follows as an integer object: 0x1N with 2^N bytes.
            if (start >= size || (bytes[start] >> 4) != 0x1)
                continue;
            const unsigned width = 1u << (bytes[start] & 0x0f);
            if (!readBE(start + 1, width, &count))
                continue;
            start += 1 + width;
        }
        const quint64 unit = marker == 0x5 ? 1 : 2;
        if (count > size || start > size || count * unit > size - start)
            continue;
        for (quint64 i = 0; i < count; ++i) {
            if (bytes[start + i * unit] == 0 && (unit == 1 || bytes[start + i * unit + 1] == 0))
                return true;
        }
    }
    return false;
}

std::optional<QVariant> convert(plist_t node, int depth)
{
    if (!node || depth > kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        // libplist keeps integers as uint64; negative ones come back as their two's complement.
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return QVariant(qint64(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char *s = plist_get_string_ptr(node, &length);
        return QVariant(QString::fromUtf8(s ? s : "", s ? qsizetype(length) : 0));
    }
    case PLIST_DATA: {
        char *d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        QByteArray bytes(d ? d : "", d ? qsizetype(len) : 0);
        free(d);
        return QVariant(bytes);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = (qint64(sec) + kAppleEpochOffset) * 1000 + usec / 1000;
        return QVariant(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
    }
    case PLIST_UID: {
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return QVariant(QVariantMap{{QStringLiteral("CF$UID"), QVariant(quint64(uid))}});
    }
    case PLIST_ARRAY: {
        QVariantList list;
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        plist_t item = nullptr;
        bool ok = true;
        do {
            item = nullptr;
            plist_array_next_item(node, it, &item);
            if (item) {
                auto v = convert(item, depth + 1);
                if (!v) { ok = false; break; }
                list.append(*v);
            }
        } while (item);
        free(it);
        if (!ok)
            return std::nullopt;
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        bool ok = true;
        for (;;) {
            char *key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(node, it, &key, &val);
            if (!val) { free(key); break; }
            auto v = convert(val, depth + 1);
            if (!v) { free(key); ok = false; break; }
            map.insert(QString::fromUtf8(key ? key : ""), *v);
            free(key);
        }
        free(it);
        if (!ok)
            return std::nullopt;
        return QVariant(map);
    }
    default:
        return std::nullopt;
    }
}

plist_t build(const QVariant &value, int depth)
{
    if (depth > kMaxDepth)
        return nullptr;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray b = value.toByteArray();
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kAppleEpochOffset * 1000;
        qint64 sec = ms / 1000, rem = ms % 1000;
        if (rem < 0) { sec -= 1; rem += 1000; }
        return plist_new_date(int32_t(sec), int32_t(rem * 1000));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t arr = plist_new_array();
        for (const QVariant &v : value.toList()) {
            plist_t item = build(v, depth + 1);
            if (!item) { plist_free(arr); return nullptr; }
            plist_array_append_item(arr, item);
        }
        return arr;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t item = build(it.value(), depth + 1);
            if (!item) { plist_free(dict); return nullptr; }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), item);
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

} // namespace

std::optional<QVariant> variantFromNode(plist_t node) { return convert(node, 0); }

Node nodeFromVariant(const QVariant &value) { return Node(build(value, 0)); }

std::optional<QVariant> fromData(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    if (plist_is_binary(data.constData(), uint32_t(data.size()))) {
        if (binaryHasTextWithNul(data))
            return std::nullopt;
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    }
    else if (data.trimmed().startsWith('<'))
        plist_from_xml(data.constData(), uint32_t(data.size()), &root);
    Node owner(root);
    if (!root)
        return std::nullopt;
    return convert(root, 0);
}

std::optional<QVariant> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return fromData(file.readAll());
}

QByteArray toData(const QVariant &value, Format format)
{
    Node node = nodeFromVariant(value);
    if (!node)
        return {};
    char *out = nullptr;
    uint32_t len = 0;
    if (format == Format::Binary)
        plist_to_bin(static_cast<plist_t>(node.get()), &out, &len);
    else
        plist_to_xml(static_cast<plist_t>(node.get()), &out, &len);
    QByteArray bytes(out ? out : "", out ? qsizetype(len) : 0);
    if (format == Format::Binary)
        plist_to_bin_free(out);
    else
        plist_to_xml_free(out);
    return bytes;
}

bool writeFile(const QVariant &value, const QString &path, Format format, bool atomically)
{
    const QByteArray bytes = toData(value, format);
    if (bytes.isEmpty())
        return false;
    if (atomically) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            return false;
        }
        return file.commit();
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

} // namespace PropertyList
