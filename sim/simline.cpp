// Pseudo-terminal handling, reply pacing and fault injection for the simulated projector.
#include "simline.h"

#include "trafficdump.h"
#include "traffictrace.h"

#include "projectormodel.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kNoiseTick = 20ms;
constexpr auto kDrainPoll = 10ms;
// Gives up on a panel that stopped reading, so that the hang-up still happens.
constexpr auto kHangupDrainLimit = 2s;

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimLine::SimLine(ProjectorModel &model, Options options, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_options(std::move(options))
    , m_noiseRandom(m_options.seed)
{
    m_pieceTimer.setSingleShot(true);
    m_pieceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pieceTimer, &QTimer::timeout, this, &SimLine::releaseDuePieces);

    m_noiseTimer.setInterval(kNoiseTick);
    connect(&m_noiseTimer, &QTimer::timeout, this, &SimLine::sendNoise);

    m_drainTimer.setInterval(kDrainPoll);
    connect(&m_drainTimer, &QTimer::timeout, this, &SimLine::hangUpWhenDrained);
    m_hangupDeadline.setSingleShot(true);
    m_hangupDeadline.setInterval(kHangupDrainLimit);
    connect(&m_hangupDeadline, &QTimer::timeout, this, &SimLine::hangUp);
}

SimLine::~SimLine()
{
    closeLine();
}

bool SimLine::open(QString *error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        *error = systemError(QStringLiteral("posix_openpt"));
        return false;
    }
    char name[128] = {};
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0) {
        *error = systemError(QStringLiteral("preparing the pty"));
        closeLine();
        return false;
    }
    m_devicePath = QString::fromLocal8Bit(name);

    // Raw before anyone else opens the device: no echo, no CR/LF translation in either direction.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios settings{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &settings) != 0) {
        *error = systemError(QStringLiteral("opening %1").arg(m_devicePath));
        closeLine();
        return false;
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_slave, TCSANOW, &settings) != 0 ||
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0) {
        *error = systemError(QStringLiteral("configuring %1").arg(m_devicePath));
        closeLine();
        return false;
    }
    if (!m_options.linkPath.isEmpty() && !createLink(error)) {
        closeLine();
        return false;
    }

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimLine::readInput);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimLine::flushOutput);

    if (m_options.noiseRate > 0) {
        m_noiseClock.start();
        m_noiseTimer.start();
    }
    trace("PORT", QStringLiteral("open %1").arg(m_devicePath).toLocal8Bit());
    return true;
}

void SimLine::readInput()
{
    char buffer[4096];
    const ssize_t count = ::read(m_master, buffer, sizeof buffer);
    if (count < 0) {
        if (errno != EAGAIN && errno != EINTR)
            fail(systemError(QStringLiteral("reading the pty")));
        return;
    }
    // The slave fd held open here should rule this out; if not, a notifier stuck on a closed pty
    // would spin.
    if (count == 0) {
        fail(QStringLiteral("the pty closed"));
        return;
    }
    // Stops at the command that triggers the hang-up: nothing after it is read.
    for (ssize_t i = 0; i < count && m_readNotifier && m_readNotifier->isEnabled(); ++i) {
        if (buffer[i] == '\r') {
            handleLine();
            m_line.clear();
            m_droppedLineBytes = 0;
        } else if (m_line.size() < kMaxLineLength) {
            m_line += buffer[i];
        } else {
            ++m_droppedLineBytes;
        }
    }
}

void SimLine::handleLine()
{
    ++m_commands;
    const QByteArray dropped = m_droppedLineBytes > 0
                                   ? QByteArray::number(m_droppedLineBytes) + " more bytes dropped"
                                   : QByteArray();
    trace("RX", TrafficDump::of(m_line + '\r'), dropped);

    const bool last = m_commands == m_options.hangupAfter;
    if (last)
        m_readNotifier->setEnabled(false);
    if (!m_options.silent)
        queueReply(m_model.reply(m_line) + '\r', last);
    else if (last)
        beginHangup();
}

void SimLine::queueReply(const QByteArray &reply, bool hangsUp)
{
    if (m_scheduledBytes + reply.size() > kMaxQueuedBytes) {
        // Once per flood, so that the log cannot grow as fast as the flood.
        if (m_droppedReplies++ == 0)
            warn(QStringLiteral("too many replies waiting; dropping replies"));
        if (hangsUp)
            beginHangup();
        return;
    }
    if (m_droppedReplies > 0) {
        warn(QStringLiteral("replies fit again; %1 were dropped").arg(m_droppedReplies));
        m_droppedReplies = 0;
    }
    const qsizetype pieceSize = m_options.split > 0 ? m_options.split : reply.size();
    const auto pieceGap = m_options.split > 0 ? m_options.gap : 0ms;
    const int count = int((reply.size() + pieceSize - 1) / pieceSize);
    auto due = Clock::now() + m_options.delay;
    for (int index = 0; index < count; ++index) {
        // Replies leave in the order the commands came, and split pieces keep the gap even across
        // replies, so a slow line stays slow.
        if (m_lastDue)
            due = std::max(due, *m_lastDue + pieceGap);
        const bool final = index == count - 1;
        m_pieces.push_back(
            {reply.mid(index * pieceSize, pieceSize), due, index + 1, count, final && hangsUp});
        m_lastDue = due;
    }
    m_scheduledBytes += reply.size();
    scheduleNextPiece();
}

