// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>

namespace kivo {

// The most bytes one decoded bitmap may take, derived from physical memory: a quarter of it,
// but never less than 256 MiB nor more than 4 GiB. Anything larger is refused before a single
// pixel is allocated, so a forged header cannot exhaust memory.
int64_t decodeBudgetBytes();

// Replaces the budget (0 restores the one derived from memory), so that tests can check every
// decoder refuses a picture over it instead of allocating.
void setDecodeBudgetBytes(int64_t bytes);

// Whether a bitmap of `size` with `bytesPerPixel` fits the budget (false for empty sizes).
bool fitsDecodeBudget(QSize size, int bytesPerPixel);

// Sets Qt's image allocation limit from the budget. Qt 6 refuses anything over 128 MB by default,
// which would leave a 36 MP photo blank; every path that creates a QImageReader calls this first.
void applyQtAllocationLimit();

// An uninitialised bitmap for a decoder to fill. Large buffers come from their own anonymous
// mapping, aligned to and advised for transparent huge pages: faulting in a fresh 96 MB buffer
// 4 KiB at a time costs several times the JPEG decode that fills it, in 2 MiB pages it is almost
// free. When the last QImage sharing a mapping goes away, the mapping is kept as the one spare
// for the next bitmap of about the same size (the next photo of a folder), whose pages are then
// already in place; the kernel may reclaim a spare's pages whenever it needs memory.
// Returns a null QImage when the size is empty, over budget or cannot be allocated.
QImage allocateImage(QSize size, QImage::Format format);

} // namespace kivo
