// The panel's palette and fonts, looked up by the keys of the layout table.
#pragma once

#include "layouttable.h"

#include <QColor>
#include <QFont>

namespace layout {

// The ground colour of a control; an invalid colour for Face and Field, which
// keep the platform's own button and text-box colours.
QColor groundOf(Colour colour);
// The text colour: black except for the two red-lettered labels.
QColor inkOf(Colour colour);

// The face named by the layout, with Japanese Gothic faces that are commonly
// installed as fallbacks. Sizes are set in pixels at 96 dots per inch, because
// the layout's geometry is fixed in those pixels: a font that grew with the
// screen's logical DPI would no longer fit its control.
QFont fontOf(Font font);

} // namespace layout
