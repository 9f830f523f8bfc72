// Fuzzes the network line on an in-memory socket: connects, data, closes, resets and timer ends in any order.
#include "fuzzinput.h"
#include "linesettings.h"
#include "memorysocket.h"
#include "networkline.h"
#include "telnetcodec.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QLoggingCategory>
#include <QTimer>

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <memory>

namespace {

constexpr qsizetype kLongestWrite = 64;
// A large write fills what the line holds to within this many bytes of
// kMaxHeldBytes, either side: the limit is where a write may be refused.
constexpr qsizetype kLargeWriteReach = 128;
// A peer's flood: far more than any state the line keeps of the stream.
constexpr qsizetype kFloodSize = 16 * 1024;
// What a delivery may leave allocated once its data is read: the buffer the
// socket sets up at its first read, the line's error and hint texts, a started
// timer, the settings commands awaited, the telnet state. A line that kept any
// large part of a flood would pass it.
constexpr std::size_t kDeliverySlack = 8192;
// A delivery may settle the COM-PORT-OPTION offer, which can refuse the
// settings, then release what was held (the line says it carries bytes) and
// hand out data: no step has cause for more.
constexpr int kMostNotificationsPerStep = 3;

constexpr std::array kEndpoints{"socket://qvx-server:4002", "rfc2217://qvx-server:4001"};
constexpr std::array kSettingsTexts{LineSettings::kText9600, LineSettings::kText115200, "fast"};

enum class Step : std::uint8_t {
    Open,
    Close,
    Write,
    SetSettings,
    Accept,
    Deliver,
    PeerAgrees,
    PeerEnds,
    Read,
    EndTimer,
    TurnEventLoop,
    Rare,
};
constexpr std::uint8_t kStepCount = std::uint8_t(Step::Rare) + 1;

enum class PeerEnd : std::uint8_t { Close, Reset, Refuse, TimeOut };
constexpr std::uint8_t kPeerEndCount = std::uint8_t(PeerEnd::TimeOut) + 1;

// The costly steps, which together take the share of one step.
enum class RareStep : std::uint8_t { LargeWrite, PeerFlood };
constexpr std::uint8_t kRareStepCount = std::uint8_t(RareStep::PeerFlood) + 1;

QByteArray telnetCommand(std::uint8_t verb, std::uint8_t option)
{
    return QByteArray(1, char(Telnet::kIac)) + char(verb) + char(option);
}

// A server's answer to one COM-PORT-OPTION command: the code plus the server
// offset and the value, the speed in four bytes, the others in one.
QByteArray answerTo(const ComPortValue &command, std::uint32_t value)
{
    const int width = command.command == ComPort2217::kSetBaudRate ? 4 : 1;
    QByteArray body(1, char(command.command + ComPort2217::kServerOffset));
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        body += char((value >> shift) & 0xff);
    return QByteArray(1, char(Telnet::kIac)) + char(Telnet::kSb) + char(Telnet::kComPortOption) +
           TelnetCodec::encode(body) + char(Telnet::kIac) + char(Telnet::kSe);
}

bool endsConnection(SerialLine::Event kind)
{
    return kind == SerialLine::Event::DeviceLost || kind == SerialLine::Event::OpenFailed;
}

class NetworkRun
{
public:
    explicit NetworkRun(bool eagerReader)
        : m_eagerReader(eagerReader)
    {
        auto socket = std::make_unique<MemorySocket>();
        m_socket = socket.get();
        m_line = std::make_unique<NetworkLine>([this](int) { return QString::fromLatin1(m_endpoint); },
                                               std::move(socket));
        m_timers = m_line->findChildren<QTimer *>();
        for (QTimer *timer : m_timers)
            timer->setInterval(kNever);
        QObject::connect(m_line.get(), &SerialLine::notified, m_line.get(),
                         [this](SerialLine::Event kind) { onNotified(kind); });
    }

