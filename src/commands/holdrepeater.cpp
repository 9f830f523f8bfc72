// The lens buttons' press-and-hold: one step at the press, then one every 150 ms.
#include "holdrepeater.h"

HoldRepeater::HoldRepeater(LinkEngine &link, QObject *parent)
    : QObject(parent)
    , m_link(link)
{
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(kRepeat);
    // A coarse timer may fire 5 % early or late; the lens moves by the step count.
    m_timer1.setTimerType(Qt::PreciseTimer);
    connect(&m_timer1, &QTimer::timeout, this, &HoldRepeater::repeat);
}

void HoldRepeater::press(const commands::LensButton &button)
{
    m_repeatCode = button.code;
    m_link.sendCommand(QByteArrayView(button.step));
    m_link.setWindows(kHeldReplyWindow, kHeldDisplayWindow);
    m_timer1.start();
}

void HoldRepeater::release()
{
    m_repeatCode = 0;
    m_timer1.stop();
    m_link.endHold();
}

void HoldRepeater::repeat()
{
    for (const commands::LensButton &button : commands::kLensButtons) {
        if (button.code == m_repeatCode) {
            m_link.sendHoldStep(QByteArrayView(button.step));
            return;
        }
    }
}
