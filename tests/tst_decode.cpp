// Reply decoding: routing by the command sent last, fields by dump position, every decoder.
#include "decoders.h"
#include "replyrouter.h"
#include "trafficdump.h"

#include <QTest>

#include <limits>

namespace {

// What the status line shows when no decoder wrote to it.
const QByteArray kUnchanged = "<unchanged>";

// Decodes a reply batch by batch, as the receive path does, over the growing
// dump, and returns what the status line shows after each batch.
QList<QByteArray> statusLines(const QByteArray &command, const QList<QByteArray> &batches)
{
    const QByteArray prefix;
    ReplyRouter router(prefix);
    TrafficDump dump;
    QByteArray shown = kUnchanged;
    QList<QByteArray> lines;
    for (const QByteArray &batch : batches) {
        dump.append(batch);
        if (const auto text = router.decode(command + '\r', dump.text(), !lines.isEmpty()))
            shown = *text;
        lines.append(shown);
    }
    return lines;
}

QByteArray patternByRule(int mode, int lamps)
{
    static const char *const modes[] = {"4 Lamp mode", "2 Lamp mode(1,4)", "2 Lamp mode(2,3)"};
    QByteArray part;
    if (lamps == 0) {
        part = " All OFF : ";
    } else if (lamps == 15) {
        part = " All ON  : ";
    } else {
        QByteArrayList on;
        for (int lamp = 1; lamp <= 4; ++lamp) {
            if (lamps & (1 << (lamp - 1)))
                on.append(QByteArray::number(lamp));
        }
        part = " No" + on.join(',') + " ON  : ";
    }
    return part + modes[mode];
}

} // namespace

class TestDecode : public QObject
{
    Q_OBJECT

private slots:
    void statusLine_data();
    void statusLine();
    void replyInPieces_data();
    void replyInPieces();
    void everyLampPatternByTheRule();
    void leadingNumber_data();
    void leadingNumber();
    void newDumpIsReadAnew();
    void pressureValueIsKept();
};

