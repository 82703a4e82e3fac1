// Helpers of the window tests: message boxes answered in the user's place, and modal windows
// handled from a timer while their own event loop runs.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include "app/message_box.h"

namespace apptest {

// Answers every message box: Yes/No boxes from the queue (Yes when it is empty), OK boxes with
// OK. Records what was shown; `onShow` runs while the box would be open.
class ScriptedBoxes
{
public:
    ScriptedBoxes()
    {
        previous_ = app::SetMessageBoxHook([this](QWidget* parent, const convert::Message& message) {
            parents.push_back(parent);
            shown.push_back(message);
            if (onShow)
                onShow(message);
            if (message.buttons == convert::Buttons::Ok)
                return convert::Answer::Ok;
            if (answers.empty())
                return convert::Answer::Yes;
            const convert::Answer answer = answers.front();
            answers.pop_front();
            return answer;
        });
    }
    ~ScriptedBoxes() { app::SetMessageBoxHook(std::move(previous_)); }
    ScriptedBoxes(const ScriptedBoxes&) = delete;
    ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

    QStringList Captions() const
    {
        QStringList captions;
        for (const auto& m : shown)
            captions << QString::fromStdString(m.caption);
        return captions;
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const auto& m : shown)
            texts << QString::fromStdString(m.text);
        return texts;
    }

    std::deque<convert::Answer> answers;
    std::vector<convert::Message> shown;
    std::vector<QWidget*> parents;
    std::function<void(const convert::Message&)> onShow;

private:
    app::MessageBoxHook previous_;
};

// Runs `action` on the next modal window other than `except` once it is shown (polled every
// 10 ms for at most 5 s), inside that window's own event loop. Deleting the returned timer
// withdraws the action.
inline QPointer<QTimer> WhenModal(std::function<void(QWidget*)> action, QWidget* except = nullptr)
{
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, except] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool found = modal && modal != except && modal->isVisible();
        if (!found && clock->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        if (found)
            action(modal);
    });
    timer->start();
    return timer;
}

} // namespace apptest
