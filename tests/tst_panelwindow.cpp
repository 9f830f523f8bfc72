// The window: its controls built from the layout table, start-up and the port group.
#include "commandcatalogue.h"
#include "comport.h"
#include "fakeline.h"
#include "panelparts.h"
#include "panelstyle.h"
#include "panelwindow.h"
#include "portlisting.h"
#include "warningcatcher.h"
#include "windowstates.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

using namespace layout;

namespace {

const char *const kMissingDevice = "/nonexistent/qvx-test-device";

QString nameOf(std::string_view name)
{
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }

    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return QObject::eventFilter(watched, event);
    }
};

QString captionOf(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (const auto *box = qobject_cast<const QLineEdit *>(widget))
        return box->text();
    return {};
}

} // namespace

class TestPanelWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyRowBuildsItsControl();
    void pictureGridRows();
    void focusStartsOnPowerOn();
    void accessibleNamesAndDescriptions();
    void everyButtonHasOneAction();
    void windowHasTitleAndFixedWidth();
    void startUpWithoutComOneWarnsOnce();
    void windowDrivesTheLineItIsGiven();
    void refusedSpeedKeepsTheRunningOption();
    void warningGoesWithItsCause_data();
    void warningGoesWithItsCause();
    void portGroupShowsAndHidesByTimer();
    void portGroupCoversComButton();
    void trafficLinesShowPlainText();
    void commandGoesOutBeforeTheButtonRepaints_data();
    void commandGoesOutBeforeTheButtonRepaints();
};

void TestPanelWindow::init()
{
    qputenv("QVX_COM1", kMissingDevice);
    qputenv("QVX_COM2", kMissingDevice);
}

void TestPanelWindow::everyRowBuildsItsControl()
{
    FakeLine line;
    PanelWindow window(line);
    for (const ControlRow &row : kControls) {
        const QString name = nameOf(row.name);
        QWidget *widget = parts::named(window, row.name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->objectName(), name);
        const QString container = row.container.empty() ? QStringLiteral("Form1") : nameOf(row.container);
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->isHidden(), bool(row.notes & Hidden));
        QCOMPARE(captionOf(widget), QString::fromUtf8(row.caption.data(), qsizetype(row.caption.size())));
        if (auto *option = qobject_cast<QRadioButton *>(widget))
            QCOMPARE(option->isChecked(), bool(row.notes & Selected));
    }
    QCOMPARE(window.control<QLabel>("Label22")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

void TestPanelWindow::pictureGridRows()
{
    FakeLine line;
    PanelWindow window(line);
    QMap<int, QStringList> rows;
    for (auto *button : window.control("Frame14")->findChildren<QAbstractButton *>())
        rows[button->y()].append(button->text());
    QCOMPARE(rows.size(), 5);
    const QList<QStringList> grid = rows.values();
    const QList<qsizetype> sizes{grid[0].size(), grid[1].size(), grid[2].size(), grid[3].size(),
                                 grid[4].size()};
    QCOMPARE(sizes, (QList<qsizetype>{9, 9, 9, 8, 8}));
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(grid[row].contains(u"D by D"), row < 3);
        QCOMPARE(grid[row].contains(u"Border"), row >= 3);
        QCOMPARE(grid[row].contains(u"Full"), row < 3);
        QCOMPARE(grid[row].contains(u"Custum"), row == 1);
    }
}

void TestPanelWindow::focusStartsOnPowerOn()
{
    WarningCatcher warnings;
    FakeLine line;
    PanelWindow window(line);
    window.startUp();
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), window.control("Command17"));
    QTest::keyClick(&window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command13"));
}

void TestPanelWindow::accessibleNamesAndDescriptions()
{
    FakeLine line;
    PanelWindow window(line);
    window.show();
    for (const ControlRow &row : kControls) {
        QWidget *widget = parts::named(window, row.name);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(accessible);
        const QString caption = QString::fromUtf8(row.caption.data(), qsizetype(row.caption.size()));
        if (row.kind == Button || row.kind == Option || (row.kind == Label && !caption.isEmpty()))
            QCOMPARE(accessible->text(QAccessible::Name), caption);
        if (row.kind == TextBox)
            QCOMPARE(accessible->text(QAccessible::Value), caption);
    }
    const auto descriptionOf = [&](ControlId name) {
        return QAccessible::queryAccessibleInterface(window.control(name))->text(QAccessible::Description);
    };
    QCOMPARE(descriptionOf("Command61"), QStringLiteral("Zoom in"));
    QCOMPARE(descriptionOf("Command108"), QStringLiteral("Lens shift up"));
    QCOMPARE(descriptionOf("Label11"), QStringLiteral("Sent"));
    QCOMPARE(descriptionOf("Label12"), QStringLiteral("Received"));
    QCOMPARE(descriptionOf("Label22"), QStringLiteral("Status"));
    QCOMPARE(descriptionOf("Command17"), QStringLiteral("Power"));
    QCOMPARE(descriptionOf("Command78"), QStringLiteral("Input 2 picture"));
    QCOMPARE(QAccessible::queryAccessibleInterface(window.control("Image1"))->text(QAccessible::Name),
             QStringLiteral("KELM"));
}

