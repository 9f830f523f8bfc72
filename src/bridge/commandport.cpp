// The projector's own commands from the panel and scripts, each client's reply to that client alone.
#include "commandport.h"

#include "scriptvocabulary.h"

#include <QTcpSocket>

#include <utility>

namespace {

QString nameOf(const QTcpSocket *socket)
{
    return QStringLiteral("%1 port %2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

} // namespace

CommandPort::CommandPort(ExchangeQueue &queue, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
{
    connect(&m_server, &QTcpServer::newConnection, this, &CommandPort::accept);
    connect(&m_queue, &ExchangeQueue::exchanged, this, &CommandPort::onExchanged);
    connect(&m_queue, &ExchangeQueue::finished, this, &CommandPort::onFinished);
}

bool CommandPort::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_server.listen(address, port))
        return true;
    *error = m_server.errorString();
    return false;
}

void CommandPort::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection())
        adopt(socket);
}

void CommandPort::adopt(QTcpSocket *socket)
{
    // As the port's child, a socket still connected when the port goes is
    // deleted after the port's connections: the disconnected() it sends then
    // reaches no handler whose client table is gone.
    socket->setParent(this);
    if (m_clients.size() >= kMostClients) {
        emit said(tr("command port: %1 refused: %2 clients are connected already")
                      .arg(nameOf(socket))
                      .arg(kMostClients));
        socket->abort();
        socket->deleteLater();
        return;
    }
    m_clients.insert(socket, {});
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_queue.cancel(socket);
        m_clients.remove(socket);
        socket->deleteLater();
    });
}

void CommandPort::read(QTcpSocket *socket)
{
    const auto client = m_clients.find(socket);
    if (client == m_clients.end())
        return;
    const QByteArray bytes = socket->readAll();
    for (const char byte : bytes) {
        if (byte != '\r') {
            if (client->line.size() == kLongestCommand)
                return drop(socket, tr("a command longer than %1 bytes").arg(kLongestCommand));
            client->line += byte;
            continue;
        }
        submit(socket, std::exchange(client->line, {}));
        if (!m_clients.contains(socket))
            return;
    }
}

void CommandPort::submit(QTcpSocket *socket, const QByteArray &text)
{
    Client &client = m_clients[socket];
    // One step on the wire and one waiting keep a held button's pace; more
    // would move the lens on after its release.
    if (commands::isLensStep(text) && client.outstanding >= 2)
        return;
    if (client.outstanding >= kMostWaiting)
        return drop(socket, tr("more than %1 commands waiting").arg(kMostWaiting));
    ++client.outstanding;
    m_queue.submit(socket, {commands::stepOfText(text)}, ExchangeQueue::Priority::Person);
}

void CommandPort::onExchanged(QObject *requester, const Exchange &exchange)
{
    if (!m_clients.contains(requester) || exchange.reply.isEmpty())
        return;
    static_cast<QTcpSocket *>(requester)->write(exchange.reply);
}

void CommandPort::onFinished(QObject *requester)
{
    const auto client = m_clients.find(requester);
    if (client != m_clients.end())
        --client->outstanding;
}

void CommandPort::drop(QTcpSocket *socket, const QString &why)
{
    emit said(tr("command port: %1 closed: %2").arg(nameOf(socket), why));
    m_queue.cancel(socket);
    m_clients.remove(socket);
    socket->abort();
    socket->deleteLater();
}
