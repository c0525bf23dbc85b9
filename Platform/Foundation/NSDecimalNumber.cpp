#include "NSDecimalNumber_p.h"

#include <algorithm>

namespace {

using u128 = unsigned __int128;

// Exponents outside what the platform's decimal type holds are refused as it refuses them.
constexpr int kMinExponent = -128;
constexpr int kMaxExponent = 127;
constexpr int kMaxPower = 38; // 10^38 < 2^128 < 10^39

u128 powerOfTen(int n)
{
    u128 p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

bool multiplyChecked(u128 a, u128 b, u128 *result) { return !__builtin_mul_overflow(a, b, result); }

QString digitsOf(u128 value)
{
    if (value == 0)
        return QStringLiteral("0");
    char buffer[48];
    int n = 0;
    while (value != 0) {
        buffer[n++] = char('0' + int(value % 10));
        value /= 10;
    }
    std::reverse(buffer, buffer + n);
    return QString::fromLatin1(buffer, n);
}

} // namespace

NSDecimalNumberHandler
NSDecimalNumberHandler::decimalNumberHandlerWithRoundingModeScaleRaiseOnExactnessRaiseOnOverflowRaiseOnUnderflowRaiseOnDivideByZero(
    NSRoundingMode roundingMode, qint16 scale, bool raiseOnExactness, bool raiseOnOverflow,
    bool raiseOnUnderflow, bool raiseOnDivideByZero)
{
    // Nothing here throws; the flags only say what a caller would have liked to hear about.
    Q_UNUSED(raiseOnExactness);
    Q_UNUSED(raiseOnOverflow);
    Q_UNUSED(raiseOnUnderflow);
    Q_UNUSED(raiseOnDivideByZero);
    return NSDecimalNumberHandler(roundingMode, scale);
}

NSDecimalNumber NSDecimalNumber::notANumber() { return NSDecimalNumber(); }

NSDecimalNumber NSDecimalNumber::decimalNumberWithString(const QString &text)
{
    NSDecimalNumber result;
    qsizetype i = 0;
    const qsizetype n = text.size();
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');

    u128 mantissa = 0;
    long long exponent = 0;
    int digits = 0;
    bool seenPoint = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('.') && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        ++digits;
        if (!multiplyChecked(mantissa, 10, &mantissa)
            || __builtin_add_overflow(mantissa, u128(c.unicode() - '0'), &mantissa))
            return notANumber();
        if (seenPoint)
            --exponent;
    }
    if (digits == 0)
        return notANumber();

    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            negativeExponent = text[i++] == QLatin1Char('-');
        long long e = 0;
        int exponentDigits = 0;
        for (; i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
            ++exponentDigits;
            e = std::min<long long>(e * 10 + (text[i].unicode() - '0'), 100000);
        }
        if (exponentDigits == 0)
            return notANumber();
        exponent += negativeExponent ? -e : e;
    }
    if (i != n)
        return notANumber();

    if (mantissa == 0) {
        exponent = 0;
        negative = false;
    }
    // Trailing zeros of the mantissa may bring a too small exponent back into range.
    while (exponent < kMinExponent && mantissa % 10 == 0 && mantissa != 0) {
        mantissa /= 10;
        ++exponent;
    }
    if (exponent < kMinExponent || exponent > kMaxExponent)
        return notANumber();

    result.m_nan = false;
    result.m_mantissa = mantissa;
    result.m_exponent = int(exponent);
    result.m_negative = negative;
    return result;
}

NSDecimalNumber NSDecimalNumber::decimalNumberByDividingByWithBehavior(
    const NSDecimalNumber &divisor, const NSDecimalNumberHandler &behavior) const
{
    if (m_nan || divisor.m_nan || divisor.m_mantissa == 0)
        return notANumber();
    const int scale = behavior.scale();

    // self / divisor * 10^scale = (m1 / m2) * 10^k; the result's mantissa is that value
    // rounded to a whole number, with exponent -scale.
    const int k = m_exponent - divisor.m_exponent + scale;
    u128 numerator = m_mantissa;
    u128 denominator = divisor.m_mantissa;
    if (k > 0) {
        if (numerator != 0 && (k > kMaxPower || !multiplyChecked(numerator, powerOfTen(k), &numerator)))
            return notANumber();
    } else if (k < 0) {
        if (-k > kMaxPower || !multiplyChecked(denominator, powerOfTen(-k), &denominator))
            return notANumber();
    }

    u128 quotient = numerator / denominator;
    const u128 remainder = numerator % denominator;
    const bool negative = m_negative != divisor.m_negative;
    bool awayFromZero = false;
    if (remainder != 0) {
        const u128 rest = denominator - remainder; // remainder compared with half the divisor
        switch (behavior.roundingMode()) {
        case NSRoundPlain:
            awayFromZero = remainder >= rest;
            break;
        case NSRoundBankers:
            awayFromZero = remainder > rest || (remainder == rest && quotient % 2 == 1);
            break;
        case NSRoundUp:
            awayFromZero = !negative;
            break;
        case NSRoundDown:
            awayFromZero = negative;
            break;
        }
    }
    if (awayFromZero) {
        if (quotient == ~u128(0))
            return notANumber();
        ++quotient;
    }
    if (-scale < kMinExponent || -scale > kMaxExponent)
        return notANumber();

    NSDecimalNumber result;
    result.m_nan = false;
    result.m_mantissa = quotient;
    result.m_exponent = quotient == 0 ? 0 : -scale;
    result.m_negative = quotient != 0 && negative;
    return result;
}

QString NSDecimalNumber::stringValue() const
{
    if (m_nan)
        return QStringLiteral("NaN");
    QString digits = digitsOf(m_mantissa);
    QString text;
    if (m_exponent >= 0) {
        text = digits;
        if (m_mantissa != 0)
            text += QString(m_exponent, QLatin1Char('0'));
    } else {
        const qsizetype fraction = -m_exponent;
        if (digits.size() <= fraction)
            digits = QString(fraction - digits.size() + 1, QLatin1Char('0')) + digits;
        QString integerPart = digits.left(digits.size() - fraction);
        QString fractionPart = digits.right(fraction);
        while (fractionPart.endsWith(QLatin1Char('0')))
            fractionPart.chop(1);
        text = fractionPart.isEmpty() ? integerPart : integerPart + QLatin1Char('.') + fractionPart;
    }
    return m_negative ? QLatin1Char('-') + text : text;
}
