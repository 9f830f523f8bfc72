// qvx-send as scripts run it: the real program against the simulated projector on a pseudo-terminal.
#include "deviceserver.h"
#include "panelbench.h"
#include "scriptnames.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <signal.h>

using namespace bench;

namespace {

// A whole call, waited for with the call's own windows behind it; generous for
// a loaded machine and sanitizer builds.
constexpr int kFinishMs = 60'000;

// The program, running as a script starts it. What it prints is gathered as
// it comes, so a test can wait on a line while the program goes on.
class SendProcess
{
public:
    explicit SendProcess(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(QVX_SEND_PATH), arguments);
    }
    ~SendProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kFinishMs);
        }
    }
    SendProcess(const SendProcess &) = delete;
    SendProcess &operator=(const SendProcess &) = delete;

    QByteArray output()
    {
        m_output += m_process.readAllStandardOutput();
        return m_output;
    }
    QString errors()
    {
        m_errors += m_process.readAllStandardError();
        return QString::fromLocal8Bit(m_errors);
    }
    // The lines of the output, without their line feeds.
    QStringList lines()
    {
        QStringList all = QString::fromUtf8(output()).split(u'\n');
        all.removeLast();
        return all;
    }
    // The lines, with whatever the program has written to the pipe by now.
    QStringList linesWritten()
    {
        m_process.waitForReadyRead(0);
        return lines();
    }
    bool waitForErrors(const QString &text)
    {
        return QTest::qWaitFor([&] { return errors().contains(text) || hasEnded(); }, kWait) &&
               errors().contains(text);
    }

    // True once the program has ended by itself or been told to.
    bool finish()
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(kFinishMs);
    }
    bool endWith(int signalNumber)
    {
        ::kill(pid_t(m_process.processId()), signalNumber);
        return finish();
    }
    // The exit status of a program that ended by itself, or -1 after a crash
    // or while it runs.
    int exitStatus() const
    {
        if (m_process.state() != QProcess::NotRunning || m_process.exitStatus() != QProcess::NormalExit ||
            m_process.error() == QProcess::FailedToStart)
            return -1;
        return m_process.exitCode();
    }
    // What went wrong, for a failure's message.
    QString report()
    {
        return QStringLiteral("exit status %1\nstdout:\n%2\nstderr:\n%3")
            .arg(exitStatus())
            .arg(QString::fromUtf8(output()), errors());
    }

private:
    bool hasEnded() const { return m_process.state() == QProcess::NotRunning; }

    QProcess m_process;
    QByteArray m_output;
    QByteArray m_errors;
};

// True once the simulator has answered the number of commands, as its
// verbose log shows; a poll's progress that does not hang on its output.
bool waitForAnswers(const SimProcess &sim, qsizetype count)
{
    return QTest::qWaitFor([&] { return sim.logged(u"TX").size() >= count; }, kWait);
}

QString dumpOf(const QByteArray &command)
{
    return QString::fromLatin1(TrafficDump::of(command + '\r'));
}

QJsonObject objectOf(const QString &line)
{
    return QJsonDocument::fromJson(line.toUtf8()).object();
}

QDateTime timeOf(const QJsonObject &exchange)
{
    return QDateTime::fromString(exchange.value(u"time").toString(), Qt::ISODateWithMs);
}

// The dumps of the whole replies the simulator sent, in order, its pieces of
// a split reply joined: a dump's tokens follow one leading space.
QStringList repliesSent(const SimProcess &sim)
{
    QString stream;
    for (const QString &piece : sim.logged(u"TX"))
        stream += piece.mid(1);
    QStringList replies;
    constexpr QStringView kEnd = u"CR ";
    for (qsizetype start = 0, end = 0; (end = stream.indexOf(kEnd, start)) >= 0; start = end + kEnd.size())
        replies.append(u' ' + stream.mid(start, end + kEnd.size() - start));
    return replies;
}

// The value each name that takes one is given: one the projector accepts.
// The free line sends a setting that no other name sends.
const QHash<QString, QString> kValues{
    {QStringLiteral("volume"), QStringLiteral("30")},
    {QStringLiteral("keystone-v"), QStringLiteral("-05")},
    {QStringLiteral("keystone-h"), QStringLiteral("+05")},
    {QStringLiteral("text"), QStringLiteral("VOLA  12")},
};

