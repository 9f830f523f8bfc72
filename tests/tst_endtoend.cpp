// The panel's real serial code against the simulated projector on a pseudo-terminal.
#include "panelbench.h"

#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

using namespace bench;

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void startUpOpensComOne();
    void commandArrivesByteForByte_data();
    void commandArrivesByteForByte();
    void replyShowsAsDump();
    void silenceMarksNoReply();
    void splitReplyShowsGrowingDumps();
    void displayWindowClearsTheLines();
    void failedPortChoiceThenRecovery();
    void speedChangeKeepsPortOpen();
    void vanishedDeviceIsReportedOnceAndReopened();
    void noiseFloodIsBounded();
    void tooltipsTellReplyTiming();
    void endClosesPortAndWindow();
};

void TestEndToEnd::startUpOpensComOne()
{
    Bench bench;
    QVERIFY2(bench.sim.isReady(), qPrintable(bench.sim.log()));
    PanelWindow &window = *bench.window;
    QVERIFY(bench.warnings.texts.isEmpty());
    QVERIFY(bench.line.isOpen());
    QCOMPARE(bench.line.portNumber(), 1);
    QCOMPARE(bench.line.settings(), QStringLiteral("9600,N,8,1"));
    QVERIFY(window.control<QRadioButton>("Option1")->isChecked());
    QVERIFY(window.control<QRadioButton>("Option10")->isChecked());
    QVERIFY(window.control("Frame8")->isHidden());
}

void TestEndToEnd::commandArrivesByteForByte_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("logged");

    QTest::newRow("powerOn") << QByteArray("POWR   1\r") << receivedLine(QStringLiteral("POWR   1"));
    QTest::newRow("freeTextQuery") << QByteArray("CR PRESSURE\r")
                                   << receivedLine(QStringLiteral("CR PRESSURE"));
    QTest::newRow("loneCarriageReturn") << QByteArray("\r") << receivedLine(QString());
    QTest::newRow("controlAndHighBytes") << QByteArray("A\x01\xff\r") << QStringLiteral("\tRX\t A ? ? CR \t");
}

void TestEndToEnd::commandArrivesByteForByte()
{
    QFETCH(QByteArray, command);
    QFETCH(QString, logged);
    Bench bench({QStringLiteral("--verbose")});
    send(*bench.window, command);
    QTRY_VERIFY2_WITH_TIMEOUT(bench.sim.log().contains(logged), qPrintable(bench.sim.log()), kWait);
}

void TestEndToEnd::replyShowsAsDump()
{
    Bench bench({QStringLiteral("--status"), QStringLiteral("8")});
    PanelWindow &window = *bench.window;
    send(window, "TABN   1\r");
    QCOMPARE(textOf(window, "Label11"), QStringLiteral(" T A B N       1 CR "));
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" 0 0 0 8 CR "), kWait);
}

void TestEndToEnd::silenceMarksNoReply()
{
    Bench bench({QStringLiteral("--silent")});
    PanelWindow &window = *bench.window;
    send(window, "TABN   1\r");
    QCOMPARE(parts::link(window).awaitingReply(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" X X X X"), kWait);
    QCOMPARE(parts::link(window).awaitingReply(), 0);
}

void TestEndToEnd::splitReplyShowsGrowingDumps()
{
    Bench bench(
        {QStringLiteral("--split"), QStringLiteral("2"), QStringLiteral("--gap"), QStringLiteral("150")});
    PanelWindow &window = *bench.window;
    QStringList seen;
    connect(&parts::link(window), &LinkEngine::receivedLineChanged, &window,
            [&] { seen.append(textOf(window, "Label12")); });
    parts::link(window).setWindows(20s, 25s);
    send(window, "TABN   1\r");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" 0 0 0 0 CR "), kWait);
    QCOMPARE(seen, (QStringList{QStringLiteral(" 0 0 "), QStringLiteral(" 0 0 0 0 "),
                                QStringLiteral(" 0 0 0 0 CR ")}));
}

void TestEndToEnd::displayWindowClearsTheLines()
{
    Bench bench;
    PanelWindow &window = *bench.window;
    send(window, "TABN   1\r");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" 0 0 0 0 CR "), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(textOf(window, "Label11").isEmpty(), kWait);
    QVERIFY(textOf(window, "Label12").isEmpty());
    QVERIFY(textOf(window, "Label22").isEmpty());
}

