// One PJLink controller's connection: its greeting, its lines, their answers in order, and its time limits.
#pragma once

#include "pjlinkauth.h"
#include "pjlinkprotocol.h"
#include "pjlinkresponder.h"

#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <optional>

// What a PJLink server allows its controllers.
struct PjlinkLimits
{
    int connections = 64;
    int connectionsPerAddress = 8;
    // Requests a connection may have unanswered, the one being answered
    // included; a controller sends one and waits for its reply, so more means
    // a client that does not read.
    qsizetype waitingRequests = 16;
    // From the greeting to the first command: a controller sends it at once,
    // so a third of the idle time frees the place of one that does not.
    std::chrono::milliseconds firstCommand{10'000};
    // From the last command or reply to the close, as PJLink devices do.
    std::chrono::milliseconds idle{30'000};
};

// Why the bridge closed a connection that it did not take to the end.
enum class PjlinkRefusal {
    TooManyConnections,
    TooManyFromAddress,
    WrongPassword,
    LineTooLong,
    Malformed,
    TooManyWaiting,
};

// Greets the controller, after the given delay (a throttled address), and
// reads its bytes as lines ended by CR, bounded by pjlink::kLongestLine: its
// NUL and LF bytes are dropped, an empty line is ignored, and a line too long
// or with no request in it closes the connection at once. Each request, once
// the greeting has gone, goes through the connection's PjlinkAuth: a refused
// one is answered kAuthError and closes the connection, an undefined command
// is answered ERR1, and the responder answers the others, one at a time and
// in order. Each line goes out in a write of its own, and the next is written
// only once the socket has handed the last to the system, so that no two
// lines reach a controller in one piece, as some take each piece for one
// reply. The connection closes when no first command comes in time, when it
// has been idle, and when the controller leaves; it then tells the responder
// to forget it, keeps no timer, and deletes itself once the socket is closed.
class PjlinkConnection : public QObject
{
    Q_OBJECT

public:
    // Takes the socket, connected.
    PjlinkConnection(QTcpSocket *socket, PjlinkAuth auth, PjlinkResponder &responder,
                     const PjlinkLimits &limits, std::chrono::milliseconds greetingDelay,
                     QObject *parent = nullptr);

signals:
    // The first line with the right password, with one required.
    void authenticated();
    void refused(PjlinkRefusal why);
    // The socket is closed; the connection is deleted next.
    void finished();

private:
    enum class Phase { Delayed, Greeted, Talking, Closing };

    void greet();
    void onReadyRead();
    void takeByte(char byte);
    void takeLine(QByteArrayView line);
    void answerWaiting();
    void answer(const pjlink::ParsedLine &line);
    void onAnswered(quint64 serial, const QByteArray &line);
    void send(QByteArrayView line);
    void onBytesWritten();
    void onTimeout();
    void close(std::optional<PjlinkRefusal> why, QByteArrayView lastLine = {});
    void finish();

    QTcpSocket *m_socket;
    PjlinkAuth m_auth;
    PjlinkResponder &m_responder;
    const PjlinkLimits m_limits;
    Phase m_phase = Phase::Delayed;
    // The greeting's delay, the deadline of the first command, the idle time
    // or, while closing, the wait for the socket to let go.
    QTimer m_timer{this};
    QByteArray m_partial;
    QList<pjlink::ParsedLine> m_waiting;
    // Counts the answers asked for, so that only the last one's is taken.
    quint64 m_serial = 0;
    bool m_answering = false;
    // A line is in the socket's buffer, not yet handed to the system.
    bool m_writing = false;
    bool m_answeringWaiting = false;
    bool m_finished = false;
};
