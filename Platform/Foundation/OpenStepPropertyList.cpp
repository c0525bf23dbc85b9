#include "OpenStepPropertyList_p.h"

#include <QVariantList>
#include <QVariantMap>

namespace PropertyList {

namespace {

constexpr int kMaxDepth = 512;

// A recursive-descent reader over the text; any error makes the whole parse fail.
class OpenStepReader {
public:
    explicit OpenStepReader(const QString &text) : m_text(text) {}

    std::optional<QVariant> document()
    {
        m_at = 0;
        if (auto value = valueAt(0); value && atEnd())
            return value;
        // A strings file: dictionary entries up to the end of the text.
        m_at = 0;
        QVariantMap map;
        if (entries(&map, 0, false) && atEnd())
            return QVariant(map);
        return std::nullopt;
    }

private:
    static bool isUnquoted(QChar c)
    {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
            || c == u'_' || c == u'$' || c == u'+' || c == u'/' || c == u':' || c == u'.' || c == u'-';
    }

    // Skips blanks and comments; false for a comment left open.
    bool skip()
    {
        while (m_at < m_text.size()) {
            const QChar c = m_text.at(m_at);
            if (c.isSpace()) {
                ++m_at;
            } else if (c == u'/' && m_at + 1 < m_text.size() && m_text.at(m_at + 1) == u'/') {
                while (m_at < m_text.size() && m_text.at(m_at) != u'\n' && m_text.at(m_at) != u'\r')
                    ++m_at;
            } else if (c == u'/' && m_at + 1 < m_text.size() && m_text.at(m_at + 1) == u'*') {
                const qsizetype end = m_text.indexOf(QStringLiteral("*/"), m_at + 2);
                if (end < 0)
                    return false;
                m_at = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    bool atEnd() { return skip() && m_at == m_text.size(); }

    // Skips to the next character and says whether it is C (then consumed).
    bool take(QChar c)
    {
        if (!skip() || m_at >= m_text.size() || m_text.at(m_at) != c)
            return false;
        ++m_at;
        return true;
    }

    std::optional<QVariant> valueAt(int depth)
    {
        if (depth > kMaxDepth || !skip() || m_at >= m_text.size())
            return std::nullopt;
        const QChar c = m_text.at(m_at);
        if (c == u'{') {
            ++m_at;
            QVariantMap map;
            if (!entries(&map, depth + 1, true))
                return std::nullopt;
            return QVariant(map);
        }
        if (c == u'(') {
            ++m_at;
            return list(depth + 1);
        }
        if (c == u'<') {
            ++m_at;
            return data();
        }
        if (auto s = string())
            return QVariant(*s);
        return std::nullopt;
    }

    // "key = value;" entries up to a "}" (when BRACED, consumed) or to the end of the text.
    bool entries(QVariantMap *map, int depth, bool braced)
    {
        for (;;) {
            if (!skip())
                return false;
            if (braced ? take(u'}') : m_at == m_text.size())
                return true;
            const auto key = string();
            if (!key)
                return false;
            if (take(u';')) {
                map->insert(*key, *key);
                continue;
            }
            if (!take(u'='))
                return false;
            const auto value = valueAt(depth);
            if (!value)
                return false;
            map->insert(*key, *value);
            // The last entry before "}" may leave out its ";".
            if (!take(u';') && !(braced && skip() && m_at < m_text.size() && m_text.at(m_at) == u'}'))
                return false;
        }
    }

    std::optional<QVariant> list(int depth)
    {
        QVariantList items;
        if (take(u')'))
            return QVariant(items);
        for (;;) {
            const auto value = valueAt(depth);
            if (!value)
                return std::nullopt;
            items.append(*value);
            if (take(u')'))
                return QVariant(items);
            if (!take(u','))
                return std::nullopt;
            if (take(u')'))    // a trailing comma
                return QVariant(items);
        }
    }

    std::optional<QVariant> data()
    {
        QByteArray bytes;
        int high = -1;
        for (; m_at < m_text.size(); ++m_at) {
            const QChar c = m_text.at(m_at);
            if (c == u'>') {
                ++m_at;
                if (high >= 0)
                    return std::nullopt;
                return QVariant(bytes);
            }
            if (c.isSpace())
                continue;
            const int digit = hexDigit(c);
            if (digit < 0)
                return std::nullopt;
            if (high < 0) {
                high = digit;
            } else {
                bytes.append(char(high << 4 | digit));
                high = -1;
            }
        }
        return std::nullopt;
    }

    static int hexDigit(QChar c)
    {
        if (c >= u'0' && c <= u'9')
            return c.unicode() - u'0';
        if (c >= u'a' && c <= u'f')
            return c.unicode() - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c.unicode() - u'A' + 10;
        return -1;
    }

    std::optional<QString> string()
    {
        if (!skip() || m_at >= m_text.size())
            return std::nullopt;
        const QChar first = m_text.at(m_at);
        if (first == u'"' || first == u'\'')
            return quoted(first);
        const qsizetype start = m_at;
        while (m_at < m_text.size() && isUnquoted(m_text.at(m_at)))
            ++m_at;
        if (m_at == start)
            return std::nullopt;
        return m_text.mid(start, m_at - start);
    }

    std::optional<QString> quoted(QChar quote)
    {
        QString out;
        for (++m_at; m_at < m_text.size(); ++m_at) {
            const QChar c = m_text.at(m_at);
            if (c == quote) {
                ++m_at;
                return out;
            }
            if (c != u'\\') {
                out += c;
                continue;
            }
            if (++m_at >= m_text.size())
                return std::nullopt;
            const QChar e = m_text.at(m_at);
            switch (e.unicode()) {
            case 'a': out += QChar(7); break;
            case 'b': out += QChar(8); break;
            case 'f': out += QChar(12); break;
            case 'n': out += QChar(10); break;
            case 'r': out += QChar(13); break;
            case 't': out += QChar(9); break;
            case 'v': out += QChar(11); break;
            case 'U': {
                char16_t unit = 0;
                int n = 0;
                for (; n < 4 && m_at + 1 < m_text.size() && hexDigit(m_text.at(m_at + 1)) >= 0; ++n)
                    unit = char16_t(unit << 4 | hexDigit(m_text.at(++m_at)));
                out += n ? QChar(unit) : e;
                break;
            }
            default:
                if (e >= u'0' && e <= u'7') {
                    int code = e.unicode() - u'0';
                    for (int n = 1; n < 3 && m_at + 1 < m_text.size() && m_text.at(m_at + 1) >= u'0'
                                    && m_text.at(m_at + 1) <= u'7'; ++n)
                        code = code * 8 + (m_text.at(++m_at).unicode() - u'0');
                    out += QChar(char16_t(code & 0xff));
                } else {
                    out += e;
                }
            }
        }
        return std::nullopt;
    }

    const QString &m_text;
    qsizetype m_at = 0;
};

} // namespace

std::optional<QVariant> fromOpenStepText(const QString &text) { return OpenStepReader(text).document(); }

} // namespace PropertyList
