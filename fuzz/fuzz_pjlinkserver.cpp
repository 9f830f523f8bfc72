// Fuzzes a PJLink connection on an in-memory socket: a controller's bytes in any pieces, answers at once,
// late or never, timer ends and a controller that leaves, in any order.
#include "fuzzinput.h"
#include "memorysocket.h"
#include "pjlinkconnection.h"

#include <QCoreApplication>
#include <QPointer>

#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <optional>
#include <utility>

namespace {

const QByteArray kPassword = "change-me";
const QByteArray kRandom = "498e4a67";
constexpr qsizetype kLongestPiece = 64;
// A controller's flood: far more than a connection may keep of what it reads.
constexpr qsizetype kFloodSize = 128 * 1024;
// What a delivery may leave allocated: the requests waiting, the line being
// read, the socket's read buffer. A connection that kept any large part of a
// flood would pass it.
constexpr std::size_t kDeliverySlack = 32 * 1024;

// The first byte of the input.
enum RunFlags : std::uint8_t { WithPassword = 1, DelayedGreeting = 2 };

enum class Step : std::uint8_t {
    Deliver,
    DeliverRequest,
    Answer,
    AnswerLate,
    HandOver,
    EndTimer,
    TurnEventLoop,
    PeerCloses,
    PeerResets,
    Flood,
};
constexpr std::uint8_t kStepCount = std::uint8_t(Step::Flood) + 1;

bool isOneLine(const QByteArray &write)
{
    return write.endsWith(pjlink::kLineEnd) && write.count(pjlink::kLineEnd) == 1;
}

// Keeps each write apart, and counts it as waiting for the system until the
// run hands it over, as QTcpSocket's buffer does until its write notice.
class WriteLogSocket : public MemorySocket
{
public:
    explicit WriteLogSocket(QList<QByteArray> &writes)
        : m_writes(writes)
    {}

    qint64 bytesToWrite() const override { return m_waiting; }

    void handOver()
    {
        if (m_waiting > 0)
            emit bytesWritten(std::exchange(m_waiting, 0));
    }

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        fuzzCheck(m_waiting == 0, "a line is written only once the last one has been handed over");
        const qint64 written = MemorySocket::writeData(data, size);
        if (written > 0) {
            m_writes.append(QByteArray(data, qsizetype(written)));
            m_waiting += written;
        }
        return written;
    }

private:
    QList<QByteArray> &m_writes;
    qint64 m_waiting = 0;
};

// Holds the answer asked for, and those of requests that can no longer take
// one, which the run calls anyway: a connection must shrug them off.
class HoldingResponder : public PjlinkResponder
{
public:
    void answer(const pjlink::Request &request, const QObject *, Done done) override
    {
        fuzzCheck(forgets == 0, "no request is asked after the connection is forgotten");
        fuzzCheck(!current, "a connection asks one answer at a time");
        current = {std::move(done), pjlink::replyLine(request, "1")};
    }
    void forget(const QObject *) override
    {
        ++forgets;
        if (current)
            stale.append(std::exchange(current, std::nullopt)->first);
    }

    std::optional<std::pair<Done, QByteArray>> current;
    QList<Done> stale;
    int forgets = 0;
};

class ConnectionRun
{
public:
    explicit ConnectionRun(std::uint8_t flags)
        : m_withPassword(flags & WithPassword)
    {
        auto *socket = new WriteLogSocket(m_writes);
        socket->connectToHost(QStringLiteral("controller"), 4352);
        socket->accept();
        m_socket = socket;
        PjlinkLimits limits;
        limits.firstCommand = kNever;
        limits.idle = kNever;
        const auto password = m_withPassword ? std::optional(kPassword) : std::nullopt;
        m_connection = new PjlinkConnection(socket, PjlinkAuth(password, kRandom), m_responder, limits,
                                            (flags & DelayedGreeting) ? kNever : kDue);
        QObject::connect(m_connection, &PjlinkConnection::finished, [this] { m_finished = true; });
        m_timer = m_connection->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QObject::connect(m_timer, &QTimer::timeout, [this] { ++m_timeouts; });
        check();
    }

    void step(FuzzInput &input)
    {
        switch (Step(input.take() % kStepCount)) {
        case Step::Deliver:
            deliver(input.takeBytes(input.take() % kLongestPiece).toByteArray());
            break;
        case Step::DeliverRequest:
            deliverRequest(input.take(), input.takeBytes(pjlink::kCommandLength));
            break;
        case Step::Answer:
            answer();
            break;
        case Step::AnswerLate:
            if (!m_responder.stale.isEmpty())
                m_responder.stale.takeFirst()("%1POWR=1\r");
            break;
        case Step::HandOver:
            if (m_socket)
                m_socket->handOver();
            break;
        case Step::EndTimer:
            endTimer();
            break;
        case Step::TurnEventLoop:
            turnEventLoop();
            break;
        case Step::PeerCloses:
            if (m_socket)
                m_socket->closeByPeer();
            break;
        case Step::PeerResets:
            if (m_socket)
                m_socket->resetByPeer();
            break;
        case Step::Flood: {
            QByteArray pattern = input.takeBytes(1 + input.take() % kLongestPiece).toByteArray();
            if (pattern.isEmpty())
                pattern = "%1POWR ?\r";
            deliver(pattern.repeated(kFloodSize / pattern.size()));
            break;
        }
        }
        check();
    }

