// Fuzzes the venue file's parser with any bytes, and qvx-bridge's reading of its sections: an error names a
// line, and a venue or a bridge it makes is usable.
#include "bridgeconfig.h"
#include "endpoint.h"
#include "fuzzinput.h"
#include "linesettings.h"
#include "venue.h"

#include <QString>

namespace {

const QString kFileName = QStringLiteral("venue.conf");

// The line number in "venue.conf:N: why", or 0 when the error is not of that form.
qsizetype lineNamedBy(const QString &error)
{
    const QString prefix = kFileName + u':';
    if (!error.startsWith(prefix))
        return 0;
    const qsizetype colon = error.indexOf(u':', prefix.size());
    if (colon < 0 || error.size() < colon + 3 || error[colon + 1] != u' ')
        return 0;
    bool ok = false;
    const qsizetype line = error.sliced(prefix.size(), colon - prefix.size()).toLongLong(&ok);
    return ok ? line : 0;
}

void checkProjector(const Venue &venue, const Projector &projector)
{
    QString why;
    const auto endpoint = Endpoint::parse(projector.port, &why);
    fuzzCheck(endpoint.has_value(), "a projector's port is one Endpoint::parse takes");
    fuzzCheck(endpoint->toString() == projector.endpoint.toString(), "a projector's endpoint is its port's");
    fuzzCheck(LineSettings::parse(projector.settings).has_value(), "a projector's settings text parses");
    fuzzCheck(venue.find(projector.name.toLower()) == &projector,
              "a projector is found by its name in any case");
    for (const VenueEntry &entry : projector.entries) {
        fuzzCheck(entry.key != u"port" && entry.key != u"speed",
                  "the port and the speed are not kept as entries");
        fuzzCheck(!entry.value.isEmpty() && entry.line > projector.line,
                  "an entry has a value, below its section");
    }
    for (const Projector &other : venue.projectors()) {
        fuzzCheck(&other == &projector || other.endpoint.toString() != projector.endpoint.toString(),
                  "no two projectors share a port");
    }
}

void checkBridge(const Venue &venue, qsizetype lines)
{
    QStringList errors;
    QStringList skipped;
    const auto configs = BridgeConfig::allOf(venue, &errors, &skipped);
    fuzzCheck(configs.has_value() == errors.isEmpty(), "the bridge's reading fails exactly when it says why");
    for (const QString &error : std::as_const(errors)) {
        const qsizetype line = lineNamedBy(error);
        fuzzCheck(line >= 1 && line <= lines, "a bridge's error names a line of the file");
    }
    if (!configs)
        return;
    for (const BridgeConfig &config : *configs) {
        const Projector *projector = venue.find(config.label);
        fuzzCheck(projector != nullptr, "a bridge serves a projector of the venue");
        const VenueEntry *password = projector->entry(u"pjlink-password");
        const bool saidNone = password && password->value == u"none";
        for (const PjlinkAddress &address : config.pjlink) {
            QString why;
            const auto again = PjlinkAddress::parse(address.toString(), &why);
            fuzzCheck(again && again->host == address.host && again->port == address.port,
                      "a PJLink address reads back as itself");
            fuzzCheck(config.password || saidNone || address.host.isLoopback(),
                      "PJLink without a password listens on loopback alone, unless the file says none");
        }
        fuzzCheck(config.statusAge.count() >= 0 && config.statusAge.count() <= 60'000,
                  "a status age in bounds");
        fuzzCheck(!config.poll || (config.poll->count() >= 1000 && config.poll->count() <= 3'600'000),
                  "a poll interval in bounds");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArrayView text = input.rest();
    QString error;
    const auto venue = Venue::parse(text, kFileName, &error);
    if (!venue) {
        const qsizetype line = lineNamedBy(error);
        fuzzCheck(line >= 1 && line <= text.count('\n') + 1, "an error names a line of the file");
        return 0;
    }
    for (const Projector &projector : venue->projectors())
        checkProjector(*venue, projector);
    checkBridge(*venue, text.count('\n') + 1);
    return 0;
}
