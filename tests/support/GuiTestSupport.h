#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

// Calls `answer` with the next modal widget that becomes active and is shown (polled from the
// event loop the modal call runs), once. Keep the returned object alive until the modal call has
// returned; it reports whether the answer ran.
class TModalAnswer
{
public:
    explicit TModalAnswer(std::function<void(QWidget *modal)> answer, QWidget *ignore = nullptr)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, answer, ignore] {
            QWidget *modal = QApplication::activeModalWidget();
            // Clicks reach only a window that is shown and laid out.
            if (!modal || modal == ignore || m_answered || !modal->isVisible()
                || !modal->windowHandle() || !modal->windowHandle()->isExposed())
                return;
            m_answered = true;
            m_timer.stop();
            answer(modal);
        });
        m_timer.start(10);
    }
    bool Answered() const { return m_answered; }

private:
    QTimer m_timer;
    bool m_answered = false;
};

// Runs the event loop until `condition` holds or `timeoutMs` passes; returns the condition.
inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    for (timer.start(); !condition(); QApplication::processEvents(QEventLoop::AllEvents, 20)) {
        if (timer.elapsed() > timeoutMs)
            return false;
    }
    return true;
}

// The child of `parent` with that object name, a test failure when there is none.
template <class W> W *Child(QWidget *parent, const char *name)
{
    W *child = parent->findChild<W *>(QString::fromLatin1(name));
    EXPECT_TRUE(child) << name;
    return child;
}

// Answers the next message box with `button` (NoButton: its default, as Enter would) and keeps
// its text.
struct TBoxAnswer
{
    QString Text;
    TModalAnswer Answer;
    explicit TBoxAnswer(QMessageBox::StandardButton button)
        : Answer([this, button](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            ASSERT_TRUE(box);
            Text = box->text();
            QAbstractButton *pressed = button ? box->button(button) : box->defaultButton();
            ASSERT_TRUE(pressed) << Text.toStdString();
            pressed->click();
        })
    {
    }
};
