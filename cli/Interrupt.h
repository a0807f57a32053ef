#pragma once

// Ctrl-C as a request to cancel. The signal handler only writes one byte to a pipe (the one
// thing it can do safely); a watcher thread reads it and cancels the operation attached now,
// so the service stops at its next check and rolls back, or, past `committing`, finishes.

#include <atomic>
#include <mutex>
#include <thread>

namespace olvex {
class OperationControl;
}

namespace olvex::cli {

class InterruptWatcher {
public:
    // Installs the SIGINT handler (without SA_RESTART, so a blocked read returns) and starts
    // the watcher. Only one may exist at a time.
    InterruptWatcher();
    // Stops the watcher and restores the default handler.
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Makes `control` the one to cancel; cancels it at once when Ctrl-C came already.
    void attach(OperationControl* control);
    void detach();
    // Whether Ctrl-C was pressed since start.
    bool interrupted() const { return m_interrupted.load(); }
    // A descriptor that becomes readable once Ctrl-C was pressed, for poll() in prompts.
    int notificationDescriptor() const { return m_notify[0]; }

private:
    void watch();

    int m_signal[2] = {-1, -1};
    int m_notify[2] = {-1, -1};
    std::atomic<bool> m_interrupted{false};
    std::mutex m_lock;
    OperationControl* m_control = nullptr;
    std::thread m_thread;
};

} // namespace olvex::cli
