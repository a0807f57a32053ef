#pragma once

// The folders of one walk, taken by a few threads at once. A walk of many small files spends
// nearly all its time in the kernel, making names and examining files, and that work scales
// with threads (about twice as fast on two cores) where one thread, as `cp -al` or `du`, cannot.
// Each thread keeps what it finds in a part of its own; the caller merges the parts once every
// thread has ended. While calls must come in one order (sys::oneThread) the calling thread walks
// alone, in one fixed order.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "fs/Sys.h"
#include "fs/VolumeFlush.h"

namespace olvex::FileSafety {

// Thrown by a part that sees failed(): another thread's failure is the walk's.
struct WalkAbandoned {};

// Threads for one walk: the cores, at most four (past that the folders' locks and the disk
// decide); one while calls must come in one order.
inline unsigned walkThreads() {
    if (sys::oneThread()) {
        return 1;
    }
    return std::clamp(std::thread::hardware_concurrency(), 1U, 4U);
}

// One part for each thread of a walk, each made by `make`.
template <typename Part, typename Make> std::vector<std::unique_ptr<Part>> walkParts(const Make& make) {
    std::vector<std::unique_ptr<Part>> parts(walkThreads());
    for (auto& part : parts) {
        part = make();
    }
    return parts;
}

template <typename Folder> class FolderQueue {
public:
    explicit FolderQueue(Folder first) { m_pending.push_back(std::move(first)); }

    // A folder found by a part, for whichever thread is free.
    void push(Folder folder) {
        {
            std::lock_guard guard(m_lock);
            m_pending.push_back(std::move(folder));
        }
        m_changed.notify_one();
    }

    // Set once a part has failed: the others stop at their next check (WalkAbandoned).
    bool failed() const { return m_failed; }

    // Walks every folder, those pushed meanwhile included, with `parts[0].walk(folder)` on the
    // calling thread and one helper thread for each further part. Helpers write under the calling
    // thread's flush decision. The first failure ends the walk and is rethrown once every thread
    // has ended.
    template <typename Part> void run(std::vector<std::unique_ptr<Part>>& parts) {
        VolumeFlush* flush = VolumeFlush::current();
        // Reserved first, so that only the thread's own start can fail below.
        std::vector<std::thread> helpers;
        helpers.reserve(parts.size());
        for (size_t i = 1; i < parts.size(); ++i) {
            try {
                helpers.emplace_back([this, &part = *parts[i], flush] {
                    VolumeFlush::OnThread on(flush);
                    drain(part);
                });
            } catch (const std::system_error&) {
                // No thread to be had: the others do its part, and this one stays empty.
                break;
            }
        }
        drain(*parts.front());
        for (std::thread& helper : helpers) {
            helper.join();
        }
        if (m_failure) {
            std::rethrow_exception(m_failure);
        }
    }

private:
    template <typename Part> void drain(Part& part) {
        for (;;) {
            Folder folder;
            {
                std::unique_lock lock(m_lock);
                m_changed.wait(lock, [&] { return !m_pending.empty() || m_busy == 0 || m_failure; });
                if (m_failure || m_pending.empty()) {
                    break;
                }
                folder = std::move(m_pending.back());
                m_pending.pop_back();
                ++m_busy;
            }
            try {
                part.walk(folder);
            } catch (const WalkAbandoned&) {
            } catch (...) {
                std::lock_guard guard(m_lock);
                if (!m_failure) {
                    m_failure = std::current_exception();
                    m_failed = true;
                }
            }
            {
                std::lock_guard guard(m_lock);
                --m_busy;
            }
            m_changed.notify_all();
        }
        m_changed.notify_all();
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Folder> m_pending;
    int m_busy = 0;
    std::exception_ptr m_failure;
    std::atomic<bool> m_failed{false};
};

} // namespace olvex::FileSafety
