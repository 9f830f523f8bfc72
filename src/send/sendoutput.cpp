// What qvx-send prints: an exchange as a text line or as a JSON object, a summary, and the list of names.
#include "sendoutput.h"

#include "linkengine.h"
#include "trafficdump.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr char kCarriageReturn = '\r';
constexpr int kListNameWidth = 24;

// How the summary calls each of its queries, in lines and in JSON.
struct SummaryLabel
{
    std::string_view name;
    std::string_view label;
    std::string_view key;
};

constexpr std::array kSummaryLabels{
    SummaryLabel{"power-state", "power", "power"},
    SummaryLabel{"pj-status", "status", "status"},
    SummaryLabel{"l1-status", "lamp 1", "lamp_1"},
    SummaryLabel{"l2-status", "lamp 2", "lamp_2"},
    SummaryLabel{"l1-time", "lamp 1 hours", "lamp_1_hours"},
    SummaryLabel{"l2-time", "lamp 2 hours", "lamp_2_hours"},
    SummaryLabel{"lamp-pattern", "lamps", "lamp_pattern"},
    SummaryLabel{"temperatures", "temperatures", "temperatures"},
    SummaryLabel{"pressure", "pressure", "pressure"},
    SummaryLabel{"reversal", "reversal", "reversal"},
    SummaryLabel{"mute-signal", "mute and signal", "mute_signal"},
};

static_assert(kSummaryLabels.size() == commands::kSummaryNames.size(),
              "a label for each query of the summary");

QString textOf(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QByteArray receivedDump(const Exchange &exchange)
{
    return exchange.heard() ? TrafficDump::of(exchange.reply) : QByteArray(LinkEngine::kNoReply);
}

QString prefix(const Exchange &exchange, const sendoutput::Style &style)
{
    QString lead;
    if (style.withTime)
        lead += exchange.time.toString(Qt::ISODateWithMs) + u' ';
    if (style.withPort)
        lead += exchange.port + QStringLiteral(": ");
    return lead;
}

QString nameOf(const Exchange &exchange)
{
    return exchange.step.name.isEmpty() ? QString::fromLatin1(exchange.step.text) : exchange.step.name;
}

QJsonValue textOrNull(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue();
}

QJsonObject jsonOf(const Exchange &exchange)
{
    const bool answered = exchange.outcome == Outcome::Answered;
    return QJsonObject{
        {QStringLiteral("time"), exchange.time.toString(Qt::ISODateWithMs)},
        {QStringLiteral("port"), exchange.port},
        {QStringLiteral("name"), nameOf(exchange)},
        {QStringLiteral("command"), QString::fromLatin1(exchange.step.text)},
        {QStringLiteral("outcome"), outcomeName(exchange.outcome)},
        {QStringLiteral("answered"), answered},
        {QStringLiteral("reply"), QString::fromLatin1(exchange.reply)},
        {QStringLiteral("dump"), QString::fromLatin1(receivedDump(exchange))},
        {QStringLiteral("discarded"), QString::fromLatin1(exchange.discarded)},
        {QStringLiteral("status"),
         textOrNull(exchange.status ? std::optional(QString::fromLatin1(*exchange.status).trimmed())
                                    : std::nullopt)},
        {QStringLiteral("reading"),
         answered && exchange.reading ? QJsonValue(decode::toJson(*exchange.reading)) : QJsonValue()},
        {QStringLiteral("reply_ms"), qint64(exchange.replyTime.count())},
    };
}

} // namespace

QString sendoutput::readable(QByteArrayView reply)
{
    if (reply.endsWith(kCarriageReturn))
        reply.chop(1);
    QString text;
    bool afterName = false;
    for (const char byte : reply) {
        const auto code = static_cast<unsigned char>(byte);
        if (code >= ' ' && code <= '~') {
            if (afterName)
                text += u' ';
            text += QChar(code);
            afterName = false;
            continue;
        }
        if (!text.isEmpty())
            text += u' ';
        // The dump's token without its leading and trailing space.
        text += QString::fromLatin1(TrafficDump::of(QByteArrayView(&byte, 1)).trimmed());
        afterName = true;
    }
    return text;
}

