// Renders the panel's compact and full views offscreen into PNG files for the README.
#include "comport.h"
#include "panelwindow.h"
#include "windowstates.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QTextStream>

namespace {

// A button whose command's dump the traffic line shows, so the picture of the
// full view shows the line in use: PJ-Status. The port is never opened, so
// nothing goes out.
constexpr char kSampleButton[] = "Command44";

bool save(PanelWindow &window, const QString &path)
{
    // A new height is laid out through the event loop.
    QApplication::processEvents();
    if (window.grab().save(path))
        return true;
    QTextStream(stderr) << "qvx-screenshot: cannot write " << path << '\n';
    return false;
}

// The operator's way to the full view: Ctrl+H, then a double click on the
// picture. Taking it rather than setting the height shows the data-panel switch
// as the full view has it.
void openFullView(PanelWindow &window)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_H, Qt::ControlModifier);
    QApplication::sendEvent(&window, &press);
    QWidget *picture = window.control("Image1");
    const QPointF centre = QRectF(picture->rect()).center();
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, centre, picture->mapToGlobal(centre), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &doubleClick);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: qvx-screenshot DIRECTORY\n";
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));

    // startUp() is not called: it would open COM1, and a port that cannot be
    // opened shows a modal warning that nobody is there to answer.
    ComPort line;
    PanelWindow window(line);
    window.setClientHeight(WindowStates::kCompactHeight);
    window.show();
    if (!save(window, directory.filePath(QStringLiteral("panel-compact.png"))))
        return 1;

    openFullView(window);
    if (window.clientHeight() != WindowStates::kFullHeight) {
        QTextStream(stderr) << "qvx-screenshot: the panel did not open its full view\n";
        return 1;
    }
    window.control<QAbstractButton>(kSampleButton)->click();
    return save(window, directory.filePath(QStringLiteral("panel-full.png"))) ? 0 : 1;
}
