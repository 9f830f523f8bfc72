// The serial settings text ("speed,parity,data,stop") and what it means for the port.
#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringView>

#include <optional>

// A settings text of the form "speed,parity,data,stop" (parity one of N, E, O,
// S, M; data bits 5 to 8; stop bits 1, 1.5 or 2) with the speed, parity, data
// bits and stop bits it gives the port. Only parse() makes one, so the text
// and its meaning always agree.
struct LineSettings
{
    // The panel's two settings: the one every line starts with and the fast one.
    static constexpr char kText9600[] = "9600,N,8,1";
    static constexpr char kText115200[] = "115200,N,8,1";

    QString text;
    qint32 baudRate{};
    QSerialPort::Parity parity{};
    QSerialPort::DataBits dataBits{};
    QSerialPort::StopBits stopBits{};

    static std::optional<LineSettings> parse(QStringView text);
    // The settings a line starts with: kText9600.
    static const LineSettings &initial();

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};
