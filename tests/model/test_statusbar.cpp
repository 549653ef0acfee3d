// The status bar hides two seconds after the last activity, with one waiting task per window.
// A clock the test steps by hand makes every timing exact and instant.
#include "model/appstate.h"
#include "model/statusbarclock.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace kivo;

namespace {

class ManualClock final : public StatusBarClock {
public:
    double now() const override { return now_; }

    std::unique_ptr<QObject> wakeAfter(double seconds, std::function<void()> wake) override {
        auto handle = std::make_unique<QObject>();
        sleeps.push_back(seconds);
        pending_.push_back({now_ + seconds, QPointer<QObject>(handle.get()), std::move(wake)});
        return handle;
    }

    // Moves time forward, running every wake-up that falls due, in order.
    void advance(double seconds) {
        const double until = now_ + seconds;
        for (;;) {
            auto next = std::min_element(pending_.begin(), pending_.end(),
                                         [](const Wake& a, const Wake& b) { return a.at < b.at; });
            if (next == pending_.end() || next->at > until)
                break;
            Wake wake = std::move(*next);
            pending_.erase(next);
            now_ = wake.at;
            if (wake.handle) // a destroyed handle cancelled its wake-up
                wake.callback();
        }
        now_ = until;
    }

    std::vector<double> sleeps;

private:
    struct Wake {
        double at;
        QPointer<QObject> handle;
        std::function<void()> callback;
    };
    double now_ = 1000.0;
    std::vector<Wake> pending_;
};

} // namespace

class StatusBarTest : public QObject {
    Q_OBJECT

    test::PrivateSettings settings_;
    ManualClock clock_;
    std::unique_ptr<AppState> state_;

private Q_SLOTS:
    void init() {
        clock_ = ManualClock();
        state_ = std::make_unique<AppState>(AppStateContext{settings_.get(), &clock_});
    }

    void shownUntilTheFirstActivityThenHidesTwoSecondsLater() {
        clock_.advance(60);
        QVERIFY(state_->showStatusBar()); // no activity yet, no countdown

        state_->showStatusBarTemporarily();
        QVERIFY(state_->hasHideStatusBarTask());
        clock_.advance(1.99);
        QVERIFY(state_->showStatusBar());
        clock_.advance(0.01);
        QVERIFY(!state_->showStatusBar());
        QVERIFY(!state_->hasHideStatusBarTask());
    }

    void steadyActivityKeepsItVisible() {
        for (int second = 0; second < 30; ++second) {
            state_->showStatusBarTemporarily();
            clock_.advance(1.0);
            QVERIFY(state_->showStatusBar());
        }
        clock_.advance(0.999);
        QVERIFY(state_->showStatusBar());
        clock_.advance(0.05);
        QVERIFY(!state_->showStatusBar());
    }

    void oneTaskWhileCountingAndANewOneOnceHidden() {
        QSignalSpy task(state_.get(), &AppState::hideStatusBarTaskChanged);
        state_->showStatusBarTemporarily();
        state_->showStatusBarTemporarily();
        QCOMPARE(task.count(), 1);
        QCOMPARE(clock_.sleeps.size(), size_t(1));
        clock_.advance(3);
        QCOMPARE(task.count(), 2); // ended once
        QVERIFY(!state_->showStatusBar());

        state_->showStatusBarTemporarily();
        QVERIFY(state_->showStatusBar());
        QVERIFY(state_->hasHideStatusBarTask());
        clock_.advance(2);
        QVERIFY(!state_->showStatusBar());
    }

    void sleepsAtLeastFiftyMilliseconds() {
        state_->showStatusBarTemporarily();
        QCOMPARE(clock_.sleeps.back(), 2.0);
        clock_.advance(0.01);
        state_->showStatusBarTemporarily(); // pushes the deadline 10 ms past the first wake-up
        clock_.advance(1.99);
        QCOMPARE(clock_.sleeps.size(), size_t(2));
        QCOMPARE(clock_.sleeps.back(), 0.05);
        clock_.advance(0.04);
        QVERIFY(state_->showStatusBar());
        clock_.advance(0.02);
        QVERIFY(!state_->showStatusBar());
    }

    void closingTheWindowCancelsTheWakeUp() {
        state_->showStatusBarTemporarily();
        state_.reset();
        clock_.advance(5); // must not touch the destroyed state
    }

    void systemClockWakesOnTheGuiThread() {
        StatusBarClock& clock = StatusBarClock::system();
        const double start = clock.now();
        bool woke = false;
        auto handle = clock.wakeAfter(0.02, [&] { woke = true; });
        QTRY_VERIFY_WITH_TIMEOUT(woke, 2000);
        QVERIFY(clock.now() - start >= 0.02);
        bool cancelled = true;
        clock.wakeAfter(0.01, [&] { cancelled = false; }).reset();
        QTest::qWait(50);
        QVERIFY(cancelled);
    }
};

QTEST_MAIN(StatusBarTest)
#include "test_statusbar.moc"
