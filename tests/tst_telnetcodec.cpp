// Unit tests of the telnet and COM-PORT-OPTION codec used towards serial device servers.
#include "telnetcodec.h"

#include <QTest>

#include <initializer_list>

Q_DECLARE_METATYPE(TelnetCodec::ComPortState)
Q_DECLARE_METATYPE(std::vector<ComPortValue>)

namespace {

using namespace Telnet;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (const int value : values)
        result += char(value);
    return result;
}

QByteArray allByteValues()
{
    QByteArray all;
    for (int value = 0; value < 256; ++value)
        all += char(value);
    return all;
}

// A server's sending, mixing data, a doubled IAC, negotiation and two answers, one of whose values is 255.
QByteArray mixedStream()
{
    return "A" + bytes({kIac, kIac}) + "B" + bytes({kIac, kDo, kBinary, kIac, kWill, 1}) +
           bytes({kIac, kSb, kComPortOption, 101, 0x00, 0x01, 0xc2, 0x00, kIac, kSe}) + "C" +
           bytes({kIac, kSb, kComPortOption, 102, kIac, kIac, kIac, kSe}) + "\r";
}

} // namespace

class TstTelnetCodec : public QObject
{
    Q_OBJECT

private slots:
    void encodeDoublesIac_data();
    void encodeDoublesIac();
    void decodeSplitAnywhere();
    void negotiation_data();
    void negotiation();
    void settingsRequest_data();
    void settingsRequest();
    void answers_data();
    void answers();
    void everyByteRoundTrip();
};

void TstTelnetCodec::encodeDoublesIac_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("framed");
    QTest::newRow("plainText") << QByteArray("POWR   1\r") << QByteArray("POWR   1\r");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("singleIac") << bytes({'A', kIac, 'B'}) << bytes({'A', kIac, kIac, 'B'});
    QTest::newRow("iacPair") << bytes({kIac, kIac}) << bytes({kIac, kIac, kIac, kIac});
    QTest::newRow("iacLast") << bytes({'A', kIac}) << bytes({'A', kIac, kIac});
    QTest::newRow("commandBytesStayData")
        << bytes({kSe, kSb, kWill, kDont}) << bytes({kSe, kSb, kWill, kDont});
}

void TstTelnetCodec::encodeDoublesIac()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, framed);
    QCOMPARE(TelnetCodec::encode(data), framed);
}

void TstTelnetCodec::decodeSplitAnywhere()
{
    const QByteArray stream = mixedStream();
    TelnetCodec whole;
    const TelnetCodec::Decoded expected = whole.decode(stream);
    QCOMPARE(expected.data, bytes({'A', kIac, 'B', 'C', '\r'}));
    QCOMPARE(expected.reply, bytes({kIac, kWill, kBinary, kIac, kDont, 1}));
    QCOMPARE(expected.answers, (std::vector<ComPortValue>{{1, 115200}, {2, 255}}));

    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        TelnetCodec codec;
        TelnetCodec::Decoded first = codec.decode(stream.left(cut));
        const TelnetCodec::Decoded second = codec.decode(stream.mid(cut));
        first.answers.insert(first.answers.end(), second.answers.begin(), second.answers.end());
        const QByteArray where = "cut at " + QByteArray::number(cut);
        QVERIFY2(first.data + second.data == expected.data, where);
        QVERIFY2(first.reply + second.reply == expected.reply, where);
        QVERIFY2(first.answers == expected.answers, where);
    }

    TelnetCodec byteWise;
    TelnetCodec::Decoded gathered;
    for (const char byte : stream) {
        const TelnetCodec::Decoded piece = byteWise.decode(QByteArrayView(&byte, 1));
        gathered.data += piece.data;
        gathered.reply += piece.reply;
        gathered.answers.insert(gathered.answers.end(), piece.answers.begin(), piece.answers.end());
    }
    QCOMPARE(gathered.data, expected.data);
    QCOMPARE(gathered.reply, expected.reply);
    QCOMPARE(gathered.answers, expected.answers);
}

