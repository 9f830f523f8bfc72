// Micro-benchmarks of the traffic dump, the receive path, the reply decoders and a button's send.
#include "commandcatalogue.h"
#include "commandsender.h"
#include "fakeline.h"
#include "linkengine.h"
#include "replyrouter.h"
#include "trafficdump.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// What arrives in a receive event: about 5 ms of a 115200 bit/s line.
constexpr qsizetype kBatch = 64;
// Nearly full; full but for one batch, whose event grows the buffers past 32 KiB
// and 64 KiB; and full, where the batch is dropped.
constexpr std::array<qsizetype, 5> kGathered{0, 1000, 32000, TrafficDump::kMaxCharacters - kBatch,
                                             TrafficDump::kMaxCharacters};
constexpr char kReceiveEvent[] = "ReceiveEvent";
constexpr char kEachOfAFill[] = "each_of_a_fill";

enum class Noise { Printable, Random, Digits };

// The same characters on every run, so that figures compare across runs.
QByteArray noise(qsizetype size, Noise kind)
{
    std::mt19937 random(7300);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes) {
        switch (kind) {
        case Noise::Printable:
            byte = char(0x20 + random() % (0x7f - 0x20));
            break;
        case Noise::Random:
            byte = char(random() % 256);
            break;
        case Noise::Digits:
            byte = char('0' + random() % 10);
            break;
        }
    }
    return bytes;
}

// A full reply: the simulator's answer to the query, then line noise up to the
// most characters RxBuffer keeps, so that every decoder sees its longest input.
QByteArray longestReply(const QByteArray &answer, Noise filler)
{
    return answer + '\r' + noise(TrafficDump::kMaxCharacters - answer.size() - 1, filler);
}

