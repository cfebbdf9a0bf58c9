#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "gamedb/worker.h"

namespace gamedb {

struct Worker::Thread {
    std::mutex mutex;
    std::condition_variable changed;
    bool queued = false;  // a job waits for the thread
    bool done = false;    // the job has finished
    bool stop = false;
    std::thread thread;
};

Worker::Worker() = default;

Worker::~Worker() {
    Settle();
    if (!thread_ || !thread_->thread.joinable()) return;
    {
        std::lock_guard lock(thread_->mutex);
        thread_->stop = true;
    }
    thread_->changed.notify_all();
    thread_->thread.join();
}

void Worker::Start(std::function<void()> job) {
    job_ = std::move(job);
    failure_ = nullptr;
    if (!thread_) {
        thread_ = std::make_unique<Thread>();
        const auto serve = [this, &t = *thread_] {
            std::unique_lock lock(t.mutex);
            for (;;) {
                t.changed.wait(lock, [&t] { return t.queued || t.stop; });
                if (t.stop) return;
                t.queued = false;
                lock.unlock();
                RunJob();
                lock.lock();
                t.done = true;
                t.changed.notify_all();
            }
        };
        try {
            thread_->thread = std::thread(serve);
        } catch (const std::system_error&) {
            // No thread to be had: jobs run on the caller (RunJob).
        }
    }
    if (!thread_->thread.joinable()) {
        RunJob();
        return;
    }
    {
        std::lock_guard lock(thread_->mutex);
        thread_->queued = true;
        thread_->done = false;
    }
    thread_->changed.notify_all();
    running_ = true;
}

void Worker::Settle() noexcept {
    if (!running_) return;
    std::unique_lock lock(thread_->mutex);
    thread_->changed.wait(lock, [this] { return thread_->done; });
    running_ = false;
}

struct Monitor::Impl {
    std::mutex mutex;
    std::condition_variable changed;
};

Monitor::Monitor() : impl_(std::make_unique<Impl>()) {}
Monitor::~Monitor() = default;

Monitor::Hold::Hold(Monitor& monitor) : monitor_(monitor) { monitor_.impl_->mutex.lock(); }
Monitor::Hold::~Hold() { monitor_.impl_->mutex.unlock(); }

void Monitor::Hold::Wait() {
    std::unique_lock lock(monitor_.impl_->mutex, std::adopt_lock);
    monitor_.impl_->changed.wait(lock);
    lock.release();  // still held: this Hold lets it go
}

Monitor::Unhold::Unhold(Hold& hold) : hold_(hold) { hold_.monitor_.impl_->mutex.unlock(); }
Monitor::Unhold::~Unhold() { hold_.monitor_.impl_->mutex.lock(); }

void Monitor::NotifyAll() { impl_->changed.notify_all(); }

}  // namespace gamedb
