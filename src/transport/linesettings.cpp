// The serial settings text ("speed,parity,data,stop") and what it means for the port.
#include "linesettings.h"

#include <QList>

#include <array>

namespace {

struct ParityCode
{
    QChar letter;
    QSerialPort::Parity parity;
};

constexpr std::array kParities{
    ParityCode{u'N', QSerialPort::NoParity},   ParityCode{u'E', QSerialPort::EvenParity},
    ParityCode{u'O', QSerialPort::OddParity},  ParityCode{u'S', QSerialPort::SpaceParity},
    ParityCode{u'M', QSerialPort::MarkParity},
};

std::optional<QSerialPort::Parity> parityOf(QStringView field)
{
    if (field.size() != 1)
        return std::nullopt;
    for (const auto &code : kParities) {
        if (field.front().toUpper() == code.letter)
            return code.parity;
    }
    return std::nullopt;
}

std::optional<QSerialPort::StopBits> stopBitsOf(QStringView field)
{
    if (field == u"1")
        return QSerialPort::OneStop;
    if (field == u"1.5")
        return QSerialPort::OneAndHalfStop;
    if (field == u"2")
        return QSerialPort::TwoStop;
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> LineSettings::parse(QStringView text)
{
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    bool speedOk = false;
    const int speed = fields[0].trimmed().toInt(&speedOk);
    bool dataOk = false;
    const int data = fields[2].trimmed().toInt(&dataOk);
    const auto parity = parityOf(fields[1].trimmed());
    const auto stop = stopBitsOf(fields[3].trimmed());
    if (!speedOk || speed <= 0 || !dataOk || data < 5 || data > 8 || !parity || !stop)
        return std::nullopt;

    return LineSettings{text.toString(), speed, *parity, static_cast<QSerialPort::DataBits>(data), *stop};
}

const LineSettings &LineSettings::initial()
{
    static const LineSettings settings = *parse(QString::fromLatin1(kText9600));
    return settings;
}
