// A command and what came back for it, judged: the answer to that command, or none.
#pragma once

#include "readings.h"
#include "scriptvocabulary.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// What became of a command. Only an answered command has a value; a reply
// that the projector refused (ERR) or whose form its decoder does not read is
// no answer to trust, and a command that was never sent has none at all.
enum class Outcome { Answered, Unanswered, Refused, NotUnderstood, NotSent };

// What a reply is taken to mean: its outcome, and for an answered query the
// panel's status text and the typed reading.
struct Verdict
{
    Outcome outcome = Outcome::NotUnderstood;
    std::optional<QByteArray> status;
    std::optional<decode::Reading> reading;
};

// Judges a reply (its carriage return included, when one came) to a command
// text (without its carriage return).
using ReplyJudge = std::function<Verdict(QByteArrayView command, QByteArrayView reply)>;

struct Exchange
{
    QString port;
    commands::Step step;
    // When the command went out, or was due to.
    QDateTime time;
    // Up to and including its carriage return, or what came before the reply
    // ran out of time.
    QByteArray reply;
    // What the line held before the send: characters that belong to no
    // command of this exchange, thrown away.
    QByteArray discarded;
    std::chrono::milliseconds replyTime{};
    Outcome outcome = Outcome::NotSent;
    std::optional<QByteArray> status;
    std::optional<decode::Reading> reading;

    // Whether anything came back, understood or not.
    bool heard() const { return !reply.isEmpty(); }
};

// The judge for the projector's replies: a decoded query is answered when its
// reply has the form its decoder reads, with the panel's text and the reading;
// a command that the projector acknowledges is answered by ACK; free text by
// any one line. "ERR" is a refusal; anything else is not understood.
Verdict judgeReply(QByteArrayView command, QByteArrayView reply);

// The outcome's name in output: "answered", "unanswered", "refused",
// "not-understood", "not-sent".
QString outcomeName(Outcome outcome);
