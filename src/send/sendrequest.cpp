// What one call of qvx-send asks for, read from its command line.
#include "sendrequest.h"

#include "holdrepeater.h"
#include "linesettings.h"
#include "linkengine.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

using namespace std::chrono;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("qvx-send", text);
}

QString nameOf(const commands::ScriptName &entry)
{
    return QString::fromLatin1(entry.name.data(), qsizetype(entry.name.size()));
}

milliseconds replyWindowOf(commands::Timing timing)
{
    const auto windows = commands::windowsOf(timing);
    return windows ? windows->reply : LinkEngine::kReplyWindow;
}

// Seconds as a decimal number within the bounds, or nothing.
std::optional<milliseconds> secondsIn(const QString &text, milliseconds shortest, milliseconds longest)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds))
        return std::nullopt;
    const auto value = milliseconds(std::llround(seconds * 1000));
    if (value < shortest || value > longest)
        return std::nullopt;
    return value;
}

// The same steps as a held lens button: one at once, then one every repeat
// until the hold ends. While held, a step's reply window is as long as the
// repeat; the last one's is the window the panel gives after the release.
QList<SendStep> heldSteps(const QByteArray &text, milliseconds hold)
{
    const milliseconds repeat = HoldRepeater::kRepeat;
    const qsizetype count = std::max<qsizetype>(1, (hold.count() + repeat.count() - 1) / repeat.count());
    QList<SendStep> steps(count, SendStep{text, HoldRepeater::kHeldReplyWindow, repeat});
    steps.last() = SendStep{text, LinkEngine::kReplyWindow, {}};
    return steps;
}

qsizetype editDistance(QStringView a, QStringView b)
{
    QList<qsizetype> row(b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = std::exchange(row[0], i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype substitution = diagonal + (a[i - 1] != b[j - 1]);
            diagonal = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, substitution});
        }
    }
    return row[b.size()];
}

} // namespace

const commands::ScriptName *commands::findScriptName(QStringView name)
{
    for (const ScriptName &entry : kScriptNames) {
        if (name == QLatin1StringView(entry.name.data(), qsizetype(entry.name.size())))
            return &entry;
    }
    return nullptr;
}

std::optional<QByteArray> SendRequest::commandText(const commands::ScriptName &name, const QString &value,
                                                   QString *error)
{
    using commands::ScriptKind;
    const QByteArray source = QByteArray(name.source.data(), qsizetype(name.source.size()));
    switch (name.kind) {
    case ScriptKind::Fixed:
        return QByteArray(commands::findControl(commands::kFixedCommands, name.source)->body.data(),
                          commands::kBodyLength);
    case ScriptKind::Query:
        return source;
    case ScriptKind::Lens:
        return QByteArray(commands::findControl(commands::kLensButtons, name.source)->step.data(),
                          commands::kBodyLength);
    case ScriptKind::Value:
    case ScriptKind::Text:
        break;
    }
    const commands::TextCommand &command = *commands::findControl(commands::kTextCommands, name.source);
    // The panel's box takes no more than its limit; a line break would end the
    // command early and send the rest as a second one.
    if (command.limit > 0 && value.size() > command.limit) {
        *error = tr("%1 takes at most %2 characters, as the panel's box does, not \"%3\"")
                     .arg(nameOf(name))
                     .arg(command.limit)
                     .arg(value);
        return std::nullopt;
    }
    if (value.contains(u'\r') || value.contains(u'\n')) {
        *error = tr("%1 takes one line: a carriage return or line feed would end the command early")
                     .arg(nameOf(name));
        return std::nullopt;
    }
    // One byte per character, as the panel sends its boxes.
    return QByteArray(command.lead.data(), qsizetype(command.lead.size())) + value.toLatin1();
}

