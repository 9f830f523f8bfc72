// The panel's controls as data: one row per control, in the order they are built.
#pragma once

#include "commandcatalogue.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace layout {

enum class Kind { Frame, Button, Label, TextBox, Option, Picture };

// Palette of the panel. Face is the platform's own button colour, Field its own
// text-box colours.
enum class Colour { Grey, Green, Red, Cyan, Orange, White, Face, Field, GreyDarkRedText, WhiteRedText };

// Fonts by key: W is the window font; G is the fixed-pitch Gothic face, P its
// proportional variant; the number is the size, B bold.
enum class Font { W, G9, G9B, G10, G10B, P9, P9B, P10B };

// Notes: alignment of a label or text box, a label's border, the state a
// control starts in, and how many characters the operator may type into a box.
enum Note : unsigned {
    Left = 0,
    Centre = 1,
    Right = 2,
    AlignMask = 3,
    Boxed = 4,
    Hidden = 8,
    Selected = 16,
};

constexpr int kTypingLimitShift = 8;

constexpr unsigned typingLimit(int characters)
{
    return unsigned(characters) << kTypingLimitShift;
}

// 0 when the operator may type any number of characters.
constexpr int typingLimitOf(unsigned notes)
{
    return int(notes >> kTypingLimitShift);
}

// One control. Positions and sizes are in twips (15 twips are one pixel at
// 96 dots per inch), measured from the corner of the container: the window when
// container is empty, otherwise the named frame, border included. Tab is the
// position in the focus order; 0 for controls that take no focus.
struct ControlRow
{
    std::string_view name;
    Kind kind;
    std::string_view container;
    std::string_view caption;
    int left;
    int top;
    int width;
    int height;
    Colour colour;
    Font font;
    int tab;
    unsigned notes;
};

using enum Kind;
using enum Colour;
using enum Font;

