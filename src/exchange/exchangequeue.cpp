// One line shared by several requesters: one exchange on the wire at a time, people before polls.
#include "exchangequeue.h"

#include <algorithm>

ExchangeQueue::ExchangeQueue(ExchangeRunner &runner, QObject *parent)
    : QObject(parent)
    , m_runner(runner)
{
    connect(&m_runner, &ExchangeRunner::exchanged, this, &ExchangeQueue::onExchanged);
    connect(&m_runner, &ExchangeRunner::roundEnded, this, &ExchangeQueue::onRoundEnded);
}

void ExchangeQueue::submit(QObject *requester, const QList<commands::Step> &steps, Priority priority)
{
    if (steps.isEmpty())
        return;
    (priority == Priority::Person ? m_people : m_polls).push_back(Request{requester, steps});
    // One asked from a requester's finished() starts once that has unwound.
    if (!m_current && !m_ending)
        startNext();
}

void ExchangeQueue::cancel(const QObject *requester)
{
    for (auto *queue : {&m_people, &m_polls}) {
        queue->erase(std::remove_if(queue->begin(), queue->end(),
                                    [requester](const Request &request) {
                                        return request.requester == requester || !request.requester;
                                    }),
                     queue->end());
    }
    // One waiting for a quiet line, or between the steps of a hold, sends
    // nothing more: no lens moves for a client that has gone.
    if (m_current && m_current->requester == requester && m_runner.withdraw()) {
        m_current.reset();
        startNextLater();
    }
}

void ExchangeQueue::startNext()
{
    for (auto *queue : {&m_people, &m_polls}) {
        // A requester gone since it asked has nobody to answer.
        while (!queue->empty() && !queue->front().requester)
            queue->pop_front();
        if (queue->empty())
            continue;
        m_current = std::move(queue->front());
        queue->pop_front();
        m_runner.runRound(m_current->steps);
        return;
    }
}

void ExchangeQueue::onExchanged(const Exchange &exchange)
{
    if (m_current && m_current->requester)
        emit exchanged(m_current->requester, exchange);
}

void ExchangeQueue::onRoundEnded()
{
    if (!m_current)
        return;
    const QPointer<QObject> requester = m_current->requester;
    m_current.reset();
    if (requester) {
        m_ending = true;
        emit finished(requester);
        m_ending = false;
    }
    startNextLater();
}

// The next request starts once this round has unwound, not from inside the
// runner's own signal or a requester's call.
void ExchangeQueue::startNextLater()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_current)
                startNext();
        },
        Qt::QueuedConnection);
}
