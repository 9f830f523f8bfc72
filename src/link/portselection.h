// Opening the line at start-up and the operator's choice of port and speed.
#pragma once

#include "devicewatch.h"
#include "linesettings.h"
#include "serialline.h"

#include <QObject>
#include <QString>

#include <optional>

// A port operation that failed: the port's own description, and what the
// operator can do about it when that is known.
struct PortFailure
{
    QString description;
    QString hint;
};

// What the owner of a port selection adds to the line's facts: how it named
// the port and what happens next. In each text %1 stands for the port's
// number, %2 for its location (a device server's address as the line reads
// it) and %3 for the line's own hint; an empty text adds nothing.
struct PortWords
{
    // In place of the line's hint when nothing is at the port's location, or
    // the location is no network address.
    QString noDevice;
    QString noServer;
    QString badAddress;
    // After the line's hint when the device or the server went away and the
    // selection waits for it.
    QString deviceBack;
    QString serverBack;
    // After the line's hint when openAtStart() fails; the owner then waits
    // for the port.
    QString atStart;
};

// Carries out the port group's choices on the serial line. CommSettings is the
// line's own settings text, so after a refused speed it still says what the
// port runs at.
// Each operation returns the failure, or nothing when all went well; the panel
// shows it in its warning box. The line states the facts of a failure, and
// the selection adds its owner's words (the panel's unless told otherwise).
//
// Choosing a port opens it whenever it is closed, so after a failure (at start-up,
// on an earlier choice, or a device that went away) the operator brings the link
// back by choosing a port again instead of restarting the program.
//
// A device that went away, and COM1 when it cannot be opened at start-up, are
// also reopened without the operator: the selection waits for the device to be
// back (see DeviceWatch) and opens the port again, with no warning box. A port
// the operator chose and could not open is left to the operator, as is every
// port once the operator chooses one.
class PortSelection : public QObject
{
    Q_OBJECT

public:
    explicit PortSelection(SerialLine &line, QObject *parent = nullptr);

    // The panel's words: COM1 and COM2, named by QVX_COM1 and QVX_COM2, and
    // opened again by the panel itself.
    static PortWords panelWords();
    void setWords(const PortWords &words) { m_words = words; }

    QString commSettings() const { return m_line.settings(); }
    // The line's last failure, in the owner's words.
    PortFailure lastFailure() const;

    // Start-up: the 9600 bit/s settings on port 1, opened.
    std::optional<PortFailure> openAtStart();
    // Close the port if open, switch to the given port (1 or 2) and open it. On a
    // failure the port number goes to the other port and the port stays closed.
    std::optional<PortFailure> selectPort(int number);
    // Hand a settings text to the port; an open port changes speed at once.
    std::optional<PortFailure> selectSettings(const QString &settings);
    void close();

    // Opens the given port by itself once its device is back.
    void reopenWhenBack(int number);
    // Waits for the given port as above should an open now under way fail (a
    // device server that is not there yet).
    void reopenOnFailure(int number);
    // The port being waited for, or 0.
    int waitingFor() const { return m_watch.isWatching() ? m_reopening : 0; }

signals:
    // The device went away; the port is closed and waited for. Raised once per
    // loss, after the wait has started.
    void portLost(const PortFailure &failure);
    // The port that was waited for is open again.
    void portReopened();
    // An open that was under way failed (a device server refused or did not
    // answer); the port says why. Waited is true when the selection now waits
    // for the port to come back.
    void openFailed(const PortFailure &failure, bool waited);
    // A device server refused a settings text, or confirmed it after all.
    void settingsRefused(const PortFailure &failure);
    void settingsApplied();
    // The port after an operation: which one, open or closed, and why not.
    void portChanged(const QString &state);

private:
    std::optional<PortFailure> report(std::optional<PortFailure> failure);
    QString state() const;
    // The port's location, a device server's address as the line reads it.
    QString where() const;
    // The owner's words that take the place of the hint for the fault, if any.
    QString namingFor(SerialLine::Fault fault) const;
    // One of the owner's texts for the port as it is now.
    QString inWords(const QString &text, const QString &hint = {}) const;
    void reportState(const QString &note);
    void onNotified(SerialLine::Event kind);
    void onOpenFailed();
    void onDeviceLost();
    void stopWaiting();
    void tryReopen();

    SerialLine &m_line;
    DeviceWatch m_watch;
    PortWords m_words = panelWords();
    // The port reopened by the selection itself, until the operator chooses;
    // 0 when none.
    int m_reopening = 0;
};
