// The reply decoders: from the dump of a reply to the status text it shows.
#pragma once

#include "codetables.h"
#include "leadingnumber.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>
#include <span>

// Every decoder reads its fields from the dump by position, counting from 1, as
// the received-traffic line shows it: while the reply's characters are printable,
// reply character k stands at dump position 2k. A dump shorter than a field
// gives a shorter or empty field. No text means the status line stays as it is.
namespace decode {

// Dump positions 1 to n, or the whole dump if it is shorter.
QByteArrayView leadingField(QByteArrayView dump, qsizetype n);
// Dump positions p to p+n-1, or those of them that exist.
QByteArrayView innerField(QByteArrayView dump, qsizetype position, qsizetype n);

// The text of the code the field equals exactly, if any.
std::optional<QByteArray> textOfCode(std::span<const CodeText> table, QByteArrayView field);
// The lamp on/off pattern with the lamp mode, from the leading field of 4.
std::optional<QByteArray> lampPattern(QByteArrayView field);

// The first 19 reply characters, then " Hour Use".
QByteArray lampHours(QByteArrayView dump);
// Reply characters 1 to 5 as S1 and 8 to 11 as S2.
QByteArray temperatures(QByteArrayView dump);

// The nearest integer; a value halfway between two goes to the even one.
double roundHalfEven(double value);

struct Pressure
{
    std::int16_t reading;
    std::int16_t hectopascals;
};

// The air pressure from a reading of the sensor: the leading number of the dump,
// rounded, times 5 in 16-bit steps, then scaled to hPa. A reading outside
// -6553..6553 cannot take those steps and gives no pressure rather than a
// wrapped one.
std::optional<Pressure> pressure(QByteArrayView dump);
// The same from the leading number, read already.
std::optional<Pressure> pressureOf(double number);

} // namespace decode
