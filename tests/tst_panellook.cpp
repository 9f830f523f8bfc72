// The panel as it is drawn: its colours, what each view shows, and its Japanese captions.
#include "fakeline.h"
#include "panelparts.h"
#include "panelstyle.h"
#include "panelviews.h"
#include "panelwindow.h"
#include "windowstates.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QRawFont>
#include <QTest>

#include <algorithm>
#include <array>

using namespace layout;
using views::View;

namespace {

// Where a control's ground shows: just inside the 2-px border of a button and
// the 1-px border of a boxed line, at opposite corners, clear of a centred
// caption and of the focus rectangle.
std::array<QPoint, 2> groundPoints(const QWidget *widget)
{
    return {QPoint(2, 2), QPoint(widget->width() - 3, widget->height() - 3)};
}

QColor colourAt(const QImage &image, QPoint logical)
{
    return image.pixelColor((QPointF(logical) * image.devicePixelRatio()).toPoint());
}

// Pixels whose every channel lies within a small distance of the ink: the
// strokes of a caption, where the antialiasing of the edges leaves them alone.
int inkPixels(const QImage &image, QColor ink)
{
    constexpr int kTolerance = 24;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - ink.red()) <= kTolerance &&
                qAbs(pixel.green() - ink.green()) <= kTolerance &&
                qAbs(pixel.blue() - ink.blue()) <= kTolerance)
                ++count;
        }
    }
    return count;
}

const ControlRow &rowOf(const QString &control)
{
    const auto id = ControlId::find(control.toStdString());
    if (!id)
        qFatal("the layout has no control %s", qPrintable(control));
    return id->layout();
}

// The ground a control shows: the one its layout row names, or the form's own
// grey, that of the frames on it, for no control.
QColor groundOfControl(const QString &control)
{
    return groundOf(control.isEmpty() ? Grey : rowOf(control).colour);
}

// The ground at a control's first ground point, in a grab of the whole window.
QColor renderedGround(const QImage &image, const PanelWindow &window, const QString &control)
{
    const QWidget *widget = control.isEmpty() ? &window : parts::named(window, control.toStdString());
    return colourAt(image, widget->mapTo(&window, groundPoints(widget).front()));
}

bool isRed(QColor colour)
{
    const int hue = colour.hsvHue();
    return colour.hsvSaturation() > 200 && (hue <= 15 || hue >= 345);
}

} // namespace

class TestPanelLook : public QObject
{
    Q_OBJECT

private slots:
    void groundColours_data();
    void groundColours();
    void groundsTellApart_data();
    void groundsTellApart();
    void statusLineIsRedOnWhite();
    void powerCaptionIsDarkRed();
    void viewShowsItsControls_data();
    void viewShowsItsControls();
    void japaneseCaptionsHaveGlyphs_data();
    void japaneseCaptionsHaveGlyphs();
    void fontsResolveToGothicFaces_data();
    void fontsResolveToGothicFaces();
};

void TestPanelLook::groundColours_data()
{
    QTest::addColumn<QString>("control");

    QTest::newRow("powerOn") << "Command17";
    QTest::newRow("powerOff") << "Command18";
    QTest::newRow("pictureGrid") << "Command63";
    QTest::newRow("lensArrow") << "Command108";
    QTest::newRow("sentLine") << "Label11";
    QTest::newRow("receivedLine") << "Label12";
    QTest::newRow("statusLine") << "Label22";
    QTest::newRow("pictureGround") << "Image1";
    QTest::newRow("window") << QString();
}

void TestPanelLook::groundColours()
{
    QFETCH(QString, control);

    FakeLine line;
    PanelWindow window(line);
    window.setClientHeight(WindowStates::kFullHeight);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QWidget *widget = control.isEmpty() ? &window : parts::named(window, control.toStdString());
    const QColor ground = groundOfControl(control);
    QVERIFY(ground.isValid());
    // The whole window is grabbed, so a face left unfilled shows what lies behind it.
    const QImage image = window.grab().toImage();
    for (const QPoint point : groundPoints(widget))
        QCOMPARE(colourAt(image, widget->mapTo(&window, point)), ground);
}

void TestPanelLook::groundsTellApart_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("other");

    QTest::newRow("powerOnFromOff") << "Command17"
                                    << "Command18";
    QTest::newRow("zoomInFromOut") << "Command61"
                                   << "Command62";
    QTest::newRow("receivedLineFromWindow") << "Label12" << QString();
}

void TestPanelLook::groundsTellApart()
{
    QFETCH(QString, control);
    QFETCH(QString, other);

    FakeLine line;
    PanelWindow window(line);
    window.setClientHeight(WindowStates::kFullHeight);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QImage image = window.grab().toImage();
    const QColor ground = renderedGround(image, window, control);
    const QColor otherGround = renderedGround(image, window, other);
    QVERIFY2(ground != otherGround, qPrintable(ground.name() + u' ' + otherGround.name()));
}

