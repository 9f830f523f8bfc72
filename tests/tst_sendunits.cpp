// qvx-send's parts without a process: its names, its command line, its output and one port's exchanges.
#include "fakeline.h"
#include "layouttable.h"
#include "portrun.h"
#include "replyrouter.h"
#include "sendoutput.h"
#include "sendrequest.h"
#include "sendrun.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr int kGenerousMs = 10'000;

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

// A caption as a name: lower case, words joined by '-', dots dropped.
QString nameOfCaption(const QString &caption)
{
    return caption.toLower()
        .replace(QRegularExpression(QStringLiteral("[ .]+")), QStringLiteral("-"))
        .remove(QRegularExpression(QStringLiteral("-$")));
}

QString captionOf(std::string_view control)
{
    return text(layout::ControlId::find(control)->layout().caption);
}

// A line that answers every command a moment after it is written, as a
// projector does, with the answer of the test's choosing.
class AnsweringLine : public FakeLine
{
public:
    QByteArray answer = "\x06\r";

protected:
    bool writeLine(QByteArrayView text) override
    {
        FakeLine::writeLine(text);
        if (!answer.isEmpty())
            QTimer::singleShot(0, this, [this] { feed(answer); });
        return true;
    }
};

QList<SendStep> steps(std::initializer_list<QByteArray> texts, std::chrono::milliseconds window = 200ms)
{
    QList<SendStep> list;
    for (const QByteArray &text : texts)
        list.append(SendStep{text, window, {}});
    return list;
}

Exchange exchangeOf(const QSignalSpy &spy, qsizetype index)
{
    return spy.at(index).at(0).value<Exchange>();
}

} // namespace

class TestSendUnits : public QObject
{
    Q_OBJECT

private slots:
    void fixedNamesFollowTheCaptions();
    void everyDecodedQueryHasAName();
    void lensNamesMoveTheirButtonsWay_data();
    void lensNamesMoveTheirButtonsWay();

    void argumentsGiveSteps_data();
    void argumentsGiveSteps();
    void badArgumentsAreRefused_data();
    void badArgumentsAreRefused();
    void unknownNameGetsTheNearest();

    void readableReply_data();
    void readableReply();
    void jsonLineHoldsTheExchange();
    void plainLinesCarryPortTimeAndDump();

    void replyEndsAtItsCarriageReturn();
    void replyWithoutCarriageReturnEndsWithItsWindow();
    void silenceIsNotAnAnswer();
    void charactersBetweenExchangesBelongToNone();
    void floodEndsTheReplyAtItsBound();
    void heldStepWaitsForItsRepeat();
    void lossEndsTheRound();

    void exitStatusOfARun_data();
    void exitStatusOfARun();
    void roundsRepeatAndStop();
};

// A name says which button it is: its caption, or its group and its caption
// where the caption alone is shared; a grid name is its row and picture mode.
void TestSendUnits::fixedNamesFollowTheCaptions()
{
    QMultiHash<QString, QString> controlsOfCaption;
    for (const auto &command : commands::kFixedCommands)
        controlsOfCaption.insert(nameOfCaption(captionOf(command.control)), text(command.control));

    for (const auto &entry : commands::kScriptNames) {
        if (entry.kind != commands::ScriptKind::Fixed)
            continue;
        const QString name = text(entry.name);
        const auto *command = commands::findControl(commands::kFixedCommands, entry.source);
        QString caption = nameOfCaption(captionOf(entry.source));
        // The one misspelt caption of the grid; its picture mode is Custom.
        if (caption == u"custum")
            caption = QStringLiteral("custom");
        if (command->group >= commands::Group::GridRow1) {
            const int row = int(command->group) - int(commands::Group::GridRow1) + 1;
            QCOMPARE(name, QStringLiteral("%1-%2").arg(row).arg(caption));
        } else if (name == caption) {
            QVERIFY2(controlsOfCaption.count(caption) == 1,
                     qPrintable(name + QStringLiteral(" is shared, so it needs its group")));
        } else {
            QVERIFY2(name.endsWith(u'-' + caption),
                     qPrintable(name + QStringLiteral(" does not end in its caption ") + caption));
        }
    }
}

