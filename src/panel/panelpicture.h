// The picture at the panel's top right: red lettering on the panel grey.
#pragma once

#include <QLabel>

// Shows the panel's emblem at its natural size of 80 x 26 pixels, drawn by the
// panel itself at the screen's pixel density so that it stays sharp at any
// scaling, and reports a double click.
class PanelPicture : public QLabel
{
    Q_OBJECT

public:
    static constexpr QSize kSize{80, 26};
    static QString lettering() { return QStringLiteral("KELM"); }

    explicit PanelPicture(QWidget *parent = nullptr);

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void draw();
};
