// Typed readings: only well-formed replies give one, and it says what the panel's status line says.
#include "codetables.h"
#include "readings.h"
#include "replyrouter.h"
#include "trafficdump.h"

#include <QJsonDocument>
#include <QSet>
#include <QTest>

using namespace decode;

namespace {

int lampOfRoute(const Route &route)
{
    return route.command.back() - '0';
}

QByteArray bytesOf(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// Whether the panel's status text for the same reply says what the reading says.
bool agrees(const Reading &reading, const Route &route, const QByteArray &reply, const QByteArray &panel)
{
    if (const auto *status = std::get_if<ProjectorStatusReading>(&reading))
        return panel == bytesOf(status->text) && reply[3] == status->code;
    if (const auto *lamp = std::get_if<LampStateReading>(&reading)) {
        const auto &table = lamp->lamp == 1 ? kLamp1State : kLamp2State;
        const CodeText &row = table[std::size_t(lamp->state)];
        return lamp->lamp == lampOfRoute(route) && panel == bytesOf(row.text) && reply[3] == row.code[0];
    }
    if (const auto *power = std::get_if<PowerReading>(&reading))
        return panel == (power->on ? " ON" : " Standby");
    if (const auto *reversal = std::get_if<ReversalReading>(&reading))
        return panel.contains("Top/Bottom") == reversal->topBottom &&
               panel.contains("Left/Right") == reversal->leftRight;
    if (const auto *mute = std::get_if<MuteSignalReading>(&reading)) {
        const bool muteNamed = panel.contains("mute");
        const bool muteOn = panel.endsWith(" ON");
        return mute->standby == (panel == " Stand by") && mute->noSignal == (panel == " No signal") &&
               mute->videoMute.has_value() == muteNamed && mute->audioMute.has_value() == muteNamed &&
               mute->videoMute.value_or(false) == (muteOn && panel.contains("Video")) &&
               mute->audioMute.value_or(false) == (muteOn && panel.contains("Audio"));
    }
    if (const auto *pattern = std::get_if<LampPatternReading>(&reading)) {
        const QByteArray lamps = panel.left(panel.indexOf(':'));
        for (int i = 0; i < 4; ++i) {
            if (pattern->on[i] != (lamps.contains("All ON") || lamps.contains(char('1' + i))))
                return false;
        }
        return panel.endsWith(bytesOf(kLampModeParts[std::size_t(pattern->mode)]));
    }
    if (const auto *hours = std::get_if<LampHoursReading>(&reading)) {
        QByteArray digits = panel;
        digits.replace(' ', "");
        const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        digits.truncate(std::find_if_not(digits.begin(), digits.end(), isDigit) - digits.begin());
        return hours->lamp == lampOfRoute(route) && digits.toLongLong() == hours->hours;
    }
    if (const auto *temperatures = std::get_if<TemperaturesReading>(&reading)) {
        const qsizetype from = panel.indexOf("S1=") + 3;
        QByteArray s1 = panel.mid(from, panel.indexOf(" C  ,") - from);
        return s1.replace(' ', "").toDouble() == temperatures->s1;
    }
    if (const auto *pressure = std::get_if<PressureReading>(&reading))
        return panel == QByteArray::number(pressure->hectopascals) + " hPa";
    const auto &echo = std::get<EchoReading>(reading);
    return panel == TrafficDump::of(echo.text + '\r');
}

// Replies for every query: the simulator's, edge values, every fourth
// character of a status, and every pair of hexadecimal digits in both cases,
// which holds each two-character code.
QList<QByteArray> sampleReplies()
{
    QList<QByteArray> replies;
    for (const char *body :
         {"", "0", "1", "7", "000", "00011", "01234", "999999999999999999", "025.5,031.5", "-05.5,131.5",
          "100.0,099.9", "0512", "+0512.4", "-6553", "6553", "QVX-SIM 1.40", "ERR", "\x06", "{|}~"})
        replies.append(QByteArray(body) + '\r');
    const QByteArray digits = "0123456789ABCDEFabcdef";
    for (const char first : digits) {
        replies.append("000" + QByteArray(1, first) + '\r');
        for (const char second : digits)
            replies.append(QByteArray(1, first) + second + '\r');
    }
    return replies;
}

} // namespace

class TestReadings : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void readingAgreesWithPanel();
};

