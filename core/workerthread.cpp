// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/workerthread.h"

#include <algorithm>
#include <cerrno>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// How far low-priority pool threads sit behind the thread that starts the pool: clearly
// behind the user interface, yet not so far that decoding starves when the machine is busy.
constexpr int kLowPriorityNice = 10;
constexpr int kLowestNice = 19;

int CurrentThreadNice() {
    errno = 0;
    const int n = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    return errno == 0 ? n : 0;
}

}  // namespace

CWorkerThread::CWorkerThread(int threads, int priority_class)
    : m_thread_count(threads < 0 ? 0 : threads), m_low_priority(priority_class == kLowPriorityClass) {}

CWorkerThread::~CWorkerThread() {
    Shutdown();
}

void CWorkerThread::Start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started || m_shutdown || m_thread_count == 0) return;
    m_started = true;
    m_base_nice = CurrentThreadNice();
    m_first = std::thread([this] { FirstThread(); });
}

void CWorkerThread::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
    }
    m_cond.notify_all();
    // A pool thread cannot join itself; it leaves its loop on its own.
    const auto self = std::this_thread::get_id();
    if (m_first.joinable() && m_first.get_id() != self) m_first.join();
    // The first thread has finished creating the others once it has been joined.
    std::vector<std::thread> others;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        others.swap(m_others);
    }
    for (auto& t : others) {
        if (t.joinable() && t.get_id() != self)
            t.join();
        else if (t.joinable())
            t.detach();
    }
}

void CWorkerThread::Wake(bool all) {
    if (all)
        m_cond.notify_all();
    else
        m_cond.notify_one();
}

void CWorkerThread::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paused = paused;
    }
    if (!paused) m_cond.notify_all();
}

void CWorkerThread::SetRunUntilIdle(bool until_idle) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_run_until_idle = until_idle;
    }
    m_cond.notify_all();
}

void CWorkerThread::ApplyPriority() {
    if (!m_low_priority) return;
    // On Linux the niceness set through a thread id applies to that thread alone.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, tid, std::min(m_base_nice + kLowPriorityNice, kLowestNice));
}

void CWorkerThread::FirstThread() {
    ApplyPriority();
    if (!startup_in_first_thread()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int slot = 1; slot < m_thread_count && !m_shutdown; ++slot)
            m_others.emplace_back([this, slot] {
                ApplyPriority();
                JobLoop(slot);
            });
    }
    JobLoop(0);
}

void CWorkerThread::JobLoop(int slot) {
    JobData* job = GetJobForThread(slot);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_shutdown) {
        if (!m_paused && job && job->GetNextJob()) {
            lock.unlock();
            job->ProcessJob();
            lock.lock();
            continue;
        }
        if (m_run_until_idle && !m_paused) break;
        m_cond.wait(lock);
    }
}
