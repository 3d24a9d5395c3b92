// The thread pool: every worker index runs once per task, tasks follow one
// another on the same workers, and sizes below 1 or above the cap are
// brought into range.
#include "base/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

TEST(ThreadPool, EveryWorkerRunsEachTaskOnce) {
    for (int32_t threads : {1, 2, 3, 8}) {
        ThreadPool pool(threads);
        ASSERT_EQ(pool.size(), threads);
        std::vector<std::atomic<int32_t>> calls(static_cast<size_t>(threads));
        for (int32_t round = 0; round < 200; ++round) {
            auto task = [&](int32_t worker) {
                ASSERT_GE(worker, 0);
                ASSERT_LT(worker, threads);
                calls[static_cast<size_t>(worker)].fetch_add(1);
            };
            pool.Run(task);
            // Run returns only after every worker has returned.
            for (auto& count : calls) EXPECT_EQ(count.load(), round + 1);
        }
    }
}

// Runs far apart (the threads sleep at once between them) and close together
// (they watch for the next), mixed: every task still runs once per worker,
// each worker sees the data written before its Run and the caller what the
// workers wrote.
TEST(ThreadPool, SparseAndCloseRunsMixed) {
    ThreadPool pool(3);
    std::vector<int64_t> written(3, 0);
    int64_t given = 0;
    for (int32_t round = 1; round <= 40; ++round) {
        if (round % 4 == 0) {
            std::this_thread::sleep_for(
                std::chrono::microseconds(ThreadPool::kCloseMicroseconds * 3));
        }
        given = round * 10;
        auto task = [&](int32_t worker) { written[static_cast<size_t>(worker)] = given + worker; };
        pool.Run(task);
        for (int32_t worker = 0; worker < pool.size(); ++worker) {
            EXPECT_EQ(written[static_cast<size_t>(worker)], round * 10 + worker);
        }
    }
}

TEST(ThreadPool, SizesAreBroughtIntoRange) {
    ThreadPool machine(0);
    EXPECT_EQ(machine.size(), ThreadPool::MachineThreads());
    EXPECT_GE(ThreadPool::MachineThreads(), 1);
    ThreadPool negative(-5);
    EXPECT_EQ(negative.size(), ThreadPool::MachineThreads());
    ThreadPool capped(1000);
    EXPECT_EQ(capped.size(), ThreadPool::kMaxThreads);
    EXPECT_EQ(PoolSize(nullptr), 1);
    EXPECT_EQ(PoolSize(&capped), ThreadPool::kMaxThreads);
}

TEST(ThreadPool, WorkersSeeTheCallersDataAndTheCallerSeesTheirs) {
    // Plain (non-atomic) data written before Run is read by the workers, and
    // what they write is read after it: Run orders both, whether the workers
    // are still watching for the next task (rounds straight after one
    // another) or asleep (rounds after a pause).
    ThreadPool pool(4);
    std::vector<int64_t> input(4000), output(4000, 0);
    for (int32_t round = 0; round < 50; ++round) {
        if (round % 5 == 4) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<int64_t>(i) * round;
        auto task = [&](int32_t worker) {
            for (size_t i = static_cast<size_t>(worker); i < input.size(); i += 4) {
                output[i] = input[i] + 1;
            }
        };
        pool.Run(task);
        for (size_t i = 0; i < input.size(); ++i) ASSERT_EQ(output[i], input[i] + 1);
    }
}

}  // namespace

namespace {

TEST(ThreadPool, RunsFromTwoThreadsTakeTurns) {
    // A generator on its own thread and a view on another may share a pool.
    ThreadPool pool(3);
    std::atomic<int32_t> inside{0};
    std::atomic<int32_t> overlaps{0};
    std::atomic<int64_t> calls{0};
    auto caller = [&] {
        for (int32_t round = 0; round < 300; ++round) {
            auto task = [&](int32_t worker) {
                if (worker == 0 && inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                calls.fetch_add(1);
                if (worker == 0) inside.fetch_sub(1);
            };
            pool.Run(task);
        }
    };
    std::thread other(caller);
    caller();
    other.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(calls.load(), 2 * 300 * 3);
}

}  // namespace
