// What one call of qvx-send asks for, read from its command line.
#include "sendrequest.h"

#include "endpoint.h"
#include "linesettings.h"
#include "venue.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cmath>

using namespace std::chrono;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("qvx-send", text);
}

QString textOf(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Seconds as a decimal number within the bounds, or nothing.
std::optional<milliseconds> secondsIn(const QString &text, milliseconds shortest, milliseconds longest)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds))
        return std::nullopt;
    const auto value = milliseconds(std::llround(seconds * 1000));
    if (value < shortest || value > longest)
        return std::nullopt;
    return value;
}

// A port given by name rather than by path or address: a projector of the venue.
bool isProjectorName(const QString &port)
{
    return !port.contains(u'/') && !Endpoint::looksLikeUrl(port);
}

// The same device or server, however it was written: a device by the node a
// link leads to, a server by its address.
QString identityOf(const Endpoint &endpoint)
{
    if (endpoint.isNetwork())
        return endpoint.host.toLower() + u':' + QString::number(endpoint.port);
    const QFileInfo file(endpoint.device);
    return file.exists() ? file.canonicalFilePath() : file.absoluteFilePath();
}

// The words of the command line: options, the named ports, the commands.
struct Words
{
    QStringList ports;
    QString venue;
    bool all = false;
    std::optional<QString> speed;
    struct Named
    {
        const commands::ScriptName *name;
        QString value;
    };
    QList<Named> named;
};

class Parser
{
public:
    Parser(const QStringList &arguments, QString *error)
        : m_arguments(arguments)
        , m_error(*error)
    {}

    std::optional<SendRequest> parse();

private:
    std::optional<QString> value()
    {
        if (m_at + 1 >= m_arguments.size())
            return std::nullopt;
        return m_arguments[++m_at];
    }
    bool fail(const QString &reason)
    {
        m_error = reason;
        return false;
    }
    bool option(const QString &argument);
    bool ports();
    bool steps();

    const QStringList &m_arguments;
    QString &m_error;
    qsizetype m_at = 0;
    SendRequest m_request;
    Words m_words;
};

std::optional<SendRequest> Parser::parse()
{
    for (m_at = 0; m_at < m_arguments.size(); ++m_at) {
        const QString &argument = m_arguments[m_at];
        if (argument == u"--list" || argument == u"--help" || argument == u"-h" || argument == u"--version") {
            m_request.action = argument == u"--list"      ? SendRequest::Action::List
                               : argument == u"--version" ? SendRequest::Action::Version
                                                          : SendRequest::Action::Help;
            // A list or a version with commands beside it was meant otherwise.
            if (m_request.action != SendRequest::Action::Help && m_arguments.size() > 1) {
                fail(tr("%1 takes no other arguments").arg(argument));
                return std::nullopt;
            }
            return m_request;
        }
        if (!option(argument))
            return std::nullopt;
    }
    if (m_request.count && !m_request.every) {
        fail(tr("--count counts the rounds of --every"));
        return std::nullopt;
    }
    if (m_words.named.isEmpty()) {
        fail(tr("no command given; qvx-send --list names them all"));
        return std::nullopt;
    }
    if (!ports() || !steps())
        return std::nullopt;
    return m_request;
}

