// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small pool of threads, one per job slot, that take jobs from whatever queue the owner
// keeps. The owner guards its queue with the pool's mutex: GetNextJob() runs with that
// mutex held and ProcessJob() without it, so taking work is atomic and doing it is not
// serialised.
//
// Threads: Start(), Shutdown(), Wake() and the destructor belong to the owning thread.
// A derived class must call Shutdown() in its own destructor, before the job slots that
// the threads use are destroyed.

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class CWorkerThread {
public:
    // Priority classes: 2 runs the threads below normal priority (background decoding
    // must never compete with the user interface); anything else runs them normally.
    static constexpr int kLowPriorityClass = 2;

    class JobData {
    public:
        virtual ~JobData() = default;
        // Called with the pool mutex held; true when a job was taken into this slot.
        virtual bool GetNextJob() = 0;
        // Called without the pool mutex, on the slot's own thread.
        virtual void ProcessJob() = 0;
    };

    CWorkerThread(int threads, int priority_class);
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts the first thread, which starts the others. Calling it twice does nothing.
    void Start();
    // Stops taking jobs, wakes every thread and joins them; a job in progress finishes
    // first. Safe to call more than once.
    void Shutdown();
    // Wakes one idle thread (new work) or all of them.
    void Wake(bool all = false);
    // While paused no thread takes a job (jobs in progress finish).
    void SetPaused(bool paused);
    // With this set, a thread that finds no job leaves instead of waiting.
    void SetRunUntilIdle(bool until_idle);

    int ThreadCount() const { return m_thread_count; }
    bool IsLowPriority() const { return m_low_priority; }
    std::mutex& Mutex() { return m_mutex; }

protected:
    // The job slot of thread `slot` (0 .. threads-1); null leaves that thread idle.
    virtual JobData* GetJobForThread(int slot) = 0;
    // Runs on the first thread before any job; false stops the pool.
    virtual bool startup_in_first_thread() { return true; }

private:
    void FirstThread();
    void JobLoop(int slot);
    void ApplyPriority();

    const int m_thread_count;
    const bool m_low_priority;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_started = false;
    int m_base_nice = 0;  // of the thread that called Start()
    bool m_shutdown = false;
    bool m_paused = false;
    bool m_run_until_idle = false;
    std::thread m_first;
    std::vector<std::thread> m_others;  // created by the first thread, under m_mutex
};