void SimLine::releaseDuePieces()
{
    while (!m_pieces.empty() && m_pieces.front().due <= Clock::now()) {
        const Piece piece = std::move(m_pieces.front());
        m_pieces.pop_front();
        m_scheduledBytes -= piece.bytes.size();
        const QByteArray part = piece.count == 1 ? QByteArray()
                                                 : "piece " + QByteArray::number(piece.index) + '/' +
                                                       QByteArray::number(piece.count);
        trace("TX", TrafficDump::of(piece.bytes), part);
        write(piece.bytes);
        if (piece.hangsUp) {
            beginHangup();
            return;
        }
    }
    scheduleNextPiece();
}

void SimLine::scheduleNextPiece()
{
    if (m_pieces.empty() || m_pieceTimer.isActive())
        return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_pieces.front().due - Clock::now());
    m_pieceTimer.start(std::max(wait, 0ms));
}

void SimLine::sendNoise()
{
    const auto owed = qint64(m_options.noiseRate * double(m_noiseClock.elapsed()) / 1000.0) - m_noiseSent;
    // After a stall the backlog would only be dropped by the output bound, so it is not made.
    const auto count = std::min<qint64>(owed, kMaxQueuedBytes);
    m_noiseSent += owed;
    if (count <= 0)
        return;
    QByteArray noise(count, Qt::Uninitialized);
    for (char &byte : noise) {
        byte = m_options.noiseKind == NoiseKind::Printable ? char(0x20 + m_noiseRandom.bounded(0x7f - 0x20))
                                                           : char(m_noiseRandom.bounded(256));
    }
    write(noise);
}

void SimLine::write(QByteArray bytes)
{
    if (m_output.isEmpty())
        bytes.remove(0, writeSome(bytes));
    if (bytes.isEmpty() || m_master < 0)
        return;
    const qsizetype room = kMaxQueuedBytes - m_output.size();
    if (bytes.size() > room) {
        if (m_droppedOutputBytes == 0)
            warn(QStringLiteral("the panel is not reading; dropping output"));
        m_droppedOutputBytes += bytes.size() - room;
        bytes.truncate(room);
    }
    m_output += bytes;
    m_writeNotifier->setEnabled(!m_output.isEmpty());
}

void SimLine::flushOutput()
{
    m_output.remove(0, writeSome(m_output));
    if (m_master < 0 || !m_output.isEmpty())
        return;
    m_writeNotifier->setEnabled(false);
    if (m_droppedOutputBytes > 0) {
        warn(QStringLiteral("the panel reads again; %1 bytes were dropped").arg(m_droppedOutputBytes));
        m_droppedOutputBytes = 0;
    }
}

qsizetype SimLine::writeSome(QByteArrayView bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return 0;
    const ssize_t written = ::write(m_master, bytes.data(), size_t(bytes.size()));
    if (written >= 0)
        return written;
    if (errno != EAGAIN && errno != EINTR)
        fail(systemError(QStringLiteral("writing the pty")));
    return 0;
}

void SimLine::beginHangup()
{
    if (m_hangupPending || m_master < 0)
        return;
    m_hangupPending = true;
    m_noiseTimer.stop();
    m_readNotifier->setEnabled(false);
    m_drainTimer.start();
    m_hangupDeadline.start();
}

void SimLine::hangUpWhenDrained()
{
    // Closing the master flushes whatever the panel has not read yet, so the last reply must have
    // left the slave's input buffer too. The kernel gives no notice of that, hence the polling.
    int unread = 0;
    if (m_output.isEmpty() && (::ioctl(m_slave, FIONREAD, &unread) != 0 || unread == 0))
        hangUp();
}

void SimLine::hangUp()
{
    if (m_master < 0)
        return;
    trace("PORT", "hang up after " + QByteArray::number(m_commands) + " commands");
    closeLine();
    emit finished(0);
}

void SimLine::fail(const QString &reason)
{
    if (m_master < 0)
        return;
    warn(reason);
    closeLine();
    emit finished(1);
}

void SimLine::closeLine()
{
    m_pieceTimer.stop();
    m_noiseTimer.stop();
    m_drainTimer.stop();
    m_hangupDeadline.stop();
    // Closing can happen inside a notifier's own activation, so the notifiers are only disabled
    // here and deleted once control is back in the event loop.
    for (QSocketNotifier *notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
    removeLink();
}

bool SimLine::createLink(QString *error)
{
    const QByteArray link = QFile::encodeName(m_options.linkPath);
    struct stat existing = {};
    if (::lstat(link.constData(), &existing) == 0) {
        // Only a stale link from an earlier run is replaced; anything else is someone's file.
        if (!S_ISLNK(existing.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a symbolic link").arg(m_options.linkPath);
            return false;
        }
        ::unlink(link.constData());
    }
    if (::symlink(QFile::encodeName(m_devicePath).constData(), link.constData()) != 0) {
        *error = systemError(QStringLiteral("linking %1").arg(m_options.linkPath));
        return false;
    }
    m_linkCreated = true;
    return true;
}

void SimLine::removeLink()
{
    if (!m_linkCreated)
        return;
    m_linkCreated = false;
    // Leave the link alone if another simulator has taken it over meanwhile.
    if (QFile::symLinkTarget(m_options.linkPath) == m_devicePath)
        ::unlink(QFile::encodeName(m_options.linkPath).constData());
}

void SimLine::trace(QByteArrayView event, QByteArrayView text, QByteArrayView note) const
{
    if (m_options.verbose)
        std::fputs(TrafficTrace::line(QDateTime::currentDateTimeUtc(), event, text, note).constData(),
                   stderr);
}

void SimLine::warn(const QString &event) const
{
    const QString line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ' + event + u'\n';
    std::fputs(line.toLocal8Bit().constData(), stderr);
}
