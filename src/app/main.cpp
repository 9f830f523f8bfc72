// Starts the projector control panel.
#include "anyline.h"
#include "panelwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // A local serial port, or a serial device server where QVX_COM1 or QVX_COM2
    // names rfc2217:// or socket://.
    AnyLine line;
    line.setObjectName(QStringLiteral("MSComm1"));
    PanelWindow window(line);
    window.startUp();
    window.show();
    return app.exec();
}