    void step(FuzzInput &input)
    {
        m_stepNotifications = 0;
        switch (Step(input.take() % kStepCount)) {
        case Step::Open:
            open(input.take() % kEndpoints.size());
            break;
        case Step::Close:
            m_line->close();
            m_quiet = true;
            break;
        case Step::Write:
            write(input.takeBytes(input.take() % kLongestWrite).toByteArray());
            break;
        case Step::SetSettings:
            m_line->setSettings(QString::fromLatin1(kSettingsTexts[input.take() % kSettingsTexts.size()]));
            break;
        case Step::Accept:
            if (m_socket->state() == QAbstractSocket::ConnectingState) {
                m_accepted = true;
                m_socket->accept();
            }
            break;
        case Step::Deliver:
            deliver(input.takeBytes(input.take()).toByteArray());
            break;
        case Step::PeerAgrees:
            peerAgrees(input.take());
            break;
        case Step::PeerEnds:
            peerEnds(PeerEnd(input.take() % kPeerEndCount));
            break;
        case Step::Read:
            read();
            break;
        case Step::EndTimer: {
            const std::uint8_t choice = input.take();
            if (!m_timers.isEmpty())
                endTimer(m_timers[choice % m_timers.size()]);
            break;
        }
        case Step::TurnEventLoop:
            turnEventLoop();
            break;
        case Step::Rare:
            rareStep(input);
            break;
        }
        takeSent();
        checkAlways();
    }

    // Lets a connection that is up settle and checks that it sent all it took
    // and handed out all it received, then closes the line for good.
    void finish()
    {
        if (isUp() && !isSettled())
            endTimer(answerTimer());
        takeSent();
        if (isUp())
            fuzzCheck(m_unsent.isEmpty(), "a connection that is up sends everything written to the line");
        read();
        m_line->close();
        m_quiet = true;
        QCoreApplication::processEvents();
    }

private:
    bool isTelnet() const { return m_endpoint == kEndpoints[1]; }
    // The line and the socket both carry the connection.
    bool isUp() const
    {
        return m_line->isConnected() && m_socket->state() == QAbstractSocket::ConnectedState;
    }
    // RFC 2217 holds written data until the server has answered the
    // COM-PORT-OPTION offer, or failed to in time; either ends in confirmed
    // settings or a refusal.
    bool isSettled() const { return !isTelnet() || m_line->settingsConfirmed() || m_refusalSeen; }

    QTimer *answerTimer() const
    {
        const auto found = std::find_if(m_timers.begin(), m_timers.end(), [](const QTimer *timer) {
            return timer->objectName() == QLatin1String("answerTimer");
        });
        return found == m_timers.end() ? nullptr : *found;
    }

    void open(std::size_t endpoint)
    {
        const bool wasOpen = m_line->isOpen();
        const char *const previous = m_endpoint;
        m_endpoint = kEndpoints[endpoint];
        const bool opened = m_line->open();
        if (wasOpen) {
            fuzzCheck(!opened, "an open line cannot be opened again");
            m_endpoint = previous;
            return;
        }
        fuzzCheck(opened, "a closed line opens on a network endpoint");
        fuzzCheck(m_socket->state() == QAbstractSocket::ConnectingState,
                  "opening the line starts connecting to the endpoint");
        m_quiet = false;
        m_ended = false;
        m_accepted = false;
        m_refusalSeen = false;
        m_unsent.clear();
        m_unread.clear();
        m_serverView.reset();
        m_clientView.reset();
    }

    void write(const QByteArray &text)
    {
        const bool wasOpen = m_line->isOpen();
        if (m_line->write(text)) {
            fuzzCheck(wasOpen, "a closed line takes no write");
            m_unsent += text;
            return;
        }
        if (wasOpen && m_socket->state() != QAbstractSocket::UnconnectedState)
            fuzzCheck(m_unsent.size() + text.size() > NetworkLine::kMaxHeldBytes,
                      "a line whose connection is up or under way refuses a write only beyond kMaxHeldBytes");
    }

