// The network line against a real ser2net in front of the simulator, and the line that picks it.
#include "anyline.h"
#include "deviceserver.h"
#include "endpoint.h"
#include "networkline.h"
#include "panelwindow.h"
#include "portselection.h"
#include "simprocess.h"
#include "telnetcodec.h"
#include "warningcatcher.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(Endpoint::Kind)

using namespace deviceserver;

namespace {

QByteArray allByteValues()
{
    QByteArray all;
    for (int value = 0; value < 256; ++value)
        all += char(value);
    return all;
}

// A pseudo-terminal the test holds the master of, so that every byte on the
// device side can be seen exactly.
class Pty
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_path = QString::fromLocal8Bit(::ptsname(m_master));
    }
    ~Pty()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    QString path() const { return m_path; }
    bool write(const QByteArray &data)
    {
        return ::write(m_master, data.constData(), data.size()) == data.size();
    }
    QByteArray readAvailable()
    {
        char buffer[4096];
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        return count > 0 ? QByteArray(buffer, count) : QByteArray();
    }

private:
    int m_master = -1;
    QString m_path;
};

} // namespace

class TstNetworkLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void endpointParsing_data();
    void endpointParsing();
    void malformedEndpointFailsOpen();
    void commandsReachSimulator_data();
    void commandsReachSimulator();
    void everyByteBothWays_data();
    void everyByteBothWays();
    void speedReachesTermios();
    void rawSocketKeepsServerSpeed();
    void settingsNotConfirmed_data();
    void settingsNotConfirmed();
    void stoppedServerIsLostDevice_data();
    void stoppedServerIsLostDevice();
    void restartedServerComesBackByItself_data();
    void restartedServerComesBackByItself();
    void panelOverDeviceServer_data();
    void panelOverDeviceServer();
    void refusedConnectReported();
    void connectTimesOut();
    void anyLineFollowsEndpoint();

private:
    bool m_haveSer2net = false;
};

#define REQUIRE_SER2NET()                                                                                    \
    do {                                                                                                     \
        if (!m_haveSer2net)                                                                                  \
            QSKIP("ser2net is not installed (Debian package ser2net); the device-server tests need it");     \
    } while (false)

void TstNetworkLine::initTestCase()
{
    m_haveSer2net = !ser2netPath().isEmpty();
}

void TstNetworkLine::endpointParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Endpoint::Kind>("kind");
    // The host or device; for an address refused, what the refusal says.
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("port");
    using K = Endpoint::Kind;
    QTest::newRow("devicePath") << "/dev/ttyUSB0" << true << K::Device << "/dev/ttyUSB0" << 0;
    QTest::newRow("byIdPath") << "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0" << true << K::Device
                              << "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0" << 0;
    QTest::newRow("rfc2217") << "rfc2217://127.0.0.1:4001" << true << K::Rfc2217 << "127.0.0.1" << 4001;
    QTest::newRow("socketByName") << "socket://booth-server:4002" << true << K::RawSocket << "booth-server"
                                  << 4002;
    QTest::newRow("ipv6InBrackets") << "socket://[::1]:4002" << true << K::RawSocket << "::1" << 4002;
    QTest::newRow("ipv6WithZone") << "rfc2217://[fe80::1%25eth0]:4001" << true << K::Rfc2217 << "fe80::1%eth0"
                                  << 4001;
    QTest::newRow("highestPort") << "socket://host:65535" << true << K::RawSocket << "host" << 65535;
    QTest::newRow("missingPort") << "rfc2217://host" << false << K::Device << "" << 0;
    QTest::newRow("emptyPort") << "rfc2217://host:" << false << K::Device << "" << 0;
    QTest::newRow("portZero") << "socket://host:0" << false << K::Device << "0 is not within 1 to 65535" << 0;
    QTest::newRow("portTooLarge") << "socket://host:70000" << false << K::Device
                                  << "70000 is not within 1 to 65535" << 0;
    QTest::newRow("portNotANumber") << "socket://host:abc" << false << K::Device << "\"abc\" is not a number"
                                    << 0;
    QTest::newRow("unclosedBracket") << "socket://[::1" << false << K::Device << "no closing ']'" << 0;
    QTest::newRow("missingHost") << "socket://:4001" << false << K::Device << "" << 0;
    QTest::newRow("nothingAfterScheme") << "rfc2217://" << false << K::Device << "" << 0;
    QTest::newRow("unknownScheme") << "telnet://host:23" << false << K::Device << "" << 0;
    QTest::newRow("schemeInCapitals") << "RFC2217://host:4001" << false << K::Device << "" << 0;
    QTest::newRow("pathAfterPort") << "socket://host:4001/ttyS0" << false << K::Device << "" << 0;
    QTest::newRow("optionsAfterPort")
        << "rfc2217://host:4001?ign_set_control" << false << K::Device << "" << 0;
    QTest::newRow("userInfo") << "socket://user@host:4001" << false << K::Device << "" << 0;
    QTest::newRow("spaceInHost") << "socket://bad host:4001" << false << K::Device
                                 << "characters that a host name cannot" << 0;
    QTest::newRow("zoneUnescaped") << "socket://[fe80::1%eth0]:4001" << false << K::Device << "%25eth0" << 0;
    // QUrl lets these zones through, and Qt 6.8 then writes a host that does
    // not parse again.
    QTest::newRow("zoneNotAscii") << "rfc2217://[fe80::1%25eth\u00ed]:4001" << false << K::Device << "" << 0;
    QTest::newRow("zoneWithBracketAndEscape")
        << QString::fromLatin1(QByteArray("rfc2217://[::%25") + QByteArray(5, '\xED') + "[::%12" +
                               QByteArray(30, '\xED') + "t]:4")
        << false << K::Device << "" << 0;
}

