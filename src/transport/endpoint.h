// What QVX_COM1 and QVX_COM2 name: a serial device, or a serial device server on the network.
#pragma once

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// A port's endpoint, in the URL forms that integrators know from pyserial:
// a device path such as /dev/ttyUSB0, rfc2217://host:port for a device server
// that speaks telnet with COM-PORT-OPTION, or socket://host:port for one that
// passes raw bytes. An IPv6 host is written in brackets: socket://[::1]:4001.
struct Endpoint
{
    enum class Kind { Device, Rfc2217, RawSocket };

    Kind kind = Kind::Device;
    // The device path (Device only).
    QString device;
    // The server (Rfc2217 and RawSocket only).
    QString host;
    quint16 port = 0;

    bool isNetwork() const { return kind != Kind::Device; }
    // The endpoint as parse() takes it: the device path, or the URL with an
    // IPv6 host in brackets.
    QString toString() const;

    // Anything without "://" is a device path. A URL with another scheme, no
    // host, a missing or out-of-range port, or a path, user or options after
    // the port is refused with a description in *error.
    static std::optional<Endpoint> parse(QStringView text, QString *error);
    // Whether the text is meant as a network endpoint, well formed or not.
    static bool looksLikeUrl(QStringView text);

    // The variable that maps port 1 or 2: QVX_COM1 or QVX_COM2.
    static QString variableFor(int number);
    // The endpoint text of port 1 or 2 as the environment names it: the
    // variable's value, or the platform's own serial port when it is unset.
    static QString fromEnvironment(int number);
};

// Where a line finds the endpoint text of port 1 or 2; Endpoint::fromEnvironment
// for the panel, a table of the test's own in tests.
using EndpointSource = std::function<QString(int number)>;
