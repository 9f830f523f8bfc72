// qvx-bridge as a venue runs it: the real daemon on the simulated projector, with PJLink controllers and
// the command port's clients on loopback.
#include "deviceserver.h"
#include "panelbench.h"
#include "pjlinkauth.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <signal.h>
#include <sys/stat.h>

using namespace bench;

namespace {

constexpr int kFinishMs = 30'000;

// The daemon on a venue file of its own, with one projector on the
// simulator's device; ended with SIGTERM, as systemd ends it.
class BridgeProcess
{
public:
    BridgeProcess(const QString &section, const QStringList &arguments = {})
    {
        QFile venue(m_dir.filePath(QStringLiteral("venue.conf")));
        venue.open(QIODevice::WriteOnly);
        venue.write(section.toUtf8());
        venue.close();
        m_process.start(QStringLiteral(QVX_BRIDGE_PATH),
                        QStringList{QStringLiteral("--venue"), venue.fileName()} + arguments);
    }
    ~BridgeProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGTERM);
            if (!m_process.waitForFinished(kFinishMs))
                m_process.kill();
        }
    }
    BridgeProcess(const BridgeProcess &) = delete;
    BridgeProcess &operator=(const BridgeProcess &) = delete;

    QString dir() const { return m_dir.path(); }
    QString log()
    {
        m_log += m_process.readAllStandardError();
        return QString::fromUtf8(m_log);
    }
    bool waitForLog(const QString &text)
    {
        return QTest::qWaitFor(
                   [&] { return log().contains(text) || m_process.state() == QProcess::NotRunning; },
                   kWait) &&
               log().contains(text);
    }
    int finish()
    {
        if (!m_process.waitForFinished(kFinishMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        log();
        return m_process.exitCode();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_log;
};

// A PJLink controller: one request and its reply line at a time.
class Controller
{
public:
    // From a loopback address of its own, if one is given, as controllers
    // of a venue come from addresses of their own.
    explicit Controller(quint16 port, const QHostAddress &from = {})
    {
        if (!from.isNull())
            m_socket.bind(from);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    // The next line, its CR included: PJLink lines end in CR alone.
    QByteArray line()
    {
        const bool whole = QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                return m_buffer.contains('\r') || m_socket.state() == QAbstractSocket::UnconnectedState;
            },
            kWait);
        if (!whole || !m_buffer.contains('\r'))
            return std::exchange(m_buffer, {});
        const qsizetype end = m_buffer.indexOf('\r');
        const QByteArray line = m_buffer.left(end + 1);
        m_buffer.remove(0, end + 1);
        return line;
    }
    void send(const QByteArray &request) { m_socket.write(request + '\r'); }
    QByteArray ask(const QByteArray &request)
    {
        send(request);
        return line();
    }
    bool isClosed()
    {
        return QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, kWait);
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// The shortest time-out of the common PJLink clients.
constexpr qint64 kClientTimeoutMs = 4000;
// Loopback addresses of misbehaving clients, and of a controller apart from them.
constexpr quint32 kAttacker = 0x7f000101;
constexpr quint32 kWitness = 0x7f0000fa;

enum class Attack { Connections, SlowBytes, OverlongLine, WrongPasswords, LeaveMidExchange };

class Attackers
{
public:
    void start(Attack attack, quint16 port)
    {
        switch (attack) {
        case Attack::Connections:
            // 200 at once from five addresses, of which 8 an address are let in.
            for (int i = 0; i < 200; ++i)
                connect(port, kAttacker + i % 5);
            return;
        case Attack::SlowBytes:
            // An address's eight places, each fed a request one byte a second.
            for (int i = 0; i < 8; ++i)
                connect(port, kAttacker);
            m_drip.callOnTimeout([this, sent = qsizetype(0)]() mutable {
                const QByteArray request("%1POWR ?\r");
                for (const auto &socket : m_sockets)
                    socket->write(request.mid(sent % request.size(), 1));
                ++sent;
            });
            m_drip.start(1000);
            return;
        case Attack::OverlongLine:
            connect(port, kAttacker)->write(QByteArray(300, 'A'));
            return;
        case Attack::WrongPasswords:
            for (int i = 0; i < 50; ++i)
                onGreeting(connect(port, kAttacker + i % 5), [](QTcpSocket *socket, const QByteArray &) {
                    socket->write(QByteArray(32, '0') + "%1POWR ?\r");
                });
            return;
        case Attack::LeaveMidExchange:
            // Asks for the lamps, which take three exchanges, and leaves at once.
            onGreeting(connect(port, kAttacker), [](QTcpSocket *socket, const QByteArray &random) {
                socket->write(PjlinkAuth::digestOf(random, "change-me") + "%1LAMP ?\r");
                socket->disconnectFromHost();
            });
            return;
        }
    }
    // Whether the bridge has greeted or closed each of them.
    bool areDealtWith() const
    {
        return std::all_of(m_sockets.begin(), m_sockets.end(), [](const auto &socket) {
            return socket->state() == QAbstractSocket::UnconnectedState || socket->bytesAvailable() > 0;
        });
    }

private:
    QTcpSocket *connect(quint16 port, quint32 from)
    {
        auto &socket = m_sockets.emplace_back(std::make_unique<QTcpSocket>());
        socket->bind(QHostAddress(from));
        socket->connectToHost(QHostAddress::LocalHost, port);
        return socket.get();
    }
    template <typename Then> static void onGreeting(QTcpSocket *socket, Then then)
    {
        QObject::connect(socket, &QIODevice::readyRead, socket, [socket, then] {
            const QByteArray greeting = socket->readAll();
            if (greeting.startsWith("PJLINK 1 "))
                then(socket, greeting.mid(9, PjlinkAuth::kRandomLength));
        });
    }

    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    QTimer m_drip;
};

QString sectionFor(const QString &device, quint16 pjlink, const QString &extra = {})
{
    return QStringLiteral("[booth-a]\nport = %1\nname = Booth A\npjlink = 127.0.0.1:%2\n%3")
        .arg(device)
        .arg(pjlink)
        .arg(extra);
}

} // namespace

class TestBridge : public QObject
{
    Q_OBJECT

private slots:
    void checkNamesEachError_data();
    void checkNamesEachError();
    void controllerGetsTheProjectorsAnswers_data();
    void controllerGetsTheProjectorsAnswers();
    void controllersShareOneReading();
    void commandPortSharesTheLine();
    void heldLensKeepsItsPace();
    void misbehavingClientsLeaveOthersAnswered_data();
    void misbehavingClientsLeaveOthersAnswered();
    void lostLineIsWaitedFor();
};

void TestBridge::checkNamesEachError_data()
{
    QTest::addColumn<QString>("section");
    // 0600 unless given: the mode of the password file "secret".
    QTest::addColumn<int>("passwordMode");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");

    QTest::newRow("loopbackWithoutPassword") << "[a]\nport = /dev/ttyUSB0\npjlink = 127.0.0.1:4352\n"
                                             << 0600 << 0 << "serves 1 projector";
    QTest::newRow("networkWithoutPassword") << "[a]\nport = /dev/ttyUSB0\npjlink = 0.0.0.0:4352\n"
                                            << 0600 << 78 << "venue.conf:3: PJLink on 0.0.0.0:4352";
    QTest::newRow("bothFamilies") << "[a]\nport = /dev/ttyUSB0\npjlink = 127.0.0.1:4352, [::1]:4352\n"
                                  << 0600 << 0 << "serves 1 projector";
    QTest::newRow("oneFamilyOnTheNetwork") << "[a]\nport = /dev/ttyUSB0\npjlink = 127.0.0.1:4352, [::]:4352\n"
                                           << 0600 << 78 << "PJLink on [::]:4352";
    QTest::newRow("networkSaidWithoutPassword")
        << "[a]\nport = /dev/ttyUSB0\npjlink = [::]:4352\npjlink-password = none\n"
        << 0600 << 0 << "serves 1 projector";
    QTest::newRow("passwordFileClosed")
        << "[a]\nport = /dev/ttyUSB0\npjlink = 0.0.0.0:4352\npjlink-password-file = DIR/secret\n"
        << 0600 << 0 << "serves 1 projector";
    QTest::newRow("passwordFileReadByOthers")
        << "[a]\nport = /dev/ttyUSB0\npjlink = 0.0.0.0:4352\npjlink-password-file = DIR/secret\n"
        << 0644 << 78 << "venue.conf:4: the password file";
    QTest::newRow("bothPasswords") << "[a]\nport = /dev/ttyUSB0\npjlink = 0.0.0.0:4352\npjlink-password = "
                                      "x\npjlink-password-file = DIR/secret\n"
                                   << 0600 << 78
                                   << "venue.conf:5: pjlink-password-file and pjlink-password (line 4)";
    QTest::newRow("hostName") << "[a]\nport = /dev/ttyUSB0\npjlink = booth:4352\n"
                              << 0600 << 78 << "venue.conf:3: pjlink:";
    QTest::newRow("statusAgeOutOfRange")
        << "[a]\nport = /dev/ttyUSB0\ncommands = 127.0.0.1:4001\nstatus-age = 99\n"
        << 0600 << 78 << "venue.conf:4: status-age";
    QTest::newRow("addressTakenTwice")
        << "[a]\nport = /dev/ttyUSB0\npjlink = 127.0.0.1:4352\n[b]\nport = /dev/ttyUSB1\ncommands = "
           "127.0.0.1:4352\n"
        << 0600 << 78 << "venue.conf:6: 127.0.0.1:4352 is taken already, on line 3";
    QTest::newRow("nothingToServe") << "[a]\nport = /dev/ttyUSB0\n" << 0600 << 78 << "no projector";
    QTest::newRow("everythingNone") << "[a]\nport = /dev/ttyUSB0\npjlink = none\ncommands = none\n"
                                    << 0600 << 78 << "no projector";
}

// --check reads the file as the daemon would, and names the line of each error.
void TestBridge::checkNamesEachError()
{
    QFETCH(QString, section);
    QFETCH(int, passwordMode);
    QFETCH(int, status);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QFile secret(dir.filePath(QStringLiteral("secret")));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("change-me\n");
    secret.close();
    QVERIFY(::chmod(qPrintable(secret.fileName()), mode_t(passwordMode)) == 0);

    BridgeProcess bridge(section.replace(QStringLiteral("DIR"), dir.path()), {QStringLiteral("--check")});
    QCOMPARE(bridge.finish(), status);
    QVERIFY2(bridge.log().contains(said), qPrintable(bridge.log()));
    // A password is never said.
    QVERIFY2(!bridge.log().contains(u"change-me"), qPrintable(bridge.log()));
}

void TestBridge::controllerGetsTheProjectorsAnswers_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QString>("password");
    // "rfc2217" or "raw" for ser2net's telnet or raw TCP port in front of the
    // simulator; the simulator's own device when empty.
    QTest::addColumn<QString>("server");
    // Request and reply lines, without their CRs; a request of "" reads the
    // greeting, and one starting with "*" gets the greeting's digest in front.
    QTest::addColumn<QList<QByteArray>>("dialogue");

    const QList<QByteArray> class1{"",          "PJLINK 0",       "%1POWR ?", "%1POWR=0",
                                   "%1ERST ?",  "%1ERST=000000",  "%1LAMP ?", "%1LAMP=1234 0 987 0 0 0 0 0",
                                   "%1NAME ?",  "%1NAME=Booth A", "%1INPT ?", "%1INPT=ERR3",
                                   "%1INPT 21", "%1INPT=OK",      "%1INPT ?", "%1INPT=21",
                                   "%1INPT 99", "%1INPT=ERR2",    "%1POWR 1", "%1POWR=OK",
                                   "%1POWR ?",  "%1POWR=1"};
    QTest::newRow("class1Status") << QStringList() << QString() << QString() << class1;
    QTest::newRow("class1ThroughRfc2217") << QStringList() << QString() << "rfc2217" << class1;
    QTest::newRow("class1ThroughRawTcp") << QStringList() << QString() << "raw" << class1;
    QTest::newRow("faultsInErst") << QStringList{"--status", "1", "--lamp-state", "4"} << QString()
                                  << QString()
                                  << QList<QByteArray>{"", "PJLINK 0", "%1ERST ?", "%1ERST=022000"};
    QTest::newRow("silentProjector") << QStringList{"--silent"} << QString() << QString()
                                     << QList<QByteArray>{
                                            "",         "PJLINK 0",    "%1POWR ?", "%1POWR=ERR3",
                                            "%1ERST ?", "%1ERST=ERR3", "%1LAMP ?", "%1LAMP=ERR3",
                                            "%1INF1 ?", "%1INF1=KELM"};
    QTest::newRow("digestOnce") << QStringList() << "change-me" << QString()
                                << QList<QByteArray>{"",         "PJLINK 1", "*%1POWR ?",
                                                     "%1POWR=0", "%1CLSS ?", "%1CLSS=2"};
}

