#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace Dravelin::Test {

// Answers a dialog the code under test is about to run modally: once a visible top-level widget
// matches, `answer` runs on it, once. Polls from the event loop, so it also reaches dialogs
// opened inside another modal loop. Stops waiting when destroyed.
class ModalAnswer
{
public:
    ModalAnswer(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> answer)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this, matches, answer] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (matches(widget)) {
                    m_timer.stop();
                    m_answered = true;
                    return answer(widget);
                }
        });
        m_timer.start();
    }
    bool answered() const { return m_answered; }

private:
    QTimer m_timer;
    bool m_answered = false;
};

template <typename W>
bool isVisibleOf(QWidget* widget)
{
    return widget->isVisible() && qobject_cast<W*>(widget) != nullptr;
}

}  // namespace Dravelin::Test
