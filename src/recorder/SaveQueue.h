#pragma once

#include "recorder/RecordingSaver.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kallomir {

// Saves finished captures one after another on a thread of its own, so the window goes on
// handling calls, clicks and ticks while an hour of audio is copied and flushed. Each result
// comes back through `done` on the thread that owns the queue, in the order of the saves.
// Once a save has moved to the fallback folder, the saves after it go there too.
class SaveQueue : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const SaveRequest&, const SaveResult&)>;

    explicit SaveQueue(QObject* parent = nullptr);
    // Waits for the save under way and for those queued: none is ever abandoned.
    ~SaveQueue() override;

    // Hooks of the saver; set them before the first submit.
    RecordingSaver& saver() { return saver_; }

    void submit(SaveRequest request, Done done);
    // Saves submitted whose result has not been delivered yet.
    int pending() const { return pending_; }
    bool idle() const { return pending_ == 0; }
    // Runs the event loop until every result is delivered.
    void waitIdle();

signals:
    void becameIdle();

private:
    struct Job {
        SaveRequest request;
        Done done;
    };
    void run();

    RecordingSaver saver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;             // guarded by mutex_
    bool quit_ = false;                // guarded by mutex_
    std::optional<QString> fallback_;  // worker only
    int pending_ = 0;                  // owner's thread only
    std::thread worker_;
};

}  // namespace kallomir
