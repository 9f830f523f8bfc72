// qvx-send: the panel's commands and decoding for scripts, schedules and automation.
#include "sendoutput.h"
#include "sendrequest.h"
#include "sendrun.h"
#include "terminationwatcher.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

namespace {

constexpr char kUsage[] = "Usage: qvx-send [--port ENDPOINT|NAME]... [--all] [--venue FILE]\n"
                          "                [--speed 9600|115200] [--json] [--dump] [--check]\n"
                          "                [--every SECONDS [--count N]] [--hold SECONDS] COMMAND...\n"
                          "       qvx-send --list\n"
                          "\n"
                          "Sends the control panel's commands to the projector, one after the other, and\n"
                          "prints each command's reply, decoded.\n"
                          "\n"
                          "  --port ENDPOINT  a serial device, rfc2217://host:port or socket://host:port;\n"
                          "                   QVX_COM1 without it. Given several times, every port runs the\n"
                          "                   commands at once, and each line names its port.\n"
                          "  --port NAME      a projector that the venue file names\n"
                          "  --all            every projector of the venue file\n"
                          "  --venue FILE     the venue file; else $XDG_CONFIG_HOME/qvx/venue.conf, then\n"
                          "                   /etc/qvx/venue.conf (see qvx-venue(5))\n"
                          "  --speed SPEED    9600 (the default) or 115200 bit/s, 8 data bits, no parity\n"
                          "  --json           one JSON object a line for each command\n"
                          "  --dump           the sent and received text as the panel's TXD and RXD lines\n"
                          "  --check          exit 4 when a reply reports a fault\n"
                          "  --every SECONDS  the commands again every SECONDS, until Ctrl+C or SIGTERM\n"
                          "  --count N        ... for N rounds\n"
                          "  --hold SECONDS   lens steps every 150 ms for SECONDS, as a held lens button\n"
                          "  --list           every command name with its command text\n"
                          "\n"
                          "COMMAND is a name from --list, in any case: power-on, pj-status, l1-time, ...;\n"
                          "status for a summary of the projector; volume 0..60, keystone-v and keystone-h\n"
                          "-60..+60; text 'TEXT' (up to 64 printable ASCII characters); zoom+, focus-, ...\n"
                          "\n"
                          "Exit status: 0 every command answered, 1 some command drew no reply, 2 a port\n"
                          "could not be opened or was lost, 3 a reply was refused (ERR) or not understood,\n"
                          "4 a fault reported (with --check), 64 a usage error.\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvx-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVX_VERSION));

    // On the descriptors, not on stdio's streams, whose buffer would hold a
    // poll's lines back from a pipe until the program ends.
    QFile output;
    QFile errors;
    output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    errors.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);

    QString error;
    const auto request = SendRequest::parse(app.arguments().mid(1), &error);
    if (!request) {
        errors.write(QStringLiteral("qvx-send: %1\n").arg(error).toLocal8Bit());
        return SendRun::UsageError;
    }
    switch (request->action) {
    case SendRequest::Action::Help:
        output.write(kUsage);
        return 0;
    case SendRequest::Action::Version:
        output.write("qvx-send " QVX_VERSION "\n");
        return 0;
    case SendRequest::Action::List:
        output.write(sendoutput::listing());
        return 0;
    case SendRequest::Action::Send:
        break;
    }

    SendRun run(*request, output, errors);
    // Ctrl+C and SIGTERM end a run cleanly: the ports close, and no lens keeps
    // getting steps.
    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &run, &SendRun::stop);
    QObject::connect(&run, &SendRun::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    run.start();
    return app.exec();
}
