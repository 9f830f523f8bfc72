// The panel's views, chosen by the window's height alone, and the hidden way to them.
#include "windowstates.h"

std::optional<WindowStates::Change> WindowStates::keyDown(int key, Qt::KeyboardModifiers modifiers)
{
    const auto held = modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (key != Qt::Key_H || held != Qt::ControlModifier)
        return std::nullopt;
    m_fullViewArmed = true;
    return Change{kServiceHeight, closeCaption()};
}

std::optional<WindowStates::Change> WindowStates::pictureDoubleClicked() const
{
    if (!m_fullViewArmed)
        return std::nullopt;
    return Change{kFullHeight, closeCaption()};
}

WindowStates::Change WindowStates::switchClicked(int height)
{
    m_fullViewArmed = false;
    if (height < kThreshold)
        return {kDataHeight, hideDataCaption()};
    return {kCompactHeight, showDataCaption()};
}
