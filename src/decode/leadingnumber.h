// The number a reply begins with, read as it arrives.
#pragma once

#include <QByteArrayView>

#include <string>

namespace decode {

// Reads the number a text begins with: blanks (space, tab, line feed) are
// skipped wherever they stand, then a sign, digits, a decimal point and an
// exponent (E or D), or "&H"/"&O" and a hexadecimal or octal number; reading
// stops at the first character that cannot continue it, and a text with no
// number reads as 0. A decimal number reads as the nearest double, as the C
// library reads it; beyond a double's range it reads as an infinity, and below
// it as 0.
//
// The pressure decoder runs on every receive event over the dump gathered so
// far. The reader goes on from the character where the last read stopped, so an
// event costs what its batch costs, even while a line of digits fills RxBuffer.
// Of a long number it keeps only the digits that can still change the nearest
// double, and a number that has ended is not read again.
class LeadingNumberReader
{
public:
    // Forgets what was read: the next text is read from its start.
    void reset();

    // The number text begins with. The text is the one of the last read with
    // characters added at its end, or a new one after reset(); a text shorter
    // than the last one is read from its start.
    double read(QByteArrayView text);

private:
    enum class Phase { Start, Integer, Fraction, ExponentSign, Exponent, RadixLetter, Radix, Done };

    void take(char c);
    void takeDigit(char c, bool integer);
    double value();
    double decimalValue() const;

    Phase m_phase = Phase::Start;
    qsizetype m_read = 0;

    bool m_negative = false;
    // Whether the mantissa has a digit at all: "-" and "." alone read as 0.
    bool m_hasDigits = false;
    // The significant digits, from the first one that is not 0, as far as they
    // can change the nearest double; whether a digit that is not 0 was left out
    // after them; and the power of ten that puts the decimal point before the
    // first of them: the number is 0.<digits> times 10 to place plus exponent.
    std::string m_digits;
    bool m_droppedNonZero = false;
    long long m_place = 0;
    bool m_exponentNegative = false;
    long long m_exponent = 0;

    // After "&H" or "&O"; 0 until the letter is read.
    int m_base = 0;
    double m_radixValue = 0;

    // The value of what was read, until a character changes it.
    bool m_valueKnown = false;
    double m_value = 0;
};

// The number text begins with, read in one go.
double leadingNumber(QByteArrayView text);

// The value of c as a digit in base (up to 16, letters in either case), or -1.
int digitValue(char c, int base);

} // namespace decode
