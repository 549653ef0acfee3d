#include "codecs.h"

namespace kivo {

std::optional<DecodedPixels> decodePsd(const FilePath&) {
    return std::nullopt;
}

std::optional<PixelInfo> probePsd(const FilePath&) {
    return std::nullopt;
}

} // namespace kivo
