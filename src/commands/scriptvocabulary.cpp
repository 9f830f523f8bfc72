// What a script's words send: a name's command text, its reply window, and a held lens step's repeats.
#include "scriptvocabulary.h"

#include "holdrepeater.h"
#include "linkengine.h"

#include <QCoreApplication>

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

using namespace std::chrono;

namespace commands {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("commands", text);
}

QString nameOf(const ScriptName &entry)
{
    return QString::fromLatin1(entry.name.data(), qsizetype(entry.name.size()));
}

QByteArray bytesOf(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

milliseconds replyWindowOf(Timing timing)
{
    const auto windows = windowsOf(timing);
    return windows ? windows->reply : LinkEngine::kReplyWindow;
}

milliseconds replyWindowOf(const ScriptName &name)
{
    switch (name.kind) {
    case Fixed:
        return replyWindowOf(findControl(kFixedCommands, name.source)->timing);
    case Value:
    case Text:
        return replyWindowOf(findControl(kTextCommands, name.source)->timing);
    case Query:
    case Summary:
        return replyWindowOf(FreeText);
    case Lens:
        break;
    }
    return LinkEngine::kReplyWindow;
}

// A whole number of at most two digits, with a sign where one is allowed, or nothing.
std::optional<int> twoDigitNumber(QStringView text, bool signAllowed)
{
    QStringView digits = text;
    int sign = 1;
    if (!digits.isEmpty() && (digits.front() == u'+' || (signAllowed && digits.front() == u'-'))) {
        sign = digits.front() == u'-' ? -1 : 1;
        digits = digits.sliced(1);
    }
    if (digits.isEmpty() || digits.size() > 2 ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    return sign * digits.toInt();
}

std::optional<QByteArray> valueText(const ScriptName &name, QStringView value, QString *error)
{
    if (name.source == "Command105") {
        const auto volume = twoDigitNumber(value, false);
        if (volume && *volume <= kLongestVolume)
            return QByteArray::number(*volume).rightJustified(2, '0');
        *error = tr("%1 takes a whole number from 0 to %2 (00～60), not \"%3\"")
                     .arg(nameOf(name))
                     .arg(kLongestVolume)
                     .arg(value);
        return std::nullopt;
    }
    const auto keystone = twoDigitNumber(value, true);
    if (keystone && std::abs(*keystone) <= kWidestKeystone)
        return (*keystone < 0 ? "-" : "+") + QByteArray::number(std::abs(*keystone)).rightJustified(2, '0');
    *error = tr("%1 takes a whole number from -%2 to +%2 (-60～+60), not \"%3\"")
                 .arg(nameOf(name))
                 .arg(kWidestKeystone)
                 .arg(value);
    return std::nullopt;
}

std::optional<QByteArray> freeText(const ScriptName &name, QStringView value, QString *error)
{
    const bool printable =
        std::all_of(value.begin(), value.end(), [](QChar c) { return c >= u' ' && c <= u'~'; });
    if (printable && value.size() <= kLongestText)
        return value.toLatin1();
    *error = tr("%1 takes at most %2 printable ASCII characters, not \"%3\"")
                 .arg(nameOf(name))
                 .arg(kLongestText)
                 .arg(value);
    return std::nullopt;
}

qsizetype editDistance(QStringView a, QStringView b)
{
    QList<qsizetype> row(b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = std::exchange(row[0], i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype substitution = diagonal + (a[i - 1] != b[j - 1]);
            diagonal = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, substitution});
        }
    }
    return row[b.size()];
}

} // namespace

