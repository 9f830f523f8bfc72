// One line's exchanges: commands sent one after the other, each reply framed, judged and handed on.
#pragma once

#include "exchange.h"
#include "portselection.h"
#include "serialline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>

// Sends a round of steps on its line, one exchange on the wire at a time, so
// that each reply belongs to its command:
// - what the line holds before a send belongs to no command, and is thrown
//   away and told with the next exchange;
// - a reply ends at its carriage return; one that has begun when its window
//   ends goes on while its pieces keep coming, within a bound, so that a reply
//   in pieces is one reply;
// - after a command draws no reply, its late answer may still come: the next
//   send waits until the line has been quiet as long as the window that ran
//   out, within a bound; after characters that came unasked it waits a short
//   quiet gap.
// A held lens step keeps its repeat instead: its window is the repeat, and
// the next step goes out at the repeat, as a held button sends them.
//
// The line's life is the port selection's: a line lost during a round ends
// it, every step not yet sent is told as not sent, and when waiting is on, the
// selection opens the line again once it is back. A network line that is still
// connecting holds the round until it carries bytes.
class ExchangeRunner : public QObject
{
    Q_OBJECT

public:
    // A reply ends here even without a carriage return, so that a flood
    // cannot take memory without bound: the longest text a dump covers.
    static constexpr qsizetype kLongestReply = 32767;
    // A reply that has begun when its window ends goes on while its pieces
    // come at most this far apart, for at most the overtime.
    static constexpr std::chrono::milliseconds kPieceGap{300};
    static constexpr std::chrono::milliseconds kLongestOvertime{5000};
    // After characters that belong to no command, the line is quiet when
    // none has come for this long.
    static constexpr std::chrono::milliseconds kQuietGap{100};
    // The longest a send waits for a quiet line: a line full of noise never
    // is, and its replies are then judged as they come.
    static constexpr std::chrono::milliseconds kLongestSettle{3000};

    ExchangeRunner(SerialLine &line, QString port, ReplyJudge judge = judgeReply, QObject *parent = nullptr);

    // Opens the line at the settings; false, with lost() raised, when it cannot
    // be opened. With waiting on, a line that cannot be opened or is lost is
    // waited for.
    bool open(const QString &settings, bool waitWhenLost);
    void close();
    // The words its failures end in: how the owner names the port and what
    // it does next.
    void setWords(const PortWords &words) { m_selection.setWords(words); }

    // Sends the steps one after the other; an exchange for every step, then
    // roundEnded(). A line that is not open tells every step as not sent.
    void runRound(const QList<commands::Step> &steps);
    // Drops the round's steps still to go, untold, as when whoever asked for
    // them has gone. A command on the wire runs to its end, and roundEnded()
    // follows; false then. True when the round has ended at once, with no
    // roundEnded(): nothing of it was on the wire.
    bool withdraw();
    bool isRunning() const { return m_phase != Phase::Idle; }
    bool isOpen() const { return m_line.isOpen(); }

    const QString &port() const { return m_port; }

signals:
    void exchanged(const Exchange &exchange);
    void roundEnded();
    // The line could not be opened or went away; waited is true when it is
    // being waited for.
    void lost(const PortFailure &failure, bool waited);
    void back();
    // A network line that was connecting carries bytes now.
    void opened();
    // A device server did not take the settings; the line runs at the ones
    // it had.
    void settingsRefused(const PortFailure &failure);

private:
    enum class Phase { Idle, Connecting, Settling, Awaiting, Overtime, Repeating };

    void onNotified(SerialLine::Event kind);
    void onLost(const PortFailure &failure, bool waited);
    void prepareNext();
    void send();
    // An exchange of the step, with what the line held before it.
    Exchange begun(const commands::Step &step, const QDateTime &time);
    void take(QByteArrayView characters);
    void keepStray(QByteArrayView characters);
    void onWindowEnd();
    void onGap();
    void onRepeat();
    void endReply();
    void judge();
    void tellUnsent();
    void endRound();

    SerialLine &m_line;
    PortSelection m_selection;
    QString m_port;
    ReplyJudge m_judge;
    bool m_waitWhenLost = false;
    Phase m_phase = Phase::Idle;
    QList<commands::Step> m_steps;
    qsizetype m_next = 0;
    Exchange m_exchange;
    QElapsedTimer m_sentAt;
    // Characters that belong to no command, since the last send.
    QByteArray m_stray;
    // Since the last character that belonged to no command, or since a
    // window ran out unanswered.
    QElapsedTimer m_quietSince;
    std::chrono::milliseconds m_quietNeeded{};
    // The timers are children of the runner, so that a fuzz target finds
    // them among its children and ends them when its input says.
    QTimer m_replyWindow{this};
    // The gap between a reply's pieces in overtime, or the quiet before a send.
    QTimer m_gap{this};
    // The end of a reply's overtime, or of the wait for quiet.
    QTimer m_deadline{this};
    // A held step's repeat: the next step goes out when it ends.
    QTimer m_repeat{this};
};
