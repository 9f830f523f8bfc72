// A push button drawn flat in its own colour, as the panel's buttons look.
#include "panelbutton.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

PanelButton::PanelButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
{
    // Released comes after the blocked paint and before clicked, so the click's
    // handlers, and any box they open, find the button painting as usual.
    connect(this, &QAbstractButton::released, this, [this] { setUpdatesEnabled(true); });
}

void PanelButton::mouseReleaseEvent(QMouseEvent *event)
{
    // The paint is left to the update that enabling asks for.
    setUpdatesEnabled(false);
    QPushButton::mouseReleaseEvent(event);
    setUpdatesEnabled(true);
}

void PanelButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect face = rect();
    const bool sunken = isDown();
    painter.fillRect(face, palette().button());
    qDrawWinButton(&painter, face, palette(), sunken);

    // A pressed caption moves one pixel down and right, as on a classic button.
    // A caption wider than the face wraps inside the border, between any two
    // characters, as the Japanese captions must.
    const QRect caption = face.adjusted(2, 2, -2, -2).translated(sunken ? QPoint(1, 1) : QPoint());
    const bool fits = fontMetrics().horizontalAdvance(text()) <= caption.width();
    painter.setPen(palette().buttonText().color());
    painter.setClipRect(caption);
    painter.drawText(caption, Qt::AlignCenter | (fits ? Qt::TextSingleLine : Qt::TextWrapAnywhere), text());
    painter.setClipping(false);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = face.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}
