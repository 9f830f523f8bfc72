// One line's exchanges: commands sent one after the other, each reply framed, judged and handed on.
#include "exchangerunner.h"

#include <algorithm>
#include <utility>

using namespace std::chrono;

ExchangeRunner::ExchangeRunner(SerialLine &line, QString port, ReplyJudge judge, QObject *parent)
    : QObject(parent)
    , m_line(line)
    , m_selection(line)
    , m_port(std::move(port))
    , m_judge(std::move(judge))
{
    // A reply window and a lens step's repeat keep their length: a coarse
    // timer may end them a twentieth early.
    for (QTimer *timer : {&m_replyWindow, &m_gap, &m_deadline, &m_repeat}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_replyWindow, &QTimer::timeout, this, &ExchangeRunner::onWindowEnd);
    connect(&m_gap, &QTimer::timeout, this, &ExchangeRunner::onGap);
    connect(&m_deadline, &QTimer::timeout, this, &ExchangeRunner::onGap);
    connect(&m_repeat, &QTimer::timeout, this, &ExchangeRunner::onRepeat);
    connect(&m_line, &SerialLine::notified, this, &ExchangeRunner::onNotified);
    connect(&m_selection, &PortSelection::portLost, this,
            [this](const PortFailure &failure) { onLost(failure, m_waitWhenLost); });
    connect(&m_selection, &PortSelection::openFailed, this, &ExchangeRunner::onLost);
    connect(&m_selection, &PortSelection::portReopened, this, &ExchangeRunner::back);
    connect(&m_selection, &PortSelection::settingsRefused, this, &ExchangeRunner::settingsRefused);
    m_quietSince.start();
}

bool ExchangeRunner::open(const QString &settings, bool waitWhenLost)
{
    m_waitWhenLost = waitWhenLost;
    if (waitWhenLost)
        m_selection.reopenOnFailure(m_line.portNumber());
    if (m_line.setSettings(settings) && m_line.open())
        return true;
    const PortFailure failure = m_selection.lastFailure();
    if (waitWhenLost)
        m_selection.reopenWhenBack(m_line.portNumber());
    emit lost(failure, waitWhenLost);
    return false;
}

void ExchangeRunner::close()
{
    for (QTimer *timer : {&m_replyWindow, &m_gap, &m_deadline, &m_repeat})
        timer->stop();
    m_phase = Phase::Idle;
    m_selection.close();
}

void ExchangeRunner::runRound(const QList<commands::Step> &steps)
{
    m_steps = steps;
    m_next = 0;
    m_phase = Phase::Connecting;
    if (!m_line.isOpen()) {
        tellUnsent();
        endRound();
    } else if (m_line.isReady()) {
        prepareNext();
    }
}

bool ExchangeRunner::withdraw()
{
    m_steps.resize(m_next);
    if (m_phase == Phase::Idle || m_phase == Phase::Awaiting || m_phase == Phase::Overtime)
        return false;
    for (QTimer *timer : {&m_gap, &m_deadline, &m_repeat})
        timer->stop();
    m_phase = Phase::Idle;
    return true;
}

void ExchangeRunner::onNotified(SerialLine::Event kind)
{
    switch (kind) {
    case SerialLine::Event::Received:
        take(m_line.readAll());
        break;
    case SerialLine::Event::Opened:
        emit opened();
        // A round that waited for the connection starts now.
        if (m_phase == Phase::Connecting)
            prepareNext();
        break;
    case SerialLine::Event::DeviceLost:
    case SerialLine::Event::OpenFailed:
    case SerialLine::Event::SettingsRefused:
    case SerialLine::Event::SettingsApplied:
        // The port selection says what they mean.
        break;
    }
}

void ExchangeRunner::onLost(const PortFailure &failure, bool waited)
{
    for (QTimer *timer : {&m_replyWindow, &m_gap, &m_deadline, &m_repeat})
        timer->stop();
    if (!m_waitWhenLost)
        m_selection.close();
    emit lost(failure, waited);
    if (m_phase == Phase::Idle)
        return;
    // The command under way has no more reply to wait for: the line is gone.
    if (m_phase == Phase::Awaiting || m_phase == Phase::Overtime)
        judge();
    if (m_phase == Phase::Idle)
        return;
    tellUnsent();
    endRound();
}

void ExchangeRunner::prepareNext()
{
    if (m_next >= m_steps.size()) {
        endRound();
        return;
    }
    keepStray(m_line.readAll());
    // A held step follows its predecessor at the repeat, whatever the line
    // holds: the lens moves while the button is down.
    const bool holding = m_next > 0 && m_steps[m_next - 1].repeat > 0ms;
    const milliseconds quiet = milliseconds(m_quietSince.elapsed());
    if (holding || quiet >= m_quietNeeded) {
        send();
        return;
    }
    m_phase = Phase::Settling;
    m_gap.start(m_quietNeeded - quiet);
    m_deadline.start(kLongestSettle);
}

