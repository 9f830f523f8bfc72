// The serial line to the projector, as the link engine and the port selection use it.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

// The operations the panel needs of its serial port and nothing more: a port
// number (1 = COM1, 2 = COM2), a settings text (LineSettings), open and
// close, writing a command text in one call, reading everything received, and a
// notification that carries the kind of event. Failures are reported by the
// return value of the operation and described by errorString(); nothing throws.
//
// The real line is ComPort; tests drive the link engine through a fake.
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
    };
    Q_ENUM(Event)

    using QObject::QObject;

    virtual int portNumber() const = 0;
    // Takes 1 or 2; fails while the port is open.
    virtual bool setPortNumber(int number) = 0;

    // The settings the port runs at: the last ones it accepted.
    virtual QString settings() const = 0;
    // Applied at once, also to an open port. Refused settings leave the port
    // running at the ones it had.
    virtual bool setSettings(const QString &settings) = 0;

    virtual bool open() = 0;
    virtual bool close() = 0;
    virtual bool isOpen() const = 0;
    // Open, but not yet carrying bytes: a network line whose connect is under
    // way. It ends in carrying bytes, or in OpenFailed.
    virtual bool isConnecting() const { return false; }

    // Writes the whole text, one byte per character, without waiting.
    virtual bool write(QByteArrayView text) = 0;
    // Everything received and not yet read; it is removed from the port's input.
    virtual QByteArray readAll() = 0;

    // The description of the last failed operation, in the port's own words.
    virtual QString errorString() const = 0;
    // What the operator can do about the last failure, where the platform says
    // why in terms a person can act on; empty otherwise.
    virtual QString failureHint() const { return {}; }

    // Where the port number leads: a device path, or a device server's
    // address; empty when the line cannot tell.
    virtual QString location() const { return {}; }

signals:
    void notified(SerialLine::Event kind);
};
