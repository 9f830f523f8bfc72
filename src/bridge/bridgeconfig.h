// What qvx-bridge serves of each projector, as its section of the venue file says.
#pragma once

#include "pjlinkmapping.h"
#include "pjlinkserver.h"
#include "venue.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

struct BridgeConfig
{
    // The section's name, by which the log names the projector.
    QString label;
    Endpoint endpoint;
    QString settings;
    PjlinkIdentity identity;
    // Where PJLink listens; none for no PJLink. IPv6's [::] takes IPv6 alone,
    // so a venue that wants both gives 0.0.0.0 and [::].
    QList<PjlinkAddress> pjlink;
    // Nothing: PJLink without a password.
    std::optional<QByteArray> password;
    std::optional<PjlinkAddress> commands;
    std::chrono::milliseconds statusAge{5000};
    std::optional<std::chrono::milliseconds> poll = std::chrono::milliseconds{30'000};

    // The projector's section read for the bridge. Every error found is
    // appended to *errors as "file:line: what is wrong"; nothing when there
    // was one. A password file is read here: it must exist and be closed to
    // everyone but its owner.
    static std::optional<BridgeConfig> of(const Venue &venue, const Projector &projector,
                                          QStringList *errors);
    // Every projector the venue file gives the bridge a pjlink or commands
    // key for, and each address listened on once; nothing, with the errors,
    // when any section has one. *skipped names the projectors without either.
    static std::optional<QList<BridgeConfig>> allOf(const Venue &venue, QStringList *errors,
                                                    QStringList *skipped);
};
