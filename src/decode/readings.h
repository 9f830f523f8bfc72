// Typed readings of the decoded queries' replies, for programs that report values rather than status texts.
#pragma once

#include "replyrouter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>

#include <array>
#include <optional>
#include <string_view>
#include <variant>

// The panel's decoders show whatever their fields hold, a half-received or
// garbled reply included. A reading is stricter: it exists only for a whole
// reply of the form its decoder reads, so that a number or a flag printed from
// it is always one the projector sent.
//
// Every form is the reply's characters, all printable ASCII (0x20 to 0x7E),
// then one carriage return that ends the reply and is its only one. A reply cut
// short, one with an ACK or any other control byte or byte above 0x7E in it,
// one with a second carriage return, and the error reply "ERR" have no reading.
// The forms, by query:
//
//   "TABN   1"            4 or more characters; the 4th is 0, 1, 2 or 8, the
//                         codes of kProjectorStatus that the panel can show.
//   "TLPS   1"/"TLPS   2" 4 or more characters; the 4th is 0 to 4.
//   "POWR????"            exactly "0" (standby) or "1" (on).
//   "CR4"                 exactly two characters, each 0 (reversed) or 1.
//   "CRA"                 exactly one of the codes of kMuteAndSignal.
//   "CR7"                 exactly a mode digit 0 to 2 and a pattern digit 0 to
//                         9 or A to F (upper case only, as the panel reads it).
//   "TLTT   1"/"TLTT   2" 1 to 18 decimal digits, leading zeros allowed: all of
//                         them stand in the panel's 19-character field.
//   "CR6"                 exactly 11 characters: S1, a comma, S2, each of 5
//                         characters and a decimal number (see below). The
//                         panel's S2 field shows characters 8 to 11 and leaves
//                         out character 7, the hundreds digit; the reading is
//                         the whole of characters 7 to 11.
//   "CR PRESSURE"         one decimal number and nothing else, from which
//                         pressureOf gives a pressure (a reading within -6553 to
//                         6553); no blanks, exponent, or "&H"/"&O" number.
//   "CR9"                 any printable text, the empty one included.
//
// A decimal number here is an optional sign, one or more digits, and
// optionally a point followed by one or more digits ("025.5", "-05.5", "+512").
namespace decode {

// The route of a query text, as it stands between CommandPrefix and the
// carriage return ("TABN   1", "CR7"), matched exactly as kRoutes is tested.
std::optional<Decoder> decoderOf(QByteArrayView query);

// The per-lamp states, in the order of their codes 0 to 4.
enum class LampState { Off, On, Retry, Waiting, Error };

struct ProjectorStatusReading
{
    char code;
    // From kProjectorStatus, its leading space kept.
    std::string_view text;
};

struct LampStateReading
{
    int lamp;
    LampState state;
};

struct PowerReading
{
    bool on;
};

struct ReversalReading
{
    bool topBottom;
    bool leftRight;
};

// The mute flags are given only by the codes with a first digit 0: "80" (no
// signal) and "FF" (standby) say nothing about the mutes, and the flags are
// then empty rather than a guess.
struct MuteSignalReading
{
    std::optional<bool> videoMute;
    std::optional<bool> audioMute;
    bool noSignal;
    bool standby;
};

struct LampPatternReading
{
    // The mode digit: 0 for 4 lamps, 1 for lamps 1 and 4, 2 for lamps 2 and 3.
    int mode;
    // Lamps No1 to No4; any lamp may be on in any mode, as the projector says.
    std::array<bool, 4> on;
};

struct LampHoursReading
{
    int lamp;
    qint64 hours;
};

// In degrees Celsius.
struct TemperaturesReading
{
    double s1;
    double s2;
};

// As pressureOf computes it from the reply's number.
struct PressureReading
{
    int reading;
    int hectopascals;
};

struct EchoReading
{
    // The reply without its carriage return.
    QByteArray text;
};

using Reading =
    std::variant<ProjectorStatusReading, LampStateReading, PowerReading, ReversalReading, MuteSignalReading,
                 LampPatternReading, LampHoursReading, TemperaturesReading, PressureReading, EchoReading>;

// The reading of a reply (the raw bytes as received, its carriage return
// included) to a query text as decoderOf takes it; nothing when the query has
// no decoder or the reply is not of the form above. The query, not only its
// decoder, is needed: "TLTT   1" and "TLTT   2" share a decoder but not a lamp.
std::optional<Reading> readingOf(QByteArrayView query, QByteArrayView reply);

// A fault a monitor reports: the projector status " Temp High", " Fan Err" or
// " Lamp Life 5% or less", or a lamp in Error.
bool isFault(const Reading &reading);

// A published interface: these keys and their types stay as they are.
//
//   projector status  {"status_code":"0", "status":"Normal", "fault":false}
//                     status is the table's text without its leading space
//   lamp state        {"lamp":1, "state":"on", "fault":false}
//                     state is one of "off", "on", "retry", "waiting", "error"
//   power             {"on":true}
//   reversal          {"top_bottom_reversed":false, "left_right_reversed":true}
//   mute and signal   {"video_mute":false, "audio_mute":true, "no_signal":false,
//                      "standby":false}; video_mute and audio_mute are null
//                     when the code gives no mute state
//   lamp pattern      {"mode":1, "mode_text":"2 Lamp mode(1,4)",
//                      "lamps_on":[true,false,false,true]}, lamps No1 to No4
//   lamp hours        {"lamp":1, "hours":1234}
//   temperatures      {"s1_c":25.5, "s2_c":31.5}
//   pressure          {"pressure_hpa":1013, "reading":889}
//   echo              {"text":"QVX-SIM 1.40"}
//
// Lamp hours are exact integers in the JSON text; a reader that holds numbers
// as doubles keeps them exactly up to 2^53.
QJsonObject toJson(const Reading &reading);

// One short text for a person, e.g. "1234 h", "S1 25.5 °C, S2 31.5 °C",
// "1013 hPa", "on", "Normal", "error" (a lamp's state), "lamps 1, 4 on, 2 Lamp mode(1,4)".
QString plainText(const Reading &reading);

} // namespace decode