void TestDecode::statusLine_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("status");

    // Projector status: the fourth reply character.
    QTest::newRow("statusNormal") << QByteArray("TABN   1") << QByteArray("0000\r") << QByteArray(" Normal");
    QTest::newRow("statusLampLife") << QByteArray("TABN   1") << QByteArray("0008\r")
                                    << QByteArray(" Lamp Life 5% or less");
    QTest::newRow("statusTempHigh") << QByteArray("TABN   1") << QByteArray("0001\r")
                                    << QByteArray(" Temp High");
    QTest::newRow("statusFanError") << QByteArray("TABN   1") << QByteArray("0002\r")
                                    << QByteArray(" Fan Err");
    QTest::newRow("statusFourUnknown") << QByteArray("TABN   1") << QByteArray("0004\r") << kUnchanged;
    QTest::newRow("statusNineUnknown") << QByteArray("TABN   1") << QByteArray("0009\r") << kUnchanged;
    QTest::newRow("statusLetterUnknown") << QByteArray("TABN   1") << QByteArray("000A\r") << kUnchanged;
    QTest::newRow("statusTwoDigitCodeUnreached")
        << QByteArray("TABN   1") << QByteArray("16\r") << kUnchanged;
    QTest::newRow("statusEmptyReply") << QByteArray("TABN   1") << QByteArray("\r") << kUnchanged;
    QTest::newRow("ackShiftsFields") << QByteArray("TABN   1")
                                     << QByteArray("\x06"
                                                   "018\r")
                                     << QByteArray(" Temp High");
    QTest::newRow("typedLowerCaseNotDecoded") << QByteArray("tabn   1") << QByteArray("0000\r") << kUnchanged;
    QTest::newRow("trailingSpaceNotDecoded") << QByteArray("CR4 ") << QByteArray("10\r") << kUnchanged;
    QTest::newRow("commandOutsideTable") << QByteArray("LNZO+001") << QByteArray("0000\r") << kUnchanged;

    // One reply, three commands, three readings.
    QTest::newRow("sameReplyAsStatus")
        << QByteArray("TABN   1") << QByteArray("0001\r") << QByteArray(" Temp High");
    QTest::newRow("sameReplyAsLamp1")
        << QByteArray("TLPS   1") << QByteArray("0001\r") << QByteArray("LAMP 1 ON");
    QTest::newRow("sameReplyAsLamp2")
        << QByteArray("TLPS   2") << QByteArray("0001\r") << QByteArray("LAMP 2 ON");
    QTest::newRow("lamp1Off") << QByteArray("TLPS   1") << QByteArray("0000\r") << QByteArray("LAMP 1 OFF");
    QTest::newRow("lamp2Error") << QByteArray("TLPS   2") << QByteArray("0004\r")
                                << QByteArray(" Lamp 2 Error");
    QTest::newRow("lampRetry") << QByteArray("TLPS   1") << QByteArray("0002\r") << QByteArray(" Retry");
    QTest::newRow("lampWaiting") << QByteArray("TLPS   2") << QByteArray("0003\r") << QByteArray(" Waiting");
    QTest::newRow("lampFiveUnknown") << QByteArray("TLPS   1") << QByteArray("0005\r") << kUnchanged;

    // Power state: the first reply character.
    QTest::newRow("powerOn") << QByteArray("POWR????") << QByteArray("1\r") << QByteArray(" ON");
    QTest::newRow("powerStandby") << QByteArray("POWR????") << QByteArray("0\r") << QByteArray(" Standby");
    QTest::newRow("powerAfterAckUnknown") << QByteArray("POWR????")
                                          << QByteArray("\x06"
                                                        "1\r")
                                          << kUnchanged;

    // Lamp pattern: mode digit and pattern digit.
    QTest::newRow("patternOutsideModePair")
        << QByteArray("CR7") << QByteArray("1A\r") << QByteArray(" No2,4 ON  : 2 Lamp mode(1,4)");
    QTest::newRow("patternMixed") << QByteArray("CR7") << QByteArray("05\r")
                                  << QByteArray(" No1,3 ON  : 4 Lamp mode");
    QTest::newRow("patternAllOff") << QByteArray("CR7") << QByteArray("20\r")
                                   << QByteArray(" All OFF : 2 Lamp mode(2,3)");
    QTest::newRow("patternModeThreeUnknown") << QByteArray("CR7") << QByteArray("3F\r") << kUnchanged;
    QTest::newRow("patternLowerCaseUnknown") << QByteArray("CR7") << QByteArray("0a\r") << kUnchanged;
    QTest::newRow("patternOneDigitReadsCarriageReturn")
        << QByteArray("CR7") << QByteArray("0\r") << QByteArray(" No3,4 ON  : 4 Lamp mode");

    // Image reversal and mute.
    QTest::newRow("reversalTopBottom")
        << QByteArray("CR4") << QByteArray("10\r") << QByteArray(" Top/Bottom reversal");
    QTest::newRow("reversalLeftRight")
        << QByteArray("CR4") << QByteArray("01\r") << QByteArray(" Left/Right reversal");
    QTest::newRow("reversalBoth") << QByteArray("CR4") << QByteArray("00\r")
                                  << QByteArray(" Top/Bottom , Left/Right reversal");
    QTest::newRow("reversalNone") << QByteArray("CR4") << QByteArray("11\r") << QByteArray(" Normally");
    QTest::newRow("muteBoth") << QByteArray("CRA") << QByteArray("03\r")
                              << QByteArray(" Video & Audio mute ON");
    QTest::newRow("muteOffSameReplyAsReversal")
        << QByteArray("CRA") << QByteArray("00\r") << QByteArray(" Video & Audio mute OFF");
    QTest::newRow("muteStandby") << QByteArray("CRA") << QByteArray("FF\r") << QByteArray(" Stand by");
    QTest::newRow("muteNoSignal") << QByteArray("CRA") << QByteArray("80\r") << QByteArray(" No signal");
    QTest::newRow("muteLowerCaseUnknown") << QByteArray("CRA") << QByteArray("ff\r") << kUnchanged;
    QTest::newRow("muteFourUnknown") << QByteArray("CRA") << QByteArray("04\r") << kUnchanged;

    // Lamp hours: the leading field of 38, the first 19 reply characters.
    QTest::newRow("hoursFiveDigits") << QByteArray("TLTT   1") << QByteArray("01234\r")
                                     << QByteArray(" 0 1 2 3 4 CR  Hour Use");
    QTest::newRow("hoursSameForLamp2")
        << QByteArray("TLTT   2") << QByteArray("01234\r") << QByteArray(" 0 1 2 3 4 CR  Hour Use");
    QTest::newRow("hoursEighteenKeepC") << QByteArray("TLTT   1") << QByteArray("ABCDEFGHIJKLMNOPQR\r")
                                        << QByteArray(" A B C D E F G H I J K L M N O P Q R C Hour Use");
    QTest::newRow("hoursNineteenCut") << QByteArray("TLTT   1") << QByteArray("ABCDEFGHIJKLMNOPQRS\r")
                                      << QByteArray(" A B C D E F G H I J K L M N O P Q R S Hour Use");
    QTest::newRow("hoursLongerCut") << QByteArray("TLTT   2") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVW\r")
                                    << QByteArray(" A B C D E F G H I J K L M N O P Q R S Hour Use");

    // Temperatures: reply characters 1 to 5 and 8 to 11.
    QTest::newRow("temperatures") << QByteArray("CR6") << QByteArray("025.5,031.5\r")
                                  << QByteArray("  S1= 0 2 5 . 5 C  ,   S2=  3 1 . 5 C");
    QTest::newRow("temperaturesShortReply")
        << QByteArray("CR6") << QByteArray("025\r") << QByteArray("  S1= 0 2 5 CR  C  ,   S2=  C");

    // Echo: the dump as the received line shows it.
    QTest::newRow("echoControlCodes")
        << QByteArray("CR9") << QByteArray("\x06V1\n\x01\r") << QByteArray(" ACK V 1 LF ? CR ");

    // Pressure: the leading number of the dump, in hPa.
    QTest::newRow("pressurePlusSign")
        << QByteArray("CR PRESSURE") << QByteArray("+512") << QByteArray("650 hPa");
    QTest::newRow("pressureMinusZero")
        << QByteArray("CR PRESSURE") << QByteArray("-0") << QByteArray("106 hPa");
    QTest::newRow("pressureFraction")
        << QByteArray("CR PRESSURE") << QByteArray("0512.4") << QByteArray("650 hPa");
    QTest::newRow("pressureExponent")
        << QByteArray("CR PRESSURE") << QByteArray("1E3") << QByteArray("1169 hPa");
    QTest::newRow("pressureHexadecimal")
        << QByteArray("CR PRESSURE") << QByteArray("&H1F") << QByteArray("139 hPa");
    QTest::newRow("pressureWorkedFive")
        << QByteArray("CR PRESSURE") << QByteArray("0005\r") << QByteArray("111 hPa");
    QTest::newRow("pressureWorkedTop")
        << QByteArray("CR PRESSURE") << QByteArray("1023\r") << QByteArray("1194 hPa");
    QTest::newRow("pressureHalfDownToEven")
        << QByteArray("CR PRESSURE") << QByteArray("2.5") << QByteArray("108 hPa");
    QTest::newRow("pressureHalfUpToEven")
        << QByteArray("CR PRESSURE") << QByteArray("3.5") << QByteArray("110 hPa");
    QTest::newRow("pressureHighestReading")
        << QByteArray("CR PRESSURE") << QByteArray("6553") << QByteArray("7077 hPa");
    QTest::newRow("pressureLowestReading")
        << QByteArray("CR PRESSURE") << QByteArray("-6553") << QByteArray("-6865 hPa");
    QTest::newRow("pressureProductOverflows")
        << QByteArray("CR PRESSURE") << QByteArray("6554") << kUnchanged;
    QTest::newRow("pressureBelowRange") << QByteArray("CR PRESSURE") << QByteArray("-6554") << kUnchanged;
    QTest::newRow("pressureHuge") << QByteArray("CR PRESSURE") << QByteArray("99999999999999999999")
                                  << kUnchanged;
    QTest::newRow("pressureHugeExponent") << QByteArray("CR PRESSURE") << QByteArray("1E999") << kUnchanged;
    QTest::newRow("pressureHexBeyondSixteenBits")
        << QByteArray("CR PRESSURE") << QByteArray("&HFFFF") << kUnchanged;
    QTest::newRow("pressureAfterAckReadsZero") << QByteArray("CR PRESSURE")
                                               << QByteArray("\x06"
                                                             "512\r")
                                               << QByteArray("106 hPa");
}

