// PJLink's commands on this projector: the steps each request sends, and its reply from what they brought
// back.
#include "pjlinkmapping.h"

#include "codetables.h"
#include "scriptvocabulary.h"

#include <QString>

#include <utility>
#include <variant>

using pjlink::Error;
using pjlink::Request;

namespace {

// How a command's query is answered.
enum class Answer { Power, LastSet, Mute, Errors, Lamps, Inputs, Name, Text, InputName, Serial, Version };

struct CommandRow
{
    std::string_view command;
    // Answered in class 2 only; the others in either class, as the request's
    // class digit says.
    bool secondClass;
    Answer answer;
    // The queries its "?" sends, by script name, in this order.
    std::array<std::string_view, 3> asks = {};
    // An Answer::Text's answer.
    std::string_view text = {};
    qsizetype bound = pjlink::kLongestAnswer;
};

constexpr qsizetype kLongestName = 64;
constexpr qsizetype kLongestInfo = 32;

using enum Answer;

constexpr std::array kCommands{
    CommandRow{"POWR", false, Power, {"power-state"}},
    CommandRow{"INPT", false, LastSet},
    CommandRow{"AVMT", false, Mute, {"mute-signal"}},
    CommandRow{"ERST", false, Errors, {"pj-status", "l1-status", "l2-status"}},
    CommandRow{"LAMP", false, Lamps, {"lamp-pattern", "l1-time", "l2-time"}},
    CommandRow{"INST", false, Inputs},
    CommandRow{"NAME", false, Name, {}, {}, kLongestName},
    CommandRow{"INF1", false, Text, {}, "KELM", kLongestInfo},
    CommandRow{"INF2", false, Text, {}, "QVX-7300", kLongestInfo},
    CommandRow{"INFO", false, Text, {}, "QVX-7300/7300L", kLongestInfo},
    CommandRow{"CLSS", false, Text, {}, "2"},
    CommandRow{"INNM", true, InputName, {}, {}, kLongestName},
    CommandRow{"SNUM", true, Serial, {}, {}, kLongestInfo},
    CommandRow{"SVER", true, Version, {}, {}, kLongestInfo},
    CommandRow{"FREZ", true, LastSet},
};

// A set and the button whose command does it. INPT's sets are kPjlinkInputs.
struct SetRow
{
    std::string_view command;
    std::string_view parameter;
    std::string_view scriptName;
};

// AVMT 10, 11, 20 and 21 mute video or audio alone: the projector has no
// command for either.
constexpr std::array kSets{
    SetRow{"POWR", "0", "power-off"},    SetRow{"POWR", "1", "power-on"},
    SetRow{"AVMT", "30", "av-mute-off"}, SetRow{"AVMT", "31", "av-mute-on"},
    SetRow{"FREZ", "0", "freeze-off"},   SetRow{"FREZ", "1", "freeze-on"},
};

constexpr std::string_view kInputCommand = "INPT";
constexpr std::string_view kQuery = "?";

// ERST's six digits, in their order.
enum ErrorField : std::size_t { Fan, Lamp, Temperature, Cover, Filter, Other, kErrorFields };
constexpr char kFine = '0';
constexpr char kWarning = '1';
constexpr char kFailure = '2';

// What a projector status code says in ERST.
struct StatusError
{
    char code;
    ErrorField field;
    char level;
};

constexpr std::array kStatusErrors{
    StatusError{'1', Temperature, kFailure},
    StatusError{'2', Fan, kFailure},
    StatusError{'8', Lamp, kWarning},
};

// AVMT ?'s answers, by the video mute plus twice the audio mute, as the
// projector's own code counts them.
constexpr std::array<std::string_view, 4> kMuteAnswers{"30", "11", "21", "31"};

constexpr std::size_t kLamps = 4;
// The lamps whose hours the projector counts; the others are 0.
constexpr std::size_t kCountedLamps = 2;
constexpr qint64 kMostHours = 99999;

consteval bool commandsAreWellFormed()
{
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        if (kCommands[i].command.size() != std::size_t(pjlink::kCommandLength) ||
            !areScriptCommands(kCommands[i].asks) || kCommands[i].bound > pjlink::kLongestAnswer ||
            std::size_t(kCommands[i].bound) < kCommands[i].text.size())
            return false;
        for (std::size_t j = i + 1; j < kCommands.size(); ++j) {
            if (kCommands[j].command == kCommands[i].command)
                return false;
        }
    }
    return true;
}

