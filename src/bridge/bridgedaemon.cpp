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
    std::unique_ptr<PjlinkServer> server;
};

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
        if (config.pjlink) {
            served->server =
                std::make_unique<PjlinkServer>(*config.pjlink, config.password, *served->bridge, m_throttle);
            connect(served->server.get(), &PjlinkServer::refused, this,
                    [this, label](const QHostAddress &source, PjlinkRefusal why) {
                        m_log(tr("%1: PJLink: %2 closed: %3").arg(label, source.toString(), reasonOf(why)));
                    });
            QString why;
            const auto said = connect(served->server.get(), &PjlinkServer::listenFailed, this,
                                      [&why](const QString &text) { why = text; });
            const bool listening = served->server->listen();
            disconnect(said);
            if (!listening) {
                *error = label + QStringLiteral(": ") + why;
                return false;
            }
            m_log(tr("%1: PJLink listens on %2, %3")
                      .arg(label, config.pjlink->toString(),
                           config.password ? tr("with a password") : tr("without a password")));
        }
        if (config.commands) {
            QString why;
            if (!served->bridge->listenForCommands(config.commands->host, config.commands->port, &why)) {
                *error = tr("%1: the command port cannot listen on %2: %3")
                             .arg(label, config.commands->toString(), why);
                return false;
            }
            m_log(tr("%1: the command port listens on %2").arg(label, config.commands->toString()));
        }
        served->bridge->start();
        m_served.push_back(std::move(served));
    }
    return true;
}

quint16 BridgeDaemon::pjlinkPort(qsizetype projector) const
{
    const auto &server = m_served.at(std::size_t(projector))->server;
    return server ? server->port() : 0;
}

quint16 BridgeDaemon::commandPort(qsizetype projector) const
{
    return m_served.at(std::size_t(projector))->bridge->commandPort();
}