void TestPanelWindow::everyButtonHasOneAction()
{
    // The buttons that act on the panel itself rather than send: COM, END, CLS
    // and the data-panel switch.
    const QStringList panelButtons{QStringLiteral("Command33"), QStringLiteral("Command16"),
                                   QStringLiteral("Command96"), QStringLiteral("Command34")};
    for (const ControlRow &row : kControls) {
        if (row.kind != Button)
            continue;
        const auto *fixed = commands::findControl(commands::kFixedCommands, row.name);
        const auto *text = commands::findControl(commands::kTextCommands, row.name);
        const auto *lens = commands::findControl(commands::kLensButtons, row.name);
        const int actions = (fixed != nullptr) + (text != nullptr) + (lens != nullptr) +
                            panelButtons.contains(nameOf(row.name));
        QVERIFY2(actions == 1, qPrintable(nameOf(row.name)));
    }
}

void TestPanelWindow::windowHasTitleAndFixedWidth()
{
    FakeLine line;
    PanelWindow window(line);
    QCOMPARE(window.objectName(), QStringLiteral("Form1"));
    QCOMPARE(window.windowTitle(), QStringLiteral("KELM   QVX-7300/7300L   CONTROL   Ver.1.40"));
    QCOMPARE(window.minimumWidth(), 633);
    QCOMPARE(window.maximumWidth(), 633);
}

void TestPanelWindow::startUpWithoutComOneWarnsOnce()
{
    WarningCatcher warnings;
    // The real port on a missing device, whose failure names what to set.
    ComPort line;
    PanelWindow window(line);
    window.startUp();
    warnings.check();
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY2(!warnings.texts.first().isEmpty(), "the box carries the port's description");
    const QString ports = portlisting::describe(portlisting::availablePorts(), portlisting::byIdNames());
    QCOMPARE(
        warnings.hints.first(),
        QStringLiteral("COM1 is %1. Set QVX_COM1 to the projector's serial device, for example "
                       "QVX_COM1=/dev/ttyUSB0.\n\n%2\n\nThe panel opens COM1 by itself as soon as it can.")
            .arg(QString::fromLatin1(kMissingDevice), ports));
    QVERIFY(!line.isOpen());
    QVERIFY(window.control<QRadioButton>("Option1")->isChecked());
    QVERIFY(window.control<QRadioButton>("Option10")->isChecked());
    QVERIFY(window.control("Frame8")->isHidden());
    // The compact view's client height in twips.
    QCOMPARE(window.height(), pixels(4870));
    QVERIFY(parts::link(window).rxBuffer().isEmpty());
    QCOMPARE(parts::link(window).awaitingReply(), 0);
}

void TestPanelWindow::windowDrivesTheLineItIsGiven()
{
    FakeLine line;
    PanelWindow window(line);
    window.startUp();
    QVERIFY(line.isOpen());
    QCOMPARE(line.portNumber(), 1);
    QCOMPARE(line.settings(), QStringLiteral("9600,N,8,1"));
    line.written.clear();

    window.control<QAbstractButton>("Command44")->click();
    QCOMPARE(line.written, QList<QByteArray>{"TABN   1\r"});
    QCOMPARE(window.control<QLabel>("Label11")->text(), QStringLiteral(" T A B N       1 CR "));
    line.feed("0000\r");
    QCOMPARE(window.control<QLabel>("Label12")->text(), QStringLiteral(" 0 0 0 0 CR "));
    QCOMPARE(window.control<QLabel>("Label22")->text(), QStringLiteral(" Normal"));
}

void TestPanelWindow::refusedSpeedKeepsTheRunningOption()
{
    WarningCatcher warnings;
    FakeLine line;
    line.refusedSettings = QStringLiteral("115200,N,8,1");
    PanelWindow window(line);
    window.startUp();
    window.control<QAbstractButton>("Command33")->click();
    window.control<QRadioButton>("Option9")->click();

    warnings.check();
    QCOMPARE(warnings.texts, QStringList{QStringLiteral("Invalid property value")});
    QCOMPARE(line.settings(), QStringLiteral("9600,N,8,1"));
    QVERIFY2(window.control<QRadioButton>("Option10")->isChecked(),
             "the option names the speed the port runs at");
    QVERIFY(!window.control<QRadioButton>("Option9")->isChecked());
    QVERIFY2(!window.control("Frame8")->isHidden(), "the group stays for another choice");
    QVERIFY(line.isOpen());
}

namespace {

// What ends a warning's cause: the port opening again, or a device server's
// late agreement to the settings.
enum class Ending { PortBack, SettingsApplied };

} // namespace