// The queries that the panel's decoders know but no button sends are reached
// by name, not only through text.
void TestSendUnits::everyDecodedQueryHasAName()
{
    for (const auto &route : decode::kRoutes) {
        bool named = false;
        for (const auto &entry : commands::kScriptNames) {
            QString error;
            const auto command = SendRequest::commandText(entry, QStringLiteral("00"), &error);
            named = named || (command &&
                              *command == QByteArray(route.command.data(), qsizetype(route.command.size())));
        }
        QVERIFY2(named, route.command.data());
    }
}

void TestSendUnits::lensNamesMoveTheirButtonsWay_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("zoomIn") << "zoom+"
                            << "+";
    QTest::newRow("zoomOut") << "zoom-"
                             << "-";
    QTest::newRow("focusPlus") << "focus+"
                               << "+";
    QTest::newRow("focusMinus") << "focus-"
                                << "-";
    QTest::newRow("shiftUp") << "shift-up"
                             << "↑";
    QTest::newRow("shiftDown") << "shift-down"
                               << "↓";
    QTest::newRow("shiftLeft") << "shift-left"
                               << "←";
    QTest::newRow("shiftRight") << "shift-right"
                                << "→";
}

void TestSendUnits::lensNamesMoveTheirButtonsWay()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    const commands::ScriptName *entry = commands::findScriptName(name);
    QVERIFY(entry);
    QCOMPARE(captionOf(entry->source), caption);
    // The zoom and focus buttons share captions; their labels stand above them.
    const QString description = [&] {
        for (const auto &row : layout::kDescriptions) {
            if (row.control == layout::ControlId::find(entry->source))
                return text(row.text).toLower();
        }
        return QString();
    }();
    QVERIFY2(description.contains(name.section(u'-', 0, 0).remove(u'+')), qPrintable(description));
}

void TestSendUnits::argumentsGiveSteps_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<QByteArray>>("texts");
    QTest::addColumn<QList<int>>("windows");
    QTest::addColumn<QList<int>>("repeats");

    QTest::newRow("plainButton") << QStringList{"pj-status"} << QList<QByteArray>{"TABN   1"} << QList{500}
                                 << QList{0};
    QTest::newRow("gridButton") << QStringList{"2-custom"} << QList<QByteArray>{"RBPS  13"} << QList{5000}
                                << QList{0};
    QTest::newRow("queryOfTheFreeLine")
        << QStringList{"pressure"} << QList<QByteArray>{"CR PRESSURE"} << QList{2000} << QList{0};
    QTest::newRow("volume") << QStringList{"volume", "45"} << QList<QByteArray>{"VOLA  45"} << QList{500}
                            << QList{0};
    QTest::newRow("negativeKeystoneIsAValue")
        << QStringList{"keystone-v", "-05", "keystone-h", "+12"} << QList<QByteArray>{"KEYV -05", "KEYH +12"}
        << QList{500, 500} << QList{0, 0};
    QTest::newRow("emptyBoxAsThePanelSendsIt")
        << QStringList{"volume", ""} << QList<QByteArray>{"VOLA  "} << QList{500} << QList{0};
    QTest::newRow("freeText") << QStringList{"text", "cr9 "} << QList<QByteArray>{"cr9 "} << QList{2000}
                              << QList{0};
    QTest::newRow("optionsAnywhere") << QStringList{"l1-time", "--json", "--speed", "115200", "l2-time"}
                                     << QList<QByteArray>{"TLTT   1", "TLTT   2"} << QList{500, 500}
                                     << QList{0, 0};
    QTest::newRow("lensStepOnce") << QStringList{"shift-left"} << QList<QByteArray>{"LNLR-001"} << QList{500}
                                  << QList{0};
    // Held as a button is held: a step every 150 ms until the hold ends, each
    // with a window as long as the repeat, the last with the release's window.
    QTest::newRow("lensHeld") << QStringList{"--hold", "0.5", "zoom+"}
                              << QList<QByteArray>{"LNZO+001", "LNZO+001", "LNZO+001", "LNZO+001"}
                              << QList{150, 150, 150, 500} << QList{150, 150, 150, 0};
}

