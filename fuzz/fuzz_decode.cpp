// Fuzzes the reply decoders as the receive path runs them: over the growing dump of a reply in batches.
#include "fuzzinput.h"
#include "replyrouter.h"
#include "trafficdump.h"

#include <QByteArray>

#include <algorithm>
#include <optional>

namespace {

// The decoder of the query the command is, found by building each query's
// command text rather than by taking the command apart as the router does.
std::optional<decode::Decoder> queryDecoder(const QByteArray &command, const QByteArray &prefix)
{
    for (const decode::Route &route : decode::kRoutes) {
        if (command == prefix + QByteArray(route.command.data(), qsizetype(route.command.size())) + '\r')
            return route.decoder;
    }
    return std::nullopt;
}

bool isPrintableAscii(const QByteArray &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

} // namespace

// The input is a selector, the parts it asks for, a batch size and the reply.
// Selector bits 0-3 pick one of the twelve queries, or 12-15 a raw command
// text from the input; bit 4 gives a command prefix from the input; bit 5
// leaves the prefix out of the command. A batch size of 0 sends the reply in
// one batch.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t selector = input.take();
    QByteArray prefix;
    if (selector & 0x10)
        prefix = input.takeBytes(input.take() % 8).toByteArray();
    QByteArray command = selector & 0x20 ? QByteArray() : prefix;
    if (const std::size_t choice = selector & 0x0f; choice < decode::kRoutes.size()) {
        const std::string_view query = decode::kRoutes[choice].command;
        command.append(query.data(), qsizetype(query.size())).append('\r');
    } else {
        command.append(input.takeBytes(input.take() % 32));
    }
    const qsizetype batchSize = input.take();
    const QByteArrayView reply = input.rest();

    const std::optional<decode::Decoder> decoder = queryDecoder(command, prefix);
    ReplyRouter router(prefix);
    TrafficDump dump;
    qsizetype gathered = 0;
    do {
        const qsizetype batch = batchSize == 0 ? reply.size() : std::min(batchSize, reply.size() - gathered);
        dump.append(reply.sliced(gathered, batch));
        gathered += batch;
        const std::optional<QByteArray> status = router.decode(command, dump.text());
        if (!status)
            continue;
        fuzzCheck(decoder.has_value(), "only the replies of the twelve queries are decoded");
        fuzzCheck(isPrintableAscii(*status), "a status text is printable ASCII, whatever the reply held");
        if (*decoder == decode::Decoder::Pressure) {
            fuzzCheck(*status == QByteArray::number(router.pressureValue()) + " hPa",
                      "the pressure text shows the pressure value the router keeps");
        }
    } while (gathered < reply.size());
    return 0;
}
