// The traffic dump: every token class, and the growing form the receive path uses.
#include "trafficdump.h"

#include <QTest>

class TestTrafficDump : public QObject
{
    Q_OBJECT

private slots:
    void tokens_data();
    void tokens();
    void growingDumpEqualsWholeDump_data();
    void growingDumpEqualsWholeDump();
    void everyByteValueGivesOneToken();
    void stopsAtTheLengthLimit();
    void clearedDumpLeavesItsTextToWhoKeptIt();
};

void TestTrafficDump::tokens_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("dump");

    QTest::newRow("emptyText") << QByteArray() << QByteArray(" ");
    QTest::newRow("commandSpacesDouble") << QByteArray("POWR   1\r") << QByteArray(" P O W R       1 CR ");
    QTest::newRow("shortQuery") << QByteArray("CR4\r") << QByteArray(" C R 4 CR ");
    QTest::newRow("ackHasFourCharacters") << QByteArray("\x06"
                                                        "018\r")
                                          << QByteArray(" ACK 0 1 8 CR ");
    QTest::newRow("code20IsBareAmpersand") << QByteArray("\x14\x14"
                                                         "A")
                                           << QByteArray(" &&A ");
    QTest::newRow("lineFeedNamed") << QByteArray("\n") << QByteArray(" LF ");
    QTest::newRow("otherControlsUnknown") << QByteArray("\x00\x01\x1f", 3) << QByteArray(" ? ? ? ");
    QTest::newRow("spaceAndZShown") << QByteArray(" z") << QByteArray("   z ");
    QTest::newRow("signsAfterZUnknown") << QByteArray("{|}~\x7f") << QByteArray(" ? ? ? ? ? ");
    QTest::newRow("highBytesUnknown") << QByteArray("\x80\xff\xe9") << QByteArray(" ? ? ? ");
    QTest::newRow("literalAmpersandShown") << QByteArray("&") << QByteArray(" & ");
    QTest::newRow("markupIsJustText") << QByteArray("<b>") << QByteArray(" < b > ");
}

void TestTrafficDump::tokens()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, dump);
    QCOMPARE(TrafficDump::of(text), dump);
}

void TestTrafficDump::growingDumpEqualsWholeDump_data()
{
    QTest::addColumn<QList<QByteArray>>("batches");

    QTest::newRow("replyInTwoPieces") << QList<QByteArray>{"12", "34\r"};
    QTest::newRow("byteByByte") << QList<QByteArray>{"\x06", "0", "1", "\x14", "\r"};
    QTest::newRow("emptyBatchBetween") << QList<QByteArray>{"AB", "", "C"};
}

void TestTrafficDump::growingDumpEqualsWholeDump()
{
    QFETCH(QList<QByteArray>, batches);
    TrafficDump growing;
    QByteArray whole;
    for (const QByteArray &batch : batches) {
        growing.append(batch);
        whole += batch;
        QCOMPARE(growing.text(), TrafficDump::of(whole));
    }
    growing.clear();
    QCOMPARE(growing.text(), QByteArray(" "));
    QCOMPARE(growing.characters(), 0);
}

void TestTrafficDump::everyByteValueGivesOneToken()
{
    for (int code = 0; code < 256; ++code) {
        const QByteArray dump = TrafficDump::of(QByteArray(1, char(code)));
        const QByteArray token = dump.mid(1);
        const bool known = token == "ACK " || token == "&" || token == "CR " || token == "LF " ||
                           token == "? " || (token.size() == 2 && token[0] == char(code) && token[1] == ' ');
        QVERIFY2(known,
                 qPrintable(QStringLiteral("code %1 gave \"%2\"").arg(code).arg(QString::fromLatin1(token))));
    }
}

void TestTrafficDump::stopsAtTheLengthLimit()
{
    TrafficDump dump;
    dump.append(QByteArray(TrafficDump::kMaxCharacters - 1, 'A'));
    dump.append("BC");
    QCOMPARE(dump.characters(), TrafficDump::kMaxCharacters);
    QVERIFY(dump.text().endsWith("A B "));
    dump.append("D");
    QCOMPARE(dump.text().size(), 1 + 2 * TrafficDump::kMaxCharacters);
}

// The received line keeps the dump RxBuffer held when it is emptied; the dump
// that starts anew, in the room kept for it, must not write into that text.
void TestTrafficDump::clearedDumpLeavesItsTextToWhoKeptIt()
{
    TrafficDump dump;
    dump.reserveLongest();
    const QByteArray full(TrafficDump::kMaxCharacters, '\x06');
    dump.append(full);
    const QByteArray kept = dump.text();
    dump.clear();
    QCOMPARE(dump.text(), QByteArray(" "));
    QCOMPARE(dump.characters(), 0);
    dump.append("AB");
    QCOMPARE(dump.text(), QByteArray(" A B "));
    QCOMPARE(kept, TrafficDump::of(full));
    dump.clear();
    dump.append(full);
    QCOMPARE(dump.text(), kept);
}

QTEST_APPLESS_MAIN(TestTrafficDump)
#include "tst_trafficdump.moc"
