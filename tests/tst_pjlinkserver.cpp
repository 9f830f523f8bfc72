// The PJLink server over loopback TCP: greetings, passwords, bad input, caps, time limits and the throttle.
#include "pjlinkserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kGenerousMs = 10'000;
const QByteArray kPassword = "change-me";
// A coarse timer may end a little early.
constexpr double kEarliest = 0.9;
// A refusal column's value where the connection stays open.
constexpr int kStays = -1;

// When the events of the test happened, in ms.
qint64 now()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

enum class Pace { AtOnce, Later, Never };

// Answers each request with its own parameter, so that each reply names the request it answers.
class StandInResponder : public PjlinkResponder
{
public:
    void answer(const pjlink::Request &request, const QObject *, Done done) override
    {
        const QByteArray line = pjlink::replyLine(request, request.parameter);
        switch (pace) {
        case Pace::AtOnce:
            done(line);
            break;
        case Pace::Later:
            QTimer::singleShot(20ms, [done, line] { done(line); });
            break;
        case Pace::Never:
            held.append(done);
            break;
        }
    }
    void forget(const QObject *asker) override { forgotten.append(asker); }

    Pace pace = Pace::AtOnce;
    QList<Done> held;
    QList<const QObject *> forgotten;
};

// A controller's end, keeping each piece that one read brings apart, and when it came.
class Client : public QObject
{
public:
    Client(quint16 port, const QHostAddress &server = QHostAddress::LocalHost, const QHostAddress &local = {})
    {
        connect(&socket, &QIODevice::readyRead, this, [this] {
            pieces.append(socket.readAll());
            lastReadAt = now();
        });
        connect(&socket, &QAbstractSocket::disconnected, this, [this] { closedAt = now(); });
        if (!local.isNull())
            socket.bind(local);
        socket.connectToHost(server, port);
    }

    QByteArray received() const { return pieces.join(); }
    bool isGreeted() const { return received().endsWith('\r'); }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    // With "{digest}", "{DIGEST}", "{wrong}" and "{nul}" in the lines made what they say.
    void send(QByteArray lines)
    {
        const QByteArray digest =
            PjlinkAuth::digestOf(received().mid(9, PjlinkAuth::kRandomLength), kPassword);
        lines.replace("{digest}", digest).replace("{DIGEST}", digest.toUpper());
        lines.replace("{wrong}", PjlinkAuth::digestOf("00000000", kPassword))
            .replace("{nul}", QByteArray(1, '\0'));
        socket.write(lines);
    }

    QTcpSocket socket;
    QList<QByteArray> pieces;
    qint64 lastReadAt = 0;
    qint64 closedAt = 0;
};

struct Bench
{
    explicit Bench(std::optional<QByteArray> password, PjlinkLimits limits = {},
                   PjlinkThrottleSettings throttling = {}, QHostAddress host = QHostAddress::LocalHost)
        : throttle(throttling)
        , server(PjlinkAddress{host, 0}, std::move(password), responder, throttle, limits)
    {}

    StandInResponder responder;
    PjlinkThrottle throttle;
    PjlinkServer server;
    QSignalSpy refused{&server, &PjlinkServer::refused};
};

PjlinkRefusal refusalOf(const QSignalSpy &spy, qsizetype index)
{
    return spy.at(index).at(1).value<PjlinkRefusal>();
}

} // namespace

class TestPjlinkServer : public QObject
{
    Q_OBJECT

private slots:
    void parseAddress_data();
    void parseAddress();
    void listenFailureSaysWhereAndWhy();
    void conversation_data();
    void conversation();
    void wrongPasswordSlowsItsAddressAlone();
    void capsCloseAtOnce();
    void deadlines_data();
    void deadlines();
    void answerAfterTheClientLeftIsHarmless();
    void throttle_data();
    void throttle();
    void throttleTableIsBounded();
};

