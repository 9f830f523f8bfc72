// PJLink's authentication of one connection: its greeting, and whether each of its lines may be answered.
#pragma once

#include "pjlinkprotocol.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// One per connection. With a password, the greeting carries a random value
// of 8 characters, and the digest that a controller puts in front of a
// request is md5hex(random + password), in hex of either case. Controllers
// differ in when they send it: once, on the first line, or on every line, so
// a line without one is admitted once an earlier line of the connection has
// carried the right one, and a line with one must carry the right one. The
// first line refused refuses the connection: it is answered kAuthError and
// closed, and no later line of it is admitted.
class PjlinkAuth
{
public:
    static constexpr qsizetype kRandomLength = 8;

    // No password admits every line. With one, the random value is drawn from
    // the system's secure source.
    explicit PjlinkAuth(std::optional<QByteArray> password);
    // With the random value given, for a test that knows its digest.
    PjlinkAuth(std::optional<QByteArray> password, QByteArray random);

    // "PJLINK 0" without a password, else "PJLINK 1 " and the random value; CR-ended.
    QByteArray greeting() const;
    // Whether a Request or Undefined line may be answered; false means: send
    // kAuthError and close the connection.
    bool admit(const pjlink::ParsedLine &line);
    bool isAuthenticated() const { return m_authenticated; }

    // 8 lower-case hex digits from QRandomGenerator::system(), the form of the
    // protocol's own example ("498e4a67").
    static QByteArray randomValue();
    // md5hex(random + password), lower case.
    static QByteArray digestOf(QByteArrayView random, QByteArrayView password);
    // Whether two texts are equal, in a time that depends on their length
    // alone: a wrong digest tells nothing of how much of it was right.
    static bool equalInConstantTime(QByteArrayView a, QByteArrayView b);

private:
    bool m_required = false;
    QByteArray m_random;
    QByteArray m_expected;
    bool m_authenticated = false;
    bool m_refused = false;
};