    // A connection deleted while it waits for an answer leaves nothing that
    // a late answer could reach.
    void finish()
    {
        turnEventLoop();
        delete m_connection.data();
        if (m_responder.current)
            m_responder.stale.append(m_responder.current->first);
        for (const PjlinkResponder::Done &done : std::as_const(m_responder.stale))
            done("%1POWR=1\r");
    }

private:
    void deliver(const QByteArray &bytes)
    {
        if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        // The fuzz build runs under AddressSanitizer, whose allocator counts the
        // bytes allocated and not yet freed.
        const std::size_t before = __sanitizer_get_current_allocated_bytes();
        m_socket->deliver(bytes);
        fuzzCheck(__sanitizer_get_current_allocated_bytes() <= before + kDeliverySlack,
                  "what a controller sends takes no lasting memory beyond the connection's bounds");
    }

    // A request that the fuzzer could not write by chance: with the digest of
    // the greeting's random value and the password, right or wrong.
    void deliverRequest(std::uint8_t choice, QByteArrayView command)
    {
        const QByteArray digest = PjlinkAuth::digestOf(kRandom, (choice & 1) ? kPassword : "wrong");
        const QByteArray front = (choice & 2) ? QByteArray() : (choice & 4) ? digest.toUpper() : digest;
        deliver(front + "%1" + command.toByteArray() + " ?\r");
    }

    void answer()
    {
        if (!m_responder.current)
            return;
        const auto [done, line] = *std::exchange(m_responder.current, std::nullopt);
        const qsizetype written = m_writes.size();
        done(line);
        fuzzCheck(m_writes.size() == written + 1 && m_writes.last() == line,
                  "an answer asked for goes out at once, as it was given");
    }

    void endTimer()
    {
        if (!m_connection || !m_timer->isActive())
            return;
        const int timeouts = m_timeouts;
        // Setting the interval of a running timer restarts its count.
        m_timer->setInterval(kDue);
        for (int turn = 0; turn < kTurnsForDueWork && m_timeouts == timeouts; ++turn)
            QCoreApplication::processEvents();
        fuzzCheck(m_timeouts > timeouts, "a due timer ends at the next turns of the event loop");
    }

    void turnEventLoop()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (m_finished)
            fuzzCheck(!m_connection && !m_socket, "a finished connection is deleted with its socket");
    }

    void check()
    {
        for (qsizetype i = m_checkedWrites; i < m_writes.size(); ++i) {
            const QByteArray &write = m_writes[i];
            fuzzCheck(isOneLine(write), "each write is one line");
            const bool isGreeting =
                write.startsWith("PJLINK ") && QByteArrayView(write) != pjlink::kAuthError;
            fuzzCheck((i == 0) == isGreeting, "the greeting comes first, and once");
            if (i == 0)
                fuzzCheck(write == (m_withPassword ? "PJLINK 1 " + kRandom + '\r' : QByteArray("PJLINK 0\r")),
                          "the greeting says whether a password is needed");
            if (QByteArrayView(write) == pjlink::kAuthError)
                fuzzCheck(m_withPassword && i + 1 == m_writes.size(),
                          "a wrong password's answer is the last line");
        }
        m_checkedWrites = m_writes.size();
        if (!m_writes.isEmpty() && QByteArrayView(m_writes.last()) == pjlink::kAuthError)
            fuzzCheck(!m_socket || m_socket->state() == QAbstractSocket::UnconnectedState,
                      "a wrong password closes the connection");
        fuzzCheck(m_responder.forgets <= 1, "a connection is forgotten once");
        if (m_finished)
            fuzzCheck(m_responder.forgets == 1 && !m_responder.current,
                      "a finished connection was forgotten, with the answer it waited for");
    }

    const bool m_withPassword;
    QList<QByteArray> m_writes;
    qsizetype m_checkedWrites = 0;
    HoldingResponder m_responder;
    QPointer<WriteLogSocket> m_socket;
    QPointer<PjlinkConnection> m_connection;
    QTimer *m_timer = nullptr;
    int m_timeouts = 0;
    bool m_finished = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The connection's timer and deleteLater need the application's event
    // dispatcher; the application is never deleted, as Qt's own globals may be
    // gone by the time a static one would be.
    static int argc = 1;
    static char name[] = "fuzz_pjlinkserver";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    return 0;
}

// The first byte holds the run's flags; the rest is steps.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    ConnectionRun run(input.take());
    while (!input.atEnd())
        run.step(input);
    run.finish();
    return 0;
}
