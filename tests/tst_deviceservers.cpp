// The network line and the whole panel against device servers that misbehave, each scripted here in one way.
#include "anyline.h"
#include "comportagreement.h"
#include "deviceserver.h"
#include "networkline.h"
#include "panelparts.h"
#include "panelwindow.h"
#include "processusage.h"
#include "telnetcodec.h"
#include "warningcatcher.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

using namespace std::chrono_literals;
using namespace deviceserver;
using usage::memoryInUse;
using usage::processCpuTime;

namespace {

// What PJ-Status (Command44) sends, and the projector's answer that decodes to " Normal".
constexpr QByteArrayView kCommand = "TABN   1\r";
constexpr QByteArrayView kReply = "0000\r";

// A server keeps at most this much in its own write buffer, so that what it
// sends is paced by what the other end reads.
constexpr qint64 kPumpWindow = 64 * 1024;

constexpr qint64 kMiB = 1024 * 1024;

qint64 milliseconds(std::chrono::nanoseconds span)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(span).count();
}

// Writes what the source gives, a chunk at a time, whenever the peer's own
// write buffer has room: as fast as the other end reads. An empty chunk ends it.
void pump(QTcpSocket *peer, std::function<QByteArray()> source)
{
    auto *context = new QObject(peer);
    const auto refill = [peer, context, source = std::move(source)] {
        while (peer->state() == QAbstractSocket::ConnectedState && peer->bytesToWrite() < kPumpWindow) {
            const QByteArray chunk = source();
            if (chunk.isEmpty() || peer->write(chunk) < 0) {
                context->deleteLater();
                return;
            }
        }
    };
    QObject::connect(peer, &QTcpSocket::bytesWritten, context, refill);
    refill();
}

// The most memory in use seen while it lives, looked at every 20 ms.
class MemoryPeak
{
public:
    MemoryPeak()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { look(); });
        m_timer.start();
    }
    qint64 peak()
    {
        look();
        return m_peak;
    }

private:
    void look() { m_peak = std::max(m_peak, memoryInUse()); }

    QTimer m_timer;
    qint64 m_peak = memoryInUse();
};

// A device server played by the test on 127.0.0.1. It serves one connection at
// a time, its peer: the newest, or with takeOneAtATime() the next only some time
// after the one served has gone. It keeps what the peer sent, and as a telnet
// server it may agree to COM-PORT-OPTION and then answer every SET-BAUDRATE with
// the speed asked for. What else it does is the test's: onTaken runs for each
// connection taken, onHeard whenever the peer sent bytes.
class ScriptedServer
{
public:
    using Hook = std::function<void(QTcpSocket *peer)>;

    ScriptedServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_context, [this] { onPending(); });
    }
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    void stopListening() { m_server.close(); }
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &scheme) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port());
    }

    void agreeAfter(std::chrono::milliseconds delay) { m_agreeAfter = delay; }
    void takeOneAtATime(std::chrono::milliseconds poll) { m_poll = poll; }

    QTcpSocket *peer() const { return m_peer; }
    const QByteArray &heard() const { return m_heard; }
    int taken() const { return m_taken; }
    const QList<quint32> &speedsAsked() const { return m_speedsAsked; }

    // Ends the connection served with a reset rather than an orderly close.
    void resetPeer()
    {
        const linger abortive{1, 0};
        ::setsockopt(int(m_peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        m_peer->abort();
    }

    Hook onTaken;
    Hook onHeard;

private:
    void onPending()
    {
        if (!m_poll) {
            while (m_server.hasPendingConnections())
                take(m_server.nextPendingConnection());
        } else if (!m_peer && !m_polling) {
            take(m_server.nextPendingConnection());
        }
    }

    void take(QTcpSocket *peer)
    {
        m_peer = peer;
        m_heard.clear();
        m_answeredUpTo = 0;
        ++m_taken;
        QObject::connect(peer, &QTcpSocket::readyRead, &m_context, [this, peer] { onReadyRead(peer); });
        QObject::connect(peer, &QTcpSocket::disconnected, &m_context, [this, peer] { onGone(peer); });
        if (m_agreeAfter) {
            QTimer::singleShot(*m_agreeAfter, peer, [peer] {
                if (peer->state() == QAbstractSocket::ConnectedState)
                    peer->write(bytes({Telnet::kIac, Telnet::kDo, Telnet::kComPortOption}));
            });
        }
        if (onTaken)
            onTaken(peer);
    }

    void onGone(QTcpSocket *peer)
    {
        if (peer != m_peer || !m_poll)
            return;
        m_peer = nullptr;
        m_polling = true;
        QTimer::singleShot(*m_poll, &m_context, [this] {
            m_polling = false;
            if (m_server.hasPendingConnections())
                take(m_server.nextPendingConnection());
        });
    }

    void onReadyRead(QTcpSocket *peer)
    {
        if (peer != m_peer)
            return;
        m_heard += peer->readAll();
        if (m_agreeAfter)
            answerSettings();
        if (onHeard)
            onHeard(peer);
    }

    void answerSettings()
    {
        using namespace Telnet;
        const QByteArray setSpeed = bytes({kIac, kSb, kComPortOption, ComPort2217::kSetBaudRate});
        constexpr qsizetype kSpeedBytes = 4;
        for (auto at = m_heard.indexOf(setSpeed, m_answeredUpTo);
             at >= 0 && at + setSpeed.size() + kSpeedBytes <= m_heard.size();
             at = m_heard.indexOf(setSpeed, m_answeredUpTo)) {
            m_answeredUpTo = at + setSpeed.size() + kSpeedBytes;
            quint32 speed = 0;
            for (qsizetype i = at + setSpeed.size(); i < m_answeredUpTo; ++i)
                speed = (speed << 8) | quint8(m_heard[i]);
            m_speedsAsked.append(speed);
            answerSpeed(m_peer, speed);
        }
    }

    QTcpServer m_server;
    std::optional<std::chrono::milliseconds> m_agreeAfter;
    std::optional<std::chrono::milliseconds> m_poll;
    bool m_polling = false;
    QPointer<QTcpSocket> m_peer;
    QByteArray m_heard;
    qsizetype m_answeredUpTo = 0;
    int m_taken = 0;
    QList<quint32> m_speedsAsked;
    // The handlers' receiver: it goes before the server, whose sockets, as they
    // close, would otherwise call handlers on what is already gone.
    QObject m_context;
};

// Answers each command the peer sends with the projector's reply.
void answerCommands(ScriptedServer &server)
{
    server.onHeard = [&server](QTcpSocket *peer) {
        if (server.heard().endsWith(kCommand))
            peer->write(kReply.toByteArray());
    };
}

// The panel as the operator starts it, with QVX_COM1 naming a device server.
struct PanelOn
{
    explicit PanelOn(const QString &url, WarningCatcher::Answer answer = WarningCatcher::Answer::Ok,
                     const QString &tracePath = {})
        : warnings(answer)
    {
        qputenv("QVX_COM1", url.toLocal8Bit());
        qputenv("QVX_COM2", "/nonexistent/qvx-com2");
        if (!tracePath.isEmpty())
            qputenv("QVX_TRACE", tracePath.toLocal8Bit());
        window = std::make_unique<PanelWindow>(line);
        qunsetenv("QVX_TRACE");
        window->startUp();
    }
    ~PanelOn()
    {
        qunsetenv("QVX_COM1");
        qunsetenv("QVX_COM2");
    }
    PanelOn(const PanelOn &) = delete;
    PanelOn &operator=(const PanelOn &) = delete;

    bool isConnected() const { return line.isOpen() && !line.isConnecting(); }
    const NetworkLine &network() const { return *line.findChild<NetworkLine *>(); }
    QString text(layout::ControlId label) const { return window->control<QLabel>(label)->text(); }
    void click(layout::ControlId button) { window->control<QAbstractButton>(button)->click(); }

    // Whether a key press that waits in the event queue is handled: Ctrl+H
    // opens the service view.
    bool handlesPostedKey()
    {
        const int before = window->clientHeight();
        QCoreApplication::postEvent(window.get(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_H, Qt::ControlModifier));
        return QTest::qWaitFor([&] { return window->clientHeight() != before; }, kReplyTimeoutMs);
    }

    WarningCatcher warnings;
    AnyLine line;
    std::unique_ptr<PanelWindow> window;
};

// Four rounds of telnet negotiation, each with every verb for every option in
// an order turned by the round, so that every option is switched on and off and
// asked twice for the same.
QByteArray negotiationRounds()
{
    using namespace Telnet;
    constexpr std::array kVerbs{kDo, kDont, kWill, kWont};
    QByteArray rounds;
    for (std::size_t round = 0; round < kVerbs.size(); ++round) {
        for (int option = 0; option < 256; ++option) {
            for (std::size_t verb = 0; verb < kVerbs.size(); ++verb)
                rounds += bytes({kIac, kVerbs[(verb + round) % kVerbs.size()], option});
        }
    }
    return rounds;
}

} // namespace

