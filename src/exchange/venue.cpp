// The venue file, which names each projector of a venue with its port, its speed and qvx-bridge's keys.
#include "venue.h"

#include "linesettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// What the venue does with a key: reads the port or the speed itself, or keeps
// the line as an entry for qvx-bridge.
enum class KeyUse { Port, Speed, Kept };

struct KnownKey
{
    std::string_view name;
    KeyUse use;
};

constexpr std::array kKnownKeys{
    KnownKey{"port", KeyUse::Port},
    KnownKey{"speed", KeyUse::Speed},
    KnownKey{"name", KeyUse::Kept},
    KnownKey{"pjlink", KeyUse::Kept},
    KnownKey{"pjlink-password", KeyUse::Kept},
    KnownKey{"pjlink-password-file", KeyUse::Kept},
    KnownKey{"commands", KeyUse::Kept},
    KnownKey{"status-age", KeyUse::Kept},
    KnownKey{"poll", KeyUse::Kept},
    KnownKey{"serial-number", KeyUse::Kept},
    KnownKey{"software-version", KeyUse::Kept},
};

struct Speed
{
    std::string_view name;
    std::string_view settings;
};

constexpr std::array kSpeeds{
    Speed{"9600", LineSettings::kText9600},
    Speed{"115200", LineSettings::kText115200},
};

template <typename Row, std::size_t size> constexpr bool namesUnique(const std::array<Row, size> &table)
{
    for (std::size_t i = 0; i < size; ++i)
        for (std::size_t j = i + 1; j < size; ++j)
            if (table[i].name == table[j].name)
                return false;
    return true;
}
static_assert(namesUnique(kKnownKeys), "each venue key is named once");
static_assert(namesUnique(kSpeeds), "each speed is named once");

constexpr char kSystemFile[] = "/etc/qvx/venue.conf";
constexpr QLatin1StringView kFileInConfigHome("/qvx/venue.conf");
// An editor on Windows may start a UTF-8 file with a byte order mark.
constexpr QByteArrayView kByteOrderMark = "\xEF\xBB\xBF";

QString tr(const char *text)
{
    return QCoreApplication::translate("Venue", text);
}

QString textOf(std::string_view view)
{
    return QString::fromLatin1(view.data(), qsizetype(view.size()));
}

bool isNameCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
           c == u'_' || c == u'.';
}

// A '#' after a blank starts a comment, so that "a#b" stays a value.
QStringView withoutComment(QStringView line)
{
    for (qsizetype i = 1; i < line.size(); ++i) {
        if (line[i] == u'#' && line[i - 1].isSpace())
            return line.first(i).trimmed();
    }
    return line;
}

// What two ways of writing one device share, and one server's port through either protocol.
QString portKey(const Endpoint &endpoint)
{
    if (!endpoint.isNetwork())
        return QStringLiteral("device ") + QDir::cleanPath(endpoint.device);
    return QStringLiteral("server %1 %2").arg(endpoint.host.toLower(), QString::number(endpoint.port));
}

QString knownKeyNames()
{
    QStringList names;
    for (const KnownKey &key : kKnownKeys)
        names.append(textOf(key.name));
    return names.join(QStringLiteral(", "));
}

// Reads the file line by line into projectors; the first fault ends it, with
// *error naming the file and the line.
class VenueParser
{
public:
    VenueParser(const QString &fileName, QString *error)
        : m_fileName(fileName)
        , m_error(error)
    {}

    std::optional<QList<Projector>> run(QByteArrayView text);

private:
    bool takeRawLine(QByteArrayView bytes);
    bool takeLine(QStringView line);
    bool openSection(QStringView name);
    bool closeSection();
    bool takeKey(QStringView key, QStringView value);
    bool takePort(const QString &value);
    bool takeSpeed(QStringView value);
    bool fail(const QString &why) { return failAt(m_line, why); }
    bool failAt(int line, const QString &why);

