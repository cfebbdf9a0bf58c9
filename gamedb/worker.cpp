// The halves of Worker that every platform shares.
#include "gamedb/worker.h"

#include <exception>
#include <utility>

namespace gamedb {

void Worker::RunJob() {
    try {
        job_();
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void Worker::Wait() {
    Settle();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace gamedb
