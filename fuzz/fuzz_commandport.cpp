// Fuzzes the command port's framing with in-memory clients on one line: their bytes in any pieces, the
// projector answering at once, in pieces, late or never, timer ends, and clients that come, leave or reset.
#include "commandcatalogue.h"
#include "commandport.h"
#include "exchangequeue.h"
#include "exchangerunner.h"
#include "fakeline.h"
#include "fuzzinput.h"
#include "linesettings.h"
#include "memorysocket.h"
#include "scriptvocabulary.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr qsizetype kLongestPiece = 64;
constexpr qsizetype kLongestAnswerPiece = 16;
// Overlong texts reach this far on either side of the port's bound.
constexpr qsizetype kLongTextReach = 8;
// A client's flood: far more than the port may keep of what it reads.
constexpr qsizetype kFloodSize = 64 * 1024;
// What a delivery may leave allocated: up to kMostWaiting requests of the
// longest command on the queue, the line being read, the socket's read
// buffer. A port that kept any large part of a flood would pass it.
constexpr std::size_t kDeliverySlack = 16 * 1024;
// Room for clients beyond the port's cap, and for some that come after others left.
constexpr std::size_t kMostClientsInRun = CommandPort::kMostClients + 8;

enum class Step : std::uint8_t {
    Deliver,
    DeliverCommand,
    DeliverLensStep,
    DeliverLongText,
    Flood,
    Answer,
    AnswerPiece,
    AnswerLate,
    LineNoise,
    EndTimer,
    TurnEventLoop,
    ClientArrives,
    ClientCloses,
    ClientResets,
};
constexpr std::uint8_t kStepCount = std::uint8_t(Step::ClientResets) + 1;

QByteArray lensStep(const commands::LensButton &button)
{
    return QByteArray(button.step.data(), qsizetype(button.step.size()));
}

// Keeps each write of the port apart, in a list that outlives the socket. A
// write after the connection ended is kept too: it is a fault as much as one
// to the wrong client.
class ClientSocket : public MemorySocket
{
public:
    explicit ClientSocket(QList<QByteArray> &writes)
        : m_writes(writes)
    {}

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        m_writes.append(QByteArray(data, qsizetype(size)));
        return MemorySocket::writeData(data, size);
    }

private:
    QList<QByteArray> &m_writes;
};

// The projector's end of the line: every command written is handed to the run
// as it goes out, and nothing is kept.
class ProjectorLine : public FakeLine
{
public:
    std::function<void(QByteArrayView)> onWrite;

protected:
    bool writeLine(QByteArrayView text) override
    {
        onWrite(text);
        return true;
    }
};

// A client as the run sees it, with what the port should do with its bytes.
struct Client
{
    QPointer<ClientSocket> socket;
    QList<QByteArray> writes;
    // The replies it should have been written, in order.
    QList<QByteArray> replies;
    qsizetype checkedWrites = 0;
    // What it sent since its last CR.
    QByteArray line;
    // Its commands on the queue or on the line.
    int outstanding = 0;
    bool connected = false;
};

// The command on the line and the projector's answer to it, which names it
// by its number on the line and its text.
struct OnTheLine
{
    Client *client = nullptr;
    QByteArray text;
    QByteArray answer;
    // How much of the answer came while its exchange ran.
    qsizetype fed = 0;
    bool ended = false;
};

// A line, its runner, queue and command port, made for one input: they cost
// little beside a run, and each run starts with one client and nothing queued.
class PortRun
{
public:
    PortRun()
    {
        m_line.onWrite = [this](QByteArrayView written) { onLine(written); };
        fuzzCheck(m_runner.open(QString::fromLatin1(LineSettings::kText9600), false), "the line opens");
        QObject::connect(&m_runner, &ExchangeRunner::exchanged, &m_runner,
                         [this](const Exchange &exchange) { onExchanged(exchange); });
        QObject::connect(&m_port, &CommandPort::said, &m_port, [this] { ++m_said; });
        m_timers = m_runner.findChildren<QTimer *>(Qt::FindDirectChildrenOnly);
        for (QTimer *timer : std::as_const(m_timers))
            QObject::connect(timer, &QTimer::timeout, timer, [this] { ++m_timeouts; });
        arrive();
    }

