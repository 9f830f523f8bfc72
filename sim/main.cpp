// qvx-sim: reads the command line, opens the simulated projector's pty and runs until stopped.
#include "projectormodel.h"
#include "simline.h"
#include "terminationwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <limits>
#include <optional>

using namespace std::chrono_literals;

namespace {

constexpr auto kModelTick = 500ms;
constexpr int kMaxMilliseconds = 3'600'000;
constexpr double kMaxRate = 1'000'000.0;

constexpr char kOverview[] = R"(Simulated four-lamp projector on a pseudo-terminal.

Prints the slave device path as the first line of standard output, then answers
the commands the panel writes to that device until SIGTERM or SIGINT.

Input is split on CR (0x0D); a LF is an ordinary character. Lines are compared
exactly. Every reply ends with CR:
  setting accepted          ACK (0x06)
  TABN   1                  "000" + status character ('0' normal)
  TLPS   1 / TLPS   2       "000" + lamp state ('1' on, '0' off)
  TLTT   1 / TLTT   2       lamp hours, 5 digits (lamp 1 starts at 01234, lamp 2 at 00987)
  POWR????                  "1" on, "0" standby
  CR4                       image reversal, "11" = not reversed
  CR6                       intake and exhaust temperature, "025.0,026.0"
  CR7                       lamp mode digit + lit lamps as a hex digit (lamp 1 = 1 ... lamp 4 = 8)
  CR9                       identification "QVX-SIM 1.40"
  CRA                       "FF" standby, "03" AV mute, "80" no signal (VIDEO2 has nothing
                            connected), otherwise "00"
  CR PRESSURE               air pressure, 4 digits 0000..1023 (sea level about 0856)
  anything else             "ERR": unknown text, empty line, wrong or malformed argument
The forcing options below replace a modelled answer with the text given.

Settings and the values they accept (also in standby):
)";

constexpr char kDetails[] = R"(
Arguments must be spelled exactly as the panel sends them: "POWR   1",
"PINP  11", "VOLA  05", "KEYV -12", "LNZO+001". LPMD 0 lights all four lamps,
1 lamps 1 and 4, 2 lamps 2 and 3; THMD 0 is Normal, 1 Eco. Per-input settings
are kept per input: RA, RB, RC = RGB1-3, VA, VB = VIDEO1-2.
Lens steps move each position by one and stop at the ends: zoom and focus 0..400
(start 200), vertical and horizontal shift -200..200 (start 0).
Temperatures warm up while powered (less in Eco), cool down in standby and carry
a little noise; the pressure wanders slowly around sea level.
Lines longer than 256 bytes are cut to 256 bytes (and so answered "ERR"). At most
64 KiB of replies and noise are held for a panel that does not read; the rest is
dropped.)";

// The settings table written out for --help, so the help cannot disagree with what is accepted.
QString settingsSummary()
{
    using ProjectorCommands::Argument;
    constexpr qsizetype kWidth = 80;
    const auto spell = [](Argument argument, int value) {
        if (argument == Argument::TwoDigits)
            return QString::number(value).rightJustified(2, u'0');
        if (argument == Argument::Signed)
            return QString::asprintf("%+d", value);
        return QString::number(value);
    };

    QString summary;
    QString line;
    for (const auto &setting : ProjectorCommands::kSettings) {
        QString item =
            QString::fromLatin1(setting.mnemonic.data(), qsizetype(setting.mnemonic.size())) + u' ';
        if (setting.argument == Argument::LensStep) {
            item += QStringLiteral("+001|-001");
        } else if (setting.step > 1 || setting.min == setting.max) {
            QStringList values;
            for (int value = setting.min; value <= setting.max; value += setting.step)
                values << spell(setting.argument, value);
            item += values.join(u'|');
        } else {
            item += spell(setting.argument, setting.min) + QStringLiteral("..") +
                    spell(setting.argument, setting.max);
        }
        if (line.size() + 2 + item.size() > kWidth) {
            summary += line + u'\n';
            line.clear();
        }
        line += QStringLiteral("  ") + item;
    }
    return summary + line + u'\n';
}

