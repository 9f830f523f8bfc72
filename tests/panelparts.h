// The parts of a panel that its widgets do not show, found among the window's children.
#pragma once

#include "holdrepeater.h"
#include "linkengine.h"
#include "panelwindow.h"

#include <QTimer>

namespace parts {

template <typename Part> Part &find(const PanelWindow &window, const QString &name = {})
{
    Part *part = window.findChild<Part *>(name);
    if (!part)
        qFatal("the panel has no %s %s", Part::staticMetaObject.className(), qPrintable(name));
    return *part;
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