    void step(FuzzInput &input)
    {
        switch (Step(input.take() % kStepCount)) {
        case Step::Deliver: {
            Client *client = pick(input);
            deliver(client, input.takeBytes(input.take() % kLongestPiece).toByteArray());
            break;
        }
        case Step::DeliverCommand: {
            Client *client = pick(input);
            deliver(client, input.takeBytes(input.take() % kLongestPiece).toByteArray() + '\r');
            break;
        }
        case Step::DeliverLensStep: {
            Client *client = pick(input);
            deliver(client,
                    lensStep(commands::kLensButtons[input.take() % commands::kLensButtons.size()]) + '\r');
            break;
        }
        case Step::DeliverLongText: {
            Client *client = pick(input);
            const std::uint8_t length = input.take();
            deliverLongText(client, length, input.take());
            break;
        }
        case Step::Flood: {
            Client *client = pick(input);
            QByteArray pattern = input.takeBytes(1 + input.take() % kLongestPiece).toByteArray();
            if (pattern.isEmpty())
                pattern = lensStep(commands::kLensButtons.front()) + '\r';
            deliver(client, pattern.repeated(kFloodSize / pattern.size()));
            break;
        }
        case Step::Answer:
            if (m_onLine && !m_onLine->ended)
                answer(m_onLine->answer.size());
            break;
        case Step::AnswerPiece: {
            const qsizetype size = 1 + input.take() % kLongestAnswerPiece;
            if (m_onLine && !m_onLine->ended)
                answer(size);
            break;
        }
        case Step::AnswerLate:
            // After its exchange ended unanswered or cut short, and before the
            // next command goes out: later, no one could tell whose it is.
            if (m_onLine && m_onLine->ended)
                m_line.feed(m_onLine->answer.sliced(std::exchange(m_onLine->fed, m_onLine->answer.size())));
            break;
        case Step::LineNoise: {
            const QByteArray noise = input.takeBytes(input.take() % kLongestPiece).toByteArray();
            if (!m_onLine || m_onLine->ended)
                m_line.feed(noise);
            break;
        }
        case Step::EndTimer:
            endTimer(input.take());
            break;
        case Step::TurnEventLoop:
            turnEventLoop();
            break;
        case Step::ClientArrives:
            arrive();
            break;
        case Step::ClientCloses:
            if (Client *client = pick(input); client && client->connected) {
                client->socket->closeByPeer();
                leave(*client);
            }
            break;
        case Step::ClientResets:
            if (Client *client = pick(input); client && client->connected) {
                client->socket->resetByPeer();
                leave(*client);
            }
            break;
        }
        freezeTimers();
        check();
    }

private:
    // Always takes its byte, so that the input reads the same whatever the clients.
    Client *pick(FuzzInput &input)
    {
        const std::uint8_t choice = input.take();
        return m_clients.empty() ? nullptr : m_clients[choice % m_clients.size()].get();
    }

    void arrive()
    {
        if (m_clients.size() >= kMostClientsInRun)
            return;
        Client &client = *m_clients.emplace_back(std::make_unique<Client>());
        auto *socket = new ClientSocket(client.writes);
        socket->connectToHost(QStringLiteral("panel"), quint16(m_clients.size()));
        socket->accept();
        client.socket = socket;
        const auto connected = std::count_if(m_clients.begin(), m_clients.end(),
                                             [](const std::unique_ptr<Client> &c) { return c->connected; });
        m_port.adopt(socket);
        if (connected >= CommandPort::kMostClients) {
            fuzzCheck(socket->state() == QAbstractSocket::UnconnectedState,
                      "a client beyond the 16 connected is closed at once");
            ++m_closures;
            return;
        }
        fuzzCheck(socket->state() == QAbstractSocket::ConnectedState,
                  "a client is served while fewer than 16 are connected");
        client.connected = true;
    }