// Group by group as the panel shows them, each frame before what it holds.
// Later rows lie in front of earlier ones, so the port group Frame8 covers the
// "COM" button when shown.
inline constexpr std::array kControls{
    // POWER group.
    ControlRow{"Frame1", Frame, "", "", 120, 240, 1695, 975, Grey, W, 0, 0},
    ControlRow{"Label1", Label, "Frame1", "POWER", 240, 240, 1095, 255, GreyDarkRedText, G9B, 0, Centre},
    ControlRow{"Command17", Button, "Frame1", "ON", 120, 600, 615, 300, Green, P9B, 1, 0},
    ControlRow{"Command18", Button, "Frame1", "OFF", 960, 600, 615, 300, Red, P9B, 16, 0},
    // Input group.
    ControlRow{"Frame2", Frame, "", "", 1920, 240, 3735, 975, Grey, W, 0, 0},
    ControlRow{"Label2", Label, "Frame2", "INPUT MODE SET", 120, 240, 1935, 255, Grey, G9B, 0, Centre},
    ControlRow{"Command53", Button, "Frame2", "5.VIDEO", 2640, 240, 975, 300, Cyan, P9B, 44, 0},
    ControlRow{"Command27", Button, "Frame2", "1.RGB", 120, 600, 735, 300, Cyan, P9B, 25, 0},
    ControlRow{"Command28", Button, "Frame2", "2.RGB", 840, 600, 735, 300, Cyan, P9B, 26, 0},
    ControlRow{"Command42", Button, "Frame2", "3.RGB", 1560, 600, 855, 300, Cyan, G9B, 98, 0},
    ControlRow{"Command29", Button, "Frame2", "4.VIDEO", 2640, 600, 975, 300, Cyan, P9B, 27, 0},
    // OSD group.
    ControlRow{"Frame6", Frame, "", "", 5760, 240, 1575, 975, Grey, W, 0, 0},
    ControlRow{"Label7", Label, "Frame6", "OSD", 360, 240, 975, 255, Grey, G9B, 0, Centre},
    ControlRow{"Command23", Button, "Frame6", "NOR.", 120, 600, 615, 300, Green, P9B, 21, 0},
    ControlRow{"Command24", Button, "Frame6", "A", 720, 600, 375, 300, Red, P9B, 22, 0},
    ControlRow{"Command43", Button, "Frame6", "B", 1080, 600, 375, 300, Red, G9B, 99, 0},
    // Lens-shift group.
    ControlRow{"Frame10", Frame, "", "", 7680, 600, 1692, 1935, Grey, W, 0, 0},
    ControlRow{"Label20", Label, "Frame10", "LENS SHIFT", 120, 240, 1455, 300, Grey, G9B, 0, Centre},
    ControlRow{"Command108", Button, "Frame10", "↑", 720, 720, 375, 250, Orange, W, 129, 0},
    ControlRow{"Command111", Button, "Frame10", "←", 240, 1080, 375, 250, Orange, W, 132, 0},
    ControlRow{"Command110", Button, "Frame10", "→", 1200, 1080, 375, 250, Orange, W, 131, 0},
    ControlRow{"Command109", Button, "Frame10", "↓", 720, 1440, 375, 250, Orange, W, 130, 0},
    // Inside SP group.
    ControlRow{"Frame3", Frame, "", "", 120, 1440, 1695, 855, Grey, W, 0, 0},
    ControlRow{"Label4", Label, "Frame3", "Inside SP", 120, 195, 1455, 300, Grey, G9B, 0, Centre},
    ControlRow{"Command19", Button, "Frame3", "ON", 120, 480, 615, 300, Green, P9B, 17, 0},
    ControlRow{"Command20", Button, "Frame3", "OFF", 960, 480, 615, 300, Red, P9B, 18, 0},
    // AV MUTE group.
    ControlRow{"Frame4", Frame, "", "", 2040, 1440, 1575, 855, Grey, W, 0, 0},
    ControlRow{"Label5", Label, "Frame4", "AV MUTE", 240, 240, 1095, 285, Grey, G9B, 0, Centre},
    ControlRow{"Command21", Button, "Frame4", "ON", 120, 480, 615, 300, Green, P9B, 19, 0},
    ControlRow{"Command22", Button, "Frame4", "OFF", 840, 480, 615, 300, Red, P9B, 20, 0},
    // FREEZE group.
    ControlRow{"Frame7", Frame, "", "", 3960, 1440, 1575, 855, Grey, W, 0, 0},
    ControlRow{"Label8", Label, "Frame7", "FREEZE", 120, 210, 1215, 285, Grey, G9B, 0, Centre},
    ControlRow{"Command25", Button, "Frame7", "ON", 120, 480, 615, 300, Green, P9B, 23, 0},
    ControlRow{"Command26", Button, "Frame7", "OFF", 840, 480, 615, 300, Red, P9B, 24, 0},
    // P in P group.
    ControlRow{"Frame12", Frame, "", "", 5760, 1440, 1575, 855, Grey, W, 0, 0},
    ControlRow{"Label33", Label, "Frame12", "P in P", 240, 240, 1095, 255, Grey, G9B, 0, Centre},
    ControlRow{"Command112", Button, "Frame12", "ON", 120, 480, 615, 300, Green, P9B, 134, 0},
    ControlRow{"Command113", Button, "Frame12", "OFF", 840, 480, 615, 300, Red, P9B, 135, 0},
    // Adjustment block.
    ControlRow{"Label3", Label, "", "VOL", 480, 2520, 495, 255, Grey, G9B, 0, Centre},
    ControlRow{"Label18", Label, "", "Keystone", 1680, 2520, 855, 255, Grey, G9B, 0, Left},
    ControlRow{"Label13", Label, "", "Zoom", 3840, 2520, 495, 255, Grey, P9B, 0, Left},
    ControlRow{"Label14", Label, "", "Focus", 4680, 2520, 615, 255, Grey, P9B, 0, Left},
    ControlRow{"Command105", Button, "", "send", 360, 2760, 615, 255, Green, G9, 114, 0},
    ControlRow{"Command15", Button, "", "V", 1440, 2760, 615, 255, Green, W, 116, 0},
    ControlRow{"Command35", Button, "", "H", 2280, 2760, 615, 255, Green, W, 118, 0},
    ControlRow{"Command61", Button, "", "+", 3840, 2760, 375, 315, Green, P9B, 125, 0},
    ControlRow{"Command106", Button, "", "+", 4800, 2760, 375, 315, Green, P9B, 127, 0},
    ControlRow{"Text2", TextBox, "", "00", 360, 3120, 615, 270, Field, G9B, 97, Centre | typingLimit(2)},
    ControlRow{"Text6", TextBox, "", "+00", 1440, 3120, 615, 270, Field, G9B, 113, Centre | typingLimit(3)},
    ControlRow{"Text5", TextBox, "", "+00", 2280, 3120, 615, 270, Field, G9B, 117, Centre | typingLimit(3)},
    ControlRow{"Command62", Button, "", "-", 3840, 3120, 375, 315, Red, P9B, 126, 0},
    ControlRow{"Command107", Button, "", "-", 4800, 3120, 375, 315, Red, P9B, 128, 0},
    ControlRow{"Label28", Label, "", "(00～60)", 360, 3480, 855, 255, Grey, G9, 0, Left},
    ControlRow{"Label30", Label, "", "(-60～+60)", 1680, 3480, 975, 255, Grey, G9, 0, Centre},
    // Lamp block.
    ControlRow{"Label19", Label, "", "LAMP SELECT", 6600, 3000, 1335, 255, Grey, P9B, 0, Left},
    ControlRow{"Command56", Button, "", "2 LAMP", 6600, 3240, 1440, 372, Cyan, G9, 45, 0},
    ControlRow{"Command57", Button, "", "No.1", 6600, 3600, 720, 372, Green, G9, 46, 0},
    ControlRow{"Command58", Button, "", "No.2", 7320, 3600, 720, 372, Red, G9, 47, 0},
    ControlRow{"Label32", Label, "", "LAMP", 6840, 4080, 1095, 255, Grey, P9B, 0, Centre},
    ControlRow{"Command50", Button, "", "Normal", 6600, 4320, 735, 255, Green, W, 120, 0},
    ControlRow{"Command51", Button, "", "Eco", 7320, 4320, 735, 255, Red, W, 121, 0},
    // Right column and port button.
    ControlRow{"Image1", Picture, "", "", 8160, 120, 1200, 390, Grey, W, 0, 0},
    ControlRow{"Command13", Button, "", "A-IMAGE", 8400, 3240, 975, 250, Cyan, G9, 14, 0},
    ControlRow{"Command16", Button, "", "END", 8400, 4320, 975, 375, Grey, G9B, 15, 0},
    ControlRow{"Command33", Button, "", "COM", 4080, 4200, 1815, 375, Face, P9, 28, 0},
    // Port group.
    ControlRow{"Frame8", Frame, "", "", 3480, 3600, 2775, 1185, Grey, W, 0, Hidden},
    ControlRow{"Option1", Option, "Frame8", "COM1", 240, 240, 1215, 255, Grey, G9B, 30, 0},
    ControlRow{"Option2", Option, "Frame8", "COM2", 1560, 240, 1095, 255, Grey, G9B, 31, 0},
    ControlRow{"Frame13", Frame, "Frame8", "", 120, 480, 2535, 615, Grey, W, 0, 0},
    ControlRow{"Option9", Option, "Frame13", "115200", 120, 240, 1095, 255, Grey, G9B, 52, 0},
    ControlRow{"Option10", Option, "Frame13", "9600", 1440, 240, 975, 300, Grey, G9B, 53, Selected},
    // Data panel.
    ControlRow{"Frame9", Frame, "", "", 45, 4920, 6312, 1290, Grey, W, 0, 0},
    ControlRow{"Label11", Label, "Frame9", "", 600, 180, 5610, 300, White, P10B, 0, Left | Boxed},
    ControlRow{"Label9", Label, "Frame9", "TXD", 105, 210, 390, 285, Grey, G9, 0, Right},
    ControlRow{"Label10", Label, "Frame9", "RXD", 60, 540, 450, 300, Grey, G9, 0, Right},
    ControlRow{"Label12", Label, "Frame9", "", 600, 540, 5616, 300, White, P10B, 0, Left | Boxed},
    ControlRow{"Label22", Label, "Frame9", "", 930, 900, 5295, 300, WhiteRedText, P9B, 0, Left | Boxed},
    ControlRow{"Label23", Label, "Frame9", "STATUS", 120, 1005, 795, 225, Grey, W, 0, Left},
    // Status buttons and data-panel switch.
    ControlRow{"Command34", Button, "", "データを表示する", 6615, 5040, 1200, 375, Grey, P9, 37, Hidden},
    ControlRow{"Command44", Button, "", "PJ-Status", 6480, 5640, 975, 255, Cyan, W, 40, 0},
    ControlRow{"Command46", Button, "", "L1-TIME", 7440, 5640, 975, 255, Cyan, W, 42, 0},
    ControlRow{"Command59", Button, "", "L2-TIME", 8400, 5640, 975, 255, Cyan, W, 123, 0},
    ControlRow{"Command60", Button, "", "L1-Status", 7440, 5880, 975, 255, Cyan, W, 124, 0},
    ControlRow{"Command45", Button, "", "L2-Status", 8400, 5880, 975, 255, Cyan, W, 41, 0},
    // Picture-mode grid.
    ControlRow{"Frame14", Frame, "", "", 0, 6720, 9375, 1560, Grey, W, 0, 0},
    ControlRow{"Label15", Label, "Frame14", "1", 120, 240, 255, 255, Grey, G9B, 0, Left},
    ControlRow{"Command63", Button, "Frame14", "Normal", 360, 240, 855, 255, Cyan, G9, 55, 0},
    ControlRow{"Command100", Button, "Frame14", "Stretch", 1200, 240, 975, 255, Cyan, G9, 108, 0},
    ControlRow{"Command64", Button, "Frame14", "D by D", 2160, 240, 735, 255, Cyan, G9, 56, 0},
    ControlRow{"Command65", Button, "Frame14", "Smart-St.", 2880, 240, 975, 255, Cyan, G9, 57, 0},
    ControlRow{"Command66", Button, "Frame14", "Full", 3840, 240, 975, 255, Cyan, G9, 58, 0},
    ControlRow{"Command67", Button, "Frame14", "Standard", 4920, 240, 975, 255, Cyan, G9, 59, 0},
    ControlRow{"Command68", Button, "Frame14", "Presentation", 5880, 240, 1455, 255, Cyan, G9, 60, 0},
    ControlRow{"Command69", Button, "Frame14", "Cinema", 7320, 240, 975, 255, Cyan, G9, 61, 0},
    ControlRow{"Command70", Button, "Frame14", "Custom", 8280, 240, 975, 255, Cyan, G9, 62, 0},
    ControlRow{"Label16", Label, "Frame14", "2", 120, 480, 255, 255, Grey, G9B, 0, Left},
    ControlRow{"Command71", Button, "Frame14", "Normal", 360, 480, 855, 255, Cyan, G9, 63, 0},
    ControlRow{"Command101", Button, "Frame14", "Stretch", 1200, 480, 975, 255, Cyan, G9, 109, 0},
    ControlRow{"Command72", Button, "Frame14", "D by D", 2160, 480, 735, 255, Cyan, G9, 64, 0},
    ControlRow{"Command73", Button, "Frame14", "Smart-St.", 2880, 480, 975, 255, Cyan, G9, 65, 0},
    ControlRow{"Command74", Button, "Frame14", "Full", 3840, 480, 975, 255, Cyan, G9, 66, 0},
    ControlRow{"Command75", Button, "Frame14", "Standard", 4920, 480, 975, 255, Cyan, G9, 67, 0},
    ControlRow{"Command76", Button, "Frame14", "Presentation", 5880, 480, 1455, 255, Cyan, G9, 96, 0},
    ControlRow{"Command77", Button, "Frame14", "Cinema", 7320, 480, 975, 255, Cyan, G9, 68, 0},
    ControlRow{"Command78", Button, "Frame14", "Custum", 8280, 480, 975, 255, Cyan, G9, 69, 0},
    ControlRow{"Label24", Label, "Frame14", "3", 120, 720, 255, 255, Grey, G9B, 0, Left},
    ControlRow{"Command79", Button, "Frame14", "Normal", 360, 720, 855, 255, Cyan, G9, 70, 0},
    ControlRow{"Command102", Button, "Frame14", "Stretch", 1200, 720, 975, 255, Cyan, G9, 110, 0},
    ControlRow{"Command80", Button, "Frame14", "D by D", 2160, 720, 735, 255, Cyan, G9, 71, 0},
    ControlRow{"Command81", Button, "Frame14", "Smart-St.", 2880, 720, 975, 255, Cyan, G9, 72, 0},
    ControlRow{"Command82", Button, "Frame14", "Full", 3840, 720, 975, 255, Cyan, G9, 73, 0},
    ControlRow{"Command83", Button, "Frame14", "Standard", 4920, 720, 975, 255, Cyan, G9, 74, 0},
    ControlRow{"Command84", Button, "Frame14", "Presentation", 5880, 720, 1455, 255, Cyan, G9, 75, 0},
    ControlRow{"Command85", Button, "Frame14", "Cinema", 7320, 720, 975, 255, Cyan, G9, 76, 0},
    ControlRow{"Command86", Button, "Frame14", "Custom", 8280, 720, 975, 255, Cyan, G9, 77, 0},
    ControlRow{"Label25", Label, "Frame14", "4", 120, 960, 255, 255, Grey, G9B, 0, Left},
    ControlRow{"Command87", Button, "Frame14", "Normal", 360, 960, 855, 255, Cyan, G9, 78, 0},
    ControlRow{"Command103", Button, "Frame14", "Stretch", 1200, 960, 975, 255, Cyan, G9, 111, 0},
    ControlRow{"Command88", Button, "Frame14", "Border", 2160, 960, 735, 255, Cyan, G9, 79, 0},
    ControlRow{"Command89", Button, "Frame14", "Smart-St.", 2880, 960, 975, 255, Cyan, G9, 80, 0},
    ControlRow{"Command91", Button, "Frame14", "Standard", 4920, 960, 975, 255, Cyan, G9, 81, 0},
    ControlRow{"Command92", Button, "Frame14", "Presentation", 5880, 960, 1455, 255, Cyan, G9, 82, 0},
    ControlRow{"Command93", Button, "Frame14", "Cinema", 7320, 960, 975, 255, Cyan, G9, 83, 0},
    ControlRow{"Command94", Button, "Frame14", "Custom", 8280, 960, 975, 255, Cyan, G9, 84, 0},
    ControlRow{"Label27", Label, "Frame14", "5", 120, 1200, 255, 255, Grey, G9B, 0, Left},
    ControlRow{"Command4", Button, "Frame14", "Normal", 360, 1200, 855, 255, Cyan, G9, 100, 0},
    ControlRow{"Command104", Button, "Frame14", "Stretch", 1200, 1200, 975, 255, Cyan, G9, 112, 0},
    ControlRow{"Command10", Button, "Frame14", "Border", 2160, 1200, 735, 255, Cyan, G9, 101, 0},
    ControlRow{"Command11", Button, "Frame14", "Smart-St.", 2880, 1200, 975, 255, Cyan, G9, 102, 0},
    ControlRow{"Command40", Button, "Frame14", "Standard", 4920, 1200, 975, 255, Cyan, G9, 103, 0},
    ControlRow{"Command41", Button, "Frame14", "Presentation", 5880, 1200, 1455, 255, Cyan, G9, 104, 0},
    ControlRow{"Command97", Button, "Frame14", "Cinema", 7320, 1200, 975, 255, Cyan, G9, 105, 0},
    ControlRow{"Command98", Button, "Frame14", "Custom", 8280, 1200, 975, 255, Cyan, G9, 106, 0},
    // Free-command line.
    ControlRow{"Frame15", Frame, "", "", 120, 8280, 7215, 570, Grey, W, 0, 0},
    ControlRow{"Text1", TextBox, "Frame15", "", 600, 165, 5055, 345, Field, G10B, 90, Left},
    ControlRow{"Label26", Label, "Frame15", "CMD", 120, 240, 495, 255, Grey, G10, 0, Left},
    ControlRow{"Command95", Button, "Frame15", "SEND", 5760, 240, 735, 255, Green, G9B, 91, 0},
    ControlRow{"Command96", Button, "Frame15", "CLS", 6480, 240, 615, 255, Red, G9B, 92, 0},

};

