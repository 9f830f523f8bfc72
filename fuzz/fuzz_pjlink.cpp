// Fuzzes PJLink's request parser, its authentication and the replies to any request from any projector
// replies.
#include "fuzzinput.h"
#include "pjlinkauth.h"
#include "pjlinkmapping.h"

#include <algorithm>

namespace {

const QByteArray kRandom = "498e4a67";
constexpr int kMostLines = 16;
constexpr int kLongestReply = 16;
// A reply's length byte that leaves its step without an exchange, as a line lost before it does.
constexpr std::uint8_t kNotSent = 0xff;
constexpr int kLongestPassword = 32;
constexpr int kLongestName = 80;

// The first byte of the input, then of each line.
constexpr std::uint8_t kWithPassword = 1;
enum LineFlags : std::uint8_t { RightDigest = 1, UpperCase = 2 };

qsizetype keptSize(QByteArrayView line)
{
    return line.size() - std::count_if(line.begin(), line.end(), pjlink::isIgnored);
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void checkParsed(QByteArrayView line, const pjlink::ParsedLine &parsed)
{
    using pjlink::LineKind;
    const qsizetype kept = keptSize(line);
    fuzzCheck((parsed.kind == LineKind::Empty) == (kept == 0),
              "a line is empty when all its bytes are ignored");
    fuzzCheck(parsed.kind != LineKind::TooLong || kept > pjlink::kLongestRequest,
              "a short line is not too long");
    fuzzCheck(kept <= pjlink::kLongestLine || parsed.kind == LineKind::TooLong,
              "a line beyond every bound is");
    if (parsed.digest) {
        fuzzCheck(parsed.digest->size() == pjlink::kDigestLength &&
                      std::all_of(parsed.digest->begin(), parsed.digest->end(), isHex),
                  "a digest is 32 hex digits");
    }
    if (parsed.kind != LineKind::Request && parsed.kind != LineKind::Undefined)
        return;
    const pjlink::Request &request = parsed.request;
    fuzzCheck(request.command.size() == pjlink::kCommandLength &&
                  std::all_of(request.command.begin(), request.command.end(),
                              [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }),
              "a command is 4 upper-case letters or digits");
    fuzzCheck(parsed.kind == LineKind::Undefined || request.classDigit == '1' || request.classDigit == '2',
              "a request is of class 1 or 2");
    fuzzCheck(std::none_of(request.parameter.begin(), request.parameter.end(), pjlink::isIgnored) &&
                  request.parameter.size() < pjlink::kLongestRequest,
              "a parameter holds no ignored byte and fits the line");
}

void checkReply(const pjlink::Request &request, const QByteArray &reply)
{
    const QByteArray head = '%' + QByteArray(1, request.classDigit) + request.command + '=';
    fuzzCheck(reply.startsWith(head), "a reply names its request's class and command");
    fuzzCheck(reply.endsWith('\r') && reply.count('\r') == 1, "a reply is one line");
    const QByteArrayView answer = QByteArrayView(reply).sliced(head.size()).chopped(1);
    fuzzCheck(answer.size() <= pjlink::kLongestAnswer, "an answer is bounded");
    fuzzCheck(
        std::all_of(answer.begin(), answer.end(), [](char c) { return c >= 0x20 && c <= 0x7e && c != '='; }),
        "an answer is printable ASCII without '='");
    const bool fromVenue = request.command == "NAME";
    fuzzCheck(fromVenue ||
                  std::none_of(answer.begin(), answer.end(), [](char c) { return c >= 'a' && c <= 'z'; }),
              "the bridge's own answers are upper case");
}

} // namespace

// Whether there is a password, the password and a projector name, then up to
// 16 lines, each with whether the right digest goes in front of it and in
// which case, and followed by the projector's replies to its request's steps.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const bool withPassword = input.take() & kWithPassword;
    const QByteArray password = input.takeBytes(input.take() % (kLongestPassword + 1)).toByteArray();
    const QByteArray name = input.takeBytes(input.take() % (kLongestName + 1)).toByteArray();
    fuzzCheck(PjlinkAuth::equalInConstantTime(password, name) == (password == name),
              "the constant-time compare is a compare");
    PjlinkAuth auth(withPassword ? std::optional(password) : std::nullopt, kRandom);
    PjlinkMapping mapping({name, {}, {}});
    bool refused = false;
    for (int i = 0; i < kMostLines && !input.atEnd(); ++i) {
        const std::uint8_t flags = input.take();
        QByteArray line = input.takeBytes(input.take()).toByteArray();
        QByteArray digest = PjlinkAuth::digestOf(kRandom, password);
        if (flags & UpperCase)
            digest = digest.toUpper();
        if (flags & RightDigest)
            line.prepend(digest);
        const pjlink::ParsedLine parsed = pjlink::parseLine(line);
        checkParsed(line, parsed);
        if (parsed.kind != pjlink::LineKind::Request && parsed.kind != pjlink::LineKind::Undefined)
            continue;
        const bool wasAuthenticated = auth.isAuthenticated();
        const bool rightDigest = parsed.digest && parsed.digest->toLower() == digest.toLower();
        const bool admitted = auth.admit(parsed);
        fuzzCheck(admitted ==
                      (!withPassword || (!refused && (rightDigest || (!parsed.digest && wasAuthenticated)))),
                  "with a password, a line is admitted with the right digest, or without one after it");
        refused = refused || !admitted;
        if (parsed.kind == pjlink::LineKind::Undefined)
            continue;
        const PjlinkPlan plan = mapping.plan(parsed.request);
        QList<Exchange> exchanges;
        for (const commands::Step &step : plan.steps) {
            const std::uint8_t length = input.take();
            if (length == kNotSent)
                continue;
            Exchange exchange;
            exchange.step = step;
            exchange.reply = input.takeBytes(length % (kLongestReply + 1)).toByteArray();
            const Verdict verdict = exchange.reply.isEmpty() ? Verdict{Outcome::Unanswered, {}, {}}
                                                             : judgeReply(step.text, exchange.reply);
            exchange.outcome = verdict.outcome;
            exchange.reading = verdict.reading;
            exchanges.append(exchange);
        }
        checkReply(parsed.request, mapping.reply(parsed.request, exchanges));
    }
    return 0;
}
