// qvx-flood: drives the real panel against qvx-sim and measures what bench/flood and bench/soak report.
#include "comport.h"
#include "panelparts.h"
#include "panelwindow.h"
#include "trafficdump.h"
#include "warningcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>
#include <vector>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kFloodSlice = 10'000;

// The process's CPU time (all threads, user and system) and memory, as the kernel counts them.
struct Sample
{
    SteadyClock::time_point at;
    double cpuSeconds = 0;
    qint64 rssKb = 0;
    qint64 peakRssKb = 0;
};

Sample sampleSelf()
{
    Sample sample{SteadyClock::now()};
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        // The command name in brackets may hold spaces; the state, field 3, follows it.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        constexpr int kUtime = 14 - 3;
        constexpr int kStime = 15 - 3;
        sample.cpuSeconds = (fields.value(kUtime).toDouble() + fields.value(kStime).toDouble()) /
                            double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.value(0) == "VmRSS:")
                sample.rssKb = words.value(1).toLongLong();
            else if (words.value(0) == "VmHWM:")
                sample.peakRssKb = words.value(1).toLongLong();
        }
    }
    return sample;
}

double seconds(SteadyClock::duration span)
{
    return std::chrono::duration<double>(span).count();
}

double cpuPercent(const Sample &from, const Sample &to)
{
    return 100.0 * (to.cpuSeconds - from.cpuSeconds) / seconds(to.at - from.at);
}

// Runs the application's event loop, as app.exec() would, for a while.
void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void print(const char *key, const QString &value)
{
    std::printf("%s %s\n", key, qPrintable(value));
    std::fflush(stdout);
}

void print(const char *key, double value)
{
    print(key, QString::number(value, 'f', 2));
}

void printSlices(const char *key, const std::vector<Sample> &samples)
{
    QStringList slices;
    for (std::size_t i = 1; i < samples.size(); ++i)
        slices << QString::number(cpuPercent(samples[i - 1], samples[i]), 'f', 2);
    print(key, slices.join(u' '));
}

// The wall clock, which the simulator's log timestamps also read.
qint64 wallMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One line of the simulator's --verbose log: its UTC timestamp in ms and the event.
struct LogLine
{
    qint64 at;
    QString event;
};

std::vector<LogLine> readSimLog(const QString &path)
{
    std::vector<LogLine> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return lines;
    while (!file.atEnd()) {
        // The simulator's --verbose lines are the panel's trace lines: a timestamp, then
        // the event, the dump and a note, separated by tabs.
        const QString line = QString::fromLocal8Bit(file.readLine());
        const qsizetype tab = line.indexOf(u'\t');
        const QDateTime at = QDateTime::fromString(line.left(tab), Qt::ISODateWithMs);
        if (tab > 0 && at.isValid())
            lines.push_back({at.toMSecsSinceEpoch(), line.mid(tab + 1)});
    }
    return lines;
}

std::vector<qint64> receivedAt(const std::vector<LogLine> &log, const QString &command)
{
    const QString event =
        QStringLiteral("RX\t%1\t").arg(QString::fromLatin1(TrafficDump::of(command.toLatin1() + '\r')));
    std::vector<qint64> times;
    for (const LogLine &line : log) {
        if (line.event.startsWith(event))
            times.push_back(line.at);
    }
    return times;
}

bool startPanel(PanelWindow &window)
{
    window.startUp();
    window.show();
    window.activateWindow();
    for (int waited = 0; waited < 5000; waited += 10) {
        if (window.windowHandle() && window.windowHandle()->isExposed())
            return true;
        runFor(10);
    }
    std::fprintf(stderr, "qvx-flood: the window was not shown\n");
    return false;
}