void TstTelnetCodec::negotiation_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<TelnetCodec::ComPortState>("comPort");
    using S = TelnetCodec::ComPortState;
    constexpr int kEcho = 1;
    constexpr int kTerminalType = 24;

    QTest::newRow("refusesEchoDo") << true << bytes({kIac, kDo, kEcho}) << bytes({kIac, kWont, kEcho})
                                   << S::Pending;
    QTest::newRow("refusesTerminalTypeDo")
        << true << bytes({kIac, kDo, kTerminalType}) << bytes({kIac, kWont, kTerminalType}) << S::Pending;
    QTest::newRow("refusesEchoWill") << true << bytes({kIac, kWill, kEcho}) << bytes({kIac, kDont, kEcho})
                                     << S::Pending;
    QTest::newRow("refusesServerComPortWill")
        << true << bytes({kIac, kWill, kComPortOption}) << bytes({kIac, kDont, kComPortOption}) << S::Pending;
    QTest::newRow("acceptsBinaryDo") << false << bytes({kIac, kDo, kBinary}) << bytes({kIac, kWill, kBinary})
                                     << S::Pending;
    QTest::newRow("acceptsBinaryWill")
        << false << bytes({kIac, kWill, kBinary}) << bytes({kIac, kDo, kBinary}) << S::Pending;
    QTest::newRow("acceptsSuppressGoAhead")
        << true << bytes({kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead})
        << bytes({kIac, kDo, kSuppressGoAhead, kIac, kWill, kSuppressGoAhead}) << S::Pending;
    QTest::newRow("requestedBinaryDrawsNoReply")
        << true << bytes({kIac, kDo, kBinary, kIac, kWill, kBinary}) << QByteArray() << S::Pending;
    QTest::newRow("repeatedDoAnsweredOnce") << false << bytes({kIac, kDo, kBinary, kIac, kDo, kBinary})
                                            << bytes({kIac, kWill, kBinary}) << S::Pending;
    QTest::newRow("dontAfterDoSwitchesOff")
        << false << bytes({kIac, kDo, kBinary, kIac, kDont, kBinary})
        << bytes({kIac, kWill, kBinary, kIac, kWont, kBinary}) << S::Pending;
    QTest::newRow("dontForDisabledDrawsNoReply")
        << false << bytes({kIac, kDont, kEcho, kIac, kWont, kEcho}) << QByteArray() << S::Pending;
    QTest::newRow("comPortAccepted") << true << bytes({kIac, kDo, kComPortOption}) << QByteArray()
                                     << S::Accepted;
    QTest::newRow("comPortRefused") << true << bytes({kIac, kDont, kComPortOption}) << QByteArray()
                                    << S::Refused;
    QTest::newRow("comPortWithdrawn")
        << true << bytes({kIac, kDo, kComPortOption, kIac, kDont, kComPortOption})
        << bytes({kIac, kWont, kComPortOption}) << S::Refused;
    // What a ser2net telnet(rfc2217) accepter says as a client connects.
    QTest::newRow("serverGreeting") << true << bytes({kIac, kWill, kSuppressGoAhead,
                                                      kIac, kDo,   kSuppressGoAhead,
                                                      kIac, kWill, kEcho,
                                                      kIac, kDont, kEcho,
                                                      kIac, kDo,   kBinary,
                                                      kIac, kWill, kBinary,
                                                      kIac, kDo,   kComPortOption})
                                    << bytes({kIac, kDo, kSuppressGoAhead, kIac, kWill, kSuppressGoAhead,
                                              kIac, kDont, kEcho})
                                    << S::Accepted;
}

void TstTelnetCodec::negotiation()
{
    QFETCH(bool, started);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, reply);
    QFETCH(TelnetCodec::ComPortState, comPort);

    TelnetCodec codec;
    if (started)
        QCOMPARE(codec.start(),
                 bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPortOption}));
    const TelnetCodec::Decoded decoded = codec.decode(received);
    QCOMPARE(decoded.reply, reply);
    QVERIFY2(decoded.data.isEmpty(), decoded.data.toHex(' '));
    QCOMPARE(codec.comPortState(), comPort);
}

void TstTelnetCodec::settingsRequest_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QByteArray>("request");
    const auto sub = [](std::initializer_list<int> body) {
        return bytes({kIac, kSb, kComPortOption}) + bytes(body) + bytes({kIac, kSe});
    };
    QTest::newRow("speed9600") << QStringLiteral("9600,N,8,1")
                               << sub({1, 0x00, 0x00, 0x25, 0x80}) + sub({2, 8}) + sub({3, 1}) + sub({4, 1}) +
                                      sub({5, 1});
    QTest::newRow("speed115200") << QStringLiteral("115200,N,8,1")
                                 << sub({1, 0x00, 0x01, 0xc2, 0x00}) + sub({2, 8}) + sub({3, 1}) +
                                        sub({4, 1}) + sub({5, 1});
    QTest::newRow("evenSevenTwo") << QStringLiteral("19200,E,7,2")
                                  << sub({1, 0x00, 0x00, 0x4b, 0x00}) + sub({2, 7}) + sub({3, 3}) +
                                         sub({4, 2}) + sub({5, 1});
    QTest::newRow("oddOneAndHalf") << QStringLiteral("1200,O,5,1.5")
                                   << sub({1, 0x00, 0x00, 0x04, 0xb0}) + sub({2, 5}) + sub({3, 2}) +
                                          sub({4, 3}) + sub({5, 1});
    QTest::newRow("iacInSpeedDoubled") << QStringLiteral("16776960,N,8,1")
                                       << sub({1, 0x00, kIac, kIac, kIac, kIac, 0x00}) + sub({2, 8}) +
                                              sub({3, 1}) + sub({4, 1}) + sub({5, 1});
}

