// Typed readings of the decoded queries' replies, for programs that report values rather than status texts.
#include "readings.h"

#include "decoders.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>

namespace decode {

namespace {

// The per-lamp queries and the lamp each asks about: the lamp-hours queries
// share one decoder, so the lamp comes from the query.
struct LampQuery
{
    std::string_view command;
    int lamp;
};

constexpr std::array kLampQueries{
    LampQuery{"TLPS   1", 1},
    LampQuery{"TLPS   2", 2},
    LampQuery{"TLTT   1", 1},
    LampQuery{"TLTT   2", 2},
};

struct LampStateCode
{
    char code;
    LampState state;
    std::string_view name;
};

constexpr std::array kLampStateCodes{
    LampStateCode{'0', LampState::Off, "off"},     LampStateCode{'1', LampState::On, "on"},
    LampStateCode{'2', LampState::Retry, "retry"}, LampStateCode{'3', LampState::Waiting, "waiting"},
    LampStateCode{'4', LampState::Error, "error"},
};

struct MuteCode
{
    std::string_view code;
    MuteSignalReading reading;
};

constexpr std::array kMuteCodes{
    MuteCode{"00", {false, false, false, false}},
    MuteCode{"01", {true, false, false, false}},
    MuteCode{"02", {false, true, false, false}},
    MuteCode{"03", {true, true, false, false}},
    MuteCode{"80", {std::nullopt, std::nullopt, true, false}},
    MuteCode{"FF", {std::nullopt, std::nullopt, false, true}},
};

constexpr char kReplyEnd = '\r';
constexpr std::string_view kErrorReply = "ERR";
constexpr qsizetype kStateCharacter = 3;
constexpr qsizetype kMaxHoursDigits = 18;
constexpr qsizetype kTemperatureField = 5;
constexpr qsizetype kTemperaturesLength = 2 * kTemperatureField + 1;
constexpr std::size_t kLamps = 4;

constexpr bool isRoute(std::string_view command)
{
    return std::any_of(kRoutes.begin(), kRoutes.end(),
                       [command](const Route &route) { return route.command == command; });
}

constexpr bool lampQueriesAreRoutes()
{
    return std::all_of(kLampQueries.begin(), kLampQueries.end(),
                       [](const LampQuery &query) { return isRoute(query.command); });
}

// Whether the table holds the reply characters as the panel's code, a space before each: "03" as " 0 3".
template <std::size_t N>
constexpr bool inTable(const std::array<CodeText, N> &table, std::string_view replyCode)
{
    return std::any_of(table.begin(), table.end(), [replyCode](const CodeText &entry) {
        if (entry.code.size() != 2 * replyCode.size())
            return false;
        for (std::size_t i = 0; i < replyCode.size(); ++i) {
            if (entry.code[2 * i] != ' ' || entry.code[2 * i + 1] != replyCode[i])
                return false;
        }
        return true;
    });
}

constexpr bool muteCodesAreTheTable()
{
    return kMuteCodes.size() == kMuteAndSignal.size() &&
           std::all_of(kMuteCodes.begin(), kMuteCodes.end(),
                       [](const MuteCode &row) { return inTable(kMuteAndSignal, row.code); });
}

// LampState indexes kLampStateCodes, whose rows are those of the panel's lamp tables.
constexpr bool lampStateCodesAreTheTables()
{
    if (kLampStateCodes.size() != kLamp1State.size() || kLampStateCodes.size() != kLamp2State.size())
        return false;
    for (std::size_t i = 0; i < kLampStateCodes.size(); ++i) {
        const LampStateCode &row = kLampStateCodes[i];
        if (std::size_t(row.state) != i || kLamp1State[i].code != std::string_view(&row.code, 1) ||
            kLamp2State[i].code != std::string_view(&row.code, 1))
            return false;
    }
    return true;
}

static_assert(lampQueriesAreRoutes());
static_assert(muteCodesAreTheTable());
static_assert(lampStateCodesAreTheTables());

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isPrintable(char c)
{
    return c >= 0x20 && c <= 0x7e;
}

// The characters before the reply's only carriage return, when they are all printable.
std::optional<QByteArrayView> body(QByteArrayView reply)
{
    if (reply.isEmpty() || reply.back() != kReplyEnd)
        return std::nullopt;
    const QByteArrayView text = reply.chopped(1);
    if (!std::all_of(text.begin(), text.end(), isPrintable) || text == QByteArrayView(kErrorReply))
        return std::nullopt;
    return text;
}

bool allDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

bool isDecimal(QByteArrayView text)
{
    if (!text.isEmpty() && (text.front() == '+' || text.front() == '-'))
        text = text.sliced(1);
    const qsizetype point = text.indexOf('.');
    if (point < 0)
        return allDigits(text);
    return allDigits(text.first(point)) && allDigits(text.sliced(point + 1));
}

std::optional<double> decimalOf(QByteArrayView text)
{
    if (!isDecimal(text))
        return std::nullopt;
    // Adding 0 turns "-00.0" into 0, which JSON then prints without a sign.
    return text.toDouble() + 0.0;
}

int lampOf(QByteArrayView query)
{
    for (const LampQuery &row : kLampQueries) {
        if (QByteArrayView(row.command) == query)
            return row.lamp;
    }
    return 0;
}

const CodeText *projectorStatus(char code)
{
    const auto found =
        std::find_if(kProjectorStatus.begin(), kProjectorStatus.end(),
                     [code](const CodeText &row) { return row.code == std::string_view(&code, 1); });
    return found == kProjectorStatus.end() ? nullptr : &*found;
}

const LampStateCode *lampStateCode(char code)
{
    const auto found = std::find_if(kLampStateCodes.begin(), kLampStateCodes.end(),
                                    [code](const LampStateCode &row) { return row.code == code; });
    return found == kLampStateCodes.end() ? nullptr : &*found;
}

std::optional<Reading> statusReading(QByteArrayView text)
{
    if (text.size() <= kStateCharacter)
        return std::nullopt;
    const CodeText *row = projectorStatus(text[kStateCharacter]);
    if (!row)
        return std::nullopt;
    return ProjectorStatusReading{text[kStateCharacter], row->text};
}

std::optional<Reading> lampStateReading(int lamp, QByteArrayView text)
{
    if (text.size() <= kStateCharacter)
        return std::nullopt;
    const LampStateCode *row = lampStateCode(text[kStateCharacter]);
    if (!row)
        return std::nullopt;
    return LampStateReading{lamp, row->state};
}

std::optional<Reading> powerReading(QByteArrayView text)
{
    if (text == "0" || text == "1")
        return PowerReading{text == "1"};
    return std::nullopt;
}

std::optional<Reading> reversalReading(QByteArrayView text)
{
    const auto isFlag = [](char c) { return c == '0' || c == '1'; };
    if (text.size() != 2 || !isFlag(text[0]) || !isFlag(text[1]))
        return std::nullopt;
    // A 0 first is reversed left to right, a 0 second top to bottom.
    return ReversalReading{text[1] == '0', text[0] == '0'};
}

std::optional<Reading> muteSignalReading(QByteArrayView text)
{
    for (const MuteCode &row : kMuteCodes) {
        if (QByteArrayView(row.code) == text)
            return row.reading;
    }
    return std::nullopt;
}

std::optional<Reading> lampPatternReading(QByteArrayView text)
{
    if (text.size() != 2)
        return std::nullopt;
    const int mode = digitValue(text[0], int(kLampModeParts.size()));
    const int lamps = (text[1] >= 'a' && text[1] <= 'f') ? -1 : digitValue(text[1], 16);
    if (mode < 0 || lamps < 0)
        return std::nullopt;
    LampPatternReading reading{mode, {}};
    for (std::size_t i = 0; i < kLamps; ++i)
        reading.on[i] = (lamps >> i) & 1;
    return reading;
}

std::optional<Reading> lampHoursReading(int lamp, QByteArrayView text)
{
    if (text.size() > kMaxHoursDigits || !allDigits(text))
        return std::nullopt;
    return LampHoursReading{lamp, text.toLongLong()};
}

std::optional<Reading> temperaturesReading(QByteArrayView text)
{
    if (text.size() != kTemperaturesLength || text[kTemperatureField] != ',')
        return std::nullopt;
    const auto s1 = decimalOf(text.first(kTemperatureField));
    const auto s2 = decimalOf(text.sliced(kTemperatureField + 1));
    if (!s1 || !s2)
        return std::nullopt;
    return TemperaturesReading{*s1, *s2};
}

std::optional<Reading> pressureReading(QByteArrayView text)
{
    if (!isDecimal(text))
        return std::nullopt;
    const auto pressure = pressureOf(leadingNumber(text));
    if (!pressure)
        return std::nullopt;
    return PressureReading{pressure->reading, pressure->hectopascals};
}

std::optional<Reading> readingOfBody(Decoder decoder, int lamp, QByteArrayView text)
{
    switch (decoder) {
    case Decoder::ProjectorStatus:
        return statusReading(text);
    case Decoder::Lamp1State:
    case Decoder::Lamp2State:
        return lampStateReading(lamp, text);
    case Decoder::PowerState:
        return powerReading(text);
    case Decoder::ImageReversal:
        return reversalReading(text);
    case Decoder::MuteAndSignal:
        return muteSignalReading(text);
    case Decoder::LampPattern:
        return lampPatternReading(text);
    case Decoder::LampHours:
        return lampHoursReading(lamp, text);
    case Decoder::Temperatures:
        return temperaturesReading(text);
    case Decoder::Pressure:
        return pressureReading(text);
    case Decoder::DumpEcho:
        return EchoReading{text.toByteArray()};
    }
    return std::nullopt;
}

QString textOf(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// The table's text without the leading space that places it on the status line.
QString statusText(std::string_view text)
{
    return textOf(text).trimmed();
}

QJsonValue flag(std::optional<bool> value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonObject jsonOf(const ProjectorStatusReading &reading)
{
    return {{"status_code", QString(QChar::fromLatin1(reading.code))},
            {"status", statusText(reading.text)},
            {"fault", isFault(reading)}};
}

QJsonObject jsonOf(const LampStateReading &reading)
{
    return {{"lamp", reading.lamp},
            {"state", textOf(kLampStateCodes[std::size_t(reading.state)].name)},
            {"fault", isFault(reading)}};
}

QJsonObject jsonOf(const PowerReading &reading)
{
    return {{"on", reading.on}};
}

QJsonObject jsonOf(const ReversalReading &reading)
{
    return {{"top_bottom_reversed", reading.topBottom}, {"left_right_reversed", reading.leftRight}};
}

QJsonObject jsonOf(const MuteSignalReading &reading)
{
    return {{"video_mute", flag(reading.videoMute)},
            {"audio_mute", flag(reading.audioMute)},
            {"no_signal", reading.noSignal},
            {"standby", reading.standby}};
}

QJsonObject jsonOf(const LampPatternReading &reading)
{
    QJsonArray on;
    for (const bool lamp : reading.on)
        on.append(lamp);
    return {{"mode", reading.mode},
            {"mode_text", textOf(kLampModeParts[std::size_t(reading.mode)])},
            {"lamps_on", on}};
}

QJsonObject jsonOf(const LampHoursReading &reading)
{
    return {{"lamp", reading.lamp}, {"hours", reading.hours}};
}

QJsonObject jsonOf(const TemperaturesReading &reading)
{
    return {{"s1_c", reading.s1}, {"s2_c", reading.s2}};
}

QJsonObject jsonOf(const PressureReading &reading)
{
    return {{"pressure_hpa", reading.hectopascals}, {"reading", reading.reading}};
}

QJsonObject jsonOf(const EchoReading &reading)
{
    return {{"text", QString::fromLatin1(reading.text)}};
}

QString plainOf(const ProjectorStatusReading &reading)
{
    return statusText(reading.text);
}

QString plainOf(const LampStateReading &reading)
{
    // The command or the summary's label names the lamp.
    return textOf(kLampStateCodes[std::size_t(reading.state)].name);
}

QString plainOf(const PowerReading &reading)
{
    return reading.on ? QStringLiteral("on") : QStringLiteral("standby");
}

QString plainOf(const ReversalReading &reading)
{
    QStringList directions;
    if (reading.topBottom)
        directions.append(QStringLiteral("top to bottom"));
    if (reading.leftRight)
        directions.append(QStringLiteral("left to right"));
    if (directions.isEmpty())
        return QStringLiteral("not reversed");
    return QStringLiteral("reversed ") + directions.join(QStringLiteral(" and "));
}

QString plainOf(const MuteSignalReading &reading)
{
    if (reading.standby)
        return QStringLiteral("standby");
    if (reading.noSignal)
        return QStringLiteral("no signal");
    const bool video = reading.videoMute.value_or(false);
    const bool audio = reading.audioMute.value_or(false);
    if (video && audio)
        return QStringLiteral("video and audio mute on");
    if (video)
        return QStringLiteral("video mute on");
    if (audio)
        return QStringLiteral("audio mute on");
    return QStringLiteral("video and audio mute off");
}

QString plainOf(const LampPatternReading &reading)
{
    QStringList lamps;
    for (std::size_t i = 0; i < kLamps; ++i) {
        if (reading.on[i])
            lamps.append(QString::number(i + 1));
    }
    const QString mode = textOf(kLampModeParts[std::size_t(reading.mode)]);
    if (lamps.isEmpty())
        return QStringLiteral("no lamp on, ") + mode;
    const QString noun = lamps.size() == 1 ? QStringLiteral("lamp") : QStringLiteral("lamps");
    return QStringLiteral("%1 %2 on, %3").arg(noun, lamps.join(QStringLiteral(", ")), mode);
}

QString plainOf(const LampHoursReading &reading)
{
    return QString::number(reading.hours) + QStringLiteral(" h");
}

QString plainOf(const TemperaturesReading &reading)
{
    return QStringLiteral("S1 %1 \u00b0C, S2 %2 \u00b0C").arg(reading.s1).arg(reading.s2);
}

QString plainOf(const PressureReading &reading)
{
    return QString::number(reading.hectopascals) + QStringLiteral(" hPa");
}

QString plainOf(const EchoReading &reading)
{
    return QString::fromLatin1(reading.text);
}

} // namespace

std::optional<Decoder> decoderOf(QByteArrayView query)
{
    for (const Route &route : kRoutes) {
        if (QByteArrayView(route.command) == query)
            return route.decoder;
    }
    return std::nullopt;
}

std::optional<Reading> readingOf(QByteArrayView query, QByteArrayView reply)
{
    const auto decoder = decoderOf(query);
    const auto text = body(reply);
    if (!decoder || !text)
        return std::nullopt;
    return readingOfBody(*decoder, lampOf(query), *text);
}

bool isFault(const Reading &reading)
{
    // Every status the panel can show but Normal is a fault.
    if (const auto *status = std::get_if<ProjectorStatusReading>(&reading))
        return status->code != '0';
    if (const auto *lamp = std::get_if<LampStateReading>(&reading))
        return lamp->state == LampState::Error;
    return false;
}

QJsonObject toJson(const Reading &reading)
{
    return std::visit([](const auto &typed) { return jsonOf(typed); }, reading);
}

QString plainText(const Reading &reading)
{
    return std::visit([](const auto &typed) { return plainOf(typed); }, reading);
}

} // namespace decode
