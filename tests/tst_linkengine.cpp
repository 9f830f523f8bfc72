// The link engine's states: sends, receives, the reply and display windows.
#include "fakeline.h"
#include "linkengine.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

struct Decoded
{
    QByteArray lastCommand;
    QByteArray dump;
    bool grown;
};

// An engine on a fake line, with a decoder that records what it was given and
// answers with a fixed status text.
struct Rig
{
    FakeLine line;
    LinkEngine engine{line};
    QList<Decoded> decoded;

    Rig()
    {
        line.open();
        engine.reset();
        engine.setReplyDecoder([this](const QByteArray &command, const QByteArray &dump, bool grown) {
            decoded.append({command, dump, grown});
            return std::optional<QByteArray>(" decoded");
        });
    }

    void send(const QByteArray &text)
    {
        engine.setLastCommand(text);
        engine.hyouji(engine.lastCommand(), LinkEngine::kSend);
    }
};

} // namespace

class TestLinkEngine : public QObject
{
    Q_OBJECT

private slots:
    void sendWritesAndOpensBothWindows();
    void receivedBatchesGrowTheDump_data();
    void receivedBatchesGrowTheDump();
    void replyWindowEnd_data();
    void replyWindowEnd();
    void displayWindowClearsTheLines();
    void holdStepEndsTheStepBefore_data();
    void holdStepEndsTheStepBefore();
    void secondSendKeepsWhatWasGathered();
    void charactersWithNoWindowOpenStay();
    void otherPortEventsChangeNothing();
    void lateReplyStaysAfterDisplayWindow();
    void sendOnClosedPortMarksNoReply();
    void rxBufferStopsGrowingAtItsLimit();
    void echoedDumpFollowsTheDump();
    void noDecoderLeavesStatusLine();
    void anyModeButOneReceives();
};

void TestLinkEngine::sendWritesAndOpensBothWindows()
{
    Rig rig;
    rig.send("POWR   1\r");
    QCOMPARE(rig.line.written, QList<QByteArray>{"POWR   1\r"});
    QCOMPARE(rig.engine.sentLine(), QByteArray(" P O W R       1 CR "));
    QCOMPARE(rig.engine.awaitingReply(), 1);
    QVERIFY(rig.engine.isReplyWindowOpen());
    QVERIFY(rig.engine.isDisplayWindowOpen());
    QCOMPARE(rig.engine.replyWindowInterval(), 500ms);
    QCOMPARE(rig.engine.displayWindowInterval(), 1000ms);
    QVERIFY2(rig.decoded.isEmpty(), "a send decodes nothing");
}

void TestLinkEngine::receivedBatchesGrowTheDump_data()
{
    QTest::addColumn<QList<QByteArray>>("batches");
    QTest::addColumn<QList<QByteArray>>("dumps");

    QTest::newRow("replyInOnePiece") << QList<QByteArray>{"0000\r"} << QList<QByteArray>{" 0 0 0 0 CR "};
    QTest::newRow("replyInTwoPieces")
        << QList<QByteArray>{"12", "34\r"} << QList<QByteArray>{" 1 2 ", " 1 2 3 4 CR "};
    QTest::newRow("controlCodes") << QList<QByteArray>{"\x14\x14"
                                                       "A"}
                                  << QList<QByteArray>{" &&A "};
}

void TestLinkEngine::receivedBatchesGrowTheDump()
{
    QFETCH(QList<QByteArray>, batches);
    QFETCH(QList<QByteArray>, dumps);
    Rig rig;
    rig.send("TABN   1\r");
    for (qsizetype i = 0; i < batches.size(); ++i) {
        rig.line.feed(batches[i]);
        QCOMPARE(rig.engine.receivedLine(), dumps[i]);
        QCOMPARE(rig.engine.awaitingReply(), 0);
        QCOMPARE(rig.decoded.size(), i + 1);
        QCOMPARE(rig.decoded.last().dump, dumps[i]);
        QCOMPARE(rig.decoded.last().lastCommand, QByteArray("TABN   1\r"));
        QVERIFY2(rig.decoded.last().grown == (i > 0), "a later batch grows the dump the decoder saw");
    }
    QCOMPARE(rig.engine.statusLine(), QByteArray(" decoded"));
}

void TestLinkEngine::replyWindowEnd_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("receivedLine");

    QTest::newRow("nothingCame") << QByteArray() << QByteArray(" X X X X");
    QTest::newRow("oneCharacterCame") << QByteArray("0") << QByteArray(" 0 ");
}

