// The readable form of the traffic that the panel's sent and received lines show.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Turns line text into its dump: a leading space, then one token per character.
// Printable characters from space to 'z' show as themselves followed by a space;
// ACK, CR and LF get names; code 20 shows as a lone '&'; everything else shows as "? ".
// The reply decoders take their fields from this text by position, so the token
// widths are part of the contract, not decoration.
//
// The dump is ASCII and is kept as bytes; the panel converts only what it shows.
class TrafficDump
{
public:
    // A dump covers at most this many characters of text (the length is a signed
    // 16-bit count); later characters add no tokens.
    static constexpr qsizetype kMaxCharacters = 32767;

    TrafficDump();

    static QByteArray of(QByteArrayView text);

    // Adds the tokens of the characters that just arrived, so that the cost of a
    // receive event follows the size of its batch, not of everything gathered.
    void append(QByteArrayView text);
    void clear();

    // Makes room for the longest dump, and keeps it when the dump is cleared, so
    // that no receive event has to move the text into a larger buffer.
    void reserveLongest();

    const QByteArray &text() const { return m_text; }
    qsizetype characters() const { return m_characters; }

private:
    QByteArray m_text;
    qsizetype m_characters = 0;
};
