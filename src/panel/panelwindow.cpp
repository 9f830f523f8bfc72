// The panel: the one window through which the operator drives the projector.
#include "panelwindow.h"

#include "holdbutton.h"
#include "panelpicture.h"
#include "panelstyle.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>

using namespace layout;

const std::array<PanelWindow::ButtonAction, 4> PanelWindow::kButtonActions{{
    {id::kShowPortGroup, &PanelWindow::showPortGroup},
    {id::kDataSwitch, &PanelWindow::switchDataPanel},
    {id::kEnd, &PanelWindow::end},
    {id::kClearFreeText, &PanelWindow::clearFreeText},
}};

const std::array<PanelWindow::PortOption, 4> PanelWindow::kPortOptions{{
    {id::kCom1, 1, nullptr},
    {id::kCom2, 2, nullptr},
    {id::kSpeed9600, 0, LineSettings::kText9600},
    {id::kSpeed115200, 0, LineSettings::kText115200},
}};

PanelWindow::PanelWindow(SerialLine &line, QWidget *parent)
    : QWidget(parent)
    , m_line(line)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kTitle));

    QPalette ground = palette();
    ground.setColor(QPalette::Window, groundOf(Grey));
    ground.setColor(QPalette::WindowText, inkOf(Grey));
    setPalette(ground);
    setAutoFillBackground(true);
    setFont(fontOf(W));

    m_controls = buildControls(*this);
    for (std::size_t row = 0; row < kControls.size(); ++row)
        wire(ControlId::ofRow(row), m_controls[row]);
    installEventFilter(this);
    m_portGroup = control(id::kPortGroup);
    m_com1Option = control<QRadioButton>(id::kCom1);
    m_dataSwitch = control<QAbstractButton>(id::kDataSwitch);
    m_sentLine = control<QLabel>(id::kSentLine);
    m_receivedLine = control<QLabel>(id::kReceivedLine);
    m_statusLine = control<QLabel>(id::kStatusLine);
    // The design size: the full layout, until start-up sets the compact view.
    setClientHeight(WindowStates::kFullHeight);

    m_portGroupTimer.setObjectName(QStringLiteral("Timer3"));
    m_portGroupTimer.setInterval(kPortGroupShown);
    connect(&m_portGroupTimer, &QTimer::timeout, this, &PanelWindow::hidePortGroup);

    connect(&m_link, &LinkEngine::sentLineChanged, this, [this] { showLine(m_sentLine, m_link.sentLine()); });
    connect(&m_link, &LinkEngine::receivedLineChanged, this,
            [this] { showLine(m_receivedLine, m_link.receivedLine()); });
    connect(&m_link, &LinkEngine::statusLineChanged, this,
            [this] { showLine(m_statusLine, m_link.statusLine()); });
    connect(&m_ports, &PortSelection::portLost, this,
            [this](const PortFailure &failure) { warn(failure, WarningEnd::WhenPortBack); });
    connect(&m_ports, &PortSelection::openFailed, this, [this](const PortFailure &failure, bool waited) {
        warn(failure, waited ? WarningEnd::WhenPortBack : WarningEnd::WhenAnswered);
    });
    connect(&m_ports, &PortSelection::portReopened, this,
            [this] { withdrawWarning(WarningEnd::WhenPortBack); });
    // A device server that refuses a speed is a refused speed, told later.
    connect(&m_ports, &PortSelection::settingsRefused, this, [this](const PortFailure &failure) {
        showSpeed();
        warn(failure, WarningEnd::WhenSettingsApplied);
    });
    connect(&m_ports, &PortSelection::settingsApplied, this,
            [this] { withdrawWarning(WarningEnd::WhenSettingsApplied); });
    connect(&m_link, &LinkEngine::commandSent, this, &PanelWindow::showReplyTiming);
    // Not on every batch: a flood would spend its time formatting tooltips.
    connect(&m_link, &LinkEngine::replyStarted, this, &PanelWindow::showReplyTiming);
    connect(&m_link, &LinkEngine::replyWindowEnded, this, &PanelWindow::showReplyTiming);
    m_link.setReplyDecoder([this](const QByteArray &lastCommand, const QByteArray &dump, bool grown) {
        return m_router.decode(lastCommand, dump, grown);
    });
}

void PanelWindow::startUp()
{
    m_link.reset();
    centre();
    setClientHeight(WindowStates::kCompactHeight);
    const auto failure = m_ports.openAtStart();
    // Selecting COM1 runs its own handler, which closes and reopens the port. When
    // the first open failed, that failure is the one reported, once.
    m_com1Option->setChecked(true);
    choose(kPortOptions.front(), !failure);
    // COM1 missing at start-up is opened once its device is there, also when a
    // device server's connect fails after start-up has returned.
    if (failure) {
        m_ports.reopenWhenBack(1);
        warn(*failure, WarningEnd::WhenPortBack);
    } else {
        m_ports.reopenOnFailure(1);
    }
}

int PanelWindow::clientHeight() const
{
    return twips(height());
}

void PanelWindow::setClientHeight(int twips)
{
    // The operator cannot resize the window; only the program sets its height.
    setFixedSize(pixels(kWidth), pixels(twips));
}

