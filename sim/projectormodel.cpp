// Matches command lines against the vocabulary and evolves the projector's readings over time.
#include "projectormodel.h"

#include <QString>

#include <algorithm>
#include <cmath>

using namespace std::chrono_literals;
using namespace ProjectorCommands;

namespace {

consteval bool isMnemonic(std::string_view text)
{
    return text.size() == 4 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Every value a setting accepts must fit the four argument characters, and its start value must be
// one it accepts.
consteval bool settingsAreWellFormed()
{
    for (const auto &setting : kSettings) {
        if (!isMnemonic(setting.mnemonic) || setting.step < 1 || setting.min > setting.initial ||
            setting.initial > setting.max)
            return false;
        if (setting.argument != Argument::LensStep && (setting.initial - setting.min) % setting.step != 0)
            return false;
        const bool fits = [&] {
            switch (setting.argument) {
            case Argument::Padded:
                return setting.min >= 0 && setting.max <= 9999;
            case Argument::TwoDigits:
                return setting.min >= 0 && setting.max <= 99;
            case Argument::Signed:
                return setting.min >= -99 && setting.max <= 99;
            case Argument::LensStep:
                return true;
            }
            return false;
        }();
        if (!fits)
            return false;
    }
    return true;
}
static_assert(settingsAreWellFormed(), "a setting has a malformed mnemonic or an impossible range");

template <typename Table, typename Key> consteval bool keysAreUnique(const Table &table, Key key)
{
    for (std::size_t i = 0; i < table.size(); ++i)
        for (std::size_t j = i + 1; j < table.size(); ++j)
            if (key(table[i]) == key(table[j]))
                return false;
    return true;
}
static_assert(keysAreUnique(kSettings, [](const auto &s) { return s.mnemonic; }),
              "two settings share a mnemonic");
static_assert(keysAreUnique(kQueries, [](const auto &q) { return q.text; }), "two queries share a text");

consteval std::size_t settingIndex(std::string_view mnemonic)
{
    for (std::size_t i = 0; i < kSettings.size(); ++i)
        if (kSettings[i].mnemonic == mnemonic)
            return i;
    throw "not a setting mnemonic";
}

constexpr std::size_t kPower = settingIndex("POWR");
constexpr std::size_t kRgbInput = settingIndex("IRGB");
constexpr std::size_t kVideoInput = settingIndex("IVED");
constexpr std::size_t kAvMute = settingIndex("IMBK");
constexpr std::size_t kLampMode = settingIndex("LPMD");
constexpr std::size_t kEco = settingIndex("THMD");

// Lamps lit in each lamp mode as a pattern: bit 0 is lamp 1 ... bit 3 is lamp 4.
constexpr std::array kLampsOfMode{0xF, 0x9, 0x6};
static_assert(kLampsOfMode.size() == kSettings[kLampMode].max + 1);

constexpr std::array kInitialLampHours{1234.0, 987.0};
constexpr double kMaxLampHours = 99999.0;

// Intake and exhaust temperatures approach these with a few minutes' lag.
constexpr std::array kStandbyTemperatures{25.0, 26.0};
constexpr std::array kNormalTemperatures{33.0, 46.0};
constexpr std::array kEcoTemperatures{30.0, 39.0};
constexpr std::chrono::seconds kThermalLag = 3min;
constexpr double kTemperatureNoise = 0.03;

// A 10-bit sensor reading; weather moves it slowly around the sea-level value.
constexpr double kSeaLevelPressure = 856.0;
constexpr double kMaxPressure = 1023.0;
constexpr std::chrono::seconds kPressureLag = 10min;
constexpr double kPressureNoise = 0.3;

constexpr char kStatusPrefix[] = "000";

std::optional<int> parseDigits(std::string_view digits)
{
    if (digits.empty())
        return {};
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return {};
        value = value * 10 + (c - '0');
    }
    return value;
}

// Accepts exactly the spellings the panel produces, so that a padding or sign mistake in the panel
// shows up as an error reply instead of being silently tolerated.
std::optional<int> parseArgument(Argument argument, std::string_view text)
{
    switch (argument) {
    case Argument::Padded: {
        const auto start = text.find_first_not_of(' ');
        if (start == std::string_view::npos)
            return {};
        const auto digits = text.substr(start);
        if (digits.size() > 1 && digits.front() == '0')
            return {};
        return parseDigits(digits);
    }
    case Argument::TwoDigits:
        if (!text.starts_with("  "))
            return {};
        return parseDigits(text.substr(2));
    case Argument::Signed: {
        if (text[0] != ' ' || (text[1] != '+' && text[1] != '-'))
            return {};
        const auto magnitude = parseDigits(text.substr(2));
        if (!magnitude)
            return {};
        return text[1] == '-' ? -*magnitude : *magnitude;
    }
    case Argument::LensStep:
        if (text == "+001")
            return 1;
        if (text == "-001")
            return -1;
        return {};
    }
    return {};
}

double approach(double current, double target, std::chrono::milliseconds elapsed, std::chrono::seconds lag)
{
    const double fraction = 1.0 - std::exp(-std::chrono::duration<double>(elapsed) / lag);
    return current + (target - current) * fraction;
}

} // namespace

