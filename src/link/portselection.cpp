// Opening the line at start-up and the operator's choice of port and speed.
#include "portselection.h"

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
    const PortFailure failure = lastFailure();
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
    // The panel goes on to wait for COM1 (reopenWhenBack), and says so.
    PortFailure failure = lastFailure();
    failure.hint += (failure.hint.isEmpty() ? QString() : QStringLiteral("\n\n")) +
                    tr("The panel opens COM1 by itself as soon as it can.");
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

PortFailure PortSelection::lastFailure() const
{
    return {m_line.errorString(), m_line.failureHint()};
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
