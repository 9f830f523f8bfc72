// PJLink's lines: a controller's request as it arrives, and the reply lines the bridge sends back.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// A request is "%", a class digit, a 4-character command, a space and a
// parameter, ended by CR; a digest of 32 hex digits may stand in front of it.
// A reply is "%", the request's class digit, the command, "=" and the answer,
// ended by CR, and goes out in one write.
namespace pjlink {

// The protocol allows 128 bytes of parameter. A line is too long beyond 136
// bytes, its CR not counted, or beyond 168 with a digest in front; a
// connection whose line grows past kLongestLine before its CR is closed.
inline constexpr qsizetype kLongestRequest = 136;
inline constexpr qsizetype kDigestLength = 32;
inline constexpr qsizetype kLongestLine = kLongestRequest + kDigestLength;
inline constexpr qsizetype kCommandLength = 4;
// No answer is longer than the longest parameter; NAME and the texts of
// INF1, INF2 and INFO have bounds of their own.
inline constexpr qsizetype kLongestAnswer = 128;
inline constexpr char kLineEnd = '\r';
// Sent in place of a reply to a wrong digest, or to a line without one
// before the connection has given the right one.
inline constexpr QByteArrayView kAuthError = "PJLINK ERRA\r";

// NUL bytes come from some controllers in the wild, and a LF after the CR
// from hand-made ones; neither means anything, so both are dropped wherever
// they stand, before the line is measured.
constexpr bool isIgnored(char byte)
{
    return byte == '\0' || byte == '\n';
}

struct Request
{
    char classDigit = '1';
    // Upper case: lower-case letters are taken as their upper-case ones, as
    // the reply names the command in upper case whatever the request wrote.
    QByteArray command;
    QByteArray parameter;
};

enum class LineKind {
    // A request to answer.
    Request,
    // A command in a class other than 1 or 2, or without the space before
    // its parameter: the reply is ERR1, as for a command the bridge does not
    // know.
    Undefined,
    // Nothing but ignored bytes: the bridge ignores the line.
    Empty,
    // No "%", class digit and command where a request begins: there is no
    // command to name in a reply, so the connection is closed.
    Malformed,
    // Beyond the bounds above: the connection is closed.
    TooLong,
};

struct ParsedLine
{
    LineKind kind = LineKind::Malformed;
    // The 32 hex digits in front of the request, in the case they came in.
    std::optional<QByteArray> digest;
    // For Request and Undefined lines; an Undefined one has no parameter.
    Request request;
};

// Reads a line as it came, without its CR.
ParsedLine parseLine(QByteArrayView line);

// In place of an answer: ERR1 undefined command, ERR2 out of parameter, ERR3
// unavailable time, ERR4 projector failure.
enum class Error { Undefined, OutOfParameter, UnavailableTime, ProjectorFailure };

// "%1POWR=1" and CR. The answer is cut to the bound, and each of its bytes
// that is no printable ASCII, or is '=', becomes '?': so a text from the
// venue file can neither end the line early nor be read as a second value.
QByteArray replyLine(const Request &request, QByteArrayView answer, qsizetype bound = kLongestAnswer);
QByteArray errorLine(const Request &request, Error error);

} // namespace pjlink
