// What qvx-send prints: an exchange as a text line or as a JSON object, a summary, and the list of names.
#pragma once

#include "exchange.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
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

// What became of the command, for a person: the reading, the decoded status
// without its leading spaces, or the readable reply; or why there is none.
QString result(const Exchange &exchange);

// The lines for an exchange, each ending in a line feed: the command's name
// and its result, after the dump when asked for.
QByteArray format(const Exchange &exchange, const Style &style);

// One summary of the projector from a "status" round's exchanges: a line
// for each query, or one JSON object.
QByteArray summary(const QList<Exchange> &parts, const Style &style);

// Every name with the command text it sends, a line each.
QByteArray listing();

} // namespace sendoutput
