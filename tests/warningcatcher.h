// Notes the panel's warning boxes during a test and answers them, or leaves them up.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

// The panel shows its warning box and goes on without waiting for the answer.
// The catcher looks for the box from a timer, and at once when a test calls
// check(): it notes each box that appears and each new text a box shows, and
// answers it with OK unless told to leave it up, as nobody in an empty booth
// would answer it.
class WarningCatcher : public QObject
{
    Q_OBJECT

public:
    enum class Answer { Ok, LeaveUp };

    explicit WarningCatcher(Answer answer = Answer::Ok)
        : m_answer(answer)
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, &WarningCatcher::check);
        m_timer.start();
    }

    // Notes the box on screen now, if it is new or shows a new text.
    void check()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            m_noted.clear();
            return;
        }
        if (box == m_noted && box->text() == m_notedText)
            return;
        texts.append(box->text());
        hints.append(box->informativeText());
        if (m_answer == Answer::Ok) {
            box->accept();
            m_noted.clear();
        } else {
            m_noted = box;
            m_notedText = box->text();
        }
    }

    // Whether a box is on screen now.
    bool isBoxShown() const
    {
        const auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        return box && box->isVisible();
    }

    QStringList texts;
    QStringList hints;

private:
    Answer m_answer;
    QPointer<QMessageBox> m_noted;
    QString m_notedText;
    QTimer m_timer;
};
