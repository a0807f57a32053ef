#include "service/Deleter.h"

#include <new>
#include <system_error>
#include <thread>
#include <utility>

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
            const bool staging = job.lease != nullptr;
            const bool deleted = run(job);
            lock.lock();
            if (!deleted && !staging) {
                try {
                    m_failures.push_back(job.folder);
                } catch (const std::bad_alloc&) {
                    // Still a leftover: the status shows it.
                }
            }
        }
    }
    m_running = false;
    m_idle.notify_all();
}

bool Deleter::run(Job& job) {
    try {
        if (!job.lease) {
            // Another process's sweep may be deleting it already: it is left to that one.
            const DeletionLock deleting(job.folder);
            if (!deleting.heldElsewhere()) {
                FileSafety::removeLeftover(job.folder);
            }
            return true;
        }
        // The lease goes last: housekeeping knows a staging folder by it.
        removeStagingFolder(job.folder, [&] { job.lease.reset(); });
        return true;
    } catch (...) {
        // Left for the sweep (manager folder) or housekeeping (staging folders) to remove.
        return false;
    }
}

std::vector<Path> Deleter::takeFailures() {
    std::lock_guard guard(m_mutex);
    return std::exchange(m_failures, {});
}

// --- The service's side --------------------------------------------------------------------

void ManagerService::waitForDeletions() {
    m_deleter.wait();
}

bool ManagerService::waitForDeletions(std::chrono::milliseconds limit) {
    return m_deleter.waitFor(limit);
}

std::vector<Path> ManagerService::failedDeletions() {
    return m_deleter.takeFailures();
}

void ManagerService::startDeletions() noexcept {
    std::vector<Path> folders;
    folders.swap(m_setAside);
    for (auto& folder : folders) {
        m_deleter.removeLeftover(std::move(folder));
    }
}

} // namespace olvex
