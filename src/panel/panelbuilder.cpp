// Builds the panel's controls from the layout table.
#include "panelbuilder.h"

#include "holdbutton.h"
#include "panelpicture.h"
#include "panelstyle.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QValidator>

#include <algorithm>
#include <limits>
#include <vector>

namespace layout {

namespace {

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

QWidget *createButton(const ControlRow &row, QWidget *container)
{
    if (commands::findControl(commands::kLensButtons, row.name))
        return new HoldButton(captionOf(row), container);
    return new PanelButton(captionOf(row), container);
}

QWidget *createLabel(const ControlRow &row, QWidget *container)
{
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

QWidget *createControl(const ControlRow &row, QWidget *container)
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
        return option;
    }
    case Picture:
        return new PanelPicture(container);
    case Label:
        break;
    }
    return createLabel(row, container);
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

void describe(QWidget *widget, ControlId id)
{
    for (const Description &description : kDescriptions) {
        if (description.control == id) {
            widget->setAccessibleDescription(textOf(description.text));
            return;
        }
    }
    if (const auto *command = commands::findControl(commands::kFixedCommands, id.layout().name)) {
        for (const GroupDescription &group : kGroupDescriptions) {
            if (group.group == command->group)
                widget->setAccessibleDescription(textOf(group.text));
        }
    }
}

void setTabOrder(const Controls &controls)
{
    std::vector<const ControlRow *> focusable;
    for (const ControlRow &row : kControls) {
        if (row.tab > 0)
            focusable.push_back(&row);
    }
    std::sort(focusable.begin(), focusable.end(),
              [](const ControlRow *a, const ControlRow *b) { return a->tab < b->tab; });
    const auto controlOf = [&](const ControlRow *row) {
        return controls[std::size_t(row - kControls.data())];
    };
    for (std::size_t i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(controlOf(focusable[i - 1]), controlOf(focusable[i]));
    if (!focusable.empty())
        controlOf(focusable.front())->setFocus();
}

} // namespace

QString textOf(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

Controls buildControls(QWidget &form)
{
    Controls controls{};
    for (std::size_t index = 0; index < kControls.size(); ++index) {
        const ControlRow &row = kControls[index];
        const std::size_t container = kContainerRows[index];
        QWidget *widget = createControl(row, container == kForm ? &form : controls[container]);
        widget->setObjectName(textOf(row.name));
        widget->setGeometry(pixels(row.left), pixels(row.top), pixels(row.width), pixels(row.height));
        paint(widget, row);
        widget->setVisible(!(row.notes & Hidden));
        describe(widget, ControlId::ofRow(index));
        controls[index] = widget;
    }
    setTabOrder(controls);
    return controls;
}

} // namespace layout
