// A command and what came back for it, judged: the answer to that command, or none.
#include "exchange.h"

#include "replyrouter.h"
#include "trafficdump.h"

namespace {

constexpr QByteArrayView kAcknowledged = "\x06\r";
constexpr QByteArrayView kRefused = "ERR\r";

// One line: a reply that ends in its only carriage return.
bool isOneLine(QByteArrayView reply)
{
    return reply.endsWith('\r') && reply.indexOf('\r') == reply.size() - 1;
}

} // namespace

Verdict judgeReply(QByteArrayView command, QByteArrayView reply)
{
    if (reply == kRefused)
        return {Outcome::Refused, {}, {}};
    if (decode::decoderOf(command)) {
        auto reading = decode::readingOf(command, reply);
        if (!reading)
            return {};
        // Scripts send no prefix, as the panel sends none.
        const QByteArray prefix;
        ReplyRouter router(prefix);
        return {Outcome::Answered, router.decode(command.toByteArray() + '\r', TrafficDump::of(reply)),
                std::move(reading)};
    }
    if (commands::isAcknowledged(command))
        return {reply == kAcknowledged ? Outcome::Answered : Outcome::NotUnderstood, {}, {}};
    return {isOneLine(reply) ? Outcome::Answered : Outcome::NotUnderstood, {}, {}};
}

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Answered:
        return QStringLiteral("answered");
    case Outcome::Unanswered:
        return QStringLiteral("unanswered");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::NotUnderstood:
        return QStringLiteral("not-understood");
    case Outcome::NotSent:
        break;
    }
    return QStringLiteral("not-sent");
}
