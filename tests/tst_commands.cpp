// The command vocabulary, value and free-text commands, and press-and-hold, on a fake line.
#include "commandcatalogue.h"
#include "commandsender.h"
#include "fakeline.h"
#include "holdrepeater.h"
#include "linkevents.h"
#include "scriptvocabulary.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;
using namespace commands;

namespace {

struct Rig
{
    FakeLine line;
    LinkEngine link{line};

    Rig()
    {
        line.open();
        link.reset();
    }
};

const TextCommand &textCommand(std::string_view control)
{
    return *findControl(kTextCommands, control);
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void fixedCommandWindows_data();
    void fixedCommandWindows();
    void textFromAnotherProgramGetsItsControlsWindow_data();
    void textFromAnotherProgramGetsItsControlsWindow();
    void textSentAsTyped_data();
    void textSentAsTyped();
    void freeTextOpensItsOwnWindows();
    void pressSendsOneStepAndShortensWindows();
    void holdRepeatsEvery150ms();
    void everyStepsWindowEndsBeforeTheNext_data();
    void everyStepsWindowEndsBeforeTheNext();
    void releaseTidiesTheLink();
    void quickPressAndReleaseSendsOneStep();
};

void TestCommands::fixedCommandWindows_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("replyWindow");
    QTest::addColumn<int>("displayWindow");

    QTest::newRow("plainKeepsDesignWindows")
        << QByteArray("Command44") << QByteArray("TABN   1\r") << 500 << 1000;
    QTest::newRow("gridOpensLongWindows")
        << QByteArray("Command78") << QByteArray("RBPS  13\r") << 5000 << 5500;
    QTest::newRow("pictureInPictureTwoSpaces")
        << QByteArray("Command112") << QByteArray("PINP  11\r") << 500 << 1000;
}

void TestCommands::fixedCommandWindows()
{
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, written);
    QFETCH(int, replyWindow);
    QFETCH(int, displayWindow);
    Rig rig;
    CommandSender sender(rig.link);
    sender.send(*findControl(kFixedCommands, control.toStdString()));
    QCOMPARE(rig.line.written, QList<QByteArray>{written});
    QCOMPARE(rig.link.lastCommand(), written);
    QCOMPARE(rig.link.replyWindowInterval(), std::chrono::milliseconds(replyWindow));
    QCOMPARE(rig.link.displayWindowInterval(), std::chrono::milliseconds(displayWindow));
    QVERIFY(rig.link.isReplyWindowOpen());

    // A plain command after a grid button runs with the grid's windows.
    sender.send(*findControl(kFixedCommands, "Command17"));
    QCOMPARE(rig.link.replyWindowInterval(), std::chrono::milliseconds(replyWindow));
}

void TestCommands::textFromAnotherProgramGetsItsControlsWindow_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("windowMs");
    QTest::newRow("statusButton") << QByteArray("TABN   1") << "pj-status" << 500;
    QTest::newRow("gridButton") << QByteArray("RCPS  12") << "3-cinema" << 5000;
    QTest::newRow("valueBox") << QByteArray("VOLA  05") << "" << 500;
    QTest::newRow("lensStep") << QByteArray("LNZO+001") << "" << 500;
    QTest::newRow("queryWithoutButton") << QByteArray("CR7") << "lamp-pattern" << 2000;
    QTest::newRow("otherText") << QByteArray("VOLA 5") << "" << 2000;
}

// A command that the panel sends through a shared line waits as long for its
// reply as the panel's own control for it does.
void TestCommands::textFromAnotherProgramGetsItsControlsWindow()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, name);
    QFETCH(int, windowMs);
    const Step step = stepOfText(text);
    QCOMPARE(step.text, text);
    QCOMPARE(step.name, name);
    QCOMPARE(int(step.replyWindow.count()), windowMs);
    QCOMPARE(step.repeat.count(), 0);
}