    void deliver(const QByteArray &bytes)
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState || bytes.isEmpty())
            return;
        // The fuzz build runs under AddressSanitizer, whose allocator counts the
        // bytes allocated and not yet freed.
        const std::size_t before = __sanitizer_get_current_allocated_bytes();
        m_unread += isTelnet() ? m_clientView.decode(bytes).data : bytes;
        m_socket->deliver(bytes);
        takeSent();
        // Data waiting to be read takes what room it needs; a reader that reads
        // on every notice leaves none waiting.
        if (m_eagerReader) {
            const std::size_t after = __sanitizer_get_current_allocated_bytes();
            fuzzCheck(after <= before + kDeliverySlack,
                      "what the peer sends takes no lasting memory from a line whose reader keeps up");
        }
    }

    // The server agrees to COM-PORT-OPTION and BINARY, or refuses the option,
    // and answers the settings the line runs at, with the speed it was asked
    // for or another.
    void peerAgrees(std::uint8_t choice)
    {
        const bool agrees = choice & 1;
        const bool answers = choice & 2;
        const bool otherSpeed = choice & 4;
        QByteArray reply = telnetCommand(agrees ? Telnet::kDo : Telnet::kDont, Telnet::kComPortOption) +
                           telnetCommand(Telnet::kWill, Telnet::kBinary) +
                           telnetCommand(Telnet::kDo, Telnet::kBinary);
        if (const auto settings = LineSettings::parse(m_line->settings()); answers && settings) {
            for (const ComPortValue &command : TelnetCodec::commandsFor(*settings)) {
                const bool changed = otherSpeed && command.command == ComPort2217::kSetBaudRate;
                reply += answerTo(command, changed ? command.value / 2 : command.value);
            }
        }
        deliver(reply);
    }

    void peerEnds(PeerEnd end)
    {
        switch (end) {
        case PeerEnd::Close:
            m_socket->closeByPeer();
            break;
        case PeerEnd::Reset:
            m_socket->resetByPeer();
            break;
        case PeerEnd::Refuse:
            m_socket->refuse();
            break;
        case PeerEnd::TimeOut:
            m_socket->timeOut();
            break;
        }
    }

    void read()
    {
        const QByteArray got = m_line->readAll();
        fuzzCheck(got == m_unread, "the line hands out exactly the data the peer sent on the connection");
        m_unread.clear();
    }

    void endTimer(QTimer *timer)
    {
        if (!timer || !timer->isActive())
            return;
        // Setting the interval of a running timer restarts its count.
        timer->setInterval(kDue);
        for (int turn = 0; turn < kTurnsForDueWork && timer->isActive(); ++turn)
            QCoreApplication::processEvents();
        fuzzCheck(!timer->isActive(), "a due timer ends at the next turns of the event loop");
        timer->setInterval(kNever);
    }

    // The line lets go of a connection that failed once its socket's signal has
    // returned: at the next turn of the event loop.
    bool hasDueDrop() const
    {
        return m_line->isOpen() && m_socket->state() == QAbstractSocket::UnconnectedState;
    }

    void turnEventLoop()
    {
        QCoreApplication::processEvents();
        for (int turn = 1; turn < kTurnsForDueWork && hasDueDrop(); ++turn)
            QCoreApplication::processEvents();
        fuzzCheck(!hasDueDrop(),
                  "a connection that ended closes the line at the next turn of the event loop");
    }

    void rareStep(FuzzInput &input)
    {
        switch (RareStep(input.take() % kRareStepCount)) {
        case RareStep::LargeWrite: {
            const qsizetype size = std::max<qsizetype>(0, NetworkLine::kMaxHeldBytes - m_unsent.size() +
                                                              input.take() - kLargeWriteReach);
            write(QByteArray(size, char(input.take())));
            break;
        }
        case RareStep::PeerFlood: {
            QByteArray pattern = input.takeBytes(1 + input.take() % kLongestWrite).toByteArray();
            if (pattern.isEmpty())
                pattern = "x";
            deliver(pattern.repeated(kFloodSize / pattern.size()));
            break;
        }
        }
    }

    // Takes what the line put on the socket and checks it against what was
    // written to the line: for RFC 2217 the data read out of the telnet stream
    // as a server reads it, so a byte 255 that was not doubled shows.
    void takeSent()
    {
        const QByteArray sent = m_socket->takeWritten();
        const QByteArray data = isTelnet() ? m_serverView.decode(sent).data : sent;
        fuzzCheck(m_unsent.startsWith(data),
                  "the line sends the data written to it, in order, and nothing else");
        m_unsent.remove(0, data.size());
    }

    void checkAlways()
    {
        fuzzCheck(m_stepNotifications <= kMostNotificationsPerStep,
                  "no step sets off a storm of notifications");
        fuzzCheck(m_unsent.size() <= NetworkLine::kMaxHeldBytes,
                  "the line never holds more than kMaxHeldBytes");
        if (isUp() && isSettled())
            fuzzCheck(m_unsent.isEmpty(), "a connection that is up and settled sends every write at once");
        switch (m_socket->state()) {
        case QAbstractSocket::ConnectingState:
            fuzzCheck(m_line->isConnecting(), "the line is connecting while its socket is");
            break;
        case QAbstractSocket::ConnectedState:
            fuzzCheck(m_line->isConnected(), "the line is connected while its socket is");
            break;
        default:
            break;
        }
        if (!m_line->isOpen())
            fuzzCheck(m_socket->state() == QAbstractSocket::UnconnectedState,
                      "a closed line keeps no connection");
    }

    void onNotified(SerialLine::Event kind)
    {
        ++m_stepNotifications;
        if (endsConnection(kind))
            fuzzCheck(!m_ended, "DeviceLost or OpenFailed comes at most once per open()");
        fuzzCheck(!m_quiet, "a closed line notifies nothing until it is opened again");
        switch (kind) {
        case SerialLine::Event::Received:
            fuzzCheck(m_line->isConnected(), "data is notified only while connected");
            if (m_eagerReader) {
                fuzzCheck(!m_unread.isEmpty(), "a notice of data comes with data to read");
                read();
            }
            break;
        case SerialLine::Event::SettingsRefused:
            fuzzCheck(isTelnet() && m_line->isConnected(), "only an RFC 2217 connection refuses settings");
            m_refusalSeen = true;
            break;
        case SerialLine::Event::Opened:
            fuzzCheck(m_line->isReady(), "a line that says it opened carries bytes");
            break;
        case SerialLine::Event::SettingsApplied:
            fuzzCheck(isTelnet() && m_line->settingsConfirmed(),
                      "settings applied late are confirmed settings of an RFC 2217 connection");
            break;
        case SerialLine::Event::DeviceLost:
        case SerialLine::Event::OpenFailed:
            fuzzCheck(!m_line->isOpen(), "a lost or failed connection leaves the line closed");
            fuzzCheck((kind == SerialLine::Event::DeviceLost) == m_accepted,
                      "a connection that came up is lost, one that never did fails to open");
            m_ended = true;
            m_quiet = true;
            break;
        }
    }

    // Reads on every notice of data, as the link engine does, or only when the
    // input says so.
    const bool m_eagerReader;
    const char *m_endpoint = kEndpoints[0];
    MemorySocket *m_socket = nullptr;
    std::unique_ptr<NetworkLine> m_line;
    QList<QTimer *> m_timers;

    // Since the last close() or the end of the connection, until the next open().
    bool m_quiet = true;
    bool m_ended = false;
    bool m_accepted = false;
    bool m_refusalSeen = false;
    int m_stepNotifications = 0;
    // Written to the line and not yet seen on the socket.
    QByteArray m_unsent;
    // Sent by the peer and not yet read from the line.
    QByteArray m_unread;
    // The telnet stream as the server reads the line's sending, and as the line
    // reads the server's.
    TelnetCodec m_serverView;
    TelnetCodec m_clientView;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The line's timers and queued calls need the application's event
    // dispatcher. The application is never deleted, as Qt's own globals may be
    // gone by the time a static one would be; QCoreApplication::instance()
    // keeps it reachable.
    static int argc = 1;
    static char name[] = "fuzz_network";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    // A write on a connection that broke a moment ago finds the socket closed,
    // and Qt warns of it on every such write: thousands of lines a second here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
    return 0;
}

// The first byte's bit 0 makes the reader read on every notice of data; the
// rest is steps.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    NetworkRun run(input.take() & 1);
    while (!input.atEnd())
        run.step(input);
    run.finish();
    return 0;
}
