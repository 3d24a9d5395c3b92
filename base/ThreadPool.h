// ThreadPool.h - a small fixed set of worker threads for the core's
// parallel passes (the renderer's columns, the land passes' rows, columns
// and transforms).
//
// A pool of size n is the calling thread plus n - 1 workers. Run hands one
// task to all of them at once, each with its worker index 0 ... n - 1 (0 is
// the caller), and returns when every one has returned: callers split their
// work by that index (or take pieces from a shared atomic counter), so the
// result never depends on how the threads were scheduled. A pool of size 1
// has no workers and Run calls the task directly.
//
// Ownership: a pool belongs to whoever made it (a flight, a test, a
// benchmark) and is lent to the generator and the view that use it; there is
// no process-wide pool. Runs from several threads (a generator working on its
// own thread while the view draws) take turns: a Run waits for the one in
// progress. Tasks must not call Run on the pool that runs them.
//
// Hand-over: a worker that has finished a task watches for the next one for
// a short while (kSpinMicroseconds) before it sleeps, and so does the caller
// for the workers' end, since waking a sleeping thread costs tens of
// microseconds and the land passes hand over some 140 tasks a landscape.
// That is worth it only while the tasks come close together: a Run that
// starts more than kCloseMicroseconds after the last one ended (a frame
// every 40 ms or 17 ms) has its threads sleep at once, so a pool idle between
// frames spends no time watching.
//
// Sizes: a requested size below 1 means the machine's cores
// (std::thread::hardware_concurrency, 1 when unknown); sizes are capped at
// kMaxThreads. Workers that cannot be started (no memory, no threads left)
// make a smaller pool, down to size 1; nothing throws. Builds without thread
// support (WebAssembly without shared memory) always make pools of size 1.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class ThreadPool {
public:
    static constexpr int32_t kMaxThreads = 64;
    // Runs at most this far apart (from the end of one to the start of the
    // next) are close: their threads watch for the next hand-over.
    static constexpr int64_t kCloseMicroseconds = 1000;

    explicit ThreadPool(int32_t threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The machine's cores, at least 1, at most kMaxThreads.
    static int32_t MachineThreads();

    // Threads that run each task, the caller included (>= 1).
    int32_t size() const { return size_; }

    // Calls task(context, worker) once for every worker index and returns
    // when all calls have returned.
    void Run(void (*task)(void* context, int32_t worker), void* context);

    // Run with a callable taking the worker index.
    template <typename F>
    void Run(F& function) {
        Run([](void* context, int32_t worker) { (*static_cast<F*>(context))(worker); }, &function);
    }

private:
    void WorkerLoop(int32_t worker);

    int32_t size_ = 1;
    std::vector<std::thread> workers_;
    std::mutex turn_;  // held by the Run in progress
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable finished_;
    // Written under mutex_; read without it only while spinning (see Run).
    std::atomic<uint64_t> generation_{0};  // counts tasks handed out
    std::atomic<int32_t> running_{0};      // workers still in the current task
    // Whether the current Run came close after the last one (see the
    // header comment): written by Run before it hands the task out.
    std::atomic<bool> watch_{true};
    int64_t lastEndNanoseconds_ = -1;  // steady clock at the end of the last Run (under turn_)
    bool stopping_ = false;
    void (*task_)(void*, int32_t) = nullptr;
    void* context_ = nullptr;
};

// The pool's size, or 1 for no pool.
inline int32_t PoolSize(const ThreadPool* pool) {
    return pool == nullptr ? 1 : pool->size();
}
