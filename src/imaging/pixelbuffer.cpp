#include "pixelbuffer.h"

#include <QImageReader>
#include <algorithm>
#include <memory>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

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

void releaseMapping(void* info) {
    std::unique_ptr<Mapping> mapping(static_cast<Mapping*>(info));
    munmap(mapping->address, mapping->length);
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

int64_t decodeBudgetBytes() {
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
    const int64_t bytes = int64_t{size.width()} * size.height() * bytesPerPixel;
    return bytes <= decodeBudgetBytes();
}

void applyQtAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        QImageReader::setAllocationLimit(static_cast<int>(decodeBudgetBytes() / kMiB));
    });
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
    void* address = mapAligned(mappedLength);
    if (!address)
        return {};
    auto mapping = std::make_unique<Mapping>(Mapping{address, mappedLength});
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