QByteArray fromView(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// What the panel's own control for a name sends, from the panel's tables.
QByteArray panelText(const commands::ScriptName &entry, const QString &value)
{
    using namespace commands;
    switch (entry.kind) {
    case ScriptKind::Fixed:
        return fromView(findControl(kFixedCommands, entry.source)->body);
    case ScriptKind::Query:
        return fromView(entry.source);
    case ScriptKind::Lens:
        return fromView(findControl(kLensButtons, entry.source)->step);
    case ScriptKind::Summary:
        return {};
    case ScriptKind::Value:
    case ScriptKind::Text:
        break;
    }
    return fromView(findControl(kTextCommands, entry.source)->lead) + value.toLatin1();
}

// The names the projector answers with data rather than ACK: the decoded
// queries of the free line and the status buttons.
bool isQuery(const commands::ScriptName &entry)
{
    using namespace commands;
    return entry.kind == ScriptKind::Query ||
           (entry.kind == ScriptKind::Fixed &&
            findControl(kFixedCommands, entry.source)->group == StatusQuery);
}

// A query is answered with data, anything else with ACK; never with ERR.
bool isAccepted(const QByteArray &reply, bool query)
{
    constexpr QByteArrayView kAck = "\x06\r";
    if (!query)
        return reply == kAck;
    return reply.endsWith('\r') && reply.size() > 1 && reply != kAck && reply != "ERR\r";
}

} // namespace

class TestSend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyNameIsAcknowledged();
    void replyEndsAtCarriageReturn_data();
    void replyEndsAtCarriageReturn();
    void noReplyIsReported_data();
    void noReplyIsReported();
    void eachValueIsItsCommandsReply_data();
    void eachValueIsItsCommandsReply();
    void jsonLinesParse();
    void venueNamesTheProjectors_data();
    void venueNamesTheProjectors();
    void severalPortsAtOnce_data();
    void severalPortsAtOnce();
    void portHeldByPanelIsLeftAlone();
    void portHeldByRepeatingSendIsLeftAlone();
    void everyRepeatsWithTimes();
    void linesArriveAsTheyCome();
    void networkEndpoints_data();
    void networkEndpoints();
    void exitStatuses_data();
    void exitStatuses();
    void terminationEndsCleanly_data();
    void terminationEndsCleanly();
    void lostLineIsWaitedFor();

private:
    bool m_haveSer2net = false;
};

void TestSend::initTestCase()
{
    m_haveSer2net = !deviceserver::ser2netPath().isEmpty();
}

// The simulator accepts exactly the spellings of the projector's commands and
// answers anything else with ERR, so one call over every name shows that each
// sends the text of the panel's own control, and the replies come back to the
// command they belong to.
void TestSend::everyNameIsAcknowledged()
{
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));

    QStringList arguments{QStringLiteral("--json"), QStringLiteral("--port"), sim.devicePath()};
    QList<QByteArray> texts;
    QList<bool> queries;
    for (const commands::ScriptName &entry : commands::kScriptNames) {
        // The summary is its queries, each named on its own.
        if (entry.kind == commands::ScriptKind::Summary)
            continue;
        const QString name = QString::fromLatin1(fromView(entry.name));
        arguments.append(name);
        QString value;
        if (!entry.value.empty()) {
            QVERIFY2(kValues.contains(name), qPrintable(QStringLiteral("no value to give %1").arg(name)));
            value = kValues.value(name);
            arguments.append(value);
        }
        texts.append(panelText(entry, value));
        queries.append(isQuery(entry));
    }

    SendProcess send(arguments);
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));
    QVERIFY2(send.errors().isEmpty(), qPrintable(send.report()));

    QStringList sent;
    for (const QByteArray &text : std::as_const(texts))
        sent.append(dumpOf(text));
    QCOMPARE(sim.logged(u"RX"), sent);

    const QStringList lines = send.lines();
    QCOMPARE(lines.size(), texts.size());
    QStringList faults;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject exchange = objectOf(lines[i]);
        const QByteArray reply = exchange.value(u"reply").toString().toLatin1();
        if (exchange.value(u"command").toString().toLatin1() != texts[i] ||
            !exchange.value(u"answered").toBool() || !isAccepted(reply, queries[i]))
            faults.append(QStringLiteral("\"%1\": %2").arg(QString::fromLatin1(texts[i]), lines[i]));
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

void TestSend::replyEndsAtCarriageReturn_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QJsonValue>("status");
    // The least the reply can take, and the reply window it is sent with.
    QTest::addColumn<int>("soonestMs");
    QTest::addColumn<int>("windowMs");

    QTest::newRow("answeredAtOnce") << QStringList() << "pj-status"
                                    << "0000\r" << QJsonValue(QStringLiteral("Normal")) << 0 << 500;
    // The grid's long window leaves room for a late simulator on a loaded machine.
    QTest::newRow("answeredAfterADelay") << QStringList{"--delay", "300"} << "1-normal"
                                         << "\x06\r" << QJsonValue(QJsonValue::Null) << 300 << 5000;
    QTest::newRow("answeredInPieces") << QStringList{"--split", "1", "--gap", "100"} << "reversal"
                                      << "11\r" << QJsonValue(QStringLiteral("Normally")) << 200 << 2000;
}

