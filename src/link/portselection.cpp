// Opening the line at start-up and the operator's choice of port and speed.
#include "portselection.h"

#include "endpoint.h"

#include <array>

namespace {

// The text with %1, %2 and %3 replaced by the values, in one pass, so that a
// value's own '%' stays as it is and a text may leave any of them out.
QString fillIn(const QString &text, const std::array<QString, 3> &values)
{
    QString filled;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int index = text[i] == u'%' && i + 1 < text.size() ? text[i + 1].digitValue() : -1;
        if (index >= 1 && index <= int(values.size())) {
            filled += values[index - 1];
            ++i;
        } else {
            filled += text[i];
        }
    }
    return filled;
}

QString joined(const QString &hint, const QString &more)
{
    return hint.isEmpty() || more.isEmpty() ? hint + more : hint + QStringLiteral("\n\n") + more;
}

} // namespace

PortSelection::PortSelection(SerialLine &line, QObject *parent)
    : QObject(parent)
    , m_line(line)
{
    connect(&m_line, &SerialLine::notified, this, &PortSelection::onNotified);
    connect(&m_watch, &DeviceWatch::mayBeBack, this, &PortSelection::tryReopen);
}

void PortSelection::onNotified(SerialLine::Event kind)
{
    switch (kind) {
    case SerialLine::Event::Received:
    case SerialLine::Event::Opened:
        break;
    case SerialLine::Event::OpenFailed:
        onOpenFailed();
        break;
    case SerialLine::Event::SettingsRefused:
        emit settingsRefused(report(lastFailure()).value());
        break;
    case SerialLine::Event::SettingsApplied:
        reportState(tr("the device server applied the settings"));
        emit settingsApplied();
        break;
    case SerialLine::Event::DeviceLost:
        onDeviceLost();
        break;
    }
}

void PortSelection::onOpenFailed()
{
    // While the selection waits, a failed attempt is only one more sign to wait
    // for; otherwise the operator hears of it as of any failed open.
    if (m_watch.isWatching())
        return;
    const PortFailure failure = lastFailure();
    report(failure);
    // COM1 at start-up, on a device server that is not there yet.
    const bool waited = m_reopening != 0;
    if (waited)
        reopenWhenBack(m_reopening);
    emit openFailed(failure, waited);
}

void PortSelection::onDeviceLost()
{
    // While the selection waits, a connection that an attempt made and lost
    // before it counted as back (a device server that accepts and hangs up at
    // once) is one more sign to wait for, as a failed attempt is.
    if (m_watch.isWatching())
        return;
    // The wait starts before anyone hears of the loss, so that nothing the
    // panel shows can hold it up.
    PortFailure failure = lastFailure();
    const bool server = m_line.failureFault() == SerialLine::Fault::ServerGone;
    failure.hint = joined(failure.hint, inWords(server ? m_words.serverBack : m_words.deviceBack));
    report(failure);
    reopenWhenBack(m_line.portNumber());
    emit portLost(failure);
}

std::optional<PortFailure> PortSelection::openAtStart()
{
    const bool opened = m_line.setPortNumber(1) &&
                        m_line.setSettings(QString::fromLatin1(LineSettings::kText9600)) && m_line.open();
    if (opened)
        return report(std::nullopt);
    // The owner goes on to wait for COM1 (reopenWhenBack), and says so.
    PortFailure failure = lastFailure();
    failure.hint = joined(failure.hint, inWords(m_words.atStart));
    return report(failure);
}

std::optional<PortFailure> PortSelection::selectPort(int number)
{
    stopWaiting();
    // A failing step does not stop the ones after it; the first failure is the
    // one reported.
    std::optional<PortFailure> failure;
    const auto note = [&](bool ok) {
        if (!ok && !failure)
            failure = lastFailure();
    };
    if (m_line.isOpen())
        note(m_line.close());
    note(m_line.setPortNumber(number));
    if (!failure)
        note(m_line.open());
    if (failure) {
        m_line.close();
        m_line.setPortNumber(number == 1 ? 2 : 1);
    }
    return report(failure);
}