    QString m_fileName;
    QString *m_error;
    int m_line = 0;
    QList<Projector> m_projectors;
    // The projectors so far by their name in lower case and by their port's key,
    // so that a file of thousands of sections is checked in one pass.
    QHash<QString, qsizetype> m_byName;
    QHash<QString, qsizetype> m_byPort;
    // The keys of the open section so far, for one given twice.
    QList<VenueEntry> m_given;
};

std::optional<QList<Projector>> VenueParser::run(QByteArrayView text)
{
    if (text.size() > Venue::kMaxFileBytes) {
        failAt(int(text.first(Venue::kMaxFileBytes).count('\n')) + 1,
               tr("the file goes on past 1 MiB, the most a venue file may hold"));
        return std::nullopt;
    }
    if (text.startsWith(kByteOrderMark))
        text = text.sliced(kByteOrderMark.size());
    while (!text.isEmpty()) {
        ++m_line;
        const qsizetype end = text.indexOf('\n');
        const QByteArrayView bytes = end < 0 ? text : text.first(end);
        text = end < 0 ? QByteArrayView() : text.sliced(end + 1);
        if (!takeRawLine(bytes))
            return std::nullopt;
    }
    if (!closeSection())
        return std::nullopt;
    return m_projectors;
}

bool VenueParser::takeRawLine(QByteArrayView bytes)
{
    if (bytes.size() > Venue::kMaxLineBytes)
        return fail(tr("the line is longer than %1 bytes").arg(Venue::kMaxLineBytes));
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    if (!bytes.isValidUtf8())
        return fail(tr("the line is not UTF-8 text"));
    const QString line = QString::fromUtf8(bytes);
    const auto control = std::find_if(
        line.begin(), line.end(), [](QChar c) { return c.category() == QChar::Other_Control && c != u'\t'; });
    if (control != line.end())
        return fail(tr("the line holds the control character U+%1")
                        .arg(QString::number(control->unicode(), 16).toUpper().rightJustified(4, u'0')));
    return takeLine(QStringView(line).trimmed());
}

bool VenueParser::takeLine(QStringView line)
{
    if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
        return true;
    line = withoutComment(line);
    if (line.startsWith(u'[')) {
        if (line.size() < 2 || !line.endsWith(u']'))
            return fail(tr("a section line ends with ']'"));
        return openSection(line.sliced(1, line.size() - 2));
    }
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return fail(tr("this is neither a [section] line nor a \"key = value\" line"));
    return takeKey(line.first(equals).trimmed(), line.sliced(equals + 1).trimmed());
}

bool VenueParser::openSection(QStringView name)
{
    if (!closeSection())
        return false;
    if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isNameCharacter))
        return fail(
            tr("a section name is ASCII letters, digits, '-', '_' and '.', not \"%1\"").arg(name.toString()));
    const QString lowerName = name.toString().toLower();
    if (const auto same = m_byName.constFind(lowerName); same != m_byName.cend()) {
        return fail(tr("[%1] is given twice (first on line %2)")
                        .arg(name.toString(), QString::number(m_projectors.at(*same).line)));
    }
    m_byName.insert(lowerName, m_projectors.size());
    m_projectors.append(
        Projector{name.toString(), m_line, {}, {}, QString::fromLatin1(LineSettings::kText9600), {}});
    m_given.clear();
    return true;
}

bool VenueParser::closeSection()
{
    if (m_projectors.isEmpty() || !m_projectors.last().port.isEmpty())
        return true;
    const Projector &open = m_projectors.last();
    return failAt(open.line, tr("[%1] has no port").arg(open.name));
}

