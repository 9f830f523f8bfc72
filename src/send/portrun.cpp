// One port's exchanges: the command list sent one command after the other, each reply gathered and decoded.
#include "portrun.h"

#include "trafficdump.h"

#include <utility>

using namespace std::chrono;

PortRun::PortRun(SerialLine &line, QString port, QObject *parent)
    : QObject(parent)
    , m_line(line)
    , m_selection(line)
    , m_port(std::move(port))
{
    // A reply window and a lens step's repeat keep their length: a coarse
    // timer may end them a twentieth early.
    for (QTimer *timer : {&m_replyWindow, &m_repeat}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_replyWindow, &QTimer::timeout, this, &PortRun::endReply);
    connect(&m_repeat, &QTimer::timeout, this, &PortRun::onRepeat);
    connect(&m_line, &SerialLine::notified, this, &PortRun::onNotified);
    connect(&m_selection, &PortSelection::portLost, this,
            [this](const PortFailure &failure) { onLost(failure, m_waitWhenLost); });
    connect(&m_selection, &PortSelection::openFailed, this, &PortRun::onLost);
    connect(&m_selection, &PortSelection::portReopened, this, &PortRun::back);
    connect(&m_selection, &PortSelection::settingsRefused, this, &PortRun::settingsRefused);
}

bool PortRun::open(const QString &settings, bool waitWhenLost)
{
    m_waitWhenLost = waitWhenLost;
    if (waitWhenLost)
        m_selection.reopenOnFailure(m_line.portNumber());
    if (m_line.setSettings(settings) && m_line.open())
        return true;
    const PortFailure failure{m_line.errorString(), m_line.failureHint()};
    if (waitWhenLost)
        m_selection.reopenWhenBack(m_line.portNumber());
    emit lost(failure, waitWhenLost);
    return false;
}

void PortRun::close()
{
    m_replyWindow.stop();
    m_repeat.stop();
    m_awaiting = false;
    m_running = false;
    m_selection.close();
}

void PortRun::runRound(const QList<SendStep> &steps)
{
    m_steps = steps;
    m_next = 0;
    m_running = true;
    if (!m_line.isOpen())
        endRound();
    else if (m_line.isReady())
        sendNext();
}

void PortRun::onNotified(SerialLine::Event kind)
{
    switch (kind) {
    case SerialLine::Event::Received:
        take(m_line.readAll());
        break;
    case SerialLine::Event::Opened:
        // A round that waited for the connection starts now.
        if (m_running && m_next == 0 && !m_awaiting)
            sendNext();
        break;
    case SerialLine::Event::DeviceLost:
    case SerialLine::Event::OpenFailed:
    case SerialLine::Event::SettingsRefused:
    case SerialLine::Event::SettingsApplied:
        // The port selection says what they mean.
        break;
    }
}

void PortRun::onLost(const PortFailure &failure, bool waited)
{
    // The command under way has no reply to wait for: the line is gone.
    m_replyWindow.stop();
    m_repeat.stop();
    m_awaiting = false;
    if (!m_waitWhenLost)
        m_selection.close();
    emit lost(failure, waited);
    if (m_running)
        endRound();
}

void PortRun::sendNext()
{
    if (!m_running)
        return;
    if (m_next >= m_steps.size() || !m_line.isOpen()) {
        endRound();
        return;
    }
    const SendStep &step = m_steps[m_next++];
    // What came unasked belongs to no command of this run.
    m_line.readAll();
    m_exchange =
        Exchange{m_port, QDateTime::currentDateTimeUtc(), step.text, {}, step.replyWindow, {}, false, {}};
    m_awaiting = true;
    m_sentAt.start();
    m_replyWindow.start(step.replyWindow);
    if (step.repeat > 0ms)
        m_repeat.start(step.repeat);
    // A write that fails has lost the line, which the port selection reports.
    m_line.write(step.text + '\r');
}

void PortRun::onRepeat()
{
    // A held step's reply window is as long as its repeat: whichever ends
    // first, the step's exchange ends before the next step goes out.
    if (m_awaiting)
        endReply();
    else
        sendNext();
}

void PortRun::take(QByteArrayView characters)
{
    if (!m_awaiting)
        return;
    const qsizetype end = characters.indexOf('\r');
    const qsizetype room = kLongestReply - m_exchange.reply.size();
    const qsizetype taken = std::min(end < 0 ? characters.size() : end + 1, room);
    m_exchange.reply += characters.first(taken);
    if (end >= 0 || m_exchange.reply.size() >= kLongestReply)
        endReply();
}

void PortRun::endReply()
{
    if (!m_awaiting)
        return;
    m_awaiting = false;
    m_replyWindow.stop();
    m_exchange.replyTime = duration_cast<milliseconds>(nanoseconds(m_sentAt.nsecsElapsed()));
    m_exchange.answered = !m_exchange.reply.isEmpty();
    if (m_exchange.answered)
        m_exchange.status = m_router.decode(m_exchange.command + '\r', TrafficDump::of(m_exchange.reply));
    emit exchanged(m_exchange);
    // A held step's successor goes out at its repeat, the others at once.
    if (!m_repeat.isActive())
        sendNext();
}

void PortRun::endRound()
{
    m_running = false;
    m_repeat.stop();
    emit roundEnded();
}