// A reply ends at its carriage return, not before it and not at the end of
// the reply window.
void TestSend::replyEndsAtCarriageReturn()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QString, name);
    QFETCH(QString, reply);
    QFETCH(QJsonValue, status);
    QFETCH(int, soonestMs);
    QFETCH(int, windowMs);
    SimProcess sim(simArguments);
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));

    SendProcess send({QStringLiteral("--json"), QStringLiteral("--port"), sim.devicePath(), name});
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));
    QCOMPARE(send.lines().size(), 1);
    const QJsonObject exchange = objectOf(send.lines().front());
    QCOMPARE(exchange.value(u"reply").toString(), reply);
    QVERIFY2(exchange.value(u"status") == status, qPrintable(send.lines().front()));
    const int replyMs = exchange.value(u"reply_ms").toInt();
    // Well inside the window: a reply that waited for the window's end would
    // take all of it, give or take a coarse timer's 5 %.
    QVERIFY2(replyMs >= soonestMs && replyMs < windowMs * 4 / 5, qPrintable(send.lines().front()));
}

void TestSend::noReplyIsReported_data()
{
    QTest::addColumn<bool>("json");
    QTest::newRow("plainOutput") << false;
    QTest::newRow("jsonOutput") << true;
}

// A silent projector: each command is reported on its own, the next one
// still goes out, and the exit status says some drew no reply.
void TestSend::noReplyIsReported()
{
    QFETCH(bool, json);
    SimProcess sim({QStringLiteral("--silent"), QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));

    QStringList arguments{QStringLiteral("--port"), sim.devicePath(), QStringLiteral("pj-status"),
                          QStringLiteral("l1-status")};
    if (json)
        arguments.prepend(QStringLiteral("--json"));
    SendProcess send(arguments);
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 1, qPrintable(send.report()));
    for (const QString &command : {QStringLiteral("pj-status"), QStringLiteral("l1-status")})
        QVERIFY2(send.errors().contains(QStringLiteral("%1 drew no reply within 500 ms").arg(command)),
                 qPrintable(send.report()));
    QCOMPARE(sim.logged(u"RX"), (QStringList{dumpOf("TABN   1"), dumpOf("TLPS   1")}));

    if (!json) {
        // Each command has its line, answered or not.
        QCOMPARE(send.output(),
                 QByteArray("pj-status: no reply within 500 ms\nl1-status: no reply within 500 ms\n"));
        return;
    }
    const QStringList lines = send.lines();
    QCOMPARE(lines.size(), 2);
    for (const QString &line : lines) {
        const QJsonObject exchange = objectOf(line);
        QVERIFY2(!exchange.value(u"answered").toBool(true), qPrintable(line));
        QVERIFY2(exchange.value(u"status").isNull(), qPrintable(line));
        QVERIFY2(exchange.value(u"reply").toString().isEmpty(), qPrintable(line));
        QVERIFY2(exchange.value(u"dump").toString() == QLatin1StringView(LinkEngine::kNoReply),
                 qPrintable(line));
        // The whole window ran out, give or take a coarse timer's 5 %.
        QVERIFY2(exchange.value(u"reply_ms").toInt() >= 450, qPrintable(line));
    }
}

