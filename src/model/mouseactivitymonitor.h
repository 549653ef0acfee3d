#pragma once

#include <QObject>
#include <vector>

namespace kivo {

class AppState;

// The application-wide mouse-moved monitor: one event filter on the application that tells every
// living AppState about every mouse movement in any window, so that moving over one window shows
// the status bar in all of them. It only watches; no event is swallowed.
class MouseActivityMonitor final : public QObject {
    Q_OBJECT

public:
    static void add(AppState* state);
    static void remove(AppState* state);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MouseActivityMonitor() = default;
    static MouseActivityMonitor* instance();

    std::vector<AppState*> states_;
    bool installed_ = false;
};

} // namespace kivo