void TestPanelLook::statusLineIsRedOnWhite()
{
    FakeLine line;
    PanelWindow window(line);
    window.setClientHeight(WindowStates::kFullHeight);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto *status = window.control<QLabel>("Label22");
    status->setText(QStringLiteral("LAMP ON  HHHHHHHH"));
    const QColor ink = inkOf(rowOf(QStringLiteral("Label22")).colour);
    QVERIFY2(isRed(ink), qPrintable(ink.name()));
    const QImage image = status->grab().toImage();
    QVERIFY2(inkPixels(image, ink) > 0, "no red ink in the status line");
    // Not the traffic lines' ink above it.
    QCOMPARE(inkPixels(image, inkOf(rowOf(QStringLiteral("Label12")).colour)), 0);
    // The text is left-aligned and short, so the right end shows the ground.
    QCOMPARE(colourAt(image, {status->width() - 4, status->height() / 2}), groundOfControl("Label22"));
}

void TestPanelLook::powerCaptionIsDarkRed()
{
    FakeLine line;
    PanelWindow window(line);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QColor ink = inkOf(rowOf(QStringLiteral("Label1")).colour);
    const QColor statusInk = inkOf(rowOf(QStringLiteral("Label22")).colour);
    QVERIFY2(isRed(ink) && ink.value() < statusInk.value(), qPrintable(ink.name()));
    const QImage image = window.control("Label1")->grab().toImage();
    QVERIFY2(inkPixels(image, ink) > 0, "no dark-red ink in POWER");
    QCOMPARE(inkPixels(image, statusInk), 0);
    // Nor the ink of the group captions beside it.
    QCOMPARE(inkPixels(image, inkOf(rowOf(QStringLiteral("Label2")).colour)), 0);
}

void TestPanelLook::viewShowsItsControls_data()
{
    QTest::addColumn<View>("view");
    QTest::addColumn<int>("height");

    QTest::newRow("compact") << View::Compact << WindowStates::kCompactHeight;
    // The data view cuts the data panel's lower border off.
    QTest::newRow("data") << View::Data << WindowStates::kDataHeight;
    QTest::newRow("service") << View::Service << WindowStates::kServiceHeight;
    QTest::newRow("full") << View::Full << WindowStates::kFullHeight;
}

void TestPanelLook::viewShowsItsControls()
{
    QFETCH(View, view);
    QFETCH(int, height);

    FakeLine line;
    PanelWindow window(line);
    // The switch is hidden until Ctrl+H; here only where it lies counts.
    window.control("Command34")->show();
    window.setClientHeight(height);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(views::misplacedFor(window, view), QString());
}

void TestPanelLook::japaneseCaptionsHaveGlyphs_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");

    QTest::newRow("switchShowsData") << "Command34" << QStringLiteral("データを表示する");
    QTest::newRow("switchHidesData") << "Command34" << QStringLiteral("データを表示しない");
    QTest::newRow("volumeRangeFullWidthTilde") << "Label28" << QStringLiteral("(00～60)");
    QTest::newRow("keystoneRangeFullWidthTilde") << "Label30" << QStringLiteral("(-60～+60)");
}

void TestPanelLook::japaneseCaptionsHaveGlyphs()
{
    QFETCH(QString, control);
    QFETCH(QString, caption);

    FakeLine line;
    PanelWindow window(line);
    const QWidget *widget = parts::named(window, control.toStdString());
    QVERIFY(widget);
    // The control's own face must carry every character: a fallback face or a
    // missing glyph would draw a box or a foreign shape in the fixed layout.
    const QFontMetrics metrics(widget->font());
    for (const QChar ch : caption)
        QVERIFY2(metrics.inFont(ch),
                 qPrintable(QStringLiteral("U+%1").arg(ch.unicode(), 4, 16, QLatin1Char('0'))));
}

void TestPanelLook::fontsResolveToGothicFaces_data()
{
    QTest::addColumn<Font>("font");

    QTest::newRow("fixedPitchGothic9") << G9;
    QTest::newRow("fixedPitchGothic9Bold") << G9B;
    QTest::newRow("proportionalGothic9") << P9;
    QTest::newRow("proportionalGothic10Bold") << P10B;
}

void TestPanelLook::fontsResolveToGothicFaces()
{
    QFETCH(Font, font);

    const QFont requested = fontOf(font);
    const QStringList installed = QFontDatabase::families();
    const bool anyInstalled = std::any_of(requested.families().cbegin(), requested.families().cend(),
                                          [&](const QString &family) { return installed.contains(family); });
    if (!anyInstalled)
        QSKIP("no Japanese Gothic face is installed (Debian: fonts-ipafont-gothic)");

    // The face Qt prefers for the font, before any fallback: one of the Gothic
    // faces asked for, and able to draw the panel's Japanese text itself, so
    // that kana and Latin letters come from the same face.
    const QRawFont face = QRawFont::fromFont(requested);
    QVERIFY2(requested.families().contains(face.familyName()), qPrintable(face.familyName()));
    // The switch's two data captions and the ranges' full-width tilde.
    const QString japanese =
        QStringLiteral("データを表示しない") + QStringLiteral("データを表示する") + u'～';
    for (const QChar ch : japanese)
        QVERIFY2(face.supportsCharacter(ch),
                 qPrintable(QStringLiteral("U+%1").arg(ch.unicode(), 4, 16, QLatin1Char('0'))));
}

QTEST_MAIN(TestPanelLook)
#include "tst_panellook.moc"
