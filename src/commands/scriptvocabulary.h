// What a script's words send: a name's command text, its reply window, and a held lens step's repeats.
#pragma once

#include "scriptnames.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>
#include <optional>

namespace commands {

// One command text to send, with how long its reply may take: the window the
// panel gives that command. A held lens step also waits its repeat before the
// step after it goes out, as a held button sends them.
struct Step
{
    // The script name it was asked by; empty for a command of another kind.
    QString name;
    // Without its carriage return.
    QByteArray text;
    std::chrono::milliseconds replyWindow{};
    std::chrono::milliseconds repeat{};
    // One of the queries of a summary ("status").
    bool summary = false;
};

// Free text is one line of printable ASCII: a line break would end the
// command early, and a character outside ASCII has no byte of its own on the
// line. The longest text is far above the longest command (11 characters)
// and keeps a mistyped script from sending a screenful.
inline constexpr qsizetype kLongestText = 64;
inline constexpr int kLongestVolume = 60;
inline constexpr int kWidestKeystone = 60;

// The row of the name, or null; names match whatever their case.
const ScriptName *findScriptName(QStringView name);
// The names nearest to a name that is not one, nearest first.
QStringList nearestNames(QStringView name, qsizetype count = 3);

// The text of a name's command, or nothing with the reason in *error. The
// value is the argument that follows a name that takes one: the volume 0 to
// 60, sent as two digits; a keystone from -60 to +60, sent as a sign and two
// digits; free text as it is.
std::optional<QByteArray> commandText(const ScriptName &name, QStringView value, QString *error);
// The command text --list shows for a name, its value as the name's form.
QByteArray listedText(const ScriptName &name);

// The steps a name sends with its command text: one, a summary's queries, or
// a lens step held for the given time, as a held button sends it: one at once,
// then one every repeat until the hold ends.
QList<Step> stepsOf(const ScriptName &name, const QByteArray &text, std::chrono::milliseconds hold);

// The step of a command text that another program sends, as the panel's
// control for that text would: a button's command with the button's window,
// the grid's long one included; a value box's command or a lens step with the
// plain window; any other text with the free line's. A button's or a query's
// text is named as scripts name it.
Step stepOfText(const QByteArray &text);

// Whether the text is one of the lens buttons' steps.
bool isLensStep(QByteArrayView text);

// Whether the projector acknowledges the command with ACK rather than answer
// it: a button's, a value box's or a lens step's command.
bool isAcknowledged(QByteArrayView text);

} // namespace commands
