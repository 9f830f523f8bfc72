// The panel: the one window through which the operator drives the projector.
#include "panelwindow.h"

#include "holdbutton.h"
#include "panelpicture.h"
#include "panelstyle.h"

#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QValidator>

#include <algorithm>
#include <limits>
#include <vector>

using namespace layout;

const std::array<PanelWindow::ButtonAction, 4> PanelWindow::kButtonActions{{
    {"Command33", &PanelWindow::showPortGroup},
    {"Command34", &PanelWindow::switchDataPanel},
    {"Command16", &PanelWindow::end},
    {"Command96", &PanelWindow::clearFreeText},
}};

const std::array<PanelWindow::PortOption, 4> PanelWindow::kPortOptions{{
    {"Option1", 1, nullptr},
    {"Option2", 2, nullptr},
    {"Option10", 0, LineSettings::kText9600},
    {"Option9", 0, LineSettings::kText115200},
}};

namespace {

// The tables hold their texts as UTF-8; names and most captions are ASCII.
QString textOf(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString captionOf(const ControlRow &row)
{
    return textOf(row.caption);
}

Qt::Alignment alignmentOf(unsigned notes)
{
    switch (notes & AlignMask) {
    case Centre:
        return Qt::AlignHCenter;
    case Right:
        return Qt::AlignRight;
    default:
        return Qt::AlignLeft;
    }
}

// Limits what the operator types into a box. Text the program writes is not
// cut: a validator, unlike the line edit's maximum length, leaves setText alone.
class TypingLimit : public QValidator
{
public:
    TypingLimit(int characters, QObject *parent)
        : QValidator(parent)
        , m_characters(characters)
    {}

    State validate(QString &input, int &) const override
    {
        return input.size() <= m_characters ? Acceptable : Invalid;
    }

private:
    int m_characters;
};

void paint(QWidget *widget, const ControlRow &row)
{
    QPalette palette = widget->palette();
    const QColor ground = groundOf(row.colour);
    if (ground.isValid()) {
        palette.setColor(QPalette::Window, ground);
        palette.setColor(QPalette::Button, ground);
    }
    palette.setColor(QPalette::WindowText, inkOf(row.colour));
    palette.setColor(QPalette::ButtonText, inkOf(row.colour));
    widget->setPalette(palette);
    widget->setFont(fontOf(row.font));
}

} // namespace

PanelWindow::PanelWindow(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kTitle));
    m_comm.setObjectName(QStringLiteral("MSComm1"));

    QPalette ground = palette();
    ground.setColor(QPalette::Window, groundOf(Grey));
    ground.setColor(QPalette::WindowText, inkOf(Grey));
    setPalette(ground);
    setAutoFillBackground(true);
    setFont(fontOf(W));

    buildControls();
    setClientHeight(kFullOuterHeight - 480);

    m_timer3.setObjectName(QStringLiteral("Timer3"));
    m_timer3.setInterval(kPortGroupShown);
    connect(&m_timer3, &QTimer::timeout, this, &PanelWindow::hidePortGroup);

    connect(&m_link, &LinkEngine::sentLineChanged, this, [this] { showLine(m_label11, m_link.sentLine()); });
    connect(&m_link, &LinkEngine::receivedLineChanged, this,
            [this] { showLine(m_label12, m_link.receivedLine()); });
    connect(&m_link, &LinkEngine::statusLineChanged, this,
            [this] { showLine(m_label22, m_link.statusLine()); });
    connect(&m_ports, &PortSelection::portLost, this, &PanelWindow::warn);
    connect(&m_link, &LinkEngine::commandSent, this, &PanelWindow::showReplyTiming);
    // Not on every batch: a flood would spend its time formatting tooltips.
    connect(&m_link, &LinkEngine::replyStarted, this, &PanelWindow::showReplyTiming);
    connect(&m_link, &LinkEngine::replyWindowEnded, this, &PanelWindow::showReplyTiming);
    m_link.setReplyDecoder([this](const QByteArray &lastCommand, const QByteArray &dump) {
        return m_router.decode(lastCommand, dump);
    });
}

