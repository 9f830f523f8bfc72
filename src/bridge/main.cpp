// qvx-bridge: one projector's line shared by a venue's PJLink controllers, the panel and scripts.
#include "bridgedaemon.h"
#include "linesettings.h"
#include "terminationwatcher.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

namespace {

constexpr char kUsage[] = "Usage: qvx-bridge [--venue FILE] [--port NAME] [--check]\n"
                          "       qvx-bridge --port ENDPOINT [--speed 9600|115200] [--pjlink ADDRESS:PORT]\n"
                          "                  [--commands ADDRESS:PORT]\n"
                          "\n"
                          "Shares projectors' serial lines with PJLink controllers and, through a command\n"
                          "port, with qvx-control and qvx-send: one exchange on the line at a time.\n"
                          "\n"
                          "  --venue FILE      the venue file; else $XDG_CONFIG_HOME/qvx/venue.conf, then\n"
                          "                    /etc/qvx/venue.conf (see qvx-venue(5))\n"
                          "  --port NAME       only that projector of the venue file\n"
                          "  --port ENDPOINT   a serial device, rfc2217://host:port or socket://host:port,\n"
                          "                    served without a venue file and without a password\n"
                          "  --speed SPEED     with --port ENDPOINT: 9600 (the default) or 115200 bit/s\n"
                          "  --pjlink ADDRESS  with --port ENDPOINT: where PJLink listens, on loopback\n"
                          "                    only (127.0.0.1:4352 without it)\n"
                          "  --commands ADDRESS  with --port ENDPOINT: the command port, none without it\n"
                          "  --check           check the venue file, name the line of each error, and exit\n"
                          "\n"
                          "Exit status: 0 after SIGTERM or Ctrl+C, or a venue file without errors with\n"
                          "--check; 1 an address that cannot be listened on; 64 a usage error; 78 an\n"
                          "error in the venue file.\n";

enum ExitStatus { Done = 0, CannotListen = 1, UsageError = 64, ConfigError = 78 };

QFile &errorOutput()
{
    static QFile errors;
    if (!errors.isOpen())
        errors.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return errors;
}

void say(const QString &line)
{
    errorOutput().write((line + u'\n').toLocal8Bit());
}

struct Arguments
{
    QString venue;
    QString port;
    QString speed;
    QString pjlink;
    QString commands;
    bool check = false;
};

// The options' values, or nothing after a usage error, which it says.
std::optional<Arguments> argumentsOf(const QStringList &given, int *status)
{
    Arguments arguments;
    const std::array valued{std::pair{u"--venue", &arguments.venue}, std::pair{u"--port", &arguments.port},
                            std::pair{u"--speed", &arguments.speed},
                            std::pair{u"--pjlink", &arguments.pjlink},
                            std::pair{u"--commands", &arguments.commands}};
    const auto fail = [&](const QString &why) {
        say(QStringLiteral("qvx-bridge: ") + why + QStringLiteral("\nTry qvx-bridge --help."));
        *status = UsageError;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < given.size(); ++i) {
        const QString &option = given[i];
        if (option == u"--help" || option == u"-h") {
            QFile output;
            output.open(STDOUT_FILENO, QIODevice::WriteOnly);
            output.write(kUsage);
            *status = Done;
            return std::nullopt;
        }
        if (option == u"--version") {
            QFile output;
            output.open(STDOUT_FILENO, QIODevice::WriteOnly);
            output.write("qvx-bridge " QVX_VERSION "\n");
            *status = Done;
            return std::nullopt;
        }
        if (option == u"--check") {
            arguments.check = true;
            continue;
        }
        const auto found = std::find_if(valued.begin(), valued.end(),
                                        [&](const auto &entry) { return option == entry.first; });
        if (found == valued.end())
            return fail(QStringLiteral("unknown option \"%1\"").arg(option));
        if (i + 1 == given.size())
            return fail(QStringLiteral("%1 needs a value").arg(option));
        if (!found->second->isEmpty())
            return fail(QStringLiteral("%1 is given twice").arg(option));
        *found->second = given[++i];
    }
    return arguments;
}

// A projector named by its endpoint on the command line: PJLink on loopback
// without a password, as no password belongs on a command line.
std::optional<BridgeConfig> configOfEndpoint(const Arguments &arguments, QString *error)
{
    BridgeConfig config;
    const auto endpoint = Endpoint::parse(arguments.port, error);
    if (!endpoint)
        return std::nullopt;
    config.label = arguments.port;
    config.endpoint = *endpoint;
    config.identity.name = arguments.port.toUtf8();
    const QString speed = arguments.speed.isEmpty() ? QStringLiteral("9600") : arguments.speed;
    if (speed != u"9600" && speed != u"115200") {
        *error = QStringLiteral("--speed is 9600 or 115200, not \"%1\"").arg(speed);
        return std::nullopt;
    }
    config.settings =
        QString::fromLatin1(speed == u"9600" ? LineSettings::kText9600 : LineSettings::kText115200);
    QString why;
    const auto pjlink = PjlinkAddress::parse(
        arguments.pjlink.isEmpty() ? QStringLiteral("127.0.0.1:4352") : arguments.pjlink, &why);
    if (pjlink)
        config.pjlink = {*pjlink};
    if (!pjlink || !pjlink->host.isLoopback()) {
        *error = pjlink ? QStringLiteral("--pjlink listens on loopback only, as it takes no password; "
                                         "give PJLink a password in a venue file to serve it further")
                        : QStringLiteral("--pjlink: ") + why;
        return std::nullopt;
    }
    if (!arguments.commands.isEmpty()) {
        config.commands = PjlinkAddress::parse(arguments.commands, &why);
        if (!config.commands) {
            *error = QStringLiteral("--commands: ") + why;
            return std::nullopt;
        }
    }
    return config;
}

// The projectors to serve, or nothing with the status to exit with.
std::optional<QList<BridgeConfig>> configsOf(const Arguments &arguments, int *status)
{
    const bool byEndpoint =
        !arguments.port.isEmpty() && (arguments.port.contains(u'/') || arguments.port.contains(u"://"));
    if (byEndpoint) {
        QString error;
        if (!arguments.venue.isEmpty() || arguments.check)
            error = QStringLiteral("--port %1 is served without a venue file: leave out --venue and --check")
                        .arg(arguments.port);
        const auto config = error.isEmpty() ? configOfEndpoint(arguments, &error) : std::nullopt;
        if (!config) {
            say(QStringLiteral("qvx-bridge: ") + error);
            *status = UsageError;
            return std::nullopt;
        }
        return QList<BridgeConfig>{*config};
    }
    if (!arguments.speed.isEmpty() || !arguments.pjlink.isEmpty() || !arguments.commands.isEmpty()) {
        say(QStringLiteral("qvx-bridge: --speed, --pjlink and --commands go with --port ENDPOINT; the venue "
                           "file gives them for its projectors"));
        *status = UsageError;
        return std::nullopt;
    }
    const QString file = arguments.venue.isEmpty() ? Venue::findFile() : arguments.venue;
    if (file.isEmpty()) {
        say(QStringLiteral("qvx-bridge: no venue file: there is none at %1; give one with --venue FILE, or a "
                           "line with --port")
                .arg(Venue::searchOrder().join(QStringLiteral(" or "))));
        *status = ConfigError;
        return std::nullopt;
    }
    QString error;
    const auto venue = Venue::load(file, &error);
    if (!venue) {
        say(QStringLiteral("qvx-bridge: ") + error);
        *status = ConfigError;
        return std::nullopt;
    }
    QStringList errors;
    QStringList skipped;
    auto configs = BridgeConfig::allOf(*venue, &errors, &skipped);
    if (!configs) {
        for (const QString &line : std::as_const(errors))
            say(QStringLiteral("qvx-bridge: ") + line);
        *status = ConfigError;
        return std::nullopt;
    }
    if (!arguments.port.isEmpty()) {
        const Projector *projector = venue->find(arguments.port);
        const auto chosen = std::find_if(configs->begin(), configs->end(), [&](const BridgeConfig &config) {
            return projector && config.label == projector->name;
        });
        if (chosen == configs->end()) {
            say(QStringLiteral("qvx-bridge: %1 names no projector with a pjlink or commands key")
                    .arg(file + QStringLiteral(": ") + arguments.port));
            *status = ConfigError;
            return std::nullopt;
        }
        return QList<BridgeConfig>{*chosen};
    }
    for (const QString &name : std::as_const(skipped))
        say(QStringLiteral("%1: not served: its section has neither a pjlink nor a commands key").arg(name));
    if (configs->isEmpty()) {
        say(QStringLiteral("qvx-bridge: %1 gives no projector a pjlink or commands key").arg(file));
        *status = ConfigError;
        return std::nullopt;
    }
    return configs;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvx-bridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVX_VERSION));

    int status = Done;
    const auto arguments = argumentsOf(app.arguments().mid(1), &status);
    if (!arguments)
        return status;
    const auto configs = configsOf(*arguments, &status);
    if (!configs)
        return status;
    if (arguments->check) {
        say(QStringLiteral("qvx-bridge: the venue file serves %1 projector(s)").arg(configs->size()));
        return Done;
    }

    BridgeDaemon daemon(&say);
    QString error;
    if (!daemon.start(*configs, &error)) {
        say(QStringLiteral("qvx-bridge: ") + error);
        return CannotListen;
    }
    // SIGTERM and Ctrl+C close every line, so that no lens keeps getting steps.
    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app,
                     [] { QCoreApplication::exit(Done); });
    return app.exec();
}
