// Opening the line at start-up and the operator's choice of port and speed.
#include "portselection.h"

PortSelection::PortSelection(SerialLine &line, QObject *parent)
    : QObject(parent)
    , m_line(line)
{
    connect(&m_line, &SerialLine::notified, this, [this](SerialLine::Event kind) {
        if (kind == SerialLine::Event::DeviceLost) {
            report(lastFailure());
            emit portLost(lastFailure());
        }
    });
}

std::optional<PortFailure> PortSelection::openAtStart()
{
    const bool opened = m_line.setPortNumber(1) &&
                        m_line.setSettings(QString::fromLatin1(LineSettings::kText9600)) && m_line.open();
    return report(opened ? std::nullopt : std::optional(lastFailure()));
}

std::optional<PortFailure> PortSelection::selectPort(int number)
{
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
    m_line.close();
    report(std::nullopt);
}

std::optional<PortFailure> PortSelection::report(std::optional<PortFailure> failure)
{
    QString state =
        QStringLiteral("COM%1 %2 %3")
            .arg(m_line.portNumber())
            .arg(m_line.isOpen() ? QStringLiteral("open") : QStringLiteral("closed"), commSettings());
    if (failure)
        state += QStringLiteral(": ") + failure->description;
    emit portChanged(state);
    return failure;
}
