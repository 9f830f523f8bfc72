// Fuzzes the link engine on an in-memory line: sends, received batches and window ends in any order.
#include "fakeline.h"
#include "fuzzinput.h"
#include "linkengine.h"
#include "replyrouter.h"
#include "trafficdump.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

namespace {

constexpr qsizetype kLongestCommand = 32;
// A flood fills RxBuffer to within this many characters of its limit, either
// side: the limit is where a flood differs from any other batch, and filling
// only up to it keeps the runs fast.
constexpr int kFloodReach = 128;
constexpr std::uint8_t kFloodOdds = 4;

enum class Step : std::uint8_t {
    SendQuery,
    SendCommand,
    SendLastCommand,
    Receive,
    SetWindows,
    TurnEventLoop,
    Rare,
};
constexpr std::uint8_t kStepCount = std::uint8_t(Step::Rare) + 1;

// Steps the panel takes seldom, and the costly flood: together they take the
// share of one step, so that runs stay fast and mostly send and receive.
enum class RareStep : std::uint8_t {
    EndHold,
    Reset,
    ReceivePath,
    LoseDevice,
    OpenLine,
    Flood,
};
constexpr std::uint8_t kRareStepCount = std::uint8_t(RareStep::Flood) + 1;

bool isReplyWindowDue(const LinkEngine &engine)
{
    return engine.isReplyWindowOpen() && engine.replyWindowInterval() == kDue;
}

bool isDisplayWindowDue(const LinkEngine &engine)
{
    return engine.isDisplayWindowOpen() && engine.displayWindowInterval() == kDue;
}

// RxBuffer and its dump as they should be, made from the batches the harness
// feeds: the dump from a table of each character's token, which the dump itself
// made once. A batch then costs the harness a look-up per character, not a dump
// of everything gathered.
class ExpectedRx
{
public:
    ExpectedRx()
    {
        for (int c = 0; c < 256; ++c) {
            const QByteArray token = TrafficDump::of(QByteArray(1, char(c))).sliced(1);
            fuzzCheck(token.size() <= kWidestToken, "no token is wider than \"ACK \"");
            Token &entry = m_tokens[std::size_t(c)];
            std::copy(token.begin(), token.end(), entry.text.begin());
            entry.size = token.size();
        }
        // All the room they can need, kept from run to run: AddressSanitizer
        // maps and unmaps every array this large anew.
        m_rx.reserve(LinkEngine::kRxBufferLimit);
        m_dump.reserve(kLongestDump);
        m_emptiedDump.reserve(kLongestDump);
        restart();
    }

    const QByteArray &rx() const { return m_rx; }
    const QByteArray &dump() const { return m_dump; }
    // The dump RxBuffer had when it was last emptied; empty before.
    const QByteArray &emptiedDump() const { return m_emptiedDump; }

    // RxBuffer keeps a batch up to its limit. The loops are the harness's own,
    // with nothing for coverage to learn from; a flood would run them 32,767
    // times, so a batch of one repeated character is copied in doublings.
    __attribute__((noinline, no_sanitize("coverage"))) void add(QByteArrayView batch)
    {
        const QByteArrayView kept =
            batch.first(std::min(batch.size(), LinkEngine::kRxBufferLimit - m_rx.size()));
        if (kept.isEmpty())
            return;
        m_rx.append(kept);
        const qsizetype start = m_dump.size();
        m_dump.resize(start + kWidestToken * kept.size());
        char *const tokens = m_dump.data() + start;
        qsizetype written = 0;
        if (std::memcmp(kept.data(), kept.data() + 1, std::size_t(kept.size() - 1)) == 0) {
            const Token &token = m_tokens[static_cast<unsigned char>(kept.front())];
            const qsizetype total = token.size * kept.size();
            std::memcpy(tokens, token.text.data(), std::size_t(token.size));
            for (written = token.size; written < total; written *= 2)
                std::memcpy(tokens + written, tokens, std::size_t(std::min(written, total - written)));
            written = total;
        } else {
            for (const char c : kept) {
                const Token &token = m_tokens[static_cast<unsigned char>(c)];
                std::memcpy(tokens + written, token.text.data(), kWidestToken);
                written += token.size;
            }
        }
        m_dump.truncate(start + written);
    }

    void empty()
    {
        std::swap(m_dump, m_emptiedDump);
        m_dump.truncate(0);
        m_dump.append(' ');
        m_rx.truncate(0);
    }

    void restart()
    {
        empty();
        m_emptiedDump.truncate(0);
    }

private:
    static constexpr qsizetype kWidestToken = 4;
    static constexpr qsizetype kLongestDump = 1 + kWidestToken * LinkEngine::kRxBufferLimit;

    struct Token
    {
        std::array<char, kWidestToken> text{};
        qsizetype size = 0;
    };