void TestSend::eachValueIsItsCommandsReply_data()
{
    QTest::addColumn<QStringList>("simArguments");
    // A call of its own just before, on the same line.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("arguments");
    // The exit statuses that the timing of a loaded machine may give.
    QTest::addColumn<QList<int>>("statuses");
    // Each command's outcome, or "*" where a loaded machine may give another.
    QTest::addColumn<QStringList>("outcomes");

    const QStringList fourQueries{"pj-status", "power-state", "l1-time", "pressure"};
    QTest::newRow("lateRepliesAreNotTheNextOnes")
        << QStringList{"--delay", "700"} << QStringList() << fourQueries << QList<int>{1}
        << QStringList{"unanswered", "*", "unanswered", "*"};
    QTest::newRow("lateReplyOfTheCallBefore")
        << QStringList{"--delay", "700"} << QStringList{"l1-time"} << QStringList{"power-off", "pj-status"}
        << QList<int>{1, 3} << QStringList{"*", "unanswered"};
    QTest::newRow("replyInPiecesIsOneReply")
        << QStringList{"--split", "1", "--gap", "150"} << QStringList()
        << QStringList{"l1-time", "pj-status", "pressure"} << QList<int>{0}
        << QStringList{"answered", "answered", "answered"};
    QTest::newRow("noiseIsNotUnderstood") << QStringList{"--noise", "40", "--delay", "300"} << QStringList()
                                          << fourQueries << QList<int>{3} << QStringList(4, "not-understood");
    QTest::newRow("refusal") << QStringList() << QStringList() << QStringList{"text", "FOO", "pj-status"}
                             << QList<int>{3} << QStringList{"refused", "answered"};
    QTest::newRow("faultWithCheck") << QStringList{"--status", "1"} << QStringList()
                                    << QStringList{"--check", "pj-status"} << QList<int>{4}
                                    << QStringList{"answered"};
    QTest::newRow("faultWithoutCheck")
        << QStringList{"--status", "1"} << QStringList() << QStringList{"pj-status"} << QList<int>{0}
        << QStringList{"answered"};
    QTest::newRow("hangUpMidList") << QStringList{"--hangup-after", "1"} << QStringList()
                                   << QStringList{"pj-status", "l1-status", "l2-status"} << QList<int>{2}
                                   << QStringList{"answered", "*", "not-sent"};
}

// Whatever the line does, a command's reply is the one the projector sent
// for it, or the command is reported without one: never a reply that came
// late to another command, a part of one, or noise.
void TestSend::eachValueIsItsCommandsReply()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, before);
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, statuses);
    QFETCH(QStringList, outcomes);
    SimProcess sim(simArguments << QStringLiteral("--verbose"));
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    const QStringList port{QStringLiteral("--json"), QStringLiteral("--port"), sim.devicePath()};
    if (!before.isEmpty()) {
        SendProcess earlier(port + before);
        QVERIFY2(earlier.finish(), qPrintable(earlier.report()));
    }

    SendProcess send(port + arguments);
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(statuses.contains(send.exitStatus()), qPrintable(send.report()));
    const QStringList lines = send.lines();
    QCOMPARE(lines.size(), outcomes.size());
    // The simulator's replies stand in the order of the commands it read.
    QVERIFY(QTest::qWaitFor([&] { return repliesSent(sim).size() >= sim.logged(u"RX").size(); }, kWait));
    const QStringList replies = repliesSent(sim);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject exchange = objectOf(lines[i]);
        const QString outcome = exchange.value(u"outcome").toString();
        QVERIFY2(outcomes[i] == u"*" || outcome == outcomes[i], qPrintable(lines[i]));
        if (outcome != u"answered")
            continue;
        const qsizetype index = before.size() + i;
        QVERIFY2(index < replies.size() && exchange.value(u"dump").toString() == replies[index],
                 qPrintable(lines[i] + u'\n' + sim.log()));
    }
}

// Every line is a JSON object of its own with the documented keys and types,
// control characters in a reply included.
void TestSend::jsonLinesParse()
{
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    const QDateTime before = QDateTime::currentDateTimeUtc();
    SendProcess send({QStringLiteral("--json"), QStringLiteral("--port"), sim.devicePath(),
                      QStringLiteral("pj-status"), QStringLiteral("volume"), QStringLiteral("30"),
                      QStringLiteral("echo")});
    QVERIFY2(send.finish(), qPrintable(send.report()));
    const QDateTime after = QDateTime::currentDateTimeUtc();
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));

    const QStringList keys{QStringLiteral("answered"), QStringLiteral("command"), QStringLiteral("discarded"),
                           QStringLiteral("dump"),     QStringLiteral("name"),    QStringLiteral("outcome"),
                           QStringLiteral("port"),     QStringLiteral("reading"), QStringLiteral("reply"),
                           QStringLiteral("reply_ms"), QStringLiteral("status"),  QStringLiteral("time")};
    const QRegularExpression utcWithMs(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"));
    const QStringList lines = send.lines();
    QCOMPARE(lines.size(), 3);
    QDateTime previous = before.addMSecs(-1000);
    for (const QString &line : lines) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(),
                 qPrintable(error.errorString() + u'\n' + line));
        const QJsonObject exchange = document.object();
        QCOMPARE(exchange.keys(), keys);
        QVERIFY2(utcWithMs.match(exchange.value(u"time").toString()).hasMatch(), qPrintable(line));
        const QDateTime time = timeOf(exchange);
        QVERIFY2(time.isValid() && time >= previous && time <= after.addMSecs(1000), qPrintable(line));
        previous = time;
        QCOMPARE(exchange.value(u"port").toString(), sim.devicePath());
        QVERIFY2(exchange.value(u"command").isString() && exchange.value(u"reply").isString(),
                 qPrintable(line));
        QVERIFY2(exchange.value(u"dump").toString().startsWith(u' '), qPrintable(line));
        QVERIFY2(exchange.value(u"status").isString() || exchange.value(u"status").isNull(),
                 qPrintable(line));
        const QJsonValue replyMs = exchange.value(u"reply_ms");
        QVERIFY2(replyMs.isDouble() && replyMs.toDouble() == replyMs.toInt(-1) && replyMs.toInt() >= 0,
                 qPrintable(line));
        QVERIFY2(exchange.value(u"answered").isBool(), qPrintable(line));
    }
    const QJsonObject volume = objectOf(lines[1]);
    QCOMPARE(volume.value(u"reply").toString(), QStringLiteral("\x06\r"));
    QCOMPARE(volume.value(u"dump").toString(), QStringLiteral(" ACK CR "));
    QVERIFY(volume.value(u"status").isNull());
    QCOMPARE(objectOf(lines[0]).value(u"status").toString(), QStringLiteral("Normal"));
}