class TstDeviceServers : public QObject
{
    Q_OBJECT

private slots:
    void negotiationStormIsAnsweredInBounds();
    void endlessSubnegotiationKeepsMemoryBounded();
    void silentServerWarnsOnceAndReleasesHeldCommand();
    void floodLeavesPanelResponsive();
    void resetMidReplyIsLossThatComesBack_data();
    void resetMidReplyIsLossThatComesBack();
    void slowServerIsNoFailure_data();
    void slowServerIsNoFailure();
    void lateAgreementWithdrawsWarning();
    void hangUpAtOnceWarnsOnce();
};

// Proves that megabytes of flip-flopping negotiation draw no more answers than
// they hold, cost little CPU and leave the line carrying data both ways.
void TstDeviceServers::negotiationStormIsAnsweredInBounds()
{
    constexpr qint64 kStormBytes = 2 * kMiB;
    const QByteArray rounds = negotiationRounds();
    ScriptedServer server;
    QVERIFY(server.listen());
    qint64 stormSent = 0;
    server.onTaken = [&](QTcpSocket *peer) {
        pump(peer, [&] {
            if (stormSent >= kStormBytes)
                return QByteArray();
            stormSent += rounds.size();
            // The data after the storm tells the test that the line has read it all.
            return stormSent < kStormBytes ? rounds : rounds + kReply.toByteArray();
        });
    };

    const auto line = lineTo(server.url(QStringLiteral("rfc2217")));
    Receiver receiver(*line);
    QSignalSpy events(line.get(), &SerialLine::notified);
    const auto cpuBefore = processCpuTime();
    QVERIFY(line->open());
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().size() >= kReply.size(), kReplyTimeoutMs);
    const auto cpu = processCpuTime() - cpuBefore;
    const qint64 answered = server.heard().size();
    qInfo("storm of %lld bytes: %lld bytes answered, %lld ms CPU (server and line), %lld settings refusals",
          stormSent, answered, milliseconds(cpu),
          qint64(countOf(events, SerialLine::Event::SettingsRefused)));

    QCOMPARE(receiver.received(), kReply.toByteArray());
    QVERIFY2(answered <= stormSent, qPrintable(QString::number(answered)));
    QVERIFY2(cpu < 2s, qPrintable(QStringLiteral("%1 ms of CPU").arg(milliseconds(cpu))));
    QVERIFY(line->isConnected());
    QCOMPARE(countOf(events, SerialLine::Event::DeviceLost), 0);
    QVERIFY(line->write(kCommand));
    QTRY_VERIFY_WITH_TIMEOUT(server.heard().endsWith(kCommand), kReplyTimeoutMs);
}

