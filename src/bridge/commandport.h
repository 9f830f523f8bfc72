// The projector's own commands from the panel and scripts, each client's reply to that client alone.
#pragma once

#include "exchangequeue.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A raw TCP port, as a serial device server's socket:// is, on which the
// panel and qvx-send share the projector with PJLink's controllers. Each text
// that a client ends with a carriage return is one exchange on the line, a
// person's, before the status polls; its reply goes to that client alone, as
// the projector sent it, and what the line held before it goes to no one.
//
// A held lens button sends a step every 150 ms and expects each to go out as
// it comes: a client's lens step waits behind at most one of its own, and
// steps that come faster than the line takes them are dropped, so that no
// lens moves on after its button is released.
class CommandPort : public QObject
{
    Q_OBJECT

public:
    // A text longer than this without a carriage return is no command: the
    // client is closed.
    static constexpr qsizetype kLongestCommand = 256;
    static constexpr int kMostClients = 16;
    // A client that has this many commands waiting sends faster than any
    // projector answers: it is closed.
    static constexpr int kMostWaiting = 32;

    explicit CommandPort(ExchangeQueue &queue, QObject *parent = nullptr);

    // False, with the reason in *error, when the port cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_server.serverPort(); }
    // Serves a connected client, as it does each one the port's server
    // takes; one beyond kMostClients is closed at once. The socket is the
    // port's from here, and goes with it.
    void adopt(QTcpSocket *socket);

signals:
    // Something for the log: a client refused or closed, and why.
    void said(const QString &text);

private:
    struct Client
    {
        QByteArray line;
        // Requests on the queue or on the wire.
        int outstanding = 0;
    };

    void accept();
    void read(QTcpSocket *socket);
    void submit(QTcpSocket *socket, const QByteArray &text);
    void onExchanged(QObject *requester, const Exchange &exchange);
    void onFinished(QObject *requester);
    void drop(QTcpSocket *socket, const QString &why);

    ExchangeQueue &m_queue;
    QTcpServer m_server;
    QHash<const QObject *, Client> m_clients;
};
