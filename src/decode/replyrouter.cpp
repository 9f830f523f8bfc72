// Chooses the decoder for a reply by the command sent last.
#include "replyrouter.h"

#include "decoders.h"

using namespace decode;

namespace {

constexpr qsizetype kStateField = 8;
constexpr qsizetype kPowerField = 2;
constexpr qsizetype kTwoCharacterField = 4;

} // namespace

std::optional<QByteArray> ReplyRouter::decode(const QByteArray &lastCommand, const QByteArray &dump,
                                              bool grown)
{
    if (!grown)
        m_pressureReader.reset();
    const auto decoder = route(lastCommand);
    return decoder ? run(*decoder, dump) : std::nullopt;
}

std::optional<Decoder> ReplyRouter::route(const QByteArray &lastCommand) const
{
    // LastCommand must be exactly CommandPrefix + the query + a carriage return.
    if (lastCommand.size() <= m_commandPrefix.size() || !lastCommand.startsWith(m_commandPrefix) ||
        !lastCommand.endsWith('\r'))
        return std::nullopt;
    const QByteArrayView query =
        QByteArrayView(lastCommand)
            .sliced(m_commandPrefix.size(), lastCommand.size() - m_commandPrefix.size() - 1);
    for (const Route &route : kRoutes) {
        if (QByteArrayView(route.command) == query)
            return route.decoder;
    }
    return std::nullopt;
}

std::optional<QByteArray> ReplyRouter::run(Decoder decoder, const QByteArray &dump)
{
    switch (decoder) {
    case Decoder::ProjectorStatus:
        return textOfCode(kProjectorStatus, innerField(dump, kStateField, 1));
    case Decoder::Lamp1State:
        return textOfCode(kLamp1State, innerField(dump, kStateField, 1));
    case Decoder::Lamp2State:
        return textOfCode(kLamp2State, innerField(dump, kStateField, 1));
    case Decoder::PowerState:
        return textOfCode(kPowerState, leadingField(dump, kPowerField));
    case Decoder::ImageReversal:
        return textOfCode(kImageReversal, leadingField(dump, kTwoCharacterField));
    case Decoder::MuteAndSignal:
        return textOfCode(kMuteAndSignal, leadingField(dump, kTwoCharacterField));
    case Decoder::LampPattern:
        return lampPattern(leadingField(dump, kTwoCharacterField));
    case Decoder::LampHours:
        return lampHours(dump);
    case Decoder::Temperatures:
        return temperatures(dump);
    case Decoder::DumpEcho:
        return dump;
    case Decoder::Pressure:
        break;
    }
    const auto reading = pressureOf(m_pressureReader.read(dump));
    if (!reading)
        return std::nullopt;
    m_pressureValue = reading->hectopascals;
    return QByteArray::number(m_pressureValue) + " hPa";
}
