#pragma once

// Helpers for GUI tests: answering modal dialogs that a tested call opens and waits on.

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Calls `answer` with the next modal widget that becomes active and is shown (polled from the
// event loop the modal call runs), once. Keep the returned object alive until the modal call has
// returned; it reports whether the answer ran.
class TModalAnswer
{
public:
    explicit TModalAnswer(std::function<void(QWidget *modal)> answer, QWidget *ignore = nullptr)
        : m_timer(std::make_unique<QTimer>())
    {
        m_timer->setInterval(10);
        QObject::connect(m_timer.get(), &QTimer::timeout, [this, answer, ignore] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == ignore || m_answered)
                return;
            // Clicks reach only a window that is shown and laid out.
            if (!modal->isVisible() || !modal->windowHandle()
                || !modal->windowHandle()->isExposed())
                return;
            m_answered = true;
            m_timer->stop();
            answer(modal);
        });
        m_timer->start();
    }
    bool Answered() const { return m_answered; }

private:
    std::unique_ptr<QTimer> m_timer;
    bool m_answered = false;
};

// Runs the event loop until `condition` holds or `timeoutMs` passes; returns the condition.
inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The child of `parent` with that object name, a test failure when there is none.
template <class W> W *Child(QWidget *parent, const char *name)
{
    W *child = parent->findChild<W *>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Answers the next message box with `button` and keeps its text.
struct TBoxAnswer
{
    QString Text;
    TModalAnswer Answer;
    explicit TBoxAnswer(QMessageBox::StandardButton button)
        : Answer([this, button](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            ASSERT_TRUE(box);
            Text = box->text();
            ASSERT_TRUE(box->button(button)) << Text.toStdString();
            box->button(button)->click();
        })
    {
    }
};