void TestDecode::statusLine()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, status);
    QCOMPARE(statusLines(command, {reply}).last(), status);
}

void TestDecode::replyInPieces_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QList<QByteArray>>("batches");
    QTest::addColumn<QList<QByteArray>>("statuses");

    QTest::newRow("statusFieldArrivesLate") << QByteArray("TABN   1") << QList<QByteArray>{"000", "8\r"}
                                            << QList<QByteArray>{kUnchanged, " Lamp Life 5% or less"};
    QTest::newRow("pressureDigitsSoFar") << QByteArray("CR PRESSURE") << QList<QByteArray>{"05", "12\r"}
                                         << QList<QByteArray>{"111 hPa", "650 hPa"};
    QTest::newRow("patternWaitsForSecondDigit") << QByteArray("CR7") << QList<QByteArray>{"0", "F\r"}
                                                << QList<QByteArray>{kUnchanged, " All ON  : 4 Lamp mode"};
    QTest::newRow("hoursGrow") << QByteArray("TLTT   1") << QList<QByteArray>{"01", "2\r"}
                               << QList<QByteArray>{" 0 1  Hour Use", " 0 1 2 CR  Hour Use"};
    QTest::newRow("laterPieceMatchesNothing")
        << QByteArray("TLPS   1") << QList<QByteArray>{"0001", "\r", "9"}
        << QList<QByteArray>{"LAMP 1 ON", "LAMP 1 ON", "LAMP 1 ON"};
}

