// Which control sends which command: the panel's command vocabulary as data.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace commands {

// What a control does to the reply and display windows before it sends: plain
// controls leave them as the last action set them, the picture-mode grid opens
// long windows for the projector's slow picture changes, and the free-text line
// windows of its own.
enum class Timing { Plain, Grid, FreeText };

struct Windows
{
    std::chrono::milliseconds reply;
    std::chrono::milliseconds display;
};

constexpr std::optional<Windows> windowsOf(Timing timing)
{
    using namespace std::chrono_literals;
    switch (timing) {
    case Timing::Grid:
        return Windows{5000ms, 5500ms};
    case Timing::FreeText:
        return Windows{2000ms, 2500ms};
    case Timing::Plain:
        break;
    }
    return std::nullopt;
}

// The group that holds a button on the panel, by the label that titles it.
enum class Group {
    Power,
    Input,
    InsideSpeaker,
    AvMute,
    Osd,
    Freeze,
    PictureInPicture,
    ImageAdjustment,
    LampSelect,
    LampSetting,
    StatusQuery,
    GridRow1,
    GridRow2,
    GridRow3,
    GridRow4,
    GridRow5,
};

// A button that sends one unchanging command when clicked. The body is a
// four-letter mnemonic and a four-character argument.
struct FixedCommand
{
    std::string_view control;
    std::string_view caption;
    Group group;
    std::string_view body;
    Timing timing;
};

inline constexpr std::size_t kBodyLength = 8;

using enum Group;
using enum Timing;

inline constexpr std::array kFixedCommands{
    FixedCommand{"Command17", "ON", Power, "POWR   1", Plain},
    FixedCommand{"Command18", "OFF", Power, "POWR   0", Plain},
    FixedCommand{"Command27", "1.RGB", Input, "IRGB   1", Plain},
    FixedCommand{"Command28", "2.RGB", Input, "IRGB   2", Plain},
    FixedCommand{"Command42", "3.RGB", Input, "IRGB   3", Plain},
    FixedCommand{"Command29", "4.VIDEO", Input, "IVED   1", Plain},
    FixedCommand{"Command53", "5.VIDEO", Input, "IVED   2", Plain},
    FixedCommand{"Command19", "ON", InsideSpeaker, "ASPK   1", Plain},
    FixedCommand{"Command20", "OFF", InsideSpeaker, "ASPK   0", Plain},
    FixedCommand{"Command21", "ON", AvMute, "IMBK   1", Plain},
    FixedCommand{"Command22", "OFF", AvMute, "IMBK   0", Plain},
    FixedCommand{"Command23", "NOR.", Osd, "IMDI   1", Plain},
    FixedCommand{"Command24", "A", Osd, "IMDI   2", Plain},
    FixedCommand{"Command43", "B", Osd, "IMDI   0", Plain},
    FixedCommand{"Command25", "ON", Freeze, "FREZ   1", Plain},
    FixedCommand{"Command26", "OFF", Freeze, "FREZ   0", Plain},
    FixedCommand{"Command112", "ON", PictureInPicture, "PINP  11", Plain},
    FixedCommand{"Command113", "OFF", PictureInPicture, "PINP   0", Plain},
    FixedCommand{"Command13", "A-IMAGE", ImageAdjustment, "ADJS   1", Plain},
    FixedCommand{"Command56", "2 LAMP", LampSelect, "LPMD   0", Plain},
    FixedCommand{"Command57", "No.1", LampSelect, "LPMD   1", Plain},
    FixedCommand{"Command58", "No.2", LampSelect, "LPMD   2", Plain},
    FixedCommand{"Command50", "Normal", LampSetting, "THMD   0", Plain},
    FixedCommand{"Command51", "Eco", LampSetting, "THMD   1", Plain},
    FixedCommand{"Command44", "PJ-Status", StatusQuery, "TABN   1", Plain},
    FixedCommand{"Command60", "L1-Status", StatusQuery, "TLPS   1", Plain},
    FixedCommand{"Command45", "L2-Status", StatusQuery, "TLPS   2", Plain},
    FixedCommand{"Command46", "L1-TIME", StatusQuery, "TLTT   1", Plain},
    FixedCommand{"Command59", "L2-TIME", StatusQuery, "TLTT   2", Plain},
    FixedCommand{"Command63", "Normal", GridRow1, "RASR   1", Grid},
    FixedCommand{"Command100", "Stretch", GridRow1, "RASR   2", Grid},
    FixedCommand{"Command64", "D by D", GridRow1, "RASR   3", Grid},
    FixedCommand{"Command65", "Smart-St.", GridRow1, "RASR   4", Grid},
    FixedCommand{"Command66", "Full", GridRow1, "RASR   5", Grid},
    FixedCommand{"Command67", "Standard", GridRow1, "RAPS  10", Grid},
    FixedCommand{"Command68", "Presentation", GridRow1, "RAPS  11", Grid},
    FixedCommand{"Command69", "Cinema", GridRow1, "RAPS  12", Grid},
    FixedCommand{"Command70", "Custom", GridRow1, "RAPS  13", Grid},
    FixedCommand{"Command71", "Normal", GridRow2, "RBSR   1", Grid},
    FixedCommand{"Command101", "Stretch", GridRow2, "RBSR   2", Grid},
    FixedCommand{"Command72", "D by D", GridRow2, "RBSR   3", Grid},
    FixedCommand{"Command73", "Smart-St.", GridRow2, "RBSR   4", Grid},
    FixedCommand{"Command74", "Full", GridRow2, "RBSR   5", Grid},
    FixedCommand{"Command75", "Standard", GridRow2, "RBPS  10", Grid},
    FixedCommand{"Command76", "Presentation", GridRow2, "RBPS  11", Grid},
    FixedCommand{"Command77", "Cinema", GridRow2, "RBPS  12", Grid},
    FixedCommand{"Command78", "Custum", GridRow2, "RBPS  13", Grid},
    FixedCommand{"Command79", "Normal", GridRow3, "RCSR   1", Grid},
    FixedCommand{"Command102", "Stretch", GridRow3, "RCSR   2", Grid},
    FixedCommand{"Command80", "D by D", GridRow3, "RCSR   3", Grid},
    FixedCommand{"Command81", "Smart-St.", GridRow3, "RCSR   4", Grid},
    FixedCommand{"Command82", "Full", GridRow3, "RCSR   5", Grid},
    FixedCommand{"Command83", "Standard", GridRow3, "RCPS  10", Grid},
    FixedCommand{"Command84", "Presentation", GridRow3, "RCPS  11", Grid},
    FixedCommand{"Command85", "Cinema", GridRow3, "RCPS  12", Grid},
    FixedCommand{"Command86", "Custom", GridRow3, "RCPS  13", Grid},
    FixedCommand{"Command87", "Normal", GridRow4, "RASV   1", Grid},
    FixedCommand{"Command103", "Stretch", GridRow4, "RASV   2", Grid},
    FixedCommand{"Command88", "Border", GridRow4, "RASV   3", Grid},
    FixedCommand{"Command89", "Smart-St.", GridRow4, "RASV   4", Grid},
    FixedCommand{"Command91", "Standard", GridRow4, "VAPS  10", Grid},
    FixedCommand{"Command92", "Presentation", GridRow4, "VAPS  11", Grid},
    FixedCommand{"Command93", "Cinema", GridRow4, "VAPS  12", Grid},
    FixedCommand{"Command94", "Custom", GridRow4, "VAPS  13", Grid},
    FixedCommand{"Command4", "Normal", GridRow5, "RBSV   1", Grid},
    FixedCommand{"Command104", "Stretch", GridRow5, "RBSV   2", Grid},
    FixedCommand{"Command10", "Border", GridRow5, "RBSV   3", Grid},
    FixedCommand{"Command11", "Smart-St.", GridRow5, "RBSV   4", Grid},
    FixedCommand{"Command40", "Standard", GridRow5, "VBPS  10", Grid},
    FixedCommand{"Command41", "Presentation", GridRow5, "VBPS  11", Grid},
    FixedCommand{"Command97", "Cinema", GridRow5, "VBPS  12", Grid},
    FixedCommand{"Command98", "Custom", GridRow5, "VBPS  13", Grid},
};

