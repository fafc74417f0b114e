#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
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

// Saves what `widget` shows as DRAVELIN_TEST_SHOTS/name when that variable names a folder, for
// the checks only an eye can make.
inline void saveShot(QWidget* widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("DRAVELIN_TEST_SHOTS");
    if (!dir.isEmpty() && widget)
        widget->grab().save(dir + QLatin1Char('/') + name, "PNG");
}

// Answers every message box that opens meanwhile (inside other modal loops too) with `answer`
// and keeps "title|text" of each.
class MessageBoxes
{
public:
    explicit MessageBoxes(QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, answer] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->windowTitle() + "|" + box->text();
                QAbstractButton* button = box->button(answer);
                button ? button->click() : box->done(answer);
            }
        });
        m_timer.start(10);
    }
    QStringList seen;

private:
    QTimer m_timer;
};

template <typename W>
bool isVisibleOf(QWidget* widget)
{
    return widget->isVisible() && qobject_cast<W*>(widget) != nullptr;
}

}  // namespace Dravelin::Test