void TestPjlinkServer::parseAddress_data()
{
    QTest::addColumn<QString>("text");
    // The address as it reads back, or a part of the error.
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("why");
    QTest::newRow("everyIpv4") << "0.0.0.0:4352"
                               << "0.0.0.0:4352" << QString();
    QTest::newRow("everyIpv6") << "[::]:4352"
                               << "[::]:4352" << QString();
    QTest::newRow("loopbackIpv4") << "127.0.0.1:4352"
                                  << "127.0.0.1:4352" << QString();
    QTest::newRow("loopbackIpv6") << "[::1]:14352"
                                  << "[::1]:14352" << QString();
    QTest::newRow("hostName") << "localhost:4352" << QString() << "host name is not looked up";
    QTest::newRow("shortIpv4") << "127.1:4352" << QString() << "no IPv4 address";
    QTest::newRow("ipv6WithoutBrackets") << "::1:4352" << QString() << "goes in brackets";
    QTest::newRow("unclosedBracket") << "[::1:4352" << QString() << "no closing ']'";
    QTest::newRow("ipv4InBrackets") << "[127.0.0.1]:4352" << QString() << "not an IPv6 address";
    QTest::newRow("noPort") << "127.0.0.1" << QString() << "port is missing";
    QTest::newRow("noPortAfterBracket") << "[::1]" << QString() << "port is missing";
    QTest::newRow("portZero") << "127.0.0.1:0" << QString() << "within 1 to 65535";
    QTest::newRow("portTooHigh") << "[::1]:65536" << QString() << "within 1 to 65535";
    QTest::newRow("portByName") << "127.0.0.1:pjlink" << QString() << "not a number";
    QTest::newRow("textAfterPort") << "[::1]:4352 x" << QString() << "not a number";
}

void TestPjlinkServer::parseAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(QString, why);
    QString error;
    const std::optional<PjlinkAddress> parsed = PjlinkAddress::parse(text, &error);
    QCOMPARE(parsed ? parsed->toString() : QString(), address);
    QVERIFY2(why.isEmpty() ? error.isEmpty() : error.contains(why) && error.contains(text),
             qPrintable(error));
}

void TestPjlinkServer::listenFailureSaysWhereAndWhy()
{
    Bench first(std::nullopt);
    QVERIFY(first.server.listen());
    StandInResponder responder;
    PjlinkThrottle throttle;
    const PjlinkAddress taken{QHostAddress::LocalHost, first.server.port()};
    PjlinkServer second(taken, std::nullopt, responder, throttle);
    QSignalSpy failed(&second, &PjlinkServer::listenFailed);
    QVERIFY(!second.listen());
    QCOMPARE(failed.size(), 1);
    const QString why = failed.at(0).at(0).toString();
    QVERIFY2(why.contains(taken.toString()) && why.contains("another program listens there"),
             qPrintable(why));
}

