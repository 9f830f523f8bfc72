// Unit tests of the simulated projector's replies, state and drifting readings.
#include "projectormodel.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <optional>
#include <utility>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ProjectorOverrides)

namespace {

const QByteArray kAck(1, ProjectorModel::kAck);
const QByteArray kError("ERR");

QByteArray replyToLast(ProjectorModel &model, const QByteArrayList &commands)
{
    QByteArray reply;
    for (const QByteArray &command : commands)
        reply = model.reply(command);
    return reply;
}

void run(ProjectorModel &model, std::chrono::minutes duration)
{
    for (auto elapsed = 0ms; elapsed < duration; elapsed += 500ms)
        model.advance(500ms);
}

// Intake and exhaust temperature from a CR6 reply, or nothing if the reply is malformed.
std::optional<std::pair<double, double>> readTemperatures(ProjectorModel &model)
{
    const QByteArray reply = model.reply("CR6");
    if (!QRegularExpression("^\\d{3}\\.\\d,\\d{3}\\.\\d$").match(reply).hasMatch()) {
        qWarning() << "malformed temperatures" << reply;
        return {};
    }
    return std::pair{reply.left(5).toDouble(), reply.mid(6).toDouble()};
}

} // namespace

// ProjectorModel tests: each row drives a fresh model and checks what the panel would read back.
class TestProjectorModel : public QObject
{
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void forcedReplies_data();
    void forcedReplies();
    void lensStopsAtEnds_data();
    void lensStopsAtEnds();
    void perInputSettingsAreKept();
    void lampHours_data();
    void lampHours();
    void temperatures_data();
    void temperatures();
    void coolsDownInStandby();
    void pressureWandersNearSeaLevel();
};

void TestProjectorModel::replies_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("powerOnAcked") << QByteArrayList{"POWR   1"} << kAck;
    QTest::newRow("powerQueryStandby") << QByteArrayList{"POWR????"} << QByteArray("0");
    QTest::newRow("powerQueryOn") << QByteArrayList{"POWR   1", "POWR????"} << QByteArray("1");
    QTest::newRow("unknownMnemonic") << QByteArrayList{"ABCD   1"} << kError;
    QTest::newRow("emptyLine") << QByteArrayList{""} << kError;
    QTest::newRow("lowerCaseMnemonic") << QByteArrayList{"powr   1"} << kError;
    QTest::newRow("queryWithTrailingSpace") << QByteArrayList{"CR4 "} << kError;
    QTest::newRow("argumentLeftAligned") << QByteArrayList{"POWR1   "} << kError;
    QTest::newRow("argumentZeroPadded") << QByteArrayList{"POWR0001"} << kError;
    QTest::newRow("argumentOutOfRange") << QByteArrayList{"POWR   2"} << kError;
    QTest::newRow("videoInputThree") << QByteArrayList{"IVED   3"} << kError;
    QTest::newRow("pictureInPictureEleven") << QByteArrayList{"PINP  11"} << kAck;
    QTest::newRow("pictureInPictureFive") << QByteArrayList{"PINP   5"} << kError;
    QTest::newRow("autoAdjustZero") << QByteArrayList{"ADJS   0"} << kError;
    QTest::newRow("screenSizeSix") << QByteArrayList{"RASR   6"} << kError;
    QTest::newRow("videoScreenSizeFive") << QByteArrayList{"RASV   5"} << kError;
    QTest::newRow("videoScreenSizeOnRgb3") << QByteArrayList{"RCSV   1"} << kError;
    QTest::newRow("pictureModeNine") << QByteArrayList{"VAPS   9"} << kError;
    QTest::newRow("volumeZeroPadded") << QByteArrayList{"VOLA  05"} << kAck;
    QTest::newRow("volumeAboveTop") << QByteArrayList{"VOLA  61"} << kError;
    QTest::newRow("volumeOneDigit") << QByteArrayList{"VOLA   5"} << kError;
    QTest::newRow("volumeNegative") << QByteArrayList{"VOLA  -1"} << kError;
    QTest::newRow("keystonePlusSixty") << QByteArrayList{"KEYV +60"} << kAck;
    QTest::newRow("keystoneBeyondRange") << QByteArrayList{"KEYV -61"} << kError;
    QTest::newRow("keystoneWithoutSign") << QByteArrayList{"KEYH  60"} << kError;
    QTest::newRow("keystoneSignAfterSpace") << QByteArrayList{"KEYH +6 "} << kError;
    QTest::newRow("lensStepAcked") << QByteArrayList{"LNZO+001"} << kAck;
    QTest::newRow("lensTwoSteps") << QByteArrayList{"LNZO+002"} << kError;
    QTest::newRow("lampOneOnFourLamps") << QByteArrayList{"POWR   1", "TLPS   1"} << QByteArray("0001");
    QTest::newRow("lampTwoOffInModeOne")
        << QByteArrayList{"LPMD   1", "POWR   1", "TLPS   2"} << QByteArray("0000");
    QTest::newRow("lampTwoOnInModeTwo")
        << QByteArrayList{"LPMD   2", "POWR   1", "TLPS   2"} << QByteArray("0001");
    QTest::newRow("lampModeChangedWhileOn")
        << QByteArrayList{"POWR   1", "LPMD   2", "TLPS   1"} << QByteArray("0000");
    QTest::newRow("patternFourLamps") << QByteArrayList{"POWR   1", "CR7"} << QByteArray("0F");
    QTest::newRow("patternLampsOneAndFour")
        << QByteArrayList{"LPMD   1", "POWR   1", "CR7"} << QByteArray("19");
    QTest::newRow("patternLampsTwoAndThree")
        << QByteArrayList{"LPMD   2", "POWR   1", "CR7"} << QByteArray("26");
    QTest::newRow("patternModeKeptInStandby") << QByteArrayList{"LPMD   2", "CR7"} << QByteArray("20");
    QTest::newRow("muteStandby") << QByteArrayList{"CRA"} << QByteArray("FF");
    QTest::newRow("muteAv") << QByteArrayList{"POWR   1", "IMBK   1", "CRA"} << QByteArray("03");
    QTest::newRow("noSignalOnVideo2") << QByteArrayList{"POWR   1", "IVED   2", "CRA"} << QByteArray("80");
    QTest::newRow("signalBackOnRgb") << QByteArrayList{"POWR   1", "IVED   2", "IRGB   1", "CRA"}
                                     << QByteArray("00");
    QTest::newRow("muteWinsOverNoSignal")
        << QByteArrayList{"POWR   1", "IVED   2", "IMBK   1", "CRA"} << QByteArray("03");
    QTest::newRow("identification") << QByteArrayList{"CR9"} << QByteArray("QVX-SIM 1.40");
    QTest::newRow("pressureWithoutSpace") << QByteArrayList{"CRPRESSURE"} << kError;
}