// Each controller's request is answered from what the projector told, byte
// for byte, through the real line.
void TestBridge::controllerGetsTheProjectorsAnswers()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QString, password);
    QFETCH(QString, server);
    QFETCH(QList<QByteArray>, dialogue);
    SimProcess sim(simArguments);
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    QString device = sim.devicePath();
    std::optional<deviceserver::Ser2Net> ser2net;
    if (!server.isEmpty()) {
        if (deviceserver::ser2netPath().isEmpty())
            QSKIP("ser2net is not installed (Debian package ser2net); the device-server rows need it");
        ser2net.emplace(device);
        QVERIFY2(ser2net->start(), qPrintable(ser2net->log()));
        device = ser2net->url(server == u"rfc2217");
    }
    const quint16 port = deviceserver::freePort();
    const QString passwordKey =
        password.isEmpty() ? QString() : QStringLiteral("pjlink-password = %1\n").arg(password);
    BridgeProcess bridge(sectionFor(device, port, passwordKey));
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is open")), qPrintable(bridge.log()));

    Controller controller(port);
    QByteArray random;
    for (qsizetype i = 0; i + 1 < dialogue.size(); i += 2) {
        QByteArray request = dialogue[i];
        if (request.startsWith('*'))
            request = PjlinkAuth::digestOf(random, password.toUtf8()) + request.mid(1);
        const QByteArray reply = request.isEmpty() ? controller.line() : controller.ask(request);
        // The greeting's random value is new each time.
        if (request.isEmpty() && reply.startsWith("PJLINK 1 ")) {
            random = reply.mid(9, PjlinkAuth::kRandomLength);
            QVERIFY2(reply == "PJLINK 1 " + random + '\r' && random.size() == PjlinkAuth::kRandomLength,
                     reply.constData());
            continue;
        }
        QVERIFY2(
            reply == dialogue[i + 1] + '\r',
            qPrintable(QStringLiteral("%1: %2\n%3")
                           .arg(QString::fromLatin1(request), QString::fromLatin1(reply), bridge.log())));
    }
}