void PanelWindow::startUp()
{
    m_link.reset();
    centre();
    setClientHeight(WindowStates::kCompactHeight);
    const auto failure = m_ports.openAtStart();
    if (failure)
        warn(*failure);
    // Selecting COM1 runs its own handler, which closes and reopens the port. When
    // the first open failed, that failure has been reported and is not repeated.
    m_option1->setChecked(true);
    choose(kPortOptions.front(), !failure);
    // COM1 missing at start-up is opened once its device is there.
    if (failure)
        m_ports.reopenWhenBack(1);
}

QWidget *PanelWindow::control(std::string_view name) const
{
    return m_controls.value(textOf(name));
}

int PanelWindow::clientHeight() const
{
    return height() * 15;
}

void PanelWindow::setClientHeight(int twips)
{
    // The operator cannot resize the window; only the program sets its height.
    setFixedSize(pixels(kWidth), pixels(twips));
}

void PanelWindow::buildControls()
{
    for (const ControlRow &row : kControls) {
        QWidget *container = row.container.empty() ? this : m_controls.value(textOf(row.container));
        QWidget *widget = createControl(row, container);
        widget->setObjectName(textOf(row.name));
        widget->setGeometry(pixels(row.left), pixels(row.top), pixels(row.width), pixels(row.height));
        paint(widget, row);
        widget->setVisible(!(row.notes & Hidden));
        describe(widget, row.name);
        // Ctrl+H works from any control and is seen before the control gets it.
        widget->installEventFilter(this);
        m_controls.insert(widget->objectName(), widget);
    }
    installEventFilter(this);
    setTabOrder();

    m_frame8 = control("Frame8");
    m_option1 = control<QRadioButton>("Option1");
    m_command34 = control<QAbstractButton>("Command34");
    m_label11 = control<QLabel>("Label11");
    m_label12 = control<QLabel>("Label12");
    m_label22 = control<QLabel>("Label22");
}

