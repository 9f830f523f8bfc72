// The panel's serial line: a local serial port or a serial device server, as the port's endpoint says.
#pragma once

#include "comport.h"
#include "networkline.h"
#include "serialline.h"

// At each open() the line looks at what the current port number names (by
// default QVX_COM1 or QVX_COM2): rfc2217:// and socket:// addresses, well formed
// or not, go to a NetworkLine, everything else to a ComPort. Every operation and
// every notification passes through to the line in use; the port number and the
// settings text go to both, so either can take over at the next open().
class AnyLine : public SerialLine
{
    Q_OBJECT

public:
    explicit AnyLine(QObject *parent = nullptr);
    // The source decides which line opens and names the network endpoints; the
    // ComPort still finds its device through QVX_COM1 and QVX_COM2 itself.
    explicit AnyLine(NetworkLine::EndpointSource source, QObject *parent = nullptr);

    int portNumber() const override { return m_active->portNumber(); }
    bool setPortNumber(int number) override;
    QString settings() const override { return m_active->settings(); }
    bool setSettings(const QString &settings) override;
    bool open() override;
    bool close() override { return m_active->close(); }
    bool isOpen() const override { return m_active->isOpen(); }
    bool isConnecting() const override { return m_active->isConnecting(); }
    QString location() const override;
    bool write(QByteArrayView text) override { return m_active->write(text); }
    QByteArray readAll() override { return m_active->readAll(); }
    QString errorString() const override { return m_active->errorString(); }
    QString failureHint() const override { return m_active->failureHint(); }

    // Whether the line in use (or last used) is the network one.
    bool usesNetwork() const { return m_active == &m_network; }

private:
    void forward(const SerialLine *from, Event kind);

    NetworkLine::EndpointSource m_source;
    // Children of the line, so that a test finds them among its children.
    ComPort m_com;
    NetworkLine m_network;
    SerialLine *m_active = &m_com;
};
