// The compact, data, service and full views, driven by keys and mouse as an operator would.
#include "fakeline.h"
#include "panelparts.h"
#include "panelviews.h"
#include "panelwindow.h"
#include "warningcatcher.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

using namespace std::chrono_literals;
using views::View;

namespace {

// Counts the key presses that reach a widget after the controls below it let
// them pass.
class KeyCounter : public QObject
{
public:
    int presses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        presses += event->type() == QEvent::KeyPress;
        return false;
    }
};

// A shown panel at start-up, on a line in memory.
struct ShownPanel
{
    ShownPanel()
    {
        window.startUp();
        window.show();
        window.activateWindow();
    }

    // In pixels, the unit the window really has.
    int height() const { return window.height(); }
    QString misplacedFor(View view) const { return views::misplacedFor(window, view); }
    QAbstractButton *button(layout::ControlId name) { return window.control<QAbstractButton>(name); }
    QString switchCaption() { return button("Command34")->text(); }
    void pressCtrlH() { QTest::keyClick(&window, Qt::Key_H, Qt::ControlModifier); }
    void doubleClickPicture() { QTest::mouseDClick(window.control("Image1"), Qt::LeftButton); }
    // Whether the full view is armed, seen as the operator sees it: a double
    // click on the picture opens it.
    bool doubleClickOpensFullView()
    {
        doubleClickPicture();
        return misplacedFor(View::Full).isEmpty();
    }
    // The view reached as the operator reaches it, with the switch shown.
    void open(View view)
    {
        pressCtrlH();
        switch (view) {
        case View::Compact:
            button("Command34")->click();
            break;
        case View::Data:
            button("Command34")->click();
            button("Command34")->click();
            break;
        case View::Service:
            break;
        case View::Full:
            doubleClickPicture();
            break;
        }
    }

    WarningCatcher warnings;
    FakeLine line;
    PanelWindow window{line};
};

const QString kShowData = QStringLiteral("データを表示する");
const QString kHideData = QStringLiteral("データを表示しない");
const QString kClose = QStringLiteral("CLOSE");

// A coarse timer may end the port group's time up to 5 % early.
constexpr qint64 kPortGroupShortest = PanelWindow::kPortGroupShown.count() * 95 / 100;

} // namespace

class TestWindowStates : public QObject
{
    Q_OBJECT

private slots:
    void startsCompactWithSwitchHidden();
    void ctrlHFromATextBox();
    void otherKeysChangeNothing_data();
    void otherKeysChangeNothing();
    void doubleClickOpensFullViewOnlyWhileArmed();
    void switchToggles();
    void switchGoesByView_data();
    void switchGoesByView();
    void ctrlHFromFullViewGoesBackToService();
    void switchWorksFromTheKeyboardBelowTheEdge();
    void switchRestartsThePortGroupTimer();
    void widthNeverChanges();
};

void TestWindowStates::startsCompactWithSwitchHidden()
{
    ShownPanel panel;
    QCOMPARE(panel.misplacedFor(View::Compact), QString());
    QVERIFY(panel.button("Command34")->isHidden());
    QCOMPARE(panel.switchCaption(), WindowStates::showDataCaption());
    QVERIFY2(!panel.doubleClickOpensFullView(), "the full view is not armed");
}

void TestWindowStates::ctrlHFromATextBox()
{
    ShownPanel panel;
    auto *volume = panel.window.control<QLineEdit>("Text2");
    volume->setFocus();
    KeyCounter reachedWindow;
    panel.window.installEventFilter(&reachedWindow);
    QTest::keyClick(volume, Qt::Key_H, Qt::ControlModifier);

    QCOMPARE(panel.misplacedFor(View::Service), QString());
    QVERIFY(!panel.button("Command34")->isHidden());
    QCOMPARE(panel.switchCaption(), kClose);
    // The box had the key and passed it on: nothing consumed it on the way.
    QVERIFY(reachedWindow.presses > 0);
    QCOMPARE(volume->text(), QStringLiteral("00"));
    QVERIFY2(panel.doubleClickOpensFullView(), "Ctrl+H arms the full view");
}

void TestWindowStates::otherKeysChangeNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");

    QTest::newRow("plainH") << int(Qt::Key_H) << Qt::KeyboardModifiers();
    QTest::newRow("shiftH") << int(Qt::Key_H) << Qt::KeyboardModifiers(Qt::ShiftModifier);
    QTest::newRow("ctrlShiftH") << int(Qt::Key_H) << (Qt::ControlModifier | Qt::ShiftModifier);
    QTest::newRow("ctrlAltH") << int(Qt::Key_H) << (Qt::ControlModifier | Qt::AltModifier);
    QTest::newRow("ctrlG") << int(Qt::Key_G) << Qt::KeyboardModifiers(Qt::ControlModifier);
}

void TestWindowStates::otherKeysChangeNothing()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    ShownPanel panel;
    const int before = panel.height();
    QTest::keyClick(&panel.window, Qt::Key(key), modifiers);
    QCOMPARE(panel.height(), before);
    QVERIFY(panel.button("Command34")->isHidden());
    QVERIFY2(!panel.doubleClickOpensFullView(), "the full view is not armed");
}

