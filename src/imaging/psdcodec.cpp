#include "codecs.h"
#include "psdreader.h"

#include <QFile>

namespace kivo {

namespace {

// Maps the file rather than reading it: the reader only touches the pages it needs, and a
// document far larger than what is decoded costs no memory.
template <typename Read> auto withFileBytes(const FilePath& path, Read read) -> decltype(read({})) {
    QFile file(displayPath(path));
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return std::nullopt;
    const uchar* bytes = file.map(0, file.size());
    if (!bytes)
        return std::nullopt;
    return read(QByteArrayView(bytes, file.size()));
}

} // namespace

std::optional<DecodedPixels> decodePsd(const FilePath& path) {
    return withFileBytes(path, [](QByteArrayView data) { return readPsd(data); });
}

std::optional<PixelInfo> probePsd(const FilePath& path) {
    return withFileBytes(path, [](QByteArrayView data) { return readPsdInfo(data); });
}

} // namespace kivo
