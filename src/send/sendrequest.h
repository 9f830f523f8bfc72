// What one call of qvx-send asks for, read from its command line.
#pragma once

#include "scriptnames.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// One command text to send, with how long its reply may take: the window the
// panel gives that command. A held lens step also waits its repeat before the
// step after it goes out, as a held button sends them.
struct SendStep
{
    QByteArray text;
    std::chrono::milliseconds replyWindow{};
    std::chrono::milliseconds repeat{};
};

struct SendRequest
{
    enum class Action { Send, List, Help, Version };

    Action action = Action::Send;
    // Endpoints as QVX_COM1 takes them; empty for QVX_COM1 itself.
    QStringList ports;
    QString settings;
    bool json = false;
    bool dump = false;
    // The whole list again every so often; the number of rounds, or none for
    // rounds until the program is told to end.
    std::optional<std::chrono::milliseconds> every;
    std::optional<int> count;
    std::chrono::milliseconds hold{};
    QList<SendStep> steps;

    static constexpr std::chrono::milliseconds kLongestEvery{std::chrono::hours(24)};
    static constexpr std::chrono::milliseconds kShortestEvery{100};
    static constexpr std::chrono::milliseconds kLongestHold{std::chrono::minutes(1)};

    // The request the arguments (without the program's name) ask for, or
    // nothing with the reason in *error.
    static std::optional<SendRequest> parse(const QStringList &arguments, QString *error);
    // The text of a name's command, or nothing with the reason in *error. The
    // value is the argument that follows a name that takes one.
    static std::optional<QByteArray> commandText(const commands::ScriptName &name, const QString &value,
                                                 QString *error);
    // The names nearest to a name that is not one, nearest first.
    static QStringList nearestNames(QStringView name, qsizetype count = 3);
};

namespace commands {
// The row of the name, or null.
const ScriptName *findScriptName(QStringView name);
} // namespace commands
