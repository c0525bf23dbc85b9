#include "PropertyList_p.h"

#include "FileReplacement_p.h"
#include "OpenStepPropertyList_p.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimeZone>
#include <algorithm>
#include <limits>
#include <vector>

namespace PropertyList {

namespace {

constexpr int kMaxDepth = 512;
constexpr quint64 kMaxNodes = 4000000;
// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kAppleEpochOffset = 978307200;

// The binary format's object table, read without trusting any of it.
class BinaryTable {
public:
    explicit BinaryTable(const QByteArray &data)
        : m_bytes(reinterpret_cast<const unsigned char *>(data.constData())), m_size(quint64(data.size()))
    {
        if (m_size < 8 + 32)
            return;
        const quint64 t = m_size - 32;
        m_offsetSize = m_bytes[t + 6];
        m_refSize = m_bytes[t + 7];
        if (!read(t + 8, 8, &m_count) || !read(t + 16, 8, &m_top) || !read(t + 24, 8, &m_table))
            return;
        m_valid = m_offsetSize >= 1 && m_offsetSize <= 8 && m_refSize >= 1 && m_refSize <= 8
            && m_count <= m_size && m_table <= m_size && m_count * m_offsetSize <= m_size - m_table
            && m_top < m_count;
    }

    bool valid() const { return m_valid; }
    quint64 count() const { return m_count; }
    quint64 top() const { return m_top; }

    // The objects that object N refers to (array and set members, dictionary keys and
    // values); false when N or its references lie outside the data.
    bool references(quint64 n, std::vector<quint64> *refs) const
    {
        refs->clear();
        quint64 at = 0, length = 0, start = 0;
        if (!object(n, &at, &length, &start))
            return false;
        const unsigned marker = m_bytes[at] >> 4;
        if (marker != 0xA && marker != 0xC && marker != 0xD)
            return true;
        const quint64 entries = marker == 0xD ? length * 2 : length;
        if (entries > m_size || entries * m_refSize > m_size - start)
            return false;
        for (quint64 i = 0; i < entries; ++i) {
            quint64 ref = 0;
            if (!read(start + i * m_refSize, m_refSize, &ref) || ref >= m_count)
                return false;
            refs->push_back(ref);
        }
        return true;
    }

    // Whether object N is a text holding a NUL character.
    bool isTextWithNul(quint64 n) const
    {
        quint64 at = 0, length = 0, start = 0;
        if (!object(n, &at, &length, &start))
            return false;
        const unsigned marker = m_bytes[at] >> 4;
        if (marker != 0x5 && marker != 0x6)
            return false;
        const quint64 unit = marker == 0x5 ? 1 : 2;
        if (length > m_size || length * unit > m_size - start)
            return false;
        for (quint64 i = 0; i < length; ++i) {
            if (m_bytes[start + i * unit] == 0 && (unit == 1 || m_bytes[start + i * unit + 1] == 0))
                return true;
        }
        return false;
    }

private:
    bool read(quint64 at, quint64 width, quint64 *out) const
    {
        if (width == 0 || width > 8 || at > m_size || width > m_size - at)
            return false;
        quint64 v = 0;
        for (quint64 i = 0; i < width; ++i)
            v = (v << 8) | m_bytes[at + i];
        *out = v;
        return true;
    }

    // Where object N starts, its count (the low nibble, or the integer after it) and where
    // its content starts.
    bool object(quint64 n, quint64 *at, quint64 *length, quint64 *start) const
    {
        if (!m_valid || n >= m_count || !read(m_table + n * m_offsetSize, m_offsetSize, at) || *at >= m_size)
            return false;
        *length = m_bytes[*at] & 0x0f;
        *start = *at + 1;
        if (*length == 0x0f) {
            if (*start >= m_size || (m_bytes[*start] >> 4) != 0x1)
                return false;
            const quint64 width = quint64(1) << (m_bytes[*start] & 0x0f);
            if (!read(*start + 1, width, length))
                return false;
            *start += 1 + width;
        }
        return true;
    }

    const unsigned char *m_bytes;
    quint64 m_size;
    unsigned m_offsetSize = 0, m_refSize = 0;
    quint64 m_count = 0, m_top = 0, m_table = 0;
    bool m_valid = false;
};

// Whether libplist can be given the binary property list without harm. Its reader recurses
// once per level, copies an object at every place it is referred to, and aborts the process
// when it hands out a text holding a NUL. So: no reference cycle, at most kMaxDepth levels,
// at most kMaxNodes nodes once every reference is copied out, and (unless the caller reads
// texts by pointer and length) no text with a NUL. The walk
// uses its own stack. A table that cannot be read is left for libplist to refuse.
bool binaryIsSafe(const QByteArray &data, bool textsMayHoldNul)
{
    const BinaryTable table(data);
    if (!table.valid())
        return true;
    enum : unsigned char { Unseen, Open, Done };
    std::vector<unsigned char> state(size_t(table.count()), Unseen);
    std::vector<quint64> nodes(size_t(table.count()), 0);
    std::vector<quint64> depth(size_t(table.count()), 0);
    struct Frame { quint64 object; std::vector<quint64> refs; size_t next; };
    std::vector<Frame> stack;
    std::vector<quint64> refs;
    auto open = [&](quint64 n) {
        if ((!textsMayHoldNul && table.isTextWithNul(n)) || !table.references(n, &refs))
            return false;
        state[n] = Open;
        stack.push_back({n, refs, 0});
        return stack.size() <= size_t(kMaxDepth);
    };
    if (!open(table.top()))
        return false;
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next < frame.refs.size()) {
            const quint64 child = frame.refs[frame.next++];
            if (state[child] == Open)
                return false;   // a cycle
            if (state[child] == Unseen && !open(child))
                return false;
            continue;
        }
        quint64 count = 1, deepest = 0;
        for (quint64 child : frame.refs) {
            count += nodes[child];
            deepest = std::max(deepest, depth[child]);
            if (count > kMaxNodes)
                return false;
        }
        nodes[frame.object] = count;
        depth[frame.object] = deepest + 1;
        state[frame.object] = Done;
        stack.pop_back();
    }
    return true;
}