// Each row's lines go out in one write after the greeting, as a controller
// that does not wait for its replies sends them.
void TestPjlinkServer::conversation_data()
{
    QTest::addColumn<bool>("password");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("pace");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("refusal");

    const QString ipv4 = "127.0.0.1";
    const QString ipv6 = "::1";
    const int atOnce = int(Pace::AtOnce);
    const int later = int(Pace::Later);
    const int never = int(Pace::Never);
    const int wrongPassword = int(PjlinkRefusal::WrongPassword);
    const int tooLong = int(PjlinkRefusal::LineTooLong);
    const QByteArray longestName = QByteArray(pjlink::kLongestRequest - 7, 'A');
    QTest::newRow("openIpv4") << false << ipv4 << later << QByteArray("%1POWR ?\r%1INPT 11\r%1AVMT 31\r")
                              << QByteArray("%1POWR=?\r%1INPT=11\r%1AVMT=31\r") << kStays;
    QTest::newRow("openIpv6") << false << ipv6 << atOnce << QByteArray("%1POWR ?\r")
                              << QByteArray("%1POWR=?\r") << kStays;
    QTest::newRow("digestOnFirstLine") << true << ipv4 << later << QByteArray("{digest}%1POWR ?\r%1LAMP ?\r")
                                       << QByteArray("%1POWR=?\r%1LAMP=?\r") << kStays;
    QTest::newRow("digestOnEveryLine")
        << true << ipv6 << atOnce << QByteArray("{digest}%1POWR ?\r{digest}%1LAMP ?\r")
        << QByteArray("%1POWR=?\r%1LAMP=?\r") << kStays;
    QTest::newRow("upperCaseDigest") << true << ipv4 << atOnce << QByteArray("{DIGEST}%1POWR ?\r")
                                     << QByteArray("%1POWR=?\r") << kStays;
    QTest::newRow("wrongDigest") << true << ipv4 << atOnce << QByteArray("{wrong}%1POWR ?\r%1LAMP ?\r")
                                 << QByteArray("PJLINK ERRA\r") << wrongPassword;
    QTest::newRow("noDigest") << true << ipv6 << atOnce << QByteArray("%1POWR ?\r")
                              << QByteArray("PJLINK ERRA\r") << wrongPassword;
    QTest::newRow("wrongDigestLater")
        << true << ipv4 << atOnce << QByteArray("{digest}%1POWR ?\r{wrong}%1LAMP ?\r")
        << QByteArray("%1POWR=?\rPJLINK ERRA\r") << wrongPassword;
    QTest::newRow("undefinedCommands") << true << ipv4 << atOnce << QByteArray("{digest}%3POWR ?\r%1POWR?\r")
                                       << QByteArray("%3POWR=ERR1\r%1POWR=ERR1\r") << kStays;
    QTest::newRow("nulLfAndEmptyLinesIgnored")
        << false << ipv4 << atOnce << QByteArray("\r{nul}\r\n%1PO{nul}WR ?\r\n{nul}%1INPT ?\r")
        << QByteArray("%1POWR=?\r%1INPT=?\r") << kStays;
    QTest::newRow("longestRequestAnswered")
        << false << ipv4 << atOnce << "%1NAME " + longestName + '\r'
        << "%1NAME=" + longestName.first(pjlink::kLongestAnswer) + '\r' << kStays;
    QTest::newRow("requestTooLong") << false << ipv4 << atOnce << "%1NAME " + longestName + "A\r"
                                    << QByteArray() << tooLong;
    QTest::newRow("lineTooLongBeforeItsEnd")
        << false << ipv4 << atOnce << QByteArray(pjlink::kLongestLine + 1, 'A') << QByteArray() << tooLong;
    QTest::newRow("malformedLine") << false << ipv6 << atOnce << QByteArray("hello\r") << QByteArray()
                                   << int(PjlinkRefusal::Malformed);
    QTest::newRow("waitingRequestsFull")
        << false << ipv4 << never << QByteArray("%1POWR ?\r").repeated(16) << QByteArray() << kStays;
    QTest::newRow("tooManyWaiting") << false << ipv4 << never << QByteArray("%1POWR ?\r").repeated(17)
                                    << QByteArray() << int(PjlinkRefusal::TooManyWaiting);
}

void TestPjlinkServer::conversation()
{
    QFETCH(bool, password);
    QFETCH(QString, host);
    QFETCH(int, pace);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, replies);
    QFETCH(int, refusal);

    Bench bench(password ? std::optional(kPassword) : std::nullopt, {}, {}, QHostAddress(host));
    bench.responder.pace = Pace(pace);
    QVERIFY(bench.server.listen());
    Client client(bench.server.port(), QHostAddress(host));
    QTRY_VERIFY_WITH_TIMEOUT(client.isGreeted(), kGenerousMs);
    const QByteArray greeting = client.received();
    if (password)
        QVERIFY2(greeting.size() == 18 && greeting.startsWith("PJLINK 1 "), greeting.constData());
    else
        QCOMPARE(greeting, QByteArray("PJLINK 0\r"));

    client.send(lines);
    QTRY_COMPARE_WITH_TIMEOUT(client.received().sliced(greeting.size()), replies, kGenerousMs);
    if (refusal == kStays) {
        QTRY_COMPARE_WITH_TIMEOUT(bench.responder.held.size(), Pace(pace) == Pace::Never ? 1 : 0,
                                  kGenerousMs);
        QVERIFY(bench.refused.isEmpty());
        QVERIFY(!client.isClosed());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(client.isClosed(), kGenerousMs);
        QCOMPARE(bench.refused.size(), 1);
        QCOMPARE(int(refusalOf(bench.refused, 0)), refusal);
    }
    // The server writes a line only once the last one has left, so that even
    // replies given at once reach the controller one a read.
    for (const QByteArray &piece : std::as_const(client.pieces))
        QVERIFY2(piece.endsWith('\r') && piece.count('\r') == 1, piece.constData());
}