// Ten controllers asking for the lamps at once take one reading's worth of
// the line; a set, then, is not answered from what was read before it.
void TestBridge::controllersShareOneReading()
{
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    const quint16 port = deviceserver::freePort();
    BridgeProcess bridge(
        sectionFor(sim.devicePath(), port, QStringLiteral("poll = none\nstatus-age = 30\n")));
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is open")), qPrintable(bridge.log()));

    std::vector<std::unique_ptr<Controller>> controllers;
    for (int i = 0; i < 10; ++i) {
        controllers.push_back(std::make_unique<Controller>(port, QHostAddress(0x7f000002 + i)));
        QCOMPARE(controllers.back()->line(), QByteArray("PJLINK 0\r"));
    }
    for (const auto &controller : controllers)
        controller->send("%1LAMP ?");
    for (const auto &controller : controllers)
        QCOMPARE(controller->line(), QByteArray("%1LAMP=1234 0 987 0 0 0 0 0\r"));
    QCOMPARE(sim.logged(u"RX").size(), 3);

    QCOMPARE(controllers.front()->ask("%1POWR 1"), QByteArray("%1POWR=OK\r"));
    QCOMPARE(controllers.back()->ask("%1POWR ?"), QByteArray("%1POWR=1\r"));
    QVERIFY(QTest::qWaitFor([&] { return sim.logged(u"RX").size() == 5; }, kWait));
}

