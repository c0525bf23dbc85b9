// Answers the next modal dialog (an alert, a password dialog) as a person would: polls for
// the active modal widget and, once it is there, runs the given action on it (typing,
// pressing a real button). Gives up after a time-out by rejecting whatever is modal, so that
// a broken test fails instead of hanging.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

class ModalAnswerer : public QObject {
public:
    // ACTION receives the modal widget; it must close it (usually by clicking a button).
    explicit ModalAnswerer(std::function<void(QWidget *)> action, int timeoutMs = 15000)
        : m_action(std::move(action)), m_timeoutMs(timeoutMs)
    {
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(50);
    }
    bool answered() const { return m_answered; }
    QString seenTitle() const { return m_title; }

    // Clicks the button named NAME (objectName) inside the modal widget.
    static void clickButton(QWidget *modal, const QString &name)
    {
        if (auto *button = modal->findChild<QAbstractButton *>(name))
            QTest::mouseClick(button, Qt::LeftButton);
    }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && !m_answered) {
            m_answered = true;
            m_title = modal->windowTitle();
            m_timer.stop();
            m_action(modal);
            return;
        }
        if (m_clock.elapsed() > m_timeoutMs) {
            m_timer.stop();
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        }
    }
    std::function<void(QWidget *)> m_action;
    int m_timeoutMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_answered = false;
    QString m_title;
};
