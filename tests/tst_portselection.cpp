// Port selection: start-up, choosing a port and a speed, failures and recovery.
#include "fakeline.h"
#include "linesettings.h"
#include "portselection.h"

#include <QSignalSpy>
#include <QTest>

class TestPortSelection : public QObject
{
    Q_OBJECT

private slots:
    void settingsText_data();
    void settingsText();
    void startUpOpensComOne();
    void startUpFailureReportsPortsDescription();
    void choosePort_data();
    void choosePort();
    void choosingAgainAfterFailureReopens();
    void speedChangesOnOpenPort();
    void refusedSpeedIsReported();
    void lostDeviceIsReportedOnce();
    void lostDeviceIsReopenedWhenBack();
    void operatorsChoiceEndsTheWait_data();
    void operatorsChoiceEndsTheWait();
    void startUpFailureIsReopenedWhenBack();
    void ownersWordsFrameTheFacts_data();
    void ownersWordsFrameTheFacts();
};

namespace {

// Generous: the wait is paced at a second, and a loaded machine is slow.
constexpr int kReopenWait = 10000;

QStringList statesOf(const QSignalSpy &spy)
{
    QStringList states;
    for (const QList<QVariant> &arguments : spy)
        states.append(arguments.first().toString());
    return states;
}

// A line at a location of the test's own whose failures carry the fault and
// hint the test gives.
class FaultLine : public SerialLine
{
public:
    explicit FaultLine(const QString &location)
        : SerialLine([location](int) { return location; })
    {}

    bool close() override
    {
        m_open = false;
        return true;
    }
    bool isOpen() const override { return m_open; }
    QByteArray readAll() override { return {}; }
    void lose()
    {
        m_open = false;
        fail(QStringLiteral("gone"), hint, fault);
        emit notified(Event::DeviceLost);
    }

    Fault fault = Fault::Other;
    QString hint;
    bool opens = false;

protected:
    bool openLine() override
    {
        m_open = opens;
        return opens || fail(QStringLiteral("failed"), hint, fault);
    }
    bool writeLine(QByteArrayView) override { return true; }
    bool applySettings(const LineSettings &) override { return true; }

private:
    bool m_open = false;
};

enum class Step { Start, ChooseComTwo, Lose };

} // namespace

Q_DECLARE_METATYPE(Step)

void TestPortSelection::settingsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baudRate");

    QTest::newRow("slow") << "9600,N,8,1" << true << 9600;
    QTest::newRow("fast") << "115200,N,8,1" << true << 115200;
    QTest::newRow("lowerCaseParity") << "9600,n,8,1" << true << 9600;
    QTest::newRow("missingField") << "9600,N,8" << false << 0;
    QTest::newRow("unknownParity") << "9600,X,8,1" << false << 0;
    QTest::newRow("nineDataBits") << "9600,N,9,1" << false << 0;
    QTest::newRow("speedNotNumber") << "fast,N,8,1" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
}

void TestPortSelection::settingsText()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, baudRate);
    const auto settings = LineSettings::parse(text);
    QCOMPARE(settings.has_value(), valid);
    if (!settings)
        return;
    QCOMPARE(settings->baudRate, baudRate);
    QCOMPARE(settings->parity, QSerialPort::NoParity);
    QCOMPARE(settings->dataBits, QSerialPort::Data8);
    QCOMPARE(settings->stopBits, QSerialPort::OneStop);
}