QWidget *PanelWindow::createControl(const ControlRow &row, QWidget *container)
{
    switch (row.kind) {
    case Frame: {
        auto *frame = new QFrame(container);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        frame->setAutoFillBackground(true);
        return frame;
    }
    case Button:
        return createButton(row, container);
    case TextBox: {
        auto *box = new QLineEdit(captionOf(row), container);
        box->setAlignment(alignmentOf(row.notes) | Qt::AlignVCenter);
        box->setMaxLength(std::numeric_limits<int>::max());
        if (const int limit = typingLimitOf(row.notes))
            box->setValidator(new TypingLimit(limit, box));
        return box;
    }
    case Option: {
        auto *option = new QRadioButton(captionOf(row), container);
        option->setAutoFillBackground(true);
        option->setChecked(row.notes & Selected);
        if (const auto *choice = commands::findControl(kPortOptions, row.name))
            connect(option, &QRadioButton::clicked, this, [this, choice] { choose(*choice); });
        return option;
    }
    case Picture: {
        auto *picture = new PanelPicture(container);
        connect(picture, &PanelPicture::doubleClicked, this, &PanelWindow::onPictureDoubleClicked);
        return picture;
    }
    case Label:
        break;
    }
    auto *label = new QLabel(captionOf(row), container);
    // Whatever arrives on the line is shown as characters, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignmentOf(row.notes) | Qt::AlignTop);
    label->setAutoFillBackground(true);
    // A thin sunken border in the panel's greys, not in the label's own ink.
    if (row.notes & Boxed)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

QWidget *PanelWindow::createButton(const ControlRow &row, QWidget *container)
{
    if (const auto *lens = commands::findControl(commands::kLensButtons, row.name)) {
        auto *button = new HoldButton(captionOf(row), container);
        connect(button, &HoldButton::holdStarted, this, [this, lens] { m_repeater.press(*lens); });
        connect(button, &HoldButton::holdEnded, &m_repeater, &HoldRepeater::release);
        return button;
    }
    auto *button = new PanelButton(captionOf(row), container);
    connect(button, &QPushButton::clicked, this, [this, name = row.name] { onButtonClicked(name); });
    return button;
}

void PanelWindow::setTabOrder()
{
    std::vector<const ControlRow *> focusable;
    for (const ControlRow &row : kControls) {
        if (row.tab > 0)
            focusable.push_back(&row);
    }
    std::sort(focusable.begin(), focusable.end(),
              [](const ControlRow *a, const ControlRow *b) { return a->tab < b->tab; });
    for (std::size_t i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(control(focusable[i - 1]->name), control(focusable[i]->name));
    if (!focusable.empty())
        control(focusable.front()->name)->setFocus();
}

void PanelWindow::describe(QWidget *widget, std::string_view name)
{
    if (const auto *description = commands::findControl(kDescriptions, name)) {
        widget->setAccessibleDescription(textOf(description->text));
        return;
    }
    if (const auto *command = commands::findControl(commands::kFixedCommands, name)) {
        for (const GroupDescription &group : kGroupDescriptions) {
            if (group.group == command->group)
                widget->setAccessibleDescription(textOf(group.text));
        }
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
    m_command34->setText(change.caption);
    m_command34->show();
}

void PanelWindow::onPictureDoubleClicked()
{
    if (const auto change = m_states.pictureDoubleClicked())
        apply(*change);
}

void PanelWindow::switchDataPanel()
{
    m_timer3.stop();
    apply(m_states.switchClicked(clientHeight()));
    m_timer3.start();
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

void PanelWindow::onButtonClicked(std::string_view name)
{
    if (const auto *fixed = commands::findControl(commands::kFixedCommands, name)) {
        m_sender.send(*fixed);
    } else if (const auto *text = commands::findControl(commands::kTextCommands, name)) {
        m_sender.send(*text, control<QLineEdit>(text->box)->text());
    } else if (const auto *action = commands::findControl(kButtonActions, name)) {
        (this->*action->handler)();
    }
}

void PanelWindow::choose(const PortOption &option, bool reportFailure)
{
    const auto failure = option.port != 0 ? m_ports.selectPort(option.port)
                                          : m_ports.selectSettings(QString::fromLatin1(option.settings));
    if (!option.port)
        showSpeed();
    // A failure leaves the port group shown, so the operator can choose again.
    if (!failure)
        m_frame8->hide();
    else if (reportFailure)
        warn(*failure);
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
    control<QLineEdit>("Text1")->clear();
}

void PanelWindow::showPortGroup()
{
    m_frame8->show();
    m_timer3.start();
}

void PanelWindow::hidePortGroup()
{
    m_frame8->hide();
    m_timer3.stop();
}

void PanelWindow::end()
{
    m_ports.close();
    close();
}

void PanelWindow::warn(const PortFailure &failure)
{
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), failure.description,
                    QMessageBox::Ok, this);
    box.setInformativeText(failure.hint);
    box.exec();
}

void PanelWindow::showReplyTiming()
{
    // The lines' captions are the traffic; when it happened goes in their tooltips.
    if (!m_link.sentAt().isValid())
        return;
    const QString sentAt = m_link.sentAt().toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    m_label11->setToolTip(tr("Sent at %1").arg(sentAt));
    QString reply;
    if (const auto latency = m_link.replyLatency())
        reply = tr("Reply %1 ms after the command sent at %2").arg(*latency).arg(sentAt);
    else if (m_link.awaitingReply() == 1)
        reply = tr("Waiting for a reply to the command sent at %1").arg(sentAt);
    else
        reply = tr("No reply within %1 ms to the command sent at %2")
                    .arg(m_link.replyWindowInterval().count())
                    .arg(sentAt);
    m_label12->setToolTip(reply);
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
