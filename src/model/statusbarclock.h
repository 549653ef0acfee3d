#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace kivo {

// The time source of the status bar's auto-hide: the current time, and a wake-up on the GUI
// thread after a delay. Injected so that tests can step time exactly instead of sleeping.
class StatusBarClock {
public:
    virtual ~StatusBarClock() = default;

    // Seconds since an arbitrary, fixed origin; never goes backwards.
    virtual double now() const = 0;

    // Calls `wake` once on the GUI thread after `seconds`. Destroying the returned handle
    // before then cancels the wake-up.
    virtual std::unique_ptr<QObject> wakeAfter(double seconds, std::function<void()> wake) = 0;

    // The clock of the running application: a monotonic clock and single-shot timers.
    static StatusBarClock& system();
};

} // namespace kivo
