// The reply decoders: from the dump of a reply to the status text it shows.
#include "decoders.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace decode {

namespace {

constexpr qsizetype kHoursField = 38;
constexpr qsizetype kS1Field = 10;
constexpr qsizetype kS2Position = 15;
constexpr qsizetype kS2Field = 8;

QByteArray bytesOf(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// Reads a text character by character as if its blanks were not there.
class BlankSkipper
{
public:
    explicit BlankSkipper(QByteArrayView text)
        : m_text(text)
    {
        skipBlanks();
    }

    bool atEnd() const { return m_at >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_at]; }
    char take()
    {
        const char c = peek();
        ++m_at;
        skipBlanks();
        return c;
    }

private:
    void skipBlanks()
    {
        while (m_at < m_text.size() && isBlank(m_text[m_at]))
            ++m_at;
    }

    QByteArrayView m_text;
    qsizetype m_at = 0;
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

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

double radixNumber(BlankSkipper &reader, int base)
{
    double value = 0;
    while (!reader.atEnd() && digitValue(reader.peek(), base) >= 0)
        value = value * base + digitValue(reader.take(), base);
    return value;
}

void takeDigits(BlankSkipper &reader, std::string &into)
{
    while (!reader.atEnd() && isDigit(reader.peek()))
        into.push_back(reader.take());
}

// The power of ten of a number's first significant digit, from its mantissa
// ("-", digits, "." and digits, up to mantissaEnd) and its exponent ("e", a sign
// and digits), saturated far beyond any double.
long long decimalMagnitude(const std::string &number, qsizetype mantissaEnd)
{
    constexpr long long kFar = 1'000'000'000;
    long long integerDigits = 0;
    long long firstSignificant = -1;
    long long digits = 0;
    bool fraction = false;
    for (qsizetype i = 0; i < mantissaEnd; ++i) {
        const char c = number[std::size_t(i)];
        if (c == '.') {
            fraction = true;
        } else if (isDigit(c)) {
            if (firstSignificant < 0 && c != '0')
                firstSignificant = digits;
            ++digits;
            integerDigits += !fraction;
        }
    }
    long long exponent = 0;
    bool negative = false;
    for (qsizetype i = mantissaEnd + 1; i < qsizetype(number.size()); ++i) {
        const char c = number[std::size_t(i)];
        if (c == '-')
            negative = true;
        else if (isDigit(c))
            exponent = std::min(kFar, exponent * 10 + (c - '0'));
    }
    return integerDigits - 1 - firstSignificant + (negative ? -exponent : exponent);
}

double decimalNumber(BlankSkipper &reader)
{
    // Gathered without blanks, then converted in one go, so that long and
    // fractional numbers are read as exactly as a double allows; from_chars
    // does not depend on the locale's decimal point.
    std::string number;
    if (reader.peek() == '-')
        number.push_back(reader.take());
    else if (reader.peek() == '+')
        reader.take();
    takeDigits(reader, number);
    if (reader.peek() == '.') {
        number.push_back(reader.take());
        takeDigits(reader, number);
    }
    const qsizetype mantissaEnd = qsizetype(number.size());
    if (const char e = reader.peek(); e == 'E' || e == 'e' || e == 'D' || e == 'd') {
        reader.take();
        std::string exponent{'e'};
        if (reader.peek() == '+' || reader.peek() == '-')
            exponent.push_back(reader.take());
        takeDigits(reader, exponent);
        number += exponent;
    }

    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Too small to tell from 0, or too large for any reading: the power of
        // ten of the first significant digit tells which.
        const double infinity = std::numeric_limits<double>::infinity();
        if (decimalMagnitude(number, mantissaEnd) < 0)
            return 0.0;
        return number.front() == '-' ? -infinity : infinity;
    }
    return error == std::errc() ? value : 0.0;
}

} // namespace

QByteArrayView leadingField(QByteArrayView dump, qsizetype n)
{
    return dump.first(std::min(n, dump.size()));
}

QByteArrayView innerField(QByteArrayView dump, qsizetype position, qsizetype n)
{
    const qsizetype from = position - 1;
    if (from >= dump.size())
        return {};
    return dump.sliced(from, std::min(n, dump.size() - from));
}

std::optional<QByteArray> textOfCode(std::span<const CodeText> table, QByteArrayView field)
{
    for (const CodeText &entry : table) {
        if (QByteArrayView(entry.code) == field)
            return bytesOf(entry.text);
    }
    return std::nullopt;
}

std::optional<QByteArray> lampPattern(QByteArrayView field)
{
    if (field.size() != 4 || field[0] != ' ' || field[2] != ' ')
        return std::nullopt;
    const char mode = field[1];
    const char pattern = field[3];
    // Upper-case digits only: "0a" is not a pattern.
    const int lamps = (pattern >= 'a' && pattern <= 'f') ? -1 : digitValue(pattern, 16);
    if (mode < '0' || mode >= '0' + int(kLampModeParts.size()) || lamps < 0)
        return std::nullopt;
    return bytesOf(kLampPatternParts[std::size_t(lamps)]) + bytesOf(kLampModeParts[std::size_t(mode - '0')]);
}

QByteArray lampHours(QByteArrayView dump)
{
    return leadingField(dump, kHoursField).toByteArray() + " Hour Use";
}

QByteArray temperatures(QByteArrayView dump)
{
    return "  S1=" + leadingField(dump, kS1Field).toByteArray() +
           " C  ,   S2= " + innerField(dump, kS2Position, kS2Field).toByteArray() + " C";
}

double leadingNumber(QByteArrayView text)
{
    BlankSkipper reader(text);
    if (reader.peek() != '&')
        return decimalNumber(reader);
    reader.take();
    switch (reader.peek()) {
    case 'H':
    case 'h':
        reader.take();
        return radixNumber(reader, 16);
    case 'O':
    case 'o':
        reader.take();
        return radixNumber(reader, 8);
    default:
        return 0;
    }
}

double roundHalfEven(double value)
{
    const double down = std::floor(value);
    const double fraction = value - down;
    if (fraction > 0.5)
        return down + 1;
    if (fraction < 0.5)
        return down;
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

std::optional<Pressure> pressure(QByteArrayView dump)
{
    constexpr double kMin = std::numeric_limits<std::int16_t>::min();
    constexpr double kMax = std::numeric_limits<std::int16_t>::max();
    const double reading = roundHalfEven(leadingNumber(dump));
    // Both the reading and five times it are 16-bit values.
    if (!(reading >= kMin && reading <= kMax) || !(reading * 5 >= kMin && reading * 5 <= kMax))
        return std::nullopt;
    const double hectopascals = roundHalfEven(((reading * 5) / 1024 - 0.204) / 0.00459 + 150);
    return Pressure{std::int16_t(reading), std::int16_t(hectopascals)};
}

} // namespace decode