void TestLinkEngine::replyWindowEnd()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, receivedLine);
    Rig rig;
    rig.engine.setWindows(20ms, 60s);
    rig.send("TABN   1\r");
    if (!reply.isEmpty())
        rig.line.feed(reply);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.isReplyWindowOpen(), 5000);
    QCOMPARE(rig.engine.receivedLine(), receivedLine);
    QVERIFY2(rig.engine.rxBuffer().isEmpty(), "the reply window's end empties RxBuffer");
    QCOMPARE(rig.engine.awaitingReply(), 0);
    QVERIFY(rig.engine.isDisplayWindowOpen());
}

void TestLinkEngine::displayWindowClearsTheLines()
{
    Rig rig;
    rig.engine.setWindows(60s, 20ms);
    rig.send("TABN   1\r");
    rig.line.feed("0000\r");
    QVERIFY(!rig.engine.statusLine().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.isDisplayWindowOpen(), 5000);
    QVERIFY(rig.engine.sentLine().isEmpty());
    QVERIFY(rig.engine.receivedLine().isEmpty());
    QVERIFY(rig.engine.statusLine().isEmpty());
    QCOMPARE(rig.engine.rxBuffer(), QByteArray("0000\r"));
}

void TestLinkEngine::holdStepEndsTheStepBefore_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("receivedLine");

    QTest::newRow("stepUnanswered") << QByteArray() << QByteArray(" X X X X");
    QTest::newRow("stepAnswered") << QByteArray("\x06\r") << QByteArray(" ACK CR ");
}

void TestLinkEngine::holdStepEndsTheStepBefore()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, receivedLine);
    Rig rig;
    // Windows that would outlast the test: only the next step can end this one.
    rig.engine.setWindows(60s, 60s);
    rig.engine.sendCommand("LNZO+001");
    if (!reply.isEmpty())
        rig.line.feed(reply);
    QSignalSpy ended(&rig.engine, &LinkEngine::replyWindowEnded);
    QByteArray gatheredAtSend("unset");
    connect(&rig.engine, &LinkEngine::commandSent, &rig.engine,
            [&] { gatheredAtSend = rig.engine.rxBuffer(); });

    rig.engine.sendHoldStep("LNZO+001");
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().first().toBool(), !reply.isEmpty());
    QVERIFY2(gatheredAtSend.isEmpty(), "the step's window empties RxBuffer before the next step");
    QCOMPARE(rig.engine.receivedLine(), receivedLine);
    QCOMPARE(rig.engine.awaitingReply(), 1);
    QVERIFY(rig.engine.isReplyWindowOpen());
    QCOMPARE(rig.line.written.size(), 2);

    // With no window open there is nothing to end.
    rig.engine.endHold();
    rig.engine.sendHoldStep("LNZO+001");
    QCOMPARE(ended.size(), 1);
}

void TestLinkEngine::secondSendKeepsWhatWasGathered()
{
    Rig rig;
    rig.send("TLPS   1\r");
    rig.line.feed("00");
    rig.send("TABN   1\r");
    QCOMPARE(rig.line.written.size(), 2);
    QCOMPARE(rig.engine.awaitingReply(), 1);
    rig.line.feed("08\r");
    QCOMPARE(rig.engine.rxBuffer(), QByteArray("0008\r"));
    QCOMPARE(rig.decoded.last().lastCommand, QByteArray("TABN   1\r"));
    QCOMPARE(rig.decoded.last().dump, QByteArray(" 0 0 0 8 CR "));
}

