// Every sending button of the panel, judged by the simulated projector's answers.
#include "panelbench.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

using namespace bench;

namespace {

// The buttons that send nothing of their own: "COM", "END" (it would end the
// panel), "CLS", the data switch, and "SEND", whose text the operator types.
const QStringList kNoOwnCommand{QStringLiteral("Command33"), QStringLiteral("Command16"),
                                QStringLiteral("Command96"), QStringLiteral("Command34"),
                                QStringLiteral("Command95")};
// The status queries, which the projector answers with data instead of ACK.
const QStringList kQueries{QStringLiteral("Command44"), QStringLiteral("Command60"),
                           QStringLiteral("Command45"), QStringLiteral("Command46"),
                           QStringLiteral("Command59")};

const QString kAck = QStringLiteral(" ACK CR ");
const QString kError = QStringLiteral(" E R R CR ");

// A full-height panel, opened the operator's way, so that every button lies
// in the window and takes the mouse where it is.
struct FullBench : Bench
{
    FullBench()
        : Bench({QStringLiteral("--verbose")})
    {
        window->show();
        window->activateWindow();
        QTest::keyClick(window.get(), Qt::Key_H, Qt::ControlModifier);
        QTest::mouseDClick(window->control("Image1"), Qt::LeftButton);
    }
};

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void everyButtonIsAcknowledged();
    void misspeltCommandIsRefused();
};

// The simulator accepts exactly the spellings of the projector's commands and
// answers anything else with ERR, so it judges every command text the panel
// holds without the test restating one. Each button is clicked with the mouse:
// a click sends a fixed or value command, a press a lens step, and a release
// that follows at once stops the lens after that one step.
void TestCatalogue::everyButtonIsAcknowledged()
{
    FullBench bench;
    QVERIFY2(bench.sim.isReady(), qPrintable(bench.sim.log()));
    PanelWindow &window = *bench.window;
    QVERIFY2(window.control("Frame14")->geometry().bottom() < window.height(), "the grid is in view");

    QStringList faults;
    int judged = 0;
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        const QString name = button->objectName();
        if (!name.startsWith(u"Command") || qobject_cast<QRadioButton *>(button) ||
            kNoOwnCommand.contains(name))
            continue;
        ++judged;
        const qsizetype before = bench.sim.logged(u"TX").size();
        QTest::mouseClick(button, Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return bench.sim.logged(u"TX").size() > before; }, kWait)) {
            faults.append(QStringLiteral("%1 \"%2\": no answer").arg(name, button->text()));
            continue;
        }
        const QStringList received = bench.sim.logged(u"RX");
        const QString sent =
            received.size() == before + 1 ? received.last() : QStringLiteral("(not one command)");
        const QString answer = bench.sim.logged(u"TX").at(before);
        const bool accepted = kQueries.contains(name) ? answer != kError : answer == kAck;
        if (!accepted || received.size() != before + 1)
            faults.append(QStringLiteral("%1 \"%2\" sent \"%3\", answered \"%4\"")
                              .arg(name, button->text(), sent, answer));
    }
    // 72 fixed buttons, 3 value buttons and 8 lens buttons.
    QCOMPARE(judged, 83);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

// Proves the judge can say no: a mnemonic without its argument's padding,
// typed on the free-text line, is refused.
void TestCatalogue::misspeltCommandIsRefused()
{
    FullBench bench;
    QVERIFY2(bench.sim.isReady(), qPrintable(bench.sim.log()));
    auto *freeText = bench.window->control<QLineEdit>("Text1");
    freeText->setFocus();
    QTest::keyClicks(freeText, QStringLiteral("POWR 1"));
    QTest::mouseClick(bench.window->control<QAbstractButton>("Command95"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bench.sim.logged(u"TX"), QStringList{kError}, kWait);
    QCOMPARE(bench.sim.logged(u"RX"), QStringList{QStringLiteral(" P O W R   1 CR ")});
}

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
