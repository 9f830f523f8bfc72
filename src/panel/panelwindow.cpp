// The panel: the one window through which the operator drives the projector.
#include "panelwindow.h"

#include "panelbutton.h"
#include "panelstyle.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>

#include <algorithm>
#include <vector>

using namespace layout;

const std::array<PanelWindow::ButtonAction, 2> PanelWindow::kButtonActions{{
    {"Command33", &PanelWindow::showPortGroup},
    {"Command16", &PanelWindow::end},
}};

const std::array<PanelWindow::PortOption, 4> PanelWindow::kPortOptions{{
    {"Option1", 1, nullptr},
    {"Option2", 2, nullptr},
    {"Option10", 0, PortSelection::kSettings9600},
    {"Option9", 0, PortSelection::kSettings115200},
}};

namespace {

QString captionOf(const ControlRow &row)
{
    return QString::fromUtf8(row.caption.data(), qsizetype(row.caption.size()));
}

QString nameOf(std::string_view name)
{
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

Qt::Alignment alignmentOf(unsigned notes)
{
    switch (notes & AlignMask) {
    case Centre:
        return Qt::AlignHCenter | Qt::AlignTop;
    case Right:
        return Qt::AlignRight | Qt::AlignTop;
    default:
        return Qt::AlignLeft | Qt::AlignTop;
    }
}

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
}

void PanelWindow::startUp()
{
    m_link.reset();
    centre();
    setClientHeight(kCompactHeight);
    const auto failure = m_ports.openAtStart();
    if (failure)
        warn(*failure);
    // Selecting COM1 runs its own handler, which closes and reopens the port. When
    // the first open failed, that failure has been reported and is not repeated.
    m_option1->setChecked(true);
    choose(kPortOptions.front(), !failure);
}

QWidget *PanelWindow::control(std::string_view name) const
{
    return m_controls.value(nameOf(name));
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
        QWidget *container = row.container.empty() ? this : m_controls.value(nameOf(row.container));
        QWidget *widget = createControl(row, container);
        widget->setObjectName(nameOf(row.name));
        widget->setGeometry(pixels(row.left), pixels(row.top), pixels(row.width), pixels(row.height));
        paint(widget, row);
        widget->setVisible(!(row.notes & Hidden));
        m_controls.insert(widget->objectName(), widget);
    }
    setTabOrder();

    m_frame8 = control("Frame8");
    m_option1 = control<QRadioButton>("Option1");
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
    case Button: {
        auto *button = new PanelButton(captionOf(row), container);
        connect(button, &QPushButton::clicked, this, [this, name = row.name] { onButtonClicked(name); });
        return button;
    }
    case Option: {
        auto *option = new QRadioButton(captionOf(row), container);
        option->setAutoFillBackground(true);
        option->setChecked(row.notes & Selected);
        const auto *choice = std::find_if(kPortOptions.begin(), kPortOptions.end(),
                                          [&](const PortOption &o) { return o.control == row.name; });
        if (choice != kPortOptions.end())
            connect(option, &QRadioButton::clicked, this, [this, choice] { choose(*choice); });
        return option;
    }
    case Label:
        break;
    }
    auto *label = new QLabel(captionOf(row), container);
    // Whatever arrives on the line is shown as characters, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignmentOf(row.notes));
    label->setAutoFillBackground(true);
    // A thin sunken border in the panel's greys, not in the label's own ink.
    if (row.notes & Boxed)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
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
    for (const ButtonAction &action : kButtonActions) {
        if (action.control == name) {
            (this->*action.handler)();
            return;
        }
    }
}

void PanelWindow::choose(const PortOption &option, bool reportFailure)
{
    const auto failure = option.port != 0 ? m_ports.selectPort(option.port)
                                          : m_ports.selectSettings(QString::fromLatin1(option.settings));
    // A failure leaves the port group shown, so the operator can choose again.
    if (!failure)
        m_frame8->hide();
    else if (reportFailure)
        warn(*failure);
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

void PanelWindow::warn(const QString &description)
{
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), description,
                    QMessageBox::Ok, this);
    box.exec();
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
