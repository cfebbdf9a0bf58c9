#include "gamedb/worker.h"
#include "win/scoped_win.h"

namespace gamedb {

// Two auto-reset events hand a job over and back; waiting on an event
// orders the job's memory with the caller's.
struct Worker::Thread {
    w32::ScopedKernelHandle start{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    w32::ScopedKernelHandle done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    w32::ScopedKernelHandle thread;
    Worker* owner = nullptr;
    bool stop = false;

    static DWORD WINAPI Run(void* context) {
        Thread& t = *static_cast<Thread*>(context);
        for (;;) {
            WaitForSingleObject(t.start.Get(), INFINITE);
            if (t.stop) return 0;
            t.owner->RunJob();
            SetEvent(t.done.Get());
        }
    }
};

Worker::Worker() = default;

Worker::~Worker() {
    Settle();
    if (!thread_ || !thread_->thread) return;
    thread_->stop = true;
    SetEvent(thread_->start.Get());
    WaitForSingleObject(thread_->thread.Get(), INFINITE);
}

void Worker::Start(std::function<void()> job) {
    job_ = std::move(job);
    failure_ = nullptr;
    if (!thread_) {
        auto made = std::make_unique<Thread>();
        made->owner = this;
        if (made->start && made->done)
            *made->thread.Out() = CreateThread(nullptr, 0, &Thread::Run, made.get(), 0, nullptr);
        thread_ = std::move(made);
    }
    if (!thread_->thread) {
        RunJob();
        return;
    }
    running_ = true;
    SetEvent(thread_->start.Get());
}

void Worker::Settle() noexcept {
    if (!running_) return;
    WaitForSingleObject(thread_->done.Get(), INFINITE);
    running_ = false;
}

struct Monitor::Impl {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

Monitor::Monitor() : impl_(std::make_unique<Impl>()) {}
Monitor::~Monitor() = default;

Monitor::Hold::Hold(Monitor& monitor) : monitor_(monitor) { AcquireSRWLockExclusive(&monitor_.impl_->lock); }
Monitor::Hold::~Hold() { ReleaseSRWLockExclusive(&monitor_.impl_->lock); }

void Monitor::Hold::Wait() { SleepConditionVariableSRW(&monitor_.impl_->changed, &monitor_.impl_->lock, INFINITE, 0); }

Monitor::Unhold::Unhold(Hold& hold) : hold_(hold) { ReleaseSRWLockExclusive(&hold_.monitor_.impl_->lock); }
Monitor::Unhold::~Unhold() { AcquireSRWLockExclusive(&hold_.monitor_.impl_->lock); }

void Monitor::NotifyAll() { WakeAllConditionVariable(&impl_->changed); }

}  // namespace gamedb