    std::array<Token, 256> m_tokens;
    QByteArray m_rx;
    QByteArray m_dump;
    QByteArray m_emptiedDump;
};

// The line, the engine and what RxBuffer should hold, made once for the
// process and brought back to the state of start-up after every run. Made anew
// for each input they cost more than most runs: the engine's buffers take
// 160 KiB from the start, which AddressSanitizer maps and unmaps every time.
// Each run also frees what it allocated, so that libFuzzer sees no growth to
// run again in search of a leak.
class Link
{
public:
    static Link &instance()
    {
        // Never deleted, as the application is not: the engine's timers must
        // not outlive the event dispatcher at exit.
        static Link *const link = new Link;
        return *link;
    }

    void restart()
    {
        line.written.clear();
        if (!line.isOpen())
            line.open();
        if (!isAsStarted()) {
            // The end of a hold closes the reply window and empties RxBuffer
            // and two of the lines; the display window, made due, empties the
            // status line and closes.
            engine.endHold();
            engine.setWindows(kNever, kDue);
            for (int turn = 0; turn < kTurnsForDueWork && engine.isDisplayWindowOpen(); ++turn)
                QCoreApplication::processEvents();
            engine.setLastCommand({});
        }
        // Also when all looks as at start-up: the decoder must read the next
        // batch from its start.
        engine.reset();
        engine.setWindows(kNever, kNever);
        expected.restart();
        fuzzCheck(isAsStarted(), "between runs the link is back as it starts up");
    }

    FakeLine line;
    LinkEngine engine{line};
    ExpectedRx expected;
    // The batch of a flood, filled anew in the room it keeps.
    QByteArray flood;

private:
    Link()
    {
        flood.reserve(LinkEngine::kRxBufferLimit + kFloodReach);
        restart();
    }

    // What a new engine on an open line is, as far as a run can tell.
    bool isAsStarted() const
    {
        return engine.rxBuffer().isEmpty() && engine.awaitingReply() == 0 && engine.lastCommand().isEmpty() &&
               engine.commandPrefix().isEmpty() && engine.sentLine().isEmpty() &&
               engine.receivedLine().isEmpty() && engine.statusLine().isEmpty() &&
               !engine.isReplyWindowOpen() && !engine.isDisplayWindowOpen() && line.isOpen() &&
               line.written.isEmpty();
    }
};

class LinkRun
{
public:
    LinkRun()
    {
        m_engine.setReplyDecoder([this](const QByteArray &lastCommand, const QByteArray &dump, bool grown) {
            return m_router.decode(lastCommand, dump, grown);
        });
    }
    ~LinkRun()
    {
        m_engine.setReplyDecoder({});
        m_link.restart();
    }
    LinkRun(const LinkRun &) = delete;
    LinkRun &operator=(const LinkRun &) = delete;

    void step(FuzzInput &input)
    {
        switch (Step(input.take() % kStepCount)) {
        case Step::SendQuery:
            m_engine.sendCommand(decode::kRoutes[input.take() % decode::kRoutes.size()].command);
            checkSend();
            break;
        case Step::SendCommand:
            m_engine.sendCommand(input.takeBytes(input.take() % kLongestCommand));
            checkSend();
            break;
        case Step::SendLastCommand:
            m_engine.setLastCommand(input.takeBytes(input.take() % kLongestCommand).toByteArray());
            m_engine.hyouji(m_engine.lastCommand(), LinkEngine::kSend);
            checkSend();
            break;
        case Step::Receive:
            receive(input.takeBytes(input.take()).toByteArray());
            break;
        case Step::SetWindows: {
            const std::uint8_t due = input.take();
            m_engine.setWindows(due & 1 ? kDue : kNever, due & 2 ? kDue : kNever);
            break;
        }
        case Step::TurnEventLoop:
            turnEventLoop();
            break;
        case Step::Rare:
            rareStep(input);
            break;
        }
        followEmptying();
        checkAlways();
    }

private:
    void rareStep(FuzzInput &input)
    {
        switch (RareStep(input.take() % kRareStepCount)) {
        case RareStep::EndHold:
            m_engine.endHold();
            fuzzCheck(m_engine.rxBuffer().isEmpty() && m_engine.sentLine().isEmpty() &&
                          m_engine.receivedLine().isEmpty() && !m_engine.isReplyWindowOpen(),
                      "the end of a hold empties RxBuffer and the traffic lines, unmarked");
            // Back to windows that end only when the input says so.
            m_engine.setWindows(kNever, kNever);
            break;
        case RareStep::Reset:
            m_engine.reset();
            break;
        case RareStep::ReceivePath: {
            // Every mode but the send mode takes the receive path.
            const std::uint8_t mode = input.take();
            m_engine.hyouji(m_engine.rxBuffer(), mode == LinkEngine::kSend ? LinkEngine::kReceive : mode);
            m_decodedSinceEmptied = true;
            break;
        }
        case RareStep::LoseDevice:
            m_line.loseDevice();
            break;
        case RareStep::OpenLine:
            m_line.open();
            break;
        case RareStep::Flood: {
            // A flood costs as much as dozens of other runs: one rare step in
            // kFloodOdds floods, so that runs stay quick.
            if (input.take() % kFloodOdds != 0)
                break;
            const qsizetype room = LinkEngine::kRxBufferLimit - m_engine.rxBuffer().size();
            const qsizetype size = std::max<qsizetype>(0, room + input.take() - kFloodReach);
            m_link.flood.fill(char(input.take()), size);
            receive(m_link.flood);
            break;
        }
        }
    }

