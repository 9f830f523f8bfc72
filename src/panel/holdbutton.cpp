// A lens button: it acts while a mouse button holds it down, and on nothing else.
#include "holdbutton.h"

#include <QMouseEvent>

void HoldButton::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_held) {
        m_held = true;
        window()->installEventFilter(this);
    }
    setDown(true);
    emit holdStarted();
}

void HoldButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    letGo();
}

void HoldButton::mouseMoveEvent(QMouseEvent *event)
{
    // The button stays down wherever the mouse goes until it is released.
    event->accept();
}

void HoldButton::hideEvent(QHideEvent *event)
{
    letGo();
    PanelButton::hideEvent(event);
}

bool HoldButton::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowDeactivate:
    case QEvent::WindowBlocked:
        letGo();
        break;
    default:
        break;
    }
    return PanelButton::eventFilter(watched, event);
}

void HoldButton::letGo()
{
    if (!m_held)
        return;
    m_held = false;
    window()->removeEventFilter(this);
    setDown(false);
    emit holdEnded();
}
