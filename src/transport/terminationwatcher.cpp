// Self-pipe handling of the termination signals.
#include "terminationwatcher.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array kWatchedSignals{SIGTERM, SIGINT};

} // namespace

TerminationWatcher::TerminationWatcher(QObject *parent)
    : QObject(parent)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readEnd = ends[0];
    s_writeEnd = ends[1];

    struct sigaction action = {};
    action.sa_handler = &TerminationWatcher::handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kWatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);

    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::readPipe);
}

TerminationWatcher::~TerminationWatcher()
{
    if (m_readEnd < 0)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kWatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
    delete m_notifier;
    ::close(s_writeEnd);
    ::close(m_readEnd);
    s_writeEnd = -1;
}

void TerminationWatcher::handleSignal(int signalNumber)
{
    // Only async-signal-safe calls here; errno belongs to whatever code was interrupted.
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const auto ignored = ::write(s_writeEnd, &byte, 1);
    errno = savedErrno;
}

void TerminationWatcher::readPipe()
{
    char byte = 0;
    while (::read(m_readEnd, &byte, 1) == 1)
        emit terminationRequested(int(byte));
}
