// End-to-end tests of the qvx-sim executable through its pseudo-terminal, as the panel uses it.
#include "simprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kReplyTimeout = 5s;

// The panel's side of the line: the slave device opened and set raw with plain POSIX calls.
class Device
{
public:
    explicit Device(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios settings{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~Device()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    bool hungUp() const { return m_hungUp; }

    bool write(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), bytes.size()) == bytes.size();
    }

    // Reads until at least `count` bytes arrived, the timeout passed or the line hung up.
    QByteArray read(qsizetype count, std::chrono::milliseconds timeout = kReplyTimeout)
    {
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        while (received.size() < count && !m_hungUp && clock.elapsed() < timeout.count())
            received += readOnce(timeout.count() - clock.elapsed());
        return received;
    }

    // Everything that arrives until the line hangs up, or the timeout passes.
    QByteArray readToHangUp(std::chrono::milliseconds timeout = kReplyTimeout)
    {
        return read(std::numeric_limits<qsizetype>::max(), timeout);
    }

    // Waits for one read to return data (empty on timeout or hang-up).
    QByteArray readOnce(qint64 timeoutMs)
    {
        pollfd request{m_fd, POLLIN, 0};
        if (::poll(&request, 1, int(std::max<qint64>(timeoutMs, 0))) <= 0)
            return {};
        char buffer[4096];
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count > 0)
            return QByteArray(buffer, count);
        if (count == 0 || (errno != EAGAIN && errno != EINTR))
            m_hungUp = true;
        return {};
    }

private:
    int m_fd = -1;
    bool m_hungUp = false;
};

// How many bytes the process has read so far, by the kernel's count; -1 when
// it cannot be told.
qint64 bytesReadBy(qint64 processId)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(processId));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// Whether the process is not running: asleep until something happens, or gone.
// A wake-up marks it running at once, so once it is idle again it has handled
// whatever woke it.
bool isIdle(qint64 processId)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray fields = stat.readAll();
    // The state follows the command name, which is in parentheses.
    const qsizetype nameEnd = fields.lastIndexOf(") ");
    return nameEnd < 0 || fields.mid(nameEnd + 2, 1) != "R";
}

} // namespace

// Runs the real simulator for each case: these tests cover what only the process shows, the pty,
// pacing, faults, logging, the link and the command line, while tst_projectormodel covers replies.
class TestSimLine : public QObject
{
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void splitRepliesArePaced();
    void delayHoldsReply();
    void silentNeverReplies();
    void hangup_data();
    void hangup();
    void noise_data();
    void noise();
    void unreadOutputIsDropped();
    void verboseLog();
    void reopenedDeviceStillAnswers();
    void linkRemovedOnSignal_data();
    void linkRemovedOnSignal();
    void linkRefusesRegularFile();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
};

void TestSimLine::replies_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("powerOnAcked") << QStringList{} << QByteArrayList{"POWR   1\r"} << QByteArray("\x06\r");
    QTest::newRow("commandsInOneWrite")
        << QStringList{} << QByteArrayList{"POWR   1\rPOWR????\rCR7\r"} << QByteArray("\x06\r1\r0F\r");
    QTest::newRow("commandAcrossWrites")
        << QStringList{} << QByteArrayList{"POW", "R???", "?\r"} << QByteArray("0\r");
    QTest::newRow("lineFeedIsOrdinary")
        << QStringList{} << QByteArrayList{"\nPOWR????\r", "POWR????\n\r"} << QByteArray("ERR\rERR\r");
    QTest::newRow("unknownMnemonic") << QStringList{} << QByteArrayList{"ABCD   1\r"} << QByteArray("ERR\r");
    QTest::newRow("emptyLine") << QStringList{} << QByteArrayList{"\r"} << QByteArray("ERR\r");
    QTest::newRow("binaryGarbage") << QStringList{} << QByteArrayList{QByteArray("\x00\xff\x06\x7f\r", 5)}
                                   << QByteArray("ERR\r");
    QTest::newRow("overlongLineRecovers")
        << QStringList{} << QByteArrayList{QByteArray(5000, 'A') + "\rPOWR????\r"} << QByteArray("ERR\r0\r");
    QTest::newRow("splitReplyReassembles") << QStringList{"--split", "2", "--gap", "10"}
                                           << QByteArrayList{"CR9\r"} << QByteArray("QVX-SIM 1.40\r");
    QTest::newRow("forcedStatus") << QStringList{"--status", "8"} << QByteArrayList{"TABN   1\r"}
                                  << QByteArray("0008\r");
    QTest::newRow("forcedLampState") << QStringList{"--lamp-state", "3"} << QByteArrayList{"TLPS   2\r"}
                                     << QByteArray("0003\r");
    QTest::newRow("forcedLampHours") << QStringList{"--lamp-hours", "123"} << QByteArrayList{"TLTT   1\r"}
                                     << QByteArray("123\r");
    QTest::newRow("forcedReversal") << QStringList{"--reversal", "10"} << QByteArrayList{"CR4\r"}
                                    << QByteArray("10\r");
    QTest::newRow("forcedLampPattern")
        << QStringList{"--lamp-pattern", "2F"} << QByteArrayList{"CR7\r"} << QByteArray("2F\r");
    QTest::newRow("forcedMuteCode") << QStringList{"--mute-code", "80"} << QByteArrayList{"CRA\r"}
                                    << QByteArray("80\r");
    QTest::newRow("forcedPressure") << QStringList{"--pressure", "1E3"} << QByteArrayList{"CR PRESSURE\r"}
                                    << QByteArray("1E3\r");
}

