#include "base/OperationControl.h"

#include "base/Errors.h"

namespace olvex {

void OperationControl::cancel() {
    std::lock_guard guard(m_lock);
    if (!m_committing) {
        m_cancelled = true;
    }
}

bool OperationControl::isCancelled() const {
    std::lock_guard guard(m_lock);
    return m_cancelled && !m_committing;
}

void OperationControl::check() const {
    if (isCancelled()) {
        throw CancellationError();
    }
}

void OperationControl::report(OperationStage stage) {
    {
        std::lock_guard guard(m_lock);
        if (m_cancelled && !m_committing) {
            throw CancellationError();
        }
        if (stage == OperationStage::committing) {
            m_committing = true;
        }
    }
    m_done.store(0, std::memory_order_relaxed);
    m_total.store(0, std::memory_order_relaxed);
    if (m_observer) {
        m_observer(stage);
    }
}

void OperationControl::advanceTo(std::int64_t done) const noexcept {
    std::int64_t seen = m_done.load(std::memory_order_relaxed);
    while (seen < done && !m_done.compare_exchange_weak(seen, done, std::memory_order_relaxed)) {
    }
}

OperationControl::Progress OperationControl::progress() const noexcept {
    return {m_done.load(std::memory_order_relaxed), m_total.load(std::memory_order_relaxed)};
}

} // namespace olvex