void TestSend::venueNamesTheProjectors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("json");
    QTest::addColumn<QStringList>("projectors");
    QTest::newRow("allPlain") << QStringList{"--all", "status"} << false << QStringList{"booth-a", "booth-b"};
    QTest::newRow("allJson") << QStringList{"--all", "--json", "status"} << true
                             << QStringList{"booth-a", "booth-b"};
    QTest::newRow("oneByNameInAnyCase")
        << QStringList{"--port", "BOOTH-B", "--json", "status"} << true << QStringList{"booth-b"};
}

// The venue file names each projector: a summary of each, under its name.
void TestSend::venueNamesTheProjectors()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, json);
    QFETCH(QStringList, projectors);
    SimProcess normal;
    SimProcess hot({QStringLiteral("--status"), QStringLiteral("1"), QStringLiteral("--lamp-hours"),
                    QStringLiteral("04321")});
    QVERIFY2(normal.isReady() && hot.isReady(), qPrintable(normal.log() + hot.log()));
    QTemporaryDir dir;
    QFile venue(dir.filePath(QStringLiteral("venue.conf")));
    QVERIFY(venue.open(QIODevice::WriteOnly));
    venue.write(QStringLiteral("[booth-a]\nport = %1\n\n[booth-b]\nport = %2\nspeed = 9600\n")
                    .arg(normal.devicePath(), hot.devicePath())
                    .toUtf8());
    venue.close();

    SendProcess send(QStringList{QStringLiteral("--venue"), venue.fileName()} + arguments);
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));
    const QStringList lines = send.lines();
    for (const QString &projector : projectors) {
        const bool isHot = projector == u"booth-b";
        const QString status = isHot ? QStringLiteral("Temp High") : QStringLiteral("Normal");
        const int hours = isHot ? 4321 : 1234;
        if (!json) {
            QVERIFY2(lines.contains(QStringLiteral("%1: status: %2").arg(projector, status)) &&
                         lines.contains(QStringLiteral("%1: lamp 1 hours: %2 h").arg(projector).arg(hours)),
                     qPrintable(send.report()));
            continue;
        }
        const auto summary = std::find_if(lines.begin(), lines.end(), [&](const QString &line) {
            return objectOf(line).value(u"port").toString() == projector;
        });
        QVERIFY2(summary != lines.end(), qPrintable(send.report()));
        const QJsonObject object = objectOf(*summary);
        QVERIFY2(object.value(u"answered").toBool() &&
                     object.value(u"status").toObject().value(u"status").toString() == status &&
                     object.value(u"status").toObject().value(u"fault").toBool() == isHot &&
                     object.value(u"lamp_1_hours").toObject().value(u"hours").toInteger() == hours &&
                     object.value(u"temperatures").toObject().value(u"s1_c").isDouble(),
                 qPrintable(*summary));
    }
    QCOMPARE(lines.size(),
             json ? projectors.size() : projectors.size() * qsizetype(commands::kSummaryNames.size()));
}

void TestSend::severalPortsAtOnce_data()
{
    QTest::addColumn<bool>("json");
    QTest::newRow("plainOutput") << false;
    QTest::newRow("jsonOutput") << true;
}