struct Configuration
{
    SimLine::Options line;
    ProjectorOverrides overrides;
    double hoursPerMinute = 1.0;
};

// The option table and the checks on its values; everything else in main only runs the objects.
class Arguments
{
public:
    Arguments()
    {
        m_parser.setApplicationDescription(QString::fromLatin1(kOverview) + settingsSummary() +
                                           QString::fromLatin1(kDetails));
        m_parser.addHelpOption();
        m_parser.addVersionOption();
        m_parser.addOptions({m_delay, m_split, m_gap, m_silent, m_noise, m_noiseKind, m_seed, m_hangupAfter,
                             m_verbose, m_link, m_status, m_lampState, m_lampHours, m_hoursPerMinute,
                             m_reversal, m_lampPattern, m_muteCode, m_pressure});
    }

    // Exits with a usage message on unknown options, --help and --version.
    std::optional<Configuration> parse(const QCoreApplication &app, QString *error)
    {
        m_parser.process(app);
        if (!m_parser.positionalArguments().isEmpty()) {
            *error =
                QStringLiteral("unexpected argument \"%1\"").arg(m_parser.positionalArguments().constFirst());
            return {};
        }
        m_error = error;
        Configuration config;
        auto &line = config.line;
        line.delay = std::chrono::milliseconds(integer(m_delay, 0, kMaxMilliseconds, 0));
        line.split = integer(m_split, 1, SimLine::kMaxQueuedBytes, 0);
        line.gap = std::chrono::milliseconds(integer(m_gap, 0, kMaxMilliseconds, 200));
        line.silent = m_parser.isSet(m_silent);
        line.noiseRate = real(m_noise, kMaxRate, 0.0);
        line.seed = quint32(
            integer(m_seed, 0, std::numeric_limits<quint32>::max(), QRandomGenerator::system()->generate()));
        line.hangupAfter = integer(m_hangupAfter, 1, std::numeric_limits<int>::max(), 0);
        line.verbose = m_parser.isSet(m_verbose);
        line.linkPath = m_parser.value(m_link);
        const QString kind = m_parser.value(m_noiseKind);
        if (kind == QLatin1String("printable"))
            line.noiseKind = SimLine::NoiseKind::Printable;
        else if (kind != QLatin1String("random"))
            fail(m_noiseKind, QStringLiteral("random or printable"));

        auto &forced = config.overrides;
        forced.status = text(m_status, 1);
        forced.lampState = text(m_lampState, 1);
        forced.lampHours = text(m_lampHours);
        forced.reversal = text(m_reversal, 2);
        forced.lampPattern = text(m_lampPattern, 2);
        forced.muteCode = text(m_muteCode, 2);
        forced.pressure = text(m_pressure);
        config.hoursPerMinute = real(m_hoursPerMinute, kMaxRate, 1.0);

        if (!m_error->isEmpty())
            return {};
        return config;
    }

private:
    qint64 integer(const QCommandLineOption &option, qint64 min, qint64 max, qint64 fallback)
    {
        if (!m_parser.isSet(option))
            return fallback;
        bool ok = false;
        const qint64 value = m_parser.value(option).toLongLong(&ok);
        if (!ok || value < min || value > max)
            fail(option, QStringLiteral("a whole number from %1 to %2").arg(min).arg(max));
        return value;
    }

    double real(const QCommandLineOption &option, double max, double fallback)
    {
        if (!m_parser.isSet(option))
            return fallback;
        bool ok = false;
        const double value = m_parser.value(option).toDouble(&ok);
        if (!ok || !(value >= 0.0 && value <= max))
            fail(option, QStringLiteral("a number from 0 to %1").arg(max));
        return value;
    }

    std::optional<QByteArray> text(const QCommandLineOption &option, qsizetype length = -1)
    {
        if (!m_parser.isSet(option))
            return {};
        const QByteArray value = m_parser.value(option).toLocal8Bit();
        if (length >= 0 && value.size() != length)
            fail(option, QStringLiteral("exactly %1 character(s)").arg(length));
        return value;
    }

