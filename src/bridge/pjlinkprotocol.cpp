// PJLink's lines: a controller's request as it arrives, and the reply lines the bridge sends back.
#include "pjlinkprotocol.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pjlink {

namespace {

constexpr char kRequestStart = '%';
constexpr char kSeparator = ' ';
constexpr char kReplacement = '?';
// '%', the class digit and the command.
constexpr qsizetype kHeaderLength = 2 + kCommandLength;

constexpr std::array<std::string_view, 4> kErrorTexts{"ERR1", "ERR2", "ERR3", "ERR4"};
static_assert(std::size_t(Error::ProjectorFailure) + 1 == kErrorTexts.size(), "one text per error");

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isAnswerByte(char c)
{
    return c >= 0x20 && c <= 0x7e && c != '=';
}

// The line without its ignored bytes, or nothing once it is longer than any line may be.
std::optional<QByteArray> keptBytes(QByteArrayView line)
{
    QByteArray kept;
    for (const char c : line) {
        if (isIgnored(c))
            continue;
        if (kept.size() == kLongestLine)
            return std::nullopt;
        kept.append(c);
    }
    return kept;
}

} // namespace

ParsedLine parseLine(QByteArrayView line)
{
    const auto kept = keptBytes(line);
    if (!kept)
        return {LineKind::TooLong, {}, {}};
    if (kept->isEmpty())
        return {LineKind::Empty, {}, {}};
    ParsedLine parsed;
    QByteArrayView rest = *kept;
    const QByteArrayView front = rest.first(std::min(kDigestLength, rest.size()));
    if (front.size() == kDigestLength && std::all_of(front.begin(), front.end(), isHex)) {
        parsed.digest = front.toByteArray();
        rest = rest.sliced(kDigestLength);
    }
    if (rest.size() > kLongestRequest) {
        parsed.kind = LineKind::TooLong;
        return parsed;
    }
    if (rest.size() < kHeaderLength || rest[0] != kRequestStart || !isDigit(rest[1]))
        return parsed;
    const QByteArrayView command = rest.sliced(2, kCommandLength);
    if (!std::all_of(command.begin(), command.end(), [](char c) { return isLetter(c) || isDigit(c); }))
        return parsed;
    parsed.request.classDigit = rest[1];
    parsed.request.command = command.toByteArray().toUpper();
    const QByteArrayView tail = rest.sliced(kHeaderLength);
    if ((rest[1] != '1' && rest[1] != '2') || tail.isEmpty() || tail.front() != kSeparator) {
        parsed.kind = LineKind::Undefined;
        return parsed;
    }
    parsed.kind = LineKind::Request;
    parsed.request.parameter = tail.sliced(1).toByteArray();
    return parsed;
}

QByteArray replyLine(const Request &request, QByteArrayView answer, qsizetype bound)
{
    QByteArray line = kRequestStart + QByteArray(1, request.classDigit) + request.command + '=';
    for (const char c : answer.first(std::min(bound, answer.size())))
        line.append(isAnswerByte(c) ? c : kReplacement);
    return line + kLineEnd;
}

QByteArray errorLine(const Request &request, Error error)
{
    const std::string_view text = kErrorTexts[std::size_t(error)];
    return replyLine(request, QByteArrayView(text.data(), qsizetype(text.size())));
}

} // namespace pjlink