// Proves that a subnegotiation tens of megabytes long costs the line a few
// bytes, not the size of it, and that data flows again once it ends.
void TstDeviceServers::endlessSubnegotiationKeepsMemoryBounded()
{
    using namespace Telnet;
    constexpr qint64 kEndlessBytes = 32 * kMiB;
    constexpr qint64 kMaxGrowth = 4 * kMiB;
    QByteArray filler(kPumpWindow, Qt::Uninitialized);
    for (qsizetype i = 0; i < filler.size(); ++i)
        filler[i] = char(i % kIac);
    ScriptedServer server;
    server.agreeAfter(0ms);
    QVERIFY(server.listen());

    const auto line = lineTo(server.url(QStringLiteral("rfc2217")));
    Receiver receiver(*line);
    QSignalSpy events(line.get(), &SerialLine::notified);
    QVERIFY(line->open());
    QTRY_VERIFY_WITH_TIMEOUT(line->settingsConfirmed(), kReplyTimeoutMs);

    MemoryPeak memory;
    const qint64 before = memory.peak();
    qint64 sent = 0;
    // It looks like the server's answer to SET-BAUDRATE, and never ends.
    const QByteArray opening =
        bytes({kIac, kSb, kComPortOption, ComPort2217::kServerOffset + ComPort2217::kSetBaudRate});
    pump(server.peer(), [&] {
        if (sent > kEndlessBytes)
            return QByteArray();
        sent += filler.size();
        if (sent == filler.size())
            return opening + filler;
        return sent <= kEndlessBytes ? filler : bytes({kIac, kSe}) + kReply.toByteArray();
    });
    QTRY_VERIFY_WITH_TIMEOUT(!receiver.received().isEmpty(), 10 * kReplyTimeoutMs);
    const qint64 growth = memory.peak() - before;
    qInfo("subnegotiation of %lld MiB: memory in use %lld kB before, grew by %lld kB at most", sent / kMiB,
          before / 1024, growth / 1024);

    QVERIFY2(growth < kMaxGrowth, qPrintable(QStringLiteral("grew by %1 kB").arg(growth / 1024)));
    QCOMPARE(receiver.received(), kReply.toByteArray());
    QVERIFY(line->settingsConfirmed());
    QCOMPARE(countOf(events, SerialLine::Event::Opened), 1);
    QCOMPARE(countOf(events, SerialLine::Event::Received) + 1, events.count());
    QVERIFY(line->write(kCommand));
    QTRY_VERIFY_WITH_TIMEOUT(server.heard().endsWith(kCommand), kReplyTimeoutMs);
}

// Proves that a server that never speaks costs the panel one settings warning
// after the agreement wait and no spinning, and that a command clicked meanwhile
// is held until the wait ends and then goes out.
void TstDeviceServers::silentServerWarnsOnceAndReleasesHeldCommand()
{
    ScriptedServer server;
    QVERIFY(server.listen());
    std::optional<bool> boxUpWhenHeard;
    PanelOn panel(server.url(QStringLiteral("rfc2217")), WarningCatcher::Answer::LeaveUp);
    server.onHeard = [&](QTcpSocket *) {
        if (!boxUpWhenHeard && server.heard().contains(kCommand))
            boxUpWhenHeard = panel.warnings.isBoxShown();
    };
    const auto cpuBefore = processCpuTime();
    QElapsedTimer waited;
    waited.start();
    QTRY_VERIFY_WITH_TIMEOUT(panel.isConnected(), kReplyTimeoutMs);

    QVERIFY2(panel.handlesPostedKey(), "Ctrl+H waits while the panel waits for the server");
    QSignalSpy replyWindows(&parts::link(*panel.window), &LinkEngine::replyWindowEnded);
    panel.click("Command44");
    QTRY_COMPARE_WITH_TIMEOUT(panel.warnings.texts.size(), 1, 2 * kReplyTimeoutMs);
    const auto cpu = processCpuTime() - cpuBefore;
    const qint64 boxAfter = waited.elapsed();
    qInfo("silent server: warning after %lld ms, %lld ms CPU meanwhile", boxAfter, milliseconds(cpu));
    const QString &text = panel.warnings.texts.front();
    QVERIFY2(text.contains(u"did not agree") && text.contains(u"\"9600,N,8,1\" were not applied"),
             qPrintable(text));
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(boxAfter >= std::chrono::milliseconds(ComPortAgreement::kAnswerTimeout).count() * 9 / 10,
             qPrintable(QString::number(boxAfter)));
    QVERIFY2(cpu < 500ms, qPrintable(QStringLiteral("%1 ms of CPU while waiting").arg(milliseconds(cpu))));

    QTRY_VERIFY_WITH_TIMEOUT(boxUpWhenHeard.has_value(), kReplyTimeoutMs);
    QVERIFY2(*boxUpWhenHeard, "the command went out before the wait for the agreement ended");
    // The command's reply window ends unanswered meanwhile; that brings no second box.
    QTRY_COMPARE_WITH_TIMEOUT(replyWindows.count(), 1, kReplyTimeoutMs);
    QCOMPARE(replyWindows.first().first().toBool(), false);
    panel.warnings.check();
    QCOMPARE(panel.warnings.texts.size(), 1);
}

