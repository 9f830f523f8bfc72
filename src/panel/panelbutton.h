// A push button drawn flat in its own colour, as the panel's buttons look.
#pragma once

#include <QPushButton>

// Fills its face with the palette's button colour and draws a thin 3-D border,
// sunken while pressed, whatever the platform's style would shade it with; the
// caption is centred and a dotted rectangle marks the focus.
//
// A click's command goes out before the button repaints: QAbstractButton paints
// a released button at once, before it reports the click, and that paint (which
// a compositing display may hold until its next frame) would delay the command.
class PanelButton : public QPushButton
{
    Q_OBJECT

public:
    PanelButton(const QString &caption, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};