void TestProjectorModel::replies()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, expected);

    ProjectorModel model;
    QCOMPARE(replyToLast(model, commands), expected);
}

void TestProjectorModel::forcedReplies_data()
{
    using Overrides = ProjectorOverrides;
    QTest::addColumn<Overrides>("overrides");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("statusPrefixed") << Overrides{.status = "8"} << QByteArrayList{"TABN   1"}
                                    << QByteArray("0008");
    QTest::newRow("lampStateEvenInStandby")
        << Overrides{.lampState = "4"} << QByteArrayList{"TLPS   2"} << QByteArray("0004");
    QTest::newRow("muteCodeInStandby")
        << Overrides{.muteCode = "02"} << QByteArrayList{"CRA"} << QByteArray("02");
    QTest::newRow("otherQueriesUntouched")
        << Overrides{.status = "2"} << QByteArrayList{"CR4"} << QByteArray("11");
}

void TestProjectorModel::forcedReplies()
{
    QFETCH(ProjectorOverrides, overrides);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, expected);

    ProjectorModel model(1, overrides);
    QCOMPARE(replyToLast(model, commands), expected);
}

void TestProjectorModel::lensStopsAtEnds_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("expected");

    QTest::newRow("zoomFewSteps") << QByteArray("LNZO+001") << 3 << 203;
    QTest::newRow("focusOutToStop") << QByteArray("LNFO-001") << 500 << 0;
    QTest::newRow("shiftLeftToStop") << QByteArray("LNLR-001") << 300 << -200;
}

void TestProjectorModel::lensStopsAtEnds()
{
    QFETCH(QByteArray, command);
    QFETCH(int, steps);
    QFETCH(int, expected);

    ProjectorModel model;
    for (int i = 0; i < steps; ++i)
        QCOMPARE(model.reply(command), kAck);
    QCOMPARE(model.value(command.left(4).toStdString()), expected);
}

