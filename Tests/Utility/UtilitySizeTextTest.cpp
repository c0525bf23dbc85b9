// Size and duration texts, checked against a reference written here from the display rules
// with plain 64-bit long division (digit by digit), independent of the decimal numbers the
// product uses, over thresholds, extreme values and seeded random sizes of every magnitude.
#include "NSDecimalNumber_p.h"
#include "ZVUtility.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>
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

QString asString(SizeNumber size)
{
    if (!size)
        return QStringLiteral("0 bytes");
    const quint64 v = *size;
    if (v <= 1023)
        return QString::number(v) + QStringLiteral(" bytes");
    if (v <= 1048575)
        return divided(v, 1024, 1, Rounding::Up) + QStringLiteral(" KB");
    if (v <= 1073741823)
        return divided(v, 1048576, 1, Rounding::Up) + QStringLiteral(" MB");
    return divided(v, 1073741824, 1, Rounding::Up) + QStringLiteral(" GB");
}

QString truncated(SizeNumber size)
{
    if (!size)
        return QStringLiteral("0 bytes");
    const quint64 v = *size;
    if (v <= 1023)
        return QString::number(v) + QStringLiteral(" bytes");
    if (v <= 1048575)
        return divided(v, 1024, 1, Rounding::Plain) + QStringLiteral(" KB");
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

constexpr quint64 kSeed = 20261205;
constexpr int kRandomPerMagnitude = 150;

// The sizes compared with the reference: every threshold and its neighbours, the extremes,
// values where rounding ties, whole multiples of 1000 MiB and their neighbours, and seeded
// random sizes of every bit length.
QList<quint64> comparedSizes()
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
    QRandomGenerator random(kSeed);
    for (quint64 k = 1; k <= 2100; ++k)
        around(k * 1048576000ULL);
    for (int i = 0; i < 2000; ++i)
        around(random.bounded(quint64(1), ~0ULL / 1048576000ULL) * 1048576000ULL);
    for (int bitsLength = 1; bitsLength <= 64; ++bitsLength) {
        for (int i = 0; i < kRandomPerMagnitude; ++i) {
            const quint64 top = quint64(1) << (bitsLength - 1);
            const quint64 low = bitsLength == 1 ? 0 : random.generate64() & (top - 1);
            sizes.append(top | low);
        }
    }
    return sizes;
}

} // namespace

class UtilitySizeTextTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void examples_data();
    void examples();
    void againstReference();
    void absentSize_data();
    void absentSize();
    void formatedFileSizeHoldsTheValue();
    void timeText_data();
    void timeText();
    void decimalNumber_data();
    void decimalNumber();
};

void UtilitySizeTextTest::initTestCase()
{
    // A locale that writes decimal commas must change nothing.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        qInfo("de_DE.UTF-8 not installed; the C library's locale stays as it was");
    qInfo("random sizes: seed %llu, %d per bit length", kSeed, kRandomPerMagnitude);
}

void UtilitySizeTextTest::examples_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<quint64>("size");
    QTest::addColumn<QString>("expected");
    const struct { const char *mode; quint64 size; const char *expected; } rows[] = {
        {"bytes", 1023, "1023 bytes"}, {"bytes", 1024, "1 KB"}, {"bytes", 1025, "1.1 KB"},
        {"bytes", 1536, "1.5 KB"}, {"bytes", 1048575, "1024 KB"}, {"bytes", 1048576, "1 MB"},
        {"bytes", 1073741823, "1024 MB"}, {"bytes", 1073741824, "1 GB"}, {"bytes", 0, "0 bytes"},
        {"bytes", 18446744073709551615ULL, "17179869184 GB"},
        {"truncated", 1025, "1 KB"}, {"truncated", 1280, "1.3 KB"}, {"truncated", 5368709120ULL, "5 GB"},
        {"truncated", 5242880000ULL, "5 GB"}, {"truncated", 2097152000ULL, "2 GB"},
        {"truncated", 1048576000ULL, "1024 MB"}, {"truncated", 1073741824000ULL, "1 TB"},
        {"truncated", 1099511627776ULL, "1 TB"}, {"truncated", 1572864000ULL, "1.5 GB"},
        {"truncated", 1073741823999ULL, "1000 GB"},
        {"bits", 0, "50 Kb"}, {"bits", 100, "800 bytes"}, {"bits", 127, "1016 bytes"}, {"bits", 128, "1 Kb"},
        {"bits", 1000, "7.81 Kb"}, {"bits", 144, "1.13 Kb"}, {"bits", 131072, "1 Mb"},
        {"bits", 2305843009213693952ULL, "17179869184 Gb"}, // 2^61 bytes: 2^64 bits, not 0
        {"bits", 18446744073709551615ULL, "137438953472 Gb"},
        {"outline", 1023, "1023 bytes"}, {"outline", 1536, "1.50 KB"}, {"outline", 1073741824, "1.00 GB"},
        {"outline", 1152, "1.12 KB"}, // 1.125 exactly: the C library's tie goes to even
        {"outline", 0, "0 bytes"},
    };
    for (const auto &r : rows)
        QTest::addRow("%s %llu", r.mode, r.size) << QString::fromLatin1(r.mode) << r.size << QString::fromLatin1(r.expected);
}

