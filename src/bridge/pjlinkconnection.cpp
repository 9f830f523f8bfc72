// One PJLink controller's connection: its greeting, its lines, their answers in order, and its time limits.
#include "pjlinkconnection.h"

#include <QPointer>

#include <utility>

namespace {

// What Qt reads of the socket at a time: a flood waits in the system's buffer
// for the connection to take it, rather than in memory.
constexpr qint64 kReadChunk = 1024;
// A socket that cannot hand its last line to a controller that does not read
// is let go of after this.
constexpr std::chrono::milliseconds kClosingTime{5000};

} // namespace

PjlinkConnection::PjlinkConnection(QTcpSocket *socket, PjlinkAuth auth, PjlinkResponder &responder,
                                   const PjlinkLimits &limits, std::chrono::milliseconds greetingDelay,
                                   QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_auth(std::move(auth))
    , m_responder(responder)
    , m_limits(limits)
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(kReadChunk);
    // Without Nagle's wait, each reply leaves at once as a segment of its own.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PjlinkConnection::onTimeout);
    connect(m_socket, &QIODevice::readyRead, this, &PjlinkConnection::onReadyRead);
    connect(m_socket, &QIODevice::bytesWritten, this, &PjlinkConnection::onBytesWritten);
    connect(m_socket, &QAbstractSocket::disconnected, this, [this] {
        close(std::nullopt);
        finish();
    });
    if (greetingDelay.count() > 0)
        m_timer.start(greetingDelay);
    else
        greet();
}

void PjlinkConnection::greet()
{
    m_phase = Phase::Greeted;
    m_timer.start(m_limits.firstCommand);
    send(m_auth.greeting());
}

void PjlinkConnection::onReadyRead()
{
    const QByteArray bytes = m_socket->readAll();
    for (const char byte : bytes) {
        if (m_phase == Phase::Closing)
            return;
        takeByte(byte);
    }
    answerWaiting();
}

void PjlinkConnection::takeByte(char byte)
{
    if (pjlink::isIgnored(byte))
        return;
    if (byte == pjlink::kLineEnd) {
        takeLine(std::exchange(m_partial, {}));
        return;
    }
    if (m_partial.size() == pjlink::kLongestLine) {
        close(PjlinkRefusal::LineTooLong);
        return;
    }
    m_partial.append(byte);
}

void PjlinkConnection::takeLine(QByteArrayView line)
{
    pjlink::ParsedLine parsed = pjlink::parseLine(line);
    switch (parsed.kind) {
    case pjlink::LineKind::Empty:
        return;
    case pjlink::LineKind::Malformed:
        close(PjlinkRefusal::Malformed);
        return;
    case pjlink::LineKind::TooLong:
        close(PjlinkRefusal::LineTooLong);
        return;
    case pjlink::LineKind::Request:
    case pjlink::LineKind::Undefined:
        break;
    }
    if (m_waiting.size() + (m_answering ? 1 : 0) >= m_limits.waitingRequests) {
        close(PjlinkRefusal::TooManyWaiting);
        return;
    }
    m_waiting.append(std::move(parsed));
}

// A responder that answers at once comes back here through send(); the flag
// keeps that to the loop below instead of a call deeper for every line.
void PjlinkConnection::answerWaiting()
{
    if (m_answeringWaiting)
        return;
    m_answeringWaiting = true;
    while ((m_phase == Phase::Greeted || m_phase == Phase::Talking) && !m_answering && !m_writing &&
           !m_waiting.isEmpty())
        answer(m_waiting.takeFirst());
    m_answeringWaiting = false;
}

void PjlinkConnection::answer(const pjlink::ParsedLine &line)
{
    m_phase = Phase::Talking;
    m_timer.start(m_limits.idle);
    const bool wasAuthenticated = m_auth.isAuthenticated();
    if (!m_auth.admit(line)) {
        close(PjlinkRefusal::WrongPassword, pjlink::kAuthError);
        return;
    }
    if (m_auth.isAuthenticated() && !wasAuthenticated)
        emit authenticated();
    if (line.kind == pjlink::LineKind::Undefined) {
        send(pjlink::errorLine(line.request, pjlink::Error::Undefined));
        return;
    }
    m_answering = true;
    m_responder.answer(line.request, this,
                       [connection = QPointer(this), serial = ++m_serial](const QByteArray &reply) {
                           if (connection)
                               connection->onAnswered(serial, reply);
                       });
}

void PjlinkConnection::onAnswered(quint64 serial, const QByteArray &line)
{
    if (!m_answering || serial != m_serial || m_phase == Phase::Closing)
        return;
    m_answering = false;
    m_timer.start(m_limits.idle);
    send(line);
}

void PjlinkConnection::send(QByteArrayView line)
{
    m_socket->write(line.data(), line.size());
    m_writing = m_socket->bytesToWrite() > 0;
    answerWaiting();
}

void PjlinkConnection::onBytesWritten()
{
    if (!m_writing || m_socket->bytesToWrite() > 0)
        return;
    m_writing = false;
    answerWaiting();
}

void PjlinkConnection::onTimeout()
{
    switch (m_phase) {
    case Phase::Delayed:
        greet();
        break;
    case Phase::Greeted:
    case Phase::Talking:
        close(std::nullopt);
        break;
    case Phase::Closing:
        m_socket->abort();
        finish();
        break;
    }
}

void PjlinkConnection::close(std::optional<PjlinkRefusal> why, QByteArrayView lastLine)
{
    if (m_phase == Phase::Closing)
        return;
    m_phase = Phase::Closing;
    m_timer.start(kClosingTime);
    m_partial.clear();
    m_waiting.clear();
    m_answering = false;
    m_responder.forget(this);
    if (!lastLine.isEmpty())
        m_socket->write(lastLine.data(), lastLine.size());
    if (why)
        emit refused(*why);
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        finish();
}

void PjlinkConnection::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer.stop();
    emit finished();
    deleteLater();
}
