// What a serial device server has agreed to over COM-PORT-OPTION: the option, then each settings text.
#include "comportagreement.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

struct SettingName
{
    std::uint8_t command;
    const char *name;
};

constexpr std::array kSettingNames{
    SettingName{ComPort2217::kSetBaudRate, QT_TRANSLATE_NOOP("ComPortAgreement", "speed")},
    SettingName{ComPort2217::kSetDataSize, QT_TRANSLATE_NOOP("ComPortAgreement", "data size")},
    SettingName{ComPort2217::kSetParity, QT_TRANSLATE_NOOP("ComPortAgreement", "parity code")},
    SettingName{ComPort2217::kSetStopSize, QT_TRANSLATE_NOOP("ComPortAgreement", "stop size code")},
    SettingName{ComPort2217::kSetControl, QT_TRANSLATE_NOOP("ComPortAgreement", "flow control code")},
};

QString nameOf(std::uint8_t command)
{
    for (const auto &row : kSettingNames) {
        if (row.command == command)
            return ComPortAgreement::tr(row.name);
    }
    return ComPortAgreement::tr("setting %1").arg(command);
}

} // namespace

ComPortAgreement::ComPortAgreement(QObject *parent)
    : ComPortAgreement(kAnswerTimeout, parent)
{}

ComPortAgreement::ComPortAgreement(std::chrono::milliseconds answerTimeout, QObject *parent)
    : QObject(parent)
{
    m_timer.setObjectName(QStringLiteral("answerTimer"));
    m_timer.setSingleShot(true);
    m_timer.setInterval(answerTimeout);
    connect(&m_timer, &QTimer::timeout, this, &ComPortAgreement::onTimeout);
}

void ComPortAgreement::begin(const QString &address, const LineSettings &settings)
{
    m_stage = Stage::Offered;
    m_address = address;
    m_settings = settings;
    m_awaited.clear();
    m_refused = false;
    m_late = false;
    m_serverSpoke = false;
    m_confirmed.reset();
    m_timer.start();
}

void ComPortAgreement::end()
{
    m_timer.stop();
    m_awaited.clear();
}

void ComPortAgreement::serverSpoke()
{
    if (std::exchange(m_serverSpoke, true))
        return;
    // A server busy with another client accepts at once but speaks only when
    // it turns to this connection; that is when its answer may be expected.
    if (m_stage == Stage::Offered)
        m_timer.start();
}

void ComPortAgreement::optionChanged(TelnetCodec::ComPortState state)
{
    if (state == TelnetCodec::ComPortState::Accepted && m_stage != Stage::Agreed) {
        m_late = m_stage == Stage::NotAgreed;
        m_stage = Stage::Agreed;
        send();
    } else if (state == TelnetCodec::ComPortState::Refused && m_stage != Stage::NotAgreed) {
        m_stage = Stage::NotAgreed;
        refuse(tr("The device server at %1 refused COM-PORT-OPTION, so the settings \"%2\" were not "
                  "applied.")
                   .arg(m_address, m_settings.text));
    }
}

void ComPortAgreement::take(const ComPortValue &answer)
{
    // The server answers in order, so an answer belongs to the oldest command of
    // its kind; only the newest request of a kind must hold at the end.
    const auto sameKind = [&](const ComPortValue &sent) { return sent.command == answer.command; };
    const auto oldest = std::find_if(m_awaited.begin(), m_awaited.end(), sameKind);
    if (oldest == m_awaited.end())
        return;
    const ComPortValue asked = *oldest;
    m_awaited.erase(oldest);
    const bool newest = std::none_of(m_awaited.begin(), m_awaited.end(), sameKind);
    if (newest && answer.value != asked.value) {
        refuse(tr("The device server at %1 did not take the settings \"%2\": its %3 stays %4 instead of %5.")
                   .arg(m_address, m_settings.text, nameOf(answer.command))
                   .arg(answer.value)
                   .arg(asked.value));
        return;
    }
    if (!m_awaited.empty())
        return;
    m_timer.stop();
    m_confirmed = m_settings;
    if (std::exchange(m_late, false))
        emit appliedLate();
}

std::optional<QString> ComPortAgreement::ask(const LineSettings &settings)
{
    if (m_stage == Stage::NotAgreed) {
        return tr("The device server at %1 has not agreed to COM-PORT-OPTION, so the settings \"%2\" were "
                  "not applied. %3")
            .arg(m_address, settings.text, whatRuns());
    }
    m_settings = settings;
    if (m_stage == Stage::Agreed)
        send();
    return std::nullopt;
}

void ComPortAgreement::send()
{
    const auto commands = TelnetCodec::commandsFor(m_settings);
    m_refused = false;
    m_awaited.insert(m_awaited.end(), commands.begin(), commands.end());
    m_timer.start();
    emit request(TelnetCodec::settingsRequest(m_settings));
}

void ComPortAgreement::onTimeout()
{
    if (m_stage == Stage::Offered) {
        m_stage = Stage::NotAgreed;
        // Should the server agree after all, the settings still go to it.
        m_late = true;
        refuse(tr("The device server at %1 did not agree to COM-PORT-OPTION within %2 s, so the settings "
                  "\"%3\" were not applied.")
                   .arg(m_address, seconds(), m_settings.text));
    } else if (!m_awaited.empty()) {
        refuse(tr("The device server at %1 did not confirm the settings \"%2\" within %3 s.")
                   .arg(m_address, m_settings.text, seconds()));
    }
}

void ComPortAgreement::refuse(const QString &description)
{
    m_refused = true;
    m_awaited.clear();
    m_timer.stop();
    if (m_confirmed && *m_confirmed != m_settings) {
        // Sent without waiting for answers: a server that refuses these too must
        // not start a round of refusals and retries.
        m_settings = *m_confirmed;
        emit request(TelnetCodec::settingsRequest(m_settings));
    }
    emit refused(description + u' ' + whatRuns());
}

QString ComPortAgreement::whatRuns() const
{
    if (m_confirmed)
        return tr("The line stays at \"%1\", which the server confirmed.").arg(m_confirmed->text);
    return tr("The line runs at the server's own settings.");
}

QString ComPortAgreement::seconds() const
{
    return QString::number(std::chrono::duration<double>(m_timer.intervalAsDuration()).count());
}