// A control of the layout: its row in kControls. Made from a name at compile
// time, so that a misspelt control fails the build instead of doing nothing.
class ControlId
{
public:
    template <std::size_t N>
    consteval ControlId(const char (&name)[N])
        : m_row(named(std::string_view(name, N - 1)).m_row)
    {}

    // The control of a name known only at run time, if the layout has one.
    static constexpr std::optional<ControlId> find(std::string_view name)
    {
        for (std::size_t row = 0; row < kControls.size(); ++row) {
            if (kControls[row].name == name)
                return ControlId(row);
        }
        return std::nullopt;
    }
    static consteval ControlId named(std::string_view name)
    {
        const auto id = find(name);
        if (!id)
            throw "the layout has no control of this name";
        return *id;
    }
    static constexpr ControlId ofRow(std::size_t row) { return ControlId(row); }

    constexpr std::size_t row() const { return m_row; }
    constexpr const ControlRow &layout() const { return kControls[m_row]; }

    friend constexpr bool operator==(ControlId, ControlId) = default;

private:
    explicit constexpr ControlId(std::size_t row)
        : m_row(row)
    {}

    std::size_t m_row;
};

// The row of each control's container; kForm for a control on the form itself.
inline constexpr std::size_t kForm = kControls.size();
inline constexpr auto kContainerRows = [] {
    std::array<std::size_t, kControls.size()> rows{};
    for (std::size_t row = 0; row < kControls.size(); ++row) {
        const auto container = ControlId::find(kControls[row].container);
        rows[row] = container ? container->row() : kForm;
    }
    return rows;
}();