void trafficDump(benchmark::State &state, Noise kind)
{
    const QByteArray text = noise(TrafficDump::kMaxCharacters, kind);
    TrafficDump dump;
    for (auto _ : state) {
        dump.clear();
        dump.append(text);
        benchmark::DoNotOptimize(dump.text().data());
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

// The receive path as the line delivers it: 64-character batches until RxBuffer is full.
void trafficDumpInBatches(benchmark::State &state)
{
    const QByteArray text = noise(TrafficDump::kMaxCharacters, Noise::Random);
    TrafficDump dump;
    for (auto _ : state) {
        dump.clear();
        for (qsizetype at = 0; at < text.size(); at += kBatch)
            dump.append(QByteArrayView(text).sliced(at, std::min(kBatch, text.size() - at)));
        benchmark::DoNotOptimize(dump.text().data());
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

void sentCommandDump(benchmark::State &state)
{
    const QByteArray command("TABN   1\r");
    for (auto _ : state)
        benchmark::DoNotOptimize(TrafficDump::of(command));
    state.SetBytesProcessed(state.iterations() * command.size());
}

// The link engine on a fake line, decoding with the panel's own router.
struct LinkRig
{
    explicit LinkRig(const QByteArray &query)
    {
        line.open();
        link.setReplyDecoder([this](const QByteArray &lastCommand, const QByteArray &dump, bool grown) {
            return router.decode(lastCommand, dump, grown);
        });
        link.setLastCommand(link.commandPrefix() + query + '\r');
    }

    FakeLine line;
    LinkEngine link{line};
    ReplyRouter router{link.commandPrefix()};
};

// One receive event with a given number of characters already gathered. Before
// each event RxBuffer is emptied and filled again in batches, as the line fills
// it, so that its buffers have the room they would have; only the event is timed.
void receiveEvent(benchmark::State &state, const QByteArray &query, Noise kind, qsizetype gathered)
{
    LinkRig rig(query);
    const QByteArray before = noise(gathered, kind);
    const QByteArray batch = noise(kBatch, kind);
    for (auto _ : state) {
        rig.link.endHold();
        for (qsizetype at = 0; at < before.size(); at += kBatch)
            rig.line.feed(before.sliced(at, std::min(kBatch, before.size() - at)));
        const auto start = std::chrono::steady_clock::now();
        rig.line.feed(batch);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

// Every receive event from empty to full, timed as a whole: the cost per event
// with the reallocations of the growing buffers spread over the events.
void fillFromEmpty(benchmark::State &state, const QByteArray &query, Noise kind)
{
    LinkRig rig(query);
    const QByteArray text = noise(TrafficDump::kMaxCharacters, kind);
    const qsizetype events = (text.size() + kBatch - 1) / kBatch;
    for (auto _ : state) {
        rig.link.endHold();
        const auto start = std::chrono::steady_clock::now();
        for (qsizetype at = 0; at < text.size(); at += kBatch)
            rig.line.feed(text.sliced(at, std::min(kBatch, text.size() - at)));
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count() / double(events));
    }
}

void decodeLongest(benchmark::State &state, const QByteArray &query, const QByteArray &reply)
{
    LinkRig rig(query);
    const QByteArray dump = TrafficDump::of(reply);
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.router.decode(rig.link.lastCommand(), dump));
}

// A click's handler up to the write: CommandSender and LinkEngine on the fake
// line, without the window's label update and the real port's queue.
void clickToWrite(benchmark::State &state, std::string_view control)
{
    LinkRig rig({});
    CommandSender sender(rig.link);
    const auto *command = commands::findControl(commands::kFixedCommands, control);
    for (auto _ : state) {
        sender.send(*command);
        // The fake line keeps every write; a real port's queue is emptied by the kernel.
        if (rig.line.written.size() >= 1024)
            rig.line.written.clear();
    }
}

// The simulator's answers, so that each decoder finds its fields where a real reply puts them.
const std::map<std::string_view, QByteArray> kAnswers{
    {"TABN   1", "0000"}, {"TLPS   1", "0001"},    {"TLPS   2", "0001"},    {"POWR????", "1"},
    {"CR4", "11"},        {"TLTT   1", "01234"},   {"TLTT   2", "00987"},   {"CR6", "025.0,026.0"},
    {"CRA", "00"},        {"CR9", "QVX-SIM 1.40"}, {"CR PRESSURE", "0856"}, {"CR7", "0F"},
};

QByteArray bytesOf(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

std::string receiveName(std::string_view query, Noise kind, const std::string &which)
{
    return std::string(kReceiveEvent) + '/' + std::string(query) +
           (kind == Noise::Digits ? "/digits/" : "/printable/") + which;
}

void registerBenchmarks()
{
    benchmark::RegisterBenchmark("TrafficDump/printable", trafficDump, Noise::Printable);
    benchmark::RegisterBenchmark("TrafficDump/random", trafficDump, Noise::Random);
    benchmark::RegisterBenchmark("TrafficDump/random_in_64_character_batches", trafficDumpInBatches);
    benchmark::RegisterBenchmark("TrafficDump/sent_command", sentCommandDump);

    // The status query that the flood sends, the echo that returns the whole dump, and the
    // pressure reading that reads the dump's leading number, on printable noise; and the
    // pressure reading on a line of digits, whose number runs on through the whole dump.
    const std::array<std::pair<std::string_view, Noise>, 4> receiveCases{{
        {"TABN   1", Noise::Printable},
        {"CR9", Noise::Printable},
        {"CR PRESSURE", Noise::Printable},
        {"CR PRESSURE", Noise::Digits},
    }};
    for (const auto &[query, kind] : receiveCases) {
        for (const qsizetype gathered : kGathered) {
            const std::string name = receiveName(query, kind, "gathered:" + std::to_string(gathered));
            // Filling RxBuffer again before each timed event costs up to 511 events.
            const int iterations = gathered <= 1000 ? 10000 : 1000;
            benchmark::RegisterBenchmark(name.c_str(), receiveEvent, bytesOf(query), kind, gathered)
                ->UseManualTime()
                ->Iterations(iterations)
                ->Repetitions(3)
                ->ReportAggregatesOnly(true);
        }
        const std::string name = receiveName(query, kind, kEachOfAFill);
        benchmark::RegisterBenchmark(name.c_str(), fillFromEmpty, bytesOf(query), kind)
            ->UseManualTime()
            ->Iterations(1000)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    }

    for (const decode::Route &route : decode::kRoutes) {
        const QByteArray query = bytesOf(route.command);
        const std::string name = "DecodeLongest/" + std::string(route.command);
        benchmark::RegisterBenchmark(name.c_str(), decodeLongest, query,
                                     longestReply(kAnswers.at(route.command), Noise::Printable));
    }
    // The pressure decoder reads the number the dump starts with: a reply of digits alone is
    // the longest number it can be handed.
    benchmark::RegisterBenchmark("DecodeLongest/CR PRESSURE/digits", decodeLongest, QByteArray("CR PRESSURE"),
                                 noise(TrafficDump::kMaxCharacters, Noise::Digits));

    benchmark::RegisterBenchmark("ClickToWrite/PJ-Status", clickToWrite, "Command44");
    benchmark::RegisterBenchmark("ClickToWrite/picture_grid", clickToWrite, "Command63");
}

// Prints the figures as usual and, at the end, how the cost of a receive event
// with RxBuffer nearly or wholly full, and the mean cost over a whole fill,
// compare with that of an event with nothing gathered, each by the median of its
// repetitions.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const std::string &name = run.run_name.function_name;
            if (name.starts_with(kReceiveEvent) && run.run_type == Run::RT_Aggregate &&
                run.aggregate_name == "median")
                m_times[name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const std::string empty = "/gathered:0";
        for (const auto &[name, time] : m_times) {
            if (!name.ends_with(empty))
                continue;
            const std::string route = name.substr(0, name.size() - empty.size());
            std::vector<std::string> others;
            for (const qsizetype gathered : kGathered) {
                if (gathered > 1000)
                    others.push_back("gathered:" + std::to_string(gathered));
            }
            others.push_back(kEachOfAFill);
            for (const std::string &other : others) {
                const auto found = m_times.find(route + '/' + other);
                if (found != m_times.end())
                    std::printf("%s: %s vs gathered:0 = %.2f (goal at most 1.5)\n", route.c_str(),
                                other.c_str(), found->second / time);
            }
        }
    }

private:
    std::map<std::string, double> m_times;
};

} // namespace

int main(int argc, char *argv[])
{
    // The link engine's windows are QTimers, which need an application's event dispatcher.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerBenchmarks();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
