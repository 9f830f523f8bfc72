// A lens button: it acts while a mouse button holds it down, and on nothing else.
#pragma once

#include "panelbutton.h"

// Reports the press and the release of any mouse button; a click from the
// keyboard does nothing. The operator cannot release a button the panel no
// longer has the mouse for, so losing the mouse counts as the release: the
// button is hidden, the window is deactivated, or a modal window blocks it.
// Without that a lens would keep moving to its end stop.
class HoldButton : public PanelButton
{
    Q_OBJECT

public:
    using PanelButton::PanelButton;

signals:
    void holdStarted();
    void holdEnded();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void letGo();

    bool m_held = false;
};
