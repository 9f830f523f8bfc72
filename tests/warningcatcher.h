// Answers the panel's modal warning boxes during a test and keeps their texts.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// The warning box runs its own event loop; this looks for it from a timer that
// fires inside that loop, notes its text and its hint, and closes it with OK.
class WarningCatcher : public QObject
{
    Q_OBJECT

public:
    WarningCatcher()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts.append(box->text());
                hints.append(box->informativeText());
                box->accept();
            }
        });
        m_timer.start();
    }

    QStringList texts;
    QStringList hints;

private:
    QTimer m_timer;
};
