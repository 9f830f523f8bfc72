// What qvx-send prints: an exchange as text lines or as a JSON object, and the list of names.
#pragma once

#include "portrun.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace sendoutput {

struct Style
{
    bool json = false;
    // The panel's TXD and RXD lines before the result.
    bool dump = false;
    // Every line starts with the port when several ports run, and with the
    // time when the list is repeated.
    bool withPort = false;
    bool withTime = false;
};

// A reply as one line of text: characters from space to '~' as they are,
// control characters by the names the dump gives them (ACK, CR, LF, &, ?),
// every other byte as '?', and the carriage return that ended it left out.
QString readable(QByteArrayView reply);

// The decoded status without its leading spaces, or the readable reply when
// no decoder applies; empty for a command that drew no reply.
QString result(const Exchange &exchange);

// The lines for an exchange, each ending in a line feed.
QByteArray format(const Exchange &exchange, const Style &style);

// Every name with the command text it sends, a line each.
QByteArray listing();

} // namespace sendoutput