void TestEndToEnd::failedPortChoiceThenRecovery()
{
    Bench bench;
    PanelWindow &window = *bench.window;
    click(window, "Command33");
    click(window, "Option2");
    QCOMPARE(bench.warnings.texts.size(), 1);
    QVERIFY(!bench.line.isOpen());
    QCOMPARE(bench.line.portNumber(), 1);
    QVERIFY2(!window.control("Frame8")->isHidden(), "the port group stays for another choice");
    QVERIFY(window.control<QRadioButton>("Option2")->isChecked());

    send(window, "TABN   1\r");
    QCOMPARE(textOf(window, "Label11"), QStringLiteral(" T A B N       1 CR "));
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" X X X X"), kWait);

    click(window, "Option1");
    QCOMPARE(bench.warnings.texts.size(), 1);
    QVERIFY2(bench.line.isOpen(), "choosing a port reopens a closed link");
    QVERIFY(window.control("Frame8")->isHidden());
    send(window, "TABN   1\r");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" 0 0 0 0 CR "), kWait);
}

void TestEndToEnd::speedChangeKeepsPortOpen()
{
    Bench bench;
    PanelWindow &window = *bench.window;
    click(window, "Command33");
    click(window, "Option9");
    QVERIFY(bench.line.isOpen());
    QCOMPARE(bench.line.settings(), QStringLiteral("115200,N,8,1"));
    QVERIFY(window.control("Frame8")->isHidden());
    QVERIFY2(parts::portGroupTimer(window).isActive(),
             "choosing hides the group at once and leaves Timer3 running");
    send(window, "TABN   1\r");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" 0 0 0 0 CR "), kWait);
}

void TestEndToEnd::vanishedDeviceIsReportedOnceAndReopened()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    auto first = std::make_unique<SimProcess>(
        QStringList{QStringLiteral("--hangup-after"), QStringLiteral("1"), QStringLiteral("--link"), link});
    QVERIFY(first->isReady());
    qputenv("QVX_COM1", link.toLocal8Bit());
    WarningCatcher warnings;
    ComPort line;
    PanelWindow window(line);
    window.startUp();
    QVERIFY(line.isOpen());

    send(window, "TABN   1\r");
    QTRY_VERIFY_WITH_TIMEOUT(!line.isOpen(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(warnings.texts.size(), 1, kWait);
    QTest::qWait(500);
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY(first->waitForExit());

    SimProcess second({QStringLiteral("--link"), link});
    QVERIFY(second.isReady());
    click(window, "Command33");
    click(window, "Option1");
    QVERIFY2(line.isOpen(), qPrintable(warnings.texts.join(u'\n')));
    send(window, "TABN   1\r");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" 0 0 0 0 CR "), kWait);
}

void TestEndToEnd::noiseFloodIsBounded()
{
    Bench bench({QStringLiteral("--noise"), QStringLiteral("40000"), QStringLiteral("--noise-kind"),
                 QStringLiteral("random")});
    PanelWindow &window = *bench.window;
    // With no send, no reply window ends, so nothing empties RxBuffer.
    QTRY_COMPARE_WITH_TIMEOUT(parts::link(window).rxBuffer().size(), LinkEngine::kRxBufferLimit, kWait);
    QTest::qWait(300);
    QCOMPARE(parts::link(window).rxBuffer().size(), LinkEngine::kRxBufferLimit);
    QLabel *label12 = window.control<QLabel>("Label12");
    QVERIFY(!label12->text().isEmpty());
    QVERIFY2(label12->text().size() <= label12->width(), "the line is given only what it can show");
    QVERIFY(bench.warnings.texts.isEmpty());
}

void TestEndToEnd::tooltipsTellReplyTiming()
{
    Bench bench({QStringLiteral("--delay"), QStringLiteral("30")});
    PanelWindow &window = *bench.window;
    QLabel *sent = window.control<QLabel>("Label11");
    QLabel *received = window.control<QLabel>("Label12");
    send(window, "TABN   1\r");
    QVERIFY(sent->toolTip().startsWith(u"Sent at "));
    QVERIFY2(received->toolTip().startsWith(u"Waiting for a reply"), qPrintable(received->toolTip()));
    QTRY_VERIFY_WITH_TIMEOUT(received->toolTip().startsWith(u"Reply "), kWait);
    const QRegularExpression latency(
        QStringLiteral(R"(^Reply (\d+) ms after the command sent at \d\d:\d\d:\d\d\.\d{3}$)"));
    const auto match = latency.match(received->toolTip());
    QVERIFY2(match.hasMatch(), qPrintable(received->toolTip()));
    QVERIFY(match.captured(1).toInt() >= 30);
    QTRY_VERIFY_WITH_TIMEOUT(parts::link(window).rxBuffer().isEmpty(), kWait);

    send(window, "CR PRESSURE\r");
    parts::link(window).setWindows(std::chrono::milliseconds(1), std::chrono::milliseconds(10000));
    QTRY_VERIFY_WITH_TIMEOUT(received->toolTip().startsWith(u"No reply within 1 ms"), kWait);
    QVERIFY2(textOf(window, "Label11").startsWith(u" C R"), "the captions stay the traffic");
}

void TestEndToEnd::endClosesPortAndWindow()
{
    Bench bench;
    PanelWindow &window = *bench.window;
    window.show();
    click(window, "Command16");
    QVERIFY(!bench.line.isOpen());
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
