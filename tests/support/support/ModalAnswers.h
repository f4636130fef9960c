#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <utility>

// Answers the modal dialogs that the code under test opens and waits on while this lives. A
// timer looks for one every few milliseconds, so the answer needs neither the focus nor the
// moment a dialog shows, and each dialog gets the answer once, from the event loop its wait
// runs. A dialog still open past the bound after its answer (one it did not take) is rejected
// and the test fails: a wait on a dialog always ends.
class ModalAnswers
{
public:
    explicit ModalAnswers(std::function<void(QWidget*)> i_answer, int i_boundMs = 10000)
        : m_answer(std::move(i_answer)), m_boundMs(i_boundMs)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Look(); });
        m_timer.start(5);
    }
    ModalAnswers(const ModalAnswers&) = delete;
    ModalAnswers& operator=(const ModalAnswers&) = delete;

    int Answered() const { return m_answered; }

private:
    void Look()
    {
        QWidget* lp_modal = QApplication::activeModalWidget();
        if (lp_modal != m_current)
        {
            m_current = lp_modal;
            if (!lp_modal)
                return;
            m_shown.start();
            ++m_answered;
            // Not from inside this timer's own call: an answer may open a dialog of its own.
            QMetaObject::invokeMethod(
                &m_timer, [this, lp_dialog = QPointer<QWidget>(lp_modal)] {
                    if (lp_dialog)
                        m_answer(lp_dialog);
                },
                Qt::QueuedConnection);
        }
        else if (lp_modal && m_shown.elapsed() > m_boundMs)
        {
            ADD_FAILURE() << lp_modal->metaObject()->className() << " \"" << lp_modal->windowTitle().toStdString()
                          << "\" was still open " << m_boundMs << " ms after its answer";
            if (auto* lp_dialog = qobject_cast<QDialog*>(lp_modal))
                lp_dialog->reject();
            else
                lp_modal->close();
            m_shown.start();
        }
    }

    std::function<void(QWidget*)> m_answer;
    int m_boundMs;
    QTimer m_timer;
    QPointer<QWidget> m_current;
    QElapsedTimer m_shown;
    int m_answered = 0;
};