void TestSendUnits::argumentsGiveSteps()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<QByteArray>, texts);
    QFETCH(QList<int>, windows);
    QFETCH(QList<int>, repeats);
    QString error;
    const auto request = SendRequest::parse(arguments, &error);
    QVERIFY2(request, qPrintable(error));
    QCOMPARE(request->steps.size(), texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        QCOMPARE(request->steps[i].text, texts[i]);
        QCOMPARE(request->steps[i].replyWindow.count(), windows[i]);
        QCOMPARE(request->steps[i].repeat.count(), repeats[i]);
    }
}

void TestSendUnits::badArgumentsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("noCommand") << QStringList{"--json"} << "no command";
    QTest::newRow("volumeLongerThanItsBox") << QStringList{"volume", "100"} << "at most 2 characters";
    QTest::newRow("keystoneLongerThanItsBox") << QStringList{"keystone-h", "+100"} << "at most 3 characters";
    QTest::newRow("valueMissing") << QStringList{"volume"} << "takes a value";
    QTest::newRow("carriageReturnInText") << QStringList{"text", "POWR   1\rPOWR   0"} << "one line";
    QTest::newRow("lineFeedInText") << QStringList{"text", "CR4\n"} << "one line";
    QTest::newRow("countWithoutEvery") << QStringList{"--count", "3", "pj-status"} << "--every";
    QTest::newRow("everyTooShort") << QStringList{"--every", "0", "pj-status"} << "--every takes";
    QTest::newRow("everyNotANumber") << QStringList{"--every", "soon", "pj-status"} << "--every takes";
    QTest::newRow("countNotPositive")
        << QStringList{"--every", "1", "--count", "0", "pj-status"} << "--count takes";
    QTest::newRow("holdTooLong") << QStringList{"--hold", "61", "zoom+"} << "--hold takes";
    QTest::newRow("otherSpeed") << QStringList{"--speed", "4800", "pj-status"} << "9600 or 115200";
    QTest::newRow("portWithoutEndpoint") << QStringList{"pj-status", "--port"} << "--port takes";
    QTest::newRow("unknownOption") << QStringList{"--verbose", "pj-status"} << "unknown option";
}

void TestSendUnits::badArgumentsAreRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    QString error;
    QVERIFY(!SendRequest::parse(arguments, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestSendUnits::unknownNameGetsTheNearest()
{
    QString error;
    QVERIFY(!SendRequest::parse({QStringLiteral("pwer-on")}, &error));
    QVERIFY2(error.contains(u"\"pwer-on\"") && error.contains(u"power-on"), qPrintable(error));
    QCOMPARE(SendRequest::nearestNames(u"pj-stat").constFirst(), QStringLiteral("pj-status"));
    QCOMPARE(SendRequest::nearestNames(u"presure").constFirst(), QStringLiteral("pressure"));
}

void TestSendUnits::readableReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ackEndedByCarriageReturn") << QByteArray("\x06\r") << "ACK";
    QTest::newRow("dataThenAck") << QByteArray("12\x06") << "12 ACK";
    QTest::newRow("error") << QByteArray("ERR\r") << "ERR";
    QTest::newRow("lineFeedKept") << QByteArray("A\nB\r") << "A LF B";
    QTest::newRow("code20") << QByteArray("\x14\x14"
                                          "A")
                            << "& & A";
    QTest::newRow("carriageReturnInside") << QByteArray("1\r2") << "1 CR 2";
    QTest::newRow("printableAboveZ") << QByteArray("{|}~") << "{|}~";
    QTest::newRow("deleteAndHighBytes") << QByteArray("a\x7f\xff") << "a ? ?";
    QTest::newRow("nothing") << QByteArray() << "";
}

void TestSendUnits::readableReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, expected);
    QCOMPARE(sendoutput::readable(reply), expected);
}

