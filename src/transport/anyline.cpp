// The panel's serial line: a local serial port or a serial device server, as the port's endpoint says.
#include "anyline.h"

AnyLine::AnyLine(EndpointSource source, QObject *parent)
    : SerialLine(source, parent)
    , m_com(source, this)
    , m_network(source, this)
{
    connect(&m_com, &SerialLine::notified, this, [this](Event kind) { forward(&m_com, kind); });
    connect(&m_network, &SerialLine::notified, this, [this](Event kind) { forward(&m_network, kind); });
}

bool AnyLine::openLine()
{
    m_active = Endpoint::looksLikeUrl(location()) ? static_cast<SerialLine *>(&m_network) : &m_com;
    // Both lines are closed here, so either takes a port number and settings.
    const bool opened =
        m_active->setPortNumber(portNumber()) && m_active->setSettings(settings()) && m_active->open();
    return opened || failAs(*m_active);
}

void AnyLine::forward(const SerialLine *from, Event kind)
{
    if (from != m_active)
        return;
    if (kind == Event::DeviceLost || kind == Event::OpenFailed || kind == Event::SettingsRefused)
        failAs(*m_active);
    if (kind == Event::SettingsRefused)
        keepSettings(m_active->lineSettings());
    emit notified(kind);
}
