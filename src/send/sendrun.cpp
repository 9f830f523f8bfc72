// A whole call of qvx-send: every port at once, round after round, and the exit status.
#include "sendrun.h"

#include "anyline.h"
#include "linesettings.h"

#include <QDateTime>

#include <algorithm>
#include <array>

using namespace std::chrono;

namespace {

// The statuses in the order in which one outranks another.
constexpr std::array kRanks{SendRun::AllAnswered, SendRun::FaultReported, SendRun::NotAnswered,
                            SendRun::NotUnderstood, SendRun::PortTrouble};

int rankOf(SendRun::ExitStatus status)
{
    return int(std::find(kRanks.begin(), kRanks.end(), status) - kRanks.begin());
}

} // namespace

struct SendRun::Port
{
    QString label;
    std::unique_ptr<SerialLine> line;
    std::unique_ptr<ExchangeRunner> runner;
    // Lost and waited for: its rounds are missed until it is back.
    bool away = false;
    QList<Exchange> summary;
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
    if (m_request.ports.isEmpty()) {
        const QString endpoint = Endpoint::fromEnvironment(1);
        m_request.ports.append({endpoint, endpoint, QString::fromLatin1(LineSettings::kText9600)});
    }
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
    for (const SendPort &given : std::as_const(m_request.ports)) {
        auto port = std::make_unique<Port>();
        Port &self = *port;
        port->label = given.label;
        port->line = m_makeLine(given.endpoint);
        port->runner = std::make_unique<ExchangeRunner>(*port->line, given.label);
        ExchangeRunner *runner = port->runner.get();
        // The port as the user gave it, and what qvx-send does about it.
        const QString back = waitWhenLost ? tr("qvx-send opens it again when it is back.") : QString();
        runner->setWords(
            {tr("%2 is not there. Give the projector's serial device with --port, for example "
                "--port /dev/ttyUSB0.\n\n%3"),
             tr("Check that the serial device server at %2 runs and is reachable from here, or give "
                "another address with --port."),
             QString(), back, back, QString()});
        connect(runner, &ExchangeRunner::exchanged, this,
                [this, &self](const Exchange &exchange) { onExchanged(self, exchange); });
        connect(runner, &ExchangeRunner::roundEnded, this, [this, &self] { onRoundEnded(self); });
        connect(runner, &ExchangeRunner::lost, this,
                [this, &self](const PortFailure &failure, bool waited) { onLost(self, failure, waited); });
        connect(runner, &ExchangeRunner::back, this, [this, &self] {
            self.away = false;
            tell(self.label, tr("back, and open again"));
        });
        // Commands at a speed the projector does not run at draw nothing
        // sensible: a port that cannot take the settings is port trouble.
        connect(runner, &ExchangeRunner::settingsRefused, this, [this, &self](const PortFailure &failure) {
            raise(PortTrouble);
            tell(self.label, failure.description + u'\n' + failure.hint);
        });
        m_ports.push_back(std::move(port));
        runner->open(given.settings, waitWhenLost);
    }
    startRound();
}

void SendRun::stop()
{
    m_nextRound.stop();
    finish();
}

int SendRun::exitStatus() const
{
    // A poll ends with the status of the rounds that ran, unless its line is
    // still away.
    const bool away =
        std::any_of(m_ports.begin(), m_ports.end(), [](const auto &port) { return port->away; });
    return away ? PortTrouble : m_status;
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
    for (const auto &port : m_ports) {
        if (port->away) {
            tell(port->label,
                 m_request.count
                     ? tr("round %1 of %2 missed: the line is not back").arg(m_rounds).arg(*m_request.count)
                     : tr("round %1 missed: the line is not back").arg(m_rounds));
        }
    }
    for (const auto &port : m_ports)
        port->runner->runRound(m_request.steps);
}

void SendRun::onRoundEnded(Port &port)
{
    if (!port.summary.isEmpty())
        m_output.write(sendoutput::summary(std::exchange(port.summary, {}), m_style));
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

void SendRun::onExchanged(Port &port, const Exchange &exchange)
{
    if (exchange.step.summary)
        port.summary.append(exchange);
    else
        m_output.write(sendoutput::format(exchange, m_style));
    const QString name =
        exchange.step.name.isEmpty() ? QString::fromLatin1(exchange.step.text) : exchange.step.name;
    switch (exchange.outcome) {
    case Outcome::Answered:
        if (m_request.check && exchange.reading && decode::isFault(*exchange.reading)) {
            raise(FaultReported);
            tell(port.label, tr("%1 reports a fault: %2").arg(name, sendoutput::result(exchange)));
        }
        break;
    case Outcome::Unanswered:
        raise(NotAnswered);
        tell(port.label,
             tr("%1 drew no reply within %2 ms").arg(name).arg(exchange.step.replyWindow.count()));
        break;
    case Outcome::Refused:
        raise(NotUnderstood);
        tell(port.label,
             tr("%1: the projector refused \"%2\" (ERR)").arg(name, QString::fromLatin1(exchange.step.text)));
        break;
    case Outcome::NotUnderstood:
        raise(NotUnderstood);
        tell(port.label,
             tr("%1: the reply \"%2\" is not one that \"%3\" draws")
                 .arg(name, sendoutput::readable(exchange.reply), QString::fromLatin1(exchange.step.text)));
        break;
    case Outcome::NotSent:
        // A repeating run tells the round as missed; a single one has told
        // the loss, which is port trouble.
        break;
    }
}

void SendRun::onLost(Port &port, const PortFailure &failure, bool waited)
{
    if (waited)
        port.away = true;
    else
        raise(PortTrouble);
    QString text = failure.description;
    if (!failure.hint.isEmpty())
        text += u'\n' + failure.hint;
    if (waited)
        text += u'\n' + tr("waiting for it to come back");
    tell(port.label, text);
}

void SendRun::tell(const QString &port, const QString &text)
{
    // A poll's messages say when, as a log's lines do.
    const QString lead =
        (m_request.every ? QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ' : QString()) +
        QStringLiteral("qvx-send: ") + port + QStringLiteral(": ");
    QString lines;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts))
        lines += lead + line + u'\n';
    m_errors.write(lines.toLocal8Bit());
}

void SendRun::raise(ExitStatus status)
{
    if (rankOf(status) > rankOf(m_status))
        m_status = status;
}

void SendRun::finish()
{
    if (std::exchange(m_finished, true))
        return;
    for (const auto &port : m_ports) {
        port->runner->close();
        port->line->close();
    }
    emit finished(exitStatus());
}
