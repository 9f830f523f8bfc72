// A TCP socket that keeps its bytes in memory, for driving the network line without a network.
#pragma once

#include <QByteArray>
#include <QTcpSocket>
#include <QVariant>

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

// connectToHost() goes no further than ConnectingState; the test plays the
// server from there: it accepts or refuses the connection, sends bytes, closes
// or resets it, or lets it time out. What the socket's user writes is kept
// until the test takes it. The signals come as a QTcpSocket sends them:
// connected on accept, readyRead for each delivery, errorOccurred and then
// disconnected when a connection ends. As in QTcpSocket, the device opens at
// connectToHost(), stays open when the peer goes away and closes on close() or
// abort(), and a write on a socket without connection fails.
class MemorySocket : public QTcpSocket
{
    Q_OBJECT

public:
    using QAbstractSocket::connectToHost;
    using QTcpSocket::QTcpSocket;

    void connectToHost(const QString &hostName, quint16 port, OpenMode mode = ReadWrite,
                       NetworkLayerProtocol = AnyIPProtocol) override
    {
        if (state() != UnconnectedState)
            return;
        m_hostName = hostName;
        m_port = port;
        m_incoming.clear();
        setSocketError(UnknownSocketError);
        setErrorString({});
        setOpenMode(mode);
        enterState(ConnectingState);
    }

    void close() override
    {
        const SocketState was = state();
        QIODevice::close();
        m_incoming.clear();
        if (was == UnconnectedState)
            return;
        enterState(UnconnectedState);
        if (was == ConnectedState)
            emit disconnected();
    }

    qint64 bytesAvailable() const override { return QIODevice::bytesAvailable() + m_incoming.size(); }
    qintptr socketDescriptor() const override { return -1; }
    void setSocketOption(SocketOption option, const QVariant &value) override { m_options[option] = value; }
    QVariant socketOption(SocketOption option) override
    {
        const auto found = m_options.find(option);
        return found == m_options.end() ? QVariant() : found->second;
    }

    QString hostName() const { return m_hostName; }
    quint16 port() const { return m_port; }

    // The server takes the connection under way.
    void accept()
    {
        if (state() != ConnectingState)
            return;
        enterState(ConnectedState);
        emit connected();
    }

    // The server sends bytes; they wait to be read.
    void deliver(const QByteArray &bytes)
    {
        if (state() != ConnectedState || bytes.isEmpty())
            return;
        m_incoming += bytes;
        emit readyRead();
    }

    // The server refuses the connection under way.
    void refuse()
    {
        if (state() == ConnectingState)
            fail(ConnectionRefusedError, QStringLiteral("Connection refused"));
    }

    // The server closes the connection in order.
    void closeByPeer()
    {
        if (state() == ConnectedState)
            fail(RemoteHostClosedError, QStringLiteral("The remote host closed the connection"));
    }

    // The connection breaks while in use: the error comes first, and then the
    // socket aborts itself, as QTcpSocket does when a write finds the peer gone.
    void resetByPeer()
    {
        if (state() != ConnectedState)
            return;
        setSocketError(NetworkError);
        setErrorString(QStringLiteral("Connection reset by peer"));
        emit errorOccurred(NetworkError);
        abort();
    }

    // The network stops answering, while connecting or connected.
    void timeOut()
    {
        if (state() == ConnectingState || state() == ConnectedState)
            fail(SocketTimeoutError, QStringLiteral("Network operation timed out"));
    }

    // Everything written since the last call.
    QByteArray takeWritten() { return std::exchange(m_written, {}); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min<qint64>(maxSize, m_incoming.size());
        std::memcpy(data, m_incoming.constData(), size_t(count));
        // A copy of the rest, so that a large delivery's room goes once it is read.
        m_incoming = m_incoming.sliced(count);
        return count;
    }

    qint64 writeData(const char *data, qint64 size) override
    {
        if (state() == UnconnectedState) {
            setSocketError(UnknownSocketError);
            setErrorString(QStringLiteral("Socket is not connected"));
            return -1;
        }
        // Bytes written while connecting leave once connected, as from QTcpSocket's buffer.
        m_written.append(data, size);
        return size;
    }

private:
    void enterState(SocketState next)
    {
        setSocketState(next);
        emit stateChanged(next);
    }

    void fail(SocketError error, const QString &description)
    {
        const SocketState was = state();
        setSocketError(error);
        setErrorString(description);
        enterState(UnconnectedState);
        emit errorOccurred(error);
        if (was == ConnectedState)
            emit disconnected();
    }

    QString m_hostName;
    quint16 m_port = 0;
    QByteArray m_incoming;
    QByteArray m_written;
    std::map<SocketOption, QVariant> m_options;
};
