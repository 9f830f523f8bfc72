// The serial ports this machine has, in words for the warning box's hint.
#include "portlisting.h"

#include <QCoreApplication>
#include <QDir>
#include <QSerialPortInfo>

namespace portlisting {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("portlisting", text);
}

QString lineOf(const PortEntry &port)
{
    QStringList details;
    for (const QString &detail : {port.description, port.manufacturer}) {
        if (!detail.isEmpty())
            details.append(detail);
    }
    if (!port.serialNumber.isEmpty())
        details.append(tr("serial number %1").arg(port.serialNumber));
    return details.isEmpty() ? port.location
                             : port.location + QStringLiteral(" (") + details.join(u", ") + u')';
}

} // namespace

QList<PortEntry> availablePorts()
{
    QList<PortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports.append({info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber()});
    return ports;
}

QStringList byIdNames(const QString &folder)
{
    const QDir byId(folder);
    QStringList names;
    for (const QString &name : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        names.append(byId.filePath(name));
    return names;
}

QString describe(const QList<PortEntry> &ports, const QStringList &byIdNames)
{
    if (ports.isEmpty() && byIdNames.isEmpty())
        return tr(
            "This machine has no serial port: plug in the adapter, or check that its driver is loaded.");
    QStringList lines;
    lines.append(tr("Serial ports on this machine:"));
    for (const PortEntry &port : ports)
        lines.append(QStringLiteral("  ") + lineOf(port));
    if (!byIdNames.isEmpty()) {
        lines.append(tr("Names that stay the same whichever socket an adapter is in:"));
        for (const QString &name : byIdNames)
            lines.append(QStringLiteral("  ") + name);
    }
    return lines.join(u'\n');
}

} // namespace portlisting
