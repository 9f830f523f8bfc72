// Every query of the panel decoded into the status line, through the simulator.
#include "panelbench.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

using namespace bench;

namespace {

QString exactly(const QString &text)
{
    return QRegularExpression::anchoredPattern(QRegularExpression::escape(text));
}

// A query is a button's name, or text typed into the free-command line.
void ask(PanelWindow &window, const QString &query)
{
    if (query.startsWith(u"Command")) {
        parts::named<QAbstractButton>(window, query.toStdString())->click();
        return;
    }
    window.control<QLineEdit>("Text1")->setText(query);
    click(window, "Command95");
}

} // namespace

class TestStatusLine : public QObject
{
    Q_OBJECT

private slots:
    void queryShowsDecodedText_data();
    void queryShowsDecodedText();
    void echoShowsTheReceivedLine();
    void statusFollowsWhatWasSent();
};

void TestStatusLine::queryShowsDecodedText_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("status");

    QTest::newRow("projectorStatusButton") << QStringList() << "Command44" << exactly(" Normal");
    QTest::newRow("projectorStatusForced")
        << QStringList{"--status", "8"} << "Command44" << exactly(" Lamp Life 5% or less");
    QTest::newRow("projectorStatusTyped")
        << QStringList{"--status", "2"} << "TABN   1" << exactly(" Fan Err");
    QTest::newRow("lamp1StateButton") << QStringList() << "Command60" << exactly("LAMP 1 OFF");
    QTest::newRow("lamp2StateButton")
        << QStringList{"--lamp-state", "4"} << "Command45" << exactly(" Lamp 2 Error");
    QTest::newRow("lamp1HoursButton") << QStringList() << "Command46" << exactly(" 0 1 2 3 4 CR  Hour Use");
    QTest::newRow("lamp2HoursButton") << QStringList{"--lamp-hours", "ABCDEFGHIJKLMNOPQR"} << "Command59"
                                      << exactly(" A B C D E F G H I J K L M N O P Q R C Hour Use");
    QTest::newRow("powerStateTyped") << QStringList() << "POWR????" << exactly(" Standby");
    QTest::newRow("reversalTyped") << QStringList{"--reversal", "01"} << "CR4"
                                   << exactly(" Left/Right reversal");
    QTest::newRow("temperaturesTyped") << QStringList() << "CR6"
                                       << R"(^  S1=( \d){3} \. \d C  ,   S2=  (\d )\d \. \d C$)";
    QTest::newRow("lampPatternTyped")
        << QStringList{"--lamp-pattern", "1A"} << "CR7" << exactly(" No2,4 ON  : 2 Lamp mode(1,4)");
    QTest::newRow("muteAndSignalTyped") << QStringList() << "CRA" << exactly(" Stand by");
    QTest::newRow("pressureTyped") << QStringList() << "CR PRESSURE"
                                   << R"(^\d{3,4} hPa$)";
    QTest::newRow("pressureForced") << QStringList{"--pressure", "1E3"} << "CR PRESSURE"
                                    << exactly("1169 hPa");
}

void TestStatusLine::queryShowsDecodedText()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QString, query);
    QFETCH(QString, status);
    Bench bench(simArguments);
    QVERIFY(bench.sim.isReady());
    ask(*bench.window, query);
    const QRegularExpression expected(status);
    QTRY_VERIFY2_WITH_TIMEOUT(expected.match(textOf(*bench.window, "Label22")).hasMatch(),
                              qPrintable(textOf(*bench.window, "Label22")), kWait);
}

void TestStatusLine::echoShowsTheReceivedLine()
{
    Bench bench;
    ask(*bench.window, QStringLiteral("CR9"));
    QTRY_VERIFY_WITH_TIMEOUT(textOf(*bench.window, "Label12").endsWith(u"CR "), kWait);
    QCOMPARE(textOf(*bench.window, "Label22"), textOf(*bench.window, "Label12"));
}

void TestStatusLine::statusFollowsWhatWasSent()
{
    Bench bench;
    PanelWindow &window = *bench.window;
    click(window, "Command17");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label12"), QStringLiteral(" ACK CR "), kWait);
    // Until the reply window ends, the acknowledgement would stand in front of
    // the next reply and shift its fields.
    QTRY_VERIFY_WITH_TIMEOUT(parts::link(window).rxBuffer().isEmpty(), kWait);
    click(window, "Command60");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label22"), QStringLiteral("LAMP 1 ON"), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(parts::link(window).rxBuffer().isEmpty(), kWait);
    ask(window, QStringLiteral("POWR????"));
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window, "Label22"), QStringLiteral(" ON"), kWait);
}

QTEST_MAIN(TestStatusLine)
#include "tst_statusline.moc"