void TestPortSelection::startUpOpensComOne()
{
    FakeLine line;
    PortSelection ports(line);
    QCOMPARE(ports.openAtStart(), std::nullopt);
    QVERIFY(line.isOpen());
    QCOMPARE(line.portNumber(), 1);
    QCOMPARE(line.settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(ports.commSettings(), QStringLiteral("9600,N,8,1"));
}

void TestPortSelection::startUpFailureReportsPortsDescription()
{
    FakeLine line;
    line.failingPorts = {1};
    PortSelection ports(line);
    const auto failure = ports.openAtStart();
    QVERIFY(failure.has_value());
    QCOMPARE(failure->description, QStringLiteral("No such file or directory (port 1)"));
    QVERIFY(!line.isOpen());
}

void TestPortSelection::choosePort_data()
{
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("portNumber");

    QTest::newRow("comTwoOpens") << 2 << QList<int>{} << false << true << 2;
    QTest::newRow("comOneAgain") << 1 << QList<int>{} << false << true << 1;
    QTest::newRow("comTwoMissing") << 2 << QList<int>{2} << true << false << 1;
}

void TestPortSelection::choosePort()
{
    QFETCH(int, chosen);
    QFETCH(QList<int>, failing);
    QFETCH(bool, failed);
    QFETCH(bool, open);
    QFETCH(int, portNumber);
    FakeLine line;
    PortSelection ports(line);
    QVERIFY(!ports.openAtStart());
    line.failingPorts = QSet<int>(failing.begin(), failing.end());
    const int closesBefore = line.closes;

    const auto failure = ports.selectPort(chosen);
    QCOMPARE(failure.has_value(), failed);
    QCOMPARE(line.isOpen(), open);
    QCOMPARE(line.portNumber(), portNumber);
    QVERIFY2(line.closes > closesBefore, "the open port is closed before its number changes");
}

void TestPortSelection::choosingAgainAfterFailureReopens()
{
    FakeLine line;
    line.failingPorts = {1};
    PortSelection ports(line);
    QVERIFY(ports.openAtStart());
    QVERIFY(ports.selectPort(1));
    QVERIFY(!line.isOpen());

    line.failingPorts.clear();
    QCOMPARE(ports.selectPort(1), std::nullopt);
    QVERIFY2(line.isOpen(), "choosing a port opens it when it is closed");
    QCOMPARE(line.portNumber(), 1);
}

void TestPortSelection::speedChangesOnOpenPort()
{
    FakeLine line;
    PortSelection ports(line);
    QVERIFY(!ports.openAtStart());
    const int closes = line.closes;
    QCOMPARE(ports.selectSettings(QString::fromLatin1(LineSettings::kText115200)), std::nullopt);
    QVERIFY(line.isOpen());
    QCOMPARE(line.closes, closes);
    QCOMPARE(line.settings(), QStringLiteral("115200,N,8,1"));
    QCOMPARE(ports.commSettings(), QStringLiteral("115200,N,8,1"));
}

void TestPortSelection::refusedSpeedIsReported()
{
    FakeLine line;
    PortSelection ports(line);
    QVERIFY(!ports.openAtStart());
    line.refusedSettings = QString::fromLatin1(LineSettings::kText115200);
    QSignalSpy changed(&ports, &PortSelection::portChanged);
    const auto failure = ports.selectSettings(line.refusedSettings);
    QVERIFY(failure.has_value());
    QCOMPARE(failure->description, QStringLiteral("Invalid property value"));
    QVERIFY(line.isOpen());
    QVERIFY2(ports.commSettings() == QStringLiteral("9600,N,8,1"), "CommSettings is what the port runs at");
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().first().toString(),
             QStringLiteral("COM1 open 9600,N,8,1: Invalid property value"));
}

void TestPortSelection::lostDeviceIsReportedOnce()
{
    FakeLine line;
    PortSelection ports(line);
    QVERIFY(!ports.openAtStart());
    QSignalSpy lost(&ports, &PortSelection::portLost);
    line.loseDevice();
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.first().first().value<PortFailure>().description, QStringLiteral("Input/output error"));
    QCOMPARE(ports.selectPort(1), std::nullopt);
    QVERIFY(line.isOpen());
}