bool VenueParser::takeKey(QStringView key, QStringView value)
{
    if (m_projectors.isEmpty())
        return fail(tr("\"%1\" comes before any [section]").arg(key.toString()));
    const auto known = std::find_if(kKnownKeys.begin(), kKnownKeys.end(),
                                    [&](const KnownKey &k) { return key == textOf(k.name); });
    if (known == kKnownKeys.end())
        return fail(tr("unknown key \"%1\"; the keys are %2").arg(key.toString(), knownKeyNames()));
    const auto given =
        std::find_if(m_given.cbegin(), m_given.cend(), [&](const VenueEntry &e) { return e.key == key; });
    if (given != m_given.cend())
        return fail(tr("%1 is given twice in [%2] (first on line %3)")
                        .arg(given->key, m_projectors.last().name, QString::number(given->line)));
    if (value.isEmpty())
        return fail(tr("%1 has no value").arg(key.toString()));
    const VenueEntry entry{key.toString(), value.toString(), m_line};
    m_given.append(entry);
    switch (known->use) {
    case KeyUse::Port:
        return takePort(entry.value);
    case KeyUse::Speed:
        return takeSpeed(value);
    case KeyUse::Kept:
        m_projectors.last().entries.append(entry);
        return true;
    }
    return true;
}

bool VenueParser::takePort(const QString &value)
{
    Projector &open = m_projectors.last();
    QString why;
    const auto endpoint = Endpoint::parse(value, &why);
    if (!endpoint)
        return fail(tr("bad port for [%1]: %2").arg(open.name, why));
    const QString key = portKey(*endpoint);
    if (const auto other = m_byPort.constFind(key); other != m_byPort.cend()) {
        const Projector &owner = m_projectors.at(*other);
        return fail(tr("[%1] is on the port of [%2] (line %3); each projector needs a port of its own")
                        .arg(open.name, owner.name, QString::number(owner.line)));
    }
    m_byPort.insert(key, m_projectors.size() - 1);
    open.port = value;
    open.endpoint = *endpoint;
    return true;
}

bool VenueParser::takeSpeed(QStringView value)
{
    const auto speed =
        std::find_if(kSpeeds.begin(), kSpeeds.end(), [&](const Speed &s) { return value == textOf(s.name); });
    if (speed == kSpeeds.end())
        return fail(tr("speed is 9600 or 115200, not \"%1\"").arg(value.toString()));
    m_projectors.last().settings = textOf(speed->settings);
    return true;
}

bool VenueParser::failAt(int line, const QString &why)
{
    *m_error = QStringLiteral("%1:%2: %3").arg(m_fileName, QString::number(line), why);
    return false;
}

} // namespace

const VenueEntry *Projector::entry(QStringView key) const
{
    const auto found =
        std::find_if(entries.cbegin(), entries.cend(), [&](const VenueEntry &e) { return e.key == key; });
    return found == entries.cend() ? nullptr : &*found;
}

Venue::Venue(QString fileName, QList<Projector> projectors)
    : m_fileName(std::move(fileName))
    , m_projectors(std::move(projectors))
{}

const Projector *Venue::find(QStringView name) const
{
    const auto found = std::find_if(m_projectors.cbegin(), m_projectors.cend(), [&](const Projector &p) {
        return p.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    return found == m_projectors.cend() ? nullptr : &*found;
}

QStringList Venue::searchOrder()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG base directory rules ignore a relative path there.
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return {configHome + kFileInConfigHome, QString::fromLatin1(kSystemFile)};
}

QString Venue::findFile()
{
    const QStringList paths = searchOrder();
    const auto found =
        std::find_if(paths.cbegin(), paths.cend(), [](const QString &p) { return QFileInfo::exists(p); });
    return found == paths.cend() ? QString() : *found;
}

std::optional<Venue> Venue::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("%1: cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    // One byte past the bound is enough for parse() to say where the file passes it.
    const QByteArray text = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = tr("%1: cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return parse(text, path, error);
}

std::optional<Venue> Venue::parse(QByteArrayView text, const QString &fileName, QString *error)
{
    auto projectors = VenueParser(fileName, error).run(text);
    if (!projectors)
        return std::nullopt;
    return Venue(fileName, std::move(*projectors));
}
