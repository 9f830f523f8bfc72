// Chooses the decoder for a reply by the command sent last.
#pragma once

#include "leadingnumber.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace decode {

enum class Decoder {
    ProjectorStatus,
    Lamp1State,
    Lamp2State,
    PowerState,
    ImageReversal,
    LampHours,
    Temperatures,
    MuteAndSignal,
    DumpEcho,
    Pressure,
    LampPattern,
};

// A query text, as it stands between CommandPrefix and the carriage return.
struct Route
{
    std::string_view command;
    Decoder decoder;
};

// Tested in this order, by exact comparison: "tabn   1" or "CR4 " is sent but
// not decoded.
inline constexpr std::array kRoutes{
    Route{"TABN   1", Decoder::ProjectorStatus}, Route{"TLPS   1", Decoder::Lamp1State},
    Route{"TLPS   2", Decoder::Lamp2State},      Route{"POWR????", Decoder::PowerState},
    Route{"CR4", Decoder::ImageReversal},        Route{"TLTT   1", Decoder::LampHours},
    Route{"TLTT   2", Decoder::LampHours},       Route{"CR6", Decoder::Temperatures},
    Route{"CRA", Decoder::MuteAndSignal},        Route{"CR9", Decoder::DumpEcho},
    Route{"CR PRESSURE", Decoder::Pressure},     Route{"CR7", Decoder::LampPattern},
};

} // namespace decode

// Runs on every receive event, over the dump of everything gathered since
// RxBuffer was last emptied: the route whose command equals LastCommand picks
// the decoder, and the decoder's text goes to the status line. No route, or a
// field that matches no code, leaves the status line as it is. The pressure
// decoder keeps its working value, PressureValue.
class ReplyRouter
{
public:
    // The prefix is the link's CommandPrefix, which every command text starts with.
    explicit ReplyRouter(const QByteArray &commandPrefix)
        : m_commandPrefix(commandPrefix)
    {}

    // The status text for the dump. The dump is grown when it is the one of the
    // last decode with characters added at its end; the pressure decoder then
    // reads its number on from where it stopped. Any other dump is read anew.
    std::optional<QByteArray> decode(const QByteArray &lastCommand, const QByteArray &dump,
                                     bool grown = false);

    std::int16_t pressureValue() const { return m_pressureValue; }

private:
    std::optional<decode::Decoder> route(const QByteArray &lastCommand) const;
    std::optional<QByteArray> run(decode::Decoder decoder, const QByteArray &dump);

    const QByteArray &m_commandPrefix;
    std::int16_t m_pressureValue = 0;
    // Forgets its place at every new dump, whatever the route, so that it never
    // reads on over a dump whose start it did not see.
    decode::LeadingNumberReader m_pressureReader;
};