void TestSimLine::replies()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, writes);
    QFETCH(QByteArray, expected);

    SimProcess sim(arguments);
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Device device(sim.devicePath());
    QVERIFY(device.isOpen());
    for (const QByteArray &bytes : writes) {
        const qint64 before = bytesReadBy(sim.processId());
        QVERIFY(device.write(bytes));
        // Each write reaches the simulator in a read of its own.
        QVERIFY(QTest::qWaitFor([&] { return bytesReadBy(sim.processId()) >= before + bytes.size(); },
                                int(kReplyTimeout.count())));
    }
    QCOMPARE(device.read(expected.size()), expected);
    // Nothing more comes: the reply to a later line is the next thing read.
    QVERIFY(device.write("\r"));
    QCOMPARE(device.read(4), QByteArray("ERR\r"));
}

void TestSimLine::splitRepliesArePaced()
{
    SimProcess sim({"--split", "4", "--gap", "150"});
    QVERIFY(sim.isReady());
    Device device(sim.devicePath());
    QVERIFY(device.write("CR9\r"));

    const QByteArray expected("QVX-SIM 1.40\r");
    QByteArray received;
    QElapsedTimer clock;
    while (received.size() < expected.size()) {
        const QByteArray piece = device.readOnce(2000);
        QVERIFY2(!piece.isEmpty(), received.constData());
        QVERIFY2(piece.size() <= 4, piece.constData());
        if (received.isEmpty())
            clock.start();
        received += piece;
    }
    QCOMPARE(received, expected);
    // Four pieces with three gaps between them; the slack covers timer granularity.
    QVERIFY2(clock.elapsed() >= 3 * 150 - 30, qPrintable(QString::number(clock.elapsed())));
}

void TestSimLine::delayHoldsReply()
{
    SimProcess sim({"--delay", "400"});
    QVERIFY(sim.isReady());
    Device device(sim.devicePath());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(device.write("POWR????\r"));

    QCOMPARE(device.read(2), QByteArray("0\r"));
    QVERIFY2(clock.elapsed() >= 380, qPrintable(QString::number(clock.elapsed())));
}

void TestSimLine::silentNeverReplies()
{
    // Hanging up once it has received both commands, and only once its output
    // has been read: whatever it sent comes before the hang-up.
    SimProcess sim({"--silent", "--verbose", "--hangup-after", "2"});
    QVERIFY(sim.isReady());
    Device device(sim.devicePath());
    QVERIFY(device.write("POWR   1\rCR9\r"));

    QCOMPARE(device.readToHangUp(), QByteArray());
    QVERIFY(device.hungUp());
    QTRY_VERIFY(sim.log().contains("\tRX\t C R 9 CR \t"));
}

void TestSimLine::hangup_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("afterSecondReply") << QStringList{} << QByteArray("\x06\r1\r");
    QTest::newRow("afterDelayedReply") << QStringList{"--delay", "300"} << QByteArray("\x06\r1\r");
    QTest::newRow("afterLastPiece") << QStringList{"--split", "1", "--gap", "50"} << QByteArray("\x06\r1\r");
    QTest::newRow("silentAfterSecondCommand") << QStringList{"--silent"} << QByteArray();
}

void TestSimLine::hangup()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    const QString link = dir.filePath("projector");
    SimProcess sim(arguments + QStringList{"--hangup-after", "2", "--link", link});
    QVERIFY(sim.isReady());
    Device device(sim.devicePath());
    QVERIFY(device.write("POWR   1\rPOWR????\rCR9\r"));

    QCOMPARE(device.read(expected.size() + 1), expected);
    QVERIFY(device.hungUp());
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(sim.devicePath()));
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimLine::noise_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("printable");

    QTest::newRow("random") << "random" << false;
    QTest::newRow("printable") << "printable" << true;
}

