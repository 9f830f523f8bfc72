// qvx-bridge's projectors, each with its line, its PJLink server and its command port.
#include "bridgedaemon.h"

#include "anyline.h"
#include "pjlinkserver.h"
#include "projectorbridge.h"

namespace {

QString reasonOf(PjlinkRefusal why)
{
    switch (why) {
    case PjlinkRefusal::TooManyConnections:
        return BridgeDaemon::tr("too many connections");
    case PjlinkRefusal::TooManyFromAddress:
        return BridgeDaemon::tr("too many connections from that address");
    case PjlinkRefusal::WrongPassword:
        return BridgeDaemon::tr("wrong password");
    case PjlinkRefusal::LineTooLong:
        return BridgeDaemon::tr("a line longer than PJLink allows");
    case PjlinkRefusal::Malformed:
        return BridgeDaemon::tr("a line that is no PJLink request");
    case PjlinkRefusal::TooManyWaiting:
        break;
    }
    return BridgeDaemon::tr("too many requests without reading the replies");
}

} // namespace

struct BridgeDaemon::Served
{
    std::unique_ptr<ProjectorBridge> bridge;
    std::vector<std::unique_ptr<PjlinkServer>> servers;
};

void BridgeDaemon::refused(const QString &label, const QHostAddress &source, PjlinkRefusal why)
{
    // A storm of connections or guesses from one address is told once a
    // minute, with how many there were, so that it cannot flood the journal.
    const QString key = label + u' ' + source.toString() + u' ' + QString::number(int(why));
    Refusals &refusals = m_refusals[key];
    ++refusals.count;
    if (refusals.since.isValid() && refusals.since.elapsed() < kRefusalLogInterval.count())
        return;
    const QString times = refusals.count > 1 ? tr(" (%1 times)").arg(refusals.count) : QString();
    m_log(tr("%1: PJLink: %2 closed: %3%4").arg(label, source.toString(), reasonOf(why), times));
    refusals.count = 0;
    refusals.since.start();
    if (m_refusals.size() > kMostRefusalKeys)
        m_refusals.clear();
}

BridgeDaemon::BridgeDaemon(Log log, LineMaker makeLine, QObject *parent)
    : QObject(parent)
    , m_log(std::move(log))
    , m_makeLine(std::move(makeLine))
{
    if (!m_makeLine) {
        m_makeLine = [](const Endpoint &endpoint) {
            return std::make_unique<AnyLine>([text = endpoint.toString()](int) { return text; });
        };
    }
}

BridgeDaemon::~BridgeDaemon() = default;

bool BridgeDaemon::start(const QList<BridgeConfig> &configs, QString *error)
{
    for (const BridgeConfig &config : configs) {
        auto served = std::make_unique<Served>();
        served->bridge = std::make_unique<ProjectorBridge>(
            ProjectorBridge::Settings{config.label, config.settings, config.identity, config.statusAge,
                                      config.poll},
            m_makeLine(config.endpoint));
        connect(served->bridge.get(), &ProjectorBridge::said, this,
                [this](const QString &text) { m_log(text); });
        const QString label = config.label;
        for (const PjlinkAddress &address : config.pjlink) {
            auto server =
                std::make_unique<PjlinkServer>(address, config.password, *served->bridge, m_throttle);
            connect(server.get(), &PjlinkServer::refused, this,
                    [this, label](const QHostAddress &source, PjlinkRefusal why) {
                        refused(label, source, why);
                    });
            QString why;
            const auto said = connect(server.get(), &PjlinkServer::listenFailed, this,
                                      [&why](const QString &text) { why = text; });
            const bool listening = server->listen();
            disconnect(said);
            if (!listening) {
                *error = label + QStringLiteral(": ") + why;
                return false;
            }
            m_log(tr("%1: PJLink listens on %2, %3")
                      .arg(label, address.toString(),
                           config.password ? tr("with a password") : tr("without a password")));
            served->servers.push_back(std::move(server));
        }
        if (config.commands) {
            QString why;
            if (!served->bridge->listenForCommands(config.commands->host, config.commands->port, &why)) {
                *error = tr("%1: the command port cannot listen on %2: %3")
                             .arg(label, config.commands->toString(), why);
                return false;
            }
            m_log(tr("%1: the command port listens on %2%3")
                      .arg(label, config.commands->toString(),
                           config.commands->host.isLoopback()
                               ? QString()
                               : tr(", and takes the projector's commands from anyone who reaches it")));
        }
        served->bridge->start();
        m_served.push_back(std::move(served));
    }
    return true;
}

quint16 BridgeDaemon::pjlinkPort(qsizetype projector) const
{
    const auto &servers = m_served.at(std::size_t(projector))->servers;
    return servers.empty() ? 0 : servers.front()->port();
}

quint16 BridgeDaemon::commandPort(qsizetype projector) const
{
    return m_served.at(std::size_t(projector))->bridge->commandPort();
}
