// The telnet side of a serial device server: data framing, option negotiation and COM-PORT-OPTION.
#include "telnetcodec.h"

#include <initializer_list>

namespace {

using namespace Telnet;

struct OptionPolicy
{
    std::uint8_t option;
    bool weMay;     // we accept DO (and answer WILL)
    bool theyMay;   // we accept WILL (and answer DO)
    bool askOurs;   // we send WILL as the connection opens
    bool askTheirs; // we send DO as the connection opens
};

// Every option not listed is refused both ways.
constexpr std::array kPolicies{
    OptionPolicy{kBinary, true, true, true, true},
    OptionPolicy{kSuppressGoAhead, true, true, false, false},
    // RFC 2217: the client offers the option, the server agrees with DO.
    OptionPolicy{kComPortOption, true, false, true, false},
};

constexpr OptionPolicy policyOf(std::uint8_t option)
{
    for (const auto &policy : kPolicies) {
        if (policy.option == option)
            return policy;
    }
    return {option, false, false, false, false};
}

struct ParityCode
{
    QSerialPort::Parity parity;
    std::uint32_t code;
};

constexpr std::array kParityCodes{
    ParityCode{QSerialPort::NoParity, 1},    ParityCode{QSerialPort::OddParity, 2},
    ParityCode{QSerialPort::EvenParity, 3},  ParityCode{QSerialPort::MarkParity, 4},
    ParityCode{QSerialPort::SpaceParity, 5},
};

struct StopCode
{
    QSerialPort::StopBits stopBits;
    std::uint32_t code;
};

constexpr std::array kStopCodes{
    StopCode{QSerialPort::OneStop, 1},
    StopCode{QSerialPort::TwoStop, 2},
    StopCode{QSerialPort::OneAndHalfStop, 3},
};

std::uint32_t parityCode(QSerialPort::Parity parity)
{
    for (const auto &row : kParityCodes) {
        if (row.parity == parity)
            return row.code;
    }
    return kParityCodes.front().code;
}

std::uint32_t stopCode(QSerialPort::StopBits stopBits)
{
    for (const auto &row : kStopCodes) {
        if (row.stopBits == stopBits)
            return row.code;
    }
    return kStopCodes.front().code;
}

QByteArray bytesOf(std::initializer_list<std::uint8_t> values)
{
    QByteArray bytes;
    for (const std::uint8_t value : values)
        bytes += char(value);
    return bytes;
}

QByteArray command(std::uint8_t verb, std::uint8_t option)
{
    return bytesOf({kIac, verb, option});
}

} // namespace

QByteArray TelnetCodec::encode(QByteArrayView data)
{
    QByteArray framed;
    framed.reserve(data.size());
    for (const char byte : data) {
        framed += byte;
        if (std::uint8_t(byte) == kIac)
            framed += byte;
    }
    return framed;
}

std::array<ComPortValue, 5> TelnetCodec::commandsFor(const LineSettings &settings)
{
    using namespace ComPort2217;
    return {{
        {kSetBaudRate, std::uint32_t(settings.baudRate)},
        {kSetDataSize, std::uint32_t(settings.dataBits)},
        {kSetParity, parityCode(settings.parity)},
        {kSetStopSize, stopCode(settings.stopBits)},
        {kSetControl, kNoFlowControl},
    }};
}

QByteArray TelnetCodec::subnegotiation(const ComPortValue &command)
{
    const int width = command.command == ComPort2217::kSetBaudRate ? 4 : 1;
    QByteArray value;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        value += char((command.value >> shift) & 0xff);
    return bytesOf({kIac, kSb, kComPortOption, command.command}) + encode(value) + bytesOf({kIac, kSe});
}

QByteArray TelnetCodec::settingsRequest(const LineSettings &settings)
{
    QByteArray request;
    for (const auto &command : commandsFor(settings))
        request += subnegotiation(command);
    return request;
}

void TelnetCodec::reset()
{
    *this = TelnetCodec();
}

QByteArray TelnetCodec::start()
{
    QByteArray opening;
    for (const auto &policy : kPolicies) {
        if (policy.askOurs && !m_ours[policy.option].enabled) {
            m_ours[policy.option].requested = true;
            opening += command(kWill, policy.option);
        }
        if (policy.askTheirs && !m_theirs[policy.option].enabled) {
            m_theirs[policy.option].requested = true;
            opening += command(kDo, policy.option);
        }
    }
    return opening;
}