ProjectorModel::ProjectorModel(quint32 seed, ProjectorOverrides overrides, double hoursPerMinute)
    : m_overrides(std::move(overrides))
    , m_hoursPerMinute(hoursPerMinute)
    , m_random(seed)
    , m_temperatures(kStandbyTemperatures)
    , m_pressure(kSeaLevelPressure)
{
    std::transform(kSettings.begin(), kSettings.end(), m_values.begin(),
                   [](const Setting &setting) { return setting.initial; });
}

QByteArray ProjectorModel::reply(QByteArrayView command)
{
    const std::string_view line(command.data(), command.size());
    for (const auto &query : kQueries) {
        if (query.text == line)
            return answer(query.query, query.lamp);
    }
    return applySetting(line);
}

std::optional<int> ProjectorModel::value(std::string_view mnemonic) const
{
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        if (kSettings[i].mnemonic == mnemonic)
            return m_values[i];
    }
    return {};
}

void ProjectorModel::advance(std::chrono::milliseconds elapsed)
{
    if (elapsed <= 0ms)
        return;
    const int lit = litLamps();
    for (int lamp = 0; lamp < kReportedLamps; ++lamp) {
        if (lit & (1 << lamp))
            m_burnTime[lamp] += elapsed;
    }

    // Noise grows with the step but is capped, so a long step does not make a jump.
    const double noiseScale = std::min(1.0, std::chrono::duration<double>(elapsed).count());
    const bool powered = m_values[kPower] == 1;
    const auto &targets =
        !powered ? kStandbyTemperatures : (m_values[kEco] == 1 ? kEcoTemperatures : kNormalTemperatures);
    for (std::size_t i = 0; i < m_temperatures.size(); ++i) {
        m_temperatures[i] = approach(m_temperatures[i], targets[i], elapsed, kThermalLag) +
                            noise(kTemperatureNoise * noiseScale);
        m_temperatures[i] = std::max(0.0, m_temperatures[i]);
    }

    m_pressure =
        approach(m_pressure, kSeaLevelPressure, elapsed, kPressureLag) + noise(kPressureNoise * noiseScale);
    m_pressure = std::clamp(m_pressure, 0.0, kMaxPressure);
}

QByteArray ProjectorModel::answer(Query query, int lamp) const
{
    const bool powered = m_values[kPower] == 1;
    switch (query) {
    case Query::Status:
        return kStatusPrefix + m_overrides.status.value_or("0");
    case Query::LampState:
        return kStatusPrefix + m_overrides.lampState.value_or((litLamps() & (1 << (lamp - 1))) ? "1" : "0");
    case Query::LampHours:
        return m_overrides.lampHours.value_or(lampHoursText(lamp));
    case Query::Power:
        return powered ? "1" : "0";
    case Query::Reversal:
        return m_overrides.reversal.value_or("11");
    case Query::Temperatures:
        return QString::asprintf("%05.1f,%05.1f", m_temperatures[0], m_temperatures[1]).toLatin1();
    case Query::LampPattern:
        return m_overrides.lampPattern.value_or(QByteArray::number(m_values[kLampMode]) +
                                                QByteArray::number(litLamps(), 16).toUpper());
    case Query::Identification:
        return QByteArray(kIdentification.data(), kIdentification.size());
    case Query::Mute:
        if (m_overrides.muteCode)
            return *m_overrides.muteCode;
        if (!powered)
            return "FF";
        if (m_values[kAvMute] == 1)
            return "03";
        // Nothing is plugged into VIDEO2, so selecting it shows the no-signal code.
        if (m_videoSelected && m_values[kVideoInput] == 2)
            return "80";
        return "00";
    case Query::Pressure:
        return m_overrides.pressure.value_or(
            QByteArray::number(std::lround(m_pressure)).rightJustified(4, '0'));
    }
    return QByteArray(kError.data(), kError.size());
}

QByteArray ProjectorModel::applySetting(std::string_view line)
{
    const QByteArray error(kError.data(), kError.size());
    if (line.size() != 8)
        return error;
    const auto mnemonic = line.substr(0, 4);
    const auto found = std::find_if(kSettings.begin(), kSettings.end(),
                                    [&](const Setting &setting) { return setting.mnemonic == mnemonic; });
    if (found == kSettings.end())
        return error;
    const auto index = std::size_t(found - kSettings.begin());
    const auto argument = parseArgument(found->argument, line.substr(4));
    if (!argument)
        return error;

    if (found->argument == Argument::LensStep) {
        m_values[index] = std::clamp(m_values[index] + *argument, found->min, found->max);
    } else {
        if (*argument < found->min || *argument > found->max || (*argument - found->min) % found->step != 0)
            return error;
        m_values[index] = *argument;
    }
    if (index == kRgbInput)
        m_videoSelected = false;
    else if (index == kVideoInput)
        m_videoSelected = true;
    return QByteArray(1, kAck);
}

int ProjectorModel::litLamps() const
{
    return m_values[kPower] == 1 ? kLampsOfMode[m_values[kLampMode]] : 0;
}

QByteArray ProjectorModel::lampHoursText(int lamp) const
{
    const auto minutes = std::chrono::duration<double, std::ratio<60>>(m_burnTime[lamp - 1]).count();
    const double hours = std::min(kMaxLampHours, kInitialLampHours[lamp - 1] + minutes * m_hoursPerMinute);
    return QByteArray::number(qint64(hours)).rightJustified(5, '0');
}

double ProjectorModel::noise(double amplitude)
{
    return (m_random.generateDouble() * 2.0 - 1.0) * amplitude;
}
