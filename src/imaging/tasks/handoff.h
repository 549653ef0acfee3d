// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Work handed from the GUI thread to a worker pool. Every task of the application starts through
// here, for two reasons:
//
// - A task queued for a window that has since closed is cancelled through its future and never
//   runs its work, as with QtConcurrent::run.
// - ThreadSanitizer sees only the locks of code built with it. Debian's Qt is not, so it cannot
//   see that QThreadPool gives a task to a worker only after the GUI thread finished writing it,
//   and would report every capture a worker reads. The task marks that hand-over itself, on the
//   address of the task as the pool stores it; in any other build the marks are no code at all.
//   Results come back through QFuture's watcher events, whose wake-ups it does see.

#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <type_traits>

#if defined(__SANITIZE_THREAD__)
#define KIVO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIVO_THREAD_SANITIZER 1
#endif
#endif

#ifdef KIVO_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace kivo {

namespace detail {

inline void markHandedOver([[maybe_unused]] const void* token) {
#ifdef KIVO_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(token));
#endif
}

inline void markTakenOver([[maybe_unused]] const void* token) {
#ifdef KIVO_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(token));
#endif
}

// A task as the pool keeps it. Its copy constructor is not trivial, so std::function keeps it on
// the heap and its address stays the same from the hand-over to the run.
template <typename Work> struct PoolTask {
    explicit PoolTask(Work w)
        : work(std::move(w)) {}
    PoolTask(const PoolTask& other)
        : work(other.work) {}
    PoolTask(PoolTask&& other) noexcept
        : work(std::move(other.work)) {}
    PoolTask& operator=(const PoolTask&) = delete;
    void operator()() {
        markTakenOver(this);
        work();
    }
    Work work;
};

} // namespace detail

// Runs `work` on `pool` at `priority` (higher first among the queued tasks).
template <typename Work> void startOnPool(QThreadPool& pool, Work work, int priority = 0) {
    std::function<void()> task = detail::PoolTask<Work>(std::move(work));
    detail::markHandedOver(task.target<detail::PoolTask<Work>>());
    pool.start(std::move(task), priority);
}

// Runs `work` on `pool` and gives its result through the future. Cancelling the future before
// the task starts skips the work; the future then finishes with no result.
template <typename Work> auto runOnPool(QThreadPool& pool, Work work, int priority = 0) {
    using Result = std::invoke_result_t<Work&>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    startOnPool(
        pool,
        [promise, work = std::move(work)]() mutable {
            if (!promise->isCanceled()) {
                if constexpr (std::is_void_v<Result>)
                    work();
                else
                    promise->addResult(work());
            }
            promise->finish();
        },
        priority);
    return future;
}

} // namespace kivo
