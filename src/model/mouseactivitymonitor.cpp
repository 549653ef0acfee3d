#include "mouseactivitymonitor.h"

#include "appstate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>
#include <algorithm>

namespace kivo {

MouseActivityMonitor* MouseActivityMonitor::instance() {
    // Lives as long as the process; the application only holds it as an event filter.
    static MouseActivityMonitor monitor;
    return &monitor;
}

void MouseActivityMonitor::add(AppState* state) {
    MouseActivityMonitor* monitor = instance();
    monitor->states_.push_back(state);
    if (!monitor->installed_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(monitor);
        monitor->installed_ = true;
    }
}

void MouseActivityMonitor::remove(AppState* state) {
    auto& states = instance()->states_;
    states.erase(std::remove(states.begin(), states.end(), state), states.end());
}

bool MouseActivityMonitor::eventFilter(QObject* watched, QEvent* event) {
    // Every mouse movement reaches the top-level QWindow first, whether or not the widget under
    // the pointer tracks the mouse; counting only those counts each movement once.
    if (event->type() == QEvent::MouseMove && watched->isWindowType()) {
        // A state may close its window (and so remove itself) from inside the call.
        const std::vector<AppState*> states = states_;
        for (AppState* state : states)
            if (std::find(states_.begin(), states_.end(), state) != states_.end())
                state->showStatusBarTemporarily();
    }
    return false;
}

} // namespace kivo