void TstTelnetCodec::settingsRequest()
{
    QFETCH(QString, settings);
    QFETCH(QByteArray, request);
    const auto line = LineSettings::parse(settings);
    QVERIFY(line);
    QCOMPARE(TelnetCodec::settingsRequest(*line).toHex(' '), request.toHex(' '));
}

void TstTelnetCodec::answers_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<std::vector<ComPortValue>>("answers");
    QTest::addColumn<QByteArray>("data");
    const auto sub = [](std::initializer_list<int> body) {
        return bytes({kIac, kSb, kComPortOption}) + bytes(body) + bytes({kIac, kSe});
    };
    using Answers = std::vector<ComPortValue>;
    QTest::newRow("speedAnswer") << sub({101, 0x00, 0x01, 0xc2, 0x00}) << Answers{{1, 115200}}
                                 << QByteArray();
    QTest::newRow("allFive") << sub({101, 0, 0, 0x25, 0x80}) + sub({102, 8}) + sub({103, 1}) + sub({104, 1}) +
                                    sub({105, 1})
                             << Answers{{1, 9600}, {2, 8}, {3, 1}, {4, 1}, {5, 1}} << QByteArray();
    QTest::newRow("iacInValueUndoubled")
        << sub({101, 0x00, kIac, kIac, 0x00, 0x00}) << Answers{{1, 0x00ff0000}} << QByteArray();
    QTest::newRow("modemStateNotice") << sub({107, 0x30}) << Answers{{7, 0x30}} << QByteArray();
    QTest::newRow("clientCommandIgnored") << sub({1, 0, 0, 0x25, 0x80}) << Answers{} << QByteArray();
    QTest::newRow("signatureIgnored") << sub({100, 'x', 'y'}) + "Z" << Answers{} << QByteArray("Z");
    QTest::newRow("otherOptionIgnored")
        << bytes({kIac, kSb, 24, 0, 'v', 't', kIac, kSe}) + "Z" << Answers{} << QByteArray("Z");
    QTest::newRow("overlongIgnored") << sub({101, 1, 2, 3, 4, 5}) << Answers{} << QByteArray();
    QTest::newRow("runawaySubnegotiationBounded")
        << bytes({kIac, kSb, kComPortOption, 101}) + QByteArray(4096, 'x') + bytes({kIac, kSe}) + "Z"
        << Answers{} << QByteArray("Z");
    QTest::newRow("cutShortByCommand")
        << bytes({kIac, kSb, kComPortOption, 101, 0, kIac, kIac, kIac, kDo, 1}) + "Z" << Answers{}
        << QByteArray("Z");
}

void TstTelnetCodec::answers()
{
    QFETCH(QByteArray, received);
    QFETCH(std::vector<ComPortValue>, answers);
    QFETCH(QByteArray, data);
    TelnetCodec codec;
    const TelnetCodec::Decoded decoded = codec.decode(received);
    QCOMPARE(decoded.answers, answers);
    QCOMPARE(decoded.data, data);
}

void TstTelnetCodec::everyByteRoundTrip()
{
    const QByteArray all = allByteValues();
    const QByteArray framed = TelnetCodec::encode(all);
    QCOMPARE(framed.size(), all.size() + 1);
    for (qsizetype cut = 0; cut <= framed.size(); ++cut) {
        TelnetCodec codec;
        const TelnetCodec::Decoded first = codec.decode(framed.left(cut));
        const TelnetCodec::Decoded second = codec.decode(framed.mid(cut));
        const QByteArray where = "cut at " + QByteArray::number(cut);
        QVERIFY2(first.data + second.data == all, where);
        QVERIFY2(first.reply.isEmpty() && second.reply.isEmpty(), where);
        QVERIFY2(first.answers.empty() && second.answers.empty(), where);
    }
}

QTEST_GUILESS_MAIN(TstTelnetCodec)
#include "tst_telnetcodec.moc"
