// The one road for all traffic between the panel and the projector.
#include "linkengine.h"

#include <utility>

LinkEngine::LinkEngine(SerialLine &line, QObject *parent)
    : QObject(parent)
    , m_line(line)
{
    m_timer2.setObjectName(QStringLiteral("Timer2"));
    m_timer4.setObjectName(QStringLiteral("Timer4"));
    m_timer2.setInterval(kReplyWindow);
    m_timer4.setInterval(kDisplayWindow);
    // Each window ends once, at its interval after the send that opened it, to
    // the millisecond: a coarse timer may end a 150 ms window 7 ms early.
    m_timer2.setSingleShot(true);
    m_timer4.setSingleShot(true);
    m_timer2.setTimerType(Qt::PreciseTimer);
    m_timer4.setTimerType(Qt::PreciseTimer);
    connect(&m_timer2, &QTimer::timeout, this, &LinkEngine::endReplyWindow);
    connect(&m_timer4, &QTimer::timeout, this, &LinkEngine::endDisplayWindow);
    connect(&m_line, &SerialLine::notified, this, &LinkEngine::onNotified);
    // RxBuffer and its dump have all the room they can need from the start and
    // keep it when emptied, so that no receive event moves them.
    m_rxBuffer.reserve(kRxBufferLimit);
    m_rxDump.reserveLongest();
}

void LinkEngine::reset()
{
    m_commandPrefix.clear();
    m_awaitingReply = 0;
    emptyRxBuffer();
}

void LinkEngine::hyouji(const QByteArray &text, std::uint8_t mode)
{
    if (mode == kSend)
        send(text);
    else
        showReceived();
}

void LinkEngine::sendCommand(QByteArrayView body)
{
    m_lastCommand = m_commandPrefix;
    m_lastCommand.append(body).append('\r');
    hyouji(m_lastCommand, kSend);
}

void LinkEngine::sendHoldStep(QByteArrayView body)
{
    if (m_timer2.isActive()) {
        m_timer2.stop();
        endReplyWindow();
    }
    sendCommand(body);
}

void LinkEngine::setWindows(std::chrono::milliseconds reply, std::chrono::milliseconds display)
{
    // Setting the interval of a running timer restarts its count, as it should.
    m_timer2.setInterval(reply);
    m_timer4.setInterval(display);
}

void LinkEngine::endHold()
{
    // No " X X X X" for the last step: its reply window ends here, unmarked.
    m_timer2.stop();
    setWindows(kReplyWindow, kDisplayWindow);
    m_timer4.start();
    setSentLine({});
    setReceivedLine({});
    emptyRxBuffer();
}

void LinkEngine::emptyRxBuffer()
{
    // A line that showed the dump keeps a copy of its text: shared, it would
    // leave the dump to take new room as large as the old for the next reply.
    const QByteArrayView shown = m_rxDump.text();
    if (m_receivedShowsDump) {
        m_receivedLine = shown.toByteArray();
        m_receivedShowsDump = false;
    }
    if (m_statusShowsDump) {
        m_statusLine = shown.toByteArray();
        m_statusShowsDump = false;
    }
    m_rxBuffer.truncate(0);
    m_rxBuffer.reserve(kRxBufferLimit);
    m_rxDump.clear();
    m_dumpDecoded = false;
}

void LinkEngine::setSentLine(const QByteArray &text)
{
    m_sentLine = text;
    emit sentLineChanged();
}

void LinkEngine::setReceivedLine(const QByteArray &text)
{
    m_receivedShowsDump = false;
    m_receivedLine = text;
    emit receivedLineChanged();
}

const QByteArray &LinkEngine::receivedLine() const
{
    return m_receivedShowsDump ? m_rxDump.text() : m_receivedLine;
}

void LinkEngine::send(const QByteArray &text)
{
    // A closed or failing port writes nothing; the send goes on all the same, so
    // the reply window ends with " X X X X" and the line shows the truth.
    m_line.write(text);
    m_sentAt = QDateTime::currentDateTimeUtc();
    m_sinceSend.start();
    m_replyLatency.reset();
    setSentLine(TrafficDump::of(text));
    m_timer2.start();
    m_awaitingReply = 1;
    m_timer4.start();
    emit commandSent();
}

void LinkEngine::showReceived()
{
    m_receivedShowsDump = true;
    m_receivedLine.clear();
    emit receivedLineChanged();
    if (!m_decoder)
        return;
    const bool grown = std::exchange(m_dumpDecoded, true);
    const auto status = m_decoder(m_lastCommand, m_rxDump.text(), grown);
    if (!status)
        return;
    // The echo hands back the dump itself. The status line then shows the dump
    // as the received line does: a copy kept of it would make the next batch
    // copy the whole dump before adding to it.
    if (status->isSharedWith(m_rxDump.text())) {
        m_statusShowsDump = true;
        m_statusLine.clear();
        emit statusLineChanged();
    } else {
        setStatusLine(*status);
    }
}

void LinkEngine::onNotified(SerialLine::Event kind)
{
    if (kind != SerialLine::Event::Received)
        return;
    const QByteArray batch = m_line.readAll();
    if (batch.isEmpty())
        return;
    const qsizetype room = kRxBufferLimit - m_rxBuffer.size();
    const QByteArrayView kept = QByteArrayView(batch).first(std::min(room, batch.size()));
    m_rxBuffer.append(kept);
    m_rxDump.append(kept);
    const bool replyStarts = m_awaitingReply == 1;
    if (replyStarts)
        m_replyLatency = m_sinceSend.elapsed();
    m_awaitingReply = 0;
    hyouji(m_rxBuffer, kReceive);
    if (replyStarts)
        emit replyStarted();
    emit batchReceived(batch);
}

void LinkEngine::endReplyWindow()
{
    const bool answered = m_awaitingReply == 0;
    if (!answered)
        setReceivedLine(kNoReply);
    emptyRxBuffer();
    m_awaitingReply = 0;
    emit replyWindowEnded(answered);
}

void LinkEngine::endDisplayWindow()
{
    setSentLine({});
    setReceivedLine({});
    setStatusLine({});
    emit displayWindowEnded();
}

const QByteArray &LinkEngine::statusLine() const
{
    return m_statusShowsDump ? m_rxDump.text() : m_statusLine;
}

void LinkEngine::setStatusLine(const QByteArray &text)
{
    m_statusShowsDump = false;
    m_statusLine = text;
    emit statusLineChanged();
}
