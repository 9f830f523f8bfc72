// The serial line through a serial device server on the network, over TCP.
#include "networkline.h"

#include <algorithm>
#include <array>
#include <utility>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

struct SettingName
{
    std::uint8_t command;
    const char *name;
};

constexpr std::array kSettingNames{
    SettingName{ComPort2217::kSetBaudRate, QT_TRANSLATE_NOOP("NetworkLine", "speed")},
    SettingName{ComPort2217::kSetDataSize, QT_TRANSLATE_NOOP("NetworkLine", "data size")},
    SettingName{ComPort2217::kSetParity, QT_TRANSLATE_NOOP("NetworkLine", "parity code")},
    SettingName{ComPort2217::kSetStopSize, QT_TRANSLATE_NOOP("NetworkLine", "stop size code")},
    SettingName{ComPort2217::kSetControl, QT_TRANSLATE_NOOP("NetworkLine", "flow control code")},
};

QString nameOf(std::uint8_t command)
{
    for (const auto &row : kSettingNames) {
        if (row.command == command)
            return NetworkLine::tr(row.name);
    }
    return NetworkLine::tr("setting %1").arg(command);
}

#ifdef Q_OS_LINUX
// Without these an idle connection to a server that vanished (power cut, cable
// pulled) stays "up" for hours, and unacknowledged writes are retried for about
// fifteen minutes; with them the loss shows within a few seconds.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 1;
constexpr int kKeepProbes = 3;
constexpr unsigned kUserTimeoutMs = 5000;
#endif

} // namespace

NetworkLine::NetworkLine(QObject *parent)
    : NetworkLine(&Endpoint::environmentText, parent)
{}

NetworkLine::NetworkLine(EndpointSource source, QObject *parent)
    : NetworkLine(std::move(source), std::make_unique<QTcpSocket>(), parent)
{}

NetworkLine::NetworkLine(EndpointSource source, std::unique_ptr<QTcpSocket> socket, QObject *parent)
    : SerialLine(parent)
    , m_source(std::move(source))
    , m_socket(std::move(socket))
{
    m_connectTimer.setObjectName(QStringLiteral("connectTimer"));
    m_confirmTimer.setObjectName(QStringLiteral("confirmTimer"));
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(kConnectTimeout);
    m_confirmTimer.setSingleShot(true);
    m_confirmTimer.setInterval(kConfirmTimeout);
    connect(m_socket.get(), &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &NetworkLine::onSocketTrouble);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &NetworkLine::onSocketTrouble);
    connect(&m_connectTimer, &QTimer::timeout, this, &NetworkLine::onConnectTimeout);
    connect(&m_confirmTimer, &QTimer::timeout, this, &NetworkLine::onConfirmTimeout);
}

NetworkLine::~NetworkLine()
{
    m_state = State::Closed;
    m_socket->abort();
}

bool NetworkLine::setPortNumber(int number)
{
    if (isOpen())
        return fail(tr("Operation valid only when the port is closed"));
    if (number != 1 && number != 2)
        return fail(tr("Invalid port number %1").arg(number));
    m_number = number;
    return true;
}

bool NetworkLine::setSettings(const QString &settings)
{
    const auto line = LineSettings::parse(settings);
    if (!line)
        return fail(tr("Invalid settings \"%1\"").arg(settings));
    m_settingsText = settings;
    m_line = *line;
    if (m_state == State::Connected && isTelnet() && m_comPortSettled &&
        m_codec.comPortState() == TelnetCodec::ComPortState::Accepted)
        sendSettings();
    return true;
}

bool NetworkLine::open()
{
    if (isOpen())
        return fail(tr("Port already open"));
    QString error;
    const QString text = m_source(m_number);
    const auto endpoint = Endpoint::parse(text, &error);
    if (!endpoint || !endpoint->isNetwork()) {
        fail(endpoint ? tr("COM%1 is \"%2\", which is no network address").arg(m_number).arg(text) : error);
        m_hint = tr("Set QVX_COM%1 to rfc2217://host:port or socket://host:port.").arg(m_number);
        return false;
    }
    m_endpoint = *endpoint;
    m_codec.reset();
    m_input.clear();
    m_held.clear();
    m_holding = true;
    m_comPortSettled = !isTelnet();
    m_awaited.clear();
    m_settingsRefused = false;
    m_confirmedText.clear();
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
    m_confirmTimer.stop();
    m_held.clear();
    m_awaited.clear();
    m_socket->abort();
    return true;
}

