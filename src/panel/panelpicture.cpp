// The picture at the panel's top right: red lettering on the panel grey.
#include "panelpicture.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

PanelPicture::PanelPicture(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setAccessibleName(lettering());
    draw();
}

void PanelPicture::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    emit doubleClicked();
}

void PanelPicture::changeEvent(QEvent *event)
{
    // A new ground colour, or a screen of another density: draw again rather
    // than scale.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ScreenChangeInternal)
        draw();
    QLabel::changeEvent(event);
}

void PanelPicture::draw()
{
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(kSize * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(palette().color(QPalette::Window));

    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont face(QStringLiteral("DejaVu Serif"));
    face.setStyleHint(QFont::Serif);
    face.setPixelSize(20);
    face.setWeight(QFont::Black);
    face.setItalic(true);
    face.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    painter.setFont(face);
    painter.setPen(QColor(204, 0, 0));
    painter.drawText(QRect(QPoint(), kSize), Qt::AlignCenter, lettering());
    painter.end();
    setPixmap(picture);
}
