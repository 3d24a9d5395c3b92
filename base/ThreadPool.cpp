// ThreadPool.cpp - the workers of ThreadPool: each waits for the next task's
// generation, runs it with its index and reports back.
#include "base/ThreadPool.h"

#include <cassert>
#include <chrono>
#include <exception>
#include <new>
#include <system_error>

namespace {

// WebAssembly built without thread support (the page is served without the
// headers that shared memory needs) cannot start a thread at all.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool kThreadsAvailable = false;
#else
constexpr bool kThreadsAvailable = true;
#endif

// How long a thread watches for the next hand-over before it sleeps: longer
// than the gaps between the passes of a landscape. Only Runs that come close
// together watch (ThreadPool::kCloseMicroseconds).
constexpr int64_t kSpinMicroseconds = 50;

// Calls done() until it returns true or kSpinMicroseconds have passed;
// returns its last answer.
template <typename Done>
bool SpinUntil(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kSpinMicroseconds);
    for (;;) {
        for (int32_t i = 0; i < 64; ++i) {
            if (done()) return true;
        }
        if (std::chrono::steady_clock::now() >= until) return done();
    }
}

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int32_t ThreadPool::MachineThreads() {
    if (!kThreadsAvailable) return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores < 1) return 1;
    if (cores > static_cast<unsigned>(kMaxThreads)) return kMaxThreads;
    return static_cast<int32_t>(cores);
}

ThreadPool::ThreadPool(int32_t threads) {
    if (threads < 1) threads = MachineThreads();
    if (threads > kMaxThreads) threads = kMaxThreads;
    if (!kThreadsAvailable) threads = 1;
    // A worker that cannot be started leaves the pool at the workers that
    // could: the work is split by the size the pool ends up with.
    try {
        workers_.reserve(static_cast<size_t>(threads - 1));
        for (int32_t i = 1; i < threads; ++i) {
            workers_.emplace_back(&ThreadPool::WorkerLoop, this, i);
        }
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    size_ = static_cast<int32_t>(workers_.size()) + 1;
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void ThreadPool::Run(void (*task)(void*, int32_t), void* context) {
    if (workers_.empty()) {
        task(context, 0);
        return;
    }
    std::lock_guard<std::mutex> turn(turn_);
    const int64_t start = SteadyNanoseconds();
    const bool watch =
        lastEndNanoseconds_ >= 0 && start - lastEndNanoseconds_ <= kCloseMicroseconds * 1000;
    watch_.store(watch, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        assert(running_ == 0 && "ThreadPool::Run: one task at a time");
        task_ = task;
        context_ = context;
        running_ = static_cast<int32_t>(workers_.size());
        ++generation_;
    }
    start_.notify_all();
    task(context, 0);
    // The last worker's decrement (after its task) is seen here with its
    // writes, by the spin's load or under the mutex.
    if (!watch || !SpinUntil([this] { return running_.load(std::memory_order_acquire) == 0; })) {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [this] { return running_.load(std::memory_order_relaxed) == 0; });
    }
    lastEndNanoseconds_ = SteadyNanoseconds();
}

void ThreadPool::WorkerLoop(int32_t worker) {
    uint64_t seen = 0;
    for (;;) {
        void (*task)(void*, int32_t);
        void* context;
        // The task and its context are read under the mutex either way.
        // (The first task is waited for asleep: a new pool may never run.)
        if (seen != 0 && watch_.load(std::memory_order_relaxed)) {
            SpinUntil([&] { return generation_.load(std::memory_order_acquire) != seen; });
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            start_.wait(lock, [&] {
                return stopping_ || generation_.load(std::memory_order_relaxed) != seen;
            });
            if (stopping_) return;
            seen = generation_;
            task = task_;
            context = context_;
        }
        task(context, worker);
        bool last;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            last = running_.fetch_sub(1, std::memory_order_acq_rel) == 1;
        }
        if (last) finished_.notify_one();
    }
}
