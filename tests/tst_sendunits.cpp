// qvx-send's parts without a process: its names, its command line, its output and one port's exchanges.
#include "fakeline.h"
#include "layouttable.h"
#include "replyrouter.h"
#include "scriptvocabulary.h"
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
            const auto command = commands::commandText(entry, QStringLiteral("00"), &error);
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
    QTest::newRow("volumeOfOneDigit")
        << QStringList{"volume", "5"} << QList<QByteArray>{"VOLA  05"} << QList{500} << QList{0};
    QTest::newRow("keystoneWithoutSign")
        << QStringList{"keystone-h", "7"} << QList<QByteArray>{"KEYH +07"} << QList{500} << QList{0};
    QTest::newRow("namesInAnyCase") << QStringList{"PJ-Status"} << QList<QByteArray>{"TABN   1"} << QList{500}
                                    << QList{0};
    QTest::newRow("summaryAsksEveryQuery")
        << QStringList{"status"}
        << QList<QByteArray>{"POWR????", "TABN   1", "TLPS   1",    "TLPS   2", "TLTT   1", "TLTT   2",
                             "CR7",      "CR6",      "CR PRESSURE", "CR4",      "CRA"}
        << QList{2000, 500, 500, 500, 500, 500, 2000, 2000, 2000, 2000, 2000}
        << QList{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
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
    QTest::newRow("volumeAboveItsRange") << QStringList{"volume", "61"} << "from 0 to 60";
    QTest::newRow("volumeNotANumber") << QStringList{"volume", "ab"} << "from 0 to 60";
    QTest::newRow("emptyVolume") << QStringList{"volume", ""} << "from 0 to 60";
    QTest::newRow("keystoneBeyondItsRange") << QStringList{"keystone-h", "+61"} << "from -60 to +60";
    QTest::newRow("keystoneOfThreeDigits") << QStringList{"keystone-v", "-100"} << "from -60 to +60";
    QTest::newRow("textNotAscii") << QStringList{"text", "Prüfung €"} << "printable ASCII";
    QTest::newRow("textTooLong") << QStringList{"text", QString(65, u'A')} << "at most 64";
    QTest::newRow("holdWithoutLens") << QStringList{"--hold", "1", "pj-status"} << "no lens step";
    QTest::newRow("argumentsAfterList") << QStringList{"--list", "pj-status"} << "takes no other arguments";
    QTest::newRow("portGivenTwice") << QStringList{"--port", "/dev/ttyQ9", "--port", "/dev//ttyQ9",
                                                   "pj-status"}
                                    << "given twice";
    QTest::newRow("urlBracketOpen") << QStringList{"--port", "socket://[::1", "pj-status"}
                                    << "not a usable address";
    QTest::newRow("urlPortOutOfRange")
        << QStringList{"--port", "socket://127.0.0.1:99999", "pj-status"} << "not a usable address";
    QTest::newRow("projectorWithoutVenue")
        << QStringList{"--venue", "/nonexistent/venue.conf", "--port", "booth-a", "pj-status"}
        << "venue.conf";
    QTest::newRow("valueMissing") << QStringList{"volume"} << "takes a value";
    QTest::newRow("carriageReturnInText") << QStringList{"text", "POWR   1\rPOWR   0"} << "printable ASCII";
    QTest::newRow("lineFeedInText") << QStringList{"text", "CR4\n"} << "printable ASCII";
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
    QCOMPARE(commands::nearestNames(u"pj-stat").constFirst(), QStringLiteral("pj-status"));
    QCOMPARE(commands::nearestNames(u"presure").constFirst(), QStringLiteral("pressure"));
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
    Exchange answered{QStringLiteral("/dev/ttyUSB0"),
                      commands::Step{QStringLiteral("l1-time"), "TLTT   1", 500ms},
                      QDateTime(QDate(2026, 12, 8), QTime(18, 0, 0, 123), Qt::UTC),
                      "01234\r",
                      "late\r",
                      21ms,
                      Outcome::NotSent,
                      {},
                      {}};
    const Verdict verdict = judgeReply(answered.step.text, answered.reply);
    answered.outcome = verdict.outcome;
    answered.status = verdict.status;
    answered.reading = verdict.reading;
    QByteArray line = sendoutput::format(answered, {true, false, false, false});
    QVERIFY(line.endsWith('\n') && line.count('\n') == 1);
    QJsonParseError error;
    QJsonObject object = QJsonDocument::fromJson(line, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.value(u"time").toString(), QStringLiteral("2026-12-08T18:00:00.123Z"));
    QCOMPARE(object.value(u"name").toString(), QStringLiteral("l1-time"));
    QCOMPARE(object.value(u"command").toString(), QStringLiteral("TLTT   1"));
    QCOMPARE(object.value(u"outcome").toString(), QStringLiteral("answered"));
    QCOMPARE(object.value(u"discarded").toString(), QStringLiteral("late\r"));
    QCOMPARE(object.value(u"dump").toString(), QStringLiteral(" 0 1 2 3 4 CR "));
    // A number a monitor can compare, not the panel's spaced text.
    QVERIFY(object.value(u"reading").toObject().value(u"hours").isDouble());
    QCOMPARE(object.value(u"reading").toObject().value(u"hours").toInt(), 1234);
    QCOMPARE(object.value(u"answered").toBool(), true);

    Exchange silent = answered;
    silent.reply.clear();
    silent.outcome = Outcome::Unanswered;
    silent.status.reset();
    silent.reading.reset();
    object = QJsonDocument::fromJson(sendoutput::format(silent, {true, false, false, false})).object();
    QVERIFY(object.value(u"status").isNull() && object.value(u"reading").isNull());
    QCOMPARE(object.value(u"answered").toBool(true), false);
    QCOMPARE(object.value(u"dump").toString(), QStringLiteral(" X X X X"));
}

