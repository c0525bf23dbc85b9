// The size texts against a reference model written from the display rules with plain 64-bit
// long division (digit by digit), independent of the decimal numbers the product uses: every
// threshold and its neighbours, the extremes, rounding ties, whole multiples of 1000 MiB, and
// seeded random sizes of every bit length. Prints the first mismatches and fails on any; the
// cases it finds belong in Tests/Utility as rows.
//
//   build/bin/SizeTextBench [SEED [PER_BIT_LENGTH]]      (defaults: 20261205, 150)
#include "ZVUtility.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRandomGenerator>
#include <clocale>
#include <cstdio>
#include <locale.h>

using SizeNumber = ZVUtility::SizeNumber;

namespace Reference {

enum class Rounding { Plain, Up };

// INTEGER + REMAINDER / DIVISOR (REMAINDER < DIVISOR < 2^60) as decimal text with SCALE
// digits, by schoolbook long division, then rounded on the digits and written without
// trailing fractional zeros.
QString quotient(quint64 integer, quint64 remainder, quint64 divisor, int scale, Rounding rounding)
{
    quint64 fraction = 0;
    quint64 unit = 1;
    for (int i = 0; i < scale; ++i) {
        remainder *= 10;
        fraction = fraction * 10 + remainder / divisor;
        remainder %= divisor;
        unit *= 10;
    }
    bool raise = false;
    if (rounding == Rounding::Up)
        raise = remainder != 0;
    else
        raise = remainder != 0 && remainder >= divisor - remainder; // half or more goes up
    if (raise && ++fraction == unit) {
        fraction = 0;
        ++integer;
    }
    QString text = QString::number(integer);
    if (fraction != 0) {
        QString digits = QString::number(fraction).rightJustified(scale, QLatin1Char('0'));
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        text += QLatin1Char('.') + digits;
    }
    return text;
}

QString divided(quint64 v, quint64 divisor, int scale, Rounding rounding)
{
    return quotient(v / divisor, v % divisor, divisor, scale, rounding);
}

// Sizes below a mebibyte, which both byte texts show alike but for their rounding; a null
// string for larger ones. An absent size reads "0 bytes".
QString belowAMebibyte(SizeNumber size, Rounding rounding)
{
    if (!size)
        return QStringLiteral("0 bytes");
    if (*size <= 1023)
        return QString::number(*size) + QStringLiteral(" bytes");
    if (*size <= 1048575)
        return divided(*size, 1024, 1, rounding) + QStringLiteral(" KB");
    return QString();
}

QString asString(SizeNumber size)
{
    if (const QString small = belowAMebibyte(size, Rounding::Up); !small.isNull())
        return small;
    const quint64 v = *size;
    if (v <= 1073741823)
        return divided(v, 1048576, 1, Rounding::Up) + QStringLiteral(" MB");
    return divided(v, 1073741824, 1, Rounding::Up) + QStringLiteral(" GB");
}

QString truncated(SizeNumber size)
{
    if (const QString small = belowAMebibyte(size, Rounding::Plain); !small.isNull())
        return small;
    const quint64 v = *size;
    // The rule computes the whole mebibytes through a double; dividing by 2^20 scales exactly
    // as multiplying by 2^-20 does.
    const quint64 m = quint64(static_cast<double>(v) / 1048576.0);
    const bool on = m % 1000 == 0;
    if (v <= 1073741823)
        return divided(v, on ? 1024000 : 1048576, 1, Rounding::Plain) + QStringLiteral(" MB");
    if (v <= 1073741823999ULL)
        return divided(v, on ? 1048576000ULL : 1073741824ULL, 1, Rounding::Plain) + QStringLiteral(" GB");
    return divided(v, on ? 1048576000000ULL : 1073741824000ULL, 1, Rounding::Plain) + QStringLiteral(" TB");
}

// The bit count 8v can pass 2^64; with power-of-two divisors 2^k its whole part is v >> (k-3)
// and its remainder the low k-3 bits of v times 8, so no wide arithmetic is needed.
QString bits(SizeNumber size)
{
    if (!size)
        return QStringLiteral("1 bytes");
    const quint64 v = *size;
    if (v == 0)
        return QStringLiteral("50 Kb"); // 51200 bits
    const auto inUnit = [v](int k) {
        const quint64 integer = v >> (k - 3);
        const quint64 remainder = (v & ((quint64(1) << (k - 3)) - 1)) << 3;
        return quotient(integer, remainder, quint64(1) << k, 2, Rounding::Plain);
    };
    if (v < 128)
        return QString::number(v * 8) + QStringLiteral(" bytes");
    if (v < (quint64(1) << 17))
        return inUnit(10) + QStringLiteral(" Kb");
    if (v < (quint64(1) << 27))
        return inUnit(20) + QStringLiteral(" Mb");
    return inUnit(30) + QStringLiteral(" Gb");
}

// The C library's own "%.Nf" in the "C" locale.
QString printfFixed(double value, int precision)
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const locale_t previous = uselocale(c);
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", precision, value);
    uselocale(previous);
    return QString::fromLatin1(buffer);
}

