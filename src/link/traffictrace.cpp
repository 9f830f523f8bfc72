// A time-stamped record of the line's traffic, for integrators, off unless asked for.
#include "traffictrace.h"

#include "trafficdump.h"

#include <QFileInfo>

#include <QtGlobal>

std::unique_ptr<TrafficTrace> TrafficTrace::fromEnvironment(LinkEngine &link, PortSelection &ports)
{
    const QString path = qEnvironmentVariable(kVariable);
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<TrafficTrace>(path, link, ports);
}

TrafficTrace::TrafficTrace(const QString &path, LinkEngine &link, PortSelection &ports)
    : m_link(link)
    , m_file(path)
{
    // A device or a pipe is written as it is; only a file can be appended to.
    const QFileInfo target(path);
    const auto mode =
        target.exists() && !target.isFile() ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Append;
    if (!m_file.open(mode)) {
        stop(m_file.errorString());
        return;
    }
    connect(&link, &LinkEngine::commandSent, this, [this] { write("TX", m_link.sentLine()); });
    connect(&link, &LinkEngine::batchReceived, this, [this](const QByteArray &batch) {
        write("RX", TrafficDump::of(batch),
              m_link.msSinceSend() < 0 ? std::nullopt : std::optional(m_link.msSinceSend()));
    });
    connect(&link, &LinkEngine::replyWindowEnded, this, [this](bool answered) {
        if (!answered)
            write("NO-REPLY", LinkEngine::kNoReply);
    });
    connect(&link, &LinkEngine::displayWindowEnded, this, [this] { write("CLEAR", {}); });
    connect(&ports, &PortSelection::portChanged, this,
            [this](const QString &state) { write("PORT", state.toLocal8Bit()); });
}

QByteArray TrafficTrace::line(const QDateTime &when, QByteArrayView event, QByteArrayView text,
                              QByteArrayView status, std::optional<qint64> msSinceSend)
{
    QByteArray line = when.toUTC().toString(Qt::ISODateWithMs).toLatin1();
    line.append('\t').append(event).append('\t').append(text).append('\t').append(status).append('\t');
    if (msSinceSend)
        line.append(QByteArray::number(*msSinceSend));
    return line.append('\n');
}

void TrafficTrace::write(QByteArrayView event, QByteArrayView text, std::optional<qint64> msSinceSend)
{
    if (!m_file.isOpen())
        return;
    const QByteArray entry =
        line(QDateTime::currentDateTimeUtc(), event, text, m_link.statusLine(), msSinceSend);
    if (m_file.write(entry) != entry.size() || !m_file.flush())
        stop(m_file.errorString());
}

void TrafficTrace::stop(const QString &why)
{
    qWarning("qvx-control: the trace to %s stopped: %s", qPrintable(m_file.fileName()), qPrintable(why));
    m_file.close();
}
