// Starts the projector control panel.
#include "comport.h"
#include "panelwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ComPort line;
    line.setObjectName(QStringLiteral("MSComm1"));
    PanelWindow window(line);
    window.startUp();
    window.show();
    return app.exec();
}