static QString productText(const QString &mode, SizeNumber size)
{
    if (mode == QLatin1String("bytes"))
        return ZVUtility::formatedFileSizeAsString(size);
    if (mode == QLatin1String("truncated"))
        return ZVUtility::formatedFileSizeAsStringWithDecimalTruncated(size);
    if (mode == QLatin1String("bits"))
        return ZVUtility::formatedFileSizeInBits(size);
    return ZVUtility::formatedFileSizeForOutlineView(size);
}

void UtilitySizeTextTest::examples()
{
    QFETCH(QString, mode);
    QFETCH(quint64, size);
    QFETCH(QString, expected);
    QCOMPARE(productText(mode, size), expected);
}

void UtilitySizeTextTest::againstReference()
{
    const QList<quint64> sizes = comparedSizes();
    int compared = 0;
    for (quint64 v : sizes) {
        const struct { const char *mode; QString expected; } cases[] = {
            {"bytes", Reference::asString(v)}, {"truncated", Reference::truncated(v)},
            {"bits", Reference::bits(v)}, {"outline", Reference::outline(v)}};
        for (const auto &c : cases) {
            const QString actual = productText(QString::fromLatin1(c.mode), v);
            if (actual != c.expected)
                QFAIL(qPrintable(QStringLiteral("%1 of %2: got '%3', reference '%4'")
                                     .arg(QLatin1String(c.mode)).arg(v).arg(actual, c.expected)));
            ++compared;
        }
    }
    qInfo("%d texts compared over %lld sizes", compared, qlonglong(sizes.size()));
    QVERIFY(compared > 40000);
}

void UtilitySizeTextTest::absentSize_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bytes") << "bytes" << "0 bytes";
    QTest::newRow("truncated") << "truncated" << "0 bytes";
    QTest::newRow("bits") << "bits" << "1 bytes";
    QTest::newRow("outline") << "outline" << "0 bytes";
}

void UtilitySizeTextTest::absentSize()
{
    QFETCH(QString, mode);
    QFETCH(QString, expected);
    QCOMPARE(productText(mode, std::nullopt), expected);
}

void UtilitySizeTextTest::formatedFileSizeHoldsTheValue()
{
    QCOMPARE(ZVUtility::formatedFileSize(std::nullopt), SizeNumber(0));
    for (quint64 v : {quint64(0), quint64(1), quint64(1) << 53, ~quint64(0)})
        QCOMPARE(ZVUtility::formatedFileSize(v), SizeNumber(v));
}

void UtilitySizeTextTest::timeText_data()
{
    QTest::addColumn<qint32>("h");
    QTest::addColumn<qint32>("m");
    QTest::addColumn<qint32>("s");
    QTest::addColumn<QString>("expected");
    QTest::newRow("padded") << 1 << 5 << 30 << "01:05:30";
    QTest::newRow("ten and zero") << 10 << 0 << 9 << "10:00:09";
    QTest::newRow("no carrying") << 123 << 59 << 60 << "123:59:60";
    QTest::newRow("seventy-five seconds") << 0 << 0 << 75 << "00:00:75";
    QTest::newRow("negative plain") << -1 << -9 << -10 << "-1:-9:-10";
    QTest::newRow("extremes") << std::numeric_limits<qint32>::min() << std::numeric_limits<qint32>::max() << 9
                              << "-2147483648:2147483647:09";
}

