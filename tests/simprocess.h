// Starts the real qvx-sim executable for a test and stops it again.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <chrono>

// SimProcess runs the qvx-sim binary named by QVX_SIM_PATH with the given arguments and waits for
// the device path that the simulator prints as its first line. The simulator's stderr goes to a
// temporary file rather than a pipe, so a verbose simulator never blocks on a full pipe while a
// test is busy outside the event loop; log() reads the file back. The destructor stops the
// simulator with SIGTERM and kills it if it does not exit in time.
class SimProcess
{
public:
    static constexpr std::chrono::milliseconds kStartTimeout{10'000};
    static constexpr std::chrono::milliseconds kStopTimeout{5'000};

    explicit SimProcess(const QStringList &arguments = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // False if the simulator exited or stayed silent instead of printing its device path.
    bool isReady() const { return !m_devicePath.isEmpty(); }
    QString devicePath() const { return m_devicePath; }
    qint64 processId() const { return m_process.processId(); }
    // Everything the simulator wrote to stderr so far.
    QString log() const;
    // The dumps of what a verbose simulator received ("RX") or sent ("TX"), in
    // order, from its log: a timestamp, the event, the dump and a note,
    // tab-separated.
    QStringList logged(QStringView event) const;

    // True once the simulator has exited by itself within the timeout.
    bool waitForExit(std::chrono::milliseconds timeout = kStopTimeout);
    // The exit code of a simulator that exited normally, or -1 while running or after a crash.
    int exitCode() const;
    // Sends SIGTERM, kills after kStopTimeout, and returns exitCode().
    int stop();

private:
    QTemporaryFile m_stderr;
    QProcess m_process;
    QString m_devicePath;
};
