// Fuzzes the endpoint parser with any text: a network endpoint it accepts formats and parses back to itself.
#include "endpoint.h"
#include "fuzzinput.h"

#include <QString>

namespace {

void checkParse(const QString &text)
{
    QString error;
    const auto endpoint = Endpoint::parse(text, &error);
    if (!endpoint) {
        fuzzCheck(!error.isEmpty(), "a refused endpoint says why");
        fuzzCheck(error.contains(text), "a refusal quotes the text it refuses");
        return;
    }
    fuzzCheck(endpoint->isNetwork() == Endpoint::looksLikeUrl(text),
              "a text is a network endpoint exactly when it looks like a URL");
    if (!endpoint->isNetwork()) {
        fuzzCheck(endpoint->device == text && endpoint->toString() == text,
                  "a device path is kept as written");
        return;
    }
    fuzzCheck(!endpoint->host.isEmpty() && endpoint->port != 0, "a network endpoint has a host and a port");

    const QString formatted = endpoint->toString();
    QString formattedError;
    const auto again = Endpoint::parse(formatted, &formattedError);
    fuzzCheck(again.has_value(), "a network endpoint's own text parses");
    fuzzCheck(again->kind == endpoint->kind && again->host == endpoint->host && again->port == endpoint->port,
              "a network endpoint's own text parses back to the same kind, host and port");
    fuzzCheck(again->toString() == formatted, "a network endpoint formats the same once parsed back");
}

} // namespace

// Every input is tried twice: as UTF-8, as an operator's environment gives it,
// and as Latin-1, so that every byte value reaches the parser as a character.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArrayView text = input.rest();
    checkParse(QString::fromUtf8(text));
    checkParse(QString::fromLatin1(text));
    return 0;
}
