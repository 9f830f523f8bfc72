// The traffic trace: off by default, its line format, and a trace that cannot be written.
#include "fakeline.h"
#include "linkengine.h"
#include "portselection.h"
#include "traffictrace.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

struct Rig
{
    FakeLine line;
    LinkEngine link{line};
    PortSelection ports{line};

    void send(const QByteArray &body) { link.sendCommand(body); }
};

QList<QByteArrayList> columnsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArrayList> lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines.append(line.split('\t'));
    }
    return lines;
}

} // namespace

class TestTrafficTrace : public QObject
{
    Q_OBJECT

private slots:
    void offWithoutTheVariable();
    void oneLinePerEvent();
    void silenceIsTraced();
    void unwritableTraceStopsWithOneWarning();
};

void TestTrafficTrace::offWithoutTheVariable()
{
    qunsetenv(TrafficTrace::kVariable);
    Rig rig;
    QVERIFY(!TrafficTrace::fromEnvironment(rig.link, rig.ports));
    qputenv(TrafficTrace::kVariable, "");
    QVERIFY(!TrafficTrace::fromEnvironment(rig.link, rig.ports));
}

void TestTrafficTrace::oneLinePerEvent()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.tsv"));
    qputenv(TrafficTrace::kVariable, path.toLocal8Bit());
    Rig rig;
    rig.link.setReplyDecoder(
        [](const QByteArray &, const QByteArray &, bool) { return std::optional<QByteArray>(" Normal"); });
    const auto trace = TrafficTrace::fromEnvironment(rig.link, rig.ports);
    QVERIFY(trace && trace->isWriting());
    rig.link.setWindows(20ms, 60ms);

    QVERIFY(!rig.ports.openAtStart());
    rig.send("TABN   1");
    // The reply comes a measurable time after the send, by the link's own clock.
    QVERIFY(QTest::qWaitFor([&] { return rig.link.msSinceSend() >= 5; }, 5000));
    rig.line.feed("0000\r");
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.isDisplayWindowOpen(), 5000);

    const QList<QByteArrayList> lines = columnsOf(path);
    QCOMPARE(lines.size(), 4);
    const QRegularExpression timestamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"));
    for (const QByteArrayList &columns : lines) {
        QCOMPARE(columns.size(), 5);
        QVERIFY2(timestamp.match(QString::fromLatin1(columns[0])).hasMatch(), columns[0].constData());
    }
    QCOMPARE(lines[0][1], QByteArray("PORT"));
    QCOMPARE(lines[0][2], QByteArray("COM1 open 9600,N,8,1"));
    QCOMPARE(lines[1].mid(1), (QByteArrayList{"TX", " T A B N       1 CR ", "", ""}));
    QCOMPARE(lines[2].mid(1, 3), (QByteArrayList{"RX", " 0 0 0 0 CR ", " Normal"}));
    QVERIFY2(lines[2][4].toInt() >= 5, lines[2][4].constData());
    QCOMPARE(lines[3].mid(1), (QByteArrayList{"CLEAR", "", "", ""}));
}

void TestTrafficTrace::silenceIsTraced()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.tsv"));
    qputenv(TrafficTrace::kVariable, path.toLocal8Bit());
    Rig rig;
    QVERIFY(!rig.ports.openAtStart());
    const auto trace = TrafficTrace::fromEnvironment(rig.link, rig.ports);
    rig.link.setWindows(20ms, 60s);
    rig.send("TLPS   1");
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.isReplyWindowOpen(), 5000);
    const QList<QByteArrayList> lines = columnsOf(path);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[1].mid(1, 2), (QByteArrayList{"NO-REPLY", " X X X X"}));
}

void TestTrafficTrace::unwritableTraceStopsWithOneWarning()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("needs /dev/full, a device every write to fails");
    qputenv(TrafficTrace::kVariable, "/dev/full");
    Rig rig;
    QVERIFY(!rig.ports.openAtStart());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("trace to /dev/full stopped")));
    QTest::failOnWarning(QRegularExpression(QStringLiteral("trace")));
    const auto trace = TrafficTrace::fromEnvironment(rig.link, rig.ports);
    rig.send("TABN   1");
    QVERIFY(!trace->isWriting());
    rig.send("TABN   1");
    rig.line.feed("0000\r");
    QCOMPARE(rig.line.written.size(), 2);
}

QTEST_GUILESS_MAIN(TestTrafficTrace)
#include "tst_traffictrace.moc"
