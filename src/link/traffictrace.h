// A time-stamped record of the line's traffic, for integrators, off unless asked for.
#pragma once

#include "linkengine.h"
#include "portselection.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QFile>
#include <QObject>

#include <memory>
#include <optional>

// When QVX_TRACE names a file, the panel appends one line per event of the link:
// an ISO-8601 UTC timestamp with milliseconds, the kind of event (TX, RX,
// NO-REPLY, CLEAR, PORT), the dump of what was sent or just received (for PORT
// the port's state), the status line, and for RX the milliseconds since the last
// send, separated by tabs. The simulator's --verbose log has the same columns,
// so the two can be merged by time. Each line is flushed as it is written; the
// first failing write stops the trace with one warning on stderr.
class TrafficTrace : public QObject
{
    Q_OBJECT

public:
    static constexpr char kVariable[] = "QVX_TRACE";

    // Nothing when QVX_TRACE is not set: the panel then writes no file at all.
    static std::unique_ptr<TrafficTrace> fromEnvironment(LinkEngine &link, PortSelection &ports);

    TrafficTrace(const QString &path, LinkEngine &link, PortSelection &ports);

    bool isWriting() const { return m_file.isOpen(); }

    static QByteArray line(const QDateTime &when, QByteArrayView event, QByteArrayView text,
                           QByteArrayView status, std::optional<qint64> msSinceSend = std::nullopt);

private:
    void write(QByteArrayView event, QByteArrayView text, std::optional<qint64> msSinceSend = std::nullopt);
    void stop(const QString &why);

    LinkEngine &m_link;
    QFile m_file;
};
