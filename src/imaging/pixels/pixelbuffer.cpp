// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/pixelbuffer.h"

#include <QImageReader>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace kivo {

namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr size_t kHugePage = 2 * 1024 * 1024;
// Below this the allocator's own pools serve better than a mapping of its own.
constexpr size_t kMappedThreshold = 4 * kHugePage;

struct Mapping {
    void* address;
    size_t length;
};

// The most recently released large buffer, kept for the next decode of a similar size. The
// viewer steps through photos from one camera, so the picture it lets go of has the size of the
// one it decodes next, and a buffer whose pages are already there costs nothing to fill.
// MADV_FREE lets the kernel take those pages back under memory pressure without asking; one
// slot bounds what is kept to a single picture.
class SpareMapping {
public:
    void put(Mapping mapping) {
        std::lock_guard lock(mutex_);
        if (spare_.address)
            munmap(spare_.address, spare_.length);
        madvise(mapping.address, mapping.length, MADV_FREE);
        spare_ = mapping;
    }

    // A spare at least `length` long, but not so much longer that it wastes memory.
    std::optional<Mapping> take(size_t length) {
        std::lock_guard lock(mutex_);
        if (!spare_.address || spare_.length < length || spare_.length - length > length / 4)
            return std::nullopt;
        return std::exchange(spare_, Mapping{nullptr, 0});
    }

private:
    std::mutex mutex_;
    Mapping spare_{nullptr, 0};
};

// Never destroyed: a picture may be released by another static's destructor at exit.
SpareMapping& spareMapping() {
    static SpareMapping* spare = new SpareMapping;
    return *spare;
}

void releaseMapping(void* info) {
    std::unique_ptr<Mapping> mapping(static_cast<Mapping*>(info));
    spareMapping().put(*mapping);
}

// Maps `length` bytes starting on a huge-page boundary: the kernel only backs whole aligned
// 2 MiB ranges with huge pages, so an unaligned start would waste the first and last ones.
void* mapAligned(size_t length) {
    const size_t padded = length + kHugePage;
    void* raw = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const uintptr_t tail = aligned + length;
    const uintptr_t end = start + padded;
    if (end > tail)
        munmap(reinterpret_cast<void*>(tail), end - tail);
    void* address = reinterpret_cast<void*>(aligned);
    madvise(address, length, MADV_HUGEPAGE);
    return address;
}

} // namespace

std::atomic<int64_t> budgetOverride{0};

int64_t decodeBudgetBytes() {
    if (const int64_t chosen = budgetOverride.load(std::memory_order_relaxed))
        return chosen;
    static const int64_t budget = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        const int64_t physical = pages > 0 && pageSize > 0 ? int64_t{pages} * pageSize : 0;
        return std::clamp<int64_t>(physical / 4, 256 * kMiB, 4096 * kMiB);
    }();
    return budget;
}

bool fitsDecodeBudget(QSize size, int bytesPerPixel) {
    if (size.width() <= 0 || size.height() <= 0 || bytesPerPixel <= 0)
        return false;
    // Two sides near 2^31 and eight bytes a pixel overflow 64 bits: compare the pixel count
    // with the pixels the budget holds instead.
    const int64_t pixels = int64_t{size.width()} * size.height();
    return pixels <= decodeBudgetBytes() / bytesPerPixel;
}

void applyQtAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        QImageReader::setAllocationLimit(static_cast<int>(decodeBudgetBytes() / kMiB));
    });
}

void setDecodeBudgetBytes(int64_t bytes) {
    applyQtAllocationLimit();
    budgetOverride.store(bytes, std::memory_order_relaxed);
    QImageReader::setAllocationLimit(int(std::max<int64_t>(1, decodeBudgetBytes() / kMiB)));
}

QImage allocateImage(QSize size, QImage::Format format) {
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (depth <= 0 || !fitsDecodeBudget(size, (depth + 7) / 8))
        return {};
    // Qt wants rows aligned to 32 bits; 64-byte rows also keep SIMD loads within cache lines.
    const qsizetype rowBytes = ((qsizetype{size.width()} * depth + 7) / 8 + 63) & ~qsizetype{63};
    const size_t length = static_cast<size_t>(rowBytes) * static_cast<size_t>(size.height());
    if (length < kMappedThreshold)
        return QImage(size, format);
    const size_t mappedLength = (length + kHugePage - 1) & ~(kHugePage - 1);
    std::unique_ptr<Mapping> mapping;
    if (auto spare = spareMapping().take(mappedLength)) {
        mapping = std::make_unique<Mapping>(*spare);
    } else {
        void* address = mapAligned(mappedLength);
        if (!address)
            return {};
        mapping = std::make_unique<Mapping>(Mapping{address, mappedLength});
    }
    void* address = mapping->address;
    QImage image(static_cast<uchar*>(address), size.width(), size.height(), rowBytes, format,
                 releaseMapping, mapping.get());
    if (image.isNull()) {
        releaseMapping(mapping.release());
        return {};
    }
    mapping.release(); // owned by the image's cleanup from here on
    return image;
}

} // namespace kivo
