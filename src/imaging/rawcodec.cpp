#include "codecs.h"

namespace kivo {

std::optional<DecodedPixels> decodeRaw(const FilePath&, int) {
    return std::nullopt;
}

std::optional<PixelInfo> probeRaw(const FilePath&) {
    return std::nullopt;
}

} // namespace kivo
