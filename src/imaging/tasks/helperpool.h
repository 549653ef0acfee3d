// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QThreadPool;

namespace kivo {

// The threads the imaging library lends to a decode that can use more than the one it runs on
// (libjxl's parallel runner; a PNG's rows unfiltered while the next ones inflate). Shared by every
// decode in the process and sized to the machine less one core, since each decode's own thread
// works too. Work put here must never be waited for without the waiting thread being able to do
// it itself: the helpers may all be busy.
QThreadPool& decodeHelperPool();

} // namespace kivo