    void fail(const QCommandLineOption &option, const QString &expected)
    {
        if (m_error->isEmpty()) {
            *m_error = QStringLiteral("--%1 expects %2, not \"%3\"")
                           .arg(option.names().constFirst(), expected, m_parser.value(option));
        }
    }

    QCommandLineParser m_parser;
    QString *m_error = nullptr;

    const QCommandLineOption m_delay{"delay", "Wait <ms> before each reply (default 0).", "ms"};
    const QCommandLineOption m_split{"split", "Send each reply in pieces of <n> bytes.", "n"};
    const QCommandLineOption m_gap{"gap", "Wait <ms> between pieces of a split reply (default 200).", "ms"};
    const QCommandLineOption m_silent{"silent",
                                      "Never reply; commands are still read and logged but have no effect."};
    const QCommandLineOption m_noise{
        "noise",
        "Send noise bytes at <rate> bytes per second all the time, between replies and between the "
        "pieces of split ones.",
        "rate"};
    const QCommandLineOption m_noiseKind{
        "noise-kind", "Noise of all 256 byte values (random, default) or only 0x20..0x7E (printable).",
        "kind", "random"};
    const QCommandLineOption m_seed{"seed", "Seed the noise and the drift of the readings (default: random).",
                                    "n"};
    const QCommandLineOption m_hangupAfter{
        "hangup-after",
        "After answering the <n>th command (receiving it, with --silent) close the pty so that the device "
        "vanishes, remove the link and exit 0.",
        "n"};
    const QCommandLineOption m_verbose{
        "verbose", "Log each command received (RX), each reply sent (TX) and the line's state (PORT) to "
                   "stderr, one tab-separated line each in the format of the panel's QVX_TRACE: an ISO-8601 "
                   "UTC timestamp, the event, the text as the panel's dump, and a note."};
    const QCommandLineOption m_link{
        "link", "Also make the symbolic link <path> to the device (replacing an old link; removed at exit).",
        "path"};
    const QCommandLineOption m_status{"status", "Answer TABN with status character <c> (default 0).", "c"};
    const QCommandLineOption m_lampState{
        "lamp-state", "Answer TLPS for both lamps with <d> (e.g. 2 retry, 3 waiting, 4 error).", "d"};
    const QCommandLineOption m_lampHours{"lamp-hours", "Answer TLTT for both lamps with <text>, as given.",
                                         "text"};
    const QCommandLineOption m_hoursPerMinute{
        "hours-per-minute", "Lamp hours a burning lamp gains per real minute (default 1.0).", "x"};
    const QCommandLineOption m_reversal{"reversal", "Answer CR4 with the two characters <xx>.", "xx"};
    const QCommandLineOption m_lampPattern{"lamp-pattern", "Answer CR7 with the two characters <mp>.", "mp"};
    const QCommandLineOption m_muteCode{"mute-code", "Answer CRA with the two characters <xx>.", "xx"};
    const QCommandLineOption m_pressure{"pressure",
                                        "Answer CR PRESSURE with <text>, as given (e.g. +512, 1E3).", "text"};
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvx-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVX_VERSION));

    QString error;
    Arguments arguments;
    const auto config = arguments.parse(app, &error);
    if (!config) {
        std::fprintf(stderr, "qvx-sim: %s\n", qPrintable(error));
        return 1;
    }

    TerminationWatcher watcher;
    if (!watcher.isValid()) {
        std::fprintf(stderr, "qvx-sim: cannot watch for termination signals\n");
        return 1;
    }
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app, &QCoreApplication::quit);

    ProjectorModel model(config->line.seed, config->overrides, config->hoursPerMinute);
    SimLine line(model, config->line);
    if (!line.open(&error)) {
        std::fprintf(stderr, "qvx-sim: %s\n", qPrintable(error));
        return 1;
    }
    QObject::connect(&line, &SimLine::finished, &app, &QCoreApplication::exit);

    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, &clock,
                     [&] { model.advance(std::chrono::milliseconds(sinceTick.restart())); });
    clock.start(kModelTick);

    std::printf("%s\n", qPrintable(line.devicePath()));
    std::fflush(stdout);
    return app.exec();
}