// A button that sends the text of a box: the lead is put in front of it. The
// free-text line has no lead and its own windows.
struct TextCommand
{
    std::string_view control;
    std::string_view box;
    std::string_view lead;
    Timing timing;
};

inline constexpr std::array kTextCommands{
    TextCommand{"Command105", "Text2", "VOLA  ", Plain},
    TextCommand{"Command15", "Text6", "KEYV ", Plain},
    TextCommand{"Command35", "Text5", "KEYH ", Plain},
    TextCommand{"Command95", "Text1", "", FreeText},
};

// A lens button, which sends its step while it is held. The code is what
// RepeatCode holds while the button is down; 0 means none is.
struct LensButton
{
    std::string_view control;
    std::string_view caption;
    std::uint8_t code;
    std::string_view step;
};

inline constexpr std::array kLensButtons{
    LensButton{"Command61", "+", 7, "LNZO+001"},   LensButton{"Command62", "-", 8, "LNZO-001"},
    LensButton{"Command106", "+", 9, "LNFO+001"},  LensButton{"Command107", "-", 10, "LNFO-001"},
    LensButton{"Command108", "↑", 21, "LNUD+001"}, LensButton{"Command109", "↓", 22, "LNUD-001"},
    LensButton{"Command111", "←", 23, "LNLR-001"}, LensButton{"Command110", "→", 24, "LNLR+001"},
};

// The row of a table whose control is the one given, or null.
template <typename Table, typename Control>
const auto *findControl(const Table &table, const Control &control)
{
    for (const auto &row : table) {
        if (row.control == control)
            return &row;
    }
    return static_cast<const typename Table::value_type *>(nullptr);
}

// The tables' own mistakes are build errors.
consteval bool fixedCommandsAreWellFormed()
{
    std::size_t grid = 0;
    for (std::size_t i = 0; i < kFixedCommands.size(); ++i) {
        const FixedCommand &entry = kFixedCommands[i];
        if (entry.body.size() != kBodyLength)
            return false;
        if ((entry.timing == Grid) != (entry.group >= GridRow1))
            return false;
        grid += entry.timing == Grid;
        for (std::size_t j = i + 1; j < kFixedCommands.size(); ++j) {
            if (kFixedCommands[j].control == entry.control)
                return false;
        }
    }
    return grid == 43;
}

consteval bool lensButtonsAreWellFormed()
{
    for (std::size_t i = 0; i < kLensButtons.size(); ++i) {
        if (kLensButtons[i].step.size() != kBodyLength || kLensButtons[i].code == 0)
            return false;
        for (std::size_t j = i + 1; j < kLensButtons.size(); ++j) {
            if (kLensButtons[j].code == kLensButtons[i].code ||
                kLensButtons[j].control == kLensButtons[i].control)
                return false;
        }
    }
    return true;
}

static_assert(kFixedCommands.size() == 72, "29 plain buttons and 43 in the picture-mode grid");
static_assert(fixedCommandsAreWellFormed(), "unique controls, 8-character bodies, grid timing for the grid");
static_assert(lensButtonsAreWellFormed(), "unique controls and codes, 8-character steps");

} // namespace commands
