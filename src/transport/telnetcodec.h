// The telnet side of a serial device server: data framing, option negotiation and COM-PORT-OPTION.
#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <vector>

// Telnet command bytes and the options the line negotiates.
namespace Telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPortOption = 44;
} // namespace Telnet

// The client's COM-PORT-OPTION commands; the server answers each with the code
// plus kServerOffset and the value then in force.
namespace ComPort2217 {
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kServerOffset = 100;

inline constexpr std::uint32_t kNoFlowControl = 1;
} // namespace ComPort2217

// One COM-PORT-OPTION command to the server, or the server's answer to one:
// the client's command code (1 to 5) and its value.
struct ComPortValue
{
    std::uint8_t command = 0;
    std::uint32_t value = 0;

    friend bool operator==(const ComPortValue &, const ComPortValue &) = default;
};

// Telnet for a line to a serial device server, as a pure byte transformation
// without sockets or timers. encode() frames outgoing data (IAC doubled);
// decode() takes the incoming stream in pieces of any size, a sequence may be
// split anywhere between two calls, and returns the data bytes, the replies the
// negotiation calls for and the server's COM-PORT-OPTION answers.
//
// BINARY is accepted both ways, SUPPRESS-GO-AHEAD is accepted both ways,
// COM-PORT-OPTION is offered by the client (WILL) as RFC 2217 has it; every
// other option is refused. A request that matches the state already in force
// draws no reply, so two peers never loop on each other.
class TelnetCodec
{
public:
    enum class ComPortState { Pending, Accepted, Refused };

    struct Decoded
    {
        QByteArray data;
        // Negotiation replies to send back to the server, already framed.
        QByteArray reply;
        std::vector<ComPortValue> answers;
    };

    // A subnegotiation holds a few bytes; anything longer is not one of ours
    // and is dropped instead of growing without bound.
    static constexpr qsizetype kMaxSubnegotiation = 64;

    // The data with every IAC byte doubled.
    static QByteArray encode(QByteArrayView data);
    // The five commands that set the server's port to the settings, in the order
    // SET-BAUDRATE, SET-DATASIZE, SET-PARITY, SET-STOPSIZE, SET-CONTROL.
    static std::array<ComPortValue, 5> commandsFor(const LineSettings &settings);
    // One COM-PORT-OPTION subnegotiation: IAC SB 44 code value IAC SE, the baud
    // rate in four bytes big-endian, every other value in one.
    static QByteArray subnegotiation(const ComPortValue &command);
    // All five subnegotiations for the settings.
    static QByteArray settingsRequest(const LineSettings &settings);

    // Forgets all negotiation; for a new connection.
    void reset();
    // What the client says as the connection opens: WILL BINARY, DO BINARY,
    // WILL COM-PORT-OPTION.
    QByteArray start();
    Decoded decode(QByteArrayView bytes);

    ComPortState comPortState() const;

private:
    enum class Stage { Data, Command, Option, Sub, SubCommand };

    // One side of one option: enabled, and whether a request of ours is out.
    struct Side
    {
        bool enabled = false;
        bool requested = false;
    };

    void negotiate(std::uint8_t verb, std::uint8_t option, QByteArray &reply);
    void endSubnegotiation(Decoded &decoded);

    Stage m_stage = Stage::Data;
    std::uint8_t m_verb = 0;
    QByteArray m_sub;
    bool m_subOverflow = false;
    // Ours: what we do (WILL/WONT); theirs: what the server does (DO/DONT asks us).
    std::array<Side, 256> m_ours{};
    std::array<Side, 256> m_theirs{};
    bool m_comPortRefused = false;
};