// Whether libplist can be given the XML property list without harm: at most kMaxDepth levels
// of <array> and <dict>, counted by their tags.
bool xmlIsSafe(const QByteArray &data)
{
    int level = 0;
    for (qsizetype i = data.indexOf('<'); i >= 0; i = data.indexOf('<', i + 1)) {
        const bool closing = i + 1 < data.size() && data.at(i + 1) == '/';
        const qsizetype nameStart = i + (closing ? 2 : 1);
        const bool container = data.mid(nameStart, 5) == "array" || data.mid(nameStart, 4) == "dict";
        if (!container)
            continue;
        const qsizetype end = data.indexOf('>', nameStart);
        if (end < 0)
            break;
        if (closing)
            --level;
        else if (data.at(end - 1) != '/' && ++level > kMaxDepth)
            return false;
    }
    return true;
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

bool isSafeToParse(const QByteArray &data, bool textsMayHoldNul)
{
    if (data.size() > std::numeric_limits<int32_t>::max())
        return false;
    if (plist_is_binary(data.constData(), uint32_t(data.size())))
        return binaryIsSafe(data, textsMayHoldNul);
    return xmlIsSafe(data);
}

Node nodeFromVariant(const QVariant &value) { return Node(build(value, 0)); }

namespace {

// The text of a text-form property list: UTF-16 (big- or little-endian, after its byte-order
// mark, or without one when the text opens with "<" or "{" as one) or UTF-8 (after its
// byte-order mark, or without one). A null QString when the bytes are not valid in that
// encoding.
QString decodeText(const QByteArray &data, bool *wasUtf16)
{
    const auto byte = [&](qsizetype i) { return i < data.size() ? uint(uchar(data.at(i))) : 0x100u; };
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    qsizetype skip = 0;
    if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        skip = 3;
    } else if (byte(0) == 0xFE && byte(1) == 0xFF) {
        encoding = QStringConverter::Utf16BE;
        skip = 2;
    } else if (byte(0) == 0xFF && byte(1) == 0xFE) {
        encoding = QStringConverter::Utf16LE;
        skip = 2;
    } else if (byte(0) == 0 && byte(1) != 0 && byte(1) < 0x80) {
        encoding = QStringConverter::Utf16BE;
    } else if (byte(0) != 0 && byte(0) < 0x80 && byte(1) == 0) {
        encoding = QStringConverter::Utf16LE;
    }
    *wasUtf16 = encoding != QStringConverter::Utf8;
    if (*wasUtf16 && (data.size() - skip) % 2 != 0)
        return QString();
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(data).sliced(skip));
    if (decoder.hasError())
        return QString();
    return text.isNull() ? QStringLiteral("") : text;
}

// The value of a tree that libplist parsed, which is then freed; none for no tree.
std::optional<QVariant> takeTree(plist_t root)
{
    Node owner(root);
    if (!root)
        return std::nullopt;
    return convert(root, 0);
}

std::optional<QVariant> fromXml(const QByteArray &xml)
{
    if (!xmlIsSafe(xml))
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    return takeTree(root);
}

} // namespace

std::optional<QVariant> fromData(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    if (plist_is_binary(data.constData(), uint32_t(data.size()))) {
        if (!isSafeToParse(data))
            return std::nullopt;
        plist_t root = nullptr;
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
        return takeTree(root);
    }
    bool wasUtf16 = false;
    const QString text = decodeText(data, &wasUtf16);
    if (text.isNull())
        return std::nullopt;
    qsizetype first = 0;
    while (first < text.size() && text.at(first).isSpace())
        ++first;
    if (first < text.size() && text.at(first) == u'<') {
        QString source = text;
        // libplist reads UTF-8 only: the declaration is made to say what the bytes now are.
        static const QRegularExpression declaration(QStringLiteral(R"(^(\s*<\?xml[^>]*?encoding\s*=\s*["'])[^"']*)"));
        if (wasUtf16)
            source.replace(declaration, QStringLiteral("\\1UTF-8"));
        // An old-style root may also be data, "<0fbd 7728>", which is no XML.
        static const QRegularExpression hexData(QStringLiteral(R"(^\s*<[0-9a-fA-F\s]*>)"));
        if (!hexData.match(text).hasMatch())
            return fromXml(source.toUtf8());
    }
    return fromOpenStepText(text);
}

std::optional<QVariant> readFile(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (maxBytes < 0)
        return fromData(file.readAll());
    // The size is known before anything is read; reading one byte more also catches a file
    // that grows meanwhile or reports no size (a pipe, a file under /proc).
    if (file.size() > maxBytes)
        return std::nullopt;
    const QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes)
        return std::nullopt;
    return fromData(bytes);
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
    Q_UNUSED(atomically); // every write replaces the path (FileReplacement.h)
    const QByteArray bytes = toData(value, format);
    return !bytes.isEmpty() && FileReplacement::replaceFile(path, bytes, FileReplacement::newFileMode());
}

} // namespace PropertyList
