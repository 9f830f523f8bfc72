// The serial line through a serial device server on the network, over TCP.
#include "networkline.h"

#include <utility>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// Without these an idle connection to a server that vanished (power cut, cable
// pulled) stays "up" for hours, and unacknowledged writes are retried for about
// fifteen minutes; with them the loss shows within a few seconds.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 1;
constexpr int kKeepProbes = 3;
constexpr unsigned kUserTimeoutMs = 5000;
#endif

// Why a connection that was up went away, in words for the warning box.
QString lossReason(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        return NetworkLine::tr("it closed or reset the connection");
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::NetworkError:
        return NetworkLine::tr("it stopped answering");
    default:
        return NetworkLine::tr("the connection failed");
    }
}

QString serverHint()
{
    return NetworkLine::tr("Check that the serial device server runs and is reachable from here.");
}

} // namespace

NetworkLine::NetworkLine(EndpointSource source, QObject *parent)
    : NetworkLine(std::move(source), std::make_unique<QTcpSocket>(), parent)
{}

NetworkLine::NetworkLine(EndpointSource source, std::unique_ptr<QTcpSocket> socket, QObject *parent)
    : SerialLine(std::move(source), parent)
    , m_socket(std::move(socket))
{
    m_connectTimer.setObjectName(QStringLiteral("connectTimer"));
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(kConnectTimeout);
    connect(m_socket.get(), &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &NetworkLine::onSocketTrouble);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &NetworkLine::onSocketTrouble);
    connect(&m_connectTimer, &QTimer::timeout, this, &NetworkLine::onConnectTimeout);
    connect(&m_agreement, &ComPortAgreement::request, this, [this](const QByteArray &bytes) {
        if (m_state == State::Connected)
            m_socket->write(bytes);
    });
    connect(&m_agreement, &ComPortAgreement::refused, this, &NetworkLine::onSettingsRefused);
    connect(&m_agreement, &ComPortAgreement::appliedLate, this,
            [this] { emit notified(Event::SettingsApplied); });
}

NetworkLine::~NetworkLine()
{
    m_state = State::Closed;
    m_socket->abort();
}

bool NetworkLine::applySettings(const LineSettings &settings)
{
    if (m_state != State::Connected || !isTelnet())
        return true;
    const auto refusal = m_agreement.ask(settings);
    return !refusal || fail(*refusal, settingsHint());
}

bool NetworkLine::openLine()
{
    QString error;
    const QString text = location();
    const auto endpoint = Endpoint::parse(text, &error);
    if (!endpoint || !endpoint->isNetwork()) {
        return fail(endpoint ? tr("\"%1\" is no network address. Write rfc2217://host:port or "
                                  "socket://host:port.")
                                   .arg(text)
                             : error,
                    QString(), Fault::BadAddress);
    }
    m_endpoint = *endpoint;
    m_codec.reset();
    m_input.clear();
    m_held.clear();
    m_holding = true;
    m_dropPending = false;
    ++m_attempt;
    m_state = State::Connecting;
    m_connectTimer.start();
    m_socket->connectToHost(m_endpoint.host, m_endpoint.port);
    return true;
}

bool NetworkLine::close()
{
    ++m_attempt;
    m_state = State::Closed;
    m_dropPending = false;
    m_connectTimer.stop();
    m_agreement.end();
    m_held.clear();
    m_socket->abort();
    return true;
}

bool NetworkLine::writeLine(QByteArrayView text)
{
    if (m_holding) {
        if (m_held.size() + text.size() > kMaxHeldBytes)
            return fail(tr("%1 is not connected yet and already holds %2 bytes to send")
                            .arg(m_endpoint.toString())
                            .arg(m_held.size()));
        m_held += text;
        return true;
    }
    const QByteArray bytes = isTelnet() ? TelnetCodec::encode(text) : text.toByteArray();
    if (m_socket->write(bytes) != bytes.size())
        return fail(m_socket->errorString());
    return true;
}

QByteArray NetworkLine::readAll()
{
    return std::exchange(m_input, {});
}

QString NetworkLine::settingsHint() const
{
    return tr("The device server keeps its own setting. Set its port to the same speed, or allow RFC 2217 "
              "control in its configuration.");
}

