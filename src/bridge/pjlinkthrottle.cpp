// How long a source address that gave wrong PJLink passwords waits for its next greeting.
#include "pjlinkthrottle.h"

#include <algorithm>

namespace {

// Beyond this many doublings every delay has long reached its bound; the
// count stops here so that it can neither overflow nor shift too far.
constexpr int kMostDoublings = 30;

} // namespace

PjlinkThrottle::PjlinkThrottle(PjlinkThrottleSettings settings)
    : m_settings(settings)
{}

std::chrono::milliseconds PjlinkThrottle::greetingDelay(const QHostAddress &source) const
{
    const auto found = m_records.constFind(sourceOf(source));
    const Clock::time_point now = Clock::now();
    if (found == m_records.cend() || isQuiet(*found, now))
        return {};
    const Clock::time_point due = found->lastFailure + delayAfter(found->failures);
    return due <= now ? std::chrono::milliseconds{} : std::chrono::ceil<std::chrono::milliseconds>(due - now);
}

void PjlinkThrottle::recordFailure(const QHostAddress &source)
{
    const QHostAddress key = sourceOf(source);
    const Clock::time_point now = Clock::now();
    if (!m_records.contains(key))
        makeRoom(now);
    Record &record = m_records[key];
    if (isQuiet(record, now))
        record.failures = 0;
    record.failures = std::min(record.failures + 1, kMostDoublings + 1);
    record.lastFailure = now;
}

void PjlinkThrottle::recordSuccess(const QHostAddress &source)
{
    m_records.remove(sourceOf(source));
}

QHostAddress PjlinkThrottle::sourceOf(const QHostAddress &peer)
{
    bool isIpv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4) : peer;
}

bool PjlinkThrottle::isQuiet(const Record &record, Clock::time_point now) const
{
    return record.failures == 0 || now - record.lastFailure >= m_settings.quietPeriod;
}

std::chrono::milliseconds PjlinkThrottle::delayAfter(int failures) const
{
    const std::chrono::milliseconds doubled = m_settings.firstDelay * (qint64(1) << (failures - 1));
    return std::min(doubled, m_settings.longestDelay);
}

void PjlinkThrottle::makeRoom(Clock::time_point now)
{
    m_records.removeIf([&](const auto &entry) { return isQuiet(entry.value(), now); });
    if (m_records.size() < m_settings.capacity)
        return;
    const auto oldest =
        std::min_element(m_records.cbegin(), m_records.cend(),
                         [](const Record &a, const Record &b) { return a.lastFailure < b.lastFailure; });
    m_records.erase(oldest);
}
