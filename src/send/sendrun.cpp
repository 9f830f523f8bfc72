// A whole call of qvx-send: every port at once, round after round, and the exit status.
#include "sendrun.h"

#include "anyline.h"

#include <algorithm>

using namespace std::chrono;

struct SendRun::Port
{
    std::unique_ptr<SerialLine> line;
    std::unique_ptr<PortRun> run;
};

SendRun::SendRun(SendRequest request, QIODevice &output, QIODevice &errors, LineMaker makeLine,
                 QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_output(output)
    , m_errors(errors)
    , m_makeLine(std::move(makeLine))
{
    if (!m_makeLine) {
        m_makeLine = [](const QString &endpoint) {
            return std::make_unique<AnyLine>([endpoint](int) { return endpoint; });
        };
    }
    if (m_request.ports.isEmpty())
        m_request.ports.append(Endpoint::fromEnvironment(1));
    m_style = {m_request.json, m_request.dump, m_request.ports.size() > 1, m_request.every.has_value()};
    m_nextRound.setSingleShot(true);
    // A poll's rounds keep their interval, not one shortened by the coarse
    // timer's leeway.
    m_nextRound.setTimerType(Qt::PreciseTimer);
    connect(&m_nextRound, &QTimer::timeout, this, &SendRun::startRound);
}

SendRun::~SendRun() = default;

void SendRun::start()
{
    const bool waitWhenLost = m_request.every.has_value();
    for (const QString &endpoint : std::as_const(m_request.ports)) {
        auto port = std::make_unique<Port>();
        port->line = m_makeLine(endpoint);
        port->run = std::make_unique<PortRun>(*port->line, endpoint);
        PortRun *run = port->run.get();
        connect(run, &PortRun::exchanged, this, &SendRun::onExchanged);
        connect(run, &PortRun::roundEnded, this, &SendRun::onRoundEnded);
        connect(run, &PortRun::lost, this,
                [this, run](const PortFailure &failure, bool waited) { onLost(*run, failure, waited); });
        connect(run, &PortRun::back, this, [this, run] { tell(run->port(), tr("back, and open again")); });
        // Commands at a speed the projector does not run at draw nothing
        // sensible: a port that cannot take the settings is port trouble.
        connect(run, &PortRun::settingsRefused, this, [this, run](const PortFailure &failure) {
            raise(PortTrouble);
            tell(run->port(), failure.description + u'\n' + failure.hint);
        });
        m_ports.push_back(std::move(port));
        run->open(m_request.settings, waitWhenLost);
    }
    startRound();
}

void SendRun::stop()
{
    m_nextRound.stop();
    finish();
}

void SendRun::startRound()
{
    if (m_finished)
        return;
    ++m_rounds;
    m_roundStart.start();
    // Every port starts before any can end its round, so that a port that
    // ends at once does not end the round for the others.
    m_pending = int(m_ports.size());
    for (const auto &port : m_ports)
        port->run->runRound(m_request.steps);
}

void SendRun::onRoundEnded()
{
    if (--m_pending > 0 || m_finished)
        return;
    const bool more = m_request.every && (!m_request.count || m_rounds < *m_request.count);
    if (!more) {
        finish();
        return;
    }
    // Rounds start at their interval from each other; a round that took
    // longer than that is followed at once.
    const auto spent = milliseconds(m_roundStart.elapsed());
    m_nextRound.start(std::max(*m_request.every - spent, 0ms));
}

void SendRun::onExchanged(const Exchange &exchange)
{
    m_output.write(sendoutput::format(exchange, m_style));
    if (exchange.answered)
        return;
    raise(NotAnswered);
    tell(exchange.port, tr("\"%1\" drew no reply within %2 ms")
                            .arg(QString::fromLatin1(exchange.command))
                            .arg(exchange.replyWindow.count()));
}

void SendRun::onLost(const PortRun &run, const PortFailure &failure, bool waited)
{
    raise(PortTrouble);
    QString text = failure.description;
    if (!failure.hint.isEmpty())
        text += u'\n' + failure.hint;
    if (waited)
        text += u'\n' + tr("waiting for it to come back");
    tell(run.port(), text);
}

void SendRun::tell(const QString &port, const QString &text)
{
    m_errors.write((QStringLiteral("qvx-send: ") + port + QStringLiteral(": ") + text + u'\n').toLocal8Bit());
}

void SendRun::raise(ExitStatus status)
{
    m_status = std::max(m_status, status);
}

void SendRun::finish()
{
    if (std::exchange(m_finished, true))
        return;
    for (const auto &port : m_ports) {
        port->run->close();
        port->line->close();
    }
    emit finished(m_status);
}