void TstNetworkLine::endpointParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(Endpoint::Kind, kind);
    QFETCH(QString, where);
    QFETCH(int, port);

    QString error;
    const auto endpoint = Endpoint::parse(text, &error);
    QCOMPARE(endpoint.has_value(), valid);
    if (!valid) {
        QVERIFY2(error.contains(text), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("rfc2217://host:port")) && error.contains(where),
                 qPrintable(error));
        // In words of ours, not the URL parser's.
        QVERIFY2(!error.contains(QStringLiteral("source was")), qPrintable(error));
        return;
    }
    QCOMPARE(endpoint->kind, kind);
    QCOMPARE(endpoint->isNetwork() ? endpoint->host : endpoint->device, where);
    QCOMPARE(int(endpoint->port), port);
    // What the warning box shows of an address can be set again as it stands.
    QCOMPARE(endpoint->toString(), text);
}

void TstNetworkLine::malformedEndpointFailsOpen()
{
    const auto line = lineTo(QStringLiteral("rfc2217://projector-server"));
    QVERIFY(!line->open());
    QVERIFY(!line->isOpen());
    QVERIFY2(line->errorString().contains(QStringLiteral("rfc2217://projector-server")),
             qPrintable(line->errorString()));
    // The description says what to write; where it is set is for whoever named the port to say.
    QCOMPARE(line->failureFault(), SerialLine::Fault::BadAddress);
    QCOMPARE(line->failureHint(), QString());
    QVERIFY(!line->write(kIdentify));
}

void TstNetworkLine::commandsReachSimulator_data()
{
    QTest::addColumn<bool>("telnet");
    QTest::newRow("rfc2217") << true;
    QTest::newRow("rawSocket") << false;
}

void TstNetworkLine::commandsReachSimulator()
{
    REQUIRE_SER2NET();
    QFETCH(bool, telnet);
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));

    const auto line = lineTo(server.url(telnet));
    Receiver receiver(*line);
    QSignalSpy events(line.get(), &SerialLine::notified);
    QVERIFY2(line->open(), qPrintable(line->errorString()));
    QVERIFY(line->isOpen());
    QVERIFY(!line->isReady());
    // Written while the connection is still being made: held, not lost.
    QVERIFY2(line->write(kIdentify), qPrintable(line->errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(kIdentity), kReplyTimeoutMs);
    QVERIFY(line->isConnected());
    // The line said once that it carries bytes, before the reply came.
    QVERIFY(line->isReady());
    QCOMPARE(countOf(events, SerialLine::Event::Opened), 1);
    QCOMPARE(events.at(0).at(0).value<SerialLine::Event>(), SerialLine::Event::Opened);

    receiver.clear();
    QVERIFY(line->write("POWR????\r"));
    QTRY_VERIFY2_WITH_TIMEOUT(receiver.received() == "0\r", qPrintable(sim.log()), kReplyTimeoutMs);
}