// The table's own mistakes are build errors: a name used twice, a control
// placed in a container that is not a frame built before it, or a control of
// the command catalogue that the layout lacks or has as another kind.
consteval bool namesAreUnique()
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        for (std::size_t j = i + 1; j < kControls.size(); ++j) {
            if (kControls[i].name == kControls[j].name)
                return false;
        }
    }
    return true;
}

consteval bool containersComeFirst()
{
    for (std::size_t row = 0; row < kControls.size(); ++row) {
        const std::size_t container = kContainerRows[row];
        if (kControls[row].container.empty())
            continue;
        if (container == kForm || container >= row || kControls[container].kind != Frame)
            return false;
    }
    return true;
}

consteval bool isOfKind(std::string_view name, Kind kind)
{
    const auto id = ControlId::find(name);
    return id && id->layout().kind == kind;
}

consteval bool catalogueIsLaidOut()
{
    for (const auto &command : commands::kFixedCommands) {
        if (!isOfKind(command.control, Button))
            return false;
    }
    for (const auto &command : commands::kTextCommands) {
        if (!isOfKind(command.control, Button) || !isOfKind(command.box, TextBox) ||
            typingLimitOf(ControlId::named(command.box).layout().notes) != command.limit)
            return false;
    }
    for (const auto &button : commands::kLensButtons) {
        if (!isOfKind(button.control, Button))
            return false;
    }
    return true;
}

