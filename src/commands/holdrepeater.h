// The lens buttons' press-and-hold: one step at the press, then one every 150 ms.
#pragma once

#include "commandcatalogue.h"
#include "linkengine.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>

// A press sends the button's step at once and starts Timer1, whose every tick
// sends the step of the button RepeatCode names; the release stops the
// repetition, blanks the traffic lines and puts the windows back to their
// design values. While a button is held the reply window is as long as the
// repeat and ends before the next step goes out, so a step the projector
// answers late is marked as unanswered and no step's reply piles onto another's.
class HoldRepeater : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kRepeat{150};
    static constexpr std::chrono::milliseconds kHeldReplyWindow{150};
    static constexpr std::chrono::milliseconds kHeldDisplayWindow{190};

    explicit HoldRepeater(LinkEngine &link, QObject *parent = nullptr);

    void press(const commands::LensButton &button);
    void release();

    std::uint8_t repeatCode() const { return m_repeatCode; }
    QTimer &timer1() { return m_timer1; }

private:
    void repeat();

    LinkEngine &m_link;
    std::uint8_t m_repeatCode = 0;
    QTimer m_timer1;
};