void TstNetworkLine::everyByteBothWays_data()
{
    commandsReachSimulator_data();
}

void TstNetworkLine::everyByteBothWays()
{
    REQUIRE_SER2NET();
    QFETCH(bool, telnet);
    Pty device;
    QVERIFY(!device.path().isEmpty());
    Ser2Net server(device.path());
    QVERIFY2(server.start(), qPrintable(server.log()));
    const auto line = lineTo(server.url(telnet));
    Receiver receiver(*line);
    QVERIFY(line->open());
    QTRY_VERIFY_WITH_TIMEOUT(line->isConnected(), kReplyTimeoutMs);

    const QByteArray all = allByteValues();
    QVERIFY(line->write(all));
    QByteArray atDevice;
    QTRY_VERIFY_WITH_TIMEOUT((atDevice += device.readAvailable()).size() >= all.size(), kReplyTimeoutMs);
    QCOMPARE(atDevice.toHex(' '), all.toHex(' '));

    QVERIFY(device.write(all));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().size() >= all.size(), kReplyTimeoutMs);
    QCOMPARE(receiver.received().toHex(' '), all.toHex(' '));
}

void TstNetworkLine::speedReachesTermios()
{
    REQUIRE_SER2NET();
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));
    const auto line = lineTo(server.url(true));
    QSignalSpy events(line.get(), &SerialLine::notified);

    QVERIFY(line->setSettings(QStringLiteral("115200,N,8,1")));
    QVERIFY(line->open());
    QTRY_VERIFY_WITH_TIMEOUT(line->settingsConfirmed(), kReplyTimeoutMs);
    QCOMPARE(ptySpeed(sim.devicePath()), speed_t(B115200));

    QVERIFY(line->setSettings(QStringLiteral("9600,N,8,1")));
    QVERIFY(!line->settingsConfirmed());
    QTRY_VERIFY_WITH_TIMEOUT(line->settingsConfirmed(), kReplyTimeoutMs);
    QCOMPARE(ptySpeed(sim.devicePath()), speed_t(B9600));

    QVERIFY2(countOf(events, SerialLine::Event::SettingsRefused) == 0, qPrintable(line->errorString()));
    QVERIFY(line->isConnected());
}

void TstNetworkLine::rawSocketKeepsServerSpeed()
{
    REQUIRE_SER2NET();
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));
    const auto line = lineTo(server.url(false));
    Receiver receiver(*line);

    QVERIFY(line->setSettings(QStringLiteral("115200,N,8,1")));
    QVERIFY(line->open());
    QVERIFY(line->write(kIdentify));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(kIdentity), kReplyTimeoutMs);
    QCOMPARE(ptySpeed(sim.devicePath()), speed_t(B9600));
    QVERIFY(line->setSettings(QStringLiteral("115200,N,8,1")));
    receiver.clear();
    QVERIFY(line->write(kIdentify));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received() == kIdentity, kReplyTimeoutMs);
    QCOMPARE(ptySpeed(sim.devicePath()), speed_t(B9600));
}

void TstNetworkLine::settingsNotConfirmed_data()
{
    using namespace Telnet;
    QTest::addColumn<QByteArray>("greeting");
    // The speed the server answers to SET-BAUDRATE; -1 for no answers at all.
    QTest::addColumn<int>("answeredSpeed");
    QTest::addColumn<bool>("refused");
    const QByteArray agree = bytes({kIac, kDo, kComPortOption});
    QTest::newRow("serverConfirms") << agree << 115200 << false;
    QTest::newRow("serverKeepsOtherSpeed") << agree << 9600 << true;
    QTest::newRow("serverNeverAnswers") << agree << -1 << true;
    QTest::newRow("serverRefusesComPort") << bytes({kIac, kDont, kComPortOption}) << 115200 << true;
    QTest::newRow("serverIgnoresComPort") << QByteArray() << 115200 << true;
}

