// The parts of a panel that its widgets do not show, found among the window's children.
#pragma once

#include "holdrepeater.h"
#include "linkengine.h"
#include "panelwindow.h"

#include <QTimer>

#include <string>
#include <string_view>

namespace parts {

template <typename Part> Part &find(const PanelWindow &window, const QString &name = {})
{
    Part *part = window.findChild<Part *>(name);
    if (!part)
        qFatal("the panel has no %s %s", Part::staticMetaObject.className(), qPrintable(name));
    return *part;
}

// A control by a name known only at run time: a row of a table, or of a test's data.
template <typename T = QWidget> T *named(const PanelWindow &window, std::string_view name)
{
    const auto id = layout::ControlId::find(name);
    if (!id)
        qFatal("the layout has no control %s", std::string(name).c_str());
    return window.control<T>(*id);
}

inline LinkEngine &link(const PanelWindow &window)
{
    return find<LinkEngine>(window);
}

inline HoldRepeater &repeater(const PanelWindow &window)
{
    return find<HoldRepeater>(window);
}

// Timer3, which hides the port group again.
inline QTimer &portGroupTimer(const PanelWindow &window)
{
    return find<QTimer>(window, QStringLiteral("Timer3"));
}

} // namespace parts
