// The names by which scripts send the panel's commands.
#pragma once

#include "commandcatalogue.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace commands {

// What a name sends: a fixed button's command, a decoded query that the panel
// reaches only through its free line, a value button's command with the value
// that follows the name, the free line's text, a lens button's step, or every
// decoded query once, for one summary of the projector.
enum class ScriptKind { Fixed, Query, Value, Text, Lens, Summary };

// A name is the button's caption in lower case, its words joined by '-' and
// its dots dropped, with the group in front where the caption alone does not
// say which button it is. The grid's names are a row and its picture mode.
// The source is the control for buttons, and the command text for queries.
struct ScriptName
{
    std::string_view name;
    ScriptKind kind;
    std::string_view source;
    // How the value is written on --list; empty for names that take none.
    std::string_view value = {};
};

using enum ScriptKind;

inline constexpr std::array kScriptNames{
    ScriptName{"power-on", Fixed, "Command17"},
    ScriptName{"power-off", Fixed, "Command18"},
    ScriptName{"1-rgb", Fixed, "Command27"},
    ScriptName{"2-rgb", Fixed, "Command28"},
    ScriptName{"3-rgb", Fixed, "Command42"},
    ScriptName{"4-video", Fixed, "Command29"},
    ScriptName{"5-video", Fixed, "Command53"},
    ScriptName{"speaker-on", Fixed, "Command19"},
    ScriptName{"speaker-off", Fixed, "Command20"},
    ScriptName{"av-mute-on", Fixed, "Command21"},
    ScriptName{"av-mute-off", Fixed, "Command22"},
    ScriptName{"osd-nor", Fixed, "Command23"},
    ScriptName{"osd-a", Fixed, "Command24"},
    ScriptName{"osd-b", Fixed, "Command43"},
    ScriptName{"freeze-on", Fixed, "Command25"},
    ScriptName{"freeze-off", Fixed, "Command26"},
    ScriptName{"p-in-p-on", Fixed, "Command112"},
    ScriptName{"p-in-p-off", Fixed, "Command113"},
    ScriptName{"a-image", Fixed, "Command13"},
    ScriptName{"lamp-select-2-lamp", Fixed, "Command56"},
    ScriptName{"lamp-select-no-1", Fixed, "Command57"},
    ScriptName{"lamp-select-no-2", Fixed, "Command58"},
    ScriptName{"lamp-normal", Fixed, "Command50"},
    ScriptName{"lamp-eco", Fixed, "Command51"},
    ScriptName{"pj-status", Fixed, "Command44"},
    ScriptName{"l1-status", Fixed, "Command60"},
    ScriptName{"l2-status", Fixed, "Command45"},
    ScriptName{"l1-time", Fixed, "Command46"},
    ScriptName{"l2-time", Fixed, "Command59"},
    ScriptName{"1-normal", Fixed, "Command63"},
    ScriptName{"1-stretch", Fixed, "Command100"},
    ScriptName{"1-d-by-d", Fixed, "Command64"},
    ScriptName{"1-smart-st", Fixed, "Command65"},
    ScriptName{"1-full", Fixed, "Command66"},
    ScriptName{"1-standard", Fixed, "Command67"},
    ScriptName{"1-presentation", Fixed, "Command68"},
    ScriptName{"1-cinema", Fixed, "Command69"},
    ScriptName{"1-custom", Fixed, "Command70"},
    ScriptName{"2-normal", Fixed, "Command71"},
    ScriptName{"2-stretch", Fixed, "Command101"},
    ScriptName{"2-d-by-d", Fixed, "Command72"},
    ScriptName{"2-smart-st", Fixed, "Command73"},
    ScriptName{"2-full", Fixed, "Command74"},
    ScriptName{"2-standard", Fixed, "Command75"},
    ScriptName{"2-presentation", Fixed, "Command76"},
    ScriptName{"2-cinema", Fixed, "Command77"},
    // The button reads "Custum"; the picture mode is the row's Custom.
    ScriptName{"2-custom", Fixed, "Command78"},
    ScriptName{"3-normal", Fixed, "Command79"},
    ScriptName{"3-stretch", Fixed, "Command102"},
    ScriptName{"3-d-by-d", Fixed, "Command80"},
    ScriptName{"3-smart-st", Fixed, "Command81"},
    ScriptName{"3-full", Fixed, "Command82"},
    ScriptName{"3-standard", Fixed, "Command83"},
    ScriptName{"3-presentation", Fixed, "Command84"},
    ScriptName{"3-cinema", Fixed, "Command85"},
    ScriptName{"3-custom", Fixed, "Command86"},
    ScriptName{"4-normal", Fixed, "Command87"},
    ScriptName{"4-stretch", Fixed, "Command103"},
    ScriptName{"4-border", Fixed, "Command88"},
    ScriptName{"4-smart-st", Fixed, "Command89"},
    ScriptName{"4-standard", Fixed, "Command91"},
    ScriptName{"4-presentation", Fixed, "Command92"},
    ScriptName{"4-cinema", Fixed, "Command93"},
    ScriptName{"4-custom", Fixed, "Command94"},
    ScriptName{"5-normal", Fixed, "Command4"},
    ScriptName{"5-stretch", Fixed, "Command104"},
    ScriptName{"5-border", Fixed, "Command10"},
    ScriptName{"5-smart-st", Fixed, "Command11"},
    ScriptName{"5-standard", Fixed, "Command40"},
    ScriptName{"5-presentation", Fixed, "Command41"},
    ScriptName{"5-cinema", Fixed, "Command97"},
    ScriptName{"5-custom", Fixed, "Command98"},
    ScriptName{"power-state", Query, "POWR????"},
    ScriptName{"reversal", Query, "CR4"},
    ScriptName{"temperatures", Query, "CR6"},
    ScriptName{"lamp-pattern", Query, "CR7"},
    ScriptName{"echo", Query, "CR9"},
    ScriptName{"mute-signal", Query, "CRA"},
    ScriptName{"pressure", Query, "CR PRESSURE"},
    ScriptName{"volume", Value, "Command105", "NN"},
    ScriptName{"keystone-v", Value, "Command15", "±NN"},
    ScriptName{"keystone-h", Value, "Command35", "±NN"},
    ScriptName{"text", Text, "Command95", "TEXT"},
    ScriptName{"zoom+", Lens, "Command61"},
    ScriptName{"zoom-", Lens, "Command62"},
    ScriptName{"focus+", Lens, "Command106"},
    ScriptName{"focus-", Lens, "Command107"},
    ScriptName{"shift-up", Lens, "Command108"},
    ScriptName{"shift-down", Lens, "Command109"},
    ScriptName{"shift-left", Lens, "Command111"},
    ScriptName{"shift-right", Lens, "Command110"},
    ScriptName{"status", Summary, ""},
};

