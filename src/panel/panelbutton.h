// A push button drawn flat in its own colour, as the panel's buttons look.
#pragma once

#include <QPushButton>

// Fills its face with the palette's button colour and draws a thin 3-D border,
// sunken while pressed, whatever the platform's style would shade it with; the
// caption is centred and a dotted rectangle marks the focus.
class PanelButton : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};