void TestPortSelection::lostDeviceIsReopenedWhenBack()
{
    FakeLine line;
    PortSelection ports(line);
    QVERIFY(!ports.openAtStart());
    QSignalSpy lost(&ports, &PortSelection::portLost);
    QSignalSpy reopened(&ports, &PortSelection::portReopened);
    QSignalSpy changed(&ports, &PortSelection::portChanged);
    line.failingPorts = {1};
    line.loseDevice();
    QCOMPARE(ports.waitingFor(), 1);

    // Attempts while the device is still away fail silently.
    const int opens = line.opens;
    QTRY_VERIFY_WITH_TIMEOUT(line.opens > opens, kReopenWait);
    QVERIFY(!line.isOpen());
    QCOMPARE(lost.size(), 1);

    line.failingPorts.clear();
    QTRY_VERIFY_WITH_TIMEOUT(line.isOpen(), kReopenWait);
    QCOMPARE(reopened.size(), 1);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(line.portNumber(), 1);
    QCOMPARE(ports.waitingFor(), 0);
    const QStringList states = statesOf(changed);
    QVERIFY2(states.contains(QStringLiteral("COM1 closed 9600,N,8,1: waiting for COM1 to come back")),
             qPrintable(states.join(u'\n')));
    QCOMPARE(states.last(), QStringLiteral("COM1 open 9600,N,8,1: reopened"));
}

void TestPortSelection::operatorsChoiceEndsTheWait_data()
{
    QTest::addColumn<int>("chosen");
    QTest::addColumn<bool>("opens");

    QTest::newRow("choiceThatOpens") << 2 << true;
    QTest::newRow("choiceThatFails") << 2 << false;
}

void TestPortSelection::operatorsChoiceEndsTheWait()
{
    QFETCH(int, chosen);
    QFETCH(bool, opens);
    FakeLine line;
    PortSelection ports(line);
    QVERIFY(!ports.openAtStart());
    line.failingPorts = {1, 2};
    line.loseDevice();
    QCOMPARE(ports.waitingFor(), 1);

    if (opens)
        line.failingPorts = {1};
    QCOMPARE(ports.selectPort(chosen).has_value(), !opens);
    QCOMPARE(ports.waitingFor(), 0);
    QCOMPARE(line.isOpen(), opens);

    // Whatever the device does now, the port stays as the operator left it,
    // while a selection that still waits tries twice meanwhile.
    line.failingPorts.clear();
    const int opensBefore = line.opens;
    QSignalSpy reopened(&ports, &PortSelection::portReopened);
    FakeLine waitingLine;
    PortSelection waiting(waitingLine);
    QVERIFY(!waiting.openAtStart());
    waitingLine.failingPorts = {1};
    waitingLine.loseDevice();
    const int waitingOpens = waitingLine.opens;
    QTRY_VERIFY_WITH_TIMEOUT(waitingLine.opens >= waitingOpens + 2, kReopenWait);
    QCOMPARE(line.opens, opensBefore);
    QCOMPARE(reopened.size(), 0);
}

void TestPortSelection::startUpFailureIsReopenedWhenBack()
{
    FakeLine line;
    line.failingPorts = {1};
    PortSelection ports(line);
    const auto failure = ports.openAtStart();
    QVERIFY(failure.has_value());
    QVERIFY2(failure->hint.contains(u"by itself"), qPrintable(failure->hint));
    // Start-up then selects COM1, which fails again and leaves port number 2.
    QVERIFY(ports.selectPort(1));
    QCOMPARE(line.portNumber(), 2);
    ports.reopenWhenBack(1);
    QCOMPARE(line.portNumber(), 1);

    line.failingPorts.clear();
    QTRY_VERIFY_WITH_TIMEOUT(line.isOpen(), kReopenWait);
    QCOMPARE(line.portNumber(), 1);
}

