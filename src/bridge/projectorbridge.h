// One projector's line, shared by its PJLink controllers, the command port's clients and the bridge's own
// polls.
#pragma once

#include "commandport.h"
#include "exchangequeue.h"
#include "exchangerunner.h"
#include "pjlinkmapping.h"
#include "pjlinkresponder.h"
#include "statuscache.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

class SerialLine;

// Keeps the projector's line open, waiting for it whenever it is lost, and
// runs one exchange on it at a time for everyone who asks:
// - a PJLink set, as a person's command, after which no reading taken before
//   it answers a query;
// - a PJLink query from the status cache, as a poll;
// - the command port's commands, as a person's;
// - every poll interval, the queries that PJLink answers from, refreshed, so
//   that a controller's query finds them fresh.
class ProjectorBridge : public QObject, public PjlinkResponder
{
    Q_OBJECT

public:
    struct Settings
    {
        // How the log names the projector: its section in the venue file.
        QString label;
        QString settings;
        PjlinkIdentity identity;
        std::chrono::milliseconds statusAge{5000};
        std::optional<std::chrono::milliseconds> poll = std::chrono::milliseconds{30000};
    };

    ProjectorBridge(Settings settings, std::unique_ptr<SerialLine> line, QObject *parent = nullptr);
    ~ProjectorBridge() override;

    // Opens the line and, whatever it finds, waits for it; starts the polls.
    void start();
    // Listens for the command port's clients; false, with why in *error, when
    // it cannot.
    bool listenForCommands(const QHostAddress &address, quint16 port, QString *error);
    quint16 commandPort() const { return m_commands.port(); }

    // PJLink's clients wait 4 s at the least for an answer; a query is
    // answered within this, from the projector or with ERR3.
    static constexpr std::chrono::milliseconds kAnswerDeadline{2000};

    void answer(const pjlink::Request &request, const QObject *asker, Done done) override;
    void forget(const QObject *asker) override;

signals:
    // A line for the log, in the bridge's words, the projector's label first.
    void said(const QString &text);

private:
    struct Set
    {
        const QObject *asker = nullptr;
        pjlink::Request request;
        Done done;
        QList<Exchange> exchanges;
    };

    void poll();
    void pollFrom(qsizetype step);
    void onExchanged(QObject *requester, const Exchange &exchange);
    void onFinished(QObject *requester);
    void endDeadline(QTimer *deadline);
    void say(const QString &text);

    Settings m_settings;
    std::unique_ptr<SerialLine> m_line;
    ExchangeRunner m_runner;
    ExchangeQueue m_queue;
    StatusCache m_cache;
    PjlinkMapping m_mapping;
    CommandPort m_commands;
    // Each set on the queue, by the object that requests it.
    QHash<const QObject *, Set> m_sets;
    // Each query's answer deadline, with the asker it answers.
    QHash<QTimer *, const QObject *> m_deadlines;
    QList<commands::Step> m_pollSteps;
    QTimer m_pollTimer;
    bool m_polling = false;
    // Whether the line has carried bytes since the bridge started.
    bool m_wasOpen = false;
};
