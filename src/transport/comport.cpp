// The serial line on a real port (or a pseudo-terminal), through QSerialPort.
#include "comport.h"

#include "portlisting.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#endif

ComPort::ComPort(QObject *parent)
    : SerialLine(parent)
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

QString ComPort::deviceFor(int number)
{
    const QByteArray variable = "QVX_COM" + QByteArray::number(number);
    const QString mapped = qEnvironmentVariable(variable.constData());
    if (!mapped.isEmpty())
        return mapped;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

bool ComPort::setPortNumber(int number)
{
    if (m_port.isOpen())
        return fail(tr("Operation valid only when the port is closed"));
    if (number != 1 && number != 2)
        return fail(tr("Invalid port number %1").arg(number));
    m_number = number;
    return true;
}

bool ComPort::setSettings(const QString &settings)
{
    const auto line = LineSettings::parse(settings);
    if (!line)
        return fail(tr("Invalid settings \"%1\"").arg(settings));
    if (m_port.isOpen() && !apply(*line)) {
        // A setting refused half way leaves the port with some of the new ones;
        // it goes back to those it ran at, and the refusal is what is reported.
        const QString refusal = m_error;
        apply(m_line);
        return fail(refusal);
    }
    m_settingsText = settings;
    m_line = *line;
    return true;
}

bool ComPort::open()
{
    if (m_port.isOpen())
        return fail(tr("Port already open"));
    m_device = deviceFor(m_number);
    m_port.setPortName(m_device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        fail(m_port.errorString());
        // The hint is made when it is asked for: listing the ports costs a scan
        // of the system, which a silent reconnection attempt has no use for.
        m_openError = m_port.error();
        m_failedNumber = m_number;
        return false;
    }
    if (!apply(m_line)) {
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

bool ComPort::close()
{
    m_hangUpCheck.stop();
    m_port.close();
    return true;
}

bool ComPort::write(QByteArrayView text)
{
    if (!m_port.isOpen())
        return fail(tr("Port not open"));
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

bool ComPort::fail(const QString &description)
{
    m_error = description;
    m_hint.clear();
    m_openError = QSerialPort::NoError;
    return false;
}

QString ComPort::failureHint() const
{
    return m_openError != QSerialPort::NoError ? hintFor(m_openError, m_device, m_failedNumber) : m_hint;
}

QString ComPort::hintFor(QSerialPort::SerialPortError error, const QString &device, int number)
{
    const auto ports = [] {
        return portlisting::describe(portlisting::availablePorts(), portlisting::byIdNames());
    };
    if (error == QSerialPort::DeviceNotFoundError) {
        return tr("COM%1 is %2. Set QVX_COM%1 to the projector's serial device, for example "
                  "QVX_COM%1=/dev/ttyUSB0.")
                   .arg(number)
                   .arg(device) +
               QStringLiteral("\n\n") + ports();
    }
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
    return error == QSerialPort::NoError ? QString() : ports();
}

bool ComPort::apply(const LineSettings &line)
{
    const bool applied = m_port.setBaudRate(line.baudRate) && m_port.setParity(line.parity) &&
                         m_port.setDataBits(line.dataBits) && m_port.setStopBits(line.stopBits) &&
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
    // directory", "Resource temporarily unavailable"), so the panel says what
    // happened in its own words.
    m_error = tr("The device at %1 went away: it was unplugged or switched off.").arg(m_device);
    m_hint = tr("The panel opens it again by itself when the device is back.");
    m_openError = QSerialPort::NoError;
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
