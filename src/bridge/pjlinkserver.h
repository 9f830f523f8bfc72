// A projector's PJLink server: where it listens, and the connections it takes, bounds and throttles.
#pragma once

#include "pjlinkconnection.h"
#include "pjlinkresponder.h"
#include "pjlinkthrottle.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QTcpServer>

#include <optional>

// Where a PJLink server listens: a numeric address of this machine, or
// 0.0.0.0 or [::] for all of them, and a port, as "127.0.0.1:4352" or
// "[::1]:4352". [::] takes IPv6 connections alone, 0.0.0.0 IPv4 ones.
struct PjlinkAddress
{
    QHostAddress host;
    quint16 port = 0;

    // The address as parse() takes it, an IPv6 host in brackets.
    QString toString() const;

    // Refuses a host name (it is not looked up: the server listens where it
    // is told), an IPv6 address without brackets, and a port that is missing
    // or not within 1 to 65535, with a description in *error.
    static std::optional<PjlinkAddress> parse(QStringView text, QString *error);
};

// Listens for PJLink controllers on one address and serves each connection
// with a PjlinkConnection, whose requests the responder answers. A connection
// beyond the cap in all, or beyond the cap for its source address, is closed
// at once without a greeting: the controller sees no device rather than one
// that fails it later, and the server spends nothing on it. A source address
// that gave a wrong password waits for its next greetings as the throttle
// says. No digest or password is ever handed out in a signal.
class PjlinkServer : public QObject
{
    Q_OBJECT

public:
    // No password greets "PJLINK 0" and admits every request.
    PjlinkServer(PjlinkAddress address, std::optional<QByteArray> password, PjlinkResponder &responder,
                 PjlinkThrottle &throttle, PjlinkLimits limits = {}, QObject *parent = nullptr);

    // False, and listenFailed, when the address cannot be listened on.
    bool listen();
    // The port listened on: the one given, or the one the system chose for port 0.
    quint16 port() const { return m_server.serverPort(); }
    int connectionCount() const { return m_connectionCount; }

signals:
    void refused(const QHostAddress &source, PjlinkRefusal why);
    // Says where and why, for the log.
    void listenFailed(const QString &why);

private:
    void onNewConnection();
    void take(QTcpSocket *socket);
    void onFinished(const QHostAddress &source);
    void onAcceptError();

    QTcpServer m_server;
    PjlinkAddress m_address;
    std::optional<QByteArray> m_password;
    PjlinkResponder &m_responder;
    PjlinkThrottle &m_throttle;
    PjlinkLimits m_limits;
    QHash<QHostAddress, int> m_connectionsFrom;
    int m_connectionCount = 0;
};