void TestCommands::textSentAsTyped_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("volumeSingleDigit") << QByteArray("Command105") << "7" << QByteArray("VOLA  7\r");
    QTest::newRow("volumeTwoDigits") << QByteArray("Command105") << "35" << QByteArray("VOLA  35\r");
    QTest::newRow("keystoneVertical") << QByteArray("Command15") << "-12" << QByteArray("KEYV -12\r");
    QTest::newRow("keystoneHorizontalUnchecked")
        << QByteArray("Command35") << "+9x" << QByteArray("KEYH +9x\r");
    QTest::newRow("blanksKept") << QByteArray("Command95") << " CR4 " << QByteArray(" CR4 \r");
    QTest::newRow("caseKept") << QByteArray("Command95") << "tabn   1" << QByteArray("tabn   1\r");
    QTest::newRow("emptyFreeText") << QByteArray("Command95") << "" << QByteArray("\r");
    QTest::newRow("latin1OneByte") << QByteArray("Command95") << QStringLiteral("é") << QByteArray("\xe9\r");
    QTest::newRow("beyondLatin1Question")
        << QByteArray("Command95") << QStringLiteral("～") << QByteArray("?\r");
}

void TestCommands::textSentAsTyped()
{
    QFETCH(QByteArray, control);
    QFETCH(QString, typed);
    QFETCH(QByteArray, written);
    Rig rig;
    CommandSender sender(rig.link);
    sender.send(textCommand(control.toStdString()), typed);
    QCOMPARE(rig.line.written, QList<QByteArray>{written});
    QCOMPARE(rig.link.lastCommand(), written);
    QCOMPARE(sender.argText(), typed.toLatin1());
}

void TestCommands::freeTextOpensItsOwnWindows()
{
    Rig rig;
    CommandSender sender(rig.link);
    sender.send(textCommand("Command95"), QStringLiteral("CR PRESSURE"));
    QCOMPARE(rig.line.written, QList<QByteArray>{"CR PRESSURE\r"});
    QCOMPARE(rig.link.replyWindowInterval(), 2000ms);
    QCOMPARE(rig.link.displayWindowInterval(), 2500ms);
    sender.send(textCommand("Command105"), QStringLiteral("10"));
    QCOMPARE(rig.link.replyWindowInterval(), 2000ms);
}

void TestCommands::pressSendsOneStepAndShortensWindows()
{
    Rig rig;
    HoldRepeater repeater(rig.link);
    QVERIFY(!repeater.timer1().isActive());
    repeater.press(*findControl(kLensButtons, "Command111"));
    QCOMPARE(rig.line.written, QList<QByteArray>{"LNLR-001\r"});
    QCOMPARE(repeater.repeatCode(), 23);
    QVERIFY(repeater.timer1().isActive());
    QCOMPARE(repeater.timer1().timerType(), Qt::PreciseTimer);
    QCOMPARE(repeater.timer1().intervalAsDuration(), 150ms);
    QCOMPARE(rig.link.replyWindowInterval(), 150ms);
    QCOMPARE(rig.link.displayWindowInterval(), 190ms);
    repeater.release();
}

void TestCommands::holdRepeatsEvery150ms()
{
    Rig rig;
    HoldRepeater repeater(rig.link);
    QElapsedTimer held;
    held.start();
    repeater.press(*findControl(kLensButtons, "Command108"));
    // Seven steps: the press and six repetitions, however slow the machine.
    QTRY_VERIFY_WITH_TIMEOUT(rig.line.written.size() >= 7, 10000);
    repeater.release();
    const qint64 heldFor = held.elapsed();
    const qsizetype sent = rig.line.written.size();
    // A loaded machine may delay a tick but never brings one forward: at most
    // the press and one step for every full 150 ms held.
    QVERIFY2(sent <= 1 + heldFor / 150,
             qPrintable(QStringLiteral("%1 steps in %2 ms").arg(sent).arg(heldFor)));
    QVERIFY(std::all_of(rig.line.written.begin(), rig.line.written.end(),
                        [](const QByteArray &text) { return text == "LNUD+001\r"; }));
    QVERIFY2(linkevents::clearsWithNothingSent(rig.link), "a step followed the release");
}

void TestCommands::everyStepsWindowEndsBeforeTheNext_data()
{
    // How long after each step the projector answers it; negative: never.
    QTest::addColumn<int>("answerAfter");
    QTest::addColumn<bool>("firstAnswered");

    // Early answers are each shown alone, never piled behind the step before's.
    QTest::newRow("answeredEarly") << 20 << true;
    // An answer later than the step's window comes only in the next step's.
    QTest::newRow("answeredLate") << 180 << false;
    QTest::newRow("neverAnswered") << -1 << false;
}

