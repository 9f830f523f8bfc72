// The readable form of the traffic that the panel's sent and received lines show.
#include "trafficdump.h"

#include <algorithm>

namespace {

constexpr unsigned char kAck = 6;
constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
// The projector's delimiter code shows as a bare '&' with no space behind it.
constexpr unsigned char kAmpersandCode = 20;
constexpr unsigned char kFirstShown = ' ';
constexpr unsigned char kLastShown = 'z';
// "ACK " is the widest token.
constexpr qsizetype kLongestText = 1 + 4 * TrafficDump::kMaxCharacters;

void appendToken(QByteArray &dump, unsigned char c)
{
    if (c == kAck)
        dump.append("ACK ");
    else if (c == kAmpersandCode)
        dump.append('&');
    else if (c == kCarriageReturn)
        dump.append("CR ");
    else if (c == kLineFeed)
        dump.append("LF ");
    else if (c < kFirstShown || c > kLastShown)
        dump.append("? ");
    else
        dump.append(char(c)).append(' ');
}

} // namespace

TrafficDump::TrafficDump()
    : m_text(" ")
{}

QByteArray TrafficDump::of(QByteArrayView text)
{
    TrafficDump dump;
    dump.append(text);
    return dump.m_text;
}

void TrafficDump::append(QByteArrayView text)
{
    const qsizetype take = std::min(text.size(), kMaxCharacters - m_characters);
    if (take <= 0)
        return;
    for (const char c : text.first(take))
        appendToken(m_text, static_cast<unsigned char>(c));
    m_characters += take;
}

void TrafficDump::clear()
{
    // The dump keeps the room it had. A text still shared with a line that
    // shows it is left to that line, and the dump takes new room of that size.
    const qsizetype room = m_text.capacity();
    m_text.truncate(1);
    m_text.reserve(room);
    m_characters = 0;
}

void TrafficDump::reserveLongest()
{
    m_text.reserve(kLongestText);
}
