// Decimal numbers for display texts that must be exact where 64-bit floating point is not:
// a value is a 128-bit unsigned mantissa, a power-of-ten exponent and a sign, so every
// unsigned 64-bit count, and any count times a small power of ten, is held exactly.
// Texts are always written with a point, whatever the locale.
#pragma once

#include <QString>
#include <QtGlobal>

enum NSRoundingMode {
    NSRoundPlain = 0,   // to nearest; a tie goes away from zero
    NSRoundDown = 1,    // toward negative infinity
    NSRoundUp = 2,      // toward positive infinity
    NSRoundBankers = 3, // to nearest; a tie goes to the even digit
};

// How a result is rounded: the mode and the number of fractional digits kept (the scale; a
// negative scale rounds to tens, hundreds, ...). The raise flags are kept for the caller's
// information only: no operation ever throws, an impossible result is notANumber.
class NSDecimalNumberHandler {
public:
    static NSDecimalNumberHandler
    decimalNumberHandlerWithRoundingModeScaleRaiseOnExactnessRaiseOnOverflowRaiseOnUnderflowRaiseOnDivideByZero(
        NSRoundingMode roundingMode, qint16 scale, bool raiseOnExactness, bool raiseOnOverflow,
        bool raiseOnUnderflow, bool raiseOnDivideByZero);

    NSRoundingMode roundingMode() const { return m_mode; }
    qint16 scale() const { return m_scale; }

private:
    NSDecimalNumberHandler(NSRoundingMode mode, qint16 scale) : m_mode(mode), m_scale(scale) {}
    NSRoundingMode m_mode;
    qint16 m_scale;
};

class NSDecimalNumber {
public:
    // Reads [+|-]digits[.digits][(e|E)[+|-]digits] in plain ASCII, nothing before or after.
    // Anything else, or more significant digits than 128 bits hold (about 38), gives
    // notANumber.
    static NSDecimalNumber decimalNumberWithString(const QString &text);
    static NSDecimalNumber notANumber();

    // The quotient self / divisor, exact before the one rounding to the handler's scale by
    // its mode. Division by zero, and a quotient whose scaled value does not fit in 128 bits,
    // give notANumber; so does any operation on notANumber.
    NSDecimalNumber decimalNumberByDividingByWithBehavior(const NSDecimalNumber &divisor,
                                                         const NSDecimalNumberHandler &behavior) const;

    // Plain notation: optional "-", the integer digits, and when there are non-zero
    // fractional digits a point and those digits without trailing zeros ("1.5", "2", "0.25",
    // "1000"). No exponent, no grouping. notANumber is "NaN"; zero is "0".
    QString stringValue() const;

    bool isNotANumber() const { return m_nan; }

private:
    NSDecimalNumber() = default;
    unsigned __int128 m_mantissa = 0;
    int m_exponent = 0; // value = mantissa * 10^exponent
    bool m_negative = false;
    bool m_nan = true;
};