// The panel's and a script's commands go through the command port while two
// controllers poll, one with the digest on its first line alone and one with
// it on every line: each reply goes to whoever asked.
void TestBridge::commandPortSharesTheLine()
{
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    const quint16 pjlink = deviceserver::freePort();
    const quint16 commands = deviceserver::freePort();
    BridgeProcess bridge(
        sectionFor(sim.devicePath(), pjlink,
                   QStringLiteral("pjlink-password = change-me\ncommands = 127.0.0.1:%1\n").arg(commands)));
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is open")), qPrintable(bridge.log()));

    std::array<std::unique_ptr<Controller>, 2> controllers;
    std::array<QByteArray, 2> digests;
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        controllers[i] = std::make_unique<Controller>(pjlink, QHostAddress(quint32(0x7f000002 + i)));
        const QByteArray greeting = controllers[i]->line();
        QVERIFY2(greeting.startsWith("PJLINK 1 "), greeting.constData());
        digests[i] = PjlinkAuth::digestOf(greeting.mid(9, PjlinkAuth::kRandomLength), "change-me");
    }
    QProcess send;
    send.start(QStringLiteral(QVX_SEND_PATH),
               {QStringLiteral("--port"), QStringLiteral("socket://127.0.0.1:%1").arg(commands),
                QStringLiteral("4-video"), QStringLiteral("l1-time"), QStringLiteral("pj-status")});
    for (int round = 0; round < 5; ++round) {
        QCOMPARE(controllers[0]->ask((round == 0 ? digests[0] : QByteArray()) + "%1LAMP ?"),
                 QByteArray("%1LAMP=1234 0 987 0 0 0 0 0\r"));
        QCOMPARE(controllers[1]->ask(digests[1] + "%1POWR ?"), QByteArray("%1POWR=0\r"));
    }
    QVERIFY2((send.state() == QProcess::NotRunning || send.waitForFinished(kFinishMs)) &&
                 send.exitCode() == 0,
             qPrintable(QString::fromUtf8(send.readAllStandardError()) + bridge.log()));
    QCOMPARE(send.readAllStandardOutput(), QByteArray("4-video: ACK\nl1-time: 1234 h\npj-status: Normal\n"));
    // The input the panel's button chose is the one PJLink tells.
    QCOMPARE(controllers[1]->ask(digests[1] + "%1INPT ?"), QByteArray("%1INPT=21\r"));
}