static_assert(namesAreUnique(), "every control has its own name");
static_assert(containersComeFirst(), "a container is a frame listed before its controls");
static_assert(catalogueIsLaidOut(),
              "every button and box of the command catalogue is in the layout, of its kind, "
              "with the catalogue's typing limit");

// The controls that the window handles itself.
namespace id {
inline constexpr ControlId kPortGroup = "Frame8";
inline constexpr ControlId kCom1 = "Option1";
inline constexpr ControlId kCom2 = "Option2";
inline constexpr ControlId kSpeed9600 = "Option10";
inline constexpr ControlId kSpeed115200 = "Option9";
inline constexpr ControlId kShowPortGroup = "Command33";
inline constexpr ControlId kDataSwitch = "Command34";
inline constexpr ControlId kEnd = "Command16";
inline constexpr ControlId kClearFreeText = "Command96";
inline constexpr ControlId kFreeText = "Text1";
inline constexpr ControlId kSentLine = "Label11";
inline constexpr ControlId kReceivedLine = "Label12";
inline constexpr ControlId kStatusLine = "Label22";
} // namespace id

inline constexpr int kTwipsPerPixel = 15;

// Twips to logical pixels, rounded to the nearest.
constexpr int pixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// Logical pixels to twips.
constexpr int twips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

} // namespace layout

