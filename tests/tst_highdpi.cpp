// The panel on a screen scaled by a fractional or whole factor: same layout, sharper pixels.
#include "fakeline.h"
#include "panelparts.h"
#include "panelpicture.h"
#include "panelwindow.h"
#include "windowstates.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <cmath>
#include <memory>

using namespace layout;

namespace {

// Each factor is its own executable: Qt reads the factor once, when the
// application is created.
const qreal kFactor = QByteArray(QVX_SCALE_FACTOR).toDouble();

QSize scaled(QSize logical)
{
    return {qRound(logical.width() * kFactor), qRound(logical.height() * kFactor)};
}

} // namespace

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void layoutKeepsItsLogicalSize_data();
    void layoutKeepsItsLogicalSize();
    void pictureIsDrawnAtTheScreenDensity();
    void buttonFaceFillsItsFace_data();
    void buttonFaceFillsItsFace();

private:
    FakeLine m_line;
    std::unique_ptr<PanelWindow> m_window;
};

void TestHighDpi::init()
{
    QCOMPARE(qApp->devicePixelRatio(), kFactor);
    m_window = std::make_unique<PanelWindow>(m_line);
    m_window->setClientHeight(WindowStates::kFullHeight);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestHighDpi::layoutKeepsItsLogicalSize_data()
{
    QTest::addColumn<int>("height");

    QTest::newRow("compact") << WindowStates::kCompactHeight;
    QTest::newRow("full") << WindowStates::kFullHeight;
}

void TestHighDpi::layoutKeepsItsLogicalSize()
{
    QFETCH(int, height);

    m_window->setClientHeight(height);
    const QSize logical(633, pixels(height));
    QCOMPARE(m_window->size(), logical);
    QCOMPARE(m_window->control("Command17")->size(), QSize(41, 20));

    const QPixmap grab = m_window->grab();
    QCOMPARE(grab.devicePixelRatio(), kFactor);
    QCOMPARE(grab.size(), scaled(logical));
}

void TestHighDpi::pictureIsDrawnAtTheScreenDensity()
{
    auto *picture = qobject_cast<PanelPicture *>(m_window->control("Image1"));
    QVERIFY(picture);
    const QPixmap pixmap = picture->pixmap();
    QCOMPARE(pixmap.devicePixelRatio(), kFactor);
    QCOMPARE(pixmap.size(), scaled(PanelPicture::kSize));

    // The window shows the picture pixel for pixel: nothing scaled it on the way.
    QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage drawn = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), drawn.size());
    QVERIFY(shown == drawn);
}

void TestHighDpi::buttonFaceFillsItsFace_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QColor>("face");

    QTest::newRow("powerOnGreen") << "Command17" << QColor(192, 255, 192);
    QTest::newRow("pictureGridCyan") << "Command68" << QColor(192, 255, 255);
    QTest::newRow("lensArrowOrange") << "Command110" << QColor(255, 224, 192);
}

void TestHighDpi::buttonFaceFillsItsFace()
{
    QFETCH(QString, control);
    QFETCH(QColor, face);

    const QWidget *button = parts::named(*m_window, control.toStdString());
    QVERIFY(button);
    // Grabbed from the window, so that a face left unfilled shows what lies
    // behind it rather than the button's own ground.
    const QImage image =
        m_window->grab(QRect(button->mapTo(m_window.get(), QPoint()), button->size())).toImage();
    QCOMPARE(image.size(), scaled(button->size()));

    // The face's outermost device pixels inside the 2-px border, one pixel in to
    // allow for the rounding of a fractional border, must all be the face colour:
    // the face is filled up to the border at every factor.
    const int left = int(std::ceil(2 * kFactor)) + 1;
    const int top = left;
    const int right = int(std::floor((button->width() - 2) * kFactor)) - 2;
    const int bottom = int(std::floor((button->height() - 2) * kFactor)) - 2;
    QVERIFY(left < right && top < bottom);
    for (int x = left; x <= right; ++x) {
        QCOMPARE(image.pixelColor(x, top), face);
        QCOMPARE(image.pixelColor(x, bottom), face);
    }
    for (int y = top; y <= bottom; ++y) {
        QCOMPARE(image.pixelColor(left, y), face);
        QCOMPARE(image.pixelColor(right, y), face);
    }
}

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", QVX_SCALE_FACTOR);
    QApplication app(argc, argv);
    TestHighDpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"