// Proves that a raw server sending as fast as loopback allows leaves the panel
// handling input, sending commands and holding its memory.
void TstDeviceServers::floodLeavesPanelResponsive()
{
    constexpr auto kFloodTime = 3s;
    constexpr qint64 kSettledAfter = 1 * kMiB;
    constexpr qint64 kMaxGrowth = 4 * kMiB;
    QByteArray chunk(kPumpWindow, Qt::Uninitialized);
    for (qsizetype i = 0; i < chunk.size(); ++i)
        chunk[i] = char(i);
    ScriptedServer server;
    QVERIFY(server.listen());
    qint64 flooded = 0;
    QElapsedTimer flooding;
    bool floodEnded = false;
    server.onTaken = [&](QTcpSocket *peer) {
        flooding.start();
        // It floods for kFloodTime and until the panel's command has come
        // through, so the command always meets a flood.
        pump(peer, [&] {
            if (floodEnded || (std::chrono::milliseconds(flooding.elapsed()) >= kFloodTime &&
                               server.heard().contains(kCommand))) {
                floodEnded = true;
                return QByteArray();
            }
            flooded += chunk.size();
            return chunk;
        });
    };

    PanelOn panel(server.url(QStringLiteral("socket")));
    QTRY_VERIFY_WITH_TIMEOUT(panel.isConnected() && flooded >= kSettledAfter, kReplyTimeoutMs);
    MemoryPeak memory;
    const qint64 before = memory.peak();
    const auto cpuBefore = processCpuTime();
    QElapsedTimer keyTime;
    keyTime.start();
    QVERIFY2(panel.handlesPostedKey(), "Ctrl+H waits behind the flood");
    const qint64 keyMs = keyTime.elapsed();
    panel.click("Command44");
    QTRY_VERIFY_WITH_TIMEOUT(server.heard().contains(kCommand), kReplyTimeoutMs);
    QCOMPARE(server.heard(), kCommand.toByteArray());
    QTRY_VERIFY_WITH_TIMEOUT(floodEnded, kReplyTimeoutMs);
    const auto cpu = processCpuTime() - cpuBefore;
    const qint64 growth = memory.peak() - before;
    qInfo("flood of %lld MiB in %lld ms: Ctrl+H handled after %lld ms, %lld ms CPU (server and panel), "
          "memory in use %lld kB before, grew by %lld kB at most",
          flooded / kMiB, flooding.elapsed(), keyMs, milliseconds(cpu), before / 1024, growth / 1024);

    QVERIFY2(growth < kMaxGrowth, qPrintable(QStringLiteral("grew by %1 kB").arg(growth / 1024)));
    QVERIFY(panel.isConnected());
    QVERIFY2(panel.warnings.texts.isEmpty(), qPrintable(panel.warnings.texts.join(u'\n')));
}

void TstDeviceServers::resetMidReplyIsLossThatComesBack_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("rfc2217") << QStringLiteral("rfc2217");
    QTest::newRow("rawSocket") << QStringLiteral("socket");
}

