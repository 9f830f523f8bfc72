// Fuzzes the telnet codec: a stream decodes alike in any pieces, draws bounded replies and round-trips its
// data.
#include "fuzzinput.h"
#include "telnetcodec.h"

#include <QByteArray>
#include <QList>

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

constexpr qsizetype kLongestPiece = 32;
// A negotiation request and its reply are both 3-byte commands, and only the
// request's last byte draws the reply.
constexpr qsizetype kCommandSize = 3;
// The shortest answer: IAC SB 44 code value IAC SE.
constexpr qsizetype kShortestAnswer = 7;
// A subnegotiation that never ends runs on for this many times the most the
// codec keeps of one; a codec that kept it all would outgrow the bound below.
constexpr qsizetype kRunawayFactor = 16;
// What a kept subnegotiation may cost: its bytes, their array's spare room and
// header, and the allocator's rounding.
constexpr qsizetype kSubnegotiationRoom = 4 * TelnetCodec::kMaxSubnegotiation;

struct Gathered
{
    QByteArray data;
    QByteArray reply;
    std::vector<ComPortValue> answers;

    void add(const TelnetCodec::Decoded &decoded)
    {
        data += decoded.data;
        reply += decoded.reply;
        answers.insert(answers.end(), decoded.answers.begin(), decoded.answers.end());
    }
};

// Decodes the pieces one call each and checks that no call answers more than
// its own bytes ask for.
Gathered decodeInPieces(TelnetCodec &codec, const QList<QByteArrayView> &pieces)
{
    Gathered gathered;
    for (const QByteArrayView piece : pieces) {
        const TelnetCodec::Decoded decoded = codec.decode(piece);
        fuzzCheck(decoded.reply.size() <= kCommandSize * piece.size(),
                  "a piece draws at most one 3-byte reply per byte");
        gathered.add(decoded);
    }
    return gathered;
}

// The same cut points, as far as they go, laid over another text; the rest of
// it is the last piece.
QList<QByteArrayView> cutLike(QByteArrayView text, const QList<QByteArrayView> &pieces)
{
    QList<QByteArrayView> cut;
    for (const QByteArrayView piece : pieces) {
        const QByteArrayView next = text.first(std::min(piece.size(), text.size()));
        cut.append(next);
        text = text.sliced(next.size());
    }
    cut.append(text);
    return cut;
}

void checkSplitting(bool started, QByteArrayView stream, const QList<QByteArrayView> &pieces)
{
    TelnetCodec whole;
    TelnetCodec split;
    if (started)
        fuzzCheck(whole.start() == split.start(), "two fresh codecs open alike");
    Gathered once;
    once.add(whole.decode(stream));
    const Gathered inPieces = decodeInPieces(split, pieces);

    fuzzCheck(inPieces.data == once.data, "the data does not depend on where the stream is cut");
    fuzzCheck(inPieces.reply == once.reply, "the replies do not depend on where the stream is cut");
    fuzzCheck(inPieces.answers == once.answers, "the answers do not depend on where the stream is cut");
    fuzzCheck(split.comPortState() == whole.comPortState(),
              "the COM-PORT-OPTION state does not depend on where the stream is cut");

    fuzzCheck(once.data.size() <= stream.size(), "the data is no longer than the stream");
    fuzzCheck(once.reply.size() <= stream.size(), "the replies are no longer than the stream");
    fuzzCheck(qsizetype(once.answers.size()) * kShortestAnswer <= stream.size(),
              "every answer takes a whole subnegotiation of the stream");
}

void checkRoundTrip(QByteArrayView data, const QList<QByteArrayView> &pieces)
{
    const QByteArray framed = TelnetCodec::encode(data);
    fuzzCheck(framed.size() == data.size() + data.count(char(Telnet::kIac)),
              "encoding doubles IAC and only IAC");

    TelnetCodec whole;
    const TelnetCodec::Decoded once = whole.decode(framed);
    fuzzCheck(once.data == data, "decoding what was encoded gives the data back");
    fuzzCheck(once.reply.isEmpty() && once.answers.empty(), "encoded data draws no reply and no answer");

    TelnetCodec split;
    const Gathered inPieces = decodeInPieces(split, cutLike(framed, pieces));
    fuzzCheck(inPieces.data == data,
              "encoded data decodes back when cut anywhere, between a doubled IAC too");
    fuzzCheck(inPieces.reply.isEmpty() && inPieces.answers.empty(),
              "encoded data cut anywhere draws no reply and no answer");
}

void checkRunawaySubnegotiation(QByteArrayView body)
{
    // The body, IAC doubled, never holds IAC SE, so the subnegotiation goes on
    // for as long as it is fed.
    const QByteArray framed = TelnetCodec::encode(body);
    const QByteArray opening = QByteArray(1, char(Telnet::kIac)) + char(Telnet::kSb);
    const qsizetype rounds = 1 + kRunawayFactor * TelnetCodec::kMaxSubnegotiation / framed.size();

    // The fuzz build runs under AddressSanitizer, whose allocator counts the
    // bytes allocated and not yet freed.
    TelnetCodec codec;
    const std::size_t before = __sanitizer_get_current_allocated_bytes();
    Gathered gathered;
    gathered.add(codec.decode(opening));
    for (qsizetype round = 0; round < rounds; ++round)
        gathered.add(codec.decode(framed));
    fuzzCheck(gathered.data.isEmpty() && gathered.reply.isEmpty() && gathered.answers.empty(),
              "a subnegotiation that never ends yields no data, no reply and no answer");
    gathered = {};
    const std::size_t after = __sanitizer_get_current_allocated_bytes();
    fuzzCheck(after <= before + std::size_t(kSubnegotiationRoom),
              "a subnegotiation that never ends keeps at most kMaxSubnegotiation bytes");
}

} // namespace

// The input is a flags byte, then the stream in pieces, each a length byte and
// that many bytes. Flag bit 0 starts both codecs with the client's opening
// requests, so that the replies to answered requests are fuzzed too.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const bool started = input.take() & 1;
    QList<QByteArrayView> pieces;
    QByteArray stream;
    while (!input.atEnd()) {
        const QByteArrayView piece = input.takeBytes(input.take() % kLongestPiece);
        pieces.append(piece);
        stream += piece;
    }

    checkSplitting(started, stream, pieces);
    checkRoundTrip(stream, pieces);
    checkRunawaySubnegotiation(stream.isEmpty() ? QByteArray("x") : stream);
    return 0;
}