consteval bool setsAreButtons()
{
    std::array<std::string_view, kSets.size()> names;
    std::transform(kSets.begin(), kSets.end(), names.begin(),
                   [](const SetRow &set) { return set.scriptName; });
    return areScriptCommands(names);
}

// Every status that a reading can give but Normal has its digit.
consteval bool statusErrorsAreTheReadableCodes()
{
    std::size_t readable = 0;
    for (const decode::CodeText &row : decode::kProjectorStatus) {
        if (row.code.size() != 1 || row.code == "0")
            continue;
        ++readable;
        if (std::none_of(kStatusErrors.begin(), kStatusErrors.end(),
                         [&](const StatusError &error) { return error.code == row.code[0]; }))
            return false;
    }
    return readable == kStatusErrors.size();
}

static_assert(commandsAreWellFormed(), "unique 4-character commands, script queries, answers within bounds");
static_assert(setsAreButtons(), "each set is a button's script name");
static_assert(statusErrorsAreTheReadableCodes(), "an ERST digit for each fault a status reading gives");

QByteArrayView viewOf(std::string_view text)
{
    return QByteArrayView(text.data(), qsizetype(text.size()));
}

const CommandRow *rowOf(const Request &request)
{
    const auto found = std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandRow &row) {
        return viewOf(row.command) == request.command && (!row.secondClass || request.classDigit == '2');
    });
    return found == kCommands.end() ? nullptr : &*found;
}

const PjlinkInput *inputOf(QByteArrayView code)
{
    const auto found = std::find_if(kPjlinkInputs.begin(), kPjlinkInputs.end(),
                                    [code](const PjlinkInput &input) { return viewOf(input.code) == code; });
    return found == kPjlinkInputs.end() ? nullptr : &*found;
}

// The script name of the set the request asks for, or empty.
std::string_view setOf(const Request &request)
{
    if (request.command == viewOf(kInputCommand)) {
        const PjlinkInput *input = inputOf(request.parameter);
        return input ? input->scriptName : std::string_view();
    }
    const auto found = std::find_if(kSets.begin(), kSets.end(), [&](const SetRow &set) {
        return viewOf(set.command) == request.command && viewOf(set.parameter) == request.parameter;
    });
    return found == kSets.end() ? std::string_view() : found->scriptName;
}

// INNM asks for the name of one input: "?" and the input.
bool isQuery(const CommandRow &row, QByteArrayView parameter)
{
    return row.answer == InputName ? parameter.startsWith(viewOf(kQuery)) : parameter == viewOf(kQuery);
}

commands::Step stepOf(std::string_view scriptName)
{
    const commands::ScriptName &entry =
        *commands::findScriptName(QString::fromLatin1(scriptName.data(), qsizetype(scriptName.size())));
    QString unused;
    return commands::stepsOf(entry, *commands::commandText(entry, {}, &unused), {}).constFirst();
}

Error errorOf(Outcome outcome)
{
    return outcome == Outcome::NotUnderstood ? Error::ProjectorFailure : Error::UnavailableTime;
}

const Exchange *exchangeOf(const QList<Exchange> &exchanges, const QByteArray &text)
{
    const auto found = std::find_if(exchanges.begin(), exchanges.end(),
                                    [&](const Exchange &exchange) { return exchange.step.text == text; });
    return found == exchanges.end() ? nullptr : &*found;
}

// An answer's text, or the error in its place.
using Result = std::variant<QByteArray, Error>;

// The readings of a row's queries in their order, or the error of the first that brought none.
using Readings = std::array<const decode::Reading *, 3>;