// Three projectors, each in a status of its own, and each slow to answer:
// every port shows its own projector's status, and the commands go out to all
// of them before any answer comes back.
void TestSend::severalPortsAtOnce()
{
    QFETCH(bool, json);
    const QList<std::pair<QString, QString>> statuses{
        {QStringLiteral("0"), QStringLiteral("Normal")},
        {QStringLiteral("1"), QStringLiteral("Temp High")},
        {QStringLiteral("8"), QStringLiteral("Lamp Life 5% or less")}};
    std::vector<std::unique_ptr<SimProcess>> sims;
    QHash<QString, QString> expected;
    QStringList arguments{QStringLiteral("pj-status")};
    if (json)
        arguments.append(QStringLiteral("--json"));
    for (const auto &[code, text] : statuses) {
        // Slow, yet well inside the 500 ms window on a loaded machine.
        sims.push_back(std::make_unique<SimProcess>(
            QStringList{QStringLiteral("--status"), code, QStringLiteral("--delay"), QStringLiteral("200")}));
        QVERIFY2(sims.back()->isReady(), qPrintable(sims.back()->log()));
        expected.insert(sims.back()->devicePath(), text);
        arguments << QStringLiteral("--port") << sims.back()->devicePath();
    }

    SendProcess send(arguments);
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));
    const QStringList lines = send.lines();
    QCOMPARE(lines.size(), 3);

    QHash<QString, QString> seen;
    if (!json) {
        for (const QString &line : lines) {
            const qsizetype split = line.indexOf(QStringLiteral(": "));
            QVERIFY2(split > 0, qPrintable(line));
            // The port, then the command's name and its result.
            seen.insert(line.left(split), line.mid(split + 2).section(QStringLiteral(": "), 1));
        }
        QVERIFY2(seen == expected, qPrintable(lines.join(u'\n')));
        return;
    }
    QDateTime lastSent;
    QDateTime firstAnswered;
    for (const QString &line : lines) {
        const QJsonObject exchange = objectOf(line);
        seen.insert(exchange.value(u"port").toString(), exchange.value(u"status").toString());
        const QDateTime sent = timeOf(exchange);
        const QDateTime answered = sent.addMSecs(exchange.value(u"reply_ms").toInt());
        QVERIFY2(exchange.value(u"reply_ms").toInt() >= 200, qPrintable(line));
        if (!lastSent.isValid() || sent > lastSent)
            lastSent = sent;
        if (!firstAnswered.isValid() || answered < firstAnswered)
            firstAnswered = answered;
    }
    QVERIFY2(seen == expected, qPrintable(lines.join(u'\n')));
    // One after the other, each command would go out only after the reply
    // before it: the call would take the sum of the replies, not the longest.
    QVERIFY2(lastSent < firstAnswered, qPrintable(lines.join(u'\n')));
}

// A second program on the panel's port is told the port is in use and leaves
// the panel's line as it was: the panel's next query is answered and decoded.
void TestSend::portHeldByPanelIsLeftAlone()
{
    Bench bench({QStringLiteral("--status"), QStringLiteral("8")});
    QVERIFY2(bench.sim.isReady(), qPrintable(bench.sim.log()));
    QVERIFY(bench.line.isOpen());

    SendProcess send({QStringLiteral("--port"), bench.sim.devicePath(), QStringLiteral("pj-status")});
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 2, qPrintable(send.report()));
    QVERIFY2(send.errors().contains(u"in use by another program"), qPrintable(send.report()));
    QVERIFY2(send.output().contains("not sent"), qPrintable(send.report()));

    click(*bench.window, "Command44");
    QTRY_COMPARE_WITH_TIMEOUT(textOf(*bench.window, "Label22"), QStringLiteral(" Lamp Life 5% or less"),
                              kWait);
    QVERIFY(bench.line.isOpen());
    QVERIFY2(bench.warnings.texts.isEmpty(), qPrintable(bench.warnings.texts.join(u'\n')));
}