void TestReadings::reading_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    // The reading's compact JSON, or empty for no reading.
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *name, const char *query, const QByteArray &reply, const char *json,
                        const QString &text = {}) {
        QTest::newRow(name) << QByteArray(query) << reply << QByteArray(json) << text;
    };
    row("statusNormal", "TABN   1", "0000\r", R"({"fault":false,"status":"Normal","status_code":"0"})",
        "Normal");
    row("statusLampLife", "TABN   1", "0008\r",
        R"({"fault":true,"status":"Lamp Life 5% or less","status_code":"8"})", "Lamp Life 5% or less");
    row("statusFourthOfFive", "TABN   1", "00021\r", R"({"fault":true,"status":"Fan Err","status_code":"2"})",
        "Fan Err");
    row("lamp1On", "TLPS   1", "0001\r", R"({"fault":false,"lamp":1,"state":"on"})", "on");
    row("lamp2Error", "TLPS   2", "0004\r", R"({"fault":true,"lamp":2,"state":"error"})", "error");
    row("powerStandby", "POWR????", "0\r", R"({"on":false})", "standby");
    row("reversalTopBottom", "CR4", "10\r", R"({"left_right_reversed":false,"top_bottom_reversed":true})",
        "reversed top to bottom");
    row("reversalNone", "CR4", "11\r", R"({"left_right_reversed":false,"top_bottom_reversed":false})",
        "not reversed");
    row("muteVideo", "CRA", "01\r",
        R"({"audio_mute":false,"no_signal":false,"standby":false,"video_mute":true})", "video mute on");
    row("standbyGivesNoMuteState", "CRA", "FF\r",
        R"({"audio_mute":null,"no_signal":false,"standby":true,"video_mute":null})", "standby");
    row("patternOutsideModePair", "CR7", "1A\r",
        R"j({"lamps_on":[false,true,false,true],"mode":1,"mode_text":"2 Lamp mode(1,4)"})j",
        "lamps 2, 4 on, 2 Lamp mode(1,4)");
    row("patternAllOff", "CR7", "20\r",
        R"j({"lamps_on":[false,false,false,false],"mode":2,"mode_text":"2 Lamp mode(2,3)"})j",
        "no lamp on, 2 Lamp mode(2,3)");
    row("hoursLamp2", "TLTT   2", "01234\r", R"({"hours":1234,"lamp":2})", "1234 h");
    row("hoursEighteenDigitsExact", "TLTT   1", "999999999999999999\r",
        R"({"hours":999999999999999999,"lamp":1})", "999999999999999999 h");
    row("temperaturesKeepS2Hundreds", "CR6", "025.5,131.5\r", R"({"s1_c":25.5,"s2_c":131.5})",
        QStringLiteral("S1 25.5 \u00b0C, S2 131.5 \u00b0C"));
    row("temperaturesNegative", "CR6", "-05.5,000.0\r", R"({"s1_c":-5.5,"s2_c":0})",
        QStringLiteral("S1 -5.5 \u00b0C, S2 0 \u00b0C"));
    row("pressure", "CR PRESSURE", "0512\r", R"({"pressure_hpa":650,"reading":512})", "650 hPa");
    row("pressureSignedFraction", "CR PRESSURE", "-6553.4\r", R"({"pressure_hpa":-6865,"reading":-6553})",
        "-6865 hPa");
    row("echo", "CR9", "QVX-SIM 1.40\r", R"({"text":"QVX-SIM 1.40"})", "QVX-SIM 1.40");

    row("statusCutShort", "TABN   1", "0000", "");
    row("statusUnreachableCode", "TABN   1", "0004\r", "");
    row("statusTooShort", "TABN   1", "000\r", "");
    row("statusAfterAck", "TABN   1",
        "\x06"
        "018\r",
        "");
    row("lampNoiseByte", "TLPS   1",
        "0\xff"
        "01\r",
        "");
    row("lampStateFive", "TLPS   2", "0005\r", "");
    row("powerTwoCharacters", "POWR????", "10\r", "");
    row("powerAckOnly", "POWR????", "\x06", "");
    row("powerError", "POWR????", "ERR\r", "");
    row("reversalSecondCr", "CR4", "10\r\r", "");
    row("reversalCrInside", "CR4", "1\r0\r", "");
    row("muteLowerCase", "CRA", "ff\r", "");
    row("muteUnknownCode", "CRA", "04\r", "");
    row("patternLowerCase", "CR7", "0a\r", "");
    row("patternModeThree", "CR7", "3F\r", "");
    row("patternOneDigit", "CR7", "0\r", "");
    row("hoursNineteenDigits", "TLTT   1", "0000000000000001234\r", "");
    row("hoursLetter", "TLTT   1", "01a34\r", "");
    row("hoursEmpty", "TLTT   2", "\r", "");
    row("temperaturesCutShort", "CR6", "025.5,031.5", "");
    row("temperaturesShort", "CR6", "025\r", "");
    row("temperaturesNoComma", "CR6", "025.5;031.5\r", "");
    row("temperaturesExponent", "CR6", "2.5e1,031.5\r", "");
    row("temperaturesBarePoint", "CR6", "025.5,0315.\r", "");
    row("pressureOutOfRange", "CR PRESSURE", "6554\r", "");
    row("pressureExponent", "CR PRESSURE", "1E3\r", "");
    row("pressureHexadecimal", "CR PRESSURE", "&H1F\r", "");
    row("pressureBlank", "CR PRESSURE", " 512\r", "");
    row("pressureCutShort", "CR PRESSURE", "0512", "");
    row("echoError", "CR9", "ERR\r", "");
    row("echoLineFeed", "CR9", "V1\n\r", "");
    row("queryLowerCase", "tabn   1", "0000\r", "");
    row("queryTrailingSpace", "CR4 ", "10\r", "");
}

