#include "records/OperationControl.h"

#include "records/Errors.h"

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
    if (m_observer) {
        m_observer(stage);
    }
}

} // namespace olvex
