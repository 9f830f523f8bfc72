// The simulator's end of a pseudo-terminal: reads command lines, paces replies and injects faults.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <optional>

class ProjectorModel;

// SimLine opens a pseudo-terminal pair and plays the projector's serial port on the master side.
// It splits what the panel writes into CR-terminated lines, lets the model answer each one and
// sends the replies through the configured faults: a delay, pieces with gaps between them,
// silence, a stream of noise bytes and a hang-up that makes the device vanish. It keeps its own fd
// to the slave so that the line stays raw and the master stays readable while the panel has the
// port closed. Everything runs from socket notifiers and timers on the caller's thread, and every
// buffer is bounded so that a misbehaving panel can neither grow memory nor stall the simulator.
class SimLine : public QObject
{
    Q_OBJECT
public:
    enum class NoiseKind { Random, Printable };

    struct Options
    {
        std::chrono::milliseconds delay{0};
        int split = 0; // bytes per piece; 0 sends each reply whole
        std::chrono::milliseconds gap{200};
        bool silent = false;
        double noiseRate = 0.0; // bytes per second
        NoiseKind noiseKind = NoiseKind::Random;
        quint32 seed = 1;
        int hangupAfter = 0; // 0 never hangs up
        bool verbose = false;
        QString linkPath;
    };

    static constexpr qsizetype kMaxLineLength = 256;
    static constexpr qsizetype kMaxQueuedBytes = 64 * 1024;

    SimLine(ProjectorModel &model, Options options, QObject *parent = nullptr);
    ~SimLine() override;

    // Creates the pty pair and the link; on failure returns false and describes why in *error.
    bool open(QString *error);
    QString devicePath() const { return m_devicePath; }

signals:
    // The line has closed: exit code 0 after the requested hang-up, non-zero if the pty failed.
    void finished(int exitCode);

private:
    using Clock = std::chrono::steady_clock;

    // A reply, or one piece of a split reply, waiting for its time to be written.
    struct Piece
    {
        QByteArray bytes;
        Clock::time_point due;
        int index = 1;
        int count = 1;
        bool hangsUp = false;
    };

    void readInput();
    void handleLine();
    void queueReply(const QByteArray &reply, bool hangsUp);
    void releaseDuePieces();
    void scheduleNextPiece();
    void sendNoise();
    void write(QByteArray bytes);
    void flushOutput();
    qsizetype writeSome(QByteArrayView bytes);
    void beginHangup();
    void hangUpWhenDrained();
    void hangUp();
    void fail(const QString &reason);
    void closeLine();
    bool createLink(QString *error);
    void removeLink();
    // With --verbose, one line in the panel's trace format: what the simulator
    // received (RX) or sent (TX) as a dump, or its line's state (PORT).
    void trace(QByteArrayView event, QByteArrayView text, QByteArrayView note = {}) const;
    void warn(const QString &event) const;

    ProjectorModel &m_model;
    Options m_options;
    QRandomGenerator m_noiseRandom;

    int m_master = -1;
    int m_slave = -1;
    QString m_devicePath;
    bool m_linkCreated = false;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;

    QByteArray m_line;
    qsizetype m_droppedLineBytes = 0;
    int m_commands = 0;

    std::deque<Piece> m_pieces;
    qsizetype m_scheduledBytes = 0;
    qint64 m_droppedReplies = 0;
    std::optional<Clock::time_point> m_lastDue;
    QTimer m_pieceTimer;

    QByteArray m_output;
    qsizetype m_droppedOutputBytes = 0;

    QTimer m_noiseTimer;
    QElapsedTimer m_noiseClock;
    qint64 m_noiseSent = 0;

    bool m_hangupPending = false;
    QTimer m_drainTimer;
    QTimer m_hangupDeadline;
};
