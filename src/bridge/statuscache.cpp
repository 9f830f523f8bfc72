// The projector's latest answers to its queries, shared by every controller that asks.
#include "statuscache.h"

#include <utility>

StatusCache::StatusCache(ExchangeQueue &queue, std::chrono::milliseconds maxAge, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_maxAge(maxAge)
{
    connect(&m_queue, &ExchangeQueue::exchanged, this, &StatusCache::onExchanged);
    connect(&m_queue, &ExchangeQueue::finished, this, &StatusCache::onFinished);
}

void StatusCache::fetch(const QObject *asker, const QList<commands::Step> &steps, Done done, bool refresh)
{
    Fetch fetch;
    fetch.asker = asker;
    fetch.steps = steps;
    fetch.done = std::move(done);
    fetch.refresh = refresh;
    m_fetches.push_back(std::move(fetch));
    if (!m_current)
        startNext();
}

void StatusCache::forget(const QObject *asker)
{
    std::erase_if(m_fetches, [asker](const Fetch &fetch) { return fetch.asker == asker; });
    // The one on the wire runs to its end, and what it brings is kept.
    if (m_current && m_current->asker == asker)
        m_current->done = nullptr;
}

bool StatusCache::isKept(Outcome outcome)
{
    // What the projector did with the query; a reply taken apart by noise,
    // or a query that never went out, tells nothing of it.
    return outcome == Outcome::Answered || outcome == Outcome::Unanswered || outcome == Outcome::Refused;
}

std::optional<Exchange> StatusCache::fresh(const commands::Step &step) const
{
    const auto kept = m_kept.constFind(step.text);
    if (kept == m_kept.cend() || kept->age.elapsed() >= m_maxAge.count())
        return std::nullopt;
    return kept->exchange;
}

void StatusCache::startNext()
{
    while (!m_current && !m_fetches.empty()) {
        Fetch fetch = std::move(m_fetches.front());
        m_fetches.pop_front();
        QList<commands::Step> missing;
        for (const commands::Step &step : std::as_const(fetch.steps)) {
            fetch.found.append(fetch.refresh ? std::nullopt : fresh(step));
            if (!fetch.found.last())
                missing.append(step);
        }
        if (missing.isEmpty()) {
            finish(fetch);
            continue;
        }
        m_current = std::move(fetch);
        m_missing = missing;
        submitNext();
    }
}

void StatusCache::submitNext()
{
    // A query at a time, so that a person's command waits for one exchange
    // of a fetch at most, not for all of an ERST's or a LAMP's.
    m_queue.submit(&m_requester, {m_missing.takeFirst()}, ExchangeQueue::Priority::Poll);
}

void StatusCache::finish(Fetch &fetch)
{
    if (!fetch.done)
        return;
    QList<Exchange> exchanges;
    for (qsizetype i = 0; i < fetch.steps.size(); ++i) {
        Exchange exchange = fetch.found[i].value_or(Exchange{});
        exchange.step = fetch.steps[i];
        exchanges.append(exchange);
    }
    fetch.done(exchanges);
}

void StatusCache::onExchanged(QObject *requester, const Exchange &exchange)
{
    if (requester != &m_requester || !m_current)
        return;
    for (qsizetype i = 0; i < m_current->steps.size(); ++i) {
        if (!m_current->found[i] && m_current->steps[i].text == exchange.step.text) {
            m_current->found[i] = exchange;
            break;
        }
    }
    // A query that brought no reading is the fetch's answer already: every
    // answer needs all of its queries, and a silent projector would keep the
    // controller waiting a window and a quiet line for each of the others.
    if (exchange.outcome != Outcome::Answered)
        m_missing.clear();
    if (!isKept(exchange.outcome))
        return;
    Kept &kept = m_kept[exchange.step.text];
    kept.exchange = exchange;
    kept.age.start();
}

void StatusCache::onFinished(QObject *requester)
{
    if (requester != &m_requester || !m_current)
        return;
    if (!m_missing.isEmpty()) {
        submitNext();
        return;
    }
    Fetch fetch = *std::exchange(m_current, std::nullopt);
    finish(fetch);
    startNext();
}
