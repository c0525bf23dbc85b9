// ZVUtility: size texts.
#include "ZVUtility.h"

#include "NSDecimalNumber_p.h"

#include <charconv>
#include <cmath>

namespace {

constexpr quint64 kKibi = 1024;
constexpr quint64 kMebi = 1048576;
constexpr quint64 kGibi = 1073741824;

// VALUE ÷ DIVISOR as a decimal quotient text, through the platform's decimal numbers.
QString decimalQuotient(unsigned __int128 value, quint64 divisor, qint16 scale, NSRoundingMode mode)
{
    QString digits;
    do {
        digits.prepend(QLatin1Char(char('0' + int(value % 10))));
        value /= 10;
    } while (value != 0);
    const NSDecimalNumberHandler behavior = NSDecimalNumberHandler::
        decimalNumberHandlerWithRoundingModeScaleRaiseOnExactnessRaiseOnOverflowRaiseOnUnderflowRaiseOnDivideByZero(
            mode, scale, false, false, false, false);
    const NSDecimalNumber dividend = NSDecimalNumber::decimalNumberWithString(digits);
    const NSDecimalNumber quotient = dividend.decimalNumberByDividingByWithBehavior(
        NSDecimalNumber::decimalNumberWithString(QString::number(divisor)), behavior);
    return quotient.stringValue();
}

// "%.<precision>lf" of a double as the C library writes it in the "C" locale, whatever the
// process's locale.
QString fixedDecimals(double value, int precision)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        return QString();
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

QString ZVUtility::formatedFileSizeAsString(SizeNumber size)
{
    if (!size)
        return QStringLiteral("0 bytes");
    const quint64 v = *size;
    if (v < kKibi)
        return QStringLiteral("%1 bytes").arg(v);
    if (v < kMebi)
        return QStringLiteral("%1 KB").arg(decimalQuotient(v, kKibi, 1, NSRoundUp));
    if (v < kGibi)
        return QStringLiteral("%1 MB").arg(decimalQuotient(v, kMebi, 1, NSRoundUp));
    return QStringLiteral("%1 GB").arg(decimalQuotient(v, kGibi, 1, NSRoundUp));
}

QString ZVUtility::formatedFileSizeAsStringWithDecimalTruncated(SizeNumber size)
{
    if (!size)
        return QStringLiteral("0 bytes");
    const quint64 v = *size;
    if (v < kKibi)
        return QStringLiteral("%1 bytes").arg(v);
    if (v < kMebi)
        return QStringLiteral("%1 KB").arg(decimalQuotient(v, kKibi, 1, NSRoundPlain));

    // At most 2^64 / 2^20 = 2^44 after the double's rounding, so the conversion is defined.
    const quint64 wholeMebibytes = quint64(double(v) * std::ldexp(1.0, -20));
    const bool thousandBased = wholeMebibytes % 1000 == 0;
    constexpr quint64 kTeraThreshold = 1073741824000ULL;
    if (v < kGibi)
        return QStringLiteral("%1 MB").arg(decimalQuotient(v, thousandBased ? 1024000 : kMebi, 1, NSRoundPlain));
    if (v < kTeraThreshold)
        return QStringLiteral("%1 GB").arg(
            decimalQuotient(v, thousandBased ? 1048576000ULL : kGibi, 1, NSRoundPlain));
    return QStringLiteral("%1 TB").arg(
        decimalQuotient(v, thousandBased ? 1048576000000ULL : kTeraThreshold, 1, NSRoundPlain));
}

QString ZVUtility::formatedFileSizeInBits(SizeNumber size)
{
    if (!size)
        return QStringLiteral("1 bytes");
    unsigned __int128 bits = static_cast<unsigned __int128>(*size) * 8;
    if (bits == 0)
        bits = 51200;
    if (bits < kKibi)
        return QStringLiteral("%1 bytes").arg(quint64(bits));
    if (bits < kMebi)
        return QStringLiteral("%1 Kb").arg(decimalQuotient(bits, kKibi, 2, NSRoundPlain));
    if (bits < kGibi)
        return QStringLiteral("%1 Mb").arg(decimalQuotient(bits, kMebi, 2, NSRoundPlain));
    return QStringLiteral("%1 Gb").arg(decimalQuotient(bits, kGibi, 2, NSRoundPlain));
}

QString ZVUtility::formatedFileSizeForOutlineView(SizeNumber size)
{
    const double d = double(size.value_or(0));
    if (d < 1024)
        return fixedDecimals(d, 0) + QStringLiteral(" bytes");
    if (d >= 1024 && d < 1048576)
        return fixedDecimals(d * 0.0009765625, 2) + QStringLiteral(" KB");
    if (d >= 1048576 && d < 1073741824)
        return fixedDecimals(d / 1048576, 2) + QStringLiteral(" MB");
    if (d >= 1073741824)
        return fixedDecimals(d / 1073741824, 2) + QStringLiteral(" GB");
    return QStringLiteral(""); // not a number
}

ZVUtility::SizeNumber ZVUtility::formatedFileSize(SizeNumber size) { return SizeNumber(size.value_or(0)); }

QString ZVUtility::timeDisplayFormatHourMinuteSeconds(qint32 hour, qint32 minute, qint32 seconds)
{
    const auto part = [](qint32 value) {
        // Tested as unsigned, so negative values fall to the plain form.
        return quint32(value) <= 9 ? QStringLiteral("0%1").arg(value) : QString::number(value);
    };
    return QStringLiteral("%1:%2:%3").arg(part(hour), part(minute), part(seconds));
}
