// Builds the panel's controls from the layout table.
#pragma once

#include "layouttable.h"

#include <QString>

#include <array>
#include <string_view>

class QWidget;

namespace layout {

// The tables hold their texts as UTF-8; names and most captions are ASCII.
QString textOf(std::string_view text);

// The controls of a built panel, by their rows in the layout table.
using Controls = std::array<QWidget *, kControls.size()>;

// Creates one widget per row of the layout table inside its container (the form
// when the row names none), with the row's name as object name and its
// geometry, colours, font, caption, alignment, border, typing limit, visibility
// and accessible description; then sets the focus order and puts the focus on
// its first control. Lens rows become hold buttons, the other buttons flat panel
// buttons. Nothing is connected: the window wires each kind of control to its
// handler.
Controls buildControls(QWidget &form);

} // namespace layout
