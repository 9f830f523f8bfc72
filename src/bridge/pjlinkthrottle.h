// How long a source address that gave wrong PJLink passwords waits for its next greeting.
#pragma once

#include <QHash>
#include <QHostAddress>

#include <chrono>

struct PjlinkThrottleSettings
{
    // The wait after the first wrong password; it doubles with each further one.
    std::chrono::milliseconds firstDelay{1000};
    std::chrono::milliseconds longestDelay{32'000};
    // An address without a wrong password for this long starts afresh.
    std::chrono::milliseconds quietPeriod{std::chrono::minutes(10)};
    // The addresses kept at most, one or more: a flood of addresses cannot grow the table.
    qsizetype capacity = 1024;
};

// One per daemon, shared by its PJLink servers, so that guessing one
// projector's password slows the guesser at every projector. A wrong password
// from an address holds back the greeting of its next connections until the
// delay since that failure has passed, so that each guess costs the guesser
// its time, while other addresses are greeted at once. A right password
// clears the address. When the table is full, the address whose last failure
// is oldest makes room; an address counts as the same one in IPv4 or as an
// IPv4-mapped IPv6 address.
class PjlinkThrottle
{
public:
    explicit PjlinkThrottle(PjlinkThrottleSettings settings = {});

    // How much longer a new connection from the source waits for its greeting.
    std::chrono::milliseconds greetingDelay(const QHostAddress &source) const;
    void recordFailure(const QHostAddress &source);
    void recordSuccess(const QHostAddress &source);
    qsizetype addressCount() const { return m_records.size(); }

    // The address by which a peer is counted: an IPv4-mapped IPv6 address as its IPv4 address.
    static QHostAddress sourceOf(const QHostAddress &peer);

private:
    using Clock = std::chrono::steady_clock;

    struct Record
    {
        int failures = 0;
        Clock::time_point lastFailure;
    };

    bool isQuiet(const Record &record, Clock::time_point now) const;
    std::chrono::milliseconds delayAfter(int failures) const;
    void makeRoom(Clock::time_point now);

    PjlinkThrottleSettings m_settings;
    QHash<QHostAddress, Record> m_records;
};