void TestReadings::reading()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, json);
    QFETCH(QString, text);

    const auto reading = readingOf(query, reply);
    QVERIFY2(reading.has_value() == !json.isEmpty(),
             reading ? "a reading of a malformed reply" : "no reading");
    if (!reading)
        return;
    const QJsonObject object = toJson(*reading);
    QCOMPARE(QJsonDocument(object).toJson(QJsonDocument::Compact), json);
    QCOMPARE(plainText(*reading), text);
    QCOMPARE(isFault(*reading), object.value("fault").toBool());
}

void TestReadings::readingAgreesWithPanel()
{
    QSet<QByteArray> queriesRead;
    for (const QByteArray &reply : sampleReplies()) {
        for (const Route &route : kRoutes) {
            const auto reading = readingOf(bytesOf(route.command), reply);
            if (!reading)
                continue;
            queriesRead.insert(bytesOf(route.command));
            const QByteArray prefix;
            ReplyRouter router(prefix);
            const auto panel = router.decode(bytesOf(route.command) + '\r', TrafficDump::of(reply));
            const QByteArray where = bytesOf(route.command) + " / " + reply.toPercentEncoding() + ": ";
            QVERIFY2(panel.has_value(), where + "the panel shows nothing");
            QVERIFY2(agrees(*reading, route, reply, *panel), where + "the panel shows " + *panel);
        }
    }
    QCOMPARE(queriesRead.size(), qsizetype(kRoutes.size()));
}

QTEST_GUILESS_MAIN(TestReadings)
#include "tst_readings.moc"
