// What a serial device server has agreed to over COM-PORT-OPTION: the option, then each settings text.
#pragma once

#include "linesettings.h"
#include "telnetcodec.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <optional>

// RFC 2217 from the client's side, without a socket: the line tells it what the
// server said and sends the requests it asks for.
//
// At connect the client offers the option and waits for the server to agree.
// A server that serves one connection at a time, or sits behind a slow link,
// may take seconds before it says anything, so the wait for an answer counts
// from the server's first byte and allows kAnswerTimeout. Once the option is
// agreed, every settings text goes to the server as five commands, and the
// server's answers confirm it; a different value, or no answer in time, means
// the settings were not applied, and the server is asked to go back to the
// settings it last confirmed, as a local port goes back after a refused
// setting. An agreement that comes after the wait ended still applies the
// settings.
class ComPortAgreement : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kAnswerTimeout{5000};

    enum class Stage {
        // The option is offered; the server has not answered yet.
        Offered,
        // The server agreed: settings go to it and are confirmed.
        Agreed,
        // The server refused the option or did not answer in time; it keeps
        // its own settings until it agrees after all.
        NotAgreed,
    };

    explicit ComPortAgreement(QObject *parent = nullptr);
    ComPortAgreement(std::chrono::milliseconds answerTimeout, QObject *parent);

    // A new connection to the server at address, which is to run at settings.
    void begin(const QString &address, const LineSettings &settings);
    // The connection ended: nothing is awaited any more.
    void end();

    // The server sent its first bytes; the wait for its answer counts from here.
    void serverSpoke();
    // The option's state after the server's latest negotiation.
    void optionChanged(TelnetCodec::ComPortState state);
    // The server's answer to one command.
    void take(const ComPortValue &answer);
    // New settings for the server: sent at once while the option is agreed,
    // taken for later while it is offered. A server that has not agreed cannot
    // take them: the refusal comes back, and the settings stay as they were.
    std::optional<QString> ask(const LineSettings &settings);

    Stage stage() const { return m_stage; }
    // Whether the data held back for the option may go: the option is settled
    // one way or the other.
    bool isSettled() const { return m_stage != Stage::Offered; }
    // The server has answered every settings command with the value asked for.
    bool isConfirmed() const { return m_stage == Stage::Agreed && m_awaited.empty() && !m_refused; }
    // The settings the line runs at: those asked for, or after a refusal the
    // ones the server last confirmed.
    const LineSettings &settings() const { return m_settings; }

signals:
    // Bytes to send to the server, already framed.
    void request(const QByteArray &bytes);
    // The settings were not applied; the text says what was and what was not.
    void refused(const QString &description);
    // The server confirmed settings after the wait for them had ended.
    void appliedLate();

private:
    void send();
    void refuse(const QString &description);
    // What the line runs at after a refusal, in words for the warning box.
    QString whatRuns() const;
    void onTimeout();
    QString seconds() const;

    QTimer m_timer{this};
    Stage m_stage = Stage::Offered;
    QString m_address;
    LineSettings m_settings;
    // The commands still waiting for an answer, in order.
    std::deque<ComPortValue> m_awaited;
    bool m_refused = false;
    // The wait for an answer ended without one, so a confirmation now comes late.
    bool m_late = false;
    bool m_serverSpoke = false;
    // The settings the server last confirmed on this connection, to go back to
    // after a refusal; none before the first confirmation.
    std::optional<LineSettings> m_confirmed;
};