// A press or release of the left mouse button in the middle of a widget, as the
// platform delivers it.
void mouse(QWidget *widget, QEvent::Type type)
{
    const QPointF local = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(local);
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, local, local, global, Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void click(PanelWindow &window, layout::ControlId name)
{
    window.control<QAbstractButton>(name)->click();
}

// Phase 1 clicks PJ-Status every second while the simulator floods the line; phase
// 2 sends nothing, so after the last reply window nothing empties RxBuffer again.
int flood(const QCommandLineParser &options)
{
    const int withSends = options.value(QStringLiteral("send-seconds")).toInt();
    const int quiet = options.value(QStringLiteral("quiet-seconds")).toInt();

    ComPort line;
    PanelWindow window(line);
    if (!startPanel(window))
        return 1;
    // The flood's line rate, chosen in the port group as the operator would.
    click(window, "Command33");
    window.control<QRadioButton>("Option9")->click();
    runFor(1000);

    // Wall-clock send times in milliseconds, to set against the simulator's timestamps.
    std::vector<double> sentAt;
    QTimer sender;
    sender.setTimerType(Qt::PreciseTimer);
    sender.setInterval(1s);
    const auto send = [&] {
        sentAt.push_back(double(wallMicroseconds()) / 1000.0);
        click(window, "Command44");
        if (sentAt.size() == std::size_t(withSends))
            sender.stop();
    };
    QObject::connect(&sender, &QTimer::timeout, &sender, send);

    std::vector<Sample> phase1{sampleSelf()};
    send();
    sender.start();
    for (int done = 0; done < withSends * 1000; done += kFloodSlice) {
        runFor(std::min(kFloodSlice, withSends * 1000 - done));
        phase1.push_back(sampleSelf());
    }

    std::vector<Sample> phase2{phase1.back()};
    for (int done = 0; done < quiet * 1000; done += kFloodSlice) {
        runFor(std::min(kFloodSlice, quiet * 1000 - done));
        phase2.push_back(sampleSelf());
    }

    print("phase1_cpu_percent", cpuPercent(phase1.front(), phase1.back()));
    printSlices("phase1_slices", phase1);
    print("phase2_cpu_percent", cpuPercent(phase2.front(), phase2.back()));
    printSlices("phase2_slices", phase2);
    QStringList rss;
    for (const Sample &sample : phase2)
        rss << QString::number(sample.rssKb);
    print("phase2_rss_kb", rss.join(u' '));
    print("phase2_rss_growth_kb", QString::number(phase2.back().rssKb - phase2.front().rssKb));
    print("peak_rss_kb", QString::number(phase2.back().peakRssKb));
    print("rx_buffer_end", QString::number(parts::link(window).rxBuffer().size()));

    const std::vector<qint64> arrivals =
        receivedAt(readSimLog(options.value(QStringLiteral("sim-log"))), QStringLiteral("TABN   1"));
    print("sends", QString::number(sentAt.size()));
    print("arrivals", QString::number(arrivals.size()));
    if (arrivals.size() == sentAt.size() && !arrivals.empty()) {
        // The simulator logs whole milliseconds: an arrival lies within the millisecond it names.
        std::vector<double> latencies;
        for (std::size_t i = 0; i < arrivals.size(); ++i)
            latencies.push_back(double(arrivals[i]) + 0.5 - sentAt[i]);
        print("latency_mean_ms", std::accumulate(latencies.begin(), latencies.end(), 0.0) / latencies.size());
        print("latency_max_ms", *std::max_element(latencies.begin(), latencies.end()));
    }
    return 0;
}

// Reports first paint as time since QVX_STARTED, the wall clock (seconds since the
// epoch) that the launching shell read just before it started this process.
class FirstPaint : public QObject
{
public:
    using QObject::QObject;

    std::optional<qint64> paintedAt;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Queued behind the paint of the whole window and its flush.
            QTimer::singleShot(0, this, [this] {
                paintedAt = wallMicroseconds();
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

int startUp(const QCommandLineParser &options, qint64 mainAt, qint64 applicationAt)
{
    bool ok = false;
    const double started = qEnvironmentVariable("QVX_STARTED").toDouble(&ok);
    if (!ok) {
        std::fprintf(stderr, "qvx-flood: startup needs QVX_STARTED (e.g. QVX_STARTED=$EPOCHREALTIME)\n");
        return 2;
    }
    const auto sinceStart = [started](qint64 microseconds) {
        return (double(microseconds) - started * 1e6) / 1000.0;
    };

    ComPort line;
    PanelWindow window(line);
    const qint64 builtAt = wallMicroseconds();
    window.startUp();
    if (options.isSet(QStringLiteral("full")))
        window.setClientHeight(WindowStates::kFullHeight);
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    const qint64 startedAt = wallMicroseconds();
    window.show();
    QApplication::exec();
    if (!firstPaint.paintedAt)
        return 1;
    print("main_ms", sinceStart(mainAt));
    print("application_ms", sinceStart(applicationAt));
    print("window_built_ms", sinceStart(builtAt));
    print("started_up_ms", sinceStart(startedAt));
    print("first_paint_ms", sinceStart(*firstPaint.paintedAt));
    return 0;
}

struct Spread
{
    double mean;
    double min;
    double max;
};

std::optional<Spread> spreadOf(const std::vector<double> &intervals)
{
    if (intervals.empty())
        return std::nullopt;
    const auto [min, max] = std::minmax_element(intervals.begin(), intervals.end());
    return Spread{std::accumulate(intervals.begin(), intervals.end(), 0.0) / double(intervals.size()), *min,
                  *max};
}

void printSpread(const char *key, const std::optional<Spread> &spread)
{
    if (spread)
        print(key, QStringLiteral("%1 %2 %3")
                       .arg(spread->mean, 0, 'f', 3)
                       .arg(spread->min, 0, 'f', 3)
                       .arg(spread->max, 0, 'f', 3));
}

// A step of the hold: when it went out, and how long the panel's thread had by
// then waited for a CPU while it was ready to run, to tell a late step's cause.
struct Step
{
    SteadyClock::time_point at;
    double runQueueMs;
};

double runQueueMs()
{
    QFile schedstat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!schedstat.open(QIODevice::ReadOnly))
        return 0;
    return schedstat.readAll().split(' ').value(1).toDouble() / 1e6;
}

// Holds zoom + with the mouse and times every step as the engine sends it.
int hold(const QCommandLineParser &options)
{
    const int heldFor = options.value(QStringLiteral("seconds")).toInt();
    ComPort line;
    PanelWindow window(line);
    if (!startPanel(window))
        return 1;

    std::vector<Step> steps;
    steps.reserve(std::size_t(heldFor) * 10);
    QObject::connect(&parts::link(window), &LinkEngine::sentLineChanged, &window, [&] {
        if (!parts::link(window).sentLine().isEmpty())
            steps.push_back({SteadyClock::now(), runQueueMs()});
    });
    auto *zoomIn = window.control<QAbstractButton>("Command61");
    mouse(zoomIn, QEvent::MouseButtonPress);
    runFor(heldFor * 1000);
    mouse(zoomIn, QEvent::MouseButtonRelease);
    runFor(500);

    std::vector<double> intervals;
    int offBeat = 0;
    double offBeatWaits = 0;
    for (std::size_t i = 1; i < steps.size(); ++i) {
        intervals.push_back(seconds(steps[i].at - steps[i - 1].at) * 1000.0);
        if (std::abs(intervals.back() - 150.0) > 1.0) {
            ++offBeat;
            // Late itself, or early after a late one: the wait behind either step counts.
            offBeatWaits += steps[i].runQueueMs - steps[i >= 2 ? i - 2 : 0].runQueueMs;
        }
    }
    const std::vector<qint64> arrivals =
        receivedAt(readSimLog(options.value(QStringLiteral("sim-log"))), QStringLiteral("LNZO+001"));
    std::vector<double> arrivalIntervals;
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        arrivalIntervals.push_back(double(arrivals[i] - arrivals[i - 1]));

    print("steps", QString::number(steps.size()));
    print("arrivals", QString::number(arrivals.size()));
    printSpread("interval_mean_min_max_ms", spreadOf(intervals));
    printSpread("arrival_interval_mean_min_max_ms", spreadOf(arrivalIntervals));
    print("off_beat_intervals", QString::number(offBeat));
    print("off_beat_run_queue_wait_ms", offBeatWaits);
    print("run_queue_wait_ms", steps.empty() ? 0.0 : steps.back().runQueueMs - steps.front().runQueueMs);
    return 0;
}

// A left-button press or release on a control, handed to Qt as the platform hands
// it a mouse event, so that the window's own dispatch (focus, grab, the button's
// press and release handling) runs as for a real click.
void platformMouse(PanelWindow &window, QWidget *control, QEvent::Type type)
{
    QWindow *handle = window.windowHandle();
    const QPointF local = control->mapTo(&window, QRectF(control->rect()).center().toPoint());
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    static ulong timestamp = 0;
    timestamp += 500;
    qt_handleMouseEvent(handle, local, handle->mapToGlobal(local), held, Qt::LeftButton, type, Qt::NoModifier,
                        int(timestamp));
}

// Times, in microseconds, how long after a mouse event the command it sends is on
// the line: from the event's hand-over to Qt to the return of the write.
class WireClock
{
public:
    explicit WireClock(LinkEngine &link)
    {
        QObject::connect(&link, &LinkEngine::commandSent, &m_context, [this] {
            if (!m_sent)
                m_sent = SteadyClock::now();
        });
    }

    void mouse(PanelWindow &window, QWidget *control, QEvent::Type type)
    {
        m_sent.reset();
        m_at = SteadyClock::now();
        platformMouse(window, control, type);
    }

    std::optional<double> microseconds() const
    {
        if (!m_sent)
            return std::nullopt;
        return std::chrono::duration<double, std::micro>(*m_sent - m_at).count();
    }

private:
    QObject m_context;
    SteadyClock::time_point m_at;
    std::optional<SteadyClock::time_point> m_sent;
};

void printMicroseconds(const char *key, const std::vector<double> &values)
{
    QStringList texts;
    for (const double value : values)
        texts << QString::number(value, 'f', 0);
    print(key, texts.join(u' '));
}

// The first click on PJ-Status after seconds of flood with no click, then clicks
// a second apart, then presses of zoom + released after 300 ms: each timed from
// the mouse event that sends (the click's release, the lens button's press) to
// the write.
int clickLatency(const QCommandLineParser &options)
{
    const int quiet = options.value(QStringLiteral("quiet-seconds")).toInt();
    const int repeats = options.value(QStringLiteral("clicks")).toInt();
    ComPort line;
    PanelWindow window(line);
    if (!startPanel(window))
        return 1;
    // PJ-Status lies below the start-up view.
    window.setClientHeight(WindowStates::kFullHeight);
    runFor(200);
    WireClock clock(parts::link(window));
    auto *status = window.control<QWidget>("Command44");
    auto *zoomIn = window.control<QWidget>("Command61");

    const auto clickOnce = [&]() -> std::optional<double> {
        platformMouse(window, status, QEvent::MouseButtonPress);
        runFor(80);
        clock.mouse(window, status, QEvent::MouseButtonRelease);
        const auto latency = clock.microseconds();
        runFor(920);
        return latency;
    };
    const auto pressOnce = [&]() -> std::optional<double> {
        clock.mouse(window, zoomIn, QEvent::MouseButtonPress);
        const auto latency = clock.microseconds();
        runFor(300);
        platformMouse(window, zoomIn, QEvent::MouseButtonRelease);
        runFor(700);
        return latency;
    };

    runFor(quiet * 1000);
    std::vector<double> first;
    std::vector<double> clicks;
    std::vector<double> presses;
    if (const auto latency = clickOnce())
        first.push_back(*latency);
    for (int i = 0; i < repeats; ++i) {
        if (const auto latency = clickOnce())
            clicks.push_back(*latency);
    }
    for (int i = 0; i < repeats; ++i) {
        if (const auto latency = pressOnce())
            presses.push_back(*latency);
    }
    printMicroseconds("first_click_us", first);
    printMicroseconds("click_us", clicks);
    printMicroseconds("press_us", presses);
    return 0;
}

// One run of the simulator in the soak: when it opened, when it read each command,
// and whether it hung up (after reading the last of them).
struct SimRun
{
    qint64 openedAt = 0;
    std::vector<qint64> received;
    bool hungUp = false;
};

std::vector<SimRun> readSimRuns(const QString &directory)
{
    std::vector<SimRun> runs;
    const QDir dir(directory);
    for (const QString &name : dir.entryList({QStringLiteral("sim-*.log")}, QDir::Files, QDir::Name)) {
        SimRun run;
        for (const LogLine &line : readSimLog(dir.filePath(name))) {
            if (line.event.startsWith(u"PORT\topen "))
                run.openedAt = line.at;
            else if (line.event.startsWith(u"RX\t"))
                run.received.push_back(line.at);
            else if (line.event.startsWith(u"PORT\thang up "))
                run.hungUp = true;
        }
        runs.push_back(run);
    }
    return runs;
}

struct SoakSend
{
    qint64 at;
    bool portOpen;
};

// Sends a status query every period through every fault the script rotates the
// simulator through, answers the warning boxes, and reopens COM1 through the port
// group whenever the device is back after a hang-up.
int soak(const QCommandLineParser &options)
{
    const int minutes = options.value(QStringLiteral("minutes")).toInt();
    const int period = options.value(QStringLiteral("period")).toInt();
    const QString device = qEnvironmentVariable("QVX_COM1");
    static constexpr std::array<layout::ControlId, 5> kQueries{"Command44", "Command60", "Command45",
                                                               "Command46", "Command59"};

    WarningCatcher warnings;
    ComPort line;
    PanelWindow window(line);
    if (!startPanel(window))
        return 1;
    const Sample first = sampleSelf();

    std::vector<SoakSend> sends;
    QTimer sender;
    sender.setInterval(period);
    QObject::connect(&sender, &QTimer::timeout, &sender, [&] {
        sends.push_back({wallMicroseconds() / 1000, line.isOpen()});
        click(window, kQueries[sends.size() % kQueries.size()]);
    });

    int reopenAttempts = 0;
    int reopened = 0;
    QTimer reopener;
    reopener.setInterval(100);
    QObject::connect(&reopener, &QTimer::timeout, &reopener, [&] {
        if (line.isOpen() || QApplication::activeModalWidget() || !QFileInfo::exists(device))
            return;
        ++reopenAttempts;
        click(window, "Command33");
        window.control<QRadioButton>("Option1")->click();
        reopened += line.isOpen();
    });

    sender.start();
    reopener.start();
    // RSS minute by minute, to tell a leak from the first minutes' growth of caches.
    QStringList rssByMinute{QString::number(first.rssKb)};
    for (int minute = 0; minute < minutes; ++minute) {
        runFor(60'000);
        rssByMinute << QString::number(sampleSelf().rssKb);
    }
    sender.stop();
    reopener.stop();
    const Sample last = sampleSelf();
    // The last replies still arrive and the last commands reach the simulator's log.
    runFor(1000);

    const std::vector<SimRun> runs = readSimRuns(options.value(QStringLiteral("sim-logs")));
    qsizetype received = 0;
    for (const SimRun &run : runs)
        received += qsizetype(run.received.size());
    // A send belongs to the simulator run that had opened last. A run that hangs up
    // reads no more after the command that triggers it: what the panel sends after
    // that, before it notices the loss, went out while the line was going down.
    qsizetype whileOpen = 0;
    qsizetype whileUp = 0;
    qsizetype afterLastRead = 0;
    for (const SoakSend &send : sends) {
        if (!send.portOpen)
            continue;
        ++whileOpen;
        const auto run = std::find_if(runs.rbegin(), runs.rend(),
                                      [&](const SimRun &run) { return run.openedAt <= send.at; });
        if (run != runs.rend() && run->hungUp && !run->received.empty() && send.at > run->received.back())
            ++afterLastRead;
        else
            ++whileUp;
    }

    print("simulator_runs", QString::number(runs.size()));
    print("sends", QString::number(sends.size()));
    print("sends_port_open", QString::number(whileOpen));
    print("sends_line_up", QString::number(whileUp));
    print("received", QString::number(received));
    print("sends_after_last_read", QString::number(afterLastRead));
    print("warnings", QString::number(warnings.texts.size()));
    QStringList kinds = warnings.texts;
    kinds.removeDuplicates();
    print("warning_texts", kinds.join(QStringLiteral(" | ")));
    print("reopen_attempts", QString::number(reopenAttempts));
    print("reopened", QString::number(reopened));
    print("cpu_percent", cpuPercent(first, last));
    print("peak_rss_kb", QString::number(last.peakRssKb));
    print("rss_start_end_kb", QStringLiteral("%1 %2").arg(first.rssKb).arg(last.rssKb));
    print("rss_by_minute_kb", rssByMinute.join(u' '));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const qint64 mainAt = wallMicroseconds();
    QApplication app(argc, argv);
    const qint64 applicationAt = wallMicroseconds();

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Drives the panel on the device in QVX_COM1 (a qvx-sim pty) for one measurement:\n"
                       "  flood    PJ-Status every second, then nothing; CPU, RSS and send-to-arrival time\n"
                       "  startup  process start (QVX_STARTED, epoch seconds) to the window's first paint\n"
                       "  hold     hold zoom + and time the steps\n"
                       "  soak     a command every period while the simulator's faults rotate\n"
                       "  click    a click after a quiet flood, clicks and lens presses, each to its write"));
    options.addHelpOption();
    options.addPositionalArgument(QStringLiteral("mode"),
                                  QStringLiteral("flood, startup, hold, soak or click"));
    options.addOptions({
        {QStringLiteral("send-seconds"), QStringLiteral("flood: seconds with a send each second"),
         QStringLiteral("s"), QStringLiteral("20")},
        {QStringLiteral("quiet-seconds"), QStringLiteral("flood, click: seconds with no send"),
         QStringLiteral("s"), QStringLiteral("60")},
        {QStringLiteral("clicks"), QStringLiteral("click: clicks, and lens presses, after the first click"),
         QStringLiteral("n"), QStringLiteral("10")},
        {QStringLiteral("sim-log"), QStringLiteral("flood, hold: the simulator's --verbose log"),
         QStringLiteral("file")},
        {QStringLiteral("full"), QStringLiteral("startup: show the full view's height")},
        {QStringLiteral("seconds"), QStringLiteral("hold: seconds to hold"), QStringLiteral("s"),
         QStringLiteral("10")},
        {QStringLiteral("minutes"), QStringLiteral("soak: minutes to run"), QStringLiteral("n"),
         QStringLiteral("10")},
        {QStringLiteral("period"), QStringLiteral("soak: ms between sends"), QStringLiteral("ms"),
         QStringLiteral("200")},
        {QStringLiteral("sim-logs"), QStringLiteral("soak: the folder of the simulator runs' sim-*.log"),
         QStringLiteral("dir")},
    });
    options.process(app);

    const QString mode = options.positionalArguments().value(0);
    if (mode == u"flood")
        return flood(options);
    if (mode == u"startup")
        return startUp(options, mainAt, applicationAt);
    if (mode == u"hold")
        return hold(options);
    if (mode == u"soak")
        return soak(options);
    if (mode == u"click")
        return clickLatency(options);
    options.showHelp(2);
}
