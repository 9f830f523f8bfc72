// What qvx-send prints: an exchange as text lines or as a JSON object, and the list of names.
#include "sendoutput.h"

#include "linkengine.h"
#include "sendrequest.h"
#include "trafficdump.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr char kCarriageReturn = '\r';
constexpr int kListNameWidth = 24;

QByteArray receivedDump(const Exchange &exchange)
{
    return exchange.answered ? TrafficDump::of(exchange.reply) : QByteArray(LinkEngine::kNoReply);
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
    if (!exchange.answered)
        return {};
    if (!exchange.status)
        return readable(exchange.reply);
    QString status = QString::fromLatin1(*exchange.status);
    qsizetype lead = 0;
    while (lead < status.size() && status[lead] == u' ')
        ++lead;
    return status.mid(lead);
}

QByteArray sendoutput::format(const Exchange &exchange, const Style &style)
{
    if (style.json) {
        const QJsonObject object{
            {QStringLiteral("time"), exchange.time.toString(Qt::ISODateWithMs)},
            {QStringLiteral("port"), exchange.port},
            {QStringLiteral("command"), QString::fromLatin1(exchange.command)},
            {QStringLiteral("reply"), QString::fromLatin1(exchange.reply)},
            {QStringLiteral("dump"), QString::fromLatin1(receivedDump(exchange))},
            {QStringLiteral("status"), exchange.status ? QJsonValue(result(exchange)) : QJsonValue()},
            {QStringLiteral("reply_ms"), qint64(exchange.replyTime.count())},
            {QStringLiteral("answered"), exchange.answered},
        };
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    const QString lead = prefix(exchange, style);
    QString lines;
    if (style.dump) {
        lines += lead + QStringLiteral("TXD") +
                 QString::fromLatin1(TrafficDump::of(exchange.command + kCarriageReturn)) + u'\n';
        lines += lead + QStringLiteral("RXD") + QString::fromLatin1(receivedDump(exchange)) + u'\n';
    }
    if (exchange.answered)
        lines += lead + result(exchange) + u'\n';
    return lines.toUtf8();
}

QByteArray sendoutput::listing()
{
    QString lines;
    for (const commands::ScriptName &entry : commands::kScriptNames) {
        QString name = QString::fromUtf8(entry.name.data(), qsizetype(entry.name.size()));
        const QString value = QString::fromUtf8(entry.value.data(), qsizetype(entry.value.size()));
        if (!value.isEmpty())
            name += u' ' + value;
        QString error;
        const auto text = SendRequest::commandText(entry, QString(), &error);
        lines += name.leftJustified(kListNameWidth - 1) + u' ' + u'"' + QString::fromLatin1(*text) + value +
                 QStringLiteral("\"\n");
    }
    return lines.toUtf8();
}