void TestSendUnits::jsonLineHoldsTheExchange()
{
    const Exchange answered{QStringLiteral("/dev/ttyUSB0"),
                            QDateTime(QDate(2026, 12, 8), QTime(18, 0, 0, 123), Qt::UTC),
                            "POWR????",
                            "1\r",
                            2000ms,
                            21ms,
                            true,
                            QByteArray(" ON")};
    QByteArray line = sendoutput::format(answered, {true, false, false, false});
    QVERIFY(line.endsWith('\n') && line.count('\n') == 1);
    QJsonParseError error;
    QJsonObject object = QJsonDocument::fromJson(line, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.value(u"time").toString(), QStringLiteral("2026-12-08T18:00:00.123Z"));
    QCOMPARE(object.value(u"port").toString(), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(object.value(u"command").toString(), QStringLiteral("POWR????"));
    QCOMPARE(object.value(u"reply").toString(), QStringLiteral("1\r"));
    QCOMPARE(object.value(u"dump").toString(), QStringLiteral(" 1 CR "));
    QCOMPARE(object.value(u"status").toString(), QStringLiteral("ON"));
    QCOMPARE(object.value(u"reply_ms").toInt(), 21);
    QCOMPARE(object.value(u"answered").toBool(), true);

    Exchange silent = answered;
    silent.reply.clear();
    silent.answered = false;
    silent.status.reset();
    object = QJsonDocument::fromJson(sendoutput::format(silent, {true, false, false, false})).object();
    QVERIFY(object.value(u"status").isNull());
    QCOMPARE(object.value(u"answered").toBool(true), false);
    QCOMPARE(object.value(u"dump").toString(), QStringLiteral(" X X X X"));
}

void TestSendUnits::plainLinesCarryPortTimeAndDump()
{
    const Exchange exchange{QStringLiteral("socket://[::1]:4001"),
                            QDateTime(QDate(2026, 12, 8), QTime(18, 0, 0, 5), Qt::UTC),
                            "CR4",
                            "10\r",
                            2000ms,
                            3ms,
                            true,
                            QByteArray(" Top/Bottom reversal")};
    QCOMPARE(sendoutput::format(exchange, {}), QByteArray("Top/Bottom reversal\n"));
    QCOMPARE(sendoutput::format(exchange, {false, true, true, true}),
             QByteArray("2026-12-08T18:00:00.005Z socket://[::1]:4001: TXD C R 4 CR \n"
                        "2026-12-08T18:00:00.005Z socket://[::1]:4001: RXD 1 0 CR \n"
                        "2026-12-08T18:00:00.005Z socket://[::1]:4001: Top/Bottom reversal\n"));
    Exchange silent = exchange;
    silent.reply.clear();
    silent.answered = false;
    silent.status.reset();
    QCOMPARE(sendoutput::format(silent, {}), QByteArray());
    QCOMPARE(sendoutput::format(silent, {false, true, false, false}),
             QByteArray("TXD C R 4 CR \nRXD X X X X\n"));
}

void TestSendUnits::replyEndsAtItsCarriageReturn()
{
    FakeLine line;
    PortRun run(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&run, &PortRun::exchanged);
    QSignalSpy ended(&run, &PortRun::roundEnded);
    QVERIFY(run.open(QStringLiteral("9600,N,8,1"), false));
    // Windows far longer than the test may take: only the carriage return
    // can end these replies in time.
    run.runRound(steps({"TABN   1", "TLPS   1"}, 60s));
    QCOMPARE(line.written, QList<QByteArray>{"TABN   1\r"});

    line.feed("00");
    QCOMPARE(exchanged.size(), 0);
    line.feed("00\rjunk");
    QCOMPARE(exchanged.size(), 1);
    const Exchange first = exchangeOf(exchanged, 0);
    QCOMPARE(first.reply, QByteArray("0000\r"));
    QVERIFY(first.answered);
    QCOMPARE(first.status, std::optional<QByteArray>(" Normal"));
    QCOMPARE(line.written.size(), 2);
    QCOMPARE(line.written.last(), QByteArray("TLPS   1\r"));

    line.feed("0001\r");
    QCOMPARE(exchangeOf(exchanged, 1).status, std::optional<QByteArray>("LAMP 1 ON"));
    QCOMPARE(ended.size(), 1);
}

void TestSendUnits::replyWithoutCarriageReturnEndsWithItsWindow()
{
    FakeLine line;
    PortRun run(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&run, &PortRun::exchanged);
    QVERIFY(run.open(QStringLiteral("9600,N,8,1"), false));
    run.runRound(steps({"CR9"}, 100ms));
    line.feed("QVX");
    QVERIFY(exchanged.wait(kGenerousMs));
    const Exchange exchange = exchangeOf(exchanged, 0);
    QVERIFY(exchange.answered);
    QCOMPARE(exchange.reply, QByteArray("QVX"));
    QCOMPARE(exchange.status, std::optional<QByteArray>(" Q V X "));
    QVERIFY(exchange.replyTime >= 100ms);
}

void TestSendUnits::silenceIsNotAnAnswer()
{
    FakeLine line;
    PortRun run(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&run, &PortRun::exchanged);
    QSignalSpy ended(&run, &PortRun::roundEnded);
    QVERIFY(run.open(QStringLiteral("9600,N,8,1"), false));
    run.runRound(steps({"TABN   1", "TLTT   1"}, 50ms));
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kGenerousMs);
    QCOMPARE(exchanged.size(), 2);
    for (qsizetype i = 0; i < 2; ++i) {
        QVERIFY(!exchangeOf(exchanged, i).answered);
        QVERIFY(!exchangeOf(exchanged, i).status);
    }
}

