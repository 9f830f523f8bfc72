// Every sending control of the panel, through the real serial line to the simulator.
#include "commandcatalogue.h"
#include "linkevents.h"
#include "panelbench.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace bench;
using namespace std::chrono_literals;

namespace {

QString textOf(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QLineEdit *box(PanelWindow &window, std::string_view name)
{
    return parts::named<QLineEdit>(window, name);
}

void retype(QLineEdit *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

// Whether, once a lens button is let go, no step follows before the lines
// clear and the simulator logs every step the panel sent: as many as it counts.
bool stepsEndAt(Bench &bench, const QString &step, qsizetype steps)
{
    return linkevents::clearsWithNothingSent(parts::link(*bench.window), kWait) &&
           QTest::qWaitFor([&] { return received(bench.sim, step) == steps; }, kWait);
}

// A shown, active panel, so that mouse presses and window activation are real.
struct ShownBench : Bench
{
    explicit ShownBench(const QStringList &simArguments = {QStringLiteral("--verbose")})
        : Bench(simArguments)
    {
        window->show();
        window->activateWindow();
    }
};

} // namespace

class TestPanelCommands : public QObject
{
    Q_OBJECT

private slots:
    void everyFixedButtonWritesItsBody();
    void windowsInForce_data();
    void windowsInForce();
    void valueBoxesSendAsTyped_data();
    void valueBoxesSendAsTyped();
    void typingIsLimited_data();
    void typingIsLimited();
    void emptyFreeTextSendsLoneCarriageReturn();
    void clsSendsNothing();
    void quickPressSendsOneStep();
    void holdRepeatsWithAnyMouseButton_data();
    void holdRepeatsWithAnyMouseButton();
    void keyboardMovesNoLens();
    void releaseBlanksTheLinesAtOnce();
    void lateAnswersMarkEveryHeldStep();
    void losingTheMouseStopsTheLens_data();
    void losingTheMouseStopsTheLens();
};

void TestPanelCommands::everyFixedButtonWritesItsBody()
{
    Bench bench({QStringLiteral("--verbose")});
    PanelWindow &window = *bench.window;
    QVERIFY(bench.sim.isReady());
    // Clicked one right after another: nothing waits, nothing is queued or lost.
    for (const commands::FixedCommand &command : commands::kFixedCommands) {
        parts::named<QAbstractButton>(window, command.control)->click();
    }
    const commands::FixedCommand &last = commands::kFixedCommands.back();
    QCOMPARE(parts::link(window).lastCommand(),
             QByteArray(last.body.data(), qsizetype(last.body.size())) + '\r');
    QTRY_VERIFY_WITH_TIMEOUT(received(bench.sim, textOf(last.body)) > 0, kWait);

    const QString log = bench.sim.log();
    qsizetype at = 0;
    for (const commands::FixedCommand &command : commands::kFixedCommands) {
        const QString line = receivedLine(textOf(command.body));
        const qsizetype found = log.indexOf(line, at);
        QVERIFY2(found >= 0, qPrintable(QStringLiteral("%1 did not arrive in order").arg(line)));
        at = found + line.size();
    }
}

void TestPanelCommands::windowsInForce_data()
{
    QTest::addColumn<QList<QByteArray>>("actions");
    QTest::addColumn<int>("replyWindow");
    QTest::addColumn<int>("displayWindow");

    QTest::newRow("afterStart") << QList<QByteArray>{"Command44"} << 500 << 1000;
    QTest::newRow("afterGridButton") << QList<QByteArray>{"Command63", "Command44"} << 5000 << 5500;
    QTest::newRow("afterFreeTextSend") << QList<QByteArray>{"Command95", "Command44"} << 2000 << 2500;
    QTest::newRow("afterLensRelease")
        << QList<QByteArray>{"Command63", "hold:Command61", "Command44"} << 500 << 1000;
}

void TestPanelCommands::windowsInForce()
{
    QFETCH(QList<QByteArray>, actions);
    QFETCH(int, replyWindow);
    QFETCH(int, displayWindow);
    ShownBench bench;
    PanelWindow &window = *bench.window;
    for (const QByteArray &action : actions) {
        if (action.startsWith("hold:")) {
            auto *lens = parts::named<QAbstractButton>(window, action.mid(5).toStdString());
            QTest::mousePress(lens, Qt::LeftButton);
            QTest::mouseRelease(lens, Qt::LeftButton);
        } else {
            parts::named<QAbstractButton>(window, action.toStdString())->click();
        }
    }
    QCOMPARE(parts::link(window).replyWindowInterval(), std::chrono::milliseconds(replyWindow));
    QCOMPARE(parts::link(window).displayWindowInterval(), std::chrono::milliseconds(displayWindow));
    QVERIFY(parts::link(window).isReplyWindowOpen());
    QCOMPARE(parts::link(window).lastCommand(), QByteArray("TABN   1\r"));
}

void TestPanelCommands::valueBoxesSendAsTyped_data()
{
    QTest::addColumn<QByteArray>("boxName");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("command");

    QTest::newRow("volumeSingleDigit") << QByteArray("Text2") << QByteArray("Command105") << "7"
                                       << "VOLA  7";
    QTest::newRow("volumeAsShown") << QByteArray("Text2") << QByteArray("Command105") << "00"
                                   << "VOLA  00";
    QTest::newRow("keystoneVertical") << QByteArray("Text6") << QByteArray("Command15") << "-25"
                                      << "KEYV -25";
    QTest::newRow("keystoneHorizontal") << QByteArray("Text5") << QByteArray("Command35") << "+07"
                                        << "KEYH +07";
    QTest::newRow("freeTextQuery") << QByteArray("Text1") << QByteArray("Command95") << "CR PRESSURE"
                                   << "CR PRESSURE";
    QTest::newRow("freeTextLowerCase") << QByteArray("Text1") << QByteArray("Command95") << "tabn   1"
                                       << "tabn   1";
}

void TestPanelCommands::valueBoxesSendAsTyped()
{
    QFETCH(QByteArray, boxName);
    QFETCH(QByteArray, button);
    QFETCH(QString, typed);
    QFETCH(QString, command);
    ShownBench bench;
    PanelWindow &window = *bench.window;
    retype(box(window, boxName.toStdString()), typed);
    parts::named<QAbstractButton>(window, button.toStdString())->click();
    QCOMPARE(parts::link(window).lastCommand(), command.toLatin1() + '\r');
    QCOMPARE(box(window, boxName.toStdString())->text(), typed);
    QTRY_COMPARE_WITH_TIMEOUT(received(bench.sim, command), 1, kWait);
}

void TestPanelCommands::typingIsLimited_data()
{
    QTest::addColumn<QByteArray>("boxName");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");

    QTest::newRow("volumeTwoCharacters") << QByteArray("Text2") << "123"
                                         << "12";
    QTest::newRow("keystoneThreeCharacters") << QByteArray("Text6") << "+123"
                                             << "+12";
    QTest::newRow("freeTextUnlimited") << QByteArray("Text1") << QString(400, u'A') << QString(400, u'A');
}

void TestPanelCommands::typingIsLimited()
{
    QFETCH(QByteArray, boxName);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    ShownBench bench;
    QLineEdit *edit = box(*bench.window, boxName.toStdString());
    retype(edit, typed);
    QCOMPARE(edit->text(), kept);
    edit->setText(QStringLiteral("12345"));
    QCOMPARE(edit->text(), QStringLiteral("12345"));
}

void TestPanelCommands::emptyFreeTextSendsLoneCarriageReturn()
{
    Bench bench({QStringLiteral("--verbose")});
    PanelWindow &window = *bench.window;
    QVERIFY(box(window, "Text1")->text().isEmpty());
    click(window, "Command95");
    QCOMPARE(parts::link(window).lastCommand(), QByteArray("\r"));
    QTRY_COMPARE_WITH_TIMEOUT(received(bench.sim, QString()), 1, kWait);
}

void TestPanelCommands::clsSendsNothing()
{
    ShownBench bench;
    PanelWindow &window = *bench.window;
    click(window, "Command44");
    retype(box(window, "Text1"), QStringLiteral("CR4"));
    const QByteArray sentLine = parts::link(window).sentLine();
    click(window, "Command96");
    QVERIFY(box(window, "Text1")->text().isEmpty());
    QCOMPARE(parts::link(window).lastCommand(), QByteArray("TABN   1\r"));
    QCOMPARE(parts::link(window).sentLine(), sentLine);
    // The simulator logs a command sent after CLS after anything CLS sent.
    click(window, "Command44");
    QTRY_COMPARE_WITH_TIMEOUT(received(bench.sim, QStringLiteral("TABN   1")), 2, kWait);
    QCOMPARE(received(bench.sim, QStringLiteral("CR4")), 0);
}

void TestPanelCommands::quickPressSendsOneStep()
{
    ShownBench bench;
    auto *zoomIn = bench.window->control<QAbstractButton>("Command61");
    QSignalSpy sent(&parts::link(*bench.window), &LinkEngine::commandSent);
    QElapsedTimer held;
    held.start();
    QTest::mousePress(zoomIn, Qt::LeftButton);
    QTest::mouseRelease(zoomIn, Qt::LeftButton, {}, {}, 50);
    const qint64 heldFor = held.elapsed();
    // Released within 150 ms, one step; a loaded machine that held it longer
    // may have sent one more per full 150 ms.
    const qsizetype steps = sent.count();
    QVERIFY(steps > 0);
    QVERIFY2(stepsEndAt(bench, QStringLiteral("LNZO+001"), steps), "a step followed the release");
    QVERIFY2(steps <= 1 + heldFor / 150,
             qPrintable(QStringLiteral("%1 steps in %2 ms").arg(steps).arg(heldFor)));
}

void TestPanelCommands::holdRepeatsWithAnyMouseButton_data()
{
    QTest::addColumn<Qt::MouseButton>("mouseButton");

    QTest::newRow("leftButton") << Qt::LeftButton;
    QTest::newRow("rightButton") << Qt::RightButton;
}

void TestPanelCommands::holdRepeatsWithAnyMouseButton()
{
    QFETCH(Qt::MouseButton, mouseButton);
    ShownBench bench;
    auto *shiftUp = bench.window->control<QAbstractButton>("Command108");
    QSignalSpy sent(&parts::link(*bench.window), &LinkEngine::commandSent);
    QElapsedTimer held;
    held.start();
    QTest::mousePress(shiftUp, mouseButton);
    // Seven steps, as a second's hold sends: the press and six repetitions.
    QTRY_VERIFY_WITH_TIMEOUT(received(bench.sim, QStringLiteral("LNUD+001")) >= 7, kWait);
    QTest::mouseRelease(shiftUp, mouseButton);
    const qint64 heldFor = held.elapsed();
    // A loaded machine may delay a tick but never brings one forward: at most
    // the press and one step for every full 150 ms held.
    const qsizetype steps = sent.count();
    QVERIFY2(stepsEndAt(bench, QStringLiteral("LNUD+001"), steps), "a step followed the release");
    QVERIFY2(steps <= 1 + heldFor / 150,
             qPrintable(QStringLiteral("%1 steps in %2 ms").arg(steps).arg(heldFor)));
    QCOMPARE(parts::repeater(*bench.window).repeatCode(), 0);
}

void TestPanelCommands::keyboardMovesNoLens()
{
    ShownBench bench;
    LinkEngine &link = parts::link(*bench.window);
    QSignalSpy sent(&link, &LinkEngine::commandSent);
    auto *focusOut = bench.window->control<QAbstractButton>("Command107");
    focusOut->setFocus();
    QTest::keyClick(focusOut, Qt::Key_Space);
    QVERIFY(link.lastCommand().isEmpty());
    // A status query after the key: the simulator logs it after anything the
    // key sent, and its reply window outlasts a step's repeat.
    click(*bench.window, "Command44");
    QSignalSpy replyWindow(&link, &LinkEngine::replyWindowEnded);
    QVERIFY(replyWindow.wait(kWait));
    QCOMPARE(sent.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(received(bench.sim, QStringLiteral("TABN   1")), 1, kWait);
    QCOMPARE(received(bench.sim, QStringLiteral("LNFO-001")), 0);
}

void TestPanelCommands::releaseBlanksTheLinesAtOnce()
{
    ShownBench bench;
    PanelWindow &window = *bench.window;
    auto *shiftLeft = window.control<QAbstractButton>("Command111");
    QTest::mousePress(shiftLeft, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!textOf(window, "Label12").isEmpty(), kWait);
    QTest::mouseRelease(shiftLeft, Qt::LeftButton, {}, {}, 300);
    QVERIFY(textOf(window, "Label11").isEmpty());
    QVERIFY(textOf(window, "Label12").isEmpty());
    QVERIFY(parts::link(window).isDisplayWindowOpen());
    QCOMPARE(parts::link(window).displayWindowInterval(), 1000ms);
    // The last step's reply window was closed unmarked: no " X X X X" until
    // the display window ends.
    LinkEngine &link = parts::link(window);
    QSignalSpy replyWindows(&link, &LinkEngine::replyWindowEnded);
    QSignalSpy cleared(&link, &LinkEngine::displayWindowEnded);
    QStringList shown;
    QObject watching;
    connect(&link, &LinkEngine::receivedLineChanged, &watching,
            [&] { shown.append(textOf(window, "Label12")); });
    QVERIFY(cleared.wait(kWait));
    QVERIFY2(replyWindows.isEmpty(), "the last step's reply window ended after the release");
    QVERIFY2(std::all_of(shown.cbegin(), shown.cend(), [](const QString &text) { return text.isEmpty(); }),
             qPrintable(shown.join(u'|')));
}

void TestPanelCommands::lateAnswersMarkEveryHeldStep()
{
    // Every step is answered a second after it went out, long after its 150 ms.
    ShownBench bench({QStringLiteral("--delay"), QStringLiteral("1000")});
    PanelWindow &window = *bench.window;
    LinkEngine &link = parts::link(window);
    // Until the first answer comes: S for a step sent, E for a reply window
    // ended unanswered, A for one ended answered.
    QByteArray events;
    QList<QByteArray> shownAtStep;
    bool answerCame = false;
    int steps = 0;
    connect(&link, &LinkEngine::commandSent, &window, [&] {
        ++steps;
        if (answerCame)
            return;
        events += 'S';
        shownAtStep.append(textOf(window, "Label12").toLatin1());
    });
    connect(&link, &LinkEngine::replyWindowEnded, &window, [&](bool answered) {
        if (!answerCame)
            events += answered ? 'A' : 'E';
    });
    connect(&link, &LinkEngine::batchReceived, &window, [&] { answerCame = true; });

    auto *zoomIn = window.control<QAbstractButton>("Command61");
    QTest::mousePress(zoomIn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(steps >= 4, kWait);
    QTest::mouseRelease(zoomIn, Qt::LeftButton);

    QVERIFY2(!events.contains("SS") && !events.contains('A'), events.constData());
    for (qsizetype step = 1; step < shownAtStep.size(); ++step)
        QCOMPARE(shownAtStep[step], QByteArray(LinkEngine::kNoReply));
}

void TestPanelCommands::losingTheMouseStopsTheLens_data()
{
    QTest::addColumn<QString>("loss");

    QTest::newRow("buttonHidden") << "hidden";
    QTest::newRow("modalBoxShown") << "modal";
    QTest::newRow("otherWindowActivated") << "deactivated";
}

void TestPanelCommands::losingTheMouseStopsTheLens()
{
    QFETCH(QString, loss);
    ShownBench bench;
    PanelWindow &window = *bench.window;
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *zoomOut = window.control<QAbstractButton>("Command62");
    QSignalSpy sent(&parts::link(window), &LinkEngine::commandSent);
    QTest::mousePress(zoomOut, Qt::LeftButton);
    // The lens is moving: a repetition has reached the projector.
    QTRY_VERIFY_WITH_TIMEOUT(received(bench.sim, QStringLiteral("LNZO-001")) >= 2, kWait);

    QMessageBox box(QMessageBox::Information, QStringLiteral("test"), QStringLiteral("modal"),
                    QMessageBox::Ok, &window);
    QWidget other;
    if (loss == u"hidden") {
        zoomOut->hide();
    } else if (loss == u"modal") {
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
    } else {
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
    }
    QCOMPARE(parts::repeater(window).repeatCode(), 0);
    QVERIFY(!parts::repeater(window).timer1().isActive());
    QVERIFY2(stepsEndAt(bench, QStringLiteral("LNZO-001"), sent.count()), "a step followed the loss");
}

QTEST_MAIN(TestPanelCommands)
#include "tst_panelcommands.moc"
