// The exchange floor without a process: replies framed to their command, judged, and a line shared by
// requesters.
#include "exchangequeue.h"
#include "exchangerunner.h"
#include "fakeline.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

constexpr int kGenerousMs = 10'000;

// A line that answers every command a moment after it is written, as a
// projector does, with the command itself, so that each answer names its
// command.
class EchoingLine : public FakeLine
{
protected:
    bool writeLine(QByteArrayView text) override
    {
        FakeLine::writeLine(text);
        QTimer::singleShot(0, this, [this, text = text.toByteArray()] { feed(text); });
        return true;
    }
};

QList<commands::Step> steps(const QList<QByteArray> &texts, const QList<int> &windows)
{
    QList<commands::Step> list;
    for (qsizetype i = 0; i < texts.size(); ++i)
        list.append(commands::Step{{}, texts[i], std::chrono::milliseconds(windows[i])});
    return list;
}

Exchange exchangeOf(const QSignalSpy &spy, qsizetype index)
{
    return spy.at(index).at(0).value<Exchange>();
}

} // namespace

class TestExchange : public QObject
{
    Q_OBJECT

private slots:
    void repliesBelongToTheirCommand_data();
    void repliesBelongToTheirCommand();
    void judgeReadsTheReplysForm_data();
    void judgeReadsTheReplysForm();
    void heldStepsKeepTheirRepeat();
    void queueServesPeopleFirstAndEachTheirOwn();
    void cancelSendsNothingMore_data();
    void cancelSendsNothingMore();
};