void TestDecode::replyInPieces()
{
    QFETCH(QByteArray, command);
    QFETCH(QList<QByteArray>, batches);
    QFETCH(QList<QByteArray>, statuses);
    QCOMPARE(statusLines(command, batches), statuses);
}

void TestDecode::everyLampPatternByTheRule()
{
    const char digits[] = "0123456789ABCDEF";
    for (int mode = 0; mode < 3; ++mode) {
        for (int lamps = 0; lamps < 16; ++lamps) {
            const QByteArray reply = QByteArray::number(mode) + digits[lamps] + '\r';
            QCOMPARE(statusLines("CR7", {reply}).last(), patternByRule(mode, lamps));
        }
    }
}

void TestDecode::leadingNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("number");

    QTest::newRow("blanksInsideSkipped") << QByteArray(" 1 2\t3\n4") << 1234.0;
    QTest::newRow("noNumber") << QByteArray(" ACK 5") << 0.0;
    QTest::newRow("emptyText") << QByteArray() << 0.0;
    QTest::newRow("signAlone") << QByteArray("-") << 0.0;
    QTest::newRow("pointFirst") << QByteArray(".5") << 0.5;
    QTest::newRow("secondPointStops") << QByteArray("1.2.3") << 1.2;
    QTest::newRow("exponentD") << QByteArray("1D2") << 100.0;
    QTest::newRow("exponentNegative") << QByteArray("15E-1") << 1.5;
    QTest::newRow("exponentWithoutDigits") << QByteArray("12E") << 12.0;
    QTest::newRow("exponentTooSmall") << QByteArray("1E-999") << 0.0;
    QTest::newRow("longMantissaHugeDespiteNegativeExponent")
        << QByteArray("1" + QByteArray(400, '0') + "E-5") << std::numeric_limits<double>::infinity();
    QTest::newRow("longFractionTinyDespitePositiveExponent")
        << QByteArray("." + QByteArray(400, '0') + "1E5") << 0.0;
    QTest::newRow("longNegativeMantissaHuge")
        << QByteArray("-" + QByteArray(400, '9')) << -std::numeric_limits<double>::infinity();
    QTest::newRow("longMantissaBroughtBackByExponent")
        << QByteArray("1" + QByteArray(900, '0') + "E-900") << 1.0;
    // 1 + 2^-53 lies halfway between two doubles and goes to the even one, 1; a
    // digit that is not 0 far behind it tips it up to the next one.
    const QByteArray halfway = "1.00000000000000011102230246251565404236316680908203125";
    QTest::newRow("halfwayOverLongZeros") << QByteArray(halfway + QByteArray(900, '0')) << 1.0;
    QTest::newRow("halfwayTippedByFarDigit")
        << QByteArray(halfway + QByteArray(900, '0') + '1') << 1.0000000000000002;
    QTest::newRow("octal") << QByteArray("&O17") << 15.0;
    QTest::newRow("hexLowerCase") << QByteArray("&hff") << 255.0;
    QTest::newRow("ampersandAlone") << QByteArray("&12") << 0.0;
    QTest::newRow("stopsAtLetter") << QByteArray("42 CR") << 42.0;
}