void ExchangeRunner::send()
{
    m_gap.stop();
    m_deadline.stop();
    const commands::Step &step = m_steps[m_next++];
    m_exchange = begun(step, QDateTime::currentDateTimeUtc());
    m_quietNeeded = 0ms;
    m_phase = Phase::Awaiting;
    m_sentAt.start();
    m_replyWindow.start(step.replyWindow);
    if (step.repeat > 0ms)
        m_repeat.start(step.repeat);
    // A write that fails has lost the line, which the port selection reports.
    m_line.write(step.text + '\r');
}

void ExchangeRunner::take(QByteArrayView characters)
{
    if (m_phase != Phase::Awaiting && m_phase != Phase::Overtime) {
        keepStray(characters);
        return;
    }
    const qsizetype end = characters.indexOf('\r');
    const qsizetype room = kLongestReply - m_exchange.reply.size();
    const qsizetype taken = std::min(end < 0 ? characters.size() : end + 1, room);
    m_exchange.reply += characters.first(taken);
    if (end >= 0 || m_exchange.reply.size() >= kLongestReply) {
        // What follows the reply is nobody's, and the next send waits for it.
        keepStray(characters.sliced(taken));
        endReply();
    } else if (m_phase == Phase::Overtime) {
        m_gap.start(kPieceGap);
    }
}

void ExchangeRunner::keepStray(QByteArrayView characters)
{
    if (characters.isEmpty())
        return;
    // What belongs to no command is told, not kept: a flood keeps its start.
    m_stray += characters.first(std::min(characters.size(), kLongestReply - m_stray.size()));
    m_quietSince.start();
    m_quietNeeded = std::max(m_quietNeeded, kQuietGap);
    if (m_phase == Phase::Settling)
        m_gap.start(m_quietNeeded);
}

void ExchangeRunner::onWindowEnd()
{
    const bool held = m_exchange.step.repeat > 0ms;
    if (m_phase != Phase::Awaiting)
        return;
    if (m_exchange.reply.isEmpty() || held) {
        // Its answer may still come: the line must be quiet as long again
        // before the next command goes out, or the answer would be the next's.
        if (m_exchange.reply.isEmpty() && !held) {
            m_quietSince.start();
            m_quietNeeded = std::min(m_exchange.step.replyWindow, kLongestSettle);
        }
        endReply();
        return;
    }
    m_phase = Phase::Overtime;
    m_gap.start(kPieceGap);
    m_deadline.start(kLongestOvertime);
}

void ExchangeRunner::onGap()
{
    if (m_phase == Phase::Overtime)
        endReply();
    else if (m_phase == Phase::Settling)
        send();
}

void ExchangeRunner::onRepeat()
{
    // A held step's reply window is as long as its repeat: whichever ends
    // first, the step's exchange ends before the next step goes out.
    if (m_phase == Phase::Awaiting)
        endReply();
    else if (m_phase == Phase::Repeating)
        prepareNext();
}

void ExchangeRunner::endReply()
{
    judge();
    // A held step's successor goes out at its repeat, the others at once; a
    // round closed meanwhile sends nothing more.
    if (m_phase == Phase::Settling)
        prepareNext();
}

void ExchangeRunner::judge()
{
    m_replyWindow.stop();
    m_gap.stop();
    m_deadline.stop();
    m_exchange.replyTime = duration_cast<milliseconds>(nanoseconds(m_sentAt.nsecsElapsed()));
    if (m_exchange.reply.isEmpty()) {
        m_exchange.outcome = Outcome::Unanswered;
    } else {
        Verdict verdict = m_judge(m_exchange.step.text, m_exchange.reply);
        m_exchange.outcome = verdict.outcome;
        m_exchange.status = std::move(verdict.status);
        m_exchange.reading = std::move(verdict.reading);
    }
    m_phase = m_repeat.isActive() ? Phase::Repeating : Phase::Settling;
    emit exchanged(m_exchange);
}

Exchange ExchangeRunner::begun(const commands::Step &step, const QDateTime &time)
{
    Exchange exchange;
    exchange.port = m_port;
    exchange.step = step;
    exchange.time = time;
    exchange.discarded = std::exchange(m_stray, {});
    return exchange;
}

void ExchangeRunner::tellUnsent()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (; m_next < m_steps.size(); ++m_next) {
        // The steps of one hold are one command to the user.
        const commands::Step &step = m_steps[m_next];
        if (m_next > 0 && m_steps[m_next - 1].repeat > 0ms && m_steps[m_next - 1].name == step.name)
            continue;
        emit exchanged(begun(step, now));
    }
}

void ExchangeRunner::endRound()
{
    m_phase = Phase::Idle;
    m_repeat.stop();
    emit roundEnded();
}