QStringList SendRequest::nearestNames(QStringView name, qsizetype count)
{
    std::vector<std::pair<qsizetype, QString>> ranked;
    for (const auto &entry : commands::kScriptNames) {
        const QString candidate = nameOf(entry);
        ranked.emplace_back(editDistance(name, candidate), candidate);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList nearest;
    for (qsizetype i = 0; i < count && i < qsizetype(ranked.size()); ++i)
        nearest.append(ranked[size_t(i)].second);
    return nearest;
}

std::optional<SendRequest> SendRequest::parse(const QStringList &arguments, QString *error)
{
    SendRequest request;
    request.settings = QString::fromLatin1(LineSettings::kText9600);
    struct Named
    {
        const commands::ScriptName *name;
        QString value;
    };
    QList<Named> named;
    const auto fail = [error](const QString &reason) {
        *error = reason;
        return std::nullopt;
    };

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        // The argument after an option or a name that takes one, whatever it
        // looks like: "keystone-v -05" is a value, not an option.
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        if (argument == u"--list" || argument == u"--help" || argument == u"-h" || argument == u"--version") {
            request.action = argument == u"--list"      ? Action::List
                             : argument == u"--version" ? Action::Version
                                                        : Action::Help;
            return request;
        }
        if (argument == u"--json" || argument == u"--dump") {
            (argument == u"--json" ? request.json : request.dump) = true;
        } else if (argument == u"--port") {
            const auto port = value();
            if (!port || port->isEmpty())
                return fail(tr("--port takes a device path, rfc2217://host:port or socket://host:port"));
            request.ports.append(*port);
        } else if (argument == u"--speed") {
            const auto speed = value();
            if (speed == u"9600")
                request.settings = QString::fromLatin1(LineSettings::kText9600);
            else if (speed == u"115200")
                request.settings = QString::fromLatin1(LineSettings::kText115200);
            else
                return fail(tr("--speed takes 9600 or 115200"));
        } else if (argument == u"--every") {
            const auto seconds = value();
            request.every = seconds ? secondsIn(*seconds, kShortestEvery, kLongestEvery) : std::nullopt;
            if (!request.every)
                return fail(tr("--every takes seconds from 0.1 to 86400"));
        } else if (argument == u"--count") {
            const auto rounds = value();
            bool ok = false;
            const int count = rounds ? rounds->toInt(&ok) : 0;
            if (!ok || count < 1)
                return fail(tr("--count takes a number of rounds from 1 on"));
            request.count = count;
        } else if (argument == u"--hold") {
            const auto seconds = value();
            const auto hold = seconds ? secondsIn(*seconds, {}, kLongestHold) : std::nullopt;
            if (!hold)
                return fail(tr("--hold takes seconds from 0 to 60"));
            request.hold = *hold;
        } else if (argument.startsWith(u"--")) {
            return fail(tr("unknown option %1").arg(argument));
        } else if (const commands::ScriptName *name = commands::findScriptName(argument)) {
            QString text;
            if (!name->value.empty()) {
                const auto given = value();
                if (!given)
                    return fail(tr("%1 takes a value: %1 %2")
                                    .arg(argument, QString::fromUtf8(name->value.data(),
                                                                     qsizetype(name->value.size()))));
                text = *given;
            }
            named.append({name, text});
        } else {
            return fail(tr("no command is named \"%1\"; the nearest are %2. qvx-send --list names them all.")
                            .arg(argument, nearestNames(argument).join(QStringLiteral(", "))));
        }
    }
    if (request.count && !request.every)
        return fail(tr("--count counts the rounds of --every"));
    if (named.isEmpty())
        return fail(tr("no command given; qvx-send --list names them all"));

    for (const Named &entry : named) {
        const auto text = commandText(*entry.name, entry.value, error);
        if (!text)
            return std::nullopt;
        using commands::ScriptKind;
        switch (entry.name->kind) {
        case ScriptKind::Fixed:
            request.steps.append(SendStep{
                *text,
                replyWindowOf(commands::findControl(commands::kFixedCommands, entry.name->source)->timing),
                {}});
            break;
        case ScriptKind::Query:
            request.steps.append(SendStep{*text, replyWindowOf(commands::Timing::FreeText), {}});
            break;
        case ScriptKind::Value:
        case ScriptKind::Text:
            request.steps.append(SendStep{
                *text,
                replyWindowOf(commands::findControl(commands::kTextCommands, entry.name->source)->timing),
                {}});
            break;
        case ScriptKind::Lens:
            request.steps.append(heldSteps(*text, request.hold));
            break;
        }
    }
    return request;
}
