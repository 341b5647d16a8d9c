// A small pool of worker threads for loops whose iterations are independent:
// run() hands out the indices to the workers and to the calling thread and
// returns when every iteration is done. The threads live as long as the pool.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kxfpx::port {

class WorkerPool {
public:
    // Starts up to `workers` threads; fewer when the system refuses one.
    explicit WorkerPool(int32_t workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Threads that take part in run(): the workers and the caller.
    int32_t participants() const { return static_cast<int32_t>(threads_.size()) + 1; }

    // Calls job(index, participant) for every index in [0, count); the
    // participant number (0 for the caller, 1.. for the workers) lets a job
    // use per-thread state. `first`, when given, runs on the calling thread
    // while the workers start, before it takes its share. Returns when all
    // calls have returned.
    void run(int32_t count, const std::function<void(int32_t, int32_t)> &job,
             const std::function<void()> &first = {});

private:
    void work(int32_t participant);
    void take_jobs(int32_t participant, std::unique_lock<std::mutex> &lock);
    // Waits a short while without sleeping for `ready` to hold: waking a
    // sleeping thread costs more than a strip of tiles takes to hand out.
    template <typename Ready> static void spin(Ready ready);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int32_t, int32_t)> *job_ = nullptr;
    std::atomic<uint64_t> generation_{0};
    std::atomic<int32_t> unfinished_{0};
    std::atomic<bool> stopping_{false};
    int32_t count_ = 0, next_ = 0;
};

// The number of processors online, at least 1.
int32_t processor_count();

} // namespace kxfpx::port