namespace layout {

// What a control is for, for screen readers and test tools, where its caption
// says little on its own. Buttons of the command catalogue are described by the
// group that holds them.
struct Description
{
    ControlId control;
    std::string_view text;
};

inline constexpr std::array kDescriptions{
    Description{"Command61", "Zoom in"},
    Description{"Command62", "Zoom out"},
    Description{"Command106", "Focus plus"},
    Description{"Command107", "Focus minus"},
    Description{"Command108", "Lens shift up"},
    Description{"Command109", "Lens shift down"},
    Description{"Command111", "Lens shift left"},
    Description{"Command110", "Lens shift right"},
    Description{"Command105", "Send the volume"},
    Description{"Command15", "Send the vertical keystone"},
    Description{"Command35", "Send the horizontal keystone"},
    Description{"Text2", "Volume"},
    Description{"Text6", "Vertical keystone"},
    Description{"Text5", "Horizontal keystone"},
    Description{"Text1", "Command"},
    Description{"Command95", "Send the command"},
    Description{"Command96", "Clear the command"},
    Description{"Command33", "Choose the port and speed"},
    Description{"Command16", "Close the port and end"},
    Description{"Command34", "Show or hide the data panel"},
    Description{"Label11", "Sent"},
    Description{"Label12", "Received"},
    Description{"Label22", "Status"},
    Description{"Image1", "Double click for the full view"},
};

struct GroupDescription
{
    commands::Group group;
    std::string_view text;
};

inline constexpr std::array kGroupDescriptions{
    GroupDescription{commands::Group::Power, "Power"},
    GroupDescription{commands::Group::Input, "Input"},
    GroupDescription{commands::Group::InsideSpeaker, "Inside speaker"},
    GroupDescription{commands::Group::AvMute, "AV mute"},
    GroupDescription{commands::Group::Osd, "On-screen display"},
    GroupDescription{commands::Group::Freeze, "Freeze"},
    GroupDescription{commands::Group::PictureInPicture, "Picture in picture"},
    GroupDescription{commands::Group::ImageAdjustment, "Automatic image adjustment"},
    GroupDescription{commands::Group::LampSelect, "Lamp select"},
    GroupDescription{commands::Group::LampSetting, "Lamp"},
    GroupDescription{commands::Group::StatusQuery, "Status query"},
    GroupDescription{commands::Group::GridRow1, "Input 1 picture"},
    GroupDescription{commands::Group::GridRow2, "Input 2 picture"},
    GroupDescription{commands::Group::GridRow3, "Input 3 picture"},
    GroupDescription{commands::Group::GridRow4, "Input 4 picture"},
    GroupDescription{commands::Group::GridRow5, "Input 5 picture"},
};

} // namespace layout