void TestProjectorModel::perInputSettingsAreKept()
{
    ProjectorModel model;
    for (const char *command : {"RASR   3", "RBSR   5", "RASV   2", "RBSV   4", "VAPS  12", "VBPS  13"})
        QCOMPARE(model.reply(command), kAck);

    QCOMPARE(model.value("RASR"), 3);
    QCOMPARE(model.value("RBSR"), 5);
    QCOMPARE(model.value("RCSR"), 1);
    QCOMPARE(model.value("RASV"), 2);
    QCOMPARE(model.value("RBSV"), 4);
    QCOMPARE(model.value("VAPS"), 12);
    QCOMPARE(model.value("VBPS"), 13);
    QCOMPARE(model.value("RAPS"), 10);
}

void TestProjectorModel::lampHours_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<double>("hoursPerMinute");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QByteArray>("lamp1");
    QTest::addColumn<QByteArray>("lamp2");

    QTest::newRow("standbyDoesNotBurn")
        << QByteArrayList{} << 60.0 << 1 << QByteArray("01234") << QByteArray("00987");
    QTest::newRow("fourLampsBurnBoth")
        << QByteArrayList{"POWR   1"} << 60.0 << 1 << QByteArray("01294") << QByteArray("01047");
    QTest::newRow("modeOneBurnsLampOne")
        << QByteArrayList{"LPMD   1", "POWR   1"} << 60.0 << 1 << QByteArray("01294") << QByteArray("00987");
    QTest::newRow("modeTwoBurnsLampTwo")
        << QByteArrayList{"LPMD   2", "POWR   1"} << 60.0 << 1 << QByteArray("01234") << QByteArray("01047");
    QTest::newRow("slowRateAddsUpExactly")
        << QByteArrayList{"POWR   1"} << 1.0 << 60 << QByteArray("01294") << QByteArray("01047");
    QTest::newRow("cappedAtFiveDigits")
        << QByteArrayList{"POWR   1"} << 1e6 << 1 << QByteArray("99999") << QByteArray("99999");
}

void TestProjectorModel::lampHours()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(double, hoursPerMinute);
    QFETCH(int, minutes);
    QFETCH(QByteArray, lamp1);
    QFETCH(QByteArray, lamp2);

    ProjectorModel model(1, {}, hoursPerMinute);
    replyToLast(model, commands);
    run(model, std::chrono::minutes(minutes));
    QCOMPARE(model.reply("TLTT   1"), lamp1);
    QCOMPARE(model.reply("TLTT   2"), lamp2);
}

void TestProjectorModel::temperatures_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<double>("intake");
    QTest::addColumn<double>("exhaust");

    QTest::newRow("standbyStaysAmbient") << QByteArrayList{} << 25.0 << 26.0;
    QTest::newRow("normalWarmsUp") << QByteArrayList{"POWR   1"} << 33.0 << 46.0;
    QTest::newRow("ecoRunsCooler") << QByteArrayList{"THMD   1", "POWR   1"} << 30.0 << 39.0;
}

void TestProjectorModel::temperatures()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(double, intake);
    QFETCH(double, exhaust);

    ProjectorModel model(7);
    replyToLast(model, commands);
    for (int sample = 0; sample < 6; ++sample) {
        run(model, 10min);
        const auto measured = readTemperatures(model);
        QVERIFY(measured);
        QVERIFY2(qAbs(measured->first - intake) < 1.5, qPrintable(QString::number(measured->first)));
        QVERIFY2(qAbs(measured->second - exhaust) < 1.5, qPrintable(QString::number(measured->second)));
    }
}

void TestProjectorModel::coolsDownInStandby()
{
    ProjectorModel model(7);
    model.reply("POWR   1");
    run(model, 30min);
    const auto warm = readTemperatures(model);
    model.reply("POWR   0");
    run(model, 1min);
    const auto cooling = readTemperatures(model);
    run(model, 30min);
    const auto cold = readTemperatures(model);

    QVERIFY(warm && cooling && cold);
    QVERIFY(warm->second > cooling->second);
    QVERIFY(cooling->second > cold->second + 5.0);
    QVERIFY(qAbs(cold->second - 26.0) < 1.5);
}

void TestProjectorModel::pressureWandersNearSeaLevel()
{
    ProjectorModel model(7);
    QSet<int> seen;
    for (int hour = 0; hour < 24; ++hour) {
        run(model, 60min);
        const QByteArray reply = model.reply("CR PRESSURE");
        QVERIFY2(QRegularExpression("^\\d{4}$").match(reply).hasMatch(), reply);
        QVERIFY2(qAbs(reply.toInt() - 856) < 25, reply);
        seen.insert(reply.toInt());
    }
    QVERIFY(seen.size() > 1);
}

QTEST_APPLESS_MAIN(TestProjectorModel)
#include "tst_projectormodel.moc"