const ScriptName *findScriptName(QStringView name)
{
    for (const ScriptName &entry : kScriptNames) {
        if (name.compare(QLatin1StringView(entry.name.data(), qsizetype(entry.name.size())),
                         Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

QStringList nearestNames(QStringView name, qsizetype count)
{
    const QString lower = name.toString().toLower();
    std::vector<std::pair<qsizetype, QString>> ranked;
    for (const auto &entry : kScriptNames) {
        const QString candidate = nameOf(entry);
        ranked.emplace_back(editDistance(lower, candidate), candidate);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList nearest;
    for (qsizetype i = 0; i < count && i < qsizetype(ranked.size()); ++i)
        nearest.append(ranked[size_t(i)].second);
    return nearest;
}

std::optional<QByteArray> commandText(const ScriptName &name, QStringView value, QString *error)
{
    switch (name.kind) {
    case Fixed:
        return bytesOf(findControl(kFixedCommands, name.source)->body);
    case Query:
    case Summary:
        return bytesOf(name.source);
    case Lens:
        return bytesOf(findControl(kLensButtons, name.source)->step);
    case Value:
    case Text:
        break;
    }
    const TextCommand &command = *findControl(kTextCommands, name.source);
    const auto text = name.kind == Value ? valueText(name, value, error) : freeText(name, value, error);
    if (!text)
        return std::nullopt;
    return bytesOf(command.lead) + *text;
}

QByteArray listedText(const ScriptName &name)
{
    if (name.kind != Value && name.kind != Text) {
        QString unused;
        return *commandText(name, {}, &unused);
    }
    return bytesOf(findControl(kTextCommands, name.source)->lead) + bytesOf(name.value);
}

QList<Step> stepsOf(const ScriptName &name, const QByteArray &text, milliseconds hold)
{
    const QString given = nameOf(name);
    if (name.kind == Summary) {
        QList<Step> steps;
        for (const std::string_view query : kSummaryNames) {
            const ScriptName &entry =
                *findScriptName(QString::fromLatin1(query.data(), qsizetype(query.size())));
            QString unused;
            steps.append(
                Step{nameOf(entry), *commandText(entry, {}, &unused), replyWindowOf(entry), {}, true});
        }
        return steps;
    }
    if (name.kind != Lens)
        return {Step{given, text, replyWindowOf(name), {}}};
    // While held, a step's reply window is as long as the repeat; the last
    // one's is the window the panel gives after the release.
    const milliseconds repeat = HoldRepeater::kRepeat;
    const qsizetype count = std::max<qsizetype>(1, (hold.count() + repeat.count() - 1) / repeat.count());
    QList<Step> steps(count, Step{given, text, HoldRepeater::kHeldReplyWindow, repeat});
    steps.last() = Step{given, text, LinkEngine::kReplyWindow, {}};
    return steps;
}

Step stepOfText(const QByteArray &text)
{
    const auto named = [&](std::string_view source) {
        const auto entry =
            std::find_if(kScriptNames.begin(), kScriptNames.end(), [&](const ScriptName &name) {
                return (name.kind == Fixed || name.kind == Query) && name.source == source;
            });
        return entry != kScriptNames.end() ? nameOf(*entry) : QString();
    };
    const auto fixed =
        std::find_if(kFixedCommands.begin(), kFixedCommands.end(),
                     [&](const FixedCommand &entry) { return text == QByteArrayView(entry.body); });
    if (fixed != kFixedCommands.end())
        return Step{named(fixed->control), text, replyWindowOf(fixed->timing), {}};
    // A value box's command and a lens step have the plain window, as any
    // command with ACK for its answer; the rest is the free line's text.
    if (isAcknowledged(text))
        return Step{{}, text, LinkEngine::kReplyWindow, {}};
    return Step{named(std::string_view(text.constData(), std::size_t(text.size()))),
                text,
                replyWindowOf(FreeText),
                {}};
}

bool isLensStep(QByteArrayView text)
{
    return std::any_of(kLensButtons.begin(), kLensButtons.end(),
                       [text](const LensButton &entry) { return text == QByteArrayView(entry.step); });
}

bool isAcknowledged(QByteArrayView text)
{
    return std::any_of(kFixedCommands.begin(), kFixedCommands.end(),
                       [text](const FixedCommand &entry) { return text == QByteArrayView(entry.body); }) ||
           isLensStep(text) ||
           std::any_of(kTextCommands.begin(), kTextCommands.end(), [&](const TextCommand &entry) {
               return !entry.lead.empty() && text.size() == qsizetype(kBodyLength) &&
                      text.startsWith(QByteArrayView(entry.lead));
           });
}

} // namespace commands