// A lens button held for a second through the command port: its steps reach
// the projector at the button's pace, and none after the release.
void TestBridge::heldLensKeepsItsPace()
{
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    const quint16 commands = deviceserver::freePort();
    BridgeProcess bridge(QStringLiteral("[booth-a]\nport = %1\npoll = none\ncommands = 127.0.0.1:%2\n")
                             .arg(sim.devicePath())
                             .arg(commands));
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is open")), qPrintable(bridge.log()));

    QProcess send;
    send.start(QStringLiteral(QVX_SEND_PATH),
               {QStringLiteral("--port"), QStringLiteral("socket://127.0.0.1:%1").arg(commands),
                QStringLiteral("--hold"), QStringLiteral("1"), QStringLiteral("zoom+")});
    QVERIFY(send.waitForFinished(kFinishMs));
    QCOMPARE(send.exitCode(), 0);
    // Whatever the bridge still held would reach the projector by now.
    QTest::qWait(500);
    const qsizetype steps = sim.logged(u"RX").size();
    // 1 s at 150 ms: 7 steps, give or take one at each end on a loaded machine.
    QVERIFY2(steps >= 6 && steps <= 8, qPrintable(sim.log()));
}

void TestBridge::misbehavingClientsLeaveOthersAnswered_data()
{
    QTest::addColumn<Attack>("attack");
    QTest::addColumn<QStringList>("simArguments");
    // What the bridge logs of it, if anything.
    QTest::addColumn<QString>("said");

    QTest::newRow("twoHundredConnections")
        << Attack::Connections << QStringList() << "closed: too many connections from that address";
    QTest::newRow("oneByteASecond") << Attack::SlowBytes << QStringList() << QString();
    QTest::newRow("overlongLine") << Attack::OverlongLine << QStringList()
                                  << "closed: a line longer than PJLink allows";
    QTest::newRow("wrongPasswordStorm")
        << Attack::WrongPasswords << QStringList() << "closed: wrong password";
    QTest::newRow("leavesMidExchange")
        << Attack::LeaveMidExchange << QStringList{QStringLiteral("--delay"), QStringLiteral("300")}
        << QString();
}