QString sendoutput::result(const Exchange &exchange)
{
    switch (exchange.outcome) {
    case Outcome::Answered:
        break;
    case Outcome::Unanswered:
        return QStringLiteral("no reply within %1 ms").arg(exchange.step.replyWindow.count());
    case Outcome::Refused:
        return QStringLiteral("refused (ERR)");
    case Outcome::NotUnderstood:
        return QStringLiteral("not understood: ") + readable(exchange.reply);
    case Outcome::NotSent:
        return QStringLiteral("not sent");
    }
    if (exchange.reading)
        return decode::plainText(*exchange.reading);
    if (!exchange.status)
        return readable(exchange.reply);
    const QString status = QString::fromLatin1(*exchange.status);
    const auto text = std::find_if(status.begin(), status.end(), [](QChar c) { return c != u' '; });
    return status.mid(text - status.begin());
}

QByteArray sendoutput::format(const Exchange &exchange, const Style &style)
{
    if (style.json)
        return QJsonDocument(jsonOf(exchange)).toJson(QJsonDocument::Compact) + '\n';
    const QString lead = prefix(exchange, style);
    QString lines;
    if (style.dump && exchange.outcome != Outcome::NotSent) {
        if (!exchange.discarded.isEmpty())
            lines += lead + QStringLiteral("discarded") +
                     QString::fromLatin1(TrafficDump::of(exchange.discarded)) + u'\n';
        lines += lead + QStringLiteral("TXD") +
                 QString::fromLatin1(TrafficDump::of(exchange.step.text + kCarriageReturn)) + u'\n';
        lines += lead + QStringLiteral("RXD") + QString::fromLatin1(receivedDump(exchange)) + u'\n';
    }
    lines += lead + nameOf(exchange) + QStringLiteral(": ") + result(exchange) + u'\n';
    return lines.toUtf8();
}

QByteArray sendoutput::summary(const QList<Exchange> &parts, const Style &style)
{
    if (parts.isEmpty())
        return {};
    const auto labelOf = [](const Exchange &part) {
        const auto found =
            std::find_if(kSummaryLabels.begin(), kSummaryLabels.end(),
                         [&](const SummaryLabel &label) { return textOf(label.name) == part.step.name; });
        return found != kSummaryLabels.end() ? *found : SummaryLabel{};
    };
    if (style.json) {
        QJsonObject object{
            {QStringLiteral("time"), parts.first().time.toString(Qt::ISODateWithMs)},
            {QStringLiteral("port"), parts.first().port},
            {QStringLiteral("name"), QStringLiteral("status")},
        };
        QJsonObject outcomes;
        bool answered = true;
        for (const Exchange &part : parts) {
            const QString key = textOf(labelOf(part).key);
            const bool ok = part.outcome == Outcome::Answered && part.reading;
            answered = answered && ok;
            object.insert(key, ok ? QJsonValue(decode::toJson(*part.reading)) : QJsonValue());
            outcomes.insert(key, outcomeName(part.outcome));
        }
        object.insert(QStringLiteral("outcomes"), outcomes);
        object.insert(QStringLiteral("answered"), answered);
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    QString lines;
    for (const Exchange &part : parts)
        lines +=
            prefix(part, style) + textOf(labelOf(part).label) + QStringLiteral(": ") + result(part) + u'\n';
    return lines.toUtf8();
}

QByteArray sendoutput::listing()
{
    QString lines;
    for (const commands::ScriptName &entry : commands::kScriptNames) {
        QString name = textOf(entry.name);
        const QString value = textOf(entry.value);
        if (!value.isEmpty())
            name += u' ' + value;
        const QString text = entry.kind == commands::ScriptKind::Summary
                                 ? QStringLiteral("every decoded query once, as one summary")
                                 : u'"' + QString::fromUtf8(commands::listedText(entry)) + u'"';
        lines += name.leftJustified(kListNameWidth - 1) + u' ' + text + u'\n';
    }
    return lines.toUtf8();
}