void TestPanelWindow::warningGoesWithItsCause_data()
{
    QTest::addColumn<SerialLine::Event>("cause");
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<bool>("withdrawn");
    QTest::newRow("lossGoesWhenPortBack") << SerialLine::Event::DeviceLost << Ending::PortBack << true;
    QTest::newRow("lossStaysAtLateSettings")
        << SerialLine::Event::DeviceLost << Ending::SettingsApplied << false;
    QTest::newRow("refusalGoesAtLateSettings")
        << SerialLine::Event::SettingsRefused << Ending::SettingsApplied << true;
}

// Nobody answers the box; it goes by itself when what it told of is over, and
// only then.
void TestPanelWindow::warningGoesWithItsCause()
{
    QFETCH(SerialLine::Event, cause);
    QFETCH(Ending, ending);
    QFETCH(bool, withdrawn);
    WarningCatcher warnings(WarningCatcher::Answer::LeaveUp);
    FakeLine line;
    PanelWindow window(line);
    window.startUp();
    line.failingPorts = {1};
    if (cause == SerialLine::Event::DeviceLost)
        line.loseDevice();
    else
        line.raise(cause, QStringLiteral("The device server did not take the settings"));
    warnings.check();
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY(warnings.isBoxShown());

    if (ending == Ending::PortBack) {
        line.failingPorts.clear();
        QTRY_VERIFY_WITH_TIMEOUT(line.isOpen(), 10000);
    } else {
        line.raise(SerialLine::Event::SettingsApplied, {});
    }
    QCOMPARE(warnings.isBoxShown(), !withdrawn);
    QCOMPARE(warnings.texts.size(), 1);
}

void TestPanelWindow::portGroupShowsAndHidesByTimer()
{
    WarningCatcher warnings;
    FakeLine line;
    PanelWindow window(line);
    window.startUp();
    QWidget *frame8 = window.control("Frame8");
    window.control<QAbstractButton>("Command33")->click();
    QVERIFY(!frame8->isHidden());
    QVERIFY(parts::portGroupTimer(window).isActive());
    QCOMPARE(parts::portGroupTimer(window).interval(), 5000);

    parts::portGroupTimer(window).setInterval(20);
    QTRY_VERIFY_WITH_TIMEOUT(frame8->isHidden(), 5000);
    QVERIFY(!parts::portGroupTimer(window).isActive());
}

void TestPanelWindow::portGroupCoversComButton()
{
    WarningCatcher warnings;
    FakeLine line;
    PanelWindow window(line);
    window.startUp();
    window.show();
    QWidget *command33 = window.control("Command33");
    const QPoint middle = command33->geometry().center();
    QCOMPARE(window.childAt(middle), command33);

    command33->setFocus();
    window.control<QAbstractButton>("Command33")->click();
    QWidget *covering = window.childAt(middle);
    QVERIFY2(covering != command33, "the shown port group lies in front of COM");
    QVERIFY(window.control("Frame8")->isAncestorOf(covering) || covering == window.control("Frame8"));
}

void TestPanelWindow::trafficLinesShowPlainText()
{
    FakeLine line;
    PanelWindow window(line);
    for (const ControlId name : {id::kSentLine, id::kReceivedLine, id::kStatusLine})
        QCOMPARE(window.control<QLabel>(name)->textFormat(), Qt::PlainText);
}

void TestPanelWindow::commandGoesOutBeforeTheButtonRepaints_data()
{
    QTest::addColumn<QByteArray>("control");
    // The mouse event that sends: a click's release, a lens button's press.
    QTest::addColumn<bool>("onPress");

    QTest::newRow("clickedButton") << QByteArray("Command44") << false;
    QTest::newRow("lensButton") << QByteArray("Command61") << true;
}

// A button repainted before its command is written holds the command back by
// as long as the paint takes, and a compositing display may make it wait for a
// frame. The command goes out first; the button still repaints after it.
void TestPanelWindow::commandGoesOutBeforeTheButtonRepaints()
{
    QFETCH(QByteArray, control);
    QFETCH(bool, onPress);
    FakeLine line;
    PanelWindow window(line);
    window.startUp();
    window.setClientHeight(WindowStates::kFullHeight);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *button = parts::named<QAbstractButton>(window, control.toStdString());
    PaintCounter counter(button);
    int paintsAtWrite = -1;
    connect(&parts::link(window), &LinkEngine::commandSent, this, [&] { paintsAtWrite = counter.paints; });

    const QPoint centre = button->mapTo(&window, button->rect().center());
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, centre);
    const int paintsBeforeRelease = counter.paints;
    if (!onPress)
        QCOMPARE(paintsAtWrite, -1);
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, centre);
    QVERIFY2(paintsAtWrite >= 0, "the mouse sent no command");
    QCOMPARE(line.written.size(), 1);
    QCOMPARE(paintsAtWrite, onPress ? 0 : paintsBeforeRelease);
    QTRY_VERIFY2(counter.paints > paintsAtWrite, "the button repaints after the command went out");
}

QTEST_MAIN(TestPanelWindow)
#include "tst_panelwindow.moc"