void TestDecode::leadingNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(double, number);
    // Exactly: QCOMPARE would take neighbouring doubles as equal.
    const double inOneGo = decode::leadingNumber(text);
    QVERIFY2(inOneGo == number, qPrintable(QString::number(inOneGo, 'g', 17)));

    // Read as the receive path reads it: on from where the last read stopped,
    // one character more each time, each read giving the number of the text so far.
    decode::LeadingNumberReader reader;
    for (qsizetype length = 0; length <= text.size(); ++length) {
        const QByteArrayView soFar = QByteArrayView(text).first(length);
        const double expected = decode::leadingNumber(soFar);
        const double read = reader.read(soFar);
        QVERIFY2(read == expected,
                 qPrintable(QStringLiteral("after %1 characters: %2 read on, %3 read in one go")
                                .arg(length)
                                .arg(read)
                                .arg(expected)));
    }
}

// A dump that is not grown is read from its start, whatever the dump before it
// held and whichever decoder it went to.
void TestDecode::newDumpIsReadAnew()
{
    const QByteArray prefix;
    ReplyRouter router(prefix);
    QCOMPARE(router.decode("CR PRESSURE\r", TrafficDump::of("0512\r")), QByteArray("650 hPa"));
    QCOMPARE(router.decode("CR PRESSURE\r", TrafficDump::of("5\r0000"), false), QByteArray("111 hPa"));
    QCOMPARE(router.decode("TABN   1\r", TrafficDump::of("7"), false), std::nullopt);
    QCOMPARE(router.decode("CR PRESSURE\r", TrafficDump::of("7\r"), true), QByteArray("113 hPa"));
}

void TestDecode::pressureValueIsKept()
{
    const QByteArray prefix;
    ReplyRouter router(prefix);
    QCOMPARE(router.pressureValue(), 0);
    QVERIFY(router.decode("CR PRESSURE\r", TrafficDump::of("512\r")));
    QCOMPARE(router.pressureValue(), 650);
    QVERIFY(!router.decode("CR PRESSURE\r", TrafficDump::of("7000\r")));
    QCOMPARE(router.pressureValue(), 650);
}

QTEST_APPLESS_MAIN(TestDecode)
#include "tst_decode.moc"
