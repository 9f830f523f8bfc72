// PJLink without a network: requests read, digests checked, and each command's steps and reply byte for byte.
#include "layouttable.h"
#include "pjlinkauth.h"
#include "pjlinkmapping.h"

#include <QRegularExpression>
#include <QTest>

using pjlink::LineKind;

namespace {

// The protocol's own example: this random value and password give this digest.
const QByteArray kRandom = "498e4a67";
const QByteArray kPassword = "JBMIAProjectorLink";
const QByteArray kDigest = "5d8409bc1c3fa39749434aa3a5c38682";
const QByteArray kAck = "\x06\r";

consteval bool inputsHaveTheirButtonsCaptions()
{
    return std::all_of(kPjlinkInputs.begin(), kPjlinkInputs.end(), [](const PjlinkInput &input) {
        const auto name = std::find_if(commands::kScriptNames.begin(), commands::kScriptNames.end(),
                                       [&](const auto &entry) { return entry.name == input.scriptName; });
        const auto control = layout::ControlId::find(name->source);
        return control && control->layout().caption == input.caption;
    });
}
static_assert(inputsHaveTheirButtonsCaptions(), "INNM answers the panel's captions");

Exchange exchangeOf(const commands::Step &step, const QByteArray &reply)
{
    Exchange exchange;
    exchange.step = step;
    exchange.reply = reply;
    const Verdict verdict =
        reply.isEmpty() ? Verdict{Outcome::Unanswered, {}, {}} : judgeReply(step.text, reply);
    exchange.outcome = verdict.outcome;
    exchange.reading = verdict.reading;
    return exchange;
}

// The reply to a line, the projector answering its steps with the replies in
// turn; steps beyond them are not sent. *sent gets the steps' texts.
QByteArray replyTo(PjlinkMapping &mapping, const QByteArray &line, const QByteArrayList &replies,
                   QByteArray *sent = nullptr)
{
    const pjlink::ParsedLine parsed = pjlink::parseLine(line);
    const PjlinkPlan plan = mapping.plan(parsed.request);
    QByteArrayList texts;
    QList<Exchange> exchanges;
    for (qsizetype i = 0; i < plan.steps.size(); ++i) {
        texts.append(plan.steps[i].text);
        if (i < replies.size())
            exchanges.append(exchangeOf(plan.steps[i], replies[i]));
    }
    if (sent)
        *sent = texts.join('|');
    if (!plan.steps.isEmpty() && plan.changes == parsed.request.parameter.startsWith('?'))
        return "a query that changes, or a set that does not";
    return mapping.reply(parsed.request, exchanges);
}

} // namespace

