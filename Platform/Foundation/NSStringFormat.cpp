#include "NSStringFormat_p.h"

namespace NSStringFormat {

QString stringWithFormat(const QString &format, const QStringList &objects)
{
    QString result;
    result.reserve(format.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar d = format.at(i + 1);
            if (d == QLatin1Char('%')) {
                result += QLatin1Char('%');
                ++i;
                continue;
            }
            if (d == QLatin1Char('@') && next < objects.size()) {
                result += objects.at(next++);
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

} // namespace NSStringFormat
