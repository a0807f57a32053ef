#pragma once

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <memory>
#include <optional>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>
#include <type_traits>

#include "service/ManagerService.h"
#include "service/SerialExecutor.h"

namespace olvex {

// The window's one ManagerService and the serial executor that runs its requests on their own
// thread. Owned once by the root model and shared by every controller; `ask` is the only way
// from the main thread to the service.
class ServiceLink : public QObject {
    Q_OBJECT

public:
    // Thrown at an await when the link (and with it the whole model) was destroyed meanwhile: the
    // coroutine unwinds without touching anything of the model.
    struct Gone {};

    explicit ServiceLink(std::unique_ptr<ManagerService> service, QObject* parent = nullptr)
        : QObject(parent), m_service(service ? std::move(service) : std::make_unique<ManagerService>()) {}

    // Awaits one request of the service, run on its own thread. A failure is rethrown here.
    template <typename F> auto ask(F request) -> QCoro::Task<std::invoke_result_t<F&, ManagerService&>>;

private:
    // The executor is declared after the service and so stops first: no request outlives the
    // service, and none runs once the model is being torn down.
    std::unique_ptr<ManagerService> m_service;
    SerialExecutor m_executor;
};

template <typename F> auto ServiceLink::ask(F request) -> QCoro::Task<std::invoke_result_t<F&, ManagerService&>> {
    using Result = std::invoke_result_t<F&, ManagerService&>;
    // The promise is finished however the request ends, even when the executor drops it at
    // shutdown, so an await never waits on a future that cannot finish.
    struct Pending {
        QPromise<Result> promise;
        bool settled = false;
        ~Pending() {
            if (!settled) {
                promise.setException(std::make_exception_ptr(Gone{}));
                promise.finish();
            }
        }
    };
    auto pending = std::make_shared<Pending>();
    QFuture<Result> future = pending->promise.future();
    pending->promise.start();
    ManagerService* service = m_service.get();
    m_executor.post([pending, service, request = std::move(request)]() mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                request(*service);
            } else {
                pending->promise.addResult(request(*service));
            }
        } catch (...) {
            pending->promise.setException(std::current_exception());
        }
        pending->settled = true;
        pending->promise.finish();
    });
    QPointer<ServiceLink> self(this);
    if constexpr (std::is_void_v<Result>) {
        std::exception_ptr failure;
        try {
            co_await future;
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            throw Gone{};
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
    } else {
        std::optional<Result> result;
        std::exception_ptr failure;
        try {
            result.emplace(co_await future);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            throw Gone{};
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
        co_return std::move(*result);
    }
}

} // namespace olvex
