// The device servers that the network tests talk to: a real ser2net, and what scripted ones need.
#pragma once

#include "networkline.h"
#include "serialline.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QProcess>
#include <QSignalSpy>
#include <QString>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <termios.h>

#include <cstdint>
#include <initializer_list>
#include <memory>

namespace deviceserver {

// Generous: a loaded machine is slow.
inline constexpr int kReplyTimeoutMs = 10'000;
inline constexpr int kStartTimeoutMs = 10'000;

// The simulator's identity query and its answer.
inline constexpr QByteArrayView kIdentify = "CR9\r";
inline constexpr QByteArrayView kIdentity = "QVX-SIM 1.40\r";

// Where ser2net is installed; empty when it is not.
QString ser2netPath();

// A TCP socket of this network namespace, as the system lists it.
struct TcpSocket
{
    QHostAddress address;
    quint16 port = 0;
    bool listening = false;
};
// Read from /proc/net/tcp and /proc/net/tcp6: a probe that bound or connected
// to a port could take it from the server it waits for, or make ser2net open
// its device.
QList<TcpSocket> tcpSockets();
// Whether a socket listens on the port at the address; on any address when the
// address is null.
bool isListening(quint16 port, const QHostAddress &address = {});
// A loopback port that no socket uses just now, and that no outgoing
// connection will take.
quint16 freePort();
QByteArray bytes(std::initializer_list<int> values);
// A device server's answers to a settings request: the given speed, then 8 data
// bits, no parity, one stop bit and no flow control.
void answerSpeed(QTcpSocket *peer, std::uint32_t speed);
// The speed the pseudo-terminal's termios holds, or 0 when it cannot be read.
speed_t ptySpeed(const QString &path);

// ser2net in the foreground with a configuration written for one device: a
// telnet(rfc2217) accepter and a raw tcp accepter on free loopback ports.
class Ser2Net
{
public:
    explicit Ser2Net(const QString &device);
    ~Ser2Net();
    Ser2Net(const Ser2Net &) = delete;
    Ser2Net &operator=(const Ser2Net &) = delete;

    quint16 telnetPort() const { return m_telnetPort; }
    quint16 rawPort() const { return m_rawPort; }
    QString url(bool telnet) const;

    // Starts ser2net and waits until both ports listen.
    bool start();
    void stop();
    // What ser2net said, with whether it runs and listens, for a failure's message.
    QString log();

private:
    QTemporaryDir m_dir;
    quint16 m_telnetPort = 0;
    quint16 m_rawPort = 0;
    QProcess m_process;
};

qsizetype countOf(const QSignalSpy &events, SerialLine::Event kind);
// The notices a line gave beside the ones that say it carries bytes.
QList<SerialLine::Event> noticesOf(const QSignalSpy &events);

// A network line whose port 1 is the given endpoint.
std::unique_ptr<NetworkLine> lineTo(const QString &endpoint);

// Gathers what the line receives, as the link engine does on each notification.
class Receiver
{
public:
    explicit Receiver(SerialLine &line);
    const QByteArray &received() const { return m_received; }
    void clear() { m_received.clear(); }

private:
    QObject m_context;
    QByteArray m_received;
};

} // namespace deviceserver