void NetworkLine::onConnected()
{
    if (m_state != State::Connecting)
        return;
    m_connectTimer.stop();
    m_state = State::Connected;
    // Commands are a few bytes each; none should wait for the next to fill a segment.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    keepAlive();
    if (isTelnet()) {
        m_socket->write(m_codec.start());
        m_agreement.begin(m_endpoint.toString(), lineSettings());
    } else {
        releaseHeld();
    }
}

void NetworkLine::onReadyRead()
{
    if (m_state != State::Connected)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (isTelnet())
        takeTelnet(bytes);
    else
        m_input += bytes;
    // A refused setting is reported at once, and its receiver may have closed the line.
    if (m_state == State::Connected && !m_input.isEmpty())
        emit notified(Event::Received);
}

void NetworkLine::takeTelnet(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        m_agreement.serverSpoke();
    const TelnetCodec::Decoded decoded = m_codec.decode(bytes);
    m_input += decoded.data;
    if (!decoded.reply.isEmpty())
        m_socket->write(decoded.reply);
    m_agreement.optionChanged(m_codec.comPortState());
    for (const auto &answer : decoded.answers) {
        if (m_state != State::Connected)
            return;
        m_agreement.take(answer);
    }
    if (m_state == State::Connected && m_agreement.isSettled())
        releaseHeld();
}

void NetworkLine::onSocketTrouble()
{
    if (m_state == State::Closed || m_dropPending)
        return;
    if (m_state == State::Connecting) {
        fail(m_socket->error() != QAbstractSocket::UnknownSocketError
                 ? m_socket->errorString()
                 : tr("The device server at %1 closed the connection").arg(m_endpoint.toString()),
             serverHint(), Fault::NoServer);
    } else {
        // The server was there: this is a line that went away, not an address
        // to check.
        fail(tr("The device server at %1 went away: %2 (%3).")
                 .arg(m_endpoint.toString(), lossReason(m_socket->error()), m_socket->errorString()),
             QString(), Fault::ServerGone);
    }
    m_dropPending = true;
    // The socket is closed once its signal has returned, never from inside it;
    // a connection opened meanwhile is not touched.
    QMetaObject::invokeMethod(
        this,
        [this, attempt = m_attempt] {
            if (attempt == m_attempt && m_dropPending)
                dropConnection();
        },
        Qt::QueuedConnection);
}

void NetworkLine::onConnectTimeout()
{
    if (m_state != State::Connecting)
        return;
    fail(tr("Connection to %1 timed out after %2 s")
             .arg(m_endpoint.toString())
             .arg(std::chrono::duration<double>(kConnectTimeout).count()),
         serverHint(), Fault::NoServer);
    m_dropPending = true;
    dropConnection();
}

void NetworkLine::dropConnection()
{
    const Event kind = m_state == State::Connecting ? Event::OpenFailed : Event::DeviceLost;
    close();
    emit notified(kind);
}

void NetworkLine::keepAlive()
{
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const auto fd = int(m_socket->socketDescriptor());
    const auto set = [fd](int level, int name, auto value) {
        ::setsockopt(fd, level, name, &value, sizeof value);
    };
    set(IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleSeconds);
    set(IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalSeconds);
    set(IPPROTO_TCP, TCP_KEEPCNT, kKeepProbes);
    set(IPPROTO_TCP, TCP_USER_TIMEOUT, kUserTimeoutMs);
#endif
}

void NetworkLine::onSettingsRefused(const QString &description)
{
    // The agreement has gone back to the settings the server last confirmed.
    keepSettings(m_agreement.settings());
    fail(description, settingsHint());
    emit notified(Event::SettingsRefused);
    if (m_state == State::Connected && m_agreement.isSettled())
        releaseHeld();
}

void NetworkLine::releaseHeld()
{
    if (!std::exchange(m_holding, false) || m_state != State::Connected)
        return;
    if (!m_held.isEmpty())
        write(std::exchange(m_held, {}));
    // A write that fails has lost the connection, which says so itself.
    if (m_state == State::Connected)
        emit notified(Event::Opened);
}
