// One port's exchanges: the command list sent one command after the other, each reply gathered and decoded.
#pragma once

#include "portselection.h"
#include "replyrouter.h"
#include "sendrequest.h"
#include "serialline.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

// A command and what came back for it.
struct Exchange
{
    QString port;
    // When the command went out.
    QDateTime time;
    // The command text, without its carriage return.
    QByteArray command;
    // Up to and including the first carriage return, or what the reply window
    // gathered.
    QByteArray reply;
    // The reply window, and the time from the send to the reply's end.
    std::chrono::milliseconds replyWindow{};
    std::chrono::milliseconds replyTime{};
    bool answered = false;
    // What the panel's decoders make of the reply, with its leading space;
    // nothing when no decoder applies.
    std::optional<QByteArray> status;
};

// Sends a round of steps on its line: a step goes out when the one before it
// has its reply, which ends at its first carriage return or at the end of its
// reply window, whichever comes first. Characters that arrive between
// exchanges belong to no command and are dropped. The panel's decoders read
// each reply as the panel's received line would show it.
//
// The line's life is the port selection's: a line lost during a round ends
// the round, and when waiting is on, the selection opens it again once it is
// back, as the panel does. A network line that is still connecting holds the
// round until it carries bytes, so that no reply window runs out while the
// command waits to go out.
class PortRun : public QObject
{
    Q_OBJECT

public:
    // A reply ends here even without a carriage return, so that a flood
    // cannot take memory without bound: the longest text a dump covers.
    static constexpr qsizetype kLongestReply = 32767;

    PortRun(SerialLine &line, QString port, QObject *parent = nullptr);

    // Opens the line at the settings; false, with lost() raised, when it cannot
    // be opened. With waiting on, a line that cannot be opened or is lost is
    // waited for.
    bool open(const QString &settings, bool waitWhenLost);
    void close();

    // Sends the steps one after the other; roundEnded() follows the last, or a
    // loss. A line that is not open ends the round at once.
    void runRound(const QList<SendStep> &steps);
    bool isRunning() const { return m_running; }

    const QString &port() const { return m_port; }

signals:
    void exchanged(const Exchange &exchange);
    void roundEnded();
    // The line could not be opened or went away; waited is true when it is
    // being waited for.
    void lost(const PortFailure &failure, bool waited);
    void back();
    // A device server did not take the settings; the line runs at the ones
    // it had.
    void settingsRefused(const PortFailure &failure);

private:
    void onNotified(SerialLine::Event kind);
    void onLost(const PortFailure &failure, bool waited);
    void sendNext();
    void onRepeat();
    void take(QByteArrayView characters);
    void endReply();
    void endRound();

    SerialLine &m_line;
    PortSelection m_selection;
    // Scripts send no prefix, as the panel sends none.
    const QByteArray m_prefix;
    ReplyRouter m_router{m_prefix};
    QString m_port;
    bool m_waitWhenLost = false;
    bool m_running = false;
    // The command the reply belongs to; empty between exchanges.
    bool m_awaiting = false;
    QList<SendStep> m_steps;
    qsizetype m_next = 0;
    Exchange m_exchange;
    QElapsedTimer m_sentAt;
    QTimer m_replyWindow;
    // A held step's repeat: the next step goes out when it ends.
    QTimer m_repeat;
};