void PanelWindow::wire(ControlId id, QWidget *widget)
{
    // Ctrl+H works from any control and is seen before the control gets it.
    widget->installEventFilter(this);
    const std::string_view name = id.layout().name;
    const auto onClick = [&](auto handler) {
        connect(qobject_cast<QAbstractButton *>(widget), &QAbstractButton::clicked, this, handler);
    };
    if (const auto *lens = commands::findControl(commands::kLensButtons, name)) {
        auto *button = qobject_cast<HoldButton *>(widget);
        connect(button, &HoldButton::holdStarted, this, [this, lens] { m_repeater.press(*lens); });
        connect(button, &HoldButton::holdEnded, &m_repeater, &HoldRepeater::release);
    } else if (const auto *fixed = commands::findControl(commands::kFixedCommands, name)) {
        onClick([this, fixed] { m_sender.send(*fixed); });
    } else if (const auto *text = commands::findControl(commands::kTextCommands, name)) {
        // Every box of the catalogue is in the layout: the table says so at build time.
        const auto *box = control<QLineEdit>(*ControlId::find(text->box));
        onClick([this, text, box] { m_sender.send(*text, box->text()); });
    } else if (const auto *action = commands::findControl(kButtonActions, id)) {
        onClick([this, action] { (this->*action->handler)(); });
    } else if (const auto *choice = commands::findControl(kPortOptions, id)) {
        connect(qobject_cast<QRadioButton *>(widget), &QRadioButton::clicked, this,
                [this, choice] { choose(*choice); });
    } else if (id.layout().kind == Picture) {
        connect(qobject_cast<PanelPicture *>(widget), &PanelPicture::doubleClicked, this,
                &PanelWindow::onPictureDoubleClicked);
    }
}

bool PanelWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A key press may pass several filtered controls on its way up from the
    // focused one; acting on Ctrl+H again changes nothing. The key is never
    // consumed: the control still gets it.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (const auto change = m_states.keyDown(key->key(), key->modifiers()))
            apply(*change);
    }
    return QWidget::eventFilter(watched, event);
}

void PanelWindow::apply(const WindowStates::Change &change)
{
    setClientHeight(change.height);
    m_dataSwitch->setText(change.caption);
    m_dataSwitch->show();
}

void PanelWindow::onPictureDoubleClicked()
{
    if (const auto change = m_states.pictureDoubleClicked())
        apply(*change);
}

void PanelWindow::switchDataPanel()
{
    m_portGroupTimer.stop();
    apply(m_states.switchClicked(clientHeight()));
    m_portGroupTimer.start();
}

void PanelWindow::centre()
{
    // Centred with the full layout's size, so the compact window that follows
    // keeps the top edge of a centred full-size window.
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - pixels(kWidth)) / 2,
         area.top() + (area.height() - pixels(kFullOuterHeight)) / 2);
}

void PanelWindow::choose(const PortOption &option, bool reportFailure)
{
    const auto failure = option.port != 0 ? m_ports.selectPort(option.port)
                                          : m_ports.selectSettings(QString::fromLatin1(option.settings));
    if (!option.port)
        showSpeed();
    // A failure leaves the port group shown, so the operator can choose again.
    if (!failure)
        m_portGroup->hide();
    else if (reportFailure)
        warn(*failure, WarningEnd::WhenAnswered);
}

void PanelWindow::showSpeed()
{
    // A refused speed leaves the port at the one it ran at; its option is the
    // one selected.
    for (const PortOption &option : kPortOptions) {
        if (option.settings && m_ports.commSettings() == QLatin1String(option.settings))
            control<QRadioButton>(option.control)->setChecked(true);
    }
}

void PanelWindow::clearFreeText()
{
    control<QLineEdit>(id::kFreeText)->clear();
}

void PanelWindow::showPortGroup()
{
    m_portGroup->show();
    m_portGroupTimer.start();
}

void PanelWindow::hidePortGroup()
{
    m_portGroup->hide();
    m_portGroupTimer.stop();
}

void PanelWindow::end()
{
    m_ports.close();
    close();
}

void PanelWindow::warn(const PortFailure &failure, WarningEnd end)
{
    // One box at a time: a newer warning takes the place of the one shown.
    if (!m_warning) {
        m_warning = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), {},
                                    QMessageBox::Ok, this);
    }
    m_warning->setText(failure.description);
    m_warning->setInformativeText(failure.hint);
    m_warningEnd = end;
    // Modal for the operator, but the panel does not wait for the answer: a
    // lost line is waited for and opened again while the box is up.
    m_warning->open();
}

void PanelWindow::withdrawWarning(WarningEnd end)
{
    if (m_warning && m_warning->isVisible() && m_warningEnd == end)
        m_warning->accept();
}

void PanelWindow::showReplyTiming()
{
    // The lines' captions are the traffic; when it happened goes in their tooltips.
    if (!m_link.sentAt().isValid())
        return;
    const QString sentAt = m_link.sentAt().toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    m_sentLine->setToolTip(tr("Sent at %1").arg(sentAt));
    QString reply;
    if (const auto latency = m_link.replyLatency())
        reply = tr("Reply %1 ms after the command sent at %2").arg(*latency).arg(sentAt);
    else if (m_link.awaitingReply() == 1)
        reply = tr("Waiting for a reply to the command sent at %1").arg(sentAt);
    else
        reply = tr("No reply within %1 ms to the command sent at %2")
                    .arg(m_link.replyWindowInterval().count())
                    .arg(sentAt);
    m_receivedLine->setToolTip(reply);
}

void PanelWindow::showLine(QLabel *label, const QByteArray &text)
{
    // A line shows the start of its text and clips the rest. Every character is
    // at least a pixel wide, so the label's width in pixels bounds what can be
    // seen; the rest of a long dump is never handed to the widget. A text that
    // did not change is not set again.
    const QString shown = QString::fromLatin1(text.left(label->width()));
    if (label->text() != shown)
        label->setText(shown);
}
