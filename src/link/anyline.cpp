// The panel's serial line: a local serial port or a serial device server, as the port's endpoint says.
#include "anyline.h"

#include "endpoint.h"

AnyLine::AnyLine(QObject *parent)
    : AnyLine(&Endpoint::environmentText, parent)
{}

AnyLine::AnyLine(NetworkLine::EndpointSource source, QObject *parent)
    : SerialLine(parent)
    , m_source(source)
    , m_com(this)
    , m_network(std::move(source), this)
{
    connect(&m_com, &SerialLine::notified, this, [this](Event kind) { forward(&m_com, kind); });
    connect(&m_network, &SerialLine::notified, this, [this](Event kind) { forward(&m_network, kind); });
}

bool AnyLine::setPortNumber(int number)
{
    if (!m_active->setPortNumber(number))
        return false;
    SerialLine &other = usesNetwork() ? static_cast<SerialLine &>(m_com) : m_network;
    return other.setPortNumber(number);
}

bool AnyLine::setSettings(const QString &settings)
{
    // The idle line only checks and keeps the text; the one in use applies it.
    SerialLine &other = usesNetwork() ? static_cast<SerialLine &>(m_com) : m_network;
    other.setSettings(settings);
    return m_active->setSettings(settings);
}

bool AnyLine::open()
{
    if (m_active->isOpen())
        return m_active->open();
    const bool network = Endpoint::looksLikeUrl(m_source(m_active->portNumber()));
    m_active = network ? static_cast<SerialLine *>(&m_network) : &m_com;
    return m_active->open();
}

QString AnyLine::location() const
{
    const QString endpoint = m_source(m_active->portNumber());
    return Endpoint::looksLikeUrl(endpoint) ? endpoint : m_com.location();
}

void AnyLine::forward(const SerialLine *from, Event kind)
{
    if (from == m_active)
        emit notified(kind);
}
