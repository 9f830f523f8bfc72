// The number a reply begins with, read as it arrives.
#include "leadingnumber.h"

#include <charconv>
#include <limits>

namespace decode {

namespace {

// A double's nearest value to a decimal number is settled by its first 767
// significant digits and whether any digit after them is not 0.
constexpr qsizetype kKeptDigits = 800;
// Exponents are counted up to here: far beyond any double, and far from overflowing.
constexpr long long kFarExponent = 1'000'000'000;
// Powers of ten of a first significant digit beyond which a number cannot be a
// finite double (the largest is about 1.8e308), or rounds to 0 (the smallest
// is about 4.9e-324).
constexpr long long kHighestMagnitude = 308;
constexpr long long kLowestMagnitude = -330;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isExponentLetter(char c)
{
    return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

} // namespace

int digitValue(char c, int base)
{
    int value = base;
    if (isDigit(c))
        value = c - '0';
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    return value < base ? value : -1;
}

void LeadingNumberReader::reset()
{
    *this = LeadingNumberReader();
}

double LeadingNumberReader::read(QByteArrayView text)
{
    if (text.size() < m_read)
        reset();
    for (; m_read < text.size() && m_phase != Phase::Done; ++m_read) {
        if (const char c = text[m_read]; !isBlank(c))
            take(c);
    }
    return value();
}

void LeadingNumberReader::take(char c)
{
    switch (m_phase) {
    case Phase::Start:
        m_phase = Phase::Integer;
        if (c == '&') {
            m_phase = Phase::RadixLetter;
            return;
        }
        if (c == '-' || c == '+') {
            m_negative = c == '-';
            return;
        }
        [[fallthrough]];
    case Phase::Integer:
        if (isDigit(c))
            takeDigit(c, true);
        else if (c == '.')
            m_phase = Phase::Fraction;
        else
            m_phase = isExponentLetter(c) ? Phase::ExponentSign : Phase::Done;
        return;
    case Phase::Fraction:
        if (isDigit(c))
            takeDigit(c, false);
        else
            m_phase = isExponentLetter(c) ? Phase::ExponentSign : Phase::Done;
        return;
    case Phase::ExponentSign:
        m_phase = Phase::Exponent;
        if (c == '-' || c == '+') {
            m_exponentNegative = c == '-';
            return;
        }
        [[fallthrough]];
    case Phase::Exponent:
        if (!isDigit(c)) {
            m_phase = Phase::Done;
            return;
        }
        m_exponent = std::min(kFarExponent, m_exponent * 10 + (c - '0'));
        m_valueKnown = false;
        return;
    case Phase::RadixLetter:
        if (c == 'H' || c == 'h')
            m_base = 16;
        else if (c == 'O' || c == 'o')
            m_base = 8;
        m_phase = m_base != 0 ? Phase::Radix : Phase::Done;
        return;
    case Phase::Radix:
        if (const int digit = digitValue(c, m_base); digit >= 0) {
            m_radixValue = m_radixValue * m_base + digit;
            m_valueKnown = false;
        } else {
            m_phase = Phase::Done;
        }
        return;
    case Phase::Done:
        return;
    }
}

void LeadingNumberReader::takeDigit(char c, bool integer)
{
    m_hasDigits = true;
    if (m_digits.empty() && c == '0') {
        // A leading 0 adds nothing before the point; after it, it moves the
        // first significant digit one place down.
        m_place -= integer ? 0 : 1;
    } else if (qsizetype(m_digits.size()) < kKeptDigits) {
        m_place += integer ? 1 : 0;
        m_digits.push_back(c);
    } else {
        m_place += integer ? 1 : 0;
        // Past the kept digits a fraction digit counts only as the first that is not 0.
        if (!integer && (c == '0' || m_droppedNonZero))
            return;
        m_droppedNonZero = m_droppedNonZero || c != '0';
    }
    m_valueKnown = false;
}

double LeadingNumberReader::value()
{
    if (!m_valueKnown) {
        m_value = m_base != 0 ? m_radixValue : decimalValue();
        m_valueKnown = true;
    }
    return m_value;
}

double LeadingNumberReader::decimalValue() const
{
    // "-", "." and "E5" hold no number.
    if (!m_hasDigits)
        return 0.0;
    if (m_digits.empty())
        return m_negative ? -0.0 : 0.0;
    const double infinity =
        m_negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    const long long exponent = m_exponentNegative ? -m_exponent : m_exponent;
    const long long magnitude = m_place - 1 + exponent;
    if (magnitude > kHighestMagnitude)
        return infinity;
    if (magnitude < kLowestMagnitude)
        return 0.0;

    // The kept digits, a 1 standing for the digits left out, and the exponent
    // that puts the point back: a few hundred characters at most, converted in
    // one go by from_chars, which rounds to nearest and does not depend on the
    // locale's decimal point.
    std::string number = m_negative ? "-" : "";
    number += m_digits;
    if (m_droppedNonZero)
        number += '1';
    const qsizetype written = qsizetype(m_digits.size()) + (m_droppedNonZero ? 1 : 0);
    number += 'e' + std::to_string(m_place + exponent - written);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range)
        return magnitude < 0 ? 0.0 : infinity;
    return value;
}

double leadingNumber(QByteArrayView text)
{
    LeadingNumberReader reader;
    return reader.read(text);
}

} // namespace decode