QString outline(SizeNumber size)
{
    const double d = double(size.value_or(0));
    if (d < 1024)
        return printfFixed(d, 0) + QStringLiteral(" bytes");
    if (d < 1048576)
        return printfFixed(d / 1024, 2) + QStringLiteral(" KB");
    if (d < 1073741824)
        return printfFixed(d / 1048576, 2) + QStringLiteral(" MB");
    return printfFixed(d / 1073741824, 2) + QStringLiteral(" GB");
}

} // namespace Reference

namespace {

// The sizes compared with the reference: every threshold and its neighbours, the extremes,
// values where rounding ties, whole multiples of 1000 MiB and their neighbours, and seeded
// random sizes of every bit length.
QList<quint64> comparedSizes(quint64 seed, int perMagnitude)
{
    QList<quint64> sizes;
    const auto around = [&sizes](quint64 x) {
        for (quint64 d = 0; d <= 3; ++d) {
            sizes.append(x + d);
            sizes.append(x - d);
        }
    };
    const quint64 thresholds[] = {0,          1,           127,         128,           1023,
                                  1024,       1ULL << 17,  1ULL << 20,  1ULL << 27,    1ULL << 30,
                                  1024000,    1048576000,  1073741824000ULL, 1048576000000ULL,
                                  1ULL << 40, 1ULL << 53,  (1ULL << 53) + 1, 1ULL << 61,
                                  1ULL << 63, ~0ULL};
    for (quint64 t : thresholds)
        around(t);
    // Ties: x.x5 KB, MB, GB and x.xx5 in the bit units.
    for (quint64 i = 0; i < 4096; ++i) {
        sizes.append(1024 + 256 * i);
        sizes.append((1ULL << 20) + (1ULL << 18) * i);
        sizes.append((1ULL << 30) + (1ULL << 28) * i);
        sizes.append(128 * i + 16);
    }
    // Whole multiples of 1000 MiB, small and across the whole range.
    QRandomGenerator random(seed);
    for (quint64 k = 1; k <= 2100; ++k)
        around(k * 1048576000ULL);
    for (int i = 0; i < 2000; ++i)
        around(random.bounded(quint64(1), ~0ULL / 1048576000ULL) * 1048576000ULL);
    for (int bitsLength = 1; bitsLength <= 64; ++bitsLength) {
        for (int i = 0; i < perMagnitude; ++i) {
            const quint64 top = quint64(1) << (bitsLength - 1);
            const quint64 low = bitsLength == 1 ? 0 : random.generate64() & (top - 1);
            sizes.append(top | low);
        }
    }
    return sizes;
}

QString productText(const QString &mode, SizeNumber size)
{
    if (mode == QLatin1String("bytes"))
        return ZVUtility::formatedFileSizeAsString(size);
    if (mode == QLatin1String("truncated"))
        return ZVUtility::formatedFileSizeAsStringWithDecimalTruncated(size);
    if (mode == QLatin1String("bits"))
        return ZVUtility::formatedFileSizeInBits(size);
    return ZVUtility::formatedFileSizeForOutlineView(size);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const quint64 seed = argc > 1 ? QByteArray(argv[1]).toULongLong() : 20261205;
    const int perMagnitude = argc > 2 ? QByteArray(argv[2]).toInt() : 150;
    // A locale that writes decimal commas must change nothing.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    const QList<quint64> sizes = comparedSizes(seed, perMagnitude);
    int compared = 0, mismatches = 0;
    for (quint64 v : sizes) {
        const struct { const char *mode; QString expected; } cases[] = {
            {"bytes", Reference::asString(v)}, {"truncated", Reference::truncated(v)},
            {"bits", Reference::bits(v)}, {"outline", Reference::outline(v)}};
        for (const auto &c : cases) {
            const QString actual = productText(QString::fromLatin1(c.mode), v);
            if (actual != c.expected && ++mismatches <= 20)
                std::printf("%s %llu: got '%s', reference '%s'\n", c.mode, static_cast<unsigned long long>(v),
                            qPrintable(actual), qPrintable(c.expected));
            ++compared;
        }
    }
    std::printf("seed %llu: %d texts compared over %lld sizes, %d mismatches\n", static_cast<unsigned long long>(seed),
                compared, qlonglong(sizes.size()), mismatches);
    return mismatches == 0 ? 0 : 1;
}
