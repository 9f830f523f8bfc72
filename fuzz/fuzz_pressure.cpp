// Fuzzes the number reader and the pressure decoder with any text: no undefined behaviour, readings in range.
#include "decoders.h"
#include "fuzzinput.h"
#include "trafficdump.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr double kLowestReading = -6553;
constexpr double kHighestReading = 6553;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

std::string withoutBlanks(QByteArrayView text)
{
    std::string kept;
    for (const char c : text) {
        if (!isBlank(c))
            kept.push_back(c);
    }
    return kept;
}

bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// The C library's reading of a text that can only hold a plain decimal number.
// strtod rounds correctly and goes to infinity or 0 when the exponent is out of
// reach, which is what the reader must do; the process runs in the "C" locale,
// so its decimal point is '.'. Other texts (hexadecimal, "inf", "nan") read
// differently there and get no reference.
std::optional<double> libraryReading(std::string blankless)
{
    if (blankless.find_first_not_of("0123456789+-.eEdD") != std::string::npos)
        return std::nullopt;
    for (char &c : blankless) {
        if (c == 'D' || c == 'd')
            c = 'e';
    }
    return std::strtod(blankless.c_str(), nullptr);
}

void checkRounding(double value)
{
    if (!std::isfinite(value))
        return;
    const double rounded = decode::roundHalfEven(value);
    fuzzCheck(rounded == std::trunc(rounded), "rounding gives a whole number");
    const double distance = std::fabs(rounded - value);
    fuzzCheck(distance <= 0.5, "rounding goes to a nearest whole number");
    fuzzCheck(distance < 0.5 || std::fmod(rounded, 2.0) == 0, "a halfway value rounds to the even one");
}

// Reads the text on in pieces whose lengths follow its own characters, as the
// receive path reads a reply that arrives in batches, checking one piece on the
// way against a read of that much in one go.
double readInPieces(QByteArrayView text)
{
    decode::LeadingNumberReader reader;
    const qsizetype checkedAt = text.size() / 2;
    double number = reader.read({});
    for (qsizetype length = 0; length < text.size();) {
        const qsizetype next =
            std::min(text.size(), length + 1 + (static_cast<unsigned char>(text[length]) & 7));
        if (length < checkedAt && next >= checkedAt)
            fuzzCheck(
                sameNumber(reader.read(text.first(checkedAt)), decode::leadingNumber(text.first(checkedAt))),
                "a number read on from where it stopped is the number read in one go");
        length = next;
        number = reader.read(text.first(length));
    }
    return number;
}

void checkPressure(QByteArrayView text)
{
    const double number = decode::leadingNumber(text);
    fuzzCheck(sameNumber(number, readInPieces(text)), "a number read in pieces is the number read in one go");
    const std::string blankless = withoutBlanks(text);
    fuzzCheck(sameNumber(number, decode::leadingNumber(
                                     QByteArrayView(blankless.data(), qsizetype(blankless.size())))),
              "blanks do not change the number a text begins with");
    if (const std::optional<double> reference = libraryReading(blankless))
        fuzzCheck(sameNumber(number, *reference), "a decimal number reads as the C library reads it");
    checkRounding(number);

    const double rounded = decode::roundHalfEven(number);
    const std::optional<decode::Pressure> pressure = decode::pressure(text);
    fuzzCheck(pressure.has_value() == (rounded >= kLowestReading && rounded <= kHighestReading),
              "there is a pressure exactly for readings from -6553 to 6553");
    if (pressure)
        fuzzCheck(pressure->reading == rounded, "the reading is the leading number, rounded");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArrayView text = input.rest();
    checkPressure(text);
    // The pressure decoder reads the dump of a reply, not the reply itself.
    checkPressure(TrafficDump::of(text));
    return 0;
}
