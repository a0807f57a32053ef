#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "records/OperationStage.h"

namespace olvex {

// Cancellation and stage reports of one running operation, shared between the thread that
// shows it (and may cancel) and the service thread that does the work. An operation can be
// cancelled until it reports `committing`, and never after.
class OperationControl {
public:
    using Observer = std::function<void(OperationStage)>;

    explicit OperationControl(Observer observer = {}) : m_observer(std::move(observer)) {}
    OperationControl(const OperationControl&) = delete;
    OperationControl& operator=(const OperationControl&) = delete;

    // Requests cancellation; dropped for good once committing.
    void cancel();
    // True when cancelled and not committing: the non-throwing form of check().
    bool isCancelled() const;
    // Throws CancellationError when isCancelled().
    void check() const;
    // Announces a stage. Throws CancellationError (announcing nothing) when cancelled and not
    // committing. The observer runs after the lock is released, on the calling thread.
    void report(OperationStage stage);

    // Bytes the operation has copied so far, counted by the tree copy and read by a progress
    // display on any thread. A running count only: the total is not known in advance.
    void addProgress(std::int64_t bytes) const noexcept { m_progress.fetch_add(bytes, std::memory_order_relaxed); }
    std::int64_t progress() const noexcept { return m_progress.load(std::memory_order_relaxed); }

private:
    mutable std::mutex m_lock;
    bool m_cancelled = false;
    bool m_committing = false;
    Observer m_observer;
    mutable std::atomic<std::int64_t> m_progress{0};
};

} // namespace olvex
