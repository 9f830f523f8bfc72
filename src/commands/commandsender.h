// Sends the commands of the panel's buttons and boxes through the link engine.
#pragma once

#include "commandcatalogue.h"
#include "linkengine.h"

#include <QByteArray>
#include <QString>

// Carries out a click on a fixed-command button or on a button that sends the
// text of a box. Box texts go out exactly as typed: no trimming, no change of
// case, no check of range or length. ArgText keeps the last box text sent.
class CommandSender
{
public:
    explicit CommandSender(LinkEngine &link)
        : m_link(link)
    {}

    void send(const commands::FixedCommand &command);
    void send(const commands::TextCommand &command, const QString &boxText);

    const QByteArray &argText() const { return m_argText; }

private:
    void setWindows(commands::Timing timing);

    LinkEngine &m_link;
    QByteArray m_argText;
};
