// Starts the projector control panel.
#include "panelwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PanelWindow window;
    window.startUp();
    window.show();
    return app.exec();
}