void TestPjlinkServer::wrongPasswordSlowsItsAddressAlone()
{
    const PjlinkThrottleSettings throttling{1000ms, 8000ms, 10min, 16};
    Bench bench(kPassword, {}, throttling);
    QVERIFY(bench.server.listen());
    Client guesser(bench.server.port());
    QTRY_VERIFY_WITH_TIMEOUT(guesser.isGreeted(), kGenerousMs);
    guesser.send("{wrong}%1POWR ?\r");
    QTRY_VERIFY_WITH_TIMEOUT(guesser.isClosed(), kGenerousMs);

    Client again(bench.server.port());
    Client other(bench.server.port(), QHostAddress::LocalHost, QHostAddress("127.0.0.2"));
    QTRY_VERIFY_WITH_TIMEOUT(other.isGreeted(), kGenerousMs);
    QVERIFY2(again.received().isEmpty(), "the failing address waits while another is greeted");
    QTRY_VERIFY_WITH_TIMEOUT(again.isGreeted(), kGenerousMs);
    QVERIFY(again.lastReadAt - guesser.closedAt >= kEarliest * throttling.firstDelay.count());

    again.send("{digest}%1POWR ?\r");
    QTRY_COMPARE_WITH_TIMEOUT(again.pieces.size(), 2, kGenerousMs);
    QCOMPARE(bench.throttle.greetingDelay(QHostAddress::LocalHost), 0ms);
}

void TestPjlinkServer::capsCloseAtOnce()
{
    PjlinkLimits limits;
    limits.connections = 3;
    limits.connectionsPerAddress = 2;
    Bench bench(std::nullopt, limits);
    QVERIFY(bench.server.listen());
    std::vector<std::unique_ptr<Client>> clients;
    const auto connectFrom = [&](const char *local) {
        clients.push_back(
            std::make_unique<Client>(bench.server.port(), QHostAddress::LocalHost, QHostAddress(local)));
        return clients.back().get();
    };
    // From one address, then from a second to the cap in all, then beyond it.
    const QList<std::pair<const char *, int>> steps{{"127.0.0.1", -1},
                                                    {"127.0.0.1", -1},
                                                    {"127.0.0.1", int(PjlinkRefusal::TooManyFromAddress)},
                                                    {"127.0.0.2", -1},
                                                    {"127.0.0.3", int(PjlinkRefusal::TooManyConnections)}};
    for (const auto &[local, refusal] : steps) {
        Client *client = connectFrom(local);
        if (refusal < 0) {
            QTRY_VERIFY_WITH_TIMEOUT(client->isGreeted(), kGenerousMs);
            continue;
        }
        QTRY_VERIFY_WITH_TIMEOUT(client->isClosed(), kGenerousMs);
        QVERIFY2(client->received().isEmpty(), local);
        QCOMPARE(int(refusalOf(bench.refused, bench.refused.size() - 1)), refusal);
    }
    QCOMPARE(bench.refused.size(), 2);
    clients.front()->socket.close();
    QTRY_COMPARE_WITH_TIMEOUT(bench.server.connectionCount(), 2, kGenerousMs);
    const Client *afterOneLeft = connectFrom("127.0.0.3");
    QTRY_VERIFY_WITH_TIMEOUT(afterOneLeft->isGreeted(), kGenerousMs);
}

void TestPjlinkServer::deadlines_data()
{
    QTest::addColumn<QByteArray>("first");
    // Sent again and again, a moment apart, after the first.
    QTest::addColumn<QByteArray>("dribble");
    QTest::addColumn<int>("earliestMs");
    const int firstCommand = 500;
    const int idle = 1000;
    QTest::newRow("noFirstCommand") << QByteArray() << QByteArray() << firstCommand;
    QTest::newRow("emptyLinesAreNoCommand") << QByteArray() << QByteArray("\r") << firstCommand;
    QTest::newRow("idleAfterCommand") << QByteArray("%1POWR ?\r") << QByteArray() << idle;
    QTest::newRow("slowLineIsNoCommand") << QByteArray("%1POWR ?\r") << QByteArray("%") << idle;
}