// A telnet server written here, since ser2net takes every speed a pseudo-terminal takes.
void TstNetworkLine::settingsNotConfirmed()
{
    QFETCH(QByteArray, greeting);
    QFETCH(int, answeredSpeed);
    QFETCH(bool, refused);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket *peer = nullptr;
    // Everything the line sent, kept whole: the line's own restoring request may
    // arrive in the same read as the bytes that follow it.
    QByteArray heard;
    qsizetype answeredUpTo = 0;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        peer = server.nextPendingConnection();
        peer->write(greeting);
        connect(peer, &QTcpSocket::readyRead, this, [&] {
            heard += peer->readAll();
            const QByteArray setSpeed = bytes({Telnet::kIac, Telnet::kSb, Telnet::kComPortOption, 1});
            if (answeredSpeed < 0)
                return;
            for (auto at = heard.indexOf(setSpeed, answeredUpTo); at >= 0;
                 at = heard.indexOf(setSpeed, answeredUpTo)) {
                answeredUpTo = at + setSpeed.size();
                answerSpeed(peer, std::uint32_t(answeredSpeed));
            }
        });
    });

    const auto line = lineTo(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort()));
    QSignalSpy events(line.get(), &SerialLine::notified);
    QVERIFY(line->setSettings(QStringLiteral("115200,N,8,1")));
    QVERIFY(line->open());
    if (refused) {
        QTRY_COMPARE_WITH_TIMEOUT(noticesOf(events).size(), 1, kReplyTimeoutMs);
        QCOMPARE(noticesOf(events).at(0), SerialLine::Event::SettingsRefused);
        QVERIFY2(line->errorString().contains(QStringLiteral("115200,N,8,1")),
                 qPrintable(line->errorString()));
        QVERIFY(!line->settingsConfirmed());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(line->settingsConfirmed(), kReplyTimeoutMs);
        QVERIFY2(noticesOf(events).isEmpty(), qPrintable(line->errorString()));
        // This server answers every speed with 115200: the next speed is refused
        // and the line goes back to the one confirmed.
        QVERIFY(line->setSettings(QStringLiteral("9600,N,8,1")));
        QTRY_COMPARE_WITH_TIMEOUT(noticesOf(events).size(), 1, kReplyTimeoutMs);
        QCOMPARE(noticesOf(events).at(0), SerialLine::Event::SettingsRefused);
        QVERIFY2(line->errorString().contains(QStringLiteral("9600,N,8,1")), qPrintable(line->errorString()));
        QCOMPARE(line->settings(), QStringLiteral("115200,N,8,1"));
    }
    // A refused setting leaves the line usable at the server's own speed.
    QVERIFY(line->isConnected());
    QVERIFY(line->write("A\xff"));
    QTRY_VERIFY_WITH_TIMEOUT(heard.endsWith(bytes({'A', Telnet::kIac, Telnet::kIac})), kReplyTimeoutMs);
}

void TstNetworkLine::stoppedServerIsLostDevice_data()
{
    commandsReachSimulator_data();
}

void TstNetworkLine::stoppedServerIsLostDevice()
{
    REQUIRE_SER2NET();
    QFETCH(bool, telnet);
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));
    const auto line = lineTo(server.url(telnet));
    Receiver receiver(*line);
    QSignalSpy events(line.get(), &SerialLine::notified);
    QVERIFY(line->open());
    QVERIFY(line->write(kIdentify));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(kIdentity), kReplyTimeoutMs);
    events.clear();

    server.stop();
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 1, kReplyTimeoutMs);
    QCOMPARE(events.at(0).at(0).value<SerialLine::Event>(), SerialLine::Event::DeviceLost);
    QVERIFY(!line->isOpen());
    QVERIFY(!line->errorString().isEmpty());
    QVERIFY(!line->write(kIdentify));

    // The server comes back on the same ports and the line opens again.
    QVERIFY2(server.start(), qPrintable(server.log()));
    receiver.clear();
    QVERIFY(line->open());
    QVERIFY(line->write(kIdentify));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(kIdentity), kReplyTimeoutMs);
    QCOMPARE(countOf(events, SerialLine::Event::DeviceLost), 1);
    QCOMPARE(countOf(events, SerialLine::Event::Received) + countOf(events, SerialLine::Event::Opened) + 1,
             events.count());
}