void TestLinkEngine::charactersWithNoWindowOpenStay()
{
    Rig rig;
    rig.line.feed("X");
    QCOMPARE(rig.engine.receivedLine(), QByteArray(" X "));
    QCOMPARE(rig.decoded.size(), 1);
    rig.engine.setWindows(20ms, 60s);
    rig.send("TABN   1\r");
    rig.line.feed("1");
    QCOMPARE(rig.engine.rxBuffer(), QByteArray("X1"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.rxBuffer().isEmpty(), 5000);
    QCOMPARE(rig.engine.receivedLine(), QByteArray(" X 1 "));
}

void TestLinkEngine::otherPortEventsChangeNothing()
{
    Rig rig;
    rig.send("TABN   1\r");
    rig.line.loseDevice();
    QCOMPARE(rig.engine.awaitingReply(), 1);
    QVERIFY(rig.engine.receivedLine().isEmpty());
    QVERIFY(rig.decoded.isEmpty());
}

void TestLinkEngine::lateReplyStaysAfterDisplayWindow()
{
    Rig rig;
    rig.engine.setWindows(60s, 20ms);
    rig.send("TABN   1\r");
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.isDisplayWindowOpen(), 5000);
    rig.line.feed("0000\r");
    QCOMPARE(rig.engine.receivedLine(), QByteArray(" 0 0 0 0 CR "));
    QCOMPARE(rig.engine.statusLine(), QByteArray(" decoded"));
    QVERIFY2(!rig.engine.isDisplayWindowOpen(), "only a send opens the display window");
}

void TestLinkEngine::sendOnClosedPortMarksNoReply()
{
    Rig rig;
    rig.line.close();
    rig.engine.setWindows(20ms, 60s);
    rig.send("TABN   1\r");
    QVERIFY(rig.line.written.isEmpty());
    QCOMPARE(rig.engine.sentLine(), QByteArray(" T A B N       1 CR "));
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine.receivedLine(), QByteArray(LinkEngine::kNoReply), 5000);
}

void TestLinkEngine::rxBufferStopsGrowingAtItsLimit()
{
    Rig rig;
    const QByteArray block(10000, 'A');
    for (int i = 0; i < 4; ++i)
        rig.line.feed(block);
    QCOMPARE(rig.engine.rxBuffer().size(), LinkEngine::kRxBufferLimit);
    QCOMPARE(rig.engine.receivedLine().size(), 1 + 2 * LinkEngine::kRxBufferLimit);
    rig.line.feed("B");
    QVERIFY2(!rig.engine.rxBuffer().contains('B'), "characters past the limit are dropped");
    QCOMPARE(rig.decoded.size(), 5);

    QVERIFY2(rig.decoded.last().grown, "a dropped batch leaves the dump as the decoder saw it");

    rig.engine.endHold();
    rig.line.feed("C");
    QCOMPARE(rig.engine.rxBuffer(), QByteArray("C"));
    QVERIFY2(!rig.decoded.last().grown, "an emptied RxBuffer starts a new dump");
}

// The echo's status line is the dump itself: it grows with RxBuffer and keeps
// its text when RxBuffer is emptied.
void TestLinkEngine::echoedDumpFollowsTheDump()
{
    Rig rig;
    rig.engine.setReplyDecoder([](const QByteArray &, const QByteArray &dump, bool) { return dump; });
    rig.send("CR9\r");
    rig.line.feed("12");
    QCOMPARE(rig.engine.statusLine(), QByteArray(" 1 2 "));
    rig.line.feed("34");
    QCOMPARE(rig.engine.statusLine(), QByteArray(" 1 2 3 4 "));
    rig.engine.endHold();
    QVERIFY(rig.engine.receivedLine().isEmpty());
    QCOMPARE(rig.engine.statusLine(), QByteArray(" 1 2 3 4 "));
    rig.line.feed("5");
    QCOMPARE(rig.engine.statusLine(), QByteArray(" 5 "));
    rig.engine.setReplyDecoder(
        [](const QByteArray &, const QByteArray &, bool) { return QByteArray(" other"); });
    rig.line.feed("6");
    QCOMPARE(rig.engine.statusLine(), QByteArray(" other"));
    QCOMPARE(rig.engine.receivedLine(), QByteArray(" 5 6 "));
}

void TestLinkEngine::noDecoderLeavesStatusLine()
{
    FakeLine line;
    line.open();
    LinkEngine engine(line);
    engine.reset();
    line.feed("0000\r");
    QCOMPARE(engine.receivedLine(), QByteArray(" 0 0 0 0 CR "));
    QVERIFY(engine.statusLine().isEmpty());
}

void TestLinkEngine::anyModeButOneReceives()
{
    Rig rig;
    rig.line.feed("7");
    rig.engine.hyouji(QByteArray("ignored"), 0);
    QCOMPARE(rig.line.written.size(), 0);
    QCOMPARE(rig.engine.receivedLine(), QByteArray(" 7 "));
    QCOMPARE(rig.decoded.size(), 2);
}

QTEST_GUILESS_MAIN(TestLinkEngine)
#include "tst_linkengine.moc"
