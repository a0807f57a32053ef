#include "base/OperationControl.h"

#include <algorithm>

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
        const std::int64_t done = m_done.exchange(0, std::memory_order_relaxed);
        m_ended += std::max(done, m_total.exchange(0, std::memory_order_relaxed));
        ++m_step;
    }
    if (m_observer) {
        m_observer(stage);
    }
}

void OperationControl::advanceTo(std::int64_t done) const noexcept {
    std::int64_t seen = m_done.load(std::memory_order_relaxed);
    while (seen < done && !m_done.compare_exchange_weak(seen, done, std::memory_order_relaxed)) {
    }
}

void OperationControl::expectBytes(std::int64_t total) const noexcept {
    std::lock_guard guard(m_lock);
    if (m_laterAnnouncedIn >= 0 && m_step > m_laterAnnouncedIn) {
        m_later -= std::min(m_later, total);
        m_laterAnnouncedIn = -1;
    }
    m_total.store(total, std::memory_order_relaxed);
}

void OperationControl::expectLaterBytes(std::int64_t bytes) const noexcept {
    std::lock_guard guard(m_lock);
    m_later += bytes;
    m_laterAnnouncedIn = m_step;
}

OperationControl::Progress OperationControl::overall() const noexcept {
    std::lock_guard guard(m_lock);
    const std::int64_t done = m_done.load(std::memory_order_relaxed);
    const std::int64_t total = std::max(done, m_total.load(std::memory_order_relaxed));
    return {m_ended + done, m_ended + total + m_later};
}

OperationControl::Progress OperationControl::progress() const noexcept {
    return {m_done.load(std::memory_order_relaxed), m_total.load(std::memory_order_relaxed)};
}

} // namespace olvex