void TestPortSelection::ownersWordsFrameTheFacts_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<SerialLine::Fault>("fault");
    QTest::addColumn<QString>("lineHint");
    QTest::addColumn<Step>("step");
    QTest::addColumn<bool>("panelWords");
    QTest::addColumn<QString>("hint");

    using F = SerialLine::Fault;
    const QString ports = QStringLiteral("Serial ports on this machine:\n  /dev/ttyS0");
    const QString check =
        QStringLiteral("Check that the serial device server runs and is reachable from here.");
    const QString server = QStringLiteral("rfc2217://[::1]:4001");
    QTest::newRow("panelMissingAtStart")
        << "/dev/ttyUSB9" << F::NoDevice << ports << Step::Start << true
        << "COM1 is /dev/ttyUSB9. Set QVX_COM1 to the projector's serial device, for example "
           "QVX_COM1=/dev/ttyUSB0.\n\n" +
               ports + "\n\nThe panel opens COM1 by itself as soon as it can.";
    QTest::newRow("panelNoServerChosen")
        << server << F::NoServer << check << Step::ChooseComTwo << true
        << "COM2 is the serial device server at rfc2217://[::1]:4001. Check that the server runs and is "
           "reachable from here, or set QVX_COM2 to another address.";
    QTest::newRow("panelBadAddressChosen")
        << "rfc2217://host" << F::BadAddress << "" << Step::ChooseComTwo << true
        << "Set QVX_COM2 to rfc2217://host:port or socket://host:port.";
    QTest::newRow("panelKeepsOtherHints")
        << "/dev/ttyUSB0" << F::Other << "A group hint" << Step::ChooseComTwo << true << "A group hint";
    QTest::newRow("panelDeviceLost") << "/dev/ttyUSB0" << F::DeviceGone << "" << Step::Lose << true
                                     << "The panel opens it again by itself when the device is back.";
    QTest::newRow("panelServerLost") << server << F::ServerGone << "" << Step::Lose << true
                                     << "The panel opens it again by itself when the server is back.";
    QTest::newRow("ownerMissingAtStart") << "/dev/ttyUSB9" << F::NoDevice << ports << Step::Start << false
                                         << "/dev/ttyUSB9 is not there.\n\n" + ports;
    QTest::newRow("ownerLeavesNoServerHint")
        << server << F::NoServer << check << Step::ChooseComTwo << false << check;
    QTest::newRow("ownerServerLost") << server << F::ServerGone << "" << Step::Lose << false
                                     << "qvx-send opens rfc2217://[::1]:4001 again when it is back.";
    QTest::newRow("percentInLocationKept") << "/dev/odd%3name" << F::NoDevice << ports << Step::Start << false
                                           << "/dev/odd%3name is not there.\n\n" + ports;
}

// The line's hint states the facts; the owner's words say how the port was
// named and what happens next, the panel's unless the owner gives its own.
void TestPortSelection::ownersWordsFrameTheFacts()
{
    QFETCH(QString, location);
    QFETCH(SerialLine::Fault, fault);
    QFETCH(QString, lineHint);
    QFETCH(Step, step);
    QFETCH(bool, panelWords);
    QFETCH(QString, hint);
    FaultLine line(location);
    line.fault = fault;
    line.hint = lineHint;
    line.opens = step == Step::Lose;
    PortSelection ports(line);
    if (!panelWords)
        ports.setWords({QStringLiteral("%2 is not there.\n\n%3"),
                        {},
                        {},
                        {},
                        QStringLiteral("qvx-send opens %2 again when it is back."),
                        {}});
    QSignalSpy lost(&ports, &PortSelection::portLost);

    std::optional<PortFailure> failure = ports.openAtStart();
    if (step == Step::ChooseComTwo)
        failure = ports.selectPort(2);
    if (step == Step::Lose) {
        QVERIFY(!failure);
        line.lose();
        QCOMPARE(lost.size(), 1);
        failure = lost.first().first().value<PortFailure>();
    }
    QVERIFY(failure.has_value());
    QCOMPARE(failure->hint, hint);
}

QTEST_GUILESS_MAIN(TestPortSelection)
#include "tst_portselection.moc"
