// Reads a fuzz input as a stream of small decisions and checks the fuzz targets' invariants.
#pragma once

#include <QByteArrayView>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

// Hands out the input front to back. An input that runs out reads as zeros, so
// every input, however short, is a whole case.
class FuzzInput
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size)
        : m_rest(reinterpret_cast<const char *>(data), qsizetype(size))
    {}

    bool atEnd() const { return m_rest.isEmpty(); }

    std::uint8_t take()
    {
        if (m_rest.isEmpty())
            return 0;
        const auto byte = static_cast<std::uint8_t>(m_rest.front());
        m_rest = m_rest.sliced(1);
        return byte;
    }

    QByteArrayView takeBytes(qsizetype count)
    {
        const QByteArrayView bytes = m_rest.first(std::min(count, m_rest.size()));
        m_rest = m_rest.sliced(bytes.size());
        return bytes;
    }

    QByteArrayView rest() { return std::exchange(m_rest, {}); }

private:
    QByteArrayView m_rest;
};

// A timer of the code under test is either due, and ends at the next turn of
// the event loop, or it never ends within a run. The input decides when a timer
// ends and when the event loop turns, so a run depends on its input alone and
// never waits on real time.
inline constexpr std::chrono::milliseconds kDue{0};
inline constexpr std::chrono::milliseconds kNever = std::chrono::hours(1);
// A 0-ms timer and a queued call run at the first turn; the rest are a margin
// against the dispatcher's order of work, not a wait.
inline constexpr int kTurnsForDueWork = 8;

// A broken invariant aborts, which libFuzzer records as a crash with its input.
inline void fuzzCheck(bool holds, const char *invariant)
{
    if (holds)
        return;
    std::fprintf(stderr, "Broken invariant: %s\n", invariant);
    std::abort();
}
