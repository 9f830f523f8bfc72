// Sends the commands of the panel's buttons and boxes through the link engine.
#include "commandsender.h"

void CommandSender::send(const commands::FixedCommand &command)
{
    setWindows(command.timing);
    m_link.sendCommand(QByteArrayView(command.body));
}

void CommandSender::send(const commands::TextCommand &command, const QString &boxText)
{
    setWindows(command.timing);
    // One byte per character on the line; a character outside Latin-1 has no
    // byte and goes out as '?'.
    m_argText = boxText.toLatin1();
    m_link.sendCommand(QByteArrayView(command.lead).toByteArray() + m_argText);
}

void CommandSender::setWindows(commands::Timing timing)
{
    if (const auto windows = commands::windowsOf(timing))
        m_link.setWindows(windows->reply, windows->display);
}
