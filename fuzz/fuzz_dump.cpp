// Fuzzes the traffic dump: built batch by batch it must equal the dump of the whole text, token by token.
#include "fuzzinput.h"
#include "trafficdump.h"

#include <QByteArray>

#include <algorithm>
#include <random>

namespace {

constexpr unsigned char kAck = 6;
constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kAmpersandCode = 20;

// Token widths, written out apart from TrafficDump: the decoders find reply
// characters at the positions these widths give, so a changed width must show.
qsizetype tokenWidth(unsigned char c)
{
    switch (c) {
    case kAck:
        return 4;
    case kAmpersandCode:
        return 1;
    case kLineFeed:
    case kCarriageReturn:
        return 3;
    default:
        return 2;
    }
}

char tokenLead(unsigned char c)
{
    switch (c) {
    case kAck:
        return 'A';
    case kAmpersandCode:
        return '&';
    case kLineFeed:
        return 'L';
    case kCarriageReturn:
        return 'C';
    default:
        return c >= ' ' && c <= 'z' ? char(c) : '?';
    }
}

void checkTokens(QByteArrayView text, const QByteArray &dump)
{
    fuzzCheck(dump.startsWith(' '), "a dump starts with a space");
    fuzzCheck(std::all_of(dump.begin(), dump.end(), [](char c) { return c >= ' ' && c <= 'z'; }),
              "a dump holds only characters from space to 'z'");
    const qsizetype shown = std::min(text.size(), TrafficDump::kMaxCharacters);
    qsizetype at = 1;
    for (const char character : text.first(shown)) {
        const auto c = static_cast<unsigned char>(character);
        const qsizetype width = tokenWidth(c);
        fuzzCheck(at + width <= dump.size(), "every shown character has a whole token");
        fuzzCheck(dump[at] == tokenLead(c), "a token starts with its character or its name");
        fuzzCheck(width == 1 || dump[at + width - 1] == ' ', "a token wider than one ends with a space");
        at += width;
    }
    fuzzCheck(at == dump.size(), "a dump holds the tokens of its shown characters and nothing more");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    // The first byte seeds the batch sizes and sets how large they get; the
    // second repeats the text up to 16 times, so that inputs of libFuzzer's
    // usual length reach the dump's length limit too.
    const std::uint8_t splitting = input.take();
    const int repeats = 1 + input.take() % 16;
    const QByteArray text = input.rest().toByteArray().repeated(repeats);

    const QByteArray whole = TrafficDump::of(text);
    checkTokens(text, whole);

    std::minstd_rand batchSizes(splitting);
    const qsizetype largestBatch = 1 + (splitting >> 4) * 64;
    TrafficDump grown;
    qsizetype gathered = 0;
    while (gathered < text.size()) {
        const qsizetype batch =
            std::min(qsizetype(batchSizes() % (largestBatch + 1)), text.size() - gathered);
        grown.append(QByteArrayView(text).sliced(gathered, batch));
        gathered += batch;
        fuzzCheck(grown.characters() == std::min(gathered, TrafficDump::kMaxCharacters),
                  "a dump counts the characters it shows");
    }
    fuzzCheck(grown.text() == whole, "a dump grown batch by batch equals the dump of the whole text");

    grown.clear();
    fuzzCheck(grown.text() == " " && grown.characters() == 0, "a cleared dump is a lone space");
    grown.append(text);
    fuzzCheck(grown.text() == whole, "a cleared dump grows as a new one");
    return 0;
}
