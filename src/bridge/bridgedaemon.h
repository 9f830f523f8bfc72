// qvx-bridge's projectors, each with its line, its PJLink server and its command port.
#pragma once

#include "bridgeconfig.h"
#include "pjlinkconnection.h"
#include "pjlinkthrottle.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class ProjectorBridge;
class PjlinkServer;
class SerialLine;

// Serves the projectors it is given until it is destroyed. What happens goes
// to the log in the bridge's words: a line opened, lost and back, a
// controller refused and why. Nothing it logs holds a digest or a password.
class BridgeDaemon : public QObject
{
    Q_OBJECT

public:
    using LineMaker = std::function<std::unique_ptr<SerialLine>(const Endpoint &endpoint)>;
    using Log = std::function<void(const QString &line)>;

    BridgeDaemon(Log log, LineMaker makeLine = {}, QObject *parent = nullptr);
    ~BridgeDaemon() override;

    // Listens where each projector's section says and opens its line; false,
    // with why in *error, when an address cannot be listened on.
    bool start(const QList<BridgeConfig> &configs, QString *error);

    // For tests that listen on port 0: where each projector's server is.
    quint16 pjlinkPort(qsizetype projector) const;
    quint16 commandPort(qsizetype projector) const;

private:
    struct Served;
    struct Refusals
    {
        int count = 0;
        QElapsedTimer since;
    };

    static constexpr std::chrono::milliseconds kRefusalLogInterval{60'000};
    static constexpr qsizetype kMostRefusalKeys = 1024;

    void refused(const QString &label, const QHostAddress &source, PjlinkRefusal why);

    Log m_log;
    LineMaker m_makeLine;
    PjlinkThrottle m_throttle;
    std::vector<std::unique_ptr<Served>> m_served;
    // By projector, source and reason.
    QHash<QString, Refusals> m_refusals;
};
