#pragma once

// Ctrl-C as a request to cancel. The signal handler only writes one byte to a pipe (the one
// thing it can do safely); a watcher thread reads it and acts:
// - while an operation is attached, it cancels it: the service stops at its next check and
//   rolls back, or, past `committing`, finishes;
// - before the command has begun any change, it ends the process at once with the
//   cancellation message and status 130: only reading was under way;
// - otherwise it only records the interruption (see interrupted()), and the command finishes
//   the change it started.

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
    // From now on Ctrl-C never ends the process at once. Called before the first request that
    // may change anything, so that no change is cut off half-way.
    void beginChanges();
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
    bool m_changing = false;
    std::thread m_thread;
};

} // namespace olvex::cli
