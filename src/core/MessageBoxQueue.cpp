#include "core/MessageBoxQueue.h"

#include "core/RuntimeError.h"

#include <QTimer>

namespace kallomir {

void MessageBoxQueue::post(const QString& text, const QString& title, MsgIcon icon) {
    pending_.push_back({text, title, icon});
    if (scheduled_ || showing_)
        return;
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] { showPending(); });
}

void MessageBoxQueue::postError(int number, const QString& description, const QString& title) {
    post(ErrorText(number, description), title, MsgIcon::Critical);
}

void MessageBoxQueue::postError(const RuntimeError& error, const QString& title) {
    postError(error.number(), error.description(), title);
}

void MessageBoxQueue::flush() {
    showPending();
}

void MessageBoxQueue::showPending() {
    scheduled_ = false;
    // A box posted while another is open waits for it: the operator reads them in order.
    if (showing_)
        return;
    showing_ = true;
    while (!pending_.empty()) {
        const Box box = pending_.front();
        pending_.pop_front();
        boxes_.show(box.text, box.title, MsgButtons::Ok, box.icon);
    }
    showing_ = false;
}

}  // namespace kallomir
