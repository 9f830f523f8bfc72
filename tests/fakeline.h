// A serial line in memory, for driving the link engine and the port selection.
#pragma once

#include "serialline.h"

#include <QList>
#include <QSet>

#include <utility>

// Records what is written, hands out what a test feeds it as received
// characters, and fails to open the port numbers a test names. Its endpoint
// is unknown, so a wait for it retries once a second.
class FakeLine : public SerialLine
{
    Q_OBJECT

public:
    FakeLine()
        : SerialLine([](int) { return QString(); })
    {}

    bool close() override
    {
        ++closes;
        m_open = false;
        return true;
    }
    bool isOpen() const override { return m_open; }
    QByteArray readAll() override { return std::exchange(m_input, {}); }

    // Characters arriving on the line: one notification for the whole batch.
    void feed(const QByteArray &batch)
    {
        m_input.append(batch);
        emit notified(Event::Received);
    }
    void loseDevice()
    {
        m_open = false;
        fail(QStringLiteral("Input/output error"));
        emit notified(Event::DeviceLost);
    }
    // A notification that only a device server raises, with its description.
    void raise(Event kind, const QString &description)
    {
        fail(description);
        emit notified(kind);
    }

    QList<QByteArray> written;
    QSet<int> failingPorts;
    QString refusedSettings;
    int opens = 0;
    int closes = 0;

protected:
    bool openLine() override
    {
        ++opens;
        if (failingPorts.contains(portNumber()))
            return fail(QStringLiteral("No such file or directory (port %1)").arg(portNumber()));
        m_open = true;
        return true;
    }
    bool writeLine(QByteArrayView text) override
    {
        written.append(text.toByteArray());
        return true;
    }
    bool applySettings(const LineSettings &settings) override
    {
        return settings.text != refusedSettings || fail(QStringLiteral("Invalid property value"));
    }

private:
    bool m_open = false;
    QByteArray m_input;
};
