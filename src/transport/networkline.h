// The serial line through a serial device server on the network, over TCP.
#pragma once

#include "comportagreement.h"
#include "endpoint.h"
#include "serialline.h"
#include "telnetcodec.h"

#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <memory>

// Port 1 and port 2 are the endpoints that the endpoint source names for them,
// by default QVX_COM1 and QVX_COM2: rfc2217://host:port or socket://host:port.
//
// open() starts an asynchronous connect and returns true at once; the line
// counts as open from then on, and what is written before the connection is up
// is held (up to kMaxHeldBytes) and sent once it is. A connect that is refused
// or takes longer than kConnectTimeout closes the line and raises OpenFailed.
// A connection that the server closes or resets, or that stops carrying bytes
// (a server switched off or cut off the network, noticed by TCP keepalive and
// by writes that are not acknowledged), closes the line and raises DeviceLost,
// once.
//
// RFC 2217: at connect and at every setSettings() the settings go to the server
// as COM-PORT-OPTION commands (see ComPortAgreement), and data waits until the
// server has agreed to the option, so no command goes out at the server's old
// speed. Settings the server does not take raise SettingsRefused; settings it
// confirms after the panel had said so raise SettingsApplied. A raw socket
// passes bytes as they are, and a settings text changes nothing on the wire:
// the server's own setting holds.
class NetworkLine : public SerialLine
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kConnectTimeout{3000};
    static constexpr qsizetype kMaxHeldBytes = 64 * 1024;

    explicit NetworkLine(EndpointSource source = &Endpoint::fromEnvironment, QObject *parent = nullptr);
    // Carries the line on the given socket; tests and the fuzzer hand in one
    // that keeps its bytes in memory.
    NetworkLine(EndpointSource source, std::unique_ptr<QTcpSocket> socket, QObject *parent = nullptr);
    ~NetworkLine() override;

    bool close() override;
    // True from a successful open() on, while connecting too.
    bool isOpen() const override { return m_state != State::Closed; }
    bool isConnecting() const override { return m_state == State::Connecting; }
    QByteArray readAll() override;

    bool isReady() const override { return isConnected() && !m_holding; }

    bool isConnected() const { return m_state == State::Connected; }
    // RFC 2217: the server has answered every settings command sent so far with
    // the value asked for.
    bool settingsConfirmed() const { return isTelnet() && isConnected() && m_agreement.isConfirmed(); }

protected:
    bool openLine() override;
    bool writeLine(QByteArrayView text) override;
    bool applySettings(const LineSettings &settings) override;

private:
    enum class State { Closed, Connecting, Connected };

    bool isTelnet() const { return m_endpoint.kind == Endpoint::Kind::Rfc2217; }
    QString settingsHint() const;
    void onConnected();
    void onReadyRead();
    void takeTelnet(QByteArrayView bytes);
    void onSocketTrouble();
    void onConnectTimeout();
    void onSettingsRefused(const QString &description);
    void dropConnection();
    void keepAlive();
    void releaseHeld();

    std::unique_ptr<QTcpSocket> m_socket;
    // Children of the line, so that a test finds them among its children.
    QTimer m_connectTimer{this};
    ComPortAgreement m_agreement{this};
    TelnetCodec m_codec;
    State m_state = State::Closed;
    Endpoint m_endpoint;
    QByteArray m_input;
    // Data written before the connection (and, for RFC 2217, the option) is up.
    QByteArray m_held;
    bool m_holding = false;
    // Counts connections, so that a loss noticed on one is never applied to the next.
    quint64 m_attempt = 0;
    bool m_dropPending = false;
};
