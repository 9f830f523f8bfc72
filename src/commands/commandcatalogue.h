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
    Group group;
    std::string_view body;
    Timing timing;
};

inline constexpr std::size_t kBodyLength = 8;

using enum Group;
using enum Timing;

inline constexpr std::array kFixedCommands{
    FixedCommand{"Command17", Power, "POWR   1", Plain},
    FixedCommand{"Command18", Power, "POWR   0", Plain},
    FixedCommand{"Command27", Input, "IRGB   1", Plain},
    FixedCommand{"Command28", Input, "IRGB   2", Plain},
    FixedCommand{"Command42", Input, "IRGB   3", Plain},
    FixedCommand{"Command29", Input, "IVED   1", Plain},
    FixedCommand{"Command53", Input, "IVED   2", Plain},
    FixedCommand{"Command19", InsideSpeaker, "ASPK   1", Plain},
    FixedCommand{"Command20", InsideSpeaker, "ASPK   0", Plain},
    FixedCommand{"Command21", AvMute, "IMBK   1", Plain},
    FixedCommand{"Command22", AvMute, "IMBK   0", Plain},
    FixedCommand{"Command23", Osd, "IMDI   1", Plain},
    FixedCommand{"Command24", Osd, "IMDI   2", Plain},
    FixedCommand{"Command43", Osd, "IMDI   0", Plain},
    FixedCommand{"Command25", Freeze, "FREZ   1", Plain},
    FixedCommand{"Command26", Freeze, "FREZ   0", Plain},
    FixedCommand{"Command112", PictureInPicture, "PINP  11", Plain},
    FixedCommand{"Command113", PictureInPicture, "PINP   0", Plain},
    FixedCommand{"Command13", ImageAdjustment, "ADJS   1", Plain},
    FixedCommand{"Command56", LampSelect, "LPMD   0", Plain},
    FixedCommand{"Command57", LampSelect, "LPMD   1", Plain},
    FixedCommand{"Command58", LampSelect, "LPMD   2", Plain},
    FixedCommand{"Command50", LampSetting, "THMD   0", Plain},
    FixedCommand{"Command51", LampSetting, "THMD   1", Plain},
    FixedCommand{"Command44", StatusQuery, "TABN   1", Plain},
    FixedCommand{"Command60", StatusQuery, "TLPS   1", Plain},
    FixedCommand{"Command45", StatusQuery, "TLPS   2", Plain},
    FixedCommand{"Command46", StatusQuery, "TLTT   1", Plain},
    FixedCommand{"Command59", StatusQuery, "TLTT   2", Plain},
    FixedCommand{"Command63", GridRow1, "RASR   1", Grid},
    FixedCommand{"Command100", GridRow1, "RASR   2", Grid},
    FixedCommand{"Command64", GridRow1, "RASR   3", Grid},
    FixedCommand{"Command65", GridRow1, "RASR   4", Grid},
    FixedCommand{"Command66", GridRow1, "RASR   5", Grid},
    FixedCommand{"Command67", GridRow1, "RAPS  10", Grid},
    FixedCommand{"Command68", GridRow1, "RAPS  11", Grid},
    FixedCommand{"Command69", GridRow1, "RAPS  12", Grid},
    FixedCommand{"Command70", GridRow1, "RAPS  13", Grid},
    FixedCommand{"Command71", GridRow2, "RBSR   1", Grid},
    FixedCommand{"Command101", GridRow2, "RBSR   2", Grid},
    FixedCommand{"Command72", GridRow2, "RBSR   3", Grid},
    FixedCommand{"Command73", GridRow2, "RBSR   4", Grid},
    FixedCommand{"Command74", GridRow2, "RBSR   5", Grid},
    FixedCommand{"Command75", GridRow2, "RBPS  10", Grid},
    FixedCommand{"Command76", GridRow2, "RBPS  11", Grid},
    FixedCommand{"Command77", GridRow2, "RBPS  12", Grid},
    FixedCommand{"Command78", GridRow2, "RBPS  13", Grid},
    FixedCommand{"Command79", GridRow3, "RCSR   1", Grid},
    FixedCommand{"Command102", GridRow3, "RCSR   2", Grid},
    FixedCommand{"Command80", GridRow3, "RCSR   3", Grid},
    FixedCommand{"Command81", GridRow3, "RCSR   4", Grid},
    FixedCommand{"Command82", GridRow3, "RCSR   5", Grid},
    FixedCommand{"Command83", GridRow3, "RCPS  10", Grid},
    FixedCommand{"Command84", GridRow3, "RCPS  11", Grid},
    FixedCommand{"Command85", GridRow3, "RCPS  12", Grid},
    FixedCommand{"Command86", GridRow3, "RCPS  13", Grid},
    FixedCommand{"Command87", GridRow4, "RASV   1", Grid},
    FixedCommand{"Command103", GridRow4, "RASV   2", Grid},
    FixedCommand{"Command88", GridRow4, "RASV   3", Grid},
    FixedCommand{"Command89", GridRow4, "RASV   4", Grid},
    FixedCommand{"Command91", GridRow4, "VAPS  10", Grid},
    FixedCommand{"Command92", GridRow4, "VAPS  11", Grid},
    FixedCommand{"Command93", GridRow4, "VAPS  12", Grid},
    FixedCommand{"Command94", GridRow4, "VAPS  13", Grid},
    FixedCommand{"Command4", GridRow5, "RBSV   1", Grid},
    FixedCommand{"Command104", GridRow5, "RBSV   2", Grid},
    FixedCommand{"Command10", GridRow5, "RBSV   3", Grid},
    FixedCommand{"Command11", GridRow5, "RBSV   4", Grid},
    FixedCommand{"Command40", GridRow5, "VBPS  10", Grid},
    FixedCommand{"Command41", GridRow5, "VBPS  11", Grid},
    FixedCommand{"Command97", GridRow5, "VBPS  12", Grid},
    FixedCommand{"Command98", GridRow5, "VBPS  13", Grid},
};

// A button that sends the text of a box: the lead is put in front of it. The
// free-text line has no lead and its own windows. The limit is the most
// characters the operator can type into the box; 0 for none.
struct TextCommand
{
    std::string_view control;
    std::string_view box;
    std::string_view lead;
    Timing timing;
    int limit;
};

inline constexpr std::array kTextCommands{
    TextCommand{"Command105", "Text2", "VOLA  ", Plain, 2},
    TextCommand{"Command15", "Text6", "KEYV ", Plain, 3},
    TextCommand{"Command35", "Text5", "KEYH ", Plain, 3},
    TextCommand{"Command95", "Text1", "", FreeText, 0},
};

// A lens button, which sends its step while it is held. The code is what
// RepeatCode holds while the button is down; 0 means none is.
struct LensButton
{
    std::string_view control;
    std::uint8_t code;
    std::string_view step;
};

inline constexpr std::array kLensButtons{
    LensButton{"Command61", 7, "LNZO+001"},   LensButton{"Command62", 8, "LNZO-001"},
    LensButton{"Command106", 9, "LNFO+001"},  LensButton{"Command107", 10, "LNFO-001"},
    LensButton{"Command108", 21, "LNUD+001"}, LensButton{"Command109", 22, "LNUD-001"},
    LensButton{"Command111", 23, "LNLR-001"}, LensButton{"Command110", 24, "LNLR+001"},
};

// The row of a table whose control is the one given, or null.
template <typename Table, typename Control>
constexpr const auto *findControl(const Table &table, const Control &control)
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
