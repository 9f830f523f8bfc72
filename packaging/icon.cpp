// Draws the panel's application icon: the scalable picture and its PNG sizes.
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <array>
#include <cstdio>

namespace {

// The icon on a 64-unit square: a grey projector body with a lens and a red
// lamp light, in the panel's own colours. One table feeds both the SVG and the
// painted PNGs, so the sizes are the same picture.
enum class Shape { RoundedRect, Ellipse };

struct Part
{
    Shape shape;
    double x;
    double y;
    double width;
    double height;
    QRgb fill;
    QRgb stroke;
};

constexpr QRgb kNoStroke = 0;

constexpr std::array kParts{
    Part{Shape::RoundedRect, 4, 16, 56, 34, qRgb(192, 192, 192), qRgb(64, 64, 64)},
    Part{Shape::RoundedRect, 10, 50, 8, 6, qRgb(128, 128, 128), kNoStroke},
    Part{Shape::RoundedRect, 46, 50, 8, 6, qRgb(128, 128, 128), kNoStroke},
    Part{Shape::Ellipse, 30, 20, 26, 26, qRgb(255, 255, 255), qRgb(64, 64, 64)},
    Part{Shape::Ellipse, 36, 26, 14, 14, qRgb(192, 255, 255), qRgb(64, 64, 64)},
    Part{Shape::RoundedRect, 10, 22, 14, 6, qRgb(192, 255, 192), kNoStroke},
    Part{Shape::RoundedRect, 10, 32, 14, 6, qRgb(255, 192, 192), kNoStroke},
    Part{Shape::Ellipse, 12, 41, 5, 5, qRgb(204, 0, 0), kNoStroke},
};

constexpr double kUnits = 64;
constexpr double kCorner = 4;
constexpr double kStrokeWidth = 2;

QString svgColour(QRgb rgb)
{
    return QColor(rgb).name();
}

QByteArray svg()
{
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" "
                                  "viewBox=\"0 0 64 64\">\n");
    for (const Part &part : kParts) {
        const QString stroke =
            part.stroke == kNoStroke
                ? QStringLiteral("none")
                : QStringLiteral("%1\" stroke-width=\"%2").arg(svgColour(part.stroke)).arg(kStrokeWidth);
        if (part.shape == Shape::RoundedRect) {
            text +=
                QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\" "
                               "stroke=\"%7\"/>\n")
                    .arg(part.x)
                    .arg(part.y)
                    .arg(part.width)
                    .arg(part.height)
                    .arg(kCorner)
                    .arg(svgColour(part.fill), stroke);
        } else {
            text += QStringLiteral(
                        "  <ellipse cx=\"%1\" cy=\"%2\" rx=\"%3\" ry=\"%4\" fill=\"%5\" stroke=\"%6\"/>\n")
                        .arg(part.x + part.width / 2)
                        .arg(part.y + part.height / 2)
                        .arg(part.width / 2)
                        .arg(part.height / 2)
                        .arg(svgColour(part.fill), stroke);
        }
    }
    text += QStringLiteral("</svg>\n");
    return text.toUtf8();
}

QImage png(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kUnits, size / kUnits);
    for (const Part &part : kParts) {
        painter.setBrush(QColor(part.fill));
        painter.setPen(part.stroke == kNoStroke ? QPen(Qt::NoPen) : QPen(QColor(part.stroke), kStrokeWidth));
        const QRectF area(part.x, part.y, part.width, part.height);
        if (part.shape == Shape::RoundedRect)
            painter.drawRoundedRect(area, kCorner, kCorner);
        else
            painter.drawEllipse(area);
    }
    return image;
}

} // namespace

// Usage: qvx-icon OUTPUT.svg | qvx-icon SIZE OUTPUT.png
int main(int argc, char *argv[])
{
    if (argc == 2) {
        QFile file(QString::fromLocal8Bit(argv[1]));
        return file.open(QIODevice::WriteOnly) && file.write(svg()) > 0 ? 0 : 1;
    }
    bool ok = false;
    const int size = argc == 3 ? QByteArray(argv[1]).toInt(&ok) : 0;
    if (!ok || size <= 0) {
        std::fputs("usage: qvx-icon OUTPUT.svg | qvx-icon SIZE OUTPUT.png\n", stderr);
        return 2;
    }
    return png(size).save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