void TestSimLine::noise()
{
    QFETCH(QString, kind);
    QFETCH(bool, printable);

    SimProcess sim({"--noise", "4000", "--noise-kind", kind, "--seed", "7"});
    QVERIFY(sim.isReady());
    Device device(sim.devicePath());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(device.write("CR9\r"));
    // Read until the reply and over a thousand bytes of noise have come.
    QByteArray received;
    while ((received.size() <= 1000 || !received.contains("QVX-SIM 1.40\r")) && !device.hungUp() &&
           clock.elapsed() < kReplyTimeout.count())
        received += device.readOnce(kReplyTimeout.count() - clock.elapsed());
    // Replies are written whole, so the noise surrounds them but does not cut into them.
    QVERIFY(received.contains("QVX-SIM 1.40\r"));
    // 4000 bytes a second, four a millisecond: a reader held up finds them waiting.
    QVERIFY2(received.size() >= clock.elapsed(),
             qPrintable(QStringLiteral("%1 bytes in %2 ms").arg(received.size()).arg(clock.elapsed())));
    const bool allPrintable = std::all_of(received.begin(), received.end(),
                                          [](char c) { return (c >= 0x20 && c < 0x7f) || c == '\r'; });
    QCOMPARE(allPrintable, printable);
}

void TestSimLine::unreadOutputIsDropped()
{
    SimProcess sim({"--noise", "1000000", "--noise-kind", "printable"});
    QVERIFY(sim.isReady());
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains("dropping output"), 5000);

    Device device(sim.devicePath());
    QVERIFY(!device.read(1).isEmpty());
    QCOMPARE(sim.stop(), 0);
}

void TestSimLine::verboseLog()
{
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isReady());
    Device device(sim.devicePath());
    QVERIFY(device.write("POWR   1\r\x1f\r"));
    QCOMPARE(device.read(6), QByteArray("\x06\rERR\r"));

    // The panel's trace format: timestamp, event, dump, note, and an empty last column.
    const QString stamp = R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\t)";
    const QStringList events{"RX\t P O W R       1 CR \t\t", "TX\t ACK CR \t\t", "RX\t ? CR \t\t",
                             "TX\t E R R CR \t\t"};
    for (const QString &event : events) {
        const QRegularExpression line(stamp + QRegularExpression::escape(event) + '$',
                                      QRegularExpression::MultilineOption);
        QTRY_VERIFY2(line.match(sim.log()).hasMatch(), qPrintable(sim.log()));
    }
}

void TestSimLine::reopenedDeviceStillAnswers()
{
    SimProcess sim;
    QVERIFY(sim.isReady());
    {
        Device first(sim.devicePath());
        QVERIFY(first.write("POWR   1\r"));
        QCOMPARE(first.read(2), QByteArray("\x06\r"));
    }
    // The simulator has gone back to waiting, so it has seen the close.
    QVERIFY(QTest::qWaitFor([&] { return isIdle(sim.processId()); }, int(kReplyTimeout.count())));
    Device second(sim.devicePath());
    QVERIFY(second.write("POWR????\r"));
    QCOMPARE(second.read(2), QByteArray("1\r"));
}

void TestSimLine::linkRemovedOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("staleLinkFirst");

    QTest::newRow("terminate") << int(SIGTERM) << false;
    QTest::newRow("interrupt") << int(SIGINT) << false;
    QTest::newRow("replacesStaleLink") << int(SIGTERM) << true;
}

void TestSimLine::linkRemovedOnSignal()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, staleLinkFirst);

    QTemporaryDir dir;
    const QString link = dir.filePath("projector");
    if (staleLinkFirst)
        QVERIFY(QFile::link(dir.filePath("gone"), link));
    SimProcess sim({"--link", link});
    QVERIFY(sim.isReady());
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.devicePath());

    ::kill(pid_t(sim.processId()), signalNumber);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimLine::linkRefusesRegularFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("projector");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    SimProcess sim({"--link", path});
    QVERIFY(!sim.isReady());
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.exitCode(), 1);
    QVERIFY(QFileInfo(path).isFile());
}

void TestSimLine::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("splitZero") << QStringList{"--split", "0"};
    QTest::newRow("delayNegative") << QStringList{"--delay", "-1"};
    QTest::newRow("gapNotNumber") << QStringList{"--gap", "soon"};
    QTest::newRow("noiseKindUnknown") << QStringList{"--noise-kind", "loud"};
    QTest::newRow("statusTwoCharacters") << QStringList{"--status", "12"};
    QTest::newRow("reversalOneCharacter") << QStringList{"--reversal", "1"};
    QTest::newRow("hangupAfterZero") << QStringList{"--hangup-after", "0"};
    QTest::newRow("unknownOption") << QStringList{"--colour"};
    QTest::newRow("strayArgument") << QStringList{"extra"};
}

void TestSimLine::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);

    QProcess process;
    process.start(QStringLiteral(QVX_SIM_PATH), arguments);
    QVERIFY(process.waitForFinished(10'000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY(process.exitCode() != 0);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(!process.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(TestSimLine)
#include "tst_simline.moc"
