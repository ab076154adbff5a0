#include "support/ScriptedMessageBoxes.h"

namespace kallomir::test {

MsgAnswer ScriptedMessageBoxes::show(const QString& text, const QString& title, MsgButtons buttons,
                                     MsgIcon icon) {
    shown_.push_back({text, title, buttons, icon});
    if (hook_)
        hook_(shown_.back());
    if (script_.empty()) {
        if (buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        return defaultAnswer_;
    }
    const MsgAnswer answer = script_.front();
    script_.pop_front();
    return answer;
}

QStringList ScriptedMessageBoxes::texts() const {
    QStringList all;
    for (const Shown& s : shown_) all << s.text;
    return all;
}

}  // namespace kallomir::test
