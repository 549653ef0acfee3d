// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>

namespace kivo {

// Lets whoever asked for a decode stop it part way: work run on a pool marks the thread with its
// request's flag for as long as it runs, and the readers that take long over a file (Qt's PNG and
// TIFF readers, which nothing else interrupts) stop at their next read once the flag is set. A
// decode stopped so fails like an unreadable file; its result is not wanted anyway.
class CancelScope {
public:
    explicit CancelScope(const std::atomic_bool& cancelled)
        : previous_(current_) {
        current_ = &cancelled;
    }
    ~CancelScope() { current_ = previous_; }
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

    // Whether the work running on this thread is no longer wanted.
    static bool requested() { return current_ && current_->load(std::memory_order_relaxed); }

private:
    const std::atomic_bool* previous_;
    static inline thread_local const std::atomic_bool* current_ = nullptr;
};

} // namespace kivo
