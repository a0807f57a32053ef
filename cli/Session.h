#pragma once

// The command line's one service: every request goes to a single ManagerService through a
// single SerialExecutor, as the window's do, and the calling thread waits for the answer.

#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <optional>
#include <utility>

#include "Interrupt.h"
#include "Output.h"
#include "base/Text.h"
#include "service/ManagerService.h"
#include "service/Outcomes.h"
#include "service/SerialExecutor.h"

namespace olvex::cli {

class Session {
public:
    explicit Session(InterruptWatcher& interrupts) : m_interrupts(interrupts) {}
    ~Session() { m_service.waitForDeletions(); }

    // After the result: waits for the deletion of what the last operation replaced, and says
    // what of it could not be deleted. Ctrl-C ends the wait at once (the rest is a leftover that
    // a later operation deletes): the process ends here with `status`, saying so.
    int finish(int status) {
        if (!m_service.waitForDeletions(kDeletionNotice)) {
            std::cerr << "正在后台删除旧文件，请稍候（按 Ctrl-C 可不再等待）…\n";
            while (!m_service.waitForDeletions(kPoll)) {
                if (m_interrupts.interrupted()) {
                    std::cerr << outcome::kDeletionLeft << std::endl;
                    std::cout.flush();
                    // Not a return: the service would wait for its deleter on the way out.
                    std::_Exit(status);
                }
            }
        }
        const std::vector<Path> kept = m_service.failedDeletions();
        if (!kept.empty()) {
            std::cerr << outcome::kOldFilesKept << '\n';
            for (const auto& folder : kept) {
                std::cerr << "  " << text::visible(folder.native()) << '\n';
            }
        }
        return status;
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A request that only reads (Ctrl-C before any change ends the process at once).
    template <typename F> auto read(F&& body) {
        return m_executor.submit([this, body = std::forward<F>(body)]() mutable { return body(m_service); }).get();
    }

    // A request that cannot be cancelled: it always runs to its end, Ctrl-C or not.
    template <typename F> auto change(F&& body) {
        m_interrupts.beginChanges();
        auto future = m_executor.submit([this, body = std::forward<F>(body)]() mutable { return body(m_service); });
        return future.get();
    }

    // A cancellable operation: the body gets a fresh OperationControl whose stages and copy
    // progress show on standard error and which Ctrl-C cancels until `committing`.
    template <typename F> auto operation(F&& body) {
        m_interrupts.beginChanges();
        StageDisplay display;
        // An installation goes on where its preview ended ("正在校验"): a stage is shown once
        // however the command's operations share it out.
        OperationControl control([this, &display](OperationStage stage) {
            if (stage != m_lastStage) {
                m_lastStage = stage;
                display.stage(stage);
            }
        });
        struct Attachment {
            InterruptWatcher& interrupts;
            ~Attachment() { interrupts.detach(); }
        } attachment{m_interrupts};
        m_interrupts.attach(&control);
        auto future = m_executor.submit(
            [this, &control, body = std::forward<F>(body)]() mutable { return body(m_service, &control); });
        while (future.wait_for(kPoll) != std::future_status::ready) {
            display.progress(control.progress());
        }
        display.finish();
        return future.get();
    }

private:
    static constexpr std::chrono::milliseconds kPoll{200};
    static constexpr std::chrono::milliseconds kDeletionNotice{1000};

    InterruptWatcher& m_interrupts;
    std::optional<OperationStage> m_lastStage; // written on the service's thread, one operation at a time
    // Declared before the executor so that the executor's worker stops first.
    ManagerService m_service;
    SerialExecutor m_executor;
};

} // namespace olvex::cli
