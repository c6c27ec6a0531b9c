#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>

// Drives a coroutine to completion from a synchronous test function, with a
// time-out so that a hung request fails the test instead of hanging CTest.
namespace AsyncTest {

struct TimedOut : std::runtime_error {
    TimedOut()
        : std::runtime_error("coroutine did not finish in time") {}
};

namespace detail {
template <typename T> struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};
template <> struct Outcome<void> {
    std::exception_ptr error;
    bool done = false;
};

// A free function (not a capturing lambda) so that its parameters live in
// the coroutine frame for as long as it runs.
template <typename T>
QCoro::Task<> capture(QCoro::Task<T> task, Outcome<T> *outcome, QEventLoop *loop) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            outcome->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    loop->quit();
}
} // namespace detail

template <typename T>
T waitFor(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    QEventLoop loop;
    detail::Outcome<T> outcome;
    auto runner = detail::capture(std::move(task), &outcome, &loop);
    if (!outcome.done) {
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!outcome.done)
        throw TimedOut();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome.value);
}

} // namespace AsyncTest
