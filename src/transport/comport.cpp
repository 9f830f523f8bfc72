// The serial line on a real port (or a pseudo-terminal), through QSerialPort.
#include "comport.h"

#include "portlisting.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cerrno>
#include <utility>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

ComPort::ComPort(EndpointSource source, QObject *parent)
    : SerialLine(std::move(source), parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] { emit notified(Event::Received); });
    connect(&m_port, &QSerialPort::errorOccurred, this, &ComPort::onError);
    m_hangUpCheck.setInterval(kHangUpCheck);
    connect(&m_hangUpCheck, &QTimer::timeout, this, &ComPort::checkForHangUp);
}

ComPort::~ComPort()
{
    m_port.close();
}

bool ComPort::applySettings(const LineSettings &settings)
{
    if (apply(settings))
        return true;
    // A setting refused half way leaves the port with some of the new ones; it
    // goes back to those it ran at, and the refusal is what is reported.
    const QString refusal = errorString();
    apply(lineSettings());
    return fail(refusal);
}

bool ComPort::openLine()
{
    m_device = location();
    // QSerialPort opens a file or a folder and then reports what the terminal
    // calls made of it ("Inappropriate ioctl for device"), which names no cause.
    if (isNoDevice(m_device))
        return failNotSerial();
    m_port.setPortName(m_device);
    // A program's start leaves errno at ENOTTY (isatty() on a piped output);
    // only the open's own calls may set it here.
    errno = 0;
    if (!m_port.open(QIODevice::ReadWrite))
        return failOpen(errno);
    if (!apply(lineSettings())) {
        m_port.close();
        return false;
    }
    // A real port hears nothing while closed; a pseudo-terminal keeps what was
    // written to it meanwhile. Either way it belongs to no command of ours.
    m_port.clear(QSerialPort::Input);
    m_lossPending = false;
    m_hangUpCheck.start();
    return true;
}

bool ComPort::failOpen(int systemError)
{
    const QSerialPort::SerialPortError error = m_port.error();
    // A character device that is no terminal (/dev/null) opens, and fails at
    // its terminal settings.
    if (systemError == ENOTTY && error != QSerialPort::DeviceNotFoundError &&
        error != QSerialPort::PermissionError)
        return failNotSerial();
    if (isHeldByAnother(error, m_device)) {
        return fail(tr("%1 is in use by another program").arg(m_device),
                    tr("A serial device serves one program at a time. Close the program that holds it "
                       "(another control panel, qvx-send or a terminal program), or let them share the "
                       "projector through a serial device server."));
    }
    // The hint is made when it is asked for: listing the ports costs a scan
    // of the system, which a silent reconnection attempt has no use for.
    return fail(
        m_port.errorString(), [error, device = m_device] { return hintFor(error, device); },
        error == QSerialPort::DeviceNotFoundError ? Fault::NoDevice : Fault::Other);
}

bool ComPort::close()
{
    m_hangUpCheck.stop();
    m_port.close();
    return true;
}

bool ComPort::writeLine(QByteArrayView text)
{
    if (m_port.write(text.data(), text.size()) != text.size()) {
        // A port that takes no bytes has lost its device; the send reports it
        // and the loss closes the port, as for any other evidence, in the
        // loss's own words.
        lose();
        return false;
    }
    // QSerialPort writes its buffer at the next turn of the event loop, after
    // the repaint that a click or a press causes; flush() hands the bytes to
    // the device now, still without waiting.
    m_port.flush();
    return true;
}

QByteArray ComPort::readAll()
{
    return m_port.readAll();
}

QString ComPort::hintFor(QSerialPort::SerialPortError error, const QString &device)
{
#ifdef Q_OS_UNIX
    // Serial devices belong to a group (dialout on Debian) whose members may open them.
    struct stat status = {};
    if (error == QSerialPort::PermissionError &&
        ::stat(QFile::encodeName(device).constData(), &status) == 0) {
        if (const group *owner = ::getgrgid(status.st_gid)) {
            const QString name = QString::fromLocal8Bit(owner->gr_name);
            return tr("%1 belongs to the group \"%2\". Add your user to it with "
                      "\"sudo usermod -aG %2 $USER\", then log in again.")
                .arg(device, name);
        }
    }
#endif
    return error == QSerialPort::NoError ? QString() : listPorts();
}

QString ComPort::listPorts()
{
    return portlisting::describe(portlisting::availablePorts(), portlisting::byIdNames());
}

bool ComPort::isNoDevice(const QString &device)
{
#ifdef Q_OS_UNIX
    struct stat status = {};
    return ::stat(QFile::encodeName(device).constData(), &status) == 0 && !S_ISCHR(status.st_mode);
#else
    Q_UNUSED(device);
    return false;
#endif
}

bool ComPort::failNotSerial()
{
    return fail(tr("%1 is not a serial device").arg(m_device), &ComPort::listPorts);
}

bool ComPort::isHeldByAnother(QSerialPort::SerialPortError error, const QString &device)
{
#ifdef Q_OS_UNIX
    // QSerialPort refuses a device that another program has locked with a
    // permission error; the device itself is then open to this user.
    return error == QSerialPort::PermissionError &&
           ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
    return false;
#endif
}

bool ComPort::apply(const LineSettings &settings)
{
    const bool applied = m_port.setBaudRate(settings.baudRate) && m_port.setParity(settings.parity) &&
                         m_port.setDataBits(settings.dataBits) && m_port.setStopBits(settings.stopBits) &&
                         m_port.setFlowControl(QSerialPort::NoFlowControl);
    return applied || fail(m_port.errorString());
}

void ComPort::onError(QSerialPort::SerialPortError error)
{
    // Failures of open() are reported through its return value. Read and write
    // failures on an open port mean the device is gone: Qt 6.4 repeats them
    // without end while the port stays open.
    const bool deviceGone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                            error == QSerialPort::WriteError;
    if (deviceGone)
        lose();
}

void ComPort::checkForHangUp()
{
    if (!m_port.isOpen())
        return;
    // The node of a pulled adapter goes; for a symlink, the node it points at.
    if (!QFileInfo::exists(m_device)) {
        lose();
        return;
    }
#ifdef Q_OS_UNIX
    // poll() reports a hang-up whatever events are asked for; asking for none
    // leaves the descriptor's data to QSerialPort.
    pollfd descriptor{int(m_port.handle()), 0, 0};
    if (::poll(&descriptor, 1, 0) == 1 && (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL)))
        lose();
#endif
}

void ComPort::lose()
{
    if (!m_port.isOpen() || m_lossPending)
        return;
    // What Qt says at a hang-up is a stale system error ("No such file or
    // directory", "Resource temporarily unavailable"), so the line says what
    // happened in its own words.
    fail(tr("The device at %1 went away: it was unplugged or switched off.").arg(m_device), QString(),
         Fault::DeviceGone);
    m_lossPending = true;
    // Closed once the signal or the write that told of the loss has returned,
    // so QSerialPort is not closed from inside its own notification.
    QMetaObject::invokeMethod(this, &ComPort::dropLostDevice, Qt::QueuedConnection);
}

void ComPort::dropLostDevice()
{
    if (!m_lossPending || !m_port.isOpen())
        return;
    close();
    emit notified(Event::DeviceLost);
}
