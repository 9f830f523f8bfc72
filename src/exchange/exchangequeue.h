// One line shared by several requesters: one exchange on the wire at a time, people before polls.
#pragma once

#include "exchangerunner.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <deque>
#include <optional>

// Takes requests from several requesters for one runner's line and runs them
// one at a time, so that no poll and click cross on the wire. A request is a
// list of steps that runs whole, as one round, and its exchanges go to the
// requester that asked alone. Requests from people (a click, a script's
// command, a controller's set) go before periodic polls; each kind keeps its
// order. A requester that goes away loses the requests it has queued and what
// is still to go of the one under way; a command on the wire runs to its end,
// so that its reply cannot become another's.
class ExchangeQueue : public QObject
{
    Q_OBJECT

public:
    enum class Priority { Person, Poll };

    explicit ExchangeQueue(ExchangeRunner &runner, QObject *parent = nullptr);

    void submit(QObject *requester, const QList<commands::Step> &steps, Priority priority);
    // Drops the requester's requests, but for a command on the wire.
    void cancel(const QObject *requester);

    qsizetype pending() const { return qsizetype(m_people.size() + m_polls.size()); }

signals:
    void exchanged(QObject *requester, const Exchange &exchange);
    // The requester's request has run: every step has its exchange.
    void finished(QObject *requester);

private:
    struct Request
    {
        QPointer<QObject> requester;
        QList<commands::Step> steps;
    };

    void startNext();
    void startNextLater();
    void onExchanged(const Exchange &exchange);
    void onRoundEnded();

    ExchangeRunner &m_runner;
    std::deque<Request> m_people;
    std::deque<Request> m_polls;
    std::optional<Request> m_current;
    // While finished() is out: the next request waits for the runner's
    // signal to unwind.
    bool m_ending = false;
};
