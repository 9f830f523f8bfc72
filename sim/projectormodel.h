// The simulated projector's state and its answer to each command line, without any I/O.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QRandomGenerator>

#include <array>
#include <chrono>
#include <optional>
#include <string_view>

// The command vocabulary: every setting the panel may send and every whole-line query.
namespace ProjectorCommands {

// How the four characters after a setting's mnemonic carry its value.
enum class Argument {
    Padded,    // decimal right-aligned in spaces: "   1", "  11"
    TwoDigits, // two spaces and exactly two digits: "  05"
    Signed,    // a space, a sign and exactly two digits: " -07"
    LensStep   // "+001" or "-001": one step of a lens motor
};

// One setting command. For a lens axis min..max are the end stops of the position and the
// argument is the step; for the others they bound the argument itself, which must also be
// min plus a multiple of step (so "PINP" takes only 0 and 11).
struct Setting
{
    std::string_view mnemonic;
    Argument argument;
    int min;
    int max;
    int initial;
    int step = 1;
};

// The letters of a per-input setting name its input: RA, RB, RC = RGB1-3, VA, VB = VIDEO1-2;
// SR is the screen size, SV the screen size offered for video on RGB1/RGB2, PS the picture mode.
inline constexpr std::array kSettings{
    Setting{"POWR", Argument::Padded, 0, 1, 0},        Setting{"IRGB", Argument::Padded, 1, 3, 1},
    Setting{"IVED", Argument::Padded, 1, 2, 1},        Setting{"ASPK", Argument::Padded, 0, 1, 1},
    Setting{"IMBK", Argument::Padded, 0, 1, 0},        Setting{"IMDI", Argument::Padded, 0, 2, 0},
    Setting{"FREZ", Argument::Padded, 0, 1, 0},        Setting{"PINP", Argument::Padded, 0, 11, 0, 11},
    Setting{"ADJS", Argument::Padded, 1, 1, 1},        Setting{"LPMD", Argument::Padded, 0, 2, 0},
    Setting{"THMD", Argument::Padded, 0, 1, 0},        Setting{"RASR", Argument::Padded, 1, 5, 1},
    Setting{"RBSR", Argument::Padded, 1, 5, 1},        Setting{"RCSR", Argument::Padded, 1, 5, 1},
    Setting{"RASV", Argument::Padded, 1, 4, 1},        Setting{"RBSV", Argument::Padded, 1, 4, 1},
    Setting{"RAPS", Argument::Padded, 10, 13, 10},     Setting{"RBPS", Argument::Padded, 10, 13, 10},
    Setting{"RCPS", Argument::Padded, 10, 13, 10},     Setting{"VAPS", Argument::Padded, 10, 13, 10},
    Setting{"VBPS", Argument::Padded, 10, 13, 10},     Setting{"VOLA", Argument::TwoDigits, 0, 60, 30},
    Setting{"KEYV", Argument::Signed, -60, 60, 0},     Setting{"KEYH", Argument::Signed, -60, 60, 0},
    Setting{"LNZO", Argument::LensStep, 0, 400, 200},  Setting{"LNFO", Argument::LensStep, 0, 400, 200},
    Setting{"LNUD", Argument::LensStep, -200, 200, 0}, Setting{"LNLR", Argument::LensStep, -200, 200, 0},
};

enum class Query {
    Status,
    LampState,
    LampHours,
    Power,
    Reversal,
    Temperatures,
    LampPattern,
    Identification,
    Mute,
    Pressure
};

// A query is matched as a whole line; lamp is 1 or 2 for the per-lamp queries.
struct QueryText
{
    std::string_view text;
    Query query;
    int lamp = 0;
};

inline constexpr std::array kQueries{
    QueryText{"TABN   1", Query::Status},
    QueryText{"TLPS   1", Query::LampState, 1},
    QueryText{"TLPS   2", Query::LampState, 2},
    QueryText{"TLTT   1", Query::LampHours, 1},
    QueryText{"TLTT   2", Query::LampHours, 2},
    QueryText{"POWR????", Query::Power},
    QueryText{"CR4", Query::Reversal},
    QueryText{"CR6", Query::Temperatures},
    QueryText{"CR7", Query::LampPattern},
    QueryText{"CR9", Query::Identification},
    QueryText{"CRA", Query::Mute},
    QueryText{"CR PRESSURE", Query::Pressure},
};

} // namespace ProjectorCommands

// Replies that replace the modelled ones, so the panel can be shown fault states the model never
// reaches by itself. Each is sent exactly as given; status and lamp state follow the "000" prefix.
struct ProjectorOverrides
{
    std::optional<QByteArray> status{};
    std::optional<QByteArray> lampState{};
    std::optional<QByteArray> lampHours{};
    std::optional<QByteArray> reversal{};
    std::optional<QByteArray> lampPattern{};
    std::optional<QByteArray> muteCode{};
    std::optional<QByteArray> pressure{};
};

// ProjectorModel holds what a four-lamp projector remembers (power, input, lamp mode, picture
// settings, lens positions) and what it measures (lamp hours, temperatures, air pressure). It turns
// one command line, without its final CR, into the reply bytes, also without the CR. Time is
// advanced explicitly by the caller so tests can run hours of drift in microseconds; the random
// noise on the readings comes from a seeded generator so runs can be reproduced.
class ProjectorModel
{
public:
    static constexpr char kAck = 0x06;
    static constexpr std::string_view kError = "ERR";
    static constexpr std::string_view kIdentification = "QVX-SIM 1.40";

    explicit ProjectorModel(quint32 seed = 1, ProjectorOverrides overrides = {}, double hoursPerMinute = 1.0);

    QByteArray reply(QByteArrayView command);
    void advance(std::chrono::milliseconds elapsed);

    // The last value a setting command stored (the position, for a lens axis), or nothing if the
    // mnemonic is not a setting.
    std::optional<int> value(std::string_view mnemonic) const;

private:
    QByteArray answer(ProjectorCommands::Query query, int lamp) const;
    QByteArray applySetting(std::string_view line);
    int litLamps() const;
    QByteArray lampHoursText(int lamp) const;
    double noise(double amplitude);

    // Only lamps 1 and 2 can be asked for their state and hours.
    static constexpr int kReportedLamps = 2;

    ProjectorOverrides m_overrides;
    double m_hoursPerMinute = 1.0;
    QRandomGenerator m_random;
    std::array<int, ProjectorCommands::kSettings.size()> m_values{};
    bool m_videoSelected = false;
    std::array<std::chrono::milliseconds, kReportedLamps> m_burnTime{};
    std::array<double, 2> m_temperatures{};
    double m_pressure = 0.0;
};
