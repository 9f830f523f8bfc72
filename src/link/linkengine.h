// The one road for all traffic between the panel and the projector.
#pragma once

#include "serialline.h"
#include "trafficdump.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

// Sends command texts, gathers received characters and keeps the three lines of
// the data panel: the sent-traffic line (Label11), the received-traffic line
// (Label12) and the status line (Label22). Every send opens two windows: the
// reply window (Timer2), at whose end an unanswered command is marked " X X X X"
// and the gathered reply is discarded, and the display window (Timer4), at whose
// end the three lines are emptied. There is no framing, queue or retry: a new
// send simply replaces LastCommand, and each batch of received characters is
// dumped and decoded again over everything gathered so far.
//
// The engine holds the lines as text; the panel shows them. The received line is
// kept as a growing dump of RxBuffer, so a receive event costs what its batch
// costs, however much was gathered before it.
class LinkEngine : public QObject
{
    Q_OBJECT

public:
    // Hyouji's modes: 1 sends; every other value takes the receive path.
    static constexpr std::uint8_t kSend = 1;
    static constexpr std::uint8_t kReceive = 2;
    // RxBuffer keeps at most this many characters; later ones are dropped until
    // it is emptied, so a flood cannot take memory without bound.
    static constexpr qsizetype kRxBufferLimit = TrafficDump::kMaxCharacters;
    static constexpr std::chrono::milliseconds kReplyWindow{500};
    static constexpr std::chrono::milliseconds kDisplayWindow{1000};
    static constexpr char kNoReply[] = " X X X X";

    // The status text for a reply, chosen by the command sent last; nothing when
    // the reply decodes to no text, which leaves the status line as it is. The
    // dump is grown when it is the one of the last call with the characters of
    // a batch added at its end, so that a decoder may read on where it stopped.
    using ReplyDecoder = std::function<std::optional<QByteArray>(const QByteArray &lastCommand,
                                                                 const QByteArray &dump, bool grown)>;

    explicit LinkEngine(SerialLine &line, QObject *parent = nullptr);

    // Start-up: empty prefix, nothing awaited, nothing gathered.
    void reset();

    void setReplyDecoder(ReplyDecoder decoder) { m_decoder = std::move(decoder); }

    // The window's send-and-display procedure. A sending handler sets
    // LastCommand (and the windows' intervals, if it wants others) and passes
    // LastCommand with mode 1. The receive handler passes RxBuffer with mode 2;
    // the received line is then RxBuffer's dump, which is kept as it grows.
    void hyouji(const QByteArray &text, std::uint8_t mode);

    // Sends a command: LastCommand becomes CommandPrefix + body + carriage return,
    // and Hyouji sends it.
    void sendCommand(QByteArrayView body);

    // Sends the next step of a held lens button. The repeat and a step's reply
    // window share their interval, so it is chance which of the two the event
    // loop serves first; a window of the step before that is still open ends
    // here, as its own tick would have ended it, before the step goes out.
    // Every step is thus marked or answered on its own.
    void sendHoldStep(QByteArrayView body);

    // Sets both windows' intervals for the sends that follow.
    void setWindows(std::chrono::milliseconds reply, std::chrono::milliseconds display);
    std::chrono::milliseconds replyWindowInterval() const { return m_timer2.intervalAsDuration(); }
    std::chrono::milliseconds displayWindowInterval() const { return m_timer4.intervalAsDuration(); }
    bool isReplyWindowOpen() const { return m_timer2.isActive(); }
    bool isDisplayWindowOpen() const { return m_timer4.isActive(); }

    // The end of a press-and-hold: the last step's reply window ends unmarked,
    // the sent and received lines are blanked, both windows go back to their
    // design values, the display window opens anew and RxBuffer is emptied.
    // AwaitingReply stays: only the end of a reply window reads it, and the next
    // send sets it again.
    void endHold();

    const QByteArray &lastCommand() const { return m_lastCommand; }
    void setLastCommand(const QByteArray &text) { m_lastCommand = text; }
    const QByteArray &commandPrefix() const { return m_commandPrefix; }
    const QByteArray &rxBuffer() const { return m_rxBuffer; }
    std::uint8_t awaitingReply() const { return m_awaitingReply; }

    // When the last command was sent, and how long after it its first character
    // came; nothing while none has come since.
    const QDateTime &sentAt() const { return m_sentAt; }
    qint64 msSinceSend() const { return m_sinceSend.isValid() ? m_sinceSend.elapsed() : -1; }
    std::optional<qint64> replyLatency() const { return m_replyLatency; }

    const QByteArray &sentLine() const { return m_sentLine; }
    const QByteArray &receivedLine() const;
    const QByteArray &statusLine() const;

signals:
    // The link's events, for those who watch the line: a command went out, the
    // first characters since came in, characters came in (after the status
    // line was decoded), a reply window
    // ended with or without an answer, the display window emptied the lines.
    void commandSent();
    void replyStarted();
    void batchReceived(const QByteArray &batch);
    void replyWindowEnded(bool answered);
    void displayWindowEnded();

    void sentLineChanged();
    void receivedLineChanged();
    void statusLineChanged();

private:
    void send(const QByteArray &text);
    void showReceived();
    void onNotified(SerialLine::Event kind);
    void endReplyWindow();
    void endDisplayWindow();
    // Empties RxBuffer. The received line keeps showing what it showed.
    void emptyRxBuffer();
    void setSentLine(const QByteArray &text);
    void setReceivedLine(const QByteArray &text);
    void setStatusLine(const QByteArray &text);

    SerialLine &m_line;
    ReplyDecoder m_decoder;

    QByteArray m_lastCommand;
    QByteArray m_rxBuffer;
    std::uint8_t m_awaitingReply = 0;
    QByteArray m_commandPrefix;

    QDateTime m_sentAt;
    QElapsedTimer m_sinceSend;
    std::optional<qint64> m_replyLatency;

    TrafficDump m_rxDump;
    // Whether the decoder saw RxBuffer's dump since it was last emptied.
    bool m_dumpDecoded = false;
    QByteArray m_sentLine;
    // The received line is either RxBuffer's dump or a text of its own (" X X X X",
    // empty, or the dump RxBuffer held before it was emptied).
    bool m_receivedShowsDump = false;
    QByteArray m_receivedLine;
    // The status line likewise, when the decoder echoes the dump.
    bool m_statusShowsDump = false;
    QByteArray m_statusLine;

    QTimer m_timer2;
    QTimer m_timer4;
};
