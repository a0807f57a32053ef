#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/OperationStage.h"

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

    // Progress of the current step, readable on any thread by a display. Every report() starts
    // a new step with nothing done and no total; work that knows how much it will move says so
    // with expectBytes() before it starts, and the copies, digests and the extraction count
    // what they have done. `total` is 0 while unknown; `done` never falls within a step.
    struct Progress {
        std::int64_t done = 0;
        std::int64_t total = 0;
    };
    void expectBytes(std::int64_t total) const noexcept;
    // For work that adds to what the step already expects.
    void expectMoreBytes(std::int64_t bytes) const noexcept { m_total.fetch_add(bytes, std::memory_order_relaxed); }
    void addProgress(std::int64_t bytes) const noexcept { m_done.fetch_add(bytes, std::memory_order_relaxed); }
    // For work that knows its absolute position (the extraction's place in the archive).
    void advanceTo(std::int64_t done) const noexcept;
    Progress progress() const noexcept;

    // The whole operation as one bar: the steps that ended count with what they expected (or
    // did, when more), the current step with its counters, and the bytes that an announced later
    // step will move. A step that knows early what a later one costs (a transaction sizes the
    // folder that its backup step will copy) announces it here; the first expectBytes() of a
    // later step takes the announcement back, so the total stays put and the bar never falls.
    void expectLaterBytes(std::int64_t bytes) const noexcept;
    Progress overall() const noexcept;

private:
    mutable std::mutex m_lock;
    bool m_cancelled = false;
    bool m_committing = false;
    Observer m_observer;
    mutable std::atomic<std::int64_t> m_done{0};
    mutable std::atomic<std::int64_t> m_total{0};
    // Guarded by m_lock: what ended steps did, what later steps will do, and the step that
    // announced them (steps are counted by report()).
    mutable std::int64_t m_ended = 0;
    mutable std::int64_t m_later = 0;
    mutable int m_step = 0;
    mutable int m_laterAnnouncedIn = -1;
};

} // namespace olvex
