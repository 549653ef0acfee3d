// SPDX-License-Identifier: GPL-3.0-or-later
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
    static std::unique_ptr<StatusBarClock> makeSystem();
};

// The status bar's auto-hide for one window: one deadline, pushed two seconds past the latest
// activity, and at most one waiting task that sleeps until it, re-reading it on every wake-up,
// so a stream of mouse movements costs a time stamp each. Every mouse movement in any window of
// the application counts as activity (the filter watches the whole application and swallows
// nothing), so moving over one window shows the bar in all of them.
class StatusBarAutoHide : public QObject {
    Q_OBJECT

public:
    // Null `clock`: the system clock.
    explicit StatusBarAutoHide(StatusBarClock* clock, QObject* parent = nullptr);
    ~StatusBarAutoHide() override;

    // Pushes the deadline and starts the waiting task unless one is already waiting.
    void restart();
    bool isWaiting() const { return task_ != nullptr; }
    double deadline() const { return deadline_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    void activity(); // a mouse movement somewhere in the application
    void deadlineChanged();
    void waitingChanged();
    void timeToHide(); // the deadline passed with no new activity

private:
    void step();
    void setDeadline(double seconds);
    void setTask(std::unique_ptr<QObject> task);

    std::unique_ptr<StatusBarClock> systemClock_; // when none was handed in
    StatusBarClock& clock_;
    std::unique_ptr<QObject> task_; // present while the bar waits to hide
    std::unique_ptr<QObject> wake_; // the task's pending wake-up
    double deadline_ = -1e300;      // seconds on the clock; the distant past
};

} // namespace kivo
