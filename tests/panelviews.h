// The panel's four views, known as the operator knows them: by what each one shows.
#pragma once

#include "layouttable.h"
#include "panelwindow.h"

#include <QString>

#include <algorithm>
#include <array>
#include <vector>

namespace views {

enum class View { Compact, Data, Service, Full };

// Every view is the same layout cut off at another height, so a view shows the
// controls that lie wholly within the window's client area, its lower edge cuts
// some, and the rest lie below it.
struct Look
{
    View view;
    std::vector<layout::ControlId> shown;
    std::vector<layout::ControlId> cut;
    std::vector<layout::ControlId> below;
};

inline const std::vector<layout::ControlId> kButtonGroups{"Frame1", "Frame2", "Frame6", "Frame10",
                                                          "Frame3", "Frame4", "Frame7", "Frame12"};
inline const std::vector<layout::ControlId> kStatusButtons{"Command44", "Command46", "Command59", "Command60",
                                                           "Command45"};
inline const std::vector<layout::ControlId> kTrafficLines{"Label11", "Label12", "Label22"};

template <typename... Lists> std::vector<layout::ControlId> joined(const Lists &...lists)
{
    std::vector<layout::ControlId> all;
    (all.insert(all.end(), lists.begin(), lists.end()), ...);
    return all;
}

// The data view differs from the service view only in cutting off the data
// panel's lower border; the status buttons and the switch show in both.
inline const std::array kLooks{
    Look{View::Compact,
         joined(kButtonGroups, std::vector<layout::ControlId>{"Image1", "Command33", "Command16", "Command56",
                                                              "Command50", "Text2"}),
         {},
         joined(kStatusButtons, std::vector<layout::ControlId>{"Frame9", "Command34", "Frame14", "Frame15"})},
    Look{View::Data,
         joined(kButtonGroups, kTrafficLines, kStatusButtons, std::vector<layout::ControlId>{"Command34"}),
         {"Frame9"},
         {"Frame14", "Frame15"}},
    Look{View::Service,
         joined(kButtonGroups, kTrafficLines, kStatusButtons,
                std::vector<layout::ControlId>{"Frame9", "Command34"}),
         {},
         {"Frame14", "Frame15"}},
    Look{View::Full,
         joined(kButtonGroups, kTrafficLines, kStatusButtons,
                std::vector<layout::ControlId>{"Frame9", "Command34", "Frame14", "Frame15", "Text1",
                                               "Command98"}),
         {},
         {}},
};

enum class Place { Shown, Cut, Below, Hidden };

// Where a control is in the window as it is now: a control that is not
// visible shows nowhere, wherever it lies.
inline Place placeOf(const PanelWindow &window, layout::ControlId control)
{
    const QWidget *widget = window.control(control);
    const QRect rect(widget->mapTo(&window, QPoint()), widget->size());
    const QRect client = window.rect();
    if (!client.intersects(rect))
        return Place::Below;
    if (!widget->isVisibleTo(&window))
        return Place::Hidden;
    return client.contains(rect) ? Place::Shown : Place::Cut;
}

// The controls that the window does not place as the view does, by name:
// empty when the window shows the view.
inline QString misplacedFor(const PanelWindow &window, View view)
{
    const Look &look =
        *std::find_if(kLooks.begin(), kLooks.end(), [&](const Look &row) { return row.view == view; });
    QStringList names;
    const auto check = [&](const std::vector<layout::ControlId> &controls, Place place) {
        for (const layout::ControlId control : controls) {
            if (placeOf(window, control) != place)
                names.append(
                    QString::fromUtf8(control.layout().name.data(), qsizetype(control.layout().name.size())));
        }
    };
    check(look.shown, Place::Shown);
    check(look.cut, Place::Cut);
    check(look.below, Place::Below);
    return names.join(u' ');
}

} // namespace views
