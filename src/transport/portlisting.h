// The serial ports this machine has, in words for the warning box's hint.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A serial port as the platform lists it; empty fields are unknown.
struct PortEntry
{
    QString location;
    QString description;
    QString manufacturer;
    QString serialNumber;
};

namespace portlisting {

// Where udev names each adapter by its make and serial number, so that a name
// stays the same whichever USB socket the adapter is in.
inline constexpr char kByIdFolder[] = "/dev/serial/by-id";

// The ports Qt finds and the by-id names that point at them.
QList<PortEntry> availablePorts();
QStringList byIdNames(const QString &folder = QString::fromLatin1(kByIdFolder));

// One line a port, then the stable names; says plainly when there is none.
QString describe(const QList<PortEntry> &ports, const QStringList &byIdNames);

} // namespace portlisting
