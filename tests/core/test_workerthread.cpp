// SPDX-License-Identifier: GPL-3.0-or-later
// The worker pool: every queued job runs exactly once across the threads, pausing and
// shutting down leave queued work alone, a refused start-up runs nothing, and
// low-priority pools really run below normal priority.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <set>
#include <thread>

#include "core/workerthread.h"

namespace {

using namespace std::chrono_literals;

// A pool over a queue of integers; each job records which number it ran and on which slot.
class CountingPool : public CWorkerThread {
public:
    struct Job : JobData {
        CountingPool* pool = nullptr;
        int slot = 0;
        int value = -1;
        bool GetNextJob() override {
            if (pool->queue.empty()) return false;
            value = pool->queue.front();
            pool->queue.pop_front();
            return true;
        }
        void ProcessJob() override {
            if (pool->job_delay.count()) std::this_thread::sleep_for(pool->job_delay);
            std::lock_guard<std::mutex> lock(pool->done_mutex);
            pool->done.push_back(value);
            pool->slots_used.insert(slot);
            const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
            errno = 0;
            pool->nice_seen = ::getpriority(PRIO_PROCESS, tid);
        }
    };

    CountingPool(int threads, int priority_class, bool start_ok = true)
        : CWorkerThread(threads, priority_class), m_start_ok(start_ok) {
        for (int i = 0; i < threads; ++i) {
            jobs.push_back(std::make_unique<Job>());
            jobs.back()->pool = this;
            jobs.back()->slot = i;
        }
    }
    ~CountingPool() override { Shutdown(); }

    void Add(int from, int to) {
        {
            std::lock_guard<std::mutex> lock(Mutex());
            for (int i = from; i < to; ++i) queue.push_back(i);
        }
        Wake(true);
    }
    size_t DoneCount() {
        std::lock_guard<std::mutex> lock(done_mutex);
        return done.size();
    }
    bool WaitForDone(size_t n, std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (DoneCount() < n) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    size_t Queued() {
        std::lock_guard<std::mutex> lock(Mutex());
        return queue.size();
    }

    std::deque<int> queue;  // under the pool mutex
    std::mutex done_mutex;
    std::vector<int> done;
    std::set<int> slots_used;
    int nice_seen = 0;
    std::chrono::milliseconds job_delay{0};
    std::vector<std::unique_ptr<Job>> jobs;

protected:
    JobData* GetJobForThread(int slot) override { return jobs[size_t(slot)].get(); }
    bool startup_in_first_thread() override {
        started_in_thread.store(true);
        return m_start_ok;
    }

public:
    std::atomic<bool> started_in_thread{false};

private:
    bool m_start_ok;
};

}  // namespace

TEST(WorkerThread, EveryJobRunsExactlyOnceAcrossThreads) {
    CountingPool pool(4, 0);
    pool.Add(0, 500);  // queued before the threads exist
    pool.Start();
    pool.Start();  // a second start must not add threads
    ASSERT_TRUE(pool.WaitForDone(500));
    pool.Add(500, 2000);  // and more while they run
    ASSERT_TRUE(pool.WaitForDone(2000));
    pool.Shutdown();
    std::multiset<int> seen(pool.done.begin(), pool.done.end());
    ASSERT_EQ(seen.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(seen.count(i), 1u) << i;
    for (int s : pool.slots_used) EXPECT_TRUE(s >= 0 && s < 4);
    EXPECT_TRUE(pool.started_in_thread.load());
}

TEST(WorkerThread, PauseHoldsQueuedJobsAndResumeRunsThem) {
    CountingPool pool(2, 0);
    pool.SetPaused(true);
    pool.Start();
    pool.Add(0, 50);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(pool.DoneCount(), 0u);
    EXPECT_EQ(pool.Queued(), 50u);
    pool.SetPaused(false);
    EXPECT_TRUE(pool.WaitForDone(50));
}

TEST(WorkerThread, ShutdownFinishesJobsInProgressAndLeavesTheRestQueued) {
    CountingPool pool(2, 0);
    pool.job_delay = 20ms;
    pool.Start();
    pool.Add(0, 200);
    ASSERT_TRUE(pool.WaitForDone(1));
    const auto t0 = std::chrono::steady_clock::now();
    pool.Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);  // no draining of the whole queue
    const size_t done = pool.DoneCount();
    EXPECT_EQ(done + pool.Queued(), 200u);  // nothing lost, nothing run twice
    EXPECT_LT(done, 200u);
    pool.Shutdown();  // again: harmless
    pool.Add(200, 210);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(pool.DoneCount(), done);  // a stopped pool takes no more work
}

TEST(WorkerThread, RefusedStartupRunsNothingAndPoolsNeverStartedDieQuietly) {
    {
        CountingPool pool(3, 0, /*start_ok=*/false);
        pool.Add(0, 10);
        pool.Start();
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (!pool.started_in_thread.load() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(pool.DoneCount(), 0u);
    }
    { CountingPool never_started(2, 0); }
    {
        CountingPool empty(0, 0);
        empty.Start();
        empty.Add(0, 3);
    }
}

TEST(WorkerThread, RunUntilIdleThreadsLeaveWhenTheQueueIsEmpty) {
    CountingPool pool(2, 0);
    pool.SetRunUntilIdle(true);
    pool.Add(0, 100);
    pool.Start();
    ASSERT_TRUE(pool.WaitForDone(100));
    std::this_thread::sleep_for(20ms);
    pool.Add(100, 110);  // the threads have gone: nothing takes these
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(pool.DoneCount(), 100u);
}

TEST(WorkerThread, LowPriorityClassRunsBelowTheCallersPriority) {
    errno = 0;
    const int own = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    CountingPool low(1, CWorkerThread::kLowPriorityClass);
    EXPECT_TRUE(low.IsLowPriority());
    low.Start();
    low.Add(0, 1);
    ASSERT_TRUE(low.WaitForDone(1));
    EXPECT_GT(low.nice_seen, own);

    CountingPool normal(1, 1);
    normal.Start();
    normal.Add(0, 1);
    ASSERT_TRUE(normal.WaitForDone(1));
    EXPECT_EQ(normal.nice_seen, own);
}
