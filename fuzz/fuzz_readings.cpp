// Fuzzes the typed readings: every query's reading of one arbitrary reply, checked against its form and the
// panel.
#include "fuzzinput.h"
#include "readings.h"
#include "replyrouter.h"
#include "trafficdump.h"

#include <QJsonDocument>

#include <algorithm>

namespace {

bool kindFits(decode::Decoder decoder, const decode::Reading &reading)
{
    using namespace decode;
    switch (decoder) {
    case Decoder::ProjectorStatus:
        return std::holds_alternative<ProjectorStatusReading>(reading);
    case Decoder::Lamp1State:
    case Decoder::Lamp2State:
        return std::holds_alternative<LampStateReading>(reading);
    case Decoder::PowerState:
        return std::holds_alternative<PowerReading>(reading);
    case Decoder::ImageReversal:
        return std::holds_alternative<ReversalReading>(reading);
    case Decoder::MuteAndSignal:
        return std::holds_alternative<MuteSignalReading>(reading);
    case Decoder::LampPattern:
        return std::holds_alternative<LampPatternReading>(reading);
    case Decoder::LampHours:
        return std::holds_alternative<LampHoursReading>(reading);
    case Decoder::Temperatures:
        return std::holds_alternative<TemperaturesReading>(reading);
    case Decoder::Pressure:
        return std::holds_alternative<PressureReading>(reading);
    case Decoder::DumpEcho:
        return std::holds_alternative<EchoReading>(reading);
    }
    return false;
}

} // namespace

// The whole input is the reply, as raw bytes from the line; every query reads it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArrayView reply = input.rest();
    const QByteArray dump = TrafficDump::of(reply);
    const QByteArray prefix;
    for (const decode::Route &route : decode::kRoutes) {
        const QByteArrayView query(route.command.data(), qsizetype(route.command.size()));
        fuzzCheck(decode::decoderOf(query) == route.decoder, "every route's query finds its own decoder");
        const auto reading = decode::readingOf(query, reply);
        if (!reading)
            continue;
        fuzzCheck(reply.endsWith('\r') && reply.count('\r') == 1,
                  "a reading is only of a reply that ends in its only carriage return");
        fuzzCheck(kindFits(route.decoder, *reading), "a reading is of the kind its decoder reads");

        const QJsonObject object = decode::toJson(*reading);
        fuzzCheck(!object.isEmpty(), "every reading has keys");
        const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
        fuzzCheck(QJsonDocument::fromJson(json).object() == object,
                  "the JSON of a reading reads back as itself: no number is lost to null");
        decode::plainText(*reading);
        decode::isFault(*reading);

        ReplyRouter router(prefix);
        fuzzCheck(router.decode(query.toByteArray() + '\r', dump).has_value(),
                  "the panel shows a status for every reply that has a reading");
    }
    return 0;
}
