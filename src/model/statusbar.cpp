// The status bar's auto-hide: one deadline and at most one waiting task per window.
#include "appstate.h"
#include "statusbarclock.h"

#include <algorithm>

namespace kivo {

namespace {
constexpr double kHideDelay = 2.0;      // seconds after the last activity
constexpr double kShortestSleep = 0.05; // so the last stretch is not spent in tiny sleeps
} // namespace

void AppState::showStatusBarTemporarily() {
    // The show/hide animation belongs to the view, which animates on the field's change.
    setShowStatusBar(true);
    setHideStatusBarDeadline(clock().now() + kHideDelay);
    if (!hideStatusBarTask_) {
        setHideStatusBarTask(std::make_unique<QObject>());
        hideStatusBarTaskStep();
    }
}

// One turn of the waiting task: sleep until the deadline (re-read on waking, so activity in the
// meantime just pushes it later), then hide.
void AppState::hideStatusBarTaskStep() {
    const double now = clock().now();
    if (now < hideStatusBarDeadline_) {
        const double sleep = std::max(hideStatusBarDeadline_ - now, kShortestSleep);
        hideStatusBarWake_ = clock().wakeAfter(sleep, [this] { hideStatusBarTaskStep(); });
        return;
    }
    hideStatusBarWake_.reset();
    setHideStatusBarTask(nullptr);
    setShowStatusBar(false);
}

} // namespace kivo
