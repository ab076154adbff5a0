#pragma once

#include "core/MessageBoxService.h"

#include <QObject>
#include <QString>

#include <deque>

namespace kallomir {

// Reports that need only OK, shown one after another from the event loop instead of inside
// the handler that found the problem. A handler that reports never waits for the operator,
// so calls keep being answered and recorded while a box is open, and nothing the handler
// does after the report runs inside the box's own event loop.
class MessageBoxQueue : public QObject {
    Q_OBJECT
public:
    explicit MessageBoxQueue(MessageBoxService& boxes, QObject* parent = nullptr)
        : QObject(parent), boxes_(boxes) {}

    void post(const QString& text, const QString& title = kApplicationTitle,
              MsgIcon icon = MsgIcon::None);
    // "Error " + number + " " + description, critical, under the handler's title.
    void postError(int number, const QString& description, const QString& title);
    void postError(const class RuntimeError& error, const QString& title);

    bool idle() const { return pending_.empty() && !showing_; }
    // Shows what is waiting now (tests, and the way out of the program).
    void flush();

private:
    struct Box {
        QString text;
        QString title;
        MsgIcon icon;
    };
    void showPending();

    MessageBoxService& boxes_;
    std::deque<Box> pending_;
    bool scheduled_ = false;
    bool showing_ = false;
};

}  // namespace kallomir
