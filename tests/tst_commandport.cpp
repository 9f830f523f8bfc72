// The command port over loopback TCP, as it ends while its clients are connected.
#include "commandport.h"
#include "exchangequeue.h"
#include "exchangerunner.h"
#include "fakeline.h"
#include "linesettings.h"

#include <QTcpSocket>
#include <QTest>

#include <array>
#include <memory>

namespace {

constexpr int kGenerousMs = 10'000;

} // namespace

class TestCommandPort : public QObject
{
    Q_OBJECT

private slots:
    void endsWithItsClients();
};

// As qvx-bridge's does when it is stopped with the panel connected: the port
// goes with a command on the line and one waiting. Its clients' connections
// close, and what they had waiting never goes out. (Under AddressSanitizer,
// the last disconnected() of a client that outlived the port's client table
// read freed memory.)
void TestCommandPort::endsWithItsClients()
{
    FakeLine line;
    ExchangeRunner runner(line, QStringLiteral("fake"));
    QVERIFY(runner.open(QString::fromLatin1(LineSettings::kText9600), false));
    ExchangeQueue queue(runner);
    auto port = std::make_unique<CommandPort>(queue);
    QString error;
    QVERIFY2(port->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    std::array<QTcpSocket, 2> clients;
    for (QTcpSocket &client : clients) {
        client.connectToHost(QHostAddress::LocalHost, port->port());
        client.write("CR0\r");
    }
    QTRY_VERIFY_WITH_TIMEOUT(line.written.size() == 1 && queue.pending() == 1, kGenerousMs);

    port.reset();
    for (QTcpSocket &client : clients)
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, kGenerousMs);
    line.feed("0\r");
    QTRY_COMPARE_WITH_TIMEOUT(queue.pending(), 0, kGenerousMs);
    QCOMPARE(line.written.size(), 1);
}

QTEST_GUILESS_MAIN(TestCommandPort)
#include "tst_commandport.moc"