bool NetworkLine::write(QByteArrayView text)
{
    if (!isOpen())
        return fail(tr("Port not open"));
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

bool NetworkLine::fail(const QString &description)
{
    m_error = description;
    m_hint.clear();
    return false;
}

QString NetworkLine::serverHint() const
{
    return tr("COM%1 is the serial device server at %2. Check that the server runs and is reachable "
              "from here, or set QVX_COM%1 to another address.")
        .arg(m_number)
        .arg(m_endpoint.toString());
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
        m_confirmTimer.start();
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
    const TelnetCodec::Decoded decoded = m_codec.decode(bytes);
    m_input += decoded.data;
    if (!decoded.reply.isEmpty())
        m_socket->write(decoded.reply);
    if (!m_comPortSettled && m_codec.comPortState() != TelnetCodec::ComPortState::Pending)
        settleComPort();
    for (const auto &answer : decoded.answers) {
        if (m_state != State::Connected)
            return;
        match(answer);
    }
}

void NetworkLine::onSocketTrouble()
{
    if (m_state == State::Closed || m_dropPending)
        return;
    const bool described = m_socket->error() != QAbstractSocket::UnknownSocketError;
    m_error = described ? m_socket->errorString() : tr("The device server closed the connection");
    m_hint = serverHint();
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
    m_error = tr("Connection to %1 timed out after %2 s")
                  .arg(m_endpoint.toString())
                  .arg(std::chrono::duration<double>(kConnectTimeout).count());
    m_hint = serverHint();
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

void NetworkLine::settleComPort()
{
    m_comPortSettled = true;
    m_confirmTimer.stop();
    if (m_codec.comPortState() == TelnetCodec::ComPortState::Accepted)
        sendSettings();
    else
        refuseSettings(tr("The device server at %1 refused COM-PORT-OPTION, so the settings \"%2\" "
                          "could not be applied")
                           .arg(m_endpoint.toString(), m_settingsText));
    releaseHeld();
}

void NetworkLine::sendSettings()
{
    const auto commands = TelnetCodec::commandsFor(m_line);
    m_settingsRefused = false;
    m_awaited.insert(m_awaited.end(), commands.begin(), commands.end());
    m_socket->write(TelnetCodec::settingsRequest(m_line));
    m_confirmTimer.start();
}

void NetworkLine::match(const ComPortValue &answer)
{
    // The server answers in order, so an answer belongs to the oldest command of
    // its kind; only the newest request of a kind must hold at the end.
    const auto sameKind = [&](const ComPortValue &sent) { return sent.command == answer.command; };
    const auto oldest = std::find_if(m_awaited.begin(), m_awaited.end(), sameKind);
    if (oldest == m_awaited.end())
        return;
    const ComPortValue asked = *oldest;
    m_awaited.erase(oldest);
    const bool newest = std::none_of(m_awaited.begin(), m_awaited.end(), sameKind);
    if (newest && answer.value != asked.value) {
        refuseSettings(tr("The device server at %1 did not take the settings \"%2\": its %3 stays %4 "
                          "instead of %5")
                           .arg(m_endpoint.toString(), m_settingsText, nameOf(answer.command))
                           .arg(answer.value)
                           .arg(asked.value));
        return;
    }
    if (m_awaited.empty()) {
        m_confirmTimer.stop();
        m_confirmedText = m_settingsText;
        m_confirmedLine = m_line;
    }
}

void NetworkLine::onConfirmTimeout()
{
    if (m_state != State::Connected)
        return;
    if (!m_comPortSettled) {
        m_comPortSettled = true;
        refuseSettings(tr("The device server at %1 did not agree to COM-PORT-OPTION within %2 s, so the "
                          "settings \"%3\" could not be applied")
                           .arg(m_endpoint.toString())
                           .arg(std::chrono::duration<double>(kConfirmTimeout).count())
                           .arg(m_settingsText));
        releaseHeld();
        return;
    }
    if (!m_awaited.empty()) {
        refuseSettings(tr("The device server at %1 did not confirm the settings \"%2\" within %3 s")
                           .arg(m_endpoint.toString(), m_settingsText)
                           .arg(std::chrono::duration<double>(kConfirmTimeout).count()));
    }
}

void NetworkLine::refuseSettings(const QString &description)
{
    m_settingsRefused = true;
    m_awaited.clear();
    m_confirmTimer.stop();
    if (!m_confirmedText.isEmpty() && m_confirmedText != m_settingsText) {
        // Sent without waiting for answers: a server that refuses these too must
        // not start a round of refusals and retries.
        m_settingsText = m_confirmedText;
        m_line = m_confirmedLine;
        m_socket->write(TelnetCodec::settingsRequest(m_line));
    }
    m_error = description;
    m_hint = tr("The device server keeps its own setting. Set its port to the same speed, or allow "
                "RFC 2217 control in its configuration.");
    emit notified(Event::SettingsRefused);
}

void NetworkLine::releaseHeld()
{
    m_holding = false;
    if (m_held.isEmpty() || m_state != State::Connected)
        return;
    const QByteArray held = std::exchange(m_held, {});
    write(held);
}