// Whatever other clients do, a controller from an address of its own is
// greeted and answered from the line, in time for the clients' time-outs.
void TestBridge::misbehavingClientsLeaveOthersAnswered()
{
    QFETCH(Attack, attack);
    QFETCH(QStringList, simArguments);
    QFETCH(QString, said);
    SimProcess sim(simArguments);
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    const quint16 port = deviceserver::freePort();
    BridgeProcess bridge(
        sectionFor(sim.devicePath(), port,
                   QStringLiteral("pjlink-password = change-me\npoll = none\nstatus-age = 0\n")));
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is open")), qPrintable(bridge.log()));

    Attackers attackers;
    attackers.start(attack, port);
    QVERIFY(QTest::qWaitFor([&] { return attackers.areDealtWith(); }, kWait));
    QElapsedTimer took;
    took.start();
    Controller witness(port, QHostAddress(kWitness));
    const QByteArray greeting = witness.line();
    QVERIFY2(greeting.startsWith("PJLINK 1 "), qPrintable(bridge.log()));
    const QByteArray digest = PjlinkAuth::digestOf(greeting.mid(9, PjlinkAuth::kRandomLength), "change-me");
    QCOMPARE(witness.ask(digest + "%1POWR ?"), QByteArray("%1POWR=0\r"));
    QVERIFY2(took.elapsed() < kClientTimeoutMs, qPrintable(QString::number(took.elapsed())));
    if (!said.isEmpty())
        QVERIFY2(bridge.waitForLog(said), qPrintable(bridge.log()));
}

// A projector switched off at the wall while two controllers wait for their
// readings: each is told at once that it cannot answer now, and once the
// device is back, the bridge answers again without a restart.
void TestBridge::lostLineIsWaitedFor()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    // Gone after the second command: the first of the readings below.
    auto first = std::make_unique<SimProcess>(
        QStringList{QStringLiteral("--hangup-after"), QStringLiteral("2"), QStringLiteral("--link"), link});
    QVERIFY2(first->isReady(), qPrintable(first->log()));
    const quint16 port = deviceserver::freePort();
    BridgeProcess bridge(sectionFor(link, port, QStringLiteral("poll = none\nstatus-age = 0\n")));
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is open")), qPrintable(bridge.log()));

    Controller lamps(port);
    Controller errors(port, QHostAddress(kWitness));
    QCOMPARE(lamps.line(), QByteArray("PJLINK 0\r"));
    QCOMPARE(errors.line(), QByteArray("PJLINK 0\r"));
    QCOMPARE(lamps.ask("%1POWR ?"), QByteArray("%1POWR=0\r"));
    QElapsedTimer took;
    took.start();
    lamps.send("%1LAMP ?");
    errors.send("%1ERST ?");
    QCOMPARE(lamps.line(), QByteArray("%1LAMP=ERR3\r"));
    QCOMPARE(errors.line(), QByteArray("%1ERST=ERR3\r"));
    QVERIFY2(took.elapsed() < kClientTimeoutMs, qPrintable(QString::number(took.elapsed())));
    QVERIFY(first->waitForExit());
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is lost")), qPrintable(bridge.log()));
    QCOMPARE(lamps.ask("%1POWR ?"), QByteArray("%1POWR=ERR3\r"));

    SimProcess back({QStringLiteral("--link"), link});
    QVERIFY2(back.isReady(), qPrintable(back.log()));
    QVERIFY2(bridge.waitForLog(QStringLiteral("the line is back")), qPrintable(bridge.log()));
    QCOMPARE(lamps.ask("%1LAMP ?"), QByteArray("%1LAMP=1234 0 987 0 0 0 0 0\r"));
    QCOMPARE(errors.ask("%1ERST ?"), QByteArray("%1ERST=000000\r"));
}

QTEST_MAIN(TestBridge)
#include "tst_bridge.moc"
