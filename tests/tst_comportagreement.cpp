// What a device server agreed to over COM-PORT-OPTION: confirmations, refusals, going back, and agreements
// that come late.
#include "comportagreement.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

// Short, so that a wait that ends without an answer ends soon.
constexpr auto kTimeout = 50ms;
// The wait that the server's first byte starts anew is long enough to be seen.
constexpr auto kLongTimeout = 2s;
constexpr char kAddress[] = "rfc2217://127.0.0.1:4001";

struct Step
{
    enum Kind { Agree, RefuseOption, Answer, Ask, TimeOut };
    Kind kind;
    std::uint32_t speed = 0;
};

LineSettings settingsAt(std::uint32_t speed)
{
    return *LineSettings::parse(QStringLiteral("%1,N,8,1").arg(speed));
}

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class TstComPortAgreement : public QObject
{
    Q_OBJECT

private slots:
    void agreement_data();
    void agreement();
    void waitCountsFromServersFirstByte();
};

void TstComPortAgreement::agreement_data()
{
    QTest::addColumn<QList<Step>>("steps");
    // Each refusal's text, told at once or later, holds the words of its row, in order.
    QTest::addColumn<QStringList>("refusals");
    QTest::addColumn<int>("lateApplications");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("requests");

    using S = Step;
    QTest::newRow("agreedAndConfirmed")
        << QList<Step>{{S::Agree}, {S::Answer, 9600}} << QStringList{} << 0 << true << 9600 << 1;
    QTest::newRow("optionRefused") << QList<Step>{{S::RefuseOption}}
                                   << QStringList{QStringLiteral("refused COM-PORT-OPTION")} << 0 << false
                                   << 9600 << 0;
    QTest::newRow("speedAskedOfARefusingServer")
        << QList<Step>{{S::RefuseOption}, {S::Ask, 115200}}
        << QStringList{QStringLiteral("refused"),
                       QStringLiteral("has not agreed to COM-PORT-OPTION, so the settings \"115200,N,8,1\"")}
        << 0 << false << 9600 << 0;
    QTest::newRow("otherSpeedGoesBack")
        << QList<Step>{{S::Agree}, {S::Answer, 9600}, {S::Ask, 115200}, {S::Answer, 9600}}
        << QStringList{QStringLiteral("speed stays 9600 instead of 115200. The line stays at \"9600,N,8,1\"")}
        << 0 << false << 9600 << 3;
    QTest::newRow("settingsNeverConfirmed")
        << QList<Step>{{S::Agree}, {S::TimeOut}}
        << QStringList{QStringLiteral("did not confirm the settings \"9600,N,8,1\" within 0.05 s. The line "
                                      "runs at the server's own settings.")}
        << 0 << false << 9600 << 1;
    QTest::newRow("agreementAfterTheWait")
        << QList<Step>{{S::TimeOut}, {S::Agree}, {S::Answer, 9600}}
        << QStringList{QStringLiteral("did not agree to COM-PORT-OPTION within 0.05 s")} << 1 << true << 9600
        << 1;
    QTest::newRow("earlierRequestsAnsweredFirst")
        << QList<Step>{{S::Agree}, {S::Ask, 115200}, {S::Answer, 9600}, {S::Answer, 115200}} << QStringList{}
        << 0 << true << 115200 << 2;
}

void TstComPortAgreement::agreement()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QStringList, refusals);
    QFETCH(int, lateApplications);
    QFETCH(bool, confirmed);
    QFETCH(int, speed);
    QFETCH(int, requests);

    ComPortAgreement agreement(kTimeout, nullptr);
    QSignalSpy requested(&agreement, &ComPortAgreement::request);
    QStringList told;
    connect(&agreement, &ComPortAgreement::refused, this, [&](const QString &text) { told.append(text); });
    QSignalSpy late(&agreement, &ComPortAgreement::appliedLate);
    agreement.begin(QString::fromLatin1(kAddress), settingsAt(9600));
    for (const Step &step : steps) {
        switch (step.kind) {
        case Step::Agree:
            agreement.optionChanged(TelnetCodec::ComPortState::Accepted);
            break;
        case Step::RefuseOption:
            agreement.optionChanged(TelnetCodec::ComPortState::Refused);
            break;
        case Step::Answer:
            for (const ComPortValue &answer : TelnetCodec::commandsFor(settingsAt(step.speed)))
                agreement.take(answer);
            break;
        case Step::Ask:
            if (const auto refusal = agreement.ask(settingsAt(step.speed)))
                told.append(*refusal);
            break;
        case Step::TimeOut:
            QTRY_VERIFY_WITH_TIMEOUT(!told.isEmpty(), 10000);
            break;
        }
    }

    QCOMPARE(told.size(), refusals.size());
    for (qsizetype i = 0; i < refusals.size(); ++i) {
        const QString &text = told.at(i);
        QVERIFY2(text.contains(refusals.at(i)) && text.contains(QLatin1String(kAddress)), qPrintable(text));
    }
    QCOMPARE(late.size(), lateApplications);
    QCOMPARE(agreement.isConfirmed(), confirmed);
    QCOMPARE(agreement.settings(), settingsAt(speed));
    QCOMPARE(requested.size(), requests);
    if (!requested.isEmpty()) {
        // What goes out last is what the line runs at.
        QCOMPARE(requested.last().at(0).toByteArray(), TelnetCodec::settingsRequest(agreement.settings()));
    }
}

// A server busy with another client accepts at once and speaks later: its
// first byte starts the wait anew, and only the first.
void TstComPortAgreement::waitCountsFromServersFirstByte()
{
    ComPortAgreement agreement(kLongTimeout, nullptr);
    auto *timer = agreement.findChild<QTimer *>(QStringLiteral("answerTimer"));
    QVERIFY(timer);
    agreement.begin(QString::fromLatin1(kAddress), settingsAt(9600));
    const auto half = std::chrono::milliseconds(kLongTimeout) / 2;
    QTRY_VERIFY_WITH_TIMEOUT(timer->remainingTimeAsDuration() < half, 10000);
    agreement.serverSpoke();
    QVERIFY(timer->remainingTimeAsDuration() > half);
    QTRY_VERIFY_WITH_TIMEOUT(timer->remainingTimeAsDuration() < half, 10000);
    agreement.serverSpoke();
    QVERIFY(timer->remainingTimeAsDuration() < half);
}

QTEST_GUILESS_MAIN(TstComPortAgreement)
#include "tst_comportagreement.moc"
