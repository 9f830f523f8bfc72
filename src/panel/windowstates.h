// The panel's views, chosen by the window's height alone, and the hidden way to them.
#pragma once

#include <QString>
#include <Qt>

#include <optional>

// Ctrl+H opens the service view, arms the full view and shows the data-panel
// switch (Command34) as "CLOSE"; a double click on the picture then opens the
// full view, but only while armed; the switch toggles between the compact and
// the data view and disarms. Heights are client heights in twips, so the views
// are the same whatever frame the platform draws round the window.
class WindowStates
{
public:
    static constexpr int kCompactHeight = 4870;
    static constexpr int kDataHeight = 6165;
    static constexpr int kServiceHeight = 6720;
    static constexpr int kFullHeight = 9015;
    // Below this the switch opens the data view, from it on the compact view.
    static constexpr int kThreshold = 5520;

    static QString showDataCaption() { return QStringLiteral("データを表示する"); }
    static QString hideDataCaption() { return QStringLiteral("データを表示しない"); }
    static QString closeCaption() { return QStringLiteral("CLOSE"); }

    // What an event does to the window: its new client height and the switch's
    // new caption. The switch, once shown, is never hidden again.
    struct Change
    {
        int height;
        QString caption;
    };

    // Ctrl alone with H, whatever the state; any other key changes nothing.
    std::optional<Change> keyDown(int key, Qt::KeyboardModifiers modifiers);
    std::optional<Change> pictureDoubleClicked() const;
    Change switchClicked(int height);

private:
    bool m_fullViewArmed = false;
};
