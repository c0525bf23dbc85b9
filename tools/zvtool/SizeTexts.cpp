// zvtool size-text and time-text: the product's size and duration texts.
#include "Commands.h"

#include "ZVUtility.h"

#include <limits>

namespace {

// A decimal unsigned 64-bit count, digits only; "-" is an absent size.
bool parseSize(const QString &text, ZVUtility::SizeNumber *size)
{
    if (text == QLatin1String("-")) {
        *size = std::nullopt;
        return true;
    }
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    bool ok = false;
    const quint64 value = text.toULongLong(&ok, 10);
    if (!ok)
        return false;
    *size = value;
    return true;
}

bool parseInt32(const QString &text, qint32 *value)
{
    if (text.isEmpty() || text.trimmed() != text)
        return false;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        return false;
    *value = qint32(v);
    return true;
}

} // namespace

int cmdSizeText(const QStringList &args)
{
    if (args.size() < 2)
        return usageError(QStringLiteral("size-text needs a MODE (bytes, truncated, bits, outline) and VALUEs"));
    const QString mode = args[0];
    QString (*format)(ZVUtility::SizeNumber) = nullptr;
    if (mode == QLatin1String("bytes"))
        format = &ZVUtility::formatedFileSizeAsString;
    else if (mode == QLatin1String("truncated"))
        format = &ZVUtility::formatedFileSizeAsStringWithDecimalTruncated;
    else if (mode == QLatin1String("bits"))
        format = &ZVUtility::formatedFileSizeInBits;
    else if (mode == QLatin1String("outline"))
        format = &ZVUtility::formatedFileSizeForOutlineView;
    else
        return usageError(QStringLiteral("size-text: unknown mode '%1' (bytes, truncated, bits, outline)").arg(mode));

    // Every value is checked before anything is printed, so a bad value prints no answers.
    QList<ZVUtility::SizeNumber> sizes;
    for (const QString &arg : args.mid(1)) {
        ZVUtility::SizeNumber size;
        if (!parseSize(arg, &size))
            return usageError(
                QStringLiteral("size-text: '%1' is neither a decimal size from 0 to 18446744073709551615 nor -").arg(arg));
        sizes.append(size);
    }
    for (const ZVUtility::SizeNumber &size : sizes)
        out() << format(size) << '\n';
    return 0;
}

int cmdTimeText(const QStringList &args)
{
    if (args.size() != 3)
        return usageError(QStringLiteral("time-text needs three integers: H M S"));
    qint32 values[3];
    for (int i = 0; i < 3; ++i)
        if (!parseInt32(args[i], &values[i]))
            return usageError(QStringLiteral("time-text: '%1' is not a signed 32-bit integer").arg(args[i]));
    out() << ZVUtility::timeDisplayFormatHourMinuteSeconds(values[0], values[1], values[2]) << '\n';
    return 0;
}
