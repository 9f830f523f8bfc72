// What answers the requests of a projector's PJLink connections.
#pragma once

#include "pjlinkprotocol.h"

#include <QByteArray>
#include <QObject>

#include <functional>

// The server reads, bounds and authenticates the lines of its connections;
// the responder answers each request, at once or once the projector's
// exchanges have run. In the daemon it is the projector's bridge; in tests, a
// stand-in.
class PjlinkResponder
{
public:
    // Takes the whole reply line, its CR included. Called once for each
    // request, never after forget() for its asker.
    using Done = std::function<void(const QByteArray &line)>;

    virtual ~PjlinkResponder() = default;

    // The asker is the connection, by which forget() knows its answers; it
    // waits for one answer at a time.
    virtual void answer(const pjlink::Request &request, const QObject *asker, Done done) = 0;
    // The asker has gone: its answers still to come are dropped.
    virtual void forget(const QObject *asker) = 0;
};
