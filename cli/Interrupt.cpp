#include "Interrupt.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <unistd.h>

#include "base/OperationControl.h"
#include "service/Outcomes.h"

namespace olvex::cli {

namespace {

// The handler's only state: where to write. Set before the handler is installed.
volatile sig_atomic_t gSignalDescriptor = -1;

void onSignal(int) {
    const int saved = errno;
    const char byte = 'i';
    if (gSignalDescriptor >= 0) {
        [[maybe_unused]] ssize_t ignored = ::write(gSignalDescriptor, &byte, 1);
    }
    errno = saved;
}

void makePipe(int descriptors[2]) {
    if (::pipe2(descriptors, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
}

} // namespace

InterruptWatcher::InterruptWatcher() {
    makePipe(m_signal);
    makePipe(m_notify);
    // The handler must never block: a full pipe already says "interrupted".
    ::fcntl(m_signal[1], F_SETFL, O_NONBLOCK);
    gSignalDescriptor = m_signal[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    m_thread = std::thread([this] { watch(); });
}

InterruptWatcher::~InterruptWatcher() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    gSignalDescriptor = -1;
    const char stop = 'q';
    [[maybe_unused]] ssize_t ignored = ::write(m_signal[1], &stop, 1);
    m_thread.join();
    for (int descriptor : {m_signal[0], m_signal[1], m_notify[0], m_notify[1]}) {
        ::close(descriptor);
    }
}

void InterruptWatcher::attach(OperationControl* control) {
    std::lock_guard guard(m_lock);
    m_control = control;
    if (m_interrupted.load() && m_control != nullptr) {
        m_control->cancel();
    }
}

void InterruptWatcher::detach() {
    std::lock_guard guard(m_lock);
    m_control = nullptr;
}

void InterruptWatcher::beginChanges() {
    std::lock_guard guard(m_lock);
    m_changing = true;
}

void InterruptWatcher::watch() {
    for (;;) {
        char byte = 0;
        ssize_t n = ::read(m_signal[0], &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || byte == 'q') {
            return;
        }
        std::lock_guard guard(m_lock);
        if (!m_interrupted.exchange(true)) {
            const char note = 'i';
            [[maybe_unused]] ssize_t ignored = ::write(m_notify[1], &note, 1);
        }
        if (m_control != nullptr) {
            m_control->cancel();
        } else if (!m_changing) {
            // Nothing has been changed and nothing needs to be undone: stop without waiting for
            // the answer of a read that is no longer wanted.
            // Built at compile time: a signal handler may not allocate.
            static constexpr auto message = [] {
                constexpr std::string_view text = outcome::kCancelled;
                std::array<char, text.size() + 2> line{};
                line.front() = '\n';
                std::copy(text.begin(), text.end(), line.begin() + 1);
                line.back() = '\n';
                return line;
            }();
            [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, message.data(), message.size());
            std::_Exit(130);
        }
    }
}

} // namespace olvex::cli
