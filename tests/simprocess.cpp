// Process handling for tests that talk to the real simulator.
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QFile>

SimProcess::SimProcess(const QStringList &arguments)
{
    if (m_stderr.open())
        m_process.setStandardErrorFile(m_stderr.fileName());
    m_process.start(QStringLiteral(QVX_SIM_PATH), arguments);

    QDeadlineTimer deadline(kStartTimeout);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(int(deadline.remainingTime()));
    if (m_process.canReadLine())
        m_devicePath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
}

SimProcess::~SimProcess()
{
    stop();
}

QString SimProcess::log() const
{
    // A simulator that could not start, or that ended, wrote nothing that says so.
    QString said;
    if (m_process.error() == QProcess::FailedToStart)
        said = QStringLiteral("qvx-sim did not start: %1\n").arg(m_process.errorString());
    else if (m_process.state() == QProcess::NotRunning)
        said = QStringLiteral("qvx-sim ended with status %1\n").arg(m_process.exitCode());
    QFile file(m_stderr.fileName());
    if (file.open(QIODevice::ReadOnly))
        said += QString::fromLocal8Bit(file.readAll());
    return said;
}

bool SimProcess::waitForExit(std::chrono::milliseconds timeout)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(int(timeout.count()));
}

int SimProcess::exitCode() const
{
    if (m_process.state() != QProcess::NotRunning || m_process.exitStatus() != QProcess::NormalExit ||
        m_process.error() == QProcess::FailedToStart)
        return -1;
    return m_process.exitCode();
}

int SimProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(int(kStopTimeout.count()))) {
            m_process.kill();
            m_process.waitForFinished(int(kStopTimeout.count()));
        }
    }
    return exitCode();
}

QStringList SimProcess::logged(QStringView event) const
{
    QStringList dumps;
    for (const QString &line : log().split(u'\n')) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() >= 3 && fields[1] == event)
            dumps.append(fields[2]);
    }
    return dumps;
}
