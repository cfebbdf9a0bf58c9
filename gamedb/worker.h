// A second thread for work that splits in two: the caller starts a job,
// does its own share, and waits. One job at a time. The thread is made at
// the first Start and kept, so that a run of short jobs costs no thread
// each.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace gamedb {

class Worker {
public:
    Worker();
    // Waits for a job still running; what it threw is dropped.
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs `job` on the worker's thread. The job started before must have
    // been waited for.
    void Start(std::function<void()> job);
    // Waits for the job started last, if any, and throws what it threw.
    void Wait();
    // Waits without throwing: for a caller that is already failing.
    void Settle() noexcept;

private:
    // Runs the job on the calling thread, keeping what it throws for Wait:
    // the worker's thread, or the caller's where no thread can be had.
    void RunJob();

    struct Thread;  // the platform's half
    std::unique_ptr<Thread> thread_;
    std::function<void()> job_;
    std::exception_ptr failure_;
    bool running_ = false;
};

// A lock, and waiting under it for another thread's change: what the
// threads that share a Worker's work use to take turns.
class Monitor {
public:
    Monitor();
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    class Unhold;
    // Holds the lock while it lives.
    class Hold {
    public:
        explicit Hold(Monitor& monitor);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        // Lets the lock go until NotifyAll, then holds it again; may also
        // return early, so callers check their condition in a loop.
        void Wait();

    private:
        friend class Unhold;
        Monitor& monitor_;
    };
    // Lets a Hold's lock go while it lives.
    class Unhold {
    public:
        explicit Unhold(Hold& hold);
        ~Unhold();
        Unhold(const Unhold&) = delete;
        Unhold& operator=(const Unhold&) = delete;

    private:
        Hold& hold_;
    };
    void NotifyAll();

private:
    struct Impl;  // the platform's half
    std::unique_ptr<Impl> impl_;
};

}  // namespace gamedb
