// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/jxlrunner.h"

#include "imaging/tasks/handoff.h"
#include "imaging/tasks/helperpool.h"

#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kivo {

namespace {

// One call's range. A helper that starts after the range is used up touches nothing but this
// (which it shares), since libjxl's state may be gone by then; every index it did take is
// finished before the call returns.
struct Range {
    std::atomic<uint32_t> next;
    uint32_t end;
    uint32_t count;
    std::atomic<uint32_t> finished{0};
    JxlParallelRunFunction func;
    void* opaque;
    std::mutex mutex;
    std::condition_variable allDone;

    Range(uint32_t start, uint32_t stop, JxlParallelRunFunction f, void* o)
        : next(start)
        , end(stop)
        , count(stop - start)
        , func(f)
        , opaque(o) {}

    void work(size_t threadId) {
        for (uint32_t i = next.fetch_add(1); i < end; i = next.fetch_add(1)) {
            func(opaque, i, threadId);
            if (finished.fetch_add(1) + 1 == count) {
                const std::lock_guard lock(mutex);
                allDone.notify_all();
            }
        }
    }
};

} // namespace

JxlParallelRetCode runJxlOnPool(void*, void* jpegxlOpaque, JxlParallelRunInit init,
                                JxlParallelRunFunction func, uint32_t startRange,
                                uint32_t endRange) {
    if (endRange < startRange)
        return JXL_PARALLEL_RET_RUNNER_ERROR;
    const uint32_t count = endRange - startRange;
    QThreadPool& pool = decodeHelperPool();
    const uint32_t helpers =
        std::min<uint32_t>(uint32_t(pool.maxThreadCount()), count > 0 ? count - 1 : 0);
    if (const JxlParallelRetCode status = init(jpegxlOpaque, helpers + 1); status != 0)
        return status;
    if (count == 0)
        return 0;
    auto range = std::make_shared<Range>(startRange, endRange, func, jpegxlOpaque);
    for (uint32_t id = 1; id <= helpers; ++id)
        startOnPool(pool, [range, id] { range->work(id); });
    range->work(0);
    std::unique_lock lock(range->mutex);
    range->allDone.wait(lock, [&] { return range->finished.load() == range->count; });
    return 0;
}

} // namespace kivo