// The same between two scripts: the first goes on polling undisturbed.
void TestSend::portHeldByRepeatingSendIsLeftAlone()
{
    SimProcess sim({QStringLiteral("--status"), QStringLiteral("8"), QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    SendProcess first({QStringLiteral("--every"), QStringLiteral("0.2"), QStringLiteral("--port"),
                       sim.devicePath(), QStringLiteral("pj-status")});
    QVERIFY2(waitForAnswers(sim, 1), qPrintable(first.report()));

    SendProcess second({QStringLiteral("--port"), sim.devicePath(), QStringLiteral("pj-status")});
    QVERIFY2(second.finish(), qPrintable(second.report()));
    QVERIFY2(second.exitStatus() == 2, qPrintable(second.report()));
    QVERIFY2(second.errors().contains(u"in use by another program"), qPrintable(second.report()));
    QVERIFY2(second.output().contains("not sent"), qPrintable(second.report()));

    const qsizetype before = sim.logged(u"TX").size();
    QVERIFY2(waitForAnswers(sim, before + 2), qPrintable(first.report()));
    QVERIFY2(first.endWith(SIGTERM), qPrintable(first.report()));
    QVERIFY2(first.exitStatus() == 0, qPrintable(first.report()));
    QVERIFY2(first.errors().isEmpty(), qPrintable(first.report()));
    const QStringList lines = first.lines();
    // The last answer may have been on its way as the poll was ended.
    QVERIFY2(lines.size() >= before + 1, qPrintable(first.report()));
    for (const QString &line : lines)
        QVERIFY2(line.endsWith(u" Lamp Life 5% or less"), qPrintable(line));
}

// --count rounds, --every apart, each line with the time its command went out.
void TestSend::everyRepeatsWithTimes()
{
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    SendProcess send({QStringLiteral("--every"), QStringLiteral("0.3"), QStringLiteral("--count"),
                      QStringLiteral("3"), QStringLiteral("--port"), sim.devicePath(),
                      QStringLiteral("pj-status")});
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));
    QVERIFY2(send.errors().isEmpty(), qPrintable(send.report()));

    const QStringList lines = send.lines();
    QCOMPARE(lines.size(), 3);
    const QRegularExpression timed(
        QStringLiteral(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) pj-status: Normal$)"));
    QDateTime previous;
    for (const QString &line : lines) {
        const auto match = timed.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const QDateTime time = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        QVERIFY2(time.isValid(), qPrintable(line));
        // A lower bound only: a loaded machine makes rounds late, never early.
        QVERIFY2(!previous.isValid() || previous.msecsTo(time) >= 250, qPrintable(lines.join(u'\n')));
        previous = time;
    }
    QCOMPARE(sim.logged(u"RX").count(dumpOf("TABN   1")), 3);
}

// A poll's lines reach a pipe as their exchanges end, so that a script reading
// them sees each status when it comes, not when the poll ends.
void TestSend::linesArriveAsTheyCome()
{
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    SendProcess send({QStringLiteral("--every"), QStringLiteral("0.2"), QStringLiteral("--port"),
                      sim.devicePath(), QStringLiteral("pj-status")});
    // A round's line is written before the next round's command goes out:
    // once the projector has the third command, two lines are in the pipe.
    QVERIFY2(QTest::qWaitFor([&] { return sim.logged(u"RX").size() >= 3; }, kWait),
             qPrintable(send.report()));
    QVERIFY2(send.linesWritten().size() >= 2, qPrintable(send.report()));
}

void TestSend::networkEndpoints_data()
{
    QTest::addColumn<bool>("telnet");
    QTest::addColumn<speed_t>("deviceSpeed");
    QTest::newRow("rfc2217ReachesTheDevice") << true << speed_t(B115200);
    // A raw socket carries bytes only: the server's own 9600 bit/s stay.
    QTest::newRow("socketKeepsTheServersSpeed") << false << speed_t(B9600);
}

// Through a real ser2net in front of the simulator, with the speed asked for.
void TestSend::networkEndpoints()
{
    if (!m_haveSer2net)
        QSKIP("ser2net is not installed (Debian package ser2net); the device-server tests need it");
    QFETCH(bool, telnet);
    QFETCH(speed_t, deviceSpeed);
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    deviceserver::Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));
    const QStringList arguments{QStringLiteral("--port"), server.url(telnet), QStringLiteral("--speed"),
                                QStringLiteral("115200"), QStringLiteral("pj-status")};

    SendProcess once(arguments);
    QVERIFY2(once.finish(), qPrintable(once.report() + u'\n' + server.log()));
    QVERIFY2(once.exitStatus() == 0, qPrintable(once.report() + u'\n' + server.log()));
    QCOMPARE(once.output(), QByteArray("pj-status: Normal\n"));
    QVERIFY2(once.errors().isEmpty(), qPrintable(once.report()));

    // The device's speed is read while a connection holds it: a server may
    // set the device back when the last one closes.
    const qsizetype before = sim.logged(u"TX").size();
    SendProcess polling(QStringList{QStringLiteral("--every"), QStringLiteral("0.2")} + arguments);
    QVERIFY2(waitForAnswers(sim, before + 2), qPrintable(polling.report() + u'\n' + server.log()));
    QCOMPARE(deviceserver::ptySpeed(sim.devicePath()), deviceSpeed);
    QVERIFY2(polling.endWith(SIGTERM), qPrintable(polling.report()));
    QVERIFY2(polling.exitStatus() == 0, qPrintable(polling.report()));
    QVERIFY2(polling.lines().size() >= 1 && polling.lines().front().endsWith(u" Normal"),
             qPrintable(polling.report()));
}

