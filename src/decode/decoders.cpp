// The reply decoders: from the dump of a reply to the status text it shows.
#include "decoders.h"

#include <QByteArray>

#include <cmath>
#include <limits>

namespace decode {

namespace {

constexpr qsizetype kHoursField = 38;

// The reading is a step of a 10-bit converter on a 5 V reference; the sensor
// gives kOffsetVolts at kBaseHectopascals and kVoltsPerHectopascal for every
// hPa above.
constexpr double kReferenceVolts = 5;
constexpr double kConverterSteps = 1024;
constexpr double kOffsetVolts = 0.204;
constexpr double kVoltsPerHectopascal = 0.00459;
constexpr double kBaseHectopascals = 150;
constexpr qsizetype kS1Field = 10;
constexpr qsizetype kS2Position = 15;
constexpr qsizetype kS2Field = 8;

QByteArray bytesOf(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
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
    return pressureOf(leadingNumber(dump));
}

std::optional<Pressure> pressureOf(double number)
{
    constexpr double kMin = std::numeric_limits<std::int16_t>::min();
    constexpr double kMax = std::numeric_limits<std::int16_t>::max();
    const double reading = roundHalfEven(number);
    const double scaled = reading * kReferenceVolts;
    // Both the reading and the reading times the reference are 16-bit values.
    if (!(reading >= kMin && reading <= kMax) || !(scaled >= kMin && scaled <= kMax))
        return std::nullopt;
    const double volts = scaled / kConverterSteps;
    const double hectopascals =
        roundHalfEven((volts - kOffsetVolts) / kVoltsPerHectopascal + kBaseHectopascals);
    return Pressure{std::int16_t(reading), std::int16_t(hectopascals)};
}

} // namespace decode