void TestCommands::everyStepsWindowEndsBeforeTheNext()
{
    QFETCH(int, answerAfter);
    QFETCH(bool, firstAnswered);
    Rig rig;
    HoldRepeater repeater(rig.link);
    // S for a step sent, E for a reply window ended, while the button is held.
    QByteArray events;
    QList<bool> answered;
    QList<QByteArray> gatheredAtStep;
    QList<QByteArray> shownAtStep;
    QList<QByteArray> shownAtBatch;
    connect(&rig.link, &LinkEngine::commandSent, &rig.line, [&] {
        events += 'S';
        gatheredAtStep.append(rig.link.rxBuffer());
        shownAtStep.append(rig.link.receivedLine());
        if (answerAfter >= 0)
            QTimer::singleShot(answerAfter, Qt::PreciseTimer, &rig.line, [&] { rig.line.feed("A"); });
    });
    connect(&rig.link, &LinkEngine::replyWindowEnded, &rig.line, [&](bool answer) {
        if (repeater.repeatCode() == 0)
            return;
        events += 'E';
        answered.append(answer);
    });
    connect(&rig.link, &LinkEngine::batchReceived, &rig.line, [&] {
        if (repeater.repeatCode() != 0)
            shownAtBatch.append(rig.link.receivedLine());
    });

    repeater.press(*findControl(kLensButtons, "Command61"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.line.written.size() >= 8, 20000);
    repeater.release();

    QVERIFY2(!events.contains("SS"), events.constData());
    QVERIFY(!answered.isEmpty());
    QCOMPARE(answered.first(), firstAnswered);
    for (qsizetype step = 1; step < gatheredAtStep.size(); ++step) {
        QVERIFY2(gatheredAtStep[step].isEmpty(), qPrintable(QStringLiteral("step %1").arg(step)));
        if (!answered[step - 1])
            QCOMPARE(shownAtStep[step], QByteArray(LinkEngine::kNoReply));
    }
    if (answerAfter < 0)
        QVERIFY(!answered.contains(true));
    if (firstAnswered) {
        QVERIFY(!answered.contains(false));
        for (const QByteArray &shown : shownAtBatch)
            QCOMPARE(shown, QByteArray(" A "));
    }
}

void TestCommands::releaseTidiesTheLink()
{
    Rig rig;
    HoldRepeater repeater(rig.link);
    repeater.press(*findControl(kLensButtons, "Command61"));
    rig.line.feed("\x06\r");
    QVERIFY(!rig.link.receivedLine().isEmpty());
    repeater.release();

    QCOMPARE(repeater.repeatCode(), 0);
    QVERIFY(!repeater.timer1().isActive());
    QVERIFY2(!rig.link.isReplyWindowOpen(), "no \" X X X X\" for the last step");
    QVERIFY(rig.link.isDisplayWindowOpen());
    QVERIFY(rig.link.sentLine().isEmpty());
    QVERIFY(rig.link.receivedLine().isEmpty());
    QVERIFY(rig.link.rxBuffer().isEmpty());
    QCOMPARE(rig.link.replyWindowInterval(), 500ms);
    QCOMPARE(rig.link.displayWindowInterval(), 1000ms);
}

void TestCommands::quickPressAndReleaseSendsOneStep()
{
    Rig rig;
    HoldRepeater repeater(rig.link);
    QElapsedTimer held;
    held.start();
    repeater.press(*findControl(kLensButtons, "Command107"));
    // Held for a third of the way to the first repetition, as the repeat counts it.
    QTRY_VERIFY_WITH_TIMEOUT(repeater.timer1().remainingTimeAsDuration() <= 100ms, 10000);
    repeater.release();
    const qint64 heldFor = held.elapsed();
    QVERIFY2(linkevents::clearsWithNothingSent(rig.link), "a step followed the release");
    // Released within 150 ms, one step; a loaded machine that held it longer
    // may have sent one more per full 150 ms.
    QVERIFY(!rig.line.written.isEmpty());
    QCOMPARE(rig.line.written.front(), QByteArray("LNFO-001\r"));
    QVERIFY2(rig.line.written.size() <= 1 + heldFor / 150,
             qPrintable(QStringLiteral("%1 steps in %2 ms").arg(rig.line.written.size()).arg(heldFor)));
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
