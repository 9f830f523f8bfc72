// A device server that vanishes without closing, in a private network namespace whose loopback drops its
// packets.
#include "anyline.h"
#include "deviceserver.h"
#include "panelparts.h"
#include "panelwindow.h"
#include "simprocess.h"
#include "warningcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>

#include <cerrno>
#include <cstring>

using namespace std::chrono_literals;
using namespace deviceserver;

namespace {

// A loss must be noticed within a few seconds, idle or after a send; the bound
// leaves room for a loaded machine.
constexpr int kNoticeBoundMs = 15'000;
// Attempts come about once a second, and each waits up to 3 s for its connect.
constexpr int kBackBoundMs = 10'000;

constexpr char kTable[] = "qvx_deadpeer";

// Moves the process into a network namespace of its own, so that dropping
// packets there touches nothing else on the machine. Done before Qt starts a
// thread: a namespace is a thread's, and children inherit the one of the thread
// that starts them. Returns why it could not, or nothing.
QString enterPrivateNetwork()
{
    if (::unshare(CLONE_NEWNET) == 0)
        return {};
    return QStringLiteral("a private network namespace needs root (unshare: %1)")
        .arg(QString::fromLocal8Bit(std::strerror(errno)));
}

QString toolPath(const QString &name)
{
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                 QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
}

// Runs a tool; its complaint, or nothing.
QString run(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(toolPath(tool), arguments);
    if (!process.waitForFinished(kStartTimeoutMs) || process.exitCode() != 0)
        return tool + u' ' + arguments.join(u' ') + QStringLiteral(": ") +
               QString::fromLocal8Bit(process.readAll()) + process.errorString();
    return {};
}

// The namespace starts with its loopback down. ser2net resolves its accepter's
// address with AI_ADDRCONFIG, which counts 127.0.0.1 as no address at all, so
// the loopback gets a second one of its own range.
QString bringUpLoopback()
{
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                      QStringLiteral("up")},
          QStringList{QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("127.0.0.2/8"),
                      QStringLiteral("dev"), QStringLiteral("lo")}}) {
        if (const QString complaint = run(QStringLiteral("ip"), arguments); !complaint.isEmpty())
            return complaint;
    }
    return {};
}

QString g_refusal;

QString nft(const QString &command)
{
    return run(QStringLiteral("nft"), {command});
}

// Drops every packet to and from the server's port, as a power cut or a pulled
// cable would: nothing closes, nothing answers.
QString dropServer(quint16 port)
{
    const QString table = QString::fromLatin1(kTable);
    for (const QString &command :
         {QStringLiteral("add table inet %1").arg(table),
          QStringLiteral("add chain inet %1 input { type filter hook input priority 0 ; }").arg(table),
          QStringLiteral("add rule inet %1 input tcp sport %2 drop").arg(table).arg(port),
          QStringLiteral("add rule inet %1 input tcp dport %2 drop").arg(table).arg(port)}) {
        if (const QString complaint = nft(command); !complaint.isEmpty())
            return complaint;
    }
    return {};
}

QString passServer()
{
    return nft(QStringLiteral("delete table inet %1").arg(QString::fromLatin1(kTable)));
}

} // namespace

class TstDeadPeer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void vanishedServerIsLostAndComesBack_data();
    void vanishedServerIsLostAndComesBack();
};

void TstDeadPeer::initTestCase()
{
    if (!g_refusal.isEmpty())
        QSKIP(qPrintable(g_refusal));
    if (ser2netPath().isEmpty())
        QSKIP("ser2net is not installed (Debian package ser2net)");
    if (toolPath(QStringLiteral("nft")).isEmpty())
        QSKIP("nft is not installed (Debian package nftables)");
    if (toolPath(QStringLiteral("ip")).isEmpty())
        QSKIP("ip is not installed (Debian package iproute2)");
    const QString loopback = bringUpLoopback();
    QVERIFY2(loopback.isEmpty(), qPrintable(loopback));
}

void TstDeadPeer::vanishedServerIsLostAndComesBack_data()
{
    QTest::addColumn<bool>("afterASend");
    QTest::newRow("whileIdle") << false;
    QTest::newRow("afterASend") << true;
}

// The panel on a device server whose packets stop: the loss is noticed within
// seconds and told in the loss's words, and with the box left up the panel
// connects again by itself once the packets pass.
void TstDeadPeer::vanishedServerIsLostAndComesBack()
{
    QFETCH(bool, afterASend);
    SimProcess sim;
    QVERIFY2(sim.isReady(), qPrintable(sim.log()));
    Ser2Net server(sim.devicePath());
    QVERIFY2(server.start(), qPrintable(server.log()));
    QTemporaryDir dir;
    const QString tracePath = dir.filePath(QStringLiteral("trace.tsv"));
    qputenv("QVX_COM1", server.url(true).toLocal8Bit());
    qputenv("QVX_COM2", "/nonexistent/qvx-com2");
    qputenv("QVX_TRACE", tracePath.toLocal8Bit());
    const auto restore = qScopeGuard([] {
        qunsetenv("QVX_COM1");
        qunsetenv("QVX_TRACE");
        passServer();
    });
    WarningCatcher warnings(WarningCatcher::Answer::LeaveUp);
    AnyLine line;
    PanelWindow window(line);
    window.startUp();
    const auto connected = [&] { return line.isOpen() && !line.isConnecting(); };
    QTRY_VERIFY_WITH_TIMEOUT(connected(), kReplyTimeoutMs);
    window.control<QAbstractButton>("Command44")->click();
    QTRY_COMPARE_WITH_TIMEOUT(window.control<QLabel>("Label22")->text(), QStringLiteral(" Normal"),
                              kReplyTimeoutMs);

    const QString dropped = dropServer(server.telnetPort());
    QVERIFY2(dropped.isEmpty(), qPrintable(dropped));
    QElapsedTimer clock;
    clock.start();
    if (afterASend)
        window.control<QAbstractButton>("Command44")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!warnings.texts.isEmpty(), kNoticeBoundMs);
    qInfo("loss noticed %lld ms after the packets stopped (%s)", clock.elapsed(),
          afterASend ? "after a send" : "idle");
    qInfo("%s", qPrintable(warnings.texts.front()));
    QVERIFY2(warnings.texts.front().contains(u"went away"), qPrintable(warnings.texts.front()));
    QVERIFY2(warnings.hints.front().contains(u"by itself"), qPrintable(warnings.hints.front()));

    QVERIFY(passServer().isEmpty());
    clock.restart();
    QTRY_VERIFY_WITH_TIMEOUT(connected(), kBackBoundMs);
    qInfo("connected again %lld ms after the packets passed", clock.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(!warnings.isBoxShown(), kReplyTimeoutMs);
    QCOMPARE(warnings.texts.size(), 1);
    parts::link(window).setWindows(2s, 3s);
    window.control<QAbstractButton>("Command44")->click();
    QTRY_COMPARE_WITH_TIMEOUT(window.control<QLabel>("Label12")->text(), QStringLiteral(" 0 0 0 0 CR "),
                              kReplyTimeoutMs);

    QFile trace(tracePath);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QByteArray recorded = trace.readAll();
    QVERIFY2(recorded.contains(": waiting for COM1 at " + server.url(true).toLocal8Bit() + " to come back"),
             recorded.constData());
    QVERIFY2(recorded.contains("\tPORT\tCOM1 open 9600,N,8,1: reopened"), recorded.constData());
}

int main(int argc, char *argv[])
{
    g_refusal = enterPrivateNetwork();
    QApplication app(argc, argv);
    TstDeadPeer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_deadpeer.moc"