// Proves that a connection reset halfway through a reply is a lost line, told in
// the loss's words, and that an unattended panel connects again by itself and
// takes its box away once the server accepts again.
void TstDeviceServers::resetMidReplyIsLossThatComesBack()
{
    QFETCH(QString, scheme);
    constexpr qint64 kBackWithinMs = 3000;
    ScriptedServer server;
    if (scheme == u"rfc2217")
        server.agreeAfter(0ms);
    QVERIFY(server.listen());
    const quint16 port = server.port();
    bool resetDone = false;
    server.onHeard = [&](QTcpSocket *peer) {
        if (!server.heard().endsWith(kCommand))
            return;
        if (resetDone) {
            peer->write(kReply.toByteArray());
            return;
        }
        resetDone = true;
        peer->write(kReply.first(2).toByteArray());
        // Once the two characters are with the kernel, which sends them before
        // the reset; and from the event loop, not from inside the socket's signal.
        peer->flush();
        QTimer::singleShot(0, peer, [&] {
            server.resetPeer();
            server.stopListening();
        });
    };

    PanelOn panel(server.url(scheme), WarningCatcher::Answer::LeaveUp);
    QSignalSpy events(&panel.line, &SerialLine::notified);
    QByteArray beforeReset;
    connect(&parts::link(*panel.window), &LinkEngine::batchReceived, this,
            [&](const QByteArray &batch) { beforeReset += batch; });
    QTRY_VERIFY_WITH_TIMEOUT(panel.isConnected(), kReplyTimeoutMs);
    panel.click("Command44");
    QTRY_COMPARE_WITH_TIMEOUT(panel.warnings.texts.size(), 1, kReplyTimeoutMs);
    const QString text = panel.warnings.texts.front();
    const QString hint = panel.warnings.hints.front();
    qInfo("%s", qPrintable(text));
    QCOMPARE(beforeReset, kReply.first(2).toByteArray());
    QVERIFY2(text.contains(u"went away"), qPrintable(text));
    QCOMPARE(hint, QStringLiteral("The panel opens it again by itself when the server is back."));

    // Attempts while the server is away fail silently.
    QTRY_VERIFY_WITH_TIMEOUT(countOf(events, SerialLine::Event::OpenFailed) >= 1, kReplyTimeoutMs);
    QVERIFY(panel.warnings.isBoxShown());
    QVERIFY(server.listen(port));
    QElapsedTimer back;
    back.start();
    QTRY_VERIFY_WITH_TIMEOUT(!panel.warnings.isBoxShown(), kReplyTimeoutMs);
    qInfo("box withdrawn %lld ms after the server accepted again", back.elapsed());
    QVERIFY2(back.elapsed() < kBackWithinMs, qPrintable(QString::number(back.elapsed())));
    QVERIFY(panel.isConnected());
    QCOMPARE(panel.warnings.texts.size(), 1);

    panel.click("Command44");
    QTRY_COMPARE_WITH_TIMEOUT(panel.text("Label12"), QStringLiteral(" 0 0 0 0 CR "), kReplyTimeoutMs);
}

void TstDeviceServers::slowServerIsNoFailure_data()
{
    QTest::addColumn<bool>("oneAtATime");
    QTest::newRow("agreesAfterOneAndAHalfSeconds") << false;
    QTest::newRow("takesNextConnectionLate") << true;
}

// Proves that a server that takes its time to speak is waited for: no warning,
// the settings applied and confirmed, replies decoded.
void TstDeviceServers::slowServerIsNoFailure()
{
    QFETCH(bool, oneAtATime);
    constexpr auto kSlowness = 1500ms;
    ScriptedServer server;
    if (oneAtATime) {
        server.takeOneAtATime(kSlowness);
        server.agreeAfter(0ms);
    } else {
        server.agreeAfter(kSlowness);
    }
    answerCommands(server);
    QVERIFY(server.listen());

    PanelOn panel(server.url(QStringLiteral("rfc2217")));
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTRY_VERIFY_WITH_TIMEOUT(panel.network().settingsConfirmed(), 2 * kReplyTimeoutMs);
    qInfo("settings confirmed %lld ms after start-up, on connection %d", sinceStart.elapsed(),
          server.taken());
    QCOMPARE(server.speedsAsked(), QList<quint32>{9600});
    if (oneAtATime)
        QVERIFY2(server.taken() >= 2, "start-up's second connection waited for the first to go");

    panel.click("Command44");
    QTRY_COMPARE_WITH_TIMEOUT(panel.text("Label22"), QStringLiteral(" Normal"), kReplyTimeoutMs);
    panel.warnings.check();
    QVERIFY2(panel.warnings.texts.isEmpty(), qPrintable(panel.warnings.texts.join(u'\n')));
    QVERIFY(panel.isConnected());
}

