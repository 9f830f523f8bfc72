// A serial line in memory, for driving the link engine and the port selection.
#pragma once

#include "serialline.h"

#include <QList>
#include <QSet>

// Records what is written, hands out what a test feeds it as received
// characters, and fails to open the port numbers a test names.
class FakeLine : public SerialLine
{
    Q_OBJECT

public:
    using SerialLine::SerialLine;

    int portNumber() const override { return m_number; }
    bool setPortNumber(int number) override
    {
        if (m_open)
            return fail(QStringLiteral("Operation valid only when the port is closed"));
        m_number = number;
        return true;
    }
    QString settings() const override { return m_settings; }
    bool setSettings(const QString &settings) override
    {
        if (settings == refusedSettings)
            return fail(QStringLiteral("Invalid property value"));
        m_settings = settings;
        settingsHistory.append(settings);
        return true;
    }
    bool open() override
    {
        ++opens;
        if (m_open)
            return fail(QStringLiteral("Port already open"));
        if (failingPorts.contains(m_number))
            return fail(QStringLiteral("No such file or directory (port %1)").arg(m_number));
        m_open = true;
        return true;
    }
    bool close() override
    {
        ++closes;
        m_open = false;
        return true;
    }
    bool isOpen() const override { return m_open; }
    bool write(QByteArrayView text) override
    {
        if (!m_open)
            return fail(QStringLiteral("Port not open"));
        written.append(text.toByteArray());
        return true;
    }
    QByteArray readAll() override { return std::exchange(m_input, {}); }
    QString errorString() const override { return m_error; }
    QString location() const override { return locationPath; }

    // Characters arriving on the line: one notification for the whole batch.
    void feed(const QByteArray &batch)
    {
        m_input.append(batch);
        emit notified(Event::Received);
    }
    void loseDevice()
    {
        m_open = false;
        m_error = QStringLiteral("Input/output error");
        emit notified(Event::DeviceLost);
    }
    // A notification that only a device server raises, with its description.
    void raise(Event kind, const QString &description)
    {
        m_error = description;
        emit notified(kind);
    }

    QList<QByteArray> written;
    QStringList settingsHistory;
    QSet<int> failingPorts;
    QString refusedSettings;
    // Empty: a line that cannot tell where it leads, retried once a second.
    QString locationPath;
    int opens = 0;
    int closes = 0;

private:
    bool fail(const QString &description)
    {
        m_error = description;
        return false;
    }

    int m_number = 1;
    QString m_settings;
    bool m_open = false;
    QByteArray m_input;
    QString m_error;
};
