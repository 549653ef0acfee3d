// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/tasks/handoff.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QPointer>
#include <QThreadPool>
#include <functional>
#include <optional>
#include <utility>

namespace kivo {

// Lets go of `held` (a large picture, or what holds one) on `pool`, ahead of queued decodes:
// handing back a large picture's memory unmaps tens of thousands of pages, several milliseconds
// for a 24-megapixel one, which the GUI thread should not spend.
template <class T> void releaseOn(QThreadPool& pool, T held) {
    constexpr int aheadOfDecodes = 1;
    startOnPool(
        pool, [held = std::move(held)]() mutable { held = T(); }, aheadOfDecodes);
}

// The result of background work one GUI object waits for. It is delivered through a watcher the
// object owns (its child), on the object's thread: when the object goes, or stops waiting, the
// watcher goes too, so a late result has nowhere to land. A continuation bound to the object
// would not do: it checks the object on the worker and posts to it afterwards, and a window
// closed in between is then touched after it is gone.
//
// A result that arrived but was not taken is let go on `releasePool`, as it may be a large
// picture.
template <class T> class PendingResult {
public:
    PendingResult(QObject* owner, QThreadPool* releasePool)
        : owner_(owner)
        , releasePool_(releasePool) {}
    ~PendingResult() { drop(); }
    PendingResult(const PendingResult&) = delete;
    PendingResult& operator=(const PendingResult&) = delete;

    // Waits for `future` instead of whatever was awaited; `arrived` gets its result. A task that
    // never runs (cancelled, or dropped by its pool) delivers nothing.
    void wait(QFuture<T> future, std::function<void(T)> arrived) {
        drop();
        auto* watcher = new QFutureWatcher<T>(owner_);
        watcher_ = watcher;
        QObject::connect(watcher, &QFutureWatcherBase::finished, owner_,
                         [this, watcher, arrived = std::move(arrived)] {
                             if (watcher_ == watcher)
                                 watcher_ = nullptr;
                             watcher->deleteLater();
                             QFuture<T> done = watcher->future();
                             if (done.isValid() && done.resultCount() > 0)
                                 arrived(done.takeResult());
                         });
        watcher->setFuture(std::move(future));
    }

    bool isWaiting() const { return !watcher_.isNull(); }

    // Stops waiting and hands over the work itself, for another object to wait for.
    std::optional<QFuture<T>> takeFuture() {
        if (!watcher_)
            return std::nullopt;
        QFuture<T> future = watcher_->future();
        drop();
        return future;
    }

    // Stops waiting: the result, when it comes, is let go where it was made.
    void drop() {
        QFutureWatcher<T>* watcher = std::exchange(watcher_, nullptr);
        if (!watcher)
            return;
        QFuture<T> future = watcher->future();
        delete watcher;
        if (releasePool_)
            releaseOn(*releasePool_, std::move(future));
    }

private:
    QObject* owner_;
    QThreadPool* releasePool_;
    QPointer<QFutureWatcher<T>> watcher_;
};

} // namespace kivo
