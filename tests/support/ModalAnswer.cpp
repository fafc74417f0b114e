#include "tests/support/ModalAnswer.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

namespace Dravelin::Test {

struct ModalAnswer::State
{
    QTimer timer;
    bool answered = false;
};

ModalAnswer::ModalAnswer(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> answer)
    : m_state(new State)
{
    State* state = m_state;
    state->timer.setInterval(5);
    QObject::connect(&state->timer, &QTimer::timeout, [state, matches, answer] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!matches(widget))
                continue;
            state->timer.stop();
            state->answered = true;
            answer(widget);
            return;
        }
    });
    state->timer.start();
}

ModalAnswer::~ModalAnswer()
{
    delete m_state;
}

bool ModalAnswer::answered() const
{
    return m_state->answered;
}

}  // namespace Dravelin::Test
