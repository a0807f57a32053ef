#include "fs/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

namespace olvex {

// Deleting many small files is mostly metadata writes and CPU in the file system: both are
// asked to yield to the game and to whatever the player does next, but not so far that they
// stop: the next operation and the command line wait for the deletion to end, and a thread
// cannot raise its priority again once someone waits. So the I/O class stays "best effort" (at
// its lowest level) rather than "idle", which a busy disk could starve for good, and the CPU
// niceness is 10 (about a tenth of a busy core's share), not 19 (about a seventieth).
void lowerThreadPriority() {
#ifdef __linux__
    // On Linux both calls take a thread id and change that one thread only.
    const pid_t thread = ::gettid();
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), 10);
#ifdef SYS_ioprio_set
    constexpr int kWhoProcess = 1; // IOPRIO_WHO_PROCESS
    constexpr int kBestEffort = 2; // IOPRIO_CLASS_BE
    constexpr int kClassShift = 13;
    constexpr int kLowest = 7;
    (void)::syscall(SYS_ioprio_set, kWhoProcess, thread, (kBestEffort << kClassShift) | kLowest);
#endif
#elif defined(__APPLE__)
    // Lowers this thread's CPU and I/O priority together.
    (void)::setpriority(PRIO_DARWIN_THREAD, 0, PRIO_DARWIN_BG);
#endif
}

} // namespace olvex
