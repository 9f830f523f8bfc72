// One projector's line, shared by its PJLink controllers, the command port's clients and the bridge's own
// polls.
#include "projectorbridge.h"

#include "readings.h"
#include "serialline.h"

#include <utility>

namespace {

// The queries that PJLink's status answers come from.
constexpr std::array<std::string_view, 4> kPolledCommands{"POWR", "ERST", "LAMP", "AVMT"};

} // namespace

ProjectorBridge::ProjectorBridge(Settings settings, std::unique_ptr<SerialLine> line, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_line(std::move(line))
    , m_runner(*m_line, m_settings.label)
    , m_queue(m_runner)
    , m_cache(m_queue, m_settings.statusAge)
    , m_mapping(m_settings.identity)
    , m_commands(m_queue)
{
    const QString back = tr("qvx-bridge opens it again when it is back.");
    m_runner.setWords({tr("%2 is not there. %3"),
                       tr("Check that the serial device server at %2 runs and is "
                          "reachable from here."),
                       QString(), back, back, back});
    connect(&m_runner, &ExchangeRunner::lost, this, [this](const PortFailure &failure, bool) {
        // One line in the journal: the hint's lists run on after the facts.
        const QString why = (failure.description + u' ' + failure.hint).simplified();
        say(m_wasOpen ? tr("the line is lost: %1").arg(why) : tr("the line cannot be opened: %1").arg(why));
    });
    connect(&m_runner, &ExchangeRunner::back, this, [this] {
        m_wasOpen = true;
        say(tr("the line is back"));
    });
    connect(&m_runner, &ExchangeRunner::opened, this, [this] {
        m_wasOpen = true;
        say(tr("the line is open"));
    });
    connect(&m_runner, &ExchangeRunner::settingsRefused, this, [this](const PortFailure &failure) {
        say(tr("the device server refused the line's settings: %1").arg(failure.description));
    });
    connect(&m_queue, &ExchangeQueue::exchanged, this, &ProjectorBridge::onExchanged);
    connect(&m_queue, &ExchangeQueue::finished, this, &ProjectorBridge::onFinished);
    connect(&m_commands, &CommandPort::said, this, &ProjectorBridge::say);

    for (const std::string_view command : kPolledCommands) {
        const pjlink::Request query{'1', QByteArray(command.data(), qsizetype(command.size())), "?"};
        for (const commands::Step &step : m_mapping.plan(query).steps) {
            if (std::none_of(m_pollSteps.cbegin(), m_pollSteps.cend(),
                             [&](const commands::Step &known) { return known.text == step.text; }))
                m_pollSteps.append(step);
        }
    }
    connect(&m_pollTimer, &QTimer::timeout, this, &ProjectorBridge::poll);
}

ProjectorBridge::~ProjectorBridge()
{
    m_runner.close();
}

void ProjectorBridge::start()
{
    if (m_runner.open(m_settings.settings, true)) {
        m_wasOpen = m_line->isReady();
        say(m_wasOpen ? tr("the line is open") : tr("connecting to the device server"));
    }
    if (m_settings.poll) {
        m_pollTimer.start(*m_settings.poll);
        poll();
    }
}

bool ProjectorBridge::listenForCommands(const QHostAddress &address, quint16 port, QString *error)
{
    return m_commands.listen(address, port, error);
}

void ProjectorBridge::answer(const pjlink::Request &request, const QObject *asker, Done done)
{
    const PjlinkPlan plan = m_mapping.plan(request);
    if (plan.steps.isEmpty()) {
        done(m_mapping.reply(request, {}));
        return;
    }
    if (!plan.changes) {
        auto *deadline = new QTimer(this);
        deadline->setSingleShot(true);
        m_deadlines.insert(deadline, asker);
        // A projector too slow or silent to answer in time cannot answer now:
        // ERR3 then, and what its exchange brings is kept for the next asker.
        connect(deadline, &QTimer::timeout, this, [this, deadline, asker, request, done] {
            endDeadline(deadline);
            m_cache.forget(asker);
            done(m_mapping.reply(request, {}));
        });
        m_cache.fetch(asker, plan.steps, [this, deadline, request, done](const QList<Exchange> &exchanges) {
            endDeadline(deadline);
            done(m_mapping.reply(request, exchanges));
        });
        // Unless the cache had the answer.
        if (m_deadlines.contains(deadline))
            deadline->start(kAnswerDeadline);
        return;
    }
    // Its own requester, so that the set runs to its end and clears the
    // cache even when its controller has gone.
    auto *requester = new QObject(this);
    m_sets.insert(requester, {asker, request, std::move(done), {}});
    m_queue.submit(requester, plan.steps, ExchangeQueue::Priority::Person);
}

void ProjectorBridge::endDeadline(QTimer *deadline)
{
    m_deadlines.remove(deadline);
    deadline->stop();
    deadline->deleteLater();
}

void ProjectorBridge::forget(const QObject *asker)
{
    m_cache.forget(asker);
    for (QTimer *deadline : m_deadlines.keys(asker))
        endDeadline(deadline);
    for (Set &set : m_sets) {
        if (set.asker == asker)
            set.done = nullptr;
    }
}

void ProjectorBridge::poll()
{
    // A line slower than the interval is not asked twice.
    if (m_polling)
        return;
    m_polling = true;
    pollFrom(0);
}

void ProjectorBridge::pollFrom(qsizetype step)
{
    if (step == m_pollSteps.size()) {
        m_polling = false;
        return;
    }
    // One query at a time, so that a controller's request waits for one
    // exchange of the poll at most, however slow the projector. A silent
    // one is asked no more this round: each query would hold the line for
    // a window and a quiet line, for nothing.
    m_cache.fetch(
        this, {m_pollSteps[step]},
        [this, step](const QList<Exchange> &exchanges) {
            if (exchanges.constFirst().outcome == Outcome::Unanswered ||
                exchanges.constFirst().outcome == Outcome::NotSent)
                m_polling = false;
            else
                pollFrom(step + 1);
        },
        true);
}

void ProjectorBridge::onExchanged(QObject *requester, const Exchange &exchange)
{
    // Whoever sent it, anything but a query may change any reading, and an
    // input the projector took is the one INPT ? tells.
    if (!decode::decoderOf(exchange.step.text))
        m_cache.clear();
    m_mapping.note(exchange);
    const auto set = m_sets.find(requester);
    if (set != m_sets.end())
        set->exchanges.append(exchange);
}

void ProjectorBridge::onFinished(QObject *requester)
{
    const auto found = m_sets.find(requester);
    if (found == m_sets.end())
        return;
    const Set set = *found;
    m_sets.erase(found);
    requester->deleteLater();
    // The reply also keeps what the set changed, for the queries the
    // projector cannot answer; so it is made even when nobody waits for it.
    const QByteArray line = m_mapping.reply(set.request, set.exchanges);
    if (set.done)
        set.done(line);
}

void ProjectorBridge::say(const QString &text)
{
    emit said(m_settings.label + QStringLiteral(": ") + text);
}
