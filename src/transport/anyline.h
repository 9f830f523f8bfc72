// The panel's serial line: a local serial port or a serial device server, as the port's endpoint says.
#pragma once

#include "comport.h"
#include "networkline.h"
#include "serialline.h"

// At each open() the line looks at what the current port number names (by
// default QVX_COM1 or QVX_COM2): rfc2217:// and socket:// addresses, well formed
// or not, go to a NetworkLine, everything else to a ComPort. Both find their
// endpoint through this line's endpoint source, so what opens is what
// location() names. The line in use takes this line's port number and settings
// as it opens; every later operation and every notification passes through to
// it, and its failures and settings become this line's.
class AnyLine : public SerialLine
{
    Q_OBJECT

public:
    explicit AnyLine(EndpointSource source = &Endpoint::fromEnvironment, QObject *parent = nullptr);

    bool close() override { return m_active->close(); }
    bool isOpen() const override { return m_active->isOpen(); }
    bool isConnecting() const override { return m_active->isConnecting(); }
    bool isReady() const override { return m_active->isReady(); }
    QByteArray readAll() override { return m_active->readAll(); }

    // Whether the line in use (or last used) is the network one.
    bool usesNetwork() const { return m_active == &m_network; }

protected:
    bool openLine() override;
    bool writeLine(QByteArrayView text) override { return m_active->write(text) || failAs(*m_active); }
    bool applySettings(const LineSettings &settings) override
    {
        return m_active->setSettings(settings.text) || failAs(*m_active);
    }

private:
    void forward(const SerialLine *from, Event kind);

    // Children of the line, so that a test finds them among its children.
    ComPort m_com;
    NetworkLine m_network;
    SerialLine *m_active = &m_com;
};