void TestSendUnits::charactersBetweenExchangesBelongToNone()
{
    FakeLine line;
    PortRun run(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&run, &PortRun::exchanged);
    QVERIFY(run.open(QStringLiteral("9600,N,8,1"), false));
    line.feed("late\r");
    run.runRound(steps({"POWR????"}, 60s));
    line.feed("1\r");
    QCOMPARE(exchangeOf(exchanged, 0).reply, QByteArray("1\r"));
    QCOMPARE(exchangeOf(exchanged, 0).status, std::optional<QByteArray>(" ON"));
}

void TestSendUnits::floodEndsTheReplyAtItsBound()
{
    FakeLine line;
    PortRun run(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&run, &PortRun::exchanged);
    QVERIFY(run.open(QStringLiteral("9600,N,8,1"), false));
    run.runRound(steps({"CR9", "CR6"}, 60s));
    const QByteArray flood(4096, 'x');
    for (int i = 0; i < 10 && exchanged.isEmpty(); ++i)
        line.feed(flood);
    QCOMPARE(exchanged.size(), 1);
    QCOMPARE(exchangeOf(exchanged, 0).reply.size(), PortRun::kLongestReply);
    QCOMPARE(line.written.last(), QByteArray("CR6\r"));
}

void TestSendUnits::heldStepWaitsForItsRepeat()
{
    FakeLine line;
    PortRun run(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&run, &PortRun::exchanged);
    QSignalSpy ended(&run, &PortRun::roundEnded);
    QVERIFY(run.open(QStringLiteral("9600,N,8,1"), false));
    run.runRound({SendStep{"LNZO+001", 150ms, 150ms}, SendStep{"LNZO+001", 500ms, {}}});
    line.feed("\x06\r");
    QCOMPARE(exchanged.size(), 1);
    QCOMPARE(line.written.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(line.written.size(), 2, kGenerousMs);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kGenerousMs);
    // Unanswered, the held step's own window ends it before the next step.
    run.runRound({SendStep{"LNZO+001", 150ms, 150ms}, SendStep{"LNZO+001", 500ms, {}}});
    QTRY_COMPARE_WITH_TIMEOUT(line.written.size(), 4, kGenerousMs);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 2, kGenerousMs);
    QCOMPARE(exchanged.size(), 4);
}