TelnetCodec::ComPortState TelnetCodec::comPortState() const
{
    if (m_ours[kComPortOption].enabled)
        return ComPortState::Accepted;
    return m_comPortRefused ? ComPortState::Refused : ComPortState::Pending;
}

TelnetCodec::Decoded TelnetCodec::decode(QByteArrayView bytes)
{
    Decoded decoded;
    for (const char raw : bytes) {
        const auto byte = std::uint8_t(raw);
        switch (m_stage) {
        case Stage::Data:
            if (byte == kIac)
                m_stage = Stage::Command;
            else
                decoded.data += raw;
            break;
        case Stage::SubCommand:
            if (byte == kIac) {
                if (m_sub.size() < kMaxSubnegotiation)
                    m_sub += raw;
                else
                    m_subOverflow = true;
                m_stage = Stage::Sub;
                break;
            }
            if (byte == kSe) {
                endSubnegotiation(decoded);
                m_stage = Stage::Data;
                break;
            }
            // A command inside a subnegotiation ends it unfinished; the byte is
            // then read as the command it is.
            m_sub.clear();
            m_subOverflow = false;
            [[fallthrough]];
        case Stage::Command:
            if (byte == kIac) {
                decoded.data += raw;
                m_stage = Stage::Data;
            } else if (byte >= kWill) {
                m_verb = byte;
                m_stage = Stage::Option;
            } else if (byte == kSb) {
                m_sub.clear();
                m_subOverflow = false;
                m_stage = Stage::Sub;
            } else {
                // NOP, GA and the other one-byte commands mean nothing to a serial line.
                m_stage = Stage::Data;
            }
            break;
        case Stage::Option:
            negotiate(m_verb, byte, decoded.reply);
            m_stage = Stage::Data;
            break;
        case Stage::Sub:
            if (byte == kIac) {
                m_stage = Stage::SubCommand;
            } else if (m_sub.size() < kMaxSubnegotiation) {
                m_sub += raw;
            } else {
                m_subOverflow = true;
            }
            break;
        }
    }
    return decoded;
}

void TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, QByteArray &reply)
{
    const OptionPolicy policy = policyOf(option);
    Side &ours = m_ours[option];
    Side &theirs = m_theirs[option];
    const bool wasRequested = verb == kDo || verb == kDont ? ours.requested : theirs.requested;
    switch (verb) {
    case kDo:
        if (!policy.weMay) {
            reply += command(kWont, option);
        } else if (!ours.enabled) {
            ours.enabled = true;
            if (!wasRequested)
                reply += command(kWill, option);
        }
        ours.requested = false;
        if (option == kComPortOption)
            m_comPortRefused = !ours.enabled;
        break;
    case kDont:
        if (ours.enabled && !wasRequested)
            reply += command(kWont, option);
        ours = {};
        if (option == kComPortOption)
            m_comPortRefused = true;
        break;
    case kWill:
        if (!policy.theyMay) {
            reply += command(kDont, option);
        } else if (!theirs.enabled) {
            theirs.enabled = true;
            if (!wasRequested)
                reply += command(kDo, option);
        }
        theirs.requested = false;
        break;
    case kWont:
        if (theirs.enabled && !wasRequested)
            reply += command(kDont, option);
        theirs = {};
        break;
    }
}

void TelnetCodec::endSubnegotiation(Decoded &decoded)
{
    constexpr qsizetype kMaxValueBytes = 4;
    const bool ours = !m_subOverflow && m_sub.size() >= 3 && std::uint8_t(m_sub[0]) == kComPortOption &&
                      std::uint8_t(m_sub[1]) > ComPort2217::kServerOffset &&
                      m_sub.size() - 2 <= kMaxValueBytes;
    if (ours) {
        std::uint32_t value = 0;
        for (qsizetype i = 2; i < m_sub.size(); ++i)
            value = (value << 8) | std::uint8_t(m_sub[i]);
        decoded.answers.push_back({std::uint8_t(std::uint8_t(m_sub[1]) - ComPort2217::kServerOffset), value});
    }
    m_sub.clear();
    m_subOverflow = false;
}
