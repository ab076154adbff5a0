#pragma once

#include "core/MessageBoxService.h"

#include <QList>
#include <QString>

#include <deque>
#include <functional>

namespace kallomir::test {

// Records every message box and answers from a script (Ok / the default answer when the
// script is empty).
class ScriptedMessageBoxes : public MessageBoxService {
public:
    struct Shown {
        QString text;
        QString title;
        MsgButtons buttons;
        MsgIcon icon;
    };

    MsgAnswer show(const QString& text, const QString& title, MsgButtons buttons,
                   MsgIcon icon) override;

    void answerNext(MsgAnswer answer) { script_.push_back(answer); }
    void setDefaultAnswer(MsgAnswer answer) { defaultAnswer_ = answer; }
    // Called while a box is "open" (for tests that act inside a modal box).
    void onShow(std::function<void(const Shown&)> hook) { hook_ = std::move(hook); }

    const QList<Shown>& shown() const { return shown_; }
    QStringList texts() const;
    const Shown& last() const { return shown_.back(); }
    bool empty() const { return shown_.isEmpty(); }
    void clear() { shown_.clear(); }

private:
    QList<Shown> shown_;
    std::deque<MsgAnswer> script_;
    MsgAnswer defaultAnswer_ = MsgAnswer::Ok;
    std::function<void(const Shown&)> hook_;
};

}  // namespace kallomir::test