// What "status" asks, in this order: every decoded query once.
inline constexpr std::array<std::string_view, 11> kSummaryNames{
    "power-state",  "pj-status",    "l1-status", "l2-status", "l1-time",     "l2-time",
    "lamp-pattern", "temperatures", "pressure",  "reversal",  "mute-signal",
};

// The table's own mistakes are build errors: every name is unique, every
// button it names exists in its table, and every fixed button has one name.
consteval bool scriptNamesAreWellFormed()
{
    std::size_t fixed = 0;
    for (std::size_t i = 0; i < kScriptNames.size(); ++i) {
        const ScriptName &entry = kScriptNames[i];
        for (std::size_t j = i + 1; j < kScriptNames.size(); ++j) {
            if (kScriptNames[j].name == entry.name ||
                (entry.kind == Fixed && kScriptNames[j].source == entry.source))
                return false;
        }
        switch (entry.kind) {
        case Fixed:
            fixed += findControl(kFixedCommands, entry.source) != nullptr;
            break;
        case Value:
        case Text:
            if (!findControl(kTextCommands, entry.source) || entry.value.empty())
                return false;
            break;
        case Lens:
            if (!findControl(kLensButtons, entry.source))
                return false;
            break;
        case Query:
        case Summary:
            break;
        }
    }
    return fixed == kFixedCommands.size();
}

consteval bool summaryNamesAreQueries()
{
    for (const std::string_view name : kSummaryNames) {
        const auto found = std::find_if(kScriptNames.begin(), kScriptNames.end(),
                                        [name](const ScriptName &entry) { return entry.name == name; });
        if (found == kScriptNames.end() || (found->kind != Query && found->kind != Fixed))
            return false;
    }
    return true;
}

static_assert(scriptNamesAreWellFormed(), "unique names, each button named once, every fixed button named");
static_assert(summaryNamesAreQueries(), "the summary asks named queries");

} // namespace commands
