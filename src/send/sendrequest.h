// What one call of qvx-send asks for, read from its command line.
#pragma once

#include "scriptvocabulary.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// A port to run the commands on: as the user named it (a path, a URL or a
// projector of the venue file), the endpoint it leads to and its settings.
struct SendPort
{
    QString label;
    QString endpoint;
    QString settings;
};

struct SendRequest
{
    enum class Action { Send, List, Help, Version };

    Action action = Action::Send;
    // Empty for QVX_COM1 at 9600 bit/s.
    QList<SendPort> ports;
    bool json = false;
    bool dump = false;
    // A fault that a status reports is a status of its own.
    bool check = false;
    // The whole list again every so often; the number of rounds, or none for
    // rounds until the program is told to end.
    std::optional<std::chrono::milliseconds> every;
    std::optional<int> count;
    std::chrono::milliseconds hold{};
    QList<commands::Step> steps;

    static constexpr std::chrono::milliseconds kLongestEvery{std::chrono::hours(24)};
    static constexpr std::chrono::milliseconds kShortestEvery{100};
    static constexpr std::chrono::milliseconds kLongestHold{std::chrono::minutes(1)};

    // The request the arguments (without the program's name) ask for, or
    // nothing with the reason in *error. Projector names are looked up in the
    // venue file that --venue gives, or else in the one Venue finds.
    static std::optional<SendRequest> parse(const QStringList &arguments, QString *error);
};