void TestSendUnits::plainLinesCarryPortTimeAndDump()
{
    Exchange exchange{QStringLiteral("socket://[::1]:4001"),
                      commands::Step{QStringLiteral("reversal"), "CR4", 2000ms},
                      QDateTime(QDate(2026, 12, 8), QTime(18, 0, 0, 5), Qt::UTC),
                      "10\r",
                      {},
                      3ms,
                      Outcome::Answered,
                      QByteArray(" Top/Bottom reversal"),
                      {}};
    QCOMPARE(sendoutput::format(exchange, {}), QByteArray("reversal: Top/Bottom reversal\n"));
    QCOMPARE(sendoutput::format(exchange, {false, true, true, true}),
             QByteArray("2026-12-08T18:00:00.005Z socket://[::1]:4001: TXD C R 4 CR \n"
                        "2026-12-08T18:00:00.005Z socket://[::1]:4001: RXD 1 0 CR \n"
                        "2026-12-08T18:00:00.005Z socket://[::1]:4001: reversal: Top/Bottom reversal\n"));
    // Every command has its line, so that later lines do not shift.
    Exchange silent = exchange;
    silent.reply.clear();
    silent.outcome = Outcome::Unanswered;
    silent.status.reset();
    QCOMPARE(sendoutput::format(silent, {}), QByteArray("reversal: no reply within 2000 ms\n"));
    QCOMPARE(sendoutput::format(silent, {false, true, false, false}),
             QByteArray("TXD C R 4 CR \nRXD X X X X\nreversal: no reply within 2000 ms\n"));
    silent.outcome = Outcome::NotSent;
    QCOMPARE(sendoutput::format(silent, {false, true, false, false}), QByteArray("reversal: not sent\n"));
}

void TestSendUnits::exitStatusOfARun_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("everyCommandAnswered") << QByteArray("\x06\r") << true << 0 << "";
    QTest::newRow("noReply") << QByteArray() << true << 1 << "/fake: power-on drew no reply within 500 ms";
    QTest::newRow("refused") << QByteArray("ERR\r") << true << 3 << "/fake: power-on: the projector refused";
    QTest::newRow("notUnderstood") << QByteArray("0000\r") << true << 3
                                   << "/fake: power-on: the reply \"0000\"";
    QTest::newRow("portDoesNotOpen") << QByteArray("\x06\r") << false << 2
                                     << "/fake: No such file or directory";
    QTest::newRow("settingsRefused") << QByteArray("refuse") << true << 2
                                     << "/fake: the server kept 9600,N,8,1";
}

void TestSendUnits::exitStatusOfARun()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, opens);
    QFETCH(int, status);
    QFETCH(QString, said);
    QString error;
    const auto request = SendRequest::parse({"--port", "/fake", "power-on"}, &error);
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
    // A command that never went out still has its line.
    QCOMPARE(output.data().startsWith("power-on: not sent"), !opens);
    QVERIFY2(QString::fromLocal8Bit(errors.data()).contains(said), errors.data().constData());
}

void TestSendUnits::roundsRepeatAndStop()
{
    QString error;
    const auto request = SendRequest::parse(
        {"--port", "/a", "--port", "/b", "--every", "0.1", "--count", "3", "pj-status"}, &error);
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
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z /(a|b): pj-status: Normal$"));
    for (const QByteArray &line : lines)
        QVERIFY2(shape.match(QString::fromUtf8(line)).hasMatch(), line.constData());
}

QTEST_GUILESS_MAIN(TestSendUnits)
#include "tst_sendunits.moc"
