// Fuzzes the link engine on an in-memory line: sends, received batches and window ends in any order.
#include "fakeline.h"
#include "fuzzinput.h"
#include "linkengine.h"
#include "replyrouter.h"
#include "trafficdump.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSet>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

// A window is either due, and ends at the next turn of the event loop, or it
// never ends within a run. The input decides when the event loop turns, so a
// run depends on its input alone and never waits on real time.
constexpr std::chrono::milliseconds kDue = 0ms;
constexpr std::chrono::milliseconds kNever = 1h;
// A 0-ms timer fires on the first turn; the rest are a margin against the
// dispatcher's order of work, not a wait.
constexpr int kTurnsForDueWindows = 8;
constexpr qsizetype kLongestCommand = 32;
// A flood fills RxBuffer to within this many characters of its limit, either
// side: the limit is where a flood differs from any other batch, and filling
// only up to it keeps the runs fast.
constexpr int kFloodReach = 128;

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

class LinkRun
{
public:
    LinkRun()
    {
        m_line.open();
        m_engine.reset();
        m_engine.setWindows(kNever, kNever);
        m_engine.setReplyDecoder([this](const QByteArray &lastCommand, const QByteArray &dump, bool grown) {
            return m_router.decode(lastCommand, dump, grown);
        });
        rxDump();
    }

    void step(FuzzInput &input)
    {
        const QByteArray dumpBefore = rxDump();
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
        if (m_engine.rxBuffer().isEmpty())
            m_emptiedDumps.insert(dumpBefore);
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
            break;
        }
        case RareStep::LoseDevice:
            m_line.loseDevice();
            break;
        case RareStep::OpenLine:
            m_line.open();
            break;
        case RareStep::Flood: {
            const qsizetype room = LinkEngine::kRxBufferLimit - m_engine.rxBuffer().size();
            const qsizetype size = std::max<qsizetype>(0, room + input.take() - kFloodReach);
            receive(QByteArray(size, char(input.take())));
            break;
        }
        }
    }

    void receive(const QByteArray &batch)
    {
        m_line.feed(batch);
        if (batch.isEmpty())
            return;
        const QByteArray &dump = rxDump();
        fuzzCheck(m_engine.receivedLine() == dump, "after a batch the received line is the dump of RxBuffer");
        fuzzCheck(m_engine.awaitingReply() == 0, "a batch answers the command awaited");
        if (const auto status = ReplyRouter(m_engine.commandPrefix()).decode(m_engine.lastCommand(), dump))
            fuzzCheck(m_engine.statusLine() == *status,
                      "a batch decodes everything gathered since RxBuffer was emptied");
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
        for (int turn = 0; turn < kTurnsForDueWindows && hasDueWindow(); ++turn)
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

    // The dump of RxBuffer as it is now, made again only when RxBuffer changed.
    const QByteArray &rxDump()
    {
        if (m_rxDump.isEmpty() || m_engine.rxBuffer() != m_rxDumpSource) {
            m_rxDumpSource = m_engine.rxBuffer();
            m_rxDump = TrafficDump::of(m_rxDumpSource);
        }
        return m_rxDump;
    }

    void checkAlways()
    {
        fuzzCheck(m_engine.rxBuffer().size() <= LinkEngine::kRxBufferLimit,
                  "RxBuffer stays within its limit");
        fuzzCheck(m_engine.awaitingReply() <= 1, "AwaitingReply is 0 or 1");
        const QByteArray &received = m_engine.receivedLine();
        fuzzCheck(
            received.isEmpty() || received == LinkEngine::kNoReply || received == rxDump() ||
                m_emptiedDumps.contains(received),
            "the received line is empty, \" X X X X\", the dump of RxBuffer or the dump it had before it was "
            "emptied");
    }

    FakeLine m_line;
    LinkEngine m_engine{m_line};
    ReplyRouter m_router{m_engine.commandPrefix()};
    QByteArray m_rxDumpSource;
    QByteArray m_rxDump;
    // The dumps RxBuffer had before each step that left it empty.
    QSet<QByteArray> m_emptiedDumps;
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
