// The device servers that the network tests talk to: a real ser2net, and what scripted ones need.
#include "deviceserver.h"

#include "telnetcodec.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace deviceserver {

QString ser2netPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                           QStringLiteral("/sbin"), QStringLiteral("/usr/local/sbin")});
}

quint16 freePort()
{
    // Below the range the system hands out to outgoing connections (32768 and
    // up), so that a client of a test running beside this one cannot take the
    // port between this probe and the server's bind.
    constexpr quint16 kFirst = 20000;
    constexpr quint16 kEnd = 32768;
    QTcpServer probe;
    quint16 port = 0;
    do
        port = quint16(QRandomGenerator::global()->bounded(kFirst, kEnd));
    while (!probe.listen(QHostAddress::LocalHost, port));
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

namespace {

bool isListening(quint16 port)
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::LocalHost, port);
}

} // namespace

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
    // A probe connection would make ser2net open the device, so the ports are
    // probed by trying to bind them.
    return QTest::qWaitFor(
               [&] {
                   return m_process.state() != QProcess::Running ||
                          (isListening(m_telnetPort) && isListening(m_rawPort));
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
        .arg(isListening(m_telnetPort))
        .arg(isListening(m_rawPort))
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
