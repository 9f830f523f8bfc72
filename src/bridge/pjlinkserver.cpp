// A projector's PJLink server: where it listens, and the connections it takes, bounds and throttles.
#include "pjlinkserver.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

namespace {

constexpr int kMaxPort = 65535;
constexpr qsizetype kMaxPortDigits = 5;
// The system refused a connection for want of descriptors or memory, and Qt
// stops accepting on that: the server tries again after this.
constexpr std::chrono::milliseconds kAcceptPause{1000};
constexpr int kBacklogPerConnection = 4;

struct ListenTrouble
{
    QAbstractSocket::SocketError error;
    const char *text;
};

constexpr std::array kListenTroubles{
    ListenTrouble{QAbstractSocket::AddressInUseError,
                  QT_TRANSLATE_NOOP("PjlinkServer", "another program listens there already")},
    ListenTrouble{QAbstractSocket::SocketAddressNotAvailableError,
                  QT_TRANSLATE_NOOP("PjlinkServer", "no network interface of this machine has that address")},
    ListenTrouble{QAbstractSocket::SocketAccessError,
                  QT_TRANSLATE_NOOP("PjlinkServer",
                                    "this user may not listen on that port (below 1024 it takes "
                                    "CAP_NET_BIND_SERVICE)")},
};

QString trAddress(const char *text)
{
    return QCoreApplication::translate("PjlinkAddress", text);
}

std::optional<quint16> portOf(QStringView text)
{
    if (text.isEmpty() || text.size() > kMaxPortDigits ||
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    const int port = text.toInt();
    if (port < 1 || port > kMaxPort)
        return std::nullopt;
    return quint16(port);
}

// Whether the host is an address of the protocol, written as Qt writes it
// for IPv4: so "127.1" and "0x7f.0.0.1", which the system would take for
// 127.0.0.1, are no address here.
bool isAddressOf(QStringView host, QAbstractSocket::NetworkLayerProtocol protocol, QHostAddress *address)
{
    if (!address->setAddress(host.toString()) || address->protocol() != protocol)
        return false;
    return protocol == QAbstractSocket::IPv6Protocol || address->toString() == host;
}

} // namespace

QString PjlinkAddress::toString() const
{
    const QString shownHost =
        host.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + host.toString() + u']' : host.toString();
    return shownHost + u':' + QString::number(port);
}

std::optional<PjlinkAddress> PjlinkAddress::parse(QStringView text, QString *error)
{
    const auto refuse = [&](const QString &why) {
        *error =
            trAddress("\"%1\" is not an address to listen on: %2. Write address:port, as 0.0.0.0:4352 or "
                      "[::]:4352.")
                .arg(text.toString(), why);
        return std::nullopt;
    };
    PjlinkAddress address;
    QStringView portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return refuse(trAddress("the IPv6 address has no closing ']'"));
        if (!isAddressOf(text.sliced(1, close - 1), QAbstractSocket::IPv6Protocol, &address.host))
            return refuse(trAddress("the host in brackets is not an IPv6 address"));
        if (!text.sliced(close + 1).startsWith(u':'))
            return refuse(trAddress("the port is missing after the ']'"));
        portText = text.sliced(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(u':');
        if (colon < 0)
            return refuse(trAddress("the port is missing"));
        const QStringView host = text.first(colon);
        if (host.contains(u':'))
            return refuse(trAddress("an IPv6 address goes in brackets, as [::1]:4352"));
        if (!isAddressOf(host, QAbstractSocket::IPv4Protocol, &address.host))
            return refuse(trAddress("the host is no IPv4 address; a host name is not looked up, so give an "
                                    "address of this machine, or 0.0.0.0 for all"));
        portText = text.sliced(colon + 1);
    }
    const std::optional<quint16> port = portOf(portText);
    if (!port)
        return refuse(
            trAddress("the port \"%1\" is not a number within 1 to %2").arg(portText).arg(kMaxPort));
    address.port = *port;
    return address;
}

PjlinkServer::PjlinkServer(PjlinkAddress address, std::optional<QByteArray> password,
                           PjlinkResponder &responder, PjlinkThrottle &throttle, PjlinkLimits limits,
                           QObject *parent)
    : QObject(parent)
    , m_address(std::move(address))
    , m_password(std::move(password))
    , m_responder(responder)
    , m_throttle(throttle)
    , m_limits(limits)
{
    connect(&m_server, &QTcpServer::newConnection, this, &PjlinkServer::onNewConnection);
    connect(&m_server, &QTcpServer::acceptError, this, &PjlinkServer::onAcceptError);
}

bool PjlinkServer::listen()
{
    // A burst of connections beyond the cap waits in the system's queue to be
    // taken and refused at once; with Qt's 50, the rest of it, and a
    // controller behind it, would wait for the seconds of TCP's retries.
    m_server.setListenBacklogSize(kBacklogPerConnection * m_limits.connections);
    if (m_server.listen(m_address.host, m_address.port))
        return true;
    const auto trouble =
        std::find_if(kListenTroubles.begin(), kListenTroubles.end(),
                     [&](const ListenTrouble &t) { return t.error == m_server.serverError(); });
    const QString reason = trouble == kListenTroubles.end() ? m_server.errorString() : tr(trouble->text);
    emit listenFailed(tr("PJLink cannot listen on %1: %2").arg(m_address.toString(), reason));
    return false;
}

void PjlinkServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection())
        take(socket);
}

void PjlinkServer::take(QTcpSocket *socket)
{
    const QHostAddress source = PjlinkThrottle::sourceOf(socket->peerAddress());
    std::optional<PjlinkRefusal> refusal;
    if (m_connectionCount >= m_limits.connections)
        refusal = PjlinkRefusal::TooManyConnections;
    else if (m_connectionsFrom.value(source) >= m_limits.connectionsPerAddress)
        refusal = PjlinkRefusal::TooManyFromAddress;
    if (refusal) {
        socket->abort();
        socket->deleteLater();
        emit refused(source, *refusal);
        return;
    }
    ++m_connectionCount;
    ++m_connectionsFrom[source];
    auto *connection = new PjlinkConnection(socket, PjlinkAuth(m_password), m_responder, m_limits,
                                            m_throttle.greetingDelay(source), this);
    connect(connection, &PjlinkConnection::authenticated, this,
            [this, source] { m_throttle.recordSuccess(source); });
    connect(connection, &PjlinkConnection::refused, this, [this, source](PjlinkRefusal why) {
        if (why == PjlinkRefusal::WrongPassword)
            m_throttle.recordFailure(source);
        emit refused(source, why);
    });
    connect(connection, &PjlinkConnection::finished, this, [this, source] { onFinished(source); });
}

void PjlinkServer::onFinished(const QHostAddress &source)
{
    --m_connectionCount;
    const auto found = m_connectionsFrom.find(source);
    if (--*found == 0)
        m_connectionsFrom.erase(found);
}

void PjlinkServer::onAcceptError()
{
    QTimer::singleShot(kAcceptPause, &m_server, &QTcpServer::resumeAccepting);
}
