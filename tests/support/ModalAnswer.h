#pragma once

#include <QWidget>

#include <functional>

namespace Dravelin::Test {

// Answers a dialog the code under test is about to run modally: once a visible top-level
// widget of type W (a QMessageBox, a QFileDialog, a product dialog) shows up, `answer` runs on
// it, once. Polls from the event loop, so it also reaches dialogs opened from inside another
// modal loop. Returns a handle that stops waiting when destroyed.
class ModalAnswer
{
public:
    ModalAnswer(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> answer);
    ~ModalAnswer();
    ModalAnswer(const ModalAnswer&) = delete;
    ModalAnswer& operator=(const ModalAnswer&) = delete;

    bool answered() const;

private:
    struct State;
    State* m_state;
};

template <typename W>
bool isVisibleOf(QWidget* widget)
{
    return widget->isVisible() && qobject_cast<W*>(widget) != nullptr;
}

}  // namespace Dravelin::Test
