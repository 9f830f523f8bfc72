// Delivers SIGTERM and SIGINT as a Qt signal on the event loop.
#pragma once

#include <QObject>
#include <QSocketNotifier>

// TerminationWatcher installs handlers for SIGTERM and SIGINT that only write the signal number
// into a pipe; a socket notifier reads it on the event loop and emits terminationRequested(), where
// any cleanup may run safely. Signal handlers are process-wide, so create one watcher per process.
class TerminationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

    bool isValid() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    static void handleSignal(int signalNumber);
    void readPipe();

    static inline int s_writeEnd = -1;
    int m_readEnd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