void TstNetworkLine::restartedServerComesBackByItself_data()
{
    commandsReachSimulator_data();
}

void TstNetworkLine::restartedServerComesBackByItself()
{
    REQUIRE_SER2NET();
    QFETCH(bool, telnet);
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));
    const auto line = lineTo(server.url(telnet));
    PortSelection ports(*line);
    QSignalSpy lost(&ports, &PortSelection::portLost);
    QSignalSpy failed(&ports, &PortSelection::openFailed);
    QSignalSpy reopened(&ports, &PortSelection::portReopened);
    QVERIFY(!ports.openAtStart());
    QTRY_VERIFY_WITH_TIMEOUT(line->isConnected(), kReplyTimeoutMs);

    server.stop();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kReplyTimeoutMs);
    QCOMPARE(ports.waitingFor(), 1);
    // Attempts at about one a second find the server away, silently.
    QSignalSpy events(line.get(), &SerialLine::notified);
    QTRY_VERIFY_WITH_TIMEOUT(countOf(events, SerialLine::Event::OpenFailed) >= 2, kReplyTimeoutMs);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(reopened.count(), 0);

    QVERIFY2(server.start(), qPrintable(server.log()));
    QTRY_COMPARE_WITH_TIMEOUT(reopened.count(), 1, kReplyTimeoutMs);
    QVERIFY(line->isConnected());
    Receiver receiver(*line);
    QVERIFY(line->write(kIdentify));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(kIdentity), kReplyTimeoutMs);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(failed.count(), 0);
}

void TstNetworkLine::panelOverDeviceServer_data()
{
    QTest::addColumn<bool>("serverAtStart");
    QTest::newRow("serverRunning") << true;
    QTest::newRow("serverStartsLater") << false;
}

void TstNetworkLine::panelOverDeviceServer()
{
    REQUIRE_SER2NET();
    QFETCH(bool, serverAtStart);
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    if (serverAtStart)
        QVERIFY2(server.start(), qPrintable(server.log()));
    qputenv("QVX_COM1", server.url(true).toLocal8Bit());
    qputenv("QVX_COM2", "/nonexistent/qvx-com2");
    const auto restore = qScopeGuard([] { qunsetenv("QVX_COM1"); });
    WarningCatcher warnings;
    AnyLine line;
    PanelWindow window(line);
    window.startUp();
    const auto labelText = [&](layout::ControlId name) { return window.control<QLabel>(name)->text(); };
    if (!serverAtStart) {
        // The connect fails after start-up returned; the panel says so once and waits.
        QTRY_COMPARE_WITH_TIMEOUT(warnings.texts.size(), 1, kReplyTimeoutMs);
        QCOMPARE(warnings.hints.front(), QStringLiteral("COM1 is the serial device server at %1. Check that "
                                                        "the server runs and is reachable from here, or set "
                                                        "QVX_COM1 to another address.")
                                             .arg(server.url(true)));
        QVERIFY2(server.start(), qPrintable(server.log()));
    }
    QTRY_VERIFY_WITH_TIMEOUT(line.usesNetwork() && line.isOpen() && !line.isConnecting(), kReplyTimeoutMs);
    QCOMPARE(warnings.texts.size(), serverAtStart ? 0 : 1);

    window.control<QAbstractButton>("Command44")->click();
    QTRY_COMPARE_WITH_TIMEOUT(labelText("Label12"), QStringLiteral(" 0 0 0 0 CR "), kReplyTimeoutMs);

    // The speed chosen in the port group reaches the device through the server.
    window.control<QAbstractButton>("Command33")->click();
    window.control<QRadioButton>("Option9")->click();
    QTRY_COMPARE_WITH_TIMEOUT(ptySpeed(sim.devicePath()), speed_t(B115200), kReplyTimeoutMs);
    QVERIFY(window.control<QRadioButton>("Option9")->isChecked());
    QCOMPARE(warnings.texts.size(), serverAtStart ? 0 : 1);
}