    // The queue drops everything a client that leaves has waiting, the
    // command the runner holds until the line is quiet included.
    void leave(Client &client)
    {
        client.connected = false;
        m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                       [&](const auto &waiting) { return waiting.first == &client; }),
                        m_waiting.end());
    }

    // What the port must make of a client's bytes: each text ended by CR a
    // command, queued behind those of every client; a lens step dropped while
    // two of the client's own are outstanding; the client closed for a text
    // beyond the bound or a command beyond kMostWaiting, and nothing read
    // after that. Returns why the client is closed, or null.
    const char *frame(Client &client, QByteArrayView bytes)
    {
        while (!bytes.isEmpty()) {
            const qsizetype end = bytes.indexOf('\r');
            const QByteArrayView part = end < 0 ? bytes : bytes.first(end);
            if (client.line.size() + part.size() > CommandPort::kLongestCommand)
                return "a client whose text passes 256 bytes without CR is closed";
            client.line += part;
            if (end < 0)
                return nullptr;
            bytes = bytes.sliced(end + 1);
            QByteArray text = std::exchange(client.line, {});
            if (commands::isLensStep(text) && client.outstanding >= 2)
                continue;
            if (client.outstanding >= CommandPort::kMostWaiting)
                return "a client with more than 32 commands waiting is closed";
            ++client.outstanding;
            m_waiting.emplace_back(&client, std::move(text));
        }
        return nullptr;
    }

    void deliver(Client *client, const QByteArray &bytes)
    {
        if (!client || !client->connected || bytes.isEmpty())
            return;
        // Framed first: the first command may go out while the port reads on.
        const char *const closedFor = frame(*client, bytes);
        // The fuzz build runs under AddressSanitizer, whose allocator counts the
        // bytes allocated and not yet freed.
        const std::size_t before = __sanitizer_get_current_allocated_bytes();
        client->socket->deliver(bytes);
        fuzzCheck(__sanitizer_get_current_allocated_bytes() <= before + kDeliverySlack,
                  "what a client sends takes no lasting memory beyond the port's bounds");
        if (!closedFor)
            return;
        fuzzCheck(client->socket->state() == QAbstractSocket::UnconnectedState, closedFor);
        ++m_closures;
        leave(*client);
    }

    void deliverLongText(Client *client, std::uint8_t length, std::uint8_t fill)
    {
        const qsizetype size = CommandPort::kLongestCommand - kLongTextReach + length % (2 * kLongTextReach);
        QByteArray text(size, fill == '\r' ? 'x' : char(fill));
        if (length & 0x80)
            text += '\r';
        deliver(client, text);
    }

    void answer(qsizetype size)
    {
        OnTheLine &onLine = *m_onLine;
        const QByteArray piece =
            onLine.answer.sliced(onLine.fed).first(std::min(size, onLine.answer.size() - onLine.fed));
        onLine.fed += piece.size();
        m_line.feed(piece);
    }

    void onLine(QByteArrayView written)
    {
        fuzzCheck(!m_onLine || m_onLine->ended, "one command at a time is on the line");
        if (m_waiting.empty() || written != m_waiting.front().second + '\r')
            unexpectedOnLine(written);
        auto [client, text] = std::move(m_waiting.front());
        m_waiting.pop_front();
        const QByteArray answer = '=' + QByteArray::number(++m_sent) + ' ' + text + '\r';
        m_onLine = OnTheLine{client, std::move(text), answer};
    }

    void unexpectedOnLine(QByteArrayView written) const
    {
        std::fprintf(stderr, "On the line: \"%s\"\n", written.toByteArray().toPercentEncoding().constData());
        const bool waits = std::any_of(m_waiting.begin(), m_waiting.end(),
                                       [&](const auto &waiting) { return written == waiting.second + '\r'; });
        const char *invariant =
            "the line carries only texts that a client ended with CR, at most 256 bytes each";
        if (waits)
            invariant = "commands go out in the order their clients ended them";
        else if (commands::isLensStep(written.chopped(1)))
            invariant = "no lens step goes out that its client sent while two of its own were outstanding";
        fuzzCheck(false, invariant);
    }

    void onExchanged(const Exchange &exchange)
    {
        fuzzCheck(m_onLine && !m_onLine->ended && exchange.step.text == m_onLine->text,
                  "each exchange is that of the command on the line");
        m_onLine->ended = true;
        Client &owner = *m_onLine->client;
        if (!owner.connected)
            return;
        --owner.outstanding;
        if (m_onLine->fed > 0)
            owner.replies.append(m_onLine->answer.first(m_onLine->fed));
    }

    void endTimer(std::uint8_t choice)
    {
        QList<QTimer *> active;
        std::copy_if(m_timers.begin(), m_timers.end(), std::back_inserter(active),
                     [](const QTimer *timer) { return timer->isActive(); });
        if (active.isEmpty())
            return;
        const int timeouts = m_timeouts;
        // Setting the interval of a running timer restarts its count.
        active[choice % active.size()]->setInterval(kDue);
        for (int turn = 0; turn < kTurnsForDueWork && m_timeouts == timeouts; ++turn)
            QCoreApplication::processEvents();
        fuzzCheck(m_timeouts > timeouts, "a due timer ends at the next turns of the event loop");
    }

    // Commands wait while the line is free and the runner waits for nothing.
    bool isStuck() const
    {
        return !m_waiting.empty() && (!m_onLine || m_onLine->ended) &&
               std::none_of(m_timers.begin(), m_timers.end(),
                            [](const QTimer *timer) { return timer->isActive(); });
    }

    void turnEventLoop()
    {
        QCoreApplication::processEvents();
        for (int turn = 1; turn < kTurnsForDueWork && isStuck(); ++turn)
            QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        fuzzCheck(!isStuck(), "a waiting command goes out once the line is free");
    }

    // The runner starts its timers at their real lengths; each ends only when
    // the input makes it due.
    void freezeTimers()
    {
        for (QTimer *timer : std::as_const(m_timers)) {
            if (timer->isActive() && timer->intervalAsDuration() != kNever)
                timer->setInterval(kNever);
        }
    }

    void check()
    {
        fuzzCheck(m_said == m_closures, "the port tells the log of each client it refuses or closes, once");
        for (const std::unique_ptr<Client> &client : m_clients) {
            fuzzCheck(client->writes.size() == client->replies.size() &&
                          std::equal(client->writes.begin() + client->checkedWrites, client->writes.end(),
                                     client->replies.begin() + client->checkedWrites),
                      "a client is written the replies to its own commands alone, each once, in their order");
            client->checkedWrites = client->writes.size();
            if (client->connected)
                fuzzCheck(client->socket && client->socket->state() == QAbstractSocket::ConnectedState,
                          "a client is closed only for an overlong text or too many commands waiting");
        }
    }

    // Declared first, so that the port's sockets go before the lists they write to.
    std::vector<std::unique_ptr<Client>> m_clients;
    ProjectorLine m_line;
    ExchangeRunner m_runner{m_line, QStringLiteral("fuzz")};
    ExchangeQueue m_queue{m_runner};
    CommandPort m_port{m_queue};
    QList<QTimer *> m_timers;
    int m_timeouts = 0;
    // The clients the port refused or closed, and what it told the log.
    int m_closures = 0;
    int m_said = 0;
    // The clients' commands the port queued, in the queue's order.
    std::deque<std::pair<Client *, QByteArray>> m_waiting;
    std::optional<OnTheLine> m_onLine;
    int m_sent = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The runner's timers, the queue's queued calls and deleteLater need the
    // application's event dispatcher; the application is never deleted, as
    // Qt's own globals may be gone by the time a static one would be.
    static int argc = 1;
    static char name[] = "fuzz_commandport";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    PortRun run;
    while (!input.atEnd())
        run.step(input);
    return 0;
}
