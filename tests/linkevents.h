// Waits that end on the link engine's own events.
#pragma once

#include "linkengine.h"

#include <QSignalSpy>

namespace linkevents {

// Whether the display window now open ends with nothing sent before it. After
// a lens button is let go this proves that no step followed: a step would
// open the window anew.
inline bool clearsWithNothingSent(LinkEngine &link, int timeoutMs = 10000)
{
    QSignalSpy sent(&link, &LinkEngine::commandSent);
    QSignalSpy cleared(&link, &LinkEngine::displayWindowEnded);
    return cleared.wait(timeoutMs) && sent.isEmpty();
}

} // namespace linkevents