std::variant<Readings, Error> readingsOf(const CommandRow &row, const QList<Exchange> &exchanges)
{
    Readings readings{};
    for (std::size_t i = 0; i < row.asks.size() && !row.asks[i].empty(); ++i) {
        const Exchange *found = exchangeOf(exchanges, stepOf(row.asks[i]).text);
        if (!found)
            return errorOf(Outcome::NotSent);
        if (found->outcome != Outcome::Answered || !found->reading)
            return errorOf(found->outcome == Outcome::Answered ? Outcome::NotUnderstood : found->outcome);
        readings[i] = &*found->reading;
    }
    return readings;
}

template <typename Typed> const Typed *as(const decode::Reading *reading)
{
    return reading ? std::get_if<Typed>(reading) : nullptr;
}

Result powerAnswer(const Readings &readings)
{
    const auto *power = as<decode::PowerReading>(readings[0]);
    if (!power)
        return Error::ProjectorFailure;
    return QByteArray(power->on ? "1" : "0");
}

Result muteAnswer(const Readings &readings)
{
    const auto *mute = as<decode::MuteSignalReading>(readings[0]);
    if (!mute)
        return Error::ProjectorFailure;
    if (!mute->videoMute || !mute->audioMute)
        return Error::UnavailableTime;
    return viewOf(kMuteAnswers[std::size_t(*mute->videoMute) + 2 * std::size_t(*mute->audioMute)])
        .toByteArray();
}

Result errorsAnswer(const Readings &readings)
{
    const auto *status = as<decode::ProjectorStatusReading>(readings[0]);
    const auto *lamp1 = as<decode::LampStateReading>(readings[1]);
    const auto *lamp2 = as<decode::LampStateReading>(readings[2]);
    if (!status || !lamp1 || !lamp2)
        return Error::ProjectorFailure;
    QByteArray digits(kErrorFields, kFine);
    for (const StatusError &error : kStatusErrors) {
        if (error.code == status->code)
            digits[error.field] = error.level;
    }
    if (lamp1->state == decode::LampState::Error || lamp2->state == decode::LampState::Error)
        digits[Lamp] = kFailure;
    return digits;
}

Result lampsAnswer(const Readings &readings)
{
    const auto *pattern = as<decode::LampPatternReading>(readings[0]);
    const std::array<const decode::LampHoursReading *, kCountedLamps> hours{
        as<decode::LampHoursReading>(readings[1]), as<decode::LampHoursReading>(readings[2])};
    if (!pattern || !hours[0] || !hours[1])
        return Error::ProjectorFailure;
    QByteArrayList lamps;
    for (std::size_t i = 0; i < kLamps; ++i) {
        const qint64 counted = i < kCountedLamps ? hours[i]->hours : 0;
        if (counted > kMostHours)
            return Error::ProjectorFailure;
        lamps.append(QByteArray::number(counted) + ' ' + (pattern->on[i] ? '1' : '0'));
    }
    return lamps.join(' ');
}

Result inputsAnswer()
{
    QByteArrayList codes;
    for (const PjlinkInput &input : kPjlinkInputs)
        codes.append(viewOf(input.code).toByteArray());
    return codes.join(' ');
}

Result inputNameAnswer(QByteArrayView parameter)
{
    const PjlinkInput *input = inputOf(parameter.sliced(kQuery.size()));
    if (!input)
        return Error::OutOfParameter;
    return viewOf(input->caption).toByteArray();
}

Result textOrUndefined(const std::optional<QByteArray> &text)
{
    if (!text)
        return Error::Undefined;
    return *text;
}

// By command: the parameter of the last set the projector took.
using LastSets = QHash<QByteArray, QByteArray>;

Result lastSetAnswer(const LastSets &lastSets, const QByteArray &command)
{
    const auto last = lastSets.constFind(command);
    if (last == lastSets.cend())
        return Error::UnavailableTime;
    return *last;
}

