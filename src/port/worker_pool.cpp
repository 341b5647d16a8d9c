// WorkerPool: one mutex guards the job and the next index; the generation
// (a new run), the count of iterations not yet finished and the stop flag
// are atomic, so that an idle thread can watch them for a moment before it
// sleeps on its condition variable.
#include "port/worker_pool.h"

#include <unistd.h>

#include <chrono>
#include <system_error>


namespace kxfpx::port {

namespace {

// How long an idle thread watches before it sleeps: longer than the calling
// thread's work between two strips, short against a whole import. It
// yields while it watches, so that on a busy machine the thread it waits
// for (or another program) gets the processor.
constexpr std::chrono::microseconds kSpinTime{2000};

inline void relax() { std::this_thread::yield(); }

} // namespace

template <typename Ready> void WorkerPool::spin(Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + kSpinTime;
    for (int i = 0; !ready(); ++i) {
        relax();
        if ((i & 15) == 15 && std::chrono::steady_clock::now() > until)
            return;
    }
}

WorkerPool::WorkerPool(int32_t workers)
{
    for (int32_t i = 0; i < workers; ++i) {
        try {
            threads_.emplace_back([this, i] { work(i + 1); });
        } catch (const std::exception &) {
            break;  // no more threads (or no memory): run with those started
        }
    }
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread &t : threads_)
        t.join();
}

void WorkerPool::take_jobs(int32_t participant, std::unique_lock<std::mutex> &lock)
{
    while (next_ < count_) {
        const int32_t index = next_++;
        const auto *job = job_;
        lock.unlock();
        (*job)(index, participant);
        lock.lock();
        if (--unfinished_ == 0)
            done_.notify_all();
    }
}

void WorkerPool::work(int32_t participant)
{
    uint64_t seen = 0;
    for (;;) {
        spin([&] { return stopping_ || generation_ != seen; });
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_)
            return;
        seen = generation_;
        take_jobs(participant, lock);
    }
}

void WorkerPool::run(int32_t count, const std::function<void(int32_t, int32_t)> &job,
                     const std::function<void()> &first)
{
    if (count <= 0)
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = &job;
    count_ = count;
    next_ = 0;
    unfinished_ = count;
    ++generation_;
    if (!threads_.empty())
        wake_.notify_all();
    if (first) {
        lock.unlock();
        first();
        lock.lock();
    }
    take_jobs(0, lock);
    lock.unlock();
    spin([&] { return unfinished_ == 0; });
    lock.lock();
    done_.wait(lock, [&] { return unfinished_ == 0; });
    job_ = nullptr;
}

int32_t processor_count()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 && n < INT32_MAX ? static_cast<int32_t>(n) : 1;
}

} // namespace kxfpx::port
