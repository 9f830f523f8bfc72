// A panel on the simulated projector, and the few steps every end-to-end test takes.
#pragma once

#include "comport.h"
#include "panelparts.h"
#include "panelwindow.h"
#include "simprocess.h"
#include "trafficdump.h"
#include "warningcatcher.h"

#include <QAbstractButton>
#include <QLabel>

#include <memory>

namespace bench {

// Generous: a pseudo-terminal does not pace bytes, but a loaded machine is slow.
inline constexpr int kWait = 10000;

inline QString textOf(PanelWindow &window, layout::ControlId label)
{
    return window.control<QLabel>(label)->text();
}

// Sends through Hyouji directly, as a sending handler does.
inline void send(PanelWindow &window, const QByteArray &text)
{
    LinkEngine &link = parts::link(window);
    link.setLastCommand(text);
    link.hyouji(link.lastCommand(), LinkEngine::kSend);
}

inline void click(PanelWindow &window, layout::ControlId name)
{
    window.control<QAbstractButton>(name)->click();
}

// The simulator's log line for receiving a command text, without its timestamp.
inline QString receivedLine(const QString &command)
{
    return QStringLiteral("\tRX\t%1\t").arg(QString::fromLatin1(TrafficDump::of(command.toLatin1() + '\r')));
}

// How many times the simulator logged receiving a command text.
inline qsizetype received(const SimProcess &sim, const QString &command)
{
    return sim.log().count(receivedLine(command));
}

// A panel started on a simulator through a real serial line, with any warning
// boxes it raises noted.
struct Bench
{
    explicit Bench(const QStringList &simArguments = {})
        : sim(simArguments)
    {
        qputenv("QVX_COM1", sim.devicePath().toLocal8Bit());
        qputenv("QVX_COM2", "/nonexistent/qvx-com2");
        window = std::make_unique<PanelWindow>(line);
        window->startUp();
    }

    SimProcess sim;
    WarningCatcher warnings;
    ComPort line;
    std::unique_ptr<PanelWindow> window;
};

} // namespace bench
