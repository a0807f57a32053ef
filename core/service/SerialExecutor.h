#pragma once

// The serialised executor of the service: one worker thread takes requests first in, first
// out, and a request runs to its end before the next one starts. Results and failures come
// back through std::future (submit) or through the request itself (post).

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

namespace olvex {

class SerialExecutor {
public:
    SerialExecutor();
    // Lets the running request finish; requests still queued are dropped (their futures
    // report a broken promise).
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // Queues a request; it must deliver its own result (and must not throw).
    void post(std::function<void()> request);

    // Queues a callable and returns a future of its result or its exception.
    template <typename F> auto submit(F&& function) -> std::future<std::invoke_result_t<std::decay_t<F>>> {
        using Result = std::invoke_result_t<std::decay_t<F>>;
        auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(function));
        auto future = task->get_future();
        post([task] { (*task)(); });
        return future;
    }

private:
    void run();

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace olvex