void UtilitySizeTextTest::timeText()
{
    QFETCH(qint32, h);
    QFETCH(qint32, m);
    QFETCH(qint32, s);
    QFETCH(QString, expected);
    QCOMPARE(ZVUtility::timeDisplayFormatHourMinuteSeconds(h, m, s), expected);
}

void UtilitySizeTextTest::decimalNumber_data()
{
    QTest::addColumn<QString>("dividend");
    QTest::addColumn<QString>("divisor");
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain tie away from zero") << "1.25" << "1" << 1 << int(NSRoundPlain) << "1.3";
    QTest::newRow("plain negative tie") << "-1.25" << "1" << 1 << int(NSRoundPlain) << "-1.3";
    QTest::newRow("bankers tie to even") << "1.25" << "1" << 1 << int(NSRoundBankers) << "1.2";
    QTest::newRow("bankers odd tie") << "1.35" << "1" << 1 << int(NSRoundBankers) << "1.4";
    QTest::newRow("up positive") << "1.01" << "1" << 1 << int(NSRoundUp) << "1.1";
    QTest::newRow("up negative") << "-1.09" << "1" << 1 << int(NSRoundUp) << "-1";
    QTest::newRow("down negative") << "-1.01" << "1" << 1 << int(NSRoundDown) << "-1.1";
    QTest::newRow("third") << "1" << "3" << 2 << int(NSRoundPlain) << "0.33";
    QTest::newRow("trailing zeros go") << "3" << "2" << 3 << int(NSRoundPlain) << "1.5";
    QTest::newRow("small stays") << "1" << "4" << 2 << int(NSRoundPlain) << "0.25";
    QTest::newRow("rounds to zero") << "1" << "1000" << 2 << int(NSRoundPlain) << "0";
    QTest::newRow("negative scale") << "1234" << "1" << -2 << int(NSRoundPlain) << "1200";
    QTest::newRow("exponent") << "1.5e3" << "1" << 0 << int(NSRoundPlain) << "1500";
    QTest::newRow("leading zeros") << "000012.500" << "0.5" << 1 << int(NSRoundPlain) << "25";
    QTest::newRow("2^64-1 over 3") << "18446744073709551615" << "3" << 1 << int(NSRoundPlain) << "6148914691236517205";
    QTest::newRow("38 digits") << "99999999999999999999999999999999999999" << "10" << 0 << int(NSRoundPlain)
                               << "10000000000000000000000000000000000000";
    QTest::newRow("by zero") << "1" << "0" << 1 << int(NSRoundPlain) << "NaN";
    QTest::newRow("not a number") << "1.2.3" << "1" << 1 << int(NSRoundPlain) << "NaN";
    QTest::newRow("empty") << "" << "1" << 1 << int(NSRoundPlain) << "NaN";
    QTest::newRow("spaces") << " 1" << "1" << 1 << int(NSRoundPlain) << "NaN";
    QTest::newRow("too many digits") << "9999999999999999999999999999999999999999" << "1" << 0 << int(NSRoundPlain)
                                     << "NaN";
    QTest::newRow("scaled beyond 128 bits") << "18446744073709551615" << "1" << 30 << int(NSRoundPlain) << "NaN";
}

void UtilitySizeTextTest::decimalNumber()
{
    QFETCH(QString, dividend);
    QFETCH(QString, divisor);
    QFETCH(int, scale);
    QFETCH(int, mode);
    QFETCH(QString, expected);
    const auto handler = NSDecimalNumberHandler::
        decimalNumberHandlerWithRoundingModeScaleRaiseOnExactnessRaiseOnOverflowRaiseOnUnderflowRaiseOnDivideByZero(
            NSRoundingMode(mode), qint16(scale), false, false, false, false);
    const NSDecimalNumber q = NSDecimalNumber::decimalNumberWithString(dividend).decimalNumberByDividingByWithBehavior(
        NSDecimalNumber::decimalNumberWithString(divisor), handler);
    QCOMPARE(q.stringValue(), expected);
    QCOMPARE(q.isNotANumber(), expected == QLatin1String("NaN"));
}

QTEST_GUILESS_MAIN(UtilitySizeTextTest)
#include "UtilitySizeTextTest.moc"
