// The serial line on a real port (or a pseudo-terminal), through QSerialPort.
#pragma once

#include "serialline.h"

#include <QSerialPort>
#include <QTimer>

#include <chrono>

// Port 1 and port 2 are the devices that the endpoint source names: by default
// QVX_COM1 and QVX_COM2 when those are set, otherwise the platform's first two
// serial ports. The port is configured
// raw with no flow control; writes are queued by QSerialPort and never wait.
//
// A vanished device is noticed on the port's own evidence, not only on Qt's
// signals, which differ between Qt versions: Qt 6.4 reports read errors again and
// again, Qt 6.8 reports nothing while its read notifier fires on the hung-up
// descriptor without end. So while the port is open a short check looks for a
// hung-up descriptor or a device node that is gone, and a failed write counts as
// a loss too. The first evidence closes the port and raises DeviceLost once, so
// the panel never spins.
class ComPort : public SerialLine
{
    Q_OBJECT

public:
    // How often an open port is checked for a hang-up: soon enough that Qt 6.8's
    // spin on the descriptor ends within a fraction of a second, and a poll()
    // of one descriptor that often costs nothing measurable.
    static constexpr std::chrono::milliseconds kHangUpCheck{100};

    explicit ComPort(EndpointSource source = &Endpoint::fromEnvironment, QObject *parent = nullptr);
    ~ComPort() override;

    bool close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    QByteArray readAll() override;

    // What the user can do about a failure to open the given device: its
    // group, or the serial ports this machine has.
    static QString hintFor(QSerialPort::SerialPortError error, const QString &device);

protected:
    bool openLine() override;
    bool writeLine(QByteArrayView text) override;
    bool applySettings(const LineSettings &settings) override;

private:
    // Whether a failed open means that another program holds the device.
    static bool isHeldByAnother(QSerialPort::SerialPortError error, const QString &device);
    // Whether the path names a file or a folder: something there, but no device.
    static bool isNoDevice(const QString &device);
    static QString listPorts();
    // Records why the open failed; systemError is errno as the open left it.
    bool failOpen(int systemError);
    bool failNotSerial();
    bool apply(const LineSettings &settings);
    void onError(QSerialPort::SerialPortError error);
    void checkForHangUp();
    void lose();
    void dropLostDevice();

    QSerialPort m_port;
    QTimer m_hangUpCheck;
    // The device the port opened: the one to check for a hang-up.
    QString m_device;
    bool m_lossPending = false;
};
