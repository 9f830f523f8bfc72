// The serial settings text ("speed,parity,data,stop") and what it means for the port.
#pragma once

#include <QSerialPort>
#include <QStringView>

#include <optional>

// Speed, parity, data bits and stop bits, as read from a settings text of the
// form "speed,parity,data,stop": parity one of N, E, O, S, M; data bits 5 to 8;
// stop bits 1, 1.5 or 2.
struct LineSettings
{
    // The panel's two settings: the one it starts with and the fast one.
    static constexpr char kText9600[] = "9600,N,8,1";
    static constexpr char kText115200[] = "115200,N,8,1";

    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    static std::optional<LineSettings> parse(QStringView text);

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};
