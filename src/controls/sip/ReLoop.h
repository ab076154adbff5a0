#pragma once

#include <atomic>
#include <functional>
#include <thread>

struct mqueue;

namespace kallomir {

// libre's event loop on a thread of its own. Every libre object is created, used and
// destroyed on this thread; other threads hand it work through run(). libre keeps one loop
// per process, so only one ReLoop may exist at a time.
class ReLoop {
public:
    // Starts the thread and waits until the loop runs. Throws RuntimeError when libre cannot
    // start or another ReLoop is alive.
    ReLoop();
    // Runs `shutdown` (if set) on the loop thread, stops the loop and joins the thread.
    ~ReLoop();

    ReLoop(const ReLoop&) = delete;
    ReLoop& operator=(const ReLoop&) = delete;

    // Runs fn on the loop thread and waits for it; an exception fn throws is rethrown here.
    // Called on the loop thread itself, fn simply runs.
    void run(const std::function<void()>& fn);

    // Work to do on the loop thread just before it stops (releasing libre objects).
    void setShutdown(std::function<void()> fn) { shutdown_ = std::move(fn); }

    bool onLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    static void onMessage(int id, void* data, void* arg);
    void threadMain(std::function<void(int)> started);

    std::thread thread_;
    ::mqueue* queue_ = nullptr;
    std::function<void()> shutdown_;
    std::atomic<bool> running_{false};
};

}  // namespace kallomir