std::optional<PortFailure> PortSelection::selectSettings(const QString &settings)
{
    const bool applied = m_line.setSettings(settings);
    return report(applied ? std::nullopt : std::optional(lastFailure()));
}

PortWords PortSelection::panelWords()
{
    return {
        tr("COM%1 is %2. Set QVX_COM%1 to the projector's serial device, for example "
           "QVX_COM%1=/dev/ttyUSB0.\n\n%3"),
        tr("COM%1 is the serial device server at %2. Check that the server runs and is reachable from "
           "here, or set QVX_COM%1 to another address."),
        tr("Set QVX_COM%1 to rfc2217://host:port or socket://host:port."),
        tr("The panel opens it again by itself when the device is back."),
        tr("The panel opens it again by itself when the server is back."),
        tr("The panel opens COM%1 by itself as soon as it can."),
    };
}

PortFailure PortSelection::lastFailure() const
{
    PortFailure failure{m_line.errorString(), m_line.failureHint()};
    const QString naming = namingFor(m_line.failureFault());
    if (!naming.isEmpty())
        failure.hint = inWords(naming, failure.hint);
    return failure;
}

QString PortSelection::namingFor(SerialLine::Fault fault) const
{
    switch (fault) {
    case SerialLine::Fault::NoDevice:
        return m_words.noDevice;
    case SerialLine::Fault::NoServer:
        return m_words.noServer;
    case SerialLine::Fault::BadAddress:
        return m_words.badAddress;
    case SerialLine::Fault::Other:
    case SerialLine::Fault::DeviceGone:
    case SerialLine::Fault::ServerGone:
        break;
    }
    return {};
}

QString PortSelection::inWords(const QString &text, const QString &hint) const
{
    return fillIn(text, {QString::number(m_line.portNumber()), where(), hint});
}

QString PortSelection::where() const
{
    QString ignored;
    const QString location = m_line.location();
    const auto endpoint = Endpoint::parse(location, &ignored);
    return endpoint ? endpoint->toString() : location;
}

void PortSelection::close()
{
    stopWaiting();
    m_line.close();
    report(std::nullopt);
}

void PortSelection::reopenOnFailure(int number)
{
    m_reopening = number;
}

void PortSelection::reopenWhenBack(int number)
{
    reopenOnFailure(number);
    // The port is closed, so its number can change: the location is that port's.
    m_line.setPortNumber(number);
    const QString location = m_line.location();
    m_watch.watch(location);
    reportState(location.isEmpty() ? tr("waiting for COM%1 to come back").arg(number)
                                   : tr("waiting for COM%1 at %2 to come back").arg(number).arg(location));
}

void PortSelection::stopWaiting()
{
    m_watch.stop();
    m_reopening = 0;
}

void PortSelection::tryReopen()
{
    // A device server's connect takes its time; it ends in OpenFailed, after
    // which the next sign tries again, or in a line that carries bytes.
    if (m_line.isConnecting())
        return;
    if (!m_line.isOpen()) {
        // Until it opens, a device that is back in name only (udev still
        // setting its permissions, say) is tried again at the next sign, silently.
        if (!m_line.setPortNumber(m_reopening) || !m_line.open() || m_line.isConnecting())
            return;
    }
    m_watch.stop();
    reportState(tr("reopened"));
    emit portReopened();
}

QString PortSelection::state() const
{
    return QStringLiteral("COM%1 %2 %3")
        .arg(m_line.portNumber())
        .arg(m_line.isOpen() ? QStringLiteral("open") : QStringLiteral("closed"), commSettings());
}

void PortSelection::reportState(const QString &note)
{
    emit portChanged(state() + QStringLiteral(": ") + note);
}

std::optional<PortFailure> PortSelection::report(std::optional<PortFailure> failure)
{
    if (failure)
        reportState(failure->description);
    else
        emit portChanged(state());
    return failure;
}
