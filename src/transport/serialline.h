// The serial line to the projector, as the link engine and the port selection use it.
#pragma once

#include "endpoint.h"
#include "linesettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <functional>

// The operations the panel needs of its serial port and nothing more: a port
// number (1 = COM1, 2 = COM2), a settings text (LineSettings), open and
// close, writing a command text in one call, reading everything received, and a
// notification that carries the kind of event. Failures are reported by the
// return value of the operation and described by errorString(); nothing throws.
//
// What every line holds lives here: the endpoint source, the port number, the
// settings, the last failure with its hint, and the checks that an operation
// suits an open or a closed port. A line adds how it opens, writes and applies
// settings: ComPort on a local device, NetworkLine to a device server, AnyLine
// choosing between them; tests drive the link through a fake.
class SerialLine : public QObject
{
    Q_OBJECT

public:
    // Kinds of notification. Only Received is acted on by the link engine.
    enum class Event {
        // Characters arrived and wait to be read.
        Received,
        // The device went away (adapter pulled, other end of the line closed).
        // The line has closed itself by the time this is sent, and sends it once.
        DeviceLost,
        // An open() that returned true could not complete: a network line whose
        // connect was refused or timed out. The line is closed; errorString() says
        // why in the socket's own words.
        OpenFailed,
        // The device server refused a settings text or did not confirm it in time.
        // The line stays open at the settings it had; errorString() says which.
        SettingsRefused,
        // The device server confirmed settings after it had been reported as
        // not applying them (an agreement that came late).
        SettingsApplied,
        // An open() that left the line connecting has completed: the line
        // carries bytes (through RFC 2217, once the server has answered the
        // settings). A line that opens at once sends no such notice.
        Opened,
    };
    Q_ENUM(Event)

    // What the operator can do about a failure. Made only when asked for: some
    // hints cost a scan of the system, which a silent attempt has no use for.
    using Hint = std::function<QString()>;

    // What a failure says of the port's location, for whoever named the port
    // to add how to name another or what happens next; the description and
    // the hint state only the facts.
    enum class Fault {
        Other,
        // Nothing is at the location: no such device, or no server answers there.
        NoDevice,
        NoServer,
        // The location is no usable network address.
        BadAddress,
        // The device or the server was there and went away.
        DeviceGone,
        ServerGone,
    };
    Q_ENUM(Fault)

    explicit SerialLine(EndpointSource source, QObject *parent = nullptr);

    int portNumber() const { return m_number; }
    // Takes 1 or 2; fails while the port is open.
    bool setPortNumber(int number);

    // The settings the port runs at: the last ones it accepted.
    QString settings() const { return m_settings.text; }
    const LineSettings &lineSettings() const { return m_settings; }
    // Applied at once, also to an open port. Refused settings leave the port
    // running at the ones it had.
    bool setSettings(const QString &settings);

    // Opens the port at its number and settings; fails when it is open already.
    bool open();
    virtual bool close() = 0;
    virtual bool isOpen() const = 0;
    // Open, but not yet carrying bytes: a network line whose connect is under
    // way. It ends in carrying bytes, or in OpenFailed.
    virtual bool isConnecting() const { return false; }
    // Open and carrying bytes: what is written now goes out now, not when a
    // connect or a device server's agreement completes (see Event::Opened).
    virtual bool isReady() const { return isOpen(); }

    // Writes the whole text, one byte per character, without waiting; fails
    // when the port is not open.
    bool write(QByteArrayView text);
    // Everything received and not yet read; it is removed from the port's input.
    virtual QByteArray readAll() = 0;

    // The description of the last failed operation, in the port's own words.
    QString errorString() const { return m_error; }
    // What the operator can do about the last failure, where the platform says
    // why in terms a person can act on; empty otherwise.
    QString failureHint() const { return m_hint ? m_hint() : QString(); }
    Fault failureFault() const { return m_fault; }

    // Where the port number leads, as the endpoint source names it: a device
    // path, or a device server's address.
    QString location() const { return m_source(m_number); }

signals:
    void notified(SerialLine::Event kind);

protected:
    // Opens the closed port at portNumber() and lineSettings().
    virtual bool openLine() = 0;
    // Writes to the open port.
    virtual bool writeLine(QByteArrayView text) = 0;
    // Applies settings to the open port; on failure it keeps the ones it had.
    virtual bool applySettings(const LineSettings &settings) = 0;

    const EndpointSource &endpointSource() const { return m_source; }

    // Records a failure; returns false, so that an operation can end in it.
    bool fail(const QString &description, Hint hint = {}, Fault fault = Fault::Other);
    bool fail(const QString &description, const QString &hint, Fault fault = Fault::Other);
    // Takes another line's last failure as this one's.
    bool failAs(const SerialLine &other);
    // The port changed its settings itself: a device server went back to the
    // ones it last confirmed.
    void keepSettings(const LineSettings &settings) { m_settings = settings; }

private:
    EndpointSource m_source;
    int m_number = 1;
    LineSettings m_settings = LineSettings::initial();
    QString m_error;
    Hint m_hint;
    Fault m_fault = Fault::Other;
};
