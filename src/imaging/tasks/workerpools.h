// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QThreadPool>

namespace kivo {

// The application's background threads, one pool per kind of work so that one kind never waits
// behind another (and none of them on Qt's global pool, which smooth scaling uses while
// painting). The application owns one and hands it to whatever needs it; work on a pool thread
// never starts threads of its own.
struct WorkerPools {
    WorkerPools() {
        animation.setMaxThreadCount(1); // frames decode in order
        histogram.setMaxThreadCount(1);
        metadata.setMaxThreadCount(1);
    }
    // Work still queued when the application quits is dropped rather than waited for: only what
    // already runs is finished.
    ~WorkerPools() {
        for (QThreadPool* pool : {&preload, &thumbnails, &histogram, &animation, &metadata, &tiles})
            pool->clear();
    }
    QThreadPool preload;    // current image, neighbours, full-resolution levels
    QThreadPool thumbnails; // the thumbnail cache
    QThreadPool histogram;  // histogram counts
    QThreadPool animation;  // animation frames ahead of the player
    QThreadPool metadata;   // the metadata panel's rows of the file shown
    QThreadPool tiles;      // tiles of pictures too large to hold whole, where the view looks
};

} // namespace kivo