void TstNetworkLine::refusedConnectReported()
{
    const auto line = lineTo(QStringLiteral("socket://127.0.0.1:%1").arg(freePort()));
    QSignalSpy events(line.get(), &SerialLine::notified);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line->open());
    QVERIFY2(clock.elapsed() < 1000, "open() must not wait for the connection");
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 1, kReplyTimeoutMs);
    QCOMPARE(events.at(0).at(0).value<SerialLine::Event>(), SerialLine::Event::OpenFailed);
    QCOMPARE(line->errorString(), QStringLiteral("Connection refused"));
    QCOMPARE(line->failureFault(), SerialLine::Fault::NoServer);
    QCOMPARE(line->failureHint(),
             QStringLiteral("Check that the serial device server runs and is reachable from here."));
    QVERIFY(!line->isOpen());
}

// A listener whose accept queue is full drops further connection requests, so a
// connect to it neither succeeds nor fails until the line's own time limit.
void TstNetworkLine::connectTimesOut()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    const auto closeListener = qScopeGuard([listener] { ::close(listener); });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), length) == 0);
    QVERIFY(::listen(listener, 0) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    const quint16 port = ntohs(address.sin_port);
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(std::make_unique<QTcpSocket>());
        fillers.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    // The queue is full once the listener has taken one.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(fillers.cbegin(), fillers.cend(),
                    [](const auto &filler) { return filler->state() == QAbstractSocket::ConnectedState; }),
        kReplyTimeoutMs);

    const auto line = lineTo(QStringLiteral("socket://127.0.0.1:%1").arg(port));
    QSignalSpy events(line.get(), &SerialLine::notified);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line->open());
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 1, kReplyTimeoutMs);
    const qint64 elapsed = clock.elapsed();
    if (events.at(0).at(0).value<SerialLine::Event>() == SerialLine::Event::OpenFailed &&
        line->errorString() == QStringLiteral("Connection refused"))
        QSKIP("this kernel refuses instead of dropping connects to a full listener");
    QCOMPARE(events.at(0).at(0).value<SerialLine::Event>(), SerialLine::Event::OpenFailed);
    QVERIFY2(line->errorString().contains(QStringLiteral("timed out")), qPrintable(line->errorString()));
    QVERIFY2(elapsed >= 2500 && elapsed < 8000, qPrintable(QString::number(elapsed)));
    // The event loop ran all along: about 60 ticks in 3 s, far fewer under load.
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QVERIFY(!line->isOpen());
}

void TstNetworkLine::anyLineFollowsEndpoint()
{
    REQUIRE_SER2NET();
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));
    // Nothing in the environment: the endpoints given are the only ones.
    qunsetenv("QVX_COM1");
    const QString endpoints[] = {sim.devicePath(), server.url(true)};
    AnyLine line([&](int number) { return endpoints[number - 1]; });
    Receiver receiver(line);

    QVERIFY2(line.open(), qPrintable(line.errorString()));
    QVERIFY(!line.usesNetwork());
    QCOMPARE(line.location(), sim.devicePath());
    QVERIFY(line.write(kIdentify));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(kIdentity), kReplyTimeoutMs);
    QVERIFY(!line.setPortNumber(2));
    QVERIFY(line.close());

    receiver.clear();
    QVERIFY(line.setPortNumber(2));
    QVERIFY(line.setSettings(QStringLiteral("115200,N,8,1")));
    QVERIFY(line.open());
    QVERIFY(line.usesNetwork());
    QCOMPARE(line.portNumber(), 2);
    QVERIFY(line.write(kIdentify));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(kIdentity), kReplyTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(ptySpeed(sim.devicePath()), speed_t(B115200), kReplyTimeoutMs);
    QVERIFY(line.close());
    QVERIFY(!line.isOpen());

    AnyLine misnamed([](int) { return QStringLiteral("socket://nowhere"); });
    QVERIFY(!misnamed.open());
    QVERIFY(misnamed.usesNetwork());
    QVERIFY2(misnamed.errorString().contains(QStringLiteral("socket://nowhere")),
             qPrintable(misnamed.errorString()));
}

QTEST_MAIN(TstNetworkLine)
#include "tst_networkline.moc"
