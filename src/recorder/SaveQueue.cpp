#include "recorder/SaveQueue.h"

#include <QEventLoop>
#include <QPointer>

namespace kallomir {

SaveQueue::SaveQueue(QObject* parent) : QObject(parent), worker_([this] { run(); }) {}

SaveQueue::~SaveQueue() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void SaveQueue::submit(SaveRequest request, Done done) {
    ++pending_;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(request), std::move(done)});
    }
    wake_.notify_all();
}

void SaveQueue::waitIdle() {
    if (idle())
        return;
    QEventLoop loop;
    connect(this, &SaveQueue::becameIdle, &loop, &QEventLoop::quit);
    loop.exec();
}

void SaveQueue::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;  // quitting, and nothing is left to save
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        SaveRequest request = job.request;
        if (fallback_) {
            request.dataPath = *fallback_;
            request.recFolder = QStringLiteral("ERROR");
        }
        const SaveResult result = saver_.save(request);
        if (result.fallbackDataPath)
            fallback_ = result.fallbackDataPath;
        QPointer<SaveQueue> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, request, result, done = std::move(job.done)] {
                if (!self)
                    return;
                if (done)
                    done(request, result);
                if (--self->pending_ == 0)
                    emit self->becameIdle();
            },
            Qt::QueuedConnection);
    }
}

}  // namespace kallomir
