// SPDX-License-Identifier: GPL-3.0-or-later
#include "statusbar.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace kivo {

namespace {

constexpr double kHideDelay = 2.0;      // seconds after the last activity
constexpr double kShortestSleep = 0.05; // so the last stretch is not spent in tiny sleeps

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

std::unique_ptr<StatusBarClock> StatusBarClock::makeSystem() {
    return std::make_unique<SystemStatusBarClock>();
}

StatusBarAutoHide::StatusBarAutoHide(StatusBarClock* clock, QObject* parent)
    : QObject(parent)
    , systemClock_(clock ? nullptr : StatusBarClock::makeSystem())
    , clock_(clock ? *clock : *systemClock_) {
    // Removed from the application again when this object is destroyed.
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

// Destroying the pending wake-up cancels it, so no timer fires into a destroyed window's model.
StatusBarAutoHide::~StatusBarAutoHide() = default;

bool StatusBarAutoHide::eventFilter(QObject* watched, QEvent* event) {
    // Every mouse movement reaches the top-level QWindow first, whether or not the widget under
    // the pointer tracks the mouse; counting only those counts each movement once.
    if (event->type() == QEvent::MouseMove && watched->isWindowType())
        Q_EMIT activity();
    return false;
}

void StatusBarAutoHide::restart() {
    setDeadline(clock_.now() + kHideDelay);
    if (!task_) {
        setTask(std::make_unique<QObject>());
        step();
    }
}

// One turn of the waiting task: sleep until the deadline (re-read on waking, so activity in the
// meantime just pushes it later), then hide.
void StatusBarAutoHide::step() {
    const double now = clock_.now();
    if (now < deadline_) {
        const double sleep = std::max(deadline_ - now, kShortestSleep);
        wake_ = clock_.wakeAfter(sleep, [this] { step(); });
        return;
    }
    wake_.reset();
    setTask(nullptr);
    Q_EMIT timeToHide();
}

void StatusBarAutoHide::setDeadline(double seconds) {
    if (deadline_ == seconds)
        return;
    deadline_ = seconds;
    Q_EMIT deadlineChanged();
}

void StatusBarAutoHide::setTask(std::unique_ptr<QObject> task) {
    if (task == task_)
        return;
    task_ = std::move(task);
    Q_EMIT waitingChanged();
}

} // namespace kivo
