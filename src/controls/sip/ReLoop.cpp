#include "controls/sip/ReLoop.h"

#include "controls/TelephonyControl.h"
#include "controls/sip/ReHeaders.h"
#include "core/RuntimeError.h"

#include <exception>
#include <future>

#include <pthread.h>

namespace kallomir {

namespace {

std::atomic<bool> g_loopAlive{false};

struct Task {
    std::function<void()> fn;
    std::promise<void> done;
};

enum Message { kRunTask = 1, kStop = 2 };

}  // namespace

ReLoop::ReLoop() {
    if (g_loopAlive.exchange(true)) {
        throw RuntimeError(kLineDeviceError, QStringLiteral("The SIP stack is already running"));
    }
    std::promise<int> started;
    std::future<int> result = started.get_future();
    thread_ = std::thread(
        [this, &started] { threadMain([&started](int err) { started.set_value(err); }); });
    const int err = result.get();
    if (err != 0) {
        thread_.join();
        g_loopAlive = false;
        throw RuntimeError(kLineDeviceError,
                           QStringLiteral("The SIP stack did not start (error %1)").arg(err));
    }
}

ReLoop::~ReLoop() {
    if (running_) {
        // The stop message runs after every task queued before it.
        mqueue_push(queue_, kStop, nullptr);
    }
    if (thread_.joinable())
        thread_.join();
    g_loopAlive = false;
}

void ReLoop::threadMain(std::function<void(int)> started) {
    pthread_setname_np(pthread_self(), "kallomir-sip");  // for top -H and profilers
    int err = libre_init();
    if (err == 0)
        err = mqueue_alloc(&queue_, &ReLoop::onMessage, this);
    if (err != 0) {
        libre_close();
        started(err);
        return;
    }
    running_ = true;
    started(0);
    re_main(nullptr);
    running_ = false;
    // The queue runs in order, so every command sent before the stop has been answered.
    queue_ = static_cast<::mqueue*>(mem_deref(queue_));
    libre_close();
}

void ReLoop::onMessage(int id, void* data, void* arg) {
    auto* self = static_cast<ReLoop*>(arg);
    if (id == kStop) {
        if (self->shutdown_) {
            try {
                self->shutdown_();
            } catch (...) {
            }
        }
        re_cancel();
        return;
    }
    auto* task = static_cast<Task*>(data);
    try {
        task->fn();
        task->done.set_value();
    } catch (...) {
        task->done.set_exception(std::current_exception());
    }
}

void ReLoop::run(const std::function<void()>& fn) {
    if (onLoopThread()) {
        fn();
        return;
    }
    if (!running_)
        throw RuntimeError(kLineDeviceError, QStringLiteral("The SIP stack has stopped"));
    Task task{fn, {}};
    std::future<void> done = task.done.get_future();
    const int err = mqueue_push(queue_, kRunTask, &task);
    if (err != 0) {
        throw RuntimeError(
            kLineDeviceError,
            QStringLiteral("The SIP stack did not take the command (error %1)").arg(err));
    }
    done.get();
}

}  // namespace kallomir
