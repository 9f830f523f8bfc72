// A whole call of qvx-send: every port at once, round after round, and the exit status.
#pragma once

#include "exchangerunner.h"
#include "sendoutput.h"
#include "sendrequest.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

// Opens every port, runs the command list on all of them at once (each port
// one exchange after the other, in one event loop) and repeats it when asked.
// Results go to the output as they come; trouble goes to the error output. A
// repeating run waits for a lost line, tells each round it could not run, and
// ends with the status of the rounds that ran; a single round counts a line
// that cannot be opened or is lost as port trouble.
class SendRun : public QObject
{
    Q_OBJECT

public:
    // When several apply, the status is the first of: port trouble, a reply
    // refused or not understood, a command unanswered, a fault reported.
    enum ExitStatus {
        AllAnswered = 0,
        NotAnswered = 1,
        PortTrouble = 2,
        NotUnderstood = 3,
        FaultReported = 4,
        UsageError = 64,
    };

    using LineMaker = std::function<std::unique_ptr<SerialLine>(const QString &endpoint)>;

    // The lines are AnyLines on the request's endpoints unless a maker is given.
    SendRun(SendRequest request, QIODevice &output, QIODevice &errors, LineMaker makeLine = {},
            QObject *parent = nullptr);
    ~SendRun() override;

    void start();
    // Ends the run now: the ports close and finished() follows.
    void stop();

    int exitStatus() const;

signals:
    void finished(int status);

private:
    struct Port;

    void startRound();
    void onRoundEnded(Port &port);
    void onExchanged(Port &port, const Exchange &exchange);
    void onLost(Port &port, const PortFailure &failure, bool waited);
    void tell(const QString &port, const QString &text);
    void raise(ExitStatus status);
    void finish();

    SendRequest m_request;
    QIODevice &m_output;
    QIODevice &m_errors;
    LineMaker m_makeLine;
    sendoutput::Style m_style;
    std::vector<std::unique_ptr<Port>> m_ports;
    int m_pending = 0;
    int m_rounds = 0;
    QElapsedTimer m_roundStart;
    QTimer m_nextRound;
    ExitStatus m_status = AllAnswered;
    bool m_finished = false;
};
