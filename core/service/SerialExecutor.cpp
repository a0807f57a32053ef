#include "service/SerialExecutor.h"

namespace olvex {

SerialExecutor::SerialExecutor() : m_worker([this] { run(); }) {}

SerialExecutor::~SerialExecutor() {
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_worker.join();
}

void SerialExecutor::post(std::function<void()> request) {
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back(std::move(request));
    }
    m_wake.notify_one();
}

void SerialExecutor::run() {
    for (;;) {
        std::function<void()> request;
        {
            std::unique_lock guard(m_lock);
            m_wake.wait(guard, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) {
                return;
            }
            request = std::move(m_queue.front());
            m_queue.pop_front();
        }
        request();
    }
}

} // namespace olvex
