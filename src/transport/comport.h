// The serial line on a real port (or a pseudo-terminal), through QSerialPort.
#pragma once

#include "linesettings.h"
#include "serialline.h"

#include <QSerialPort>
#include <QTimer>

#include <chrono>

// Port 1 and port 2 are the devices named by QVX_COM1 and QVX_COM2 when those are
// set, otherwise the platform's first two serial ports. The port is configured
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

    explicit ComPort(QObject *parent = nullptr);
    ~ComPort() override;

    // The device that port 1 or 2 opens.
    static QString deviceFor(int number);

    int portNumber() const override { return m_number; }
    bool setPortNumber(int number) override;
    QString settings() const override { return m_settingsText; }
    bool setSettings(const QString &settings) override;
    bool open() override;
    bool close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    bool write(QByteArrayView text) override;
    QByteArray readAll() override;
    QString errorString() const override { return m_error; }
    QString failureHint() const override;
    QString location() const override { return deviceFor(m_number); }

    // The advice for a failure to open port 1 or 2 on the given device.
    static QString hintFor(QSerialPort::SerialPortError error, const QString &device, int number);

private:
    bool fail(const QString &description);
    bool apply(const LineSettings &line);
    void onError(QSerialPort::SerialPortError error);
    void checkForHangUp();
    void lose();
    void dropLostDevice();

    QSerialPort m_port;
    QTimer m_hangUpCheck;
    QString m_device;
    int m_number = 1;
    QString m_settingsText = QString::fromLatin1(LineSettings::kText9600);
    LineSettings m_line;
    QString m_error;
    QString m_hint;
    // The failure of the last open, whose hint failureHint() makes; NoError
    // after any other outcome.
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    int m_failedNumber = 1;
    bool m_lossPending = false;
};