void TestSendUnits::lossEndsTheRound()
{
    FakeLine line;
    PortRun run(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&run, &PortRun::exchanged);
    QSignalSpy ended(&run, &PortRun::roundEnded);
    QSignalSpy lost(&run, &PortRun::lost);
    QVERIFY(run.open(QStringLiteral("9600,N,8,1"), false));
    run.runRound(steps({"TABN   1", "TLTT   1"}, 60s));
    line.loseDevice();
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.at(0).at(0).value<PortFailure>().description, QStringLiteral("Input/output error"));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(exchanged.size(), 0);
    QCOMPARE(line.written.size(), 1);
}

void TestSendUnits::exitStatusOfARun_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("everyCommandAnswered") << QByteArray("\x06\r") << true << 0 << "";
    QTest::newRow("noReply") << QByteArray() << true << 1 << "fake: \"POWR   1\" drew no reply within 500 ms";
    QTest::newRow("portDoesNotOpen") << QByteArray("\x06\r") << false << 2
                                     << "fake: No such file or directory";
    QTest::newRow("settingsRefused") << QByteArray("refuse") << true << 2
                                     << "fake: the server kept 9600,N,8,1";
}

void TestSendUnits::exitStatusOfARun()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, opens);
    QFETCH(int, status);
    QFETCH(QString, said);
    QString error;
    const auto request = SendRequest::parse({"--port", "fake", "power-on"}, &error);
    QVERIFY(request);
    QBuffer output;
    QBuffer errors;
    output.open(QIODevice::WriteOnly);
    errors.open(QIODevice::WriteOnly);
    SendRun run(*request, output, errors, [&](const QString &) {
        auto line = std::make_unique<AnsweringLine>();
        line->answer = answer;
        if (!opens)
            line->failingPorts.insert(1);
        // A device server that answers the command but not the settings.
        if (answer == "refuse") {
            line->answer = "\x06\r";
            QTimer::singleShot(0, line.get(), [line = line.get()] {
                line->raise(SerialLine::Event::SettingsRefused, QStringLiteral("the server kept 9600,N,8,1"));
            });
        }
        return line;
    });
    QSignalSpy finished(&run, &SendRun::finished);
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kGenerousMs);
    QCOMPARE(finished.at(0).at(0).toInt(), status);
    QCOMPARE(output.data(), opens && !answer.isEmpty() ? QByteArray("ACK\n") : QByteArray());
    QVERIFY2(QString::fromLocal8Bit(errors.data()).contains(said), errors.data().constData());
}

void TestSendUnits::roundsRepeatAndStop()
{
    QString error;
    const auto request = SendRequest::parse(
        {"--port", "a", "--port", "b", "--every", "0.1", "--count", "3", "pj-status"}, &error);
    QVERIFY(request);
    QBuffer output;
    QBuffer errors;
    output.open(QIODevice::WriteOnly);
    errors.open(QIODevice::WriteOnly);
    SendRun run(*request, output, errors, [](const QString &) {
        auto line = std::make_unique<AnsweringLine>();
        line->answer = "0000\r";
        return line;
    });
    QSignalSpy finished(&run, &SendRun::finished);
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kGenerousMs);
    QCOMPARE(run.exitStatus(), 0);
    const QList<QByteArray> lines = output.data().trimmed().split('\n');
    QCOMPARE(lines.size(), 6);
    const QRegularExpression shape(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z (a|b): Normal$"));
    for (const QByteArray &line : lines)
        QVERIFY2(shape.match(QString::fromUtf8(line)).hasMatch(), line.constData());
}

QTEST_GUILESS_MAIN(TestSendUnits)
#include "tst_sendunits.moc"
