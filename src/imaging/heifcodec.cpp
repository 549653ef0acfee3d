#include "codecs.h"

namespace kivo {

std::optional<DecodedPixels> decodeHeif(const FilePath&, int) {
    return std::nullopt;
}

std::optional<PixelInfo> probeHeif(const FilePath&) {
    return std::nullopt;
}

} // namespace kivo
