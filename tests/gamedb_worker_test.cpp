// The second thread and its turns: jobs run, failures come back to the
// waiter, and nothing of a job outlives its Worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "gamedb/worker.h"

namespace gamedb::testing {
namespace {

TEST(Worker, RunsJobsInTurnAndHandsBackWhatTheyThrew) {
    Worker worker;
    int runs = 0;
    for (int i = 0; i < 100; ++i) {
        worker.Start([&runs, i] {
            ++runs;
            if (i % 10 == 3) throw std::runtime_error("job " + std::to_string(i));
        });
        if (i % 10 == 3) {
            try {
                worker.Wait();
                ADD_FAILURE() << "job " << i << " threw nothing";
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), "job " + std::to_string(i));
            }
        } else {
            EXPECT_NO_THROW(worker.Wait());
        }
    }
    EXPECT_EQ(runs, 100);
    EXPECT_NO_THROW(worker.Wait());  // nothing started: nothing to wait for
}

TEST(Worker, GoesOnlyAfterItsJob) {
    std::atomic<bool> finished = false;
    {
        Worker worker;
        worker.Start([&finished] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            finished = true;
            throw std::runtime_error("dropped");
        });
    }
    EXPECT_TRUE(finished);
}

// Two threads hand one counter back and forth: each sees the other's change.
TEST(Monitor, TwoThreadsTakeTurns) {
    Monitor monitor;
    int counter = 0;
    constexpr int kRounds = 2000;
    const auto play = [&](int parity) {
        for (;;) {
            Monitor::Hold hold(monitor);
            while (counter < kRounds && counter % 2 != parity) hold.Wait();
            if (counter >= kRounds) return;
            ++counter;
            monitor.NotifyAll();
        }
    };
    Worker worker;
    worker.Start([&play] { play(1); });
    play(0);
    worker.Wait();
    EXPECT_EQ(counter, kRounds);
}

}  // namespace
}  // namespace gamedb::testing
