// The compact, data, service and full views, driven by keys and mouse as an operator would.
#include "fakeline.h"
#include "panelparts.h"
#include "panelwindow.h"
#include "warningcatcher.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

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

    int height() const { return window.clientHeight(); }
    QAbstractButton *button(std::string_view name) { return window.control<QAbstractButton>(name); }
    QString switchCaption() { return button("Command34")->text(); }
    void pressCtrlH() { QTest::keyClick(&window, Qt::Key_H, Qt::ControlModifier); }
    void doubleClickPicture() { QTest::mouseDClick(window.control("Image1"), Qt::LeftButton); }
    // Whether the full view is armed, seen as the operator sees it: a double
    // click on the picture opens it.
    bool doubleClickOpensFullView()
    {
        doubleClickPicture();
        return height() == WindowStates::kFullHeight;
    }

    WarningCatcher warnings;
    FakeLine line;
    PanelWindow window{line};
};

int twipsOf(int pixels)
{
    return pixels * 15;
}

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
    void heightAtThresholdSwitchesToCompact();
    void ctrlHFromFullViewGoesBackToService();
    void switchWorksFromTheKeyboardBelowTheEdge();
    void switchRestartsThePortGroupTimer();
    void widthNeverChanges();
};

void TestWindowStates::startsCompactWithSwitchHidden()
{
    ShownPanel panel;
    QCOMPARE(panel.height(), twipsOf(layout::pixels(WindowStates::kCompactHeight)));
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

    QCOMPARE(panel.height(), WindowStates::kServiceHeight);
    QVERIFY(!panel.button("Command34")->isHidden());
    QCOMPARE(panel.switchCaption(), WindowStates::closeCaption());
    QVERIFY2(panel.doubleClickOpensFullView(), "Ctrl+H arms the full view");
    // The box had the key and passed it on: nothing consumed it on the way.
    QVERIFY(reachedWindow.presses > 0);
    QCOMPARE(volume->text(), QStringLiteral("00"));
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
    QCOMPARE(panel.height(), WindowStates::kFullHeight);
    QCOMPARE(panel.switchCaption(), WindowStates::closeCaption());
    panel.doubleClickPicture();
    QCOMPARE(panel.height(), WindowStates::kFullHeight);

    panel.button("Command34")->click();
    QCOMPARE(panel.height(), compact);
    panel.doubleClickPicture();
    QVERIFY2(panel.height() == compact, "the switch disarms the full view");

    panel.pressCtrlH();
    panel.doubleClickPicture();
    QCOMPARE(panel.height(), WindowStates::kFullHeight);
}

void TestWindowStates::switchToggles()
{
    ShownPanel panel;
    const int compact = panel.height();
    panel.pressCtrlH();
    QAbstractButton *toggle = panel.button("Command34");

    toggle->click();
    QCOMPARE(panel.height(), compact);
    QCOMPARE(panel.switchCaption(), WindowStates::showDataCaption());
    toggle->click();
    QCOMPARE(panel.height(), WindowStates::kDataHeight);
    QCOMPARE(panel.switchCaption(), WindowStates::hideDataCaption());
    toggle->click();
    QCOMPARE(panel.height(), compact);
    QCOMPARE(panel.switchCaption(), WindowStates::showDataCaption());
    QVERIFY2(!toggle->isHidden(), "once shown, the switch stays");
}

void TestWindowStates::heightAtThresholdSwitchesToCompact()
{
    ShownPanel panel;
    panel.pressCtrlH();
    panel.window.setClientHeight(WindowStates::kThreshold);
    QCOMPARE(panel.height(), WindowStates::kThreshold);
    panel.button("Command34")->click();
    QCOMPARE(panel.switchCaption(), WindowStates::showDataCaption());

    panel.window.setClientHeight(WindowStates::kThreshold - 15);
    panel.button("Command34")->click();
    QCOMPARE(panel.height(), WindowStates::kDataHeight);
}

void TestWindowStates::ctrlHFromFullViewGoesBackToService()
{
    ShownPanel panel;
    panel.pressCtrlH();
    panel.doubleClickPicture();
    QCOMPARE(panel.height(), WindowStates::kFullHeight);
    panel.pressCtrlH();
    QCOMPARE(panel.height(), WindowStates::kServiceHeight);
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
    QCOMPARE(panel.height(), WindowStates::kDataHeight);
}

void TestWindowStates::switchRestartsThePortGroupTimer()
{
    ShownPanel panel;
    QWidget *portGroup = panel.window.control("Frame8");
    panel.pressCtrlH();
    panel.button("Command33")->click();
    QVERIFY(!portGroup->isHidden());
    QTest::qWait(2500);
    panel.button("Command34")->click();
    QVERIFY(parts::portGroupTimer(panel.window).isActive());

    // Past 5000 ms from "COM" but not from the switch: still shown.
    QTest::qWait(3500);
    QVERIFY2(!portGroup->isHidden(), "the switch restarted Timer3");
    QTRY_VERIFY_WITH_TIMEOUT(portGroup->isHidden(), 10000);
    QVERIFY(!parts::portGroupTimer(panel.window).isActive());
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