    void receive(const QByteArray &batch)
    {
        m_line.feed(batch);
        if (batch.isEmpty())
            return;
        m_expected.add(batch);
        fuzzCheck(m_engine.rxBuffer() == m_expected.rx(),
                  "RxBuffer holds what arrived since it was emptied, up to its limit");
        const QByteArray &dump = m_expected.dump();
        fuzzCheck(m_engine.receivedLine() == dump, "after a batch the received line is the dump of RxBuffer");
        fuzzCheck(m_engine.awaitingReply() == 0, "a batch answers the command awaited");
        // The first decode since RxBuffer was emptied reads the dump from its
        // start, as this check does; only one that read on can differ.
        if (std::exchange(m_decodedSinceEmptied, true)) {
            if (const auto status =
                    ReplyRouter(m_engine.commandPrefix()).decode(m_engine.lastCommand(), dump))
                fuzzCheck(m_engine.statusLine() == *status,
                          "a batch decodes everything gathered since RxBuffer was emptied");
        }
    }

    void checkSend()
    {
        fuzzCheck(m_engine.awaitingReply() == 1, "a send awaits a reply");
        fuzzCheck(m_engine.sentLine() == TrafficDump::of(m_engine.lastCommand()),
                  "the sent line is the dump of LastCommand");
        fuzzCheck(m_engine.isReplyWindowOpen() && m_engine.isDisplayWindowOpen(),
                  "a send opens both windows");
        if (m_line.isOpen())
            fuzzCheck(m_line.written.last() == m_engine.lastCommand(), "an open line carries LastCommand");
    }

    void turnEventLoop()
    {
        const bool replyWindowEnds = isReplyWindowDue(m_engine);
        const bool displayWindowEnds = isDisplayWindowDue(m_engine);
        for (int turn = 0; turn < kTurnsForDueWork && hasDueWindow(); ++turn)
            QCoreApplication::processEvents();
        fuzzCheck(!hasDueWindow(), "a due window ends at the next turns of the event loop");
        if (replyWindowEnds) {
            fuzzCheck(m_engine.rxBuffer().isEmpty(), "the reply window's end empties RxBuffer");
            fuzzCheck(m_engine.awaitingReply() == 0, "the reply window's end stops awaiting a reply");
        }
        if (displayWindowEnds) {
            fuzzCheck(m_engine.sentLine().isEmpty() && m_engine.statusLine().isEmpty(),
                      "the display window's end empties the sent and status lines");
        }
    }

    bool hasDueWindow() { return isReplyWindowDue(m_engine) || isDisplayWindowDue(m_engine); }

    // Only a batch adds to RxBuffer; any other step leaves it as it was or
    // empties it, and the received line may then keep the dump it had.
    void followEmptying()
    {
        if (m_engine.rxBuffer().size() == m_expected.rx().size())
            return;
        fuzzCheck(m_engine.rxBuffer().isEmpty(), "only a batch adds to RxBuffer");
        m_expected.empty();
        m_decodedSinceEmptied = false;
    }

    void checkAlways()
    {
        fuzzCheck(m_engine.rxBuffer().size() <= LinkEngine::kRxBufferLimit,
                  "RxBuffer stays within its limit");
        fuzzCheck(m_engine.awaitingReply() <= 1, "AwaitingReply is 0 or 1");
        const QByteArray &received = m_engine.receivedLine();
        fuzzCheck(
            received.isEmpty() || received == LinkEngine::kNoReply || received == m_expected.dump() ||
                received == m_expected.emptiedDump(),
            "the received line is empty, \" X X X X\", the dump of RxBuffer or the dump it had when it was "
            "last emptied");
    }

    Link &m_link = Link::instance();
    FakeLine &m_line = m_link.line;
    LinkEngine &m_engine = m_link.engine;
    ExpectedRx &m_expected = m_link.expected;
    ReplyRouter m_router{m_engine.commandPrefix()};
    // Whether the engine decoded RxBuffer's dump since it was last emptied, so
    // that its next decode reads on.
    bool m_decodedSinceEmptied = false;
};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The windows' timers need the application's event dispatcher. The
    // application is never deleted, as Qt's own globals may be gone by the time
    // a static one would be; QCoreApplication::instance() keeps it reachable.
    static int argc = 1;
    static char name[] = "fuzz_link";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    LinkRun run;
    while (!input.atEnd())
        run.step(input);
    return 0;
}
