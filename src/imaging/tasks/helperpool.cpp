// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/tasks/helperpool.h"

#include <QThread>
#include <QThreadPool>
#include <algorithm>

namespace kivo {

QThreadPool& decodeHelperPool() {
    struct HelperPool : QThreadPool {
        HelperPool() { setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1)); }
    };
    static HelperPool pool;
    return pool;
}

} // namespace kivo