class TestPjlink : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<LineKind>("kind");
        QTest::addColumn<QByteArray>("digest");
        QTest::addColumn<QByteArray>("request");
        const auto row = [](const char *name, const QByteArray &line, LineKind kind,
                            const QByteArray &digest = {}, const QByteArray &request = {}) {
            QTest::newRow(name) << line << kind << digest << request;
        };
        const QByteArray longest = "%1NAME " + QByteArray(pjlink::kLongestRequest - 7, 'x');
        row("query", "%1POWR ?", LineKind::Request, {}, "1 POWR ?");
        row("digestLowerCase", kDigest + "%1LAMP ?", LineKind::Request, kDigest, "1 LAMP ?");
        row("digestUpperCase", kDigest.toUpper() + "%2INNM ?11", LineKind::Request, kDigest.toUpper(),
            "2 INNM ?11");
        row("nulAndLineFeedIgnored", QByteArray("\n%1PO\0WR \0001", 11), LineKind::Request, {}, "1 POWR 1");
        row("nulsNotCounted", "%1POWR ?" + QByteArray(500, '\0'), LineKind::Request, {}, "1 POWR ?");
        row("lowerCaseTakenAsUpper", "%1inf1 ?", LineKind::Request, {}, "1 INF1 ?");
        row("emptyParameter", "%1POWR ", LineKind::Request, {}, "1 POWR ");
        row("longest", longest, LineKind::Request, {}, "1 NAME " + longest.sliced(7));
        row("longestWithDigest", kDigest + longest, LineKind::Request, kDigest,
            "1 NAME " + longest.sliced(7));
        row("tooLong", longest + 'x', LineKind::TooLong);
        row("tooLongWithDigest", kDigest + longest + 'x', LineKind::TooLong);
        row("flood", QByteArray(100000, 'x'), LineKind::TooLong);
        row("onlyNuls", QByteArray(3, '\0'), LineKind::Empty);
        row("classThree", "%3POWR ?", LineKind::Undefined, {}, "3 POWR ");
        row("noSpace", "%1POWR?", LineKind::Undefined, {}, "1 POWR ");
        row("noPercent", "1POWR ?", LineKind::Malformed);
        row("shortCommand", "%1PO", LineKind::Malformed);
        row("classNotDigit", "%xPOWR ?", LineKind::Malformed);
        row("equalsInCommand", "%1PO=R ?", LineKind::Malformed);
        row("digestOneShort", kDigest.sliced(1) + "%1POWR ?", LineKind::Malformed);
    }

    void parse()
    {
        QFETCH(QByteArray, line);
        QFETCH(LineKind, kind);
        QFETCH(QByteArray, digest);
        QFETCH(QByteArray, request);
        const pjlink::ParsedLine parsed = pjlink::parseLine(line);
        QCOMPARE(parsed.kind, kind);
        QCOMPARE(parsed.digest.value_or(QByteArray()), digest);
        if (!request.isEmpty()) {
            const pjlink::Request &r = parsed.request;
            QCOMPARE(r.classDigit + (' ' + r.command) + ' ' + r.parameter, request);
        }
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArrayList>("replies");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        const auto row = [](const char *name, const QByteArray &line, const QByteArrayList &replies,
                            const QByteArray &sent, const QByteArray &reply) {
            QTest::newRow(name) << line << replies << sent << reply + '\r';
        };
        row("powerOn", "%1POWR 1", {kAck}, "POWR   1", "%1POWR=OK");
        row("powerOff", "%1POWR 0", {kAck}, "POWR   0", "%1POWR=OK");
        row("powerOnUnanswered", "%1POWR 1", {""}, "POWR   1", "%1POWR=ERR3");
        row("powerOnRefused", "%1POWR 1", {"ERR\r"}, "POWR   1", "%1POWR=ERR3");
        row("powerOnNotSent", "%1POWR 1", {}, "POWR   1", "%1POWR=ERR3");
        row("powerOnOutOfForm", "%1POWR 1", {"1\r"}, "POWR   1", "%1POWR=ERR4");
        row("powerCooling", "%1POWR 2", {}, "", "%1POWR=ERR2");
        row("powerQueryOn", "%1POWR ?", {"1\r"}, "POWR????", "%1POWR=1");
        row("powerQueryStandby", "%1POWR ?", {"0\r"}, "POWR????", "%1POWR=0");
        row("powerQueryOutOfForm", "%1POWR ?", {"2\r"}, "POWR????", "%1POWR=ERR4");
        row("input", "%1INPT 21", {kAck}, "IVED   1", "%1INPT=OK");
        row("inputClassTwo", "%2INPT 13", {kAck}, "IRGB   3", "%2INPT=OK");
        row("inputDigital", "%1INPT 31", {}, "", "%1INPT=ERR2");
        row("inputList", "%1INST ?", {}, "", "%1INST=11 12 13 21 22");
        row("muteOn", "%1AVMT 31", {kAck}, "IMBK   1", "%1AVMT=OK");
        row("muteOff", "%1AVMT 30", {kAck}, "IMBK   0", "%1AVMT=OK");
        row("videoMuteAlone", "%1AVMT 11", {}, "", "%1AVMT=ERR2");
        row("muteQueryBoth", "%1AVMT ?", {"03\r"}, "CRA", "%1AVMT=31");
        row("muteQueryVideo", "%1AVMT ?", {"01\r"}, "CRA", "%1AVMT=11");
        row("muteQueryAudio", "%1AVMT ?", {"02\r"}, "CRA", "%1AVMT=21");
        row("muteQueryOff", "%1AVMT ?", {"00\r"}, "CRA", "%1AVMT=30");
        row("muteQueryStandby", "%1AVMT ?", {"FF\r"}, "CRA", "%1AVMT=ERR3");
        row("muteQueryNoSignal", "%1AVMT ?", {"80\r"}, "CRA", "%1AVMT=ERR3");
        const QByteArray errors = "TABN   1|TLPS   1|TLPS   2";
        row("errorsNone", "%1ERST ?", {"0000\r", "0001\r", "0003\r"}, errors, "%1ERST=000000");
        row("errorsFan", "%1ERST ?", {"0002\r", "0001\r", "0001\r"}, errors, "%1ERST=200000");
        row("errorsTempHigh", "%1ERST ?", {"0001\r", "0001\r", "0001\r"}, errors, "%1ERST=002000");
        row("errorsLampLife", "%1ERST ?", {"0008\r", "0001\r", "0000\r"}, errors, "%1ERST=010000");
        row("errorsLampError", "%1ERST ?", {"0008\r", "0001\r", "0004\r"}, errors, "%1ERST=020000");
        row("errorsLampStateUnanswered", "%1ERST ?", {"0000\r", "0001\r", ""}, errors, "%1ERST=ERR3");
        const QByteArray lamps = "CR7|TLTT   1|TLTT   2";
        row("lampsFour", "%1LAMP ?", {"09\r", "01234\r", "00987\r"}, lamps, "%1LAMP=1234 1 987 0 0 0 0 1");
        row("lampsAllOff", "%2LAMP ?", {"20\r", "0\r", "0\r"}, lamps, "%2LAMP=0 0 0 0 0 0 0 0");
        row("lampsBeyondProtocol", "%1LAMP ?", {"0F\r", "100000\r", "0\r"}, lamps, "%1LAMP=ERR4");
        row("lampsPatternRefused", "%1LAMP ?", {"ERR\r", "1\r", "1\r"}, lamps, "%1LAMP=ERR3");
        row("nameBoundedAndClean", "%1NAME ?", {}, "", "%1NAME=Hall?1 ??" + QByteArray(55, 'x'));
        row("maker", "%1INF1 ?", {}, "", "%1INF1=KELM");
        row("product", "%1INF2 ?", {}, "", "%1INF2=QVX-7300");
        row("info", "%1INFO ?", {}, "", "%1INFO=QVX-7300/7300L");
        row("classes", "%1CLSS ?", {}, "", "%1CLSS=2");
        row("freezeClassOne", "%1FREZ 1", {}, "", "%1FREZ=ERR1");
        row("freezeOn", "%2FREZ 1", {kAck}, "FREZ   1", "%2FREZ=OK");
        row("inputName", "%2INNM ?21", {}, "", "%2INNM=4.VIDEO");
        row("inputNameUnknown", "%2INNM ?31", {}, "", "%2INNM=ERR2");
        row("serialNumber", "%2SNUM ?", {}, "", "%2SNUM=QX-1234");
        row("softwareVersionNone", "%2SVER ?", {}, "", "%2SVER=ERR1");
        row("unknownCommand", "%1IRES ?", {}, "", "%1IRES=ERR1");
        row("queryOnlyWithValue", "%1ERST 1", {}, "", "%1ERST=ERR2");
        row("lowerCaseRequest", "%1powr ?", {"1\r"}, "POWR????", "%1POWR=1");
    }

    void replies()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArrayList, replies);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        PjlinkMapping mapping({"Hall=1 \xC3\xA9" + QByteArray(70, 'x'), "QX-1234", {}});
        QByteArray steps;
        QCOMPARE(replyTo(mapping, line, replies, &steps), reply);
        QCOMPARE(steps, sent);
    }

    // INPT ? and FREZ ? tell what the bridge set, once the projector took it.
    void lastSetRemembered()
    {
        PjlinkMapping mapping({});
        QCOMPARE(replyTo(mapping, "%1INPT ?", {}), "%1INPT=ERR3\r");
        QCOMPARE(replyTo(mapping, "%1INPT 12", {"ERR\r"}), "%1INPT=ERR3\r");
        QCOMPARE(replyTo(mapping, "%1INPT ?", {}), "%1INPT=ERR3\r");
        QCOMPARE(replyTo(mapping, "%2INPT 12", {kAck}), "%2INPT=OK\r");
        QCOMPARE(replyTo(mapping, "%1INPT 99", {}), "%1INPT=ERR2\r");
        QCOMPARE(replyTo(mapping, "%1INPT ?", {}), "%1INPT=12\r");
        QCOMPARE(replyTo(mapping, "%2FREZ ?", {}), "%2FREZ=ERR3\r");
        QCOMPARE(replyTo(mapping, "%2FREZ 0", {kAck}), "%2FREZ=OK\r");
        QCOMPARE(replyTo(mapping, "%2FREZ ?", {}), "%2FREZ=0\r");
    }

    void identityFromVenue()
    {
        Projector projector;
        projector.name = QStringLiteral("booth-a");
        const PjlinkIdentity bare = identityOf(projector);
        QVERIFY(bare.name == "booth-a" && !bare.serialNumber && !bare.softwareVersion);
        projector.entries = {{QStringLiteral("name"), QStringLiteral("Booth A"), 3},
                             {QStringLiteral("software-version"), QStringLiteral("1.40"), 4}};
        const PjlinkIdentity named = identityOf(projector);
        QVERIFY(named.name == "Booth A" && !named.serialNumber && named.softwareVersion == "1.40");
    }

    void auth_data()
    {
        QTest::addColumn<bool>("withPassword");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QList<bool>>("admitted");
        const QByteArray query = "%1POWR ?";
        const QByteArray wrong = PjlinkAuth::digestOf(kRandom, "wrong");
        QTest::newRow("noPassword") << false << QByteArrayList{query, wrong + query} << QList{true, true};
        QTest::newRow("digestOnce") << true << QByteArrayList{kDigest + query, query, "%3POWR ?"}
                                    << QList{true, true, true};
        QTest::newRow("digestEveryLine")
            << true << QByteArrayList{kDigest + query, kDigest + "%1LAMP ?"} << QList{true, true};
        QTest::newRow("upperCaseDigest")
            << true << QByteArrayList{kDigest.toUpper() + query, query} << QList{true, true};
        QTest::newRow("wrongDigest") << true << QByteArrayList{wrong + query} << QList{false};
        QTest::newRow("noDigestThenRefusedForGood")
            << true << QByteArrayList{query, kDigest + query} << QList{false, false};
        QTest::newRow("wrongAfterRight")
            << true << QByteArrayList{kDigest + query, wrong + query, query} << QList{true, false, false};
    }

    void auth()
    {
        QFETCH(bool, withPassword);
        QFETCH(QByteArrayList, lines);
        QFETCH(QList<bool>, admitted);
        PjlinkAuth auth(withPassword ? std::optional(kPassword) : std::nullopt, kRandom);
        QCOMPARE(auth.greeting(), withPassword ? "PJLINK 1 498e4a67\r" : "PJLINK 0\r");
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(auth.admit(pjlink::parseLine(lines[i])) == admitted[i], lines[i].constData());
    }

    void greetingsDrawTheirOwnRandom()
    {
        const QRegularExpression form(QStringLiteral("^PJLINK 1 [0-9a-f]{8}\r$"));
        const QByteArray first = PjlinkAuth(kPassword).greeting();
        const QByteArray second = PjlinkAuth(kPassword).greeting();
        QVERIFY2(form.match(QString::fromLatin1(first)).hasMatch(), first.constData());
        QVERIFY2(first != second, second.constData());
    }
};

QTEST_GUILESS_MAIN(TestPjlink)
#include "tst_pjlink.moc"
