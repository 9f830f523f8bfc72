// The device servers that the network tests talk to: a real ser2net, and what scripted ones need.
#include "deviceserver.h"

#include "telnetcodec.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace deviceserver {

QString ser2netPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                           QStringLiteral("/sbin"), QStringLiteral("/usr/local/sbin")});
}

namespace {

// The kernel prints an address as 32-bit words in hexadecimal, each word's
// value that of its bytes in the machine's byte order.
QHostAddress addressFromHex(const QByteArray &hex)
{
    constexpr qsizetype kWordDigits = 8;
    std::array<quint8, 16> raw{};
    const qsizetype words = hex.size() / kWordDigits;
    if (hex.size() % kWordDigits != 0 || (words != 1 && words != 4))
        return {};
    for (qsizetype word = 0; word < words; ++word) {
        bool ok = false;
        const quint32 value = hex.mid(word * kWordDigits, kWordDigits).toUInt(&ok, 16);
        if (!ok)
            return {};
        std::memcpy(raw.data() + word * sizeof value, &value, sizeof value);
    }
    return words == 1 ? QHostAddress(qFromBigEndian<quint32>(raw.data())) : QHostAddress(raw.data());
}

void readSockets(const QString &path, QList<TcpSocket> &sockets)
{
    // The fields of a row: its number, local address:port, remote address:port, state.
    constexpr QByteArrayView kListen = "0A";
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.readLine();
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() < 4)
            continue;
        const QList<QByteArray> local = fields[1].split(':');
        bool ok = false;
        const quint16 port = local.size() == 2 ? quint16(local[1].toUInt(&ok, 16)) : 0;
        if (ok)
            sockets.append({addressFromHex(local[0]), port, fields[3] == kListen});
    }
}

// Where ser2net's accepters listen, as its configuration says.
const QHostAddress kLoopback(QHostAddress::LocalHost);

} // namespace

QList<TcpSocket> tcpSockets()
{
    QList<TcpSocket> sockets;
    readSockets(QStringLiteral("/proc/net/tcp"), sockets);
    readSockets(QStringLiteral("/proc/net/tcp6"), sockets);
    return sockets;
}

bool isListening(quint16 port, const QHostAddress &address)
{
    const QList<TcpSocket> sockets = tcpSockets();
    return std::any_of(sockets.begin(), sockets.end(), [&](const TcpSocket &socket) {
        return socket.listening && socket.port == port &&
               (address.isNull() || socket.address.isEqual(address, QHostAddress::ConvertV4MappedToIPv4));
    });
}

quint16 freePort()
{
    // Below the range the system hands out to outgoing connections (32768 and
    // up), so that a client of a test running beside this one cannot take the
    // port before the server binds it.
    constexpr quint16 kFirst = 20000;
    constexpr quint16 kEnd = 32768;
    const QList<TcpSocket> sockets = tcpSockets();
    quint16 port = 0;
    do
        port = quint16(QRandomGenerator::global()->bounded(kFirst, kEnd));
    while (std::any_of(sockets.begin(), sockets.end(),
                       [port](const TcpSocket &socket) { return socket.port == port; }));
    return port;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (const int value : values)
        result += char(value);
    return result;
}

void answerSpeed(QTcpSocket *peer, std::uint32_t speed)
{
    using namespace Telnet;
    QByteArray answers = bytes({kIac, kSb, kComPortOption, 101, int(speed >> 24), int(speed >> 16) & 0xff,
                                int(speed >> 8) & 0xff, int(speed & 0xff), kIac, kSe});
    for (const auto &[command, value] : {std::pair{102, 8}, {103, 1}, {104, 1}, {105, 1}})
        answers += bytes({kIac, kSb, kComPortOption, command, value, kIac, kSe});
    peer->write(answers);
}

speed_t ptySpeed(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    termios settings{};
    const speed_t speed = ::tcgetattr(fd, &settings) == 0 ? ::cfgetospeed(&settings) : 0;
    ::close(fd);
    return speed;
}

Ser2Net::Ser2Net(const QString &device)
    : m_telnetPort(freePort())
{
    do
        m_rawPort = freePort();
    while (m_rawPort == m_telnetPort);
    const QString config = QStringLiteral("connection: &rfc2217\n"
                                          "    accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                          "    connector: serialdev,%3,9600n81,local\n"
                                          "    options:\n"
                                          "      kickolduser: true\n"
                                          "connection: &raw\n"
                                          "    accepter: tcp,127.0.0.1,%2\n"
                                          "    connector: serialdev,%3,9600n81,local\n"
                                          "    options:\n"
                                          "      kickolduser: true\n")
                               .arg(m_telnetPort)
                               .arg(m_rawPort)
                               .arg(device);
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (file.open(QIODevice::WriteOnly))
        file.write(config.toUtf8());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2Net::~Ser2Net()
{
    stop();
}

QString Ser2Net::url(bool telnet) const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(telnet ? QStringLiteral("rfc2217") : QStringLiteral("socket"))
        .arg(telnet ? m_telnetPort : m_rawPort);
}

bool Ser2Net::start()
{
    // -u: no UUCP lock files, which a test has no business leaving in /var/lock.
    m_process.start(ser2netPath(), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                                    m_dir.filePath(QStringLiteral("ser2net.yaml")), QStringLiteral("-P"),
                                    m_dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_process.waitForStarted(kStartTimeoutMs))
        return false;
    return QTest::qWaitFor(
               [&] {
                   return m_process.state() != QProcess::Running ||
                          (isListening(m_telnetPort, kLoopback) && isListening(m_rawPort, kLoopback));
               },
               kStartTimeoutMs) &&
           m_process.state() == QProcess::Running;
}

void Ser2Net::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kStartTimeoutMs))
        m_process.kill();
    m_process.waitForFinished(kStartTimeoutMs);
}

QString Ser2Net::log()
{
    return QStringLiteral("ser2net %1, ports %2 %3 listening: %4 %5; %6")
        .arg(m_process.state() == QProcess::Running ? QStringLiteral("running")
                                                    : QStringLiteral("not running"))
        .arg(m_telnetPort)
        .arg(m_rawPort)
        .arg(isListening(m_telnetPort, kLoopback))
        .arg(isListening(m_rawPort, kLoopback))
        .arg(QString::fromLocal8Bit(m_process.readAll()));
}

qsizetype countOf(const QSignalSpy &events, SerialLine::Event kind)
{
    return std::count_if(events.begin(), events.end(), [kind](const QList<QVariant> &event) {
        return event.at(0).value<SerialLine::Event>() == kind;
    });
}

QList<SerialLine::Event> noticesOf(const QSignalSpy &events)
{
    QList<SerialLine::Event> notices;
    for (const QList<QVariant> &event : events) {
        const auto kind = event.at(0).value<SerialLine::Event>();
        if (kind != SerialLine::Event::Opened)
            notices.append(kind);
    }
    return notices;
}

std::unique_ptr<NetworkLine> lineTo(const QString &endpoint)
{
    return std::make_unique<NetworkLine>(
        [endpoint](int number) { return number == 1 ? endpoint : QString(); });
}

Receiver::Receiver(SerialLine &line)
{
    QObject::connect(&line, &SerialLine::notified, &m_context, [this, &line](SerialLine::Event kind) {
        if (kind == SerialLine::Event::Received)
            m_received += line.readAll();
    });
}

} // namespace deviceserver
