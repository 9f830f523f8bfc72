// The venue file: what good files give, where a bad file's error points, and which file is THE file.
#include "venue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kFileName = QStringLiteral("venue.conf");

// A venue in one line: each projector as name@line, port, settings and its
// entries as key=value@line; projectors apart by " | ".
QString summaryOf(const Venue &venue)
{
    QStringList projectors;
    for (const Projector &p : venue.projectors()) {
        QStringList parts{QStringLiteral("%1@%2").arg(p.name).arg(p.line), p.port, p.settings};
        for (const VenueEntry &e : p.entries)
            parts.append(QStringLiteral("%1=%2@%3").arg(e.key, e.value).arg(e.line));
        projectors.append(parts.join(u' '));
    }
    return projectors.join(QStringLiteral(" | "));
}

bool writeFile(const QString &path, QByteArrayView text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.data(), text.size()) == text.size();
}

} // namespace

class TestVenue : public QObject
{
    Q_OBJECT

private slots:
    void goodFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("summary");
        QTest::newRow("twoProjectorsOneWithoutSpeed")
            << QByteArray("# Booth A's projector, through a device server\n[booth-a]\n"
                          "port = rfc2217://booth-server:4001\nspeed = 9600\n\n[booth-b]\n"
                          "port = /dev/serial/by-id/usb-FTDI_FT232R-if00-port0\n")
            << "booth-a@2 rfc2217://booth-server:4001 9600,N,8,1 | "
               "booth-b@6 /dev/serial/by-id/usb-FTDI_FT232R-if00-port0 9600,N,8,1";
        QTest::newRow("fastSpeed") << QByteArray("[a]\nspeed = 115200\nport = /dev/ttyUSB0\n")
                                   << "a@1 /dev/ttyUSB0 115200,N,8,1";
        QTest::newRow("bridgeKeysKeptWithTheirLines")
            << QByteArray("[hall.1]\nport = socket://[::1]:4001\nname = Hall one\n"
                          "pjlink = 0.0.0.0:4352            # where PJLink listens\n"
                          "pjlink-password = pass#word\ncommands = none\n")
            << "hall.1@1 socket://[::1]:4001 9600,N,8,1 name=Hall one@3 pjlink=0.0.0.0:4352@4 "
               "pjlink-password=pass#word@5 commands=none@6";
        QTest::newRow("blanksCommentsCrLfAndByteOrderMark")
            << QByteArray("\xEF\xBB\xBF; a comment\r\n\t[Booth_A]  # left\r\n  port\t=  /dev/ttyS0  \r\n"
                          "   # indented comment\r\n")
            << "Booth_A@2 /dev/ttyS0 9600,N,8,1";
        QTest::newRow("oneServerTwoPorts")
            << QByteArray("[a]\nport = rfc2217://srv:4001\n[b]\nport = socket://srv:4002\n")
            << "a@1 rfc2217://srv:4001 9600,N,8,1 | b@3 socket://srv:4002 9600,N,8,1";
        QTest::newRow("onlyComments") << QByteArray("# nothing here yet\n") << QString();
    }

    void goodFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, summary);
        QString error;
        const auto venue = Venue::parse(text, kFileName, &error);
        QVERIFY2(venue, qPrintable(error));
        QCOMPARE(summaryOf(*venue), summary);
        for (const Projector &p : venue->projectors()) {
            QVERIFY2(venue->find(p.name.toUpper()) == &p, qPrintable(p.name));
            for (const VenueEntry &e : p.entries)
                QVERIFY2(p.entry(e.key) == &e, qPrintable(e.key));
        }
        QVERIFY(!venue->find(u"booth-c"));
    }

    void badFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("word");
        const QByteArray a = "[a]\nport = /dev/ttyS0\n";
        QTest::newRow("neitherSectionNorKey") << a + "speed 9600\n" << 3 << "neither";
        QTest::newRow("keyBeforeSection") << QByteArray("# x\nport = /dev/ttyS0\n") << 2 << "before";
        QTest::newRow("sectionTwiceInOtherCase") << a + "[A]\n" << 3 << "twice";
        QTest::newRow("keyTwice") << a + "port = /dev/ttyS1\n" << 3 << "twice";
        QTest::newRow("sectionWithoutPortBeforeAnother") << "[a]\nspeed = 9600\n" + a << 1 << "no port";
        QTest::newRow("lastSectionWithoutPort") << a + "\n[b]\nname = B\n" << 4 << "no port";
        QTest::newRow("badSpeed") << a + "speed = 19200\n" << 3 << "19200";
        QTest::newRow("badPort") << QByteArray("[a]\nport = ftp://host:21\n") << 2 << "ftp";
        QTest::newRow("portWithoutNumber") << QByteArray("[a]\nport = rfc2217://host\n") << 2 << "port";
        QTest::newRow("unknownKey") << a + "prot = 1\n" << 3 << "prot";
        QTest::newRow("emptyValue") << a + "name =\n" << 3 << "no value";
        QTest::newRow("commentLeavesNoValue") << a + "name = # later\n" << 3 << "no value";
        QTest::newRow("badSectionName") << QByteArray("[booth a]\n") << 1 << "booth a";
        QTest::newRow("unclosedSection") << QByteArray("\n[booth\n") << 2 << "]";
        QTest::newRow("sameDevice") << a + "[b]\nport = /dev//ttyS0\n" << 4 << "[a]";
        QTest::newRow("sameServerPortOtherScheme")
            << QByteArray("[a]\nport = rfc2217://Srv:4001\n[b]\nport = socket://srv:4001\n") << 4 << "[a]";
        QTest::newRow("lineTooLong") << a + "name = " + QByteArray(Venue::kMaxLineBytes, 'x') << 3
                                     << "longer";
        QTest::newRow("notUtf8") << a + "name = caf\xE9\n" << 3 << "UTF-8";
        QTest::newRow("controlByte") << a + "name = a\x01z\n" << 3 << "U+0001";
        QTest::newRow("loneCarriageReturn") << QByteArray("[a]\rport = /dev/ttyS0\n") << 1 << "U+000D";
        const QByteArray comment = "# " + QByteArray(1000, 'x') + '\n';
        QTest::newRow("fileTooLong") << a + comment.repeated(Venue::kMaxFileBytes / comment.size() + 1)
                                     << int(Venue::kMaxFileBytes / comment.size()) + 3 << "1 MiB";
    }

    void badFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(QString, word);
        QString error;
        QVERIFY(!Venue::parse(text, kFileName, &error));
        QVERIFY2(error.startsWith(QStringLiteral("venue.conf:%1: ").arg(line)), qPrintable(error));
        QVERIFY2(error.contains(word), qPrintable(error));
    }

    void findFile_data()
    {
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<bool>("inXdg");
        QTest::addColumn<bool>("inHome");
        QTest::addColumn<QString>("found");
        QTest::newRow("configHome") << "xdg" << true << true << "xdg";
        QTest::newRow("emptyConfigHomeMeansHomeConfig") << "" << true << true << "home";
        QTest::newRow("relativeConfigHomeIgnored") << "relative" << false << true << "home";
        QTest::newRow("noMergingWithHomeConfig") << "xdg" << false << true << "system";
    }

    // The system file is the machine's, which a test cannot lay: where the
    // user's file is missing, the result is /etc/qvx/venue.conf or nothing.
    void findFile()
    {
        QFETCH(QString, xdg);
        QFETCH(bool, inXdg);
        QFETCH(bool, inHome);
        QFETCH(QString, found);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString xdgDir = xdg == u"xdg" ? home.filePath(QStringLiteral("xdg")) : xdg;
        const QByteArray oldHome = qgetenv("HOME");
        const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdgDir));
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            qputenv("XDG_CONFIG_HOME", oldXdg);
        });
        const QString xdgFile = home.filePath(QStringLiteral("xdg/qvx/venue.conf"));
        const QString homeFile = home.filePath(QStringLiteral(".config/qvx/venue.conf"));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("xdg/qvx")) &&
                QDir(home.path()).mkpath(QStringLiteral(".config/qvx")));
        QVERIFY(!inXdg || writeFile(xdgFile, "[xdg]\nport = /dev/ttyS0\n"));
        QVERIFY(!inHome || writeFile(homeFile, "[home]\nport = /dev/ttyS0\n"));

        const QString file = Venue::findFile();
        if (found == u"system") {
            const QString system = Venue::searchOrder().constLast();
            QCOMPARE(file, QFileInfo::exists(system) ? system : QString());
            return;
        }
        QCOMPARE(file, found == u"xdg" ? xdgFile : homeFile);
        QString error;
        const auto venue = Venue::load(file, &error);
        QVERIFY2(venue && venue->find(found), qPrintable(error));
        QVERIFY(!Venue::load(home.filePath(QStringLiteral("missing.conf")), &error));
        QVERIFY2(error.startsWith(home.filePath(QStringLiteral("missing.conf: "))), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestVenue)
#include "tst_venue.moc"