Result setResult(const CommandRow &row, const Request &request, const QList<Exchange> &exchanges,
                 LastSets &lastSets)
{
    const std::string_view set = setOf(request);
    if (set.empty())
        return Error::OutOfParameter;
    const Exchange *exchange = exchangeOf(exchanges, stepOf(set).text);
    const Outcome outcome = exchange ? exchange->outcome : Outcome::NotSent;
    if (outcome != Outcome::Answered)
        return errorOf(outcome);
    if (row.answer == LastSet)
        lastSets.insert(request.command, request.parameter);
    return QByteArray("OK");
}

Result queryResult(const CommandRow &row, const Request &request, const QList<Exchange> &exchanges,
                   const PjlinkIdentity &identity, const LastSets &lastSets)
{
    const auto readings = readingsOf(row, exchanges);
    if (const Error *error = std::get_if<Error>(&readings))
        return *error;
    const Readings &read = std::get<Readings>(readings);
    switch (row.answer) {
    case Power:
        return powerAnswer(read);
    case LastSet:
        return lastSetAnswer(lastSets, request.command);
    case Mute:
        return muteAnswer(read);
    case Errors:
        return errorsAnswer(read);
    case Lamps:
        return lampsAnswer(read);
    case Inputs:
        return inputsAnswer();
    case Name:
        return identity.name;
    case Text:
        return viewOf(row.text).toByteArray();
    case InputName:
        return inputNameAnswer(request.parameter);
    case Serial:
        return textOrUndefined(identity.serialNumber);
    case Version:
        return textOrUndefined(identity.softwareVersion);
    }
    return Error::Undefined;
}

} // namespace

PjlinkIdentity identityOf(const Projector &projector)
{
    const auto text = [&](QStringView key) -> std::optional<QByteArray> {
        const VenueEntry *entry = projector.entry(key);
        return entry ? std::optional(entry->value.toUtf8()) : std::nullopt;
    };
    return {text(u"name").value_or(projector.name.toUtf8()), text(u"serial-number"),
            text(u"software-version")};
}

PjlinkMapping::PjlinkMapping(PjlinkIdentity identity)
    : m_identity(std::move(identity))
{}

PjlinkPlan PjlinkMapping::plan(const Request &request) const
{
    const CommandRow *row = rowOf(request);
    if (!row)
        return {};
    if (isQuery(*row, request.parameter)) {
        PjlinkPlan plan;
        for (const std::string_view name : row->asks) {
            if (!name.empty())
                plan.steps.append(stepOf(name));
        }
        return plan;
    }
    const std::string_view set = setOf(request);
    if (set.empty())
        return {};
    return {{stepOf(set)}, true};
}

void PjlinkMapping::note(const Exchange &exchange)
{
    if (exchange.outcome != Outcome::Answered)
        return;
    const auto took = [&](std::string_view command, std::string_view parameter, std::string_view scriptName) {
        if (stepOf(scriptName).text != exchange.step.text)
            return false;
        m_lastSet.insert(viewOf(command).toByteArray(), viewOf(parameter).toByteArray());
        return true;
    };
    for (const PjlinkInput &input : kPjlinkInputs) {
        if (took(kInputCommand, input.code, input.scriptName))
            return;
    }
    for (const SetRow &set : kSets) {
        const CommandRow *row = rowOf(Request{'2', viewOf(set.command).toByteArray(), {}});
        if (row && row->answer == LastSet && took(set.command, set.parameter, set.scriptName))
            return;
    }
}

QByteArray PjlinkMapping::reply(const Request &request, const QList<Exchange> &exchanges)
{
    const CommandRow *row = rowOf(request);
    if (!row)
        return pjlink::errorLine(request, Error::Undefined);
    const Result result = isQuery(*row, request.parameter)
                              ? queryResult(*row, request, exchanges, m_identity, m_lastSet)
                              : setResult(*row, request, exchanges, m_lastSet);
    if (const Error *error = std::get_if<Error>(&result))
        return pjlink::errorLine(request, *error);
    return pjlink::replyLine(request, std::get<QByteArray>(result), row->bound);
}