// Proves that settings the server agrees to only after the wait are applied
// after all: the warning goes by itself and the trace says so.
void TstDeviceServers::lateAgreementWithdrawsWarning()
{
    const auto kLate = std::chrono::milliseconds(ComPortAgreement::kAnswerTimeout) + 1s;
    QTemporaryDir dir;
    const QString tracePath = dir.filePath(QStringLiteral("trace.tsv"));
    ScriptedServer server;
    server.agreeAfter(kLate);
    QVERIFY(server.listen());

    PanelOn panel(server.url(QStringLiteral("rfc2217")), WarningCatcher::Answer::LeaveUp, tracePath);
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTRY_COMPARE_WITH_TIMEOUT(panel.warnings.texts.size(), 1, 2 * kReplyTimeoutMs);
    const qint64 warnedAfter = sinceStart.elapsed();
    QVERIFY2(panel.warnings.texts.front().contains(u"did not agree"),
             qPrintable(panel.warnings.texts.front()));
    QVERIFY(server.speedsAsked().isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(!panel.warnings.isBoxShown(), 2 * kReplyTimeoutMs);
    qInfo("late agreement: warning after %lld ms, withdrawn after %lld ms", warnedAfter,
          sinceStart.elapsed());
    QCOMPARE(server.speedsAsked(), QList<quint32>{9600});
    QVERIFY(panel.network().settingsConfirmed());
    QCOMPARE(panel.warnings.texts.size(), 1);
    QFile trace(tracePath);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QByteArray recorded = trace.readAll();
    QVERIFY2(recorded.contains("\tPORT\tCOM1 open 9600,N,8,1: the device server applied the settings"),
             recorded.constData());
}

// Proves that a server that accepts and hangs up at once, as one busy with
// another client does, costs the operator one box however often the panel tries,
// and that the panel still comes back by itself when the server serves again.
void TstDeviceServers::hangUpAtOnceWarnsOnce()
{
    constexpr int kAttempts = 3;
    ScriptedServer server;
    QVERIFY(server.listen());
    bool busy = false;
    server.onTaken = [&](QTcpSocket *peer) {
        if (busy) {
            peer->write("Port already in use\r\n");
            peer->disconnectFromHost();
        }
    };
    PanelOn panel(server.url(QStringLiteral("socket")));
    QTRY_VERIFY_WITH_TIMEOUT(panel.isConnected(), kReplyTimeoutMs);

    busy = true;
    const int takenBefore = server.taken();
    server.peer()->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(panel.warnings.texts.size(), 1, kReplyTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(server.taken() >= takenBefore + kAttempts, (kAttempts + 2) * kReplyTimeoutMs);
    panel.warnings.check();
    QVERIFY2(panel.warnings.texts.size() == 1, qPrintable(panel.warnings.texts.join(u'\n')));

    busy = false;
    const int takenWhenFree = server.taken();
    QTRY_VERIFY_WITH_TIMEOUT(server.taken() > takenWhenFree && panel.isConnected(), kReplyTimeoutMs);
    panel.click("Command44");
    QTRY_COMPARE_WITH_TIMEOUT(server.heard(), kCommand.toByteArray(), kReplyTimeoutMs);
    QCOMPARE(panel.warnings.texts.size(), 1);
}

QTEST_MAIN(TstDeviceServers)
#include "tst_deviceservers.moc"
