// PJLink's commands on this projector: the steps each request sends, and its reply from what they brought
// back.
#pragma once

#include "exchange.h"
#include "pjlinkprotocol.h"
#include "scriptnames.h"
#include "venue.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

// What a request needs of the projector. No steps: the reply needs no
// exchange, and reply() takes none.
struct PjlinkPlan
{
    QList<commands::Step> steps;
    // A set: readings taken before it may no longer hold.
    bool changes = false;
};

// What the bridge tells of a projector beside what it reads from it.
struct PjlinkIdentity
{
    QByteArray name;
    // SNUM and SVER; ERR1 without them.
    std::optional<QByteArray> serialNumber;
    std::optional<QByteArray> softwareVersion;
};

// A PJLink input and the panel's button that selects it, by its script name
// and its caption, which INNM answers.
struct PjlinkInput
{
    std::string_view code;
    std::string_view scriptName;
    std::string_view caption;
};

inline constexpr std::array kPjlinkInputs{
    PjlinkInput{"11", "1-rgb", "1.RGB"},     PjlinkInput{"12", "2-rgb", "2.RGB"},
    PjlinkInput{"13", "3-rgb", "3.RGB"},     PjlinkInput{"21", "4-video", "4.VIDEO"},
    PjlinkInput{"22", "5-video", "5.VIDEO"},
};

// Whether every name is a script name that sends one command of the catalogue.
template <std::size_t N> consteval bool areScriptCommands(const std::array<std::string_view, N> &names)
{
    // By reference: GCC 12 takes the copy of an empty view in a constexpr table for a change to the table.
    return std::all_of(names.begin(), names.end(), [](const std::string_view &name) {
        return name.empty() ||
               std::any_of(commands::kScriptNames.begin(), commands::kScriptNames.end(),
                           [name](const commands::ScriptName &entry) {
                               return entry.name == name && (entry.kind == commands::ScriptKind::Fixed ||
                                                             entry.kind == commands::ScriptKind::Query);
                           });
    });
}

consteval bool inputsAreButtons()
{
    std::array<std::string_view, kPjlinkInputs.size()> names;
    std::transform(kPjlinkInputs.begin(), kPjlinkInputs.end(), names.begin(),
                   [](const PjlinkInput &input) { return input.scriptName; });
    return areScriptCommands(names);
}

static_assert(inputsAreButtons(), "each input is a button's script name");

// The name from the projector's "name" key, or its section's name without
// one; SNUM and SVER from "serial-number" and "software-version".
PjlinkIdentity identityOf(const Projector &projector);

// Answers PJLink for one projector, every connection's requests alike. The
// commands of class 1 are answered under either class digit, as the request
// gives it; those of class 2 (FREZ, INNM, SNUM, SVER) under "%2" only, and
// CLSS answers 2. It
// keeps the input and the freeze last set through the bridge, which the
// projector has no query for. Every other answer comes from the catalogue or
// from a reading of the projector's reply, and a request whose exchange
// brought none is answered with an error:
// - ERR3 when the command was not sent, went unanswered, or was refused
//   ("ERR"): the line is lost, or the projector is busy or in standby; and
//   for AVMT ? while the projector reports standby or no signal, where its
//   reply gives no mute state;
// - ERR4 when the projector answered out of the command's form, and for LAMP ?
//   when it counts more hours than PJLink carries (99999): its report is at
//   fault, and waiting will not mend it.
// POWR ? answers 0 or 1: no reading tells cooling or warming up. ERST ? gives
// the fan 2 for " Fan Err", the temperature 2 for " Temp High" (the status
// list keeps " Temperature Warning" apart from it), the lamp 1 for " Lamp
// Life 5% or less" and 2 for a lamp in Error.
class PjlinkMapping
{
public:
    explicit PjlinkMapping(PjlinkIdentity identity);

    PjlinkPlan plan(const pjlink::Request &request) const;
    // The reply line to the request, from the exchanges of its plan's steps,
    // found by their command texts in any order; a step without one counts as
    // not sent. An input or freeze set that the projector took is kept.
    QByteArray reply(const pjlink::Request &request, const QList<Exchange> &exchanges);
    // An exchange that another program ran on the line, such as the panel's
    // input button through the command port: an input or freeze the
    // projector took is kept as if set through PJLink.
    void note(const Exchange &exchange);

private:
    PjlinkIdentity m_identity;
    // By command: the parameter of the last set the projector took.
    QHash<QByteArray, QByteArray> m_lastSet;
};
