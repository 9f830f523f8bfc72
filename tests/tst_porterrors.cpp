// The port on a pseudo-terminal: the warning for a port that cannot be opened
// says what to do about it, and a command is on the line as soon as it is written.
#include "comport.h"
#include "portlisting.h"

#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A pseudo-terminal whose device a test can make unreadable.
class Pty
{
public:
    Pty()
        : m_master(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_device = QString::fromLocal8Bit(::ptsname(m_master));
    }
    ~Pty()
    {
        if (m_master >= 0)
            ::close(m_master);
    }

    QString device() const { return m_device; }
    // What has reached the device so far, read without waiting.
    QByteArray arrived() const
    {
        QByteArray bytes(256, Qt::Uninitialized);
        const int flags = ::fcntl(m_master, F_GETFL);
        ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
        const ssize_t count = ::read(m_master, bytes.data(), size_t(bytes.size()));
        ::fcntl(m_master, F_SETFL, flags);
        return bytes.left(count > 0 ? qsizetype(count) : 0);
    }

private:
    int m_master;
    QString m_device;
};

QString groupOf(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    const group *owner = ::getgrgid(status.st_gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QString();
}

} // namespace

class TestPortErrors : public QObject
{
    Q_OBJECT

private slots:
    void openFailureStatesTheFact_data();
    void openFailureStatesTheFact();
    void unreadableDeviceNamesItsGroup();
    void otherFailuresHaveNoHint();
    void writeIsOnTheLineWhenItReturns();
    void portListingNamesEveryPort_data();
    void portListingNamesEveryPort();
};

void TestPortErrors::openFailureStatesTheFact_data()
{
    QTest::addColumn<QString>("device");
    // Empty where the system's own words are the description.
    QTest::addColumn<QString>("description");
    QTest::addColumn<SerialLine::Fault>("fault");

    using F = SerialLine::Fault;
    QTest::newRow("missingDevice") << "/nonexistent/qvx-test-device"
                                   << "" << F::NoDevice;
    QTest::newRow("regularFile") << "/etc/passwd"
                                 << "/etc/passwd is not a serial device" << F::Other;
    QTest::newRow("folder") << "/tmp"
                            << "/tmp is not a serial device" << F::Other;
    QTest::newRow("characterDeviceNoTerminal") << "/dev/null"
                                               << "/dev/null is not a serial device" << F::Other;
}

// The line says what is at the device and which ports there are; how the port
// was named is for whoever named it to say.
void TestPortErrors::openFailureStatesTheFact()
{
    QFETCH(QString, device);
    QFETCH(QString, description);
    QFETCH(SerialLine::Fault, fault);
    ComPort line([device](int) { return device; });
    QVERIFY(!line.open());
    QVERIFY(!line.isOpen());
    if (description.isEmpty())
        QVERIFY2(!line.errorString().isEmpty(), "the port's own description comes first");
    else
        QCOMPARE(line.errorString(), description);
    QCOMPARE(line.failureFault(), fault);
    const QString ports = portlisting::describe(portlisting::availablePorts(), portlisting::byIdNames());
    QCOMPARE(line.failureHint(), ports);
}

void TestPortErrors::unreadableDeviceNamesItsGroup()
{
    Pty pty;
    QVERIFY(!pty.device().isEmpty());
    const QString group = groupOf(pty.device());
    QVERIFY(!group.isEmpty());

    const QString hint = ComPort::hintFor(QSerialPort::PermissionError, pty.device());
    QVERIFY2(hint.contains(QStringLiteral("\"%1\"").arg(group)), qPrintable(hint));
    QVERIFY(hint.contains(QStringLiteral("sudo usermod -aG %1 $USER").arg(group)));

    if (::geteuid() == 0)
        QSKIP("root opens any device; the hint above is what an unprivileged user sees");
    QVERIFY(QFile::setPermissions(pty.device(), {}));
    qputenv("QVX_COM1", pty.device().toLocal8Bit());
    ComPort line;
    QVERIFY(!line.open());
    QCOMPARE(line.failureHint(), hint);
}

void TestPortErrors::otherFailuresHaveNoHint()
{
    ComPort line;
    QVERIFY(!line.write("TABN   1\r"));
    QVERIFY(!line.errorString().isEmpty());
    QVERIFY(line.failureHint().isEmpty());
}

void TestPortErrors::writeIsOnTheLineWhenItReturns()
{
    Pty pty;
    QVERIFY(!pty.device().isEmpty());
    qputenv("QVX_COM1", pty.device().toLocal8Bit());
    ComPort line;
    QVERIFY2(line.open(), qPrintable(line.errorString()));
    QVERIFY(line.write("TABN   1\r"));
    // No turn of the event loop in between, as when the window repaints a
    // clicked button before the loop comes back to the port.
    QCOMPARE(pty.arrived(), QByteArray("TABN   1\r"));
}

void TestPortErrors::portListingNamesEveryPort_data()
{
    QTest::addColumn<QList<PortEntry>>("ports");
    QTest::addColumn<QStringList>("byId");
    QTest::addColumn<QString>("listing");

    const PortEntry adapter{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("USB-Serial Controller"),
                            QStringLiteral("Prolific"), QStringLiteral("A1B2")};
    const PortEntry builtIn{QStringLiteral("/dev/ttyS0"), {}, {}, {}};
    const QString byIdName = QStringLiteral("/dev/serial/by-id/usb-Prolific_A1B2-if00-port0");

    QTest::newRow("none") << QList<PortEntry>{} << QStringList{}
                          << QStringLiteral("This machine has no serial port: plug in the adapter, or check "
                                            "that its driver is loaded.");
    QTest::newRow("adapterWithEveryDetail")
        << QList<PortEntry>{adapter} << QStringList{}
        << QStringLiteral("Serial ports on this machine:\n"
                          "  /dev/ttyUSB0 (USB-Serial Controller, Prolific, serial number A1B2)");
    QTest::newRow("portWithNoDetails") << QList<PortEntry>{builtIn} << QStringList{}
                                       << QStringLiteral("Serial ports on this machine:\n  /dev/ttyS0");
    QTest::newRow("stableNamesAfterThePorts")
        << QList<PortEntry>{builtIn, adapter} << QStringList{byIdName}
        << QStringLiteral("Serial ports on this machine:\n"
                          "  /dev/ttyS0\n"
                          "  /dev/ttyUSB0 (USB-Serial Controller, Prolific, serial number A1B2)\n"
                          "Names that stay the same whichever socket an adapter is in:\n  ") +
               byIdName;
}

void TestPortErrors::portListingNamesEveryPort()
{
    QFETCH(QList<PortEntry>, ports);
    QFETCH(QStringList, byId);
    QFETCH(QString, listing);
    QCOMPARE(portlisting::describe(ports, byId), listing);
}

QTEST_GUILESS_MAIN(TestPortErrors)
#include "tst_porterrors.moc"
