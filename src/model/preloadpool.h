#pragma once

class QThreadPool;

namespace kivo {

// The threads that decode the neighbours of the current image ahead of time. They are not Qt's
// global pool: QImage's smooth scaling and format conversions split their work onto the global
// pool and wait for it on the calling thread, so a decode queued there would hold up the
// canvas's first drawing of the next picture until the decode finished.
QThreadPool& preloadThreadPool();

} // namespace kivo
