#include "service/Deleter.h"

#include <new>
#include <system_error>
#include <thread>

#include "fs/FileSafety.h"
#include "fs/ThreadPriority.h"
#include "packs/Staging.h"
#include "service/ManagerService.h"

namespace olvex {

Deleter::~Deleter() {
    wait();
}

void Deleter::removeLeftover(Path folder) noexcept {
    enqueue(Job{std::move(folder), nullptr});
}

void Deleter::removeStaging(Path folder, std::unique_ptr<ClientLock> lease) noexcept {
    enqueue(Job{std::move(folder), std::move(lease)});
}

void Deleter::wait() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_running; });
}

bool Deleter::waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, limit, [this] { return !m_running; });
}

void Deleter::enqueue(Job job) noexcept {
    {
        std::lock_guard guard(m_mutex);
        try {
            m_jobs.push_back(std::move(job));
        } catch (const std::bad_alloc&) {
            return; // left for the sweep or housekeeping
        }
        if (m_running) {
            return;
        }
        m_running = true;
    }
    try {
        // Detached: it ends when the queue is empty, and wait() (the destructor too) waits for
        // that; after it, the thread touches nothing of this object.
        std::thread([this] {
            lowerThreadPriority();
            work();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the caller deletes it here and now instead.
        work();
    }
}

void Deleter::work() {
    std::unique_lock lock(m_mutex);
    while (!m_jobs.empty()) {
        {
            Job job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            run(job);
        }
        lock.lock();
    }
    m_running = false;
    m_idle.notify_all();
}

void Deleter::run(Job& job) {
    try {
        if (!job.lease) {
            FileSafety::removeLeftover(job.folder);
            return;
        }
        for (const auto& entry : FileSafety::list(job.folder)) {
            // The lease goes last: housekeeping knows a staging folder by it.
            if (job.folder / entry.name != stagingLease(job.folder)) {
                FileSafety::remove(job.folder / entry.name);
            }
        }
        FileSafety::remove(job.folder);
    } catch (...) {
        // Left for the sweep (manager folder) or housekeeping (staging folders) to remove.
    }
}

// --- The service's side --------------------------------------------------------------------

void ManagerService::waitForDeletions() {
    m_deleter.wait();
}

bool ManagerService::waitForDeletions(std::chrono::milliseconds limit) {
    return m_deleter.waitFor(limit);
}

void ManagerService::startDeletions() noexcept {
    std::vector<Path> folders;
    folders.swap(m_setAside);
    for (auto& folder : folders) {
        m_deleter.removeLeftover(std::move(folder));
    }
}

} // namespace olvex
