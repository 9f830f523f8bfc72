// The code tables of the reply decoders: which reply code shows which status text.
#pragma once

#include <array>
#include <string_view>

namespace decode {

// A code as it stands in the dump of a reply, and the status text it shows.
struct CodeText
{
    std::string_view code;
    std::string_view text;
};

// Reply to "TABN   1": the fourth reply character.
inline constexpr std::array kProjectorStatus{
    CodeText{"0", " Normal"},
    CodeText{"1", " Temp High"},
    CodeText{"2", " Fan Err"},
    CodeText{"8", " Lamp Life 5% or less"},
    // The projector's status list goes on with these. The status field is one
    // character, so none of them can ever equal it: they are kept with their
    // codes so the list is whole, and are never shown.
    CodeText{"16", " Lamp Burnt-out"},
    CodeText{"32", " Lamp lgnition Failure"},
    CodeText{" 64", " Temp Abnormally High"},
    CodeText{" 8 0", " Stand by"},
    CodeText{" 4 0", " Count down"},
    CodeText{" 2 0", " Cooling down"},
    CodeText{" 1 0", " Power Fail"},
    CodeText{" 0 8", " Temperature Warning(Power ON)"},
    CodeText{" 0 2", " NO Key input "},
    CodeText{" 0 4", " Lamp OFF by PWR Management"},
    CodeText{" 2 8", " Temperature Warning & cooling down"},
    CodeText{" 2 4", " Lamp OFF & Tempereture Warning by PWR Management"},
    CodeText{" 8 8", " Temperature Warning and recoverd"},
    CodeText{" 2 1", " Cooling down (All Lamp FAIL)"},
    CodeText{" 8 1", " Cooling down & sutandby (All Lamp FAIL)"},
};

// Replies to "TLPS   1" and "TLPS   2": the fourth reply character.
inline constexpr std::array kLamp1State{
    CodeText{"0", "LAMP 1 OFF"}, CodeText{"1", "LAMP 1 ON"},     CodeText{"2", " Retry"},
    CodeText{"3", " Waiting"},   CodeText{"4", " Lamp 1 Error"},
};
inline constexpr std::array kLamp2State{
    CodeText{"0", "LAMP 2 OFF"}, CodeText{"1", "LAMP 2 ON"},     CodeText{"2", " Retry"},
    CodeText{"3", " Waiting"},   CodeText{"4", " Lamp 2 Error"},
};

// Reply to "POWR????": the first reply character, after the dump's space.
inline constexpr std::array kPowerState{
    CodeText{" 0", " Standby"},
    CodeText{" 1", " ON"},
};

// Reply to "CR4": a "0" first means reversed left to right, a "0" second
// reversed top to bottom.
inline constexpr std::array kImageReversal{
    CodeText{" 1 1", " Normally"},
    CodeText{" 1 0", " Top/Bottom reversal"},
    CodeText{" 0 1", " Left/Right reversal"},
    CodeText{" 0 0", " Top/Bottom , Left/Right reversal"},
};

// Reply to "CRA": one hexadecimal byte; with a first digit 0, bit 1 of the second
// is the video mute and bit 2 the audio mute.
inline constexpr std::array kMuteAndSignal{
    CodeText{" 0 0", " Video & Audio mute OFF"},
    CodeText{" 0 1", " Video mute ON"},
    CodeText{" 0 2", " Audio mute ON"},
    CodeText{" 0 3", " Video & Audio mute ON"},
    CodeText{" 8 0", " No signal"},
    CodeText{" F F", " Stand by"},
};

// Reply to "CR7": a lamp-mode digit and a hexadecimal digit whose bits 1, 2, 4
// and 8 are lamps No1 to No4. The text is the pattern part followed directly by
// the mode part, for all 48 combinations; every pattern is reported in every
// mode, even with lamps outside the mode's pair.
inline constexpr std::array<std::string_view, 16> kLampPatternParts{
    " All OFF : ",   " No1 ON  : ",     " No2 ON  : ",     " No1,2 ON  : ",
    " No3 ON  : ",   " No1,3 ON  : ",   " No2,3 ON  : ",   " No1,2,3 ON  : ",
    " No4 ON  : ",   " No1,4 ON  : ",   " No2,4 ON  : ",   " No1,2,4 ON  : ",
    " No3,4 ON  : ", " No1,3,4 ON  : ", " No2,3,4 ON  : ", " All ON  : ",
};
inline constexpr std::array<std::string_view, 3> kLampModeParts{
    "4 Lamp mode",
    "2 Lamp mode(1,4)",
    "2 Lamp mode(2,3)",
};

template <std::size_t N> consteval bool codesAreUnique(const std::array<CodeText, N> &table)
{
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (table[i].code == table[j].code)
                return false;
        }
    }
    return true;
}

static_assert(codesAreUnique(kProjectorStatus));
static_assert(codesAreUnique(kLamp1State));
static_assert(codesAreUnique(kLamp2State));
static_assert(codesAreUnique(kPowerState));
static_assert(codesAreUnique(kImageReversal));
static_assert(codesAreUnique(kMuteAndSignal));

} // namespace decode