void TestSend::exitStatuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("said");

    // "SIM" stands for the simulator's device; names before a usage error
    // must not go out either.
    QTest::newRow("unknownName") << QStringList{"--port", "SIM", "pj-status", "pj-stats"} << 64
                                 << QStringList{"\"pj-stats\"", "pj-status"};
    QTest::newRow("volumeTooLong") << QStringList{"--port", "SIM", "pj-status", "volume", "300"} << 64
                                   << QStringList{"volume", "\"300\""};
    QTest::newRow("missingDevice") << QStringList{"--port", "/nonexistent/qvx-projector", "pj-status"} << 2
                                   << QStringList{"/nonexistent/qvx-projector",
                                                  "the projector's serial device"};
}

void TestSend::exitStatuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, said);
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^SIM$")), sim.devicePath());

    SendProcess send(arguments);
    QVERIFY2(send.finish(), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == status, qPrintable(send.report()));
    for (const QString &text : std::as_const(said))
        QVERIFY2(send.errors().contains(text), qPrintable(send.report()));
    // No value: a usage error sends nothing, and a port that fails tells each command as not sent.
    QVERIFY2(send.output().isEmpty() || send.output().contains("not sent"), qPrintable(send.report()));

    // Once a later command is answered, anything sent before it would be in
    // the simulator's log.
    SendProcess after({QStringLiteral("--port"), sim.devicePath(), QStringLiteral("echo")});
    QVERIFY2(after.finish() && after.exitStatus() == 0, qPrintable(after.report()));
    QCOMPARE(sim.logged(u"RX"), QStringList{dumpOf("CR9")});
}

void TestSend::terminationEndsCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("sigterm") << int(SIGTERM);
    QTest::newRow("ctrlC") << int(SIGINT);
}

// A poll without --count runs until it is told to end, and then ends as a
// program that finished its work.
void TestSend::terminationEndsCleanly()
{
    QFETCH(int, signalNumber);
    SimProcess sim({QStringLiteral("--verbose")});
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    SendProcess send({QStringLiteral("--every"), QStringLiteral("0.2"), QStringLiteral("--port"),
                      sim.devicePath(), QStringLiteral("pj-status")});
    QVERIFY2(waitForAnswers(sim, 3), qPrintable(send.report()));
    QVERIFY2(send.endWith(signalNumber), qPrintable(send.report()));
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));
    QVERIFY2(send.errors().isEmpty(), qPrintable(send.report()));
    QVERIFY2(send.lines().size() >= 2, qPrintable(send.report()));
}

// The projector is switched off and on again during a poll, with nobody at
// the machine: qvx-send says so, waits, and polls on once it is back.
void TestSend::lostLineIsWaitedFor()
{
    // Through a link that goes with the simulator: a pseudo-terminal's own
    // number is soon given to another one.
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    auto first = std::make_unique<SimProcess>(
        QStringList{QStringLiteral("--hangup-after"), QStringLiteral("2"), QStringLiteral("--link"), link});
    QVERIFY2(first->isReady(), qPrintable(first->log()));
    // No --count: however long the loss takes on a loaded machine, the poll
    // is there when the device comes back; the test ends it once it answers.
    SendProcess send({QStringLiteral("--every"), QStringLiteral("0.3"), QStringLiteral("--port"), link,
                      QStringLiteral("pj-status")});
    QVERIFY2(send.waitForErrors(QStringLiteral("waiting for it to come back")), qPrintable(send.report()));
    QVERIFY(first->waitForExit());
    QVERIFY2(send.errors().contains(u"went away"), qPrintable(send.report()));

    SimProcess back({QStringLiteral("--link"), link, QStringLiteral("--verbose")});
    QVERIFY2(back.isReady(), qPrintable(back.log()));
    QVERIFY2(send.waitForErrors(QStringLiteral(": back")), qPrintable(send.report()));
    QVERIFY2(waitForAnswers(back, 3), qPrintable(send.report()));
    const QString errors = send.errors();
    QVERIFY2(errors.indexOf(QStringLiteral(": back")) > errors.indexOf(u"waiting for it to come back"),
             qPrintable(errors));

    QVERIFY2(send.endWith(SIGTERM), qPrintable(send.report()));
    // The line came back: the status is that of the rounds that ran.
    QVERIFY2(send.exitStatus() == 0, qPrintable(send.report()));
    // Two answers before the loss and at least two after it: the last one may
    // have been on its way as the poll was ended.
    const QStringList lines = send.lines();
    QVERIFY2(lines.size() >= 4, qPrintable(send.report()));
    for (const QString &line : lines)
        QVERIFY2(line.endsWith(u" Normal"), qPrintable(line));
}

QTEST_MAIN(TestSend)
#include "tst_send.moc"