// A script of what happens on the line, one action a row: F feeds the rest of
// the row as received characters, R starts the round, W waits for the next
// write, X for the next exchange, N checks that nothing more was written, and
// L loses the device.
void TestExchange::repliesBelongToTheirCommand_data()
{
    QTest::addColumn<QList<QByteArray>>("texts");
    QTest::addColumn<QList<int>>("windows");
    QTest::addColumn<QList<QByteArray>>("script");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QList<int>>("outcomes");
    QTest::addColumn<QList<QByteArray>>("discarded");

    const int answered = int(Outcome::Answered);
    const int unanswered = int(Outcome::Unanswered);
    const int refused = int(Outcome::Refused);
    const int notUnderstood = int(Outcome::NotUnderstood);
    const int notSent = int(Outcome::NotSent);
    QTest::newRow("replyEndsAtItsCarriageReturnInPieces")
        << QList<QByteArray>{"TABN   1", "TLPS   1"} << QList{60'000, 60'000}
        << QList<QByteArray>{"R", "W", "F00", "F00\rjunk", "X", "W", "F0001\r", "X"}
        << QList<QByteArray>{"0000\r", "0001\r"} << QList{answered, answered}
        << QList<QByteArray>{"", "junk"};
    // Its late answer comes while the line waits to be quiet, and is nobody's.
    QTest::newRow("lateAnswerIsNotTheNextCommands")
        << QList<QByteArray>{"TABN   1", "POWR????"} << QList{300, 60'000}
        << QList<QByteArray>{"R", "W", "X", "N", "F0000\r", "W", "F1\r", "X"} << QList<QByteArray>{"", "1\r"}
        << QList{unanswered, answered} << QList<QByteArray>{"", "0000\r"};
    QTest::newRow("whatTheLineHeldIsDiscarded")
        << QList<QByteArray>{"POWR????"} << QList{60'000}
        << QList<QByteArray>{"Fstray\r", "R", "W", "F0\r", "X"} << QList<QByteArray>{"0\r"} << QList{answered}
        << QList<QByteArray>{"stray\r"};
    QTest::newRow("replyCutShortIsNotUnderstood")
        << QList<QByteArray>{"TLTT   1"} << QList{100} << QList<QByteArray>{"R", "W", "F012", "X"}
        << QList<QByteArray>{"012"} << QList{notUnderstood} << QList<QByteArray>{""};
    QTest::newRow("noiseInTheReplyIsNotUnderstood") << QList<QByteArray>{"CR PRESSURE"} << QList{60'000}
                                                    << QList<QByteArray>{"R", "W",
                                                                         "F\x93\x01"
                                                                         "0856\r",
                                                                         "X"}
                                                    << QList<QByteArray>{"\x93\x01"
                                                                         "0856\r"}
                                                    << QList{notUnderstood} << QList<QByteArray>{""};
    QTest::newRow("acknowledgedAndRefused")
        << QList<QByteArray>{"POWR   1", "VOLA  99"} << QList{60'000, 60'000}
        << QList<QByteArray>{"R", "W", "F\x06\r", "X", "W", "FERR\r", "X"}
        << QList<QByteArray>{"\x06\r", "ERR\r"} << QList{answered, refused} << QList<QByteArray>{"", ""};
    QTest::newRow("floodEndsAtTheBound") << QList<QByteArray>{"CR9"} << QList{60'000}
                                         << QList<QByteArray>{"R", "W", "F" + QByteArray(40'000, 'x'), "X"}
                                         << QList<QByteArray>{QByteArray(ExchangeRunner::kLongestReply, 'x')}
                                         << QList{notUnderstood} << QList<QByteArray>{""};
    QTest::newRow("lossTellsEveryCommandNotSent")
        << QList<QByteArray>{"TABN   1", "TLTT   1", "CR6"} << QList{60'000, 500, 500}
        << QList<QByteArray>{"R", "W", "L"} << QList<QByteArray>{"", "", ""}
        << QList{unanswered, notSent, notSent} << QList<QByteArray>{"", "", ""};
}

void TestExchange::repliesBelongToTheirCommand()
{
    QFETCH(QList<QByteArray>, texts);
    QFETCH(QList<int>, windows);
    QFETCH(QList<QByteArray>, script);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QList<int>, outcomes);
    QFETCH(QList<QByteArray>, discarded);

    FakeLine line;
    ExchangeRunner runner(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&runner, &ExchangeRunner::exchanged);
    QSignalSpy ended(&runner, &ExchangeRunner::roundEnded);
    QVERIFY(runner.open(QStringLiteral("9600,N,8,1"), false));
    qsizetype writes = 0;
    qsizetype exchanges = 0;
    for (const QByteArray &action : script) {
        switch (action.front()) {
        case 'F':
            line.feed(action.sliced(1));
            break;
        case 'R':
            runner.runRound(steps(texts, windows));
            break;
        case 'W':
            ++writes;
            QTRY_COMPARE_WITH_TIMEOUT(line.written.size(), writes, kGenerousMs);
            QCOMPARE(line.written.last(), texts[writes - 1] + '\r');
            break;
        case 'X':
            ++exchanges;
            QTRY_COMPARE_WITH_TIMEOUT(exchanged.size(), exchanges, kGenerousMs);
            break;
        case 'N':
            QCOMPARE(line.written.size(), writes);
            break;
        case 'L':
            line.loseDevice();
            break;
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kGenerousMs);
    QCOMPARE(exchanged.size(), replies.size());
    for (qsizetype i = 0; i < replies.size(); ++i) {
        const Exchange exchange = exchangeOf(exchanged, i);
        QCOMPARE(exchange.step.text, texts[i]);
        QCOMPARE(exchange.reply, replies[i]);
        QCOMPARE(int(exchange.outcome), outcomes[i]);
        QCOMPARE(exchange.discarded, discarded[i]);
    }
}

void TestExchange::judgeReadsTheReplysForm_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("status");
    QTest::newRow("statusAnswered") << QByteArray("TABN   1") << QByteArray("0008\r")
                                    << int(Outcome::Answered) << QByteArray(" Lamp Life 5% or less");
    QTest::newRow("statusOfAnotherForm")
        << QByteArray("TABN   1") << QByteArray("01234\r") << int(Outcome::NotUnderstood) << QByteArray();
    QTest::newRow("queryRefused") << QByteArray("CR7") << QByteArray("ERR\r") << int(Outcome::Refused)
                                  << QByteArray();
    QTest::newRow("buttonAcknowledged")
        << QByteArray("POWR   1") << QByteArray("\x06\r") << int(Outcome::Answered) << QByteArray();
    QTest::newRow("buttonAnsweredWithData")
        << QByteArray("POWR   1") << QByteArray("0000\r") << int(Outcome::NotUnderstood) << QByteArray();
    QTest::newRow("lensStepAcknowledged")
        << QByteArray("LNZO+001") << QByteArray("\x06\r") << int(Outcome::Answered) << QByteArray();
    QTest::newRow("freeTextTakesAnyLine")
        << QByteArray("cr9 ") << QByteArray("QVX\r") << int(Outcome::Answered) << QByteArray();
    QTest::newRow("freeTextOfTwoLines")
        << QByteArray("cr9 ") << QByteArray("Q\rV\r") << int(Outcome::NotUnderstood) << QByteArray();
}

void TestExchange::judgeReadsTheReplysForm()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(int, outcome);
    QFETCH(QByteArray, status);
    const Verdict verdict = judgeReply(command, reply);
    QCOMPARE(int(verdict.outcome), outcome);
    QCOMPARE(verdict.status.value_or(QByteArray()), status);
    QCOMPARE(verdict.reading.has_value(), outcome == int(Outcome::Answered) && !status.isEmpty());
}

void TestExchange::heldStepsKeepTheirRepeat()
{
    FakeLine line;
    ExchangeRunner runner(line, QStringLiteral("fake"));
    QSignalSpy exchanged(&runner, &ExchangeRunner::exchanged);
    QSignalSpy ended(&runner, &ExchangeRunner::roundEnded);
    QVERIFY(runner.open(QStringLiteral("9600,N,8,1"), false));
    const QList<commands::Step> hold{
        {{}, "LNZO+001", 150ms, 150ms}, {{}, "LNZO+001", 150ms, 150ms}, {{}, "LNZO+001", 500ms, {}}};
    runner.runRound(hold);
    line.feed("\x06\r");
    QCOMPARE(exchanged.size(), 1);
    // Answered at once, the next step still waits for the repeat.
    QCOMPARE(line.written.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(line.written.size(), 2, kGenerousMs);
    // Unanswered, a held step does not wait for a quiet line: the lens moves
    // while the button is down.
    QTRY_COMPARE_WITH_TIMEOUT(line.written.size(), 3, kGenerousMs);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kGenerousMs);
    QCOMPARE(exchanged.size(), 3);
    QCOMPARE(int(exchangeOf(exchanged, 1).outcome), int(Outcome::Unanswered));
}

void TestExchange::queueServesPeopleFirstAndEachTheirOwn()
{
    EchoingLine line;
    ExchangeRunner runner(line, QStringLiteral("fake"), [](QByteArrayView command, QByteArrayView reply) {
        return Verdict{
            reply == command.toByteArray() + '\r' ? Outcome::Answered : Outcome::NotUnderstood, {}, {}};
    });
    QVERIFY(runner.open(QStringLiteral("9600,N,8,1"), false));
    ExchangeQueue queue(runner);
    QObject poller;
    QObject person;
    auto gone = std::make_unique<QObject>();
    QList<std::pair<QObject *, QByteArray>> answers;
    connect(&queue, &ExchangeQueue::exchanged, this, [&](QObject *requester, const Exchange &exchange) {
        QCOMPARE(int(exchange.outcome), int(Outcome::Answered));
        answers.append({requester, exchange.reply});
    });
    const auto ask = [](const QByteArray &text) { return QList<commands::Step>{{{}, text, 60s}}; };
    queue.submit(&poller, ask("POLL1"), ExchangeQueue::Priority::Poll);
    queue.submit(&poller, ask("POLL2"), ExchangeQueue::Priority::Poll);
    queue.submit(gone.get(), ask("GONE"), ExchangeQueue::Priority::Person);
    queue.submit(&person, {{{}, "CLICK1", 60s}, {{}, "CLICK2", 60s}}, ExchangeQueue::Priority::Person);
    gone.reset();
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 4, kGenerousMs);
    // The poll on the wire ends first; the person's request runs whole before
    // the next poll, and a requester gone away sends nothing.
    const QList<std::pair<QObject *, QByteArray>> expected{
        {&poller, "POLL1\r"}, {&person, "CLICK1\r"}, {&person, "CLICK2\r"}, {&poller, "POLL2\r"}};
    QCOMPARE(answers, expected);
    QCOMPARE(line.written, (QList<QByteArray>{"POLL1\r", "CLICK1\r", "CLICK2\r", "POLL2\r"}));
    QCOMPARE(queue.pending(), 0);
}

void TestExchange::cancelSendsNothingMore_data()
{
    // Characters on the line before the hold, so that it waits for quiet.
    QTest::addColumn<bool>("strayFirst");
    QTest::addColumn<bool>("answerFirstStep");
    // The hold's steps that reach the wire.
    QTest::addColumn<int>("sent");

    QTest::newRow("waitingForQuiet") << true << false << 0;
    QTest::newRow("onTheWire") << false << false << 1;
    QTest::newRow("betweenHeldSteps") << false << true << 1;
}

// A held lens button whose client goes away: no step of it goes out after
// that, but for one already on the wire, and the next request is served.
void TestExchange::cancelSendsNothingMore()
{
    QFETCH(bool, strayFirst);
    QFETCH(bool, answerFirstStep);
    QFETCH(int, sent);
    FakeLine line;
    ExchangeRunner runner(line, QStringLiteral("fake"));
    QVERIFY(runner.open(QStringLiteral("9600,N,8,1"), false));
    ExchangeQueue queue(runner);
    QObject leaving;
    QObject staying;
    if (strayFirst)
        line.feed("x");
    const QList<commands::Step> hold{
        {{}, "LNZO+001", 150ms, 150ms}, {{}, "LNZO+001", 150ms, 150ms}, {{}, "LNZO+001", 500ms, {}}};
    queue.submit(&leaving, hold, ExchangeQueue::Priority::Person);
    queue.submit(&staying, {{{}, "CR0", 500ms}}, ExchangeQueue::Priority::Person);
    QCOMPARE(line.written.size(), strayFirst ? 0 : 1);
    if (answerFirstStep)
        line.feed("\x06\r");
    queue.cancel(&leaving);
    QTRY_COMPARE_WITH_TIMEOUT(line.written.size(), sent + 1, kGenerousMs);
    QCOMPARE(line.written.back(), QByteArray("CR0\r"));
}

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