void TestPjlinkServer::deadlines()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, dribble);
    QFETCH(int, earliestMs);
    PjlinkLimits limits;
    limits.firstCommand = 500ms;
    limits.idle = 1000ms;
    Bench bench(std::nullopt, limits);
    QVERIFY(bench.server.listen());
    Client client(bench.server.port());
    QTRY_VERIFY_WITH_TIMEOUT(client.isGreeted(), kGenerousMs);
    client.send(first);
    QTRY_COMPARE_WITH_TIMEOUT(client.pieces.size(), first.isEmpty() ? 1 : 2, kGenerousMs);
    QTimer dribbler;
    connect(&dribbler, &QTimer::timeout, &client, [&] { client.send(dribble); });
    connect(&client.socket, &QAbstractSocket::disconnected, &dribbler, &QTimer::stop);
    if (!dribble.isEmpty())
        dribbler.start(50ms);
    QTRY_VERIFY_WITH_TIMEOUT(client.isClosed(), kGenerousMs);
    const qint64 quiet = client.closedAt - client.lastReadAt;
    QVERIFY2(quiet >= kEarliest * earliestMs, qPrintable(QString::number(quiet)));
    QTRY_COMPARE_WITH_TIMEOUT(bench.server.connectionCount(), 0, kGenerousMs);
    QCOMPARE(bench.responder.forgotten.size(), 1);
    QVERIFY(bench.refused.isEmpty());
}

void TestPjlinkServer::answerAfterTheClientLeftIsHarmless()
{
    Bench bench(std::nullopt);
    bench.responder.pace = Pace::Never;
    QVERIFY(bench.server.listen());
    Client client(bench.server.port());
    QTRY_VERIFY_WITH_TIMEOUT(client.isGreeted(), kGenerousMs);
    client.send("%1POWR ?\r");
    QTRY_COMPARE_WITH_TIMEOUT(bench.responder.held.size(), 1, kGenerousMs);
    client.socket.abort();
    QTRY_COMPARE_WITH_TIMEOUT(bench.responder.forgotten.size(), 1, kGenerousMs);
    QTRY_VERIFY_WITH_TIMEOUT(bench.server.findChildren<PjlinkConnection *>().isEmpty(), kGenerousMs);
    QCOMPARE(bench.server.connectionCount(), 0);
    bench.responder.held.front()("%1POWR=1\r");
}

void TestPjlinkServer::throttle_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<bool>("thenSuccess");
    // Where the failures come from; the delay is asked for 127.0.0.1.
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("delayMs");
    const QString ipv4 = "127.0.0.1";
    QTest::newRow("noFailure") << 0 << false << ipv4 << 0;
    QTest::newRow("firstFailure") << 1 << false << ipv4 << 1000;
    QTest::newRow("eachFailureDoubles") << 3 << false << ipv4 << 4000;
    QTest::newRow("doublingEndsAtItsBound") << 40 << false << ipv4 << 8000;
    QTest::newRow("successClears") << 3 << true << ipv4 << 0;
    QTest::newRow("ipv4MappedIsIpv4") << 2 << false << "::ffff:127.0.0.1" << 2000;
    QTest::newRow("otherAddress") << 2 << false << "127.0.0.2" << 0;
}

void TestPjlinkServer::throttle()
{
    QFETCH(int, failures);
    QFETCH(bool, thenSuccess);
    QFETCH(QString, source);
    QFETCH(int, delayMs);
    PjlinkThrottle throttle({1000ms, 8000ms, 10min, 16});
    for (int i = 0; i < failures; ++i)
        throttle.recordFailure(QHostAddress(source));
    if (thenSuccess)
        throttle.recordSuccess(QHostAddress(source));
    const auto delay = throttle.greetingDelay(QHostAddress::LocalHost);
    QVERIFY2(delay <= std::chrono::milliseconds(delayMs) &&
                 delay >= std::chrono::milliseconds(delayMs) - 500ms,
             qPrintable(QString::number(delay.count())));
}

void TestPjlinkServer::throttleTableIsBounded()
{
    PjlinkThrottle throttle({1000ms, 8000ms, 10min, 16});
    const auto address = [](int i) {
        return QHostAddress(QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256));
    };
    for (int i = 0; i < 1000; ++i)
        throttle.recordFailure(address(i));
    QCOMPARE(throttle.addressCount(), 16);
    QVERIFY(throttle.greetingDelay(address(999)) > 0ms);
    QCOMPARE(throttle.greetingDelay(address(0)), 0ms);
}

QTEST_GUILESS_MAIN(TestPjlinkServer)
#include "tst_pjlinkserver.moc"
