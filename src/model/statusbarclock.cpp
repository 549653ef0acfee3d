#include "statusbarclock.h"

#include <QTimer>
#include <chrono>
#include <cmath>

namespace kivo {

namespace {

class SystemStatusBarClock final : public StatusBarClock {
public:
    double now() const override {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }

    std::unique_ptr<QObject> wakeAfter(double seconds, std::function<void()> wake) override {
        // The handle is only the timer's context: destroying it cancels the wake-up, and the
        // callback may destroy it safely because it is not the object that fires.
        auto handle = std::make_unique<QObject>();
        QTimer::singleShot(static_cast<int>(std::ceil(seconds * 1000.0)), Qt::PreciseTimer,
                           handle.get(), std::move(wake));
        return handle;
    }
};

} // namespace

StatusBarClock& StatusBarClock::system() {
    static SystemStatusBarClock clock;
    return clock;
}

} // namespace kivo
