// The projector's latest answers to its queries, shared by every controller that asks.
#pragma once

#include "exchangequeue.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

// Answers a list of query steps from exchanges younger than the age it is
// given, and runs on the line only the queries that have none, so that ten
// controllers polling the same status add no more to the line than one. Its
// fetches take their turn one after the other, each looking at what the one
// before it brought, and go to the queue as polls, after the commands of
// people. What the projector did with a query is kept, its silence and its
// refusals too, so that a silent projector's ERR3 comes at once to the
// controllers that ask after the first; a value given is always one the
// projector sent.
class StatusCache : public QObject
{
    Q_OBJECT

public:
    // One exchange for each step, in the steps' order.
    using Done = std::function<void(const QList<Exchange> &exchanges)>;

    StatusCache(ExchangeQueue &queue, std::chrono::milliseconds maxAge, QObject *parent = nullptr);

    // The asker is whoever waits for the answer; done is not called once it
    // is forgotten. With refresh, every step runs whatever the cache holds.
    void fetch(const QObject *asker, const QList<commands::Step> &steps, Done done, bool refresh = false);
    void forget(const QObject *asker);
    // Forgets every reading, after a command that may change any of them.
    void clear() { m_kept.clear(); }

    qsizetype waiting() const { return qsizetype(m_fetches.size()); }

private:
    struct Kept
    {
        Exchange exchange;
        QElapsedTimer age;
    };
    struct Fetch
    {
        const QObject *asker = nullptr;
        QList<commands::Step> steps;
        Done done;
        bool refresh = false;
        // Each step's exchange, once it has one.
        QList<std::optional<Exchange>> found;
    };

    void startNext();
    void submitNext();
    // Hands the fetch its exchanges, a step without one as not sent.
    void finish(Fetch &fetch);
    static bool isKept(Outcome outcome);
    std::optional<Exchange> fresh(const commands::Step &step) const;
    void onExchanged(QObject *requester, const Exchange &exchange);
    void onFinished(QObject *requester);

    ExchangeQueue &m_queue;
    std::chrono::milliseconds m_maxAge;
    QHash<QByteArray, Kept> m_kept;
    std::deque<Fetch> m_fetches;
    // The fetch on the queue, whose steps it requests.
    std::optional<Fetch> m_current;
    QObject m_requester;
    // Its steps still to run.
    QList<commands::Step> m_missing;
};
