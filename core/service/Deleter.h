#pragma once

// Deletes what a finished operation no longer needs (the old content a transaction set aside,
// a preview's staging folder) on a thread of its own at low CPU and I/O priority, so that the
// player does not wait for it. Deleting is best effort: a failure is never reported, and what
// stays is a leftover that the next sweep or housekeeping removes. Handing a folder over never
// fails either.
//
// The thread lives only while there is something to delete: it starts with the first job and
// ends when the queue is empty. No thread outlives a burst, so a process forked while the
// deleter is idle inherits nothing half-done.
//
// It holds no version folder's lease: the service hands a folder over only once the operation's
// lease is released (ManagerService::leased), so a deletion never keeps another process's
// operation waiting. What keeps others off a folder being deleted is its own lock (DeletionLock
// for a set-aside folder, the preview's lease for a staging folder); what keeps the deletion
// inside the folder is the file layer: the folder is opened from "/" without following any link
// and removed by name in its opened parent, and everything below relative to its opened folder.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "fs/ClientLock.h"
#include "records/GameClient.h"

namespace olvex {

class Deleter {
public:
    Deleter() = default;
    // Finishes every queued deletion first.
    ~Deleter();
    Deleter(const Deleter&) = delete;
    Deleter& operator=(const Deleter&) = delete;

    // Removes a folder the caller set aside in the manager folder; read-only folders inside
    // are made writable first, as for any leftover.
    void removeLeftover(Path folder) noexcept;
    // Removes a staging folder while its lease is still held (housekeeping skips a leased
    // staging folder), and releases the lease just before the lease folder goes, last, so that
    // an interrupted deletion still leaves a folder housekeeping recognises.
    void removeStaging(Path folder, std::unique_ptr<ClientLock> lease) noexcept;

    // Blocks until nothing is queued or being deleted.
    void wait();
    // wait() for at most `limit`; true when everything was deleted in time.
    bool waitFor(std::chrono::milliseconds limit);
    // The leftovers whose deletion failed since the last call (they stay for the next sweep),
    // so that a front can say so after the result. Staging folders are housekeeping's.
    std::vector<Path> takeFailures();

private:
    struct Job {
        Path folder;
        std::unique_ptr<ClientLock> lease; // set for a staging folder
    };
    void enqueue(Job job) noexcept;
    void work();
    // False when the deletion failed.
    static bool run(Job& job);

    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<Job> m_jobs;
    bool m_running = false;
    std::vector<Path> m_failures;
};

} // namespace olvex
