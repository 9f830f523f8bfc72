// The serial line to the projector, as the link engine and the port selection use it.
#include "serialline.h"

#include <utility>

SerialLine::SerialLine(EndpointSource source, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
{}

bool SerialLine::setPortNumber(int number)
{
    if (isOpen())
        return fail(tr("Operation valid only when the port is closed"));
    if (number != 1 && number != 2)
        return fail(tr("Invalid port number %1").arg(number));
    m_number = number;
    return true;
}

bool SerialLine::setSettings(const QString &settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return fail(tr("Invalid settings \"%1\"").arg(settings));
    if (isOpen() && !applySettings(*parsed))
        return false;
    m_settings = *parsed;
    return true;
}

bool SerialLine::open()
{
    if (isOpen())
        return fail(tr("Port already open"));
    return openLine();
}

bool SerialLine::write(QByteArrayView text)
{
    if (!isOpen())
        return fail(tr("Port not open"));
    return writeLine(text);
}

bool SerialLine::fail(const QString &description, Hint hint, Fault fault)
{
    m_error = description;
    m_hint = std::move(hint);
    m_fault = fault;
    return false;
}

bool SerialLine::fail(const QString &description, const QString &hint, Fault fault)
{
    return fail(description, hint.isEmpty() ? Hint() : Hint([hint] { return hint; }), fault);
}

bool SerialLine::failAs(const SerialLine &other)
{
    return fail(other.m_error, other.m_hint, other.m_fault);
}