void TestWindowStates::doubleClickOpensFullViewOnlyWhileArmed()
{
    ShownPanel panel;
    const int compact = panel.height();
    panel.doubleClickPicture();
    QCOMPARE(panel.height(), compact);

    panel.pressCtrlH();
    panel.doubleClickPicture();
    QCOMPARE(panel.misplacedFor(View::Full), QString());
    QCOMPARE(panel.switchCaption(), kClose);
    panel.doubleClickPicture();
    QCOMPARE(panel.misplacedFor(View::Full), QString());

    panel.button("Command34")->click();
    QCOMPARE(panel.height(), compact);
    panel.doubleClickPicture();
    QVERIFY2(panel.height() == compact, "the switch disarms the full view");

    panel.pressCtrlH();
    panel.doubleClickPicture();
    QCOMPARE(panel.misplacedFor(View::Full), QString());
}

void TestWindowStates::switchToggles()
{
    ShownPanel panel;
    const int compact = panel.height();
    panel.pressCtrlH();
    QAbstractButton *toggle = panel.button("Command34");

    toggle->click();
    QCOMPARE(panel.height(), compact);
    QCOMPARE(panel.switchCaption(), kShowData);
    toggle->click();
    QCOMPARE(panel.misplacedFor(View::Data), QString());
    QCOMPARE(panel.switchCaption(), kHideData);
    toggle->click();
    QCOMPARE(panel.height(), compact);
    QCOMPARE(panel.switchCaption(), kShowData);
    QVERIFY2(!toggle->isHidden(), "once shown, the switch stays");
}

void TestWindowStates::switchGoesByView_data()
{
    QTest::addColumn<View>("from");
    QTest::addColumn<View>("to");
    QTest::addColumn<QString>("caption");

    // Only from the compact view does the switch open the data panel.
    QTest::newRow("fromCompact") << View::Compact << View::Data << kHideData;
    QTest::newRow("fromData") << View::Data << View::Compact << kShowData;
    QTest::newRow("fromService") << View::Service << View::Compact << kShowData;
    QTest::newRow("fromFull") << View::Full << View::Compact << kShowData;
}

void TestWindowStates::switchGoesByView()
{
    QFETCH(View, from);
    QFETCH(View, to);
    QFETCH(QString, caption);
    ShownPanel panel;
    panel.open(from);
    QCOMPARE(panel.misplacedFor(from), QString());
    panel.button("Command34")->click();
    QCOMPARE(panel.misplacedFor(to), QString());
    QCOMPARE(panel.switchCaption(), caption);
}

void TestWindowStates::ctrlHFromFullViewGoesBackToService()
{
    ShownPanel panel;
    panel.pressCtrlH();
    panel.doubleClickPicture();
    QCOMPARE(panel.misplacedFor(View::Full), QString());
    panel.pressCtrlH();
    QCOMPARE(panel.misplacedFor(View::Service), QString());
}

void TestWindowStates::switchWorksFromTheKeyboardBelowTheEdge()
{
    ShownPanel panel;
    panel.pressCtrlH();
    panel.button("Command34")->click();
    QAbstractButton *toggle = panel.button("Command34");
    QVERIFY2(toggle->y() >= panel.window.height(), "in the compact view the switch lies below the edge");
    toggle->setFocus();
    QTest::keyClick(toggle, Qt::Key_Space);
    QCOMPARE(panel.misplacedFor(View::Data), QString());
}

void TestWindowStates::switchRestartsThePortGroupTimer()
{
    ShownPanel panel;
    QWidget *portGroup = panel.window.control("Frame8");
    panel.pressCtrlH();
    QElapsedTimer sinceCom;
    sinceCom.start();
    panel.button("Command33")->click();
    QVERIFY(!portGroup->isHidden());
    // Well into the group's time, as the group's own timer counts it, so that
    // its end from "COM" and its end from the switch lie apart.
    const QTimer &groupTimer = parts::portGroupTimer(panel.window);
    QTRY_VERIFY_WITH_TIMEOUT(groupTimer.remainingTimeAsDuration() <= PanelWindow::kPortGroupShown - 1s,
                             20000);
    if (portGroup->isHidden()) {
        QVERIFY2(sinceCom.elapsed() >= kPortGroupShortest, "the group left before its time");
        QSKIP("the machine was too slow to click the switch while the group was shown");
    }
    QElapsedTimer sinceSwitch;
    sinceSwitch.start();
    panel.button("Command34")->click();

    QTRY_VERIFY_WITH_TIMEOUT(portGroup->isHidden(), 20000);
    QVERIFY2(sinceSwitch.elapsed() >= kPortGroupShortest,
             qPrintable(QStringLiteral("hidden %1 ms after the switch, %2 ms after COM: not restarted")
                            .arg(sinceSwitch.elapsed())
                            .arg(sinceCom.elapsed())));
}

void TestWindowStates::widthNeverChanges()
{
    ShownPanel panel;
    const QSize fixedWidth(panel.window.minimumWidth(), panel.window.maximumWidth());
    panel.pressCtrlH();
    panel.doubleClickPicture();
    panel.button("Command34")->click();
    QCOMPARE(QSize(panel.window.minimumWidth(), panel.window.maximumWidth()), fixedWidth);
    QCOMPARE(panel.window.minimumHeight(), panel.window.maximumHeight());
    QCOMPARE(panel.window.width(), layout::pixels(PanelWindow::kWidth));
}

QTEST_MAIN(TestWindowStates)
#include "tst_windowstates.moc"