bool Parser::option(const QString &argument)
{
    // The argument after an option or a name that takes one, whatever it
    // looks like: "keystone-v -05" is a value, not an option.
    if (argument == u"--json" || argument == u"--dump" || argument == u"--check" || argument == u"--all") {
        (argument == u"--json"    ? m_request.json
         : argument == u"--dump"  ? m_request.dump
         : argument == u"--check" ? m_request.check
                                  : m_words.all) = true;
    } else if (argument == u"--port") {
        const auto port = value();
        if (!port || port->isEmpty())
            return fail(tr("--port takes a projector of the venue file, a device path, rfc2217://host:port "
                           "or socket://host:port"));
        m_words.ports.append(*port);
    } else if (argument == u"--venue") {
        const auto venue = value();
        if (!venue || venue->isEmpty())
            return fail(tr("--venue takes the path of a venue file"));
        m_words.venue = *venue;
    } else if (argument == u"--speed") {
        m_words.speed = value();
        if (m_words.speed != u"9600" && m_words.speed != u"115200")
            return fail(tr("--speed takes 9600 or 115200"));
    } else if (argument == u"--every") {
        const auto seconds = value();
        m_request.every = seconds
                              ? secondsIn(*seconds, SendRequest::kShortestEvery, SendRequest::kLongestEvery)
                              : std::nullopt;
        if (!m_request.every)
            return fail(tr("--every takes seconds from 0.1 to 86400"));
    } else if (argument == u"--count") {
        const auto rounds = value();
        bool ok = false;
        const int count = rounds ? rounds->toInt(&ok) : 0;
        if (!ok || count < 1)
            return fail(tr("--count takes a number of rounds from 1 on"));
        m_request.count = count;
    } else if (argument == u"--hold") {
        const auto seconds = value();
        const auto hold = seconds ? secondsIn(*seconds, {}, SendRequest::kLongestHold) : std::nullopt;
        if (!hold)
            return fail(tr("--hold takes seconds from 0 to 60"));
        m_request.hold = *hold;
    } else if (argument.startsWith(u"--")) {
        return fail(tr("unknown option %1").arg(argument));
    } else if (const commands::ScriptName *name = commands::findScriptName(argument)) {
        QString given;
        if (!name->value.empty()) {
            const auto text = value();
            if (!text)
                return fail(tr("%1 takes a value: %1 %2").arg(textOf(name->name), textOf(name->value)));
            given = *text;
        }
        m_words.named.append({name, given});
    } else {
        return fail(tr("no command is named \"%1\"; the nearest are %2. qvx-send --list names them all.")
                        .arg(argument, commands::nearestNames(argument).join(QStringLiteral(", "))));
    }
    return true;
}

bool Parser::ports()
{
    const bool byName =
        m_words.all || std::any_of(m_words.ports.begin(), m_words.ports.end(), isProjectorName);
    std::optional<Venue> venue;
    if (byName) {
        const QString file = m_words.venue.isEmpty() ? Venue::findFile() : m_words.venue;
        if (file.isEmpty())
            return fail(tr("no venue file names the projectors; looked for %1")
                            .arg(Venue::searchOrder().join(QStringLiteral(" and "))));
        venue = Venue::load(file, &m_error);
        if (!venue)
            return false;
        if (m_words.all && venue->projectors().isEmpty())
            return fail(tr("%1 names no projector").arg(file));
    }
    const QString speed = m_words.speed == u"115200" ? QString::fromLatin1(LineSettings::kText115200)
                                                     : QString::fromLatin1(LineSettings::kText9600);
    if (m_words.all) {
        for (const Projector &projector : venue->projectors())
            m_request.ports.append(
                {projector.name, projector.port, m_words.speed ? speed : projector.settings});
    }
    for (const QString &port : std::as_const(m_words.ports)) {
        if (!isProjectorName(port)) {
            m_request.ports.append({port, port, speed});
            continue;
        }
        const Projector *projector = venue->find(port);
        if (!projector)
            return fail(tr("%1 names no projector \"%2\"").arg(venue->fileName(), port));
        m_request.ports.append(
            {projector->name, projector->port, m_words.speed ? speed : projector->settings});
    }
    QStringList identities;
    for (const SendPort &port : std::as_const(m_request.ports)) {
        QString why;
        const auto endpoint = Endpoint::parse(port.endpoint, &why);
        if (!endpoint)
            return fail(tr("--port %1: %2").arg(port.label, why));
        const QString identity = identityOf(*endpoint);
        if (identities.contains(identity))
            return fail(tr("%1 is given twice: a port runs its commands once").arg(port.label));
        identities.append(identity);
    }
    return true;
}

bool Parser::steps()
{
    for (const Words::Named &entry : std::as_const(m_words.named)) {
        if (m_request.hold > 0ms && entry.name->kind != commands::ScriptKind::Lens)
            return fail(tr("--hold moves a lens, and %1 is no lens step: give it zoom+, zoom-, focus+, "
                           "focus-, shift-up, shift-down, shift-left or shift-right")
                            .arg(textOf(entry.name->name)));
        const auto text = commands::commandText(*entry.name, entry.value, &m_error);
        if (!text)
            return false;
        m_request.steps.append(commands::stepsOf(*entry.name, *text, m_request.hold));
    }
    return true;
}

} // namespace

std::optional<SendRequest> SendRequest::parse(const QStringList &arguments, QString *error)
{
    Parser parser(arguments, error);
    return parser.parse();
}
